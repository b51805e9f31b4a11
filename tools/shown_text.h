// Names and values as the bundle tool prints them: bytes with control
// characters and quotes escaped, or JSON strings.
#ifndef SATCHEL_SHOWN_TEXT_H
#define SATCHEL_SHOWN_TEXT_H

#include <string>

// Control characters (NUL too) as \xNN, quotes and backslashes with a
// backslash.
std::string Shown(const std::string &text);

// A quoted JSON string; bytes that are not well-formed UTF-8 become U+FFFD,
// one per byte.
std::string JsonString(const char *text);

#endif  // SATCHEL_SHOWN_TEXT_H
