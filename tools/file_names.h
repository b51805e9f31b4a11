// File-name rules of the bundle tool: what the launcher can write as it
// stands, and when two names are one file for Windows.  Names are UTF-8.
#ifndef SATCHEL_FILE_NAMES_H
#define SATCHEL_FILE_NAMES_H

#include <string>

// The payload library's plain Windows file-name rule (CheckPlainWindowsFileName)
// with its reason in words: true when `name` can be used unchanged as the last
// component of a Windows path, otherwise false with *reason saying why.
bool IsPlainWindowsFileName(const std::string &name, std::string *reason);

// True when the two UTF-8 names denote the same file on a file system that
// ignores case.
bool SameFileNameIgnoringCase(const std::string &a, const std::string &b);

#endif  // SATCHEL_FILE_NAMES_H
