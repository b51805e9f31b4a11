// Names, values and messages as the bundle tool prints them.
#include "shown_text.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "payload.h"

// Names are bytes; show control characters and quotes escaped.
std::string Shown(const std::string &text) {
  std::string out;
  for (unsigned char c : text) {
    if (c < 0x20 || c == 0x7f || c == '"' || c == '\\') {
      char hex[8];
      snprintf(hex, sizeof hex, c == '"' || c == '\\' ? "\\%c" : "\\x%02x", c);
      out += hex;
    } else {
      out += (char)c;
    }
  }
  return out;
}

std::string JsonString(const char *text) {
  std::string out = "\"";
  const unsigned char *p = (const unsigned char *)text;
  size_t length = strlen(text);
  for (size_t at = 0, used; at < length; at += used) {
    unsigned char c = p[at];
    used = 1;
    if (c == '"' || c == '\\') {
      out += '\\';
      out += (char)c;
    } else if (c < 0x20 || c == 0x7f) {
      char hex[8];
      snprintf(hex, sizeof hex, "\\u%04x", c);
      out += hex;
    } else if (c < 0x80) {
      out += (char)c;
    } else if (DecodeUtf8(p + at, length - at, &used) != UTF8_ILL_FORMED) {
      out.append((const char *)p + at, used);
    } else {
      out += "\\ufffd";
      used = 1;
    }
  }
  return out + "\"";
}

std::string MessageText(const char *format, ...) {
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  int length = vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string text(length > 0 ? (size_t)length : 0, '\0');
  if (length > 0) vsnprintf(&text[0], (size_t)length + 1, format, again);
  va_end(again);
  return text;
}
