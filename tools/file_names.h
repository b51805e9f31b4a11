// File-name rules of the bundle tool: what the launcher can write as it
// stands, and when two names are one file for Windows.  Names are UTF-8.
#ifndef SATCHEL_FILE_NAMES_H
#define SATCHEL_FILE_NAMES_H

#include <stddef.h>

#include <string>
#include <vector>

// The longest file name that Windows file systems store, in UTF-16 units.
#define WINDOWS_NAME_MAX_UNITS 255

// The payload library's plain Windows file-name rule (CheckPlainWindowsFileName)
// with its reason in words, and at most WINDOWS_NAME_MAX_UNITS units: true when
// `name` can be used unchanged as the last component of a Windows path and
// stored there, otherwise false with *reason saying why.
bool IsPlainWindowsFileName(const std::string &name, std::string *reason);

// True when `name` ends in `extension` (".msi", with its dot), ASCII letters
// compared ignoring case, as Windows matches a file's extension.
bool HasExtension(const std::string &name, const char *extension);

// True when the two UTF-8 names denote the same file on a file system that
// ignores case.
bool SameFileNameIgnoringCase(const std::string &a, const std::string &b);

// The first two of `names` (empty ones left out) that are one file where
// case is ignored: true with their places, false when they all differ.
bool FindCollidingNames(const std::vector<std::string> &names, size_t *first, size_t *second);

#endif  // SATCHEL_FILE_NAMES_H
