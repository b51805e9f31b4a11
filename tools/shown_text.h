// Names, values and messages as the bundle tool prints them: bytes with
// control characters and quotes escaped, JSON strings, and the formats of
// tool_messages.h filled in.
#ifndef SATCHEL_SHOWN_TEXT_H
#define SATCHEL_SHOWN_TEXT_H

#include <string>

// The compiler checks a format against its arguments as the C library that
// prints it reads formats (mingw's own where it replaces the system's).
#if defined(__MINGW_PRINTF_FORMAT)
#define TOOL_PRINTF_FORMAT(index, first) __attribute__((__format__(__MINGW_PRINTF_FORMAT, index, first)))
#elif defined(__GNUC__)
#define TOOL_PRINTF_FORMAT(index, first) __attribute__((__format__(__printf__, index, first)))
#else
#define TOOL_PRINTF_FORMAT(index, first)
#endif

// A message of tool_messages.h with its arguments filled in, as a string for
// an operation's *error.
std::string MessageText(const char *format, ...) TOOL_PRINTF_FORMAT(1, 2);

// Control characters (NUL too) as \xNN, quotes and backslashes with a
// backslash.
std::string Shown(const std::string &text);

// A quoted JSON string; bytes that are not well-formed UTF-8 become U+FFFD,
// one per byte.
std::string JsonString(const char *text);

#endif  // SATCHEL_SHOWN_TEXT_H
