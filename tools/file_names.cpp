// File-name rules of the bundle tool: the plain-name rule in words, and case
// folding as a case-insensitive file system compares.
#include "file_names.h"

#include <ctype.h>
#include <string.h>

#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <locale.h>
#include <wctype.h>
#endif

#include "payload.h"
#include "shown_text.h"
#include "tool_messages.h"

namespace {

// UTF-8 to code points; false on an ill-formed sequence.
bool CodePoints(const std::string &text, std::vector<uint32_t> *points) {
  const unsigned char *bytes = (const unsigned char *)text.data();
  for (size_t at = 0, used; at < text.size(); at += used) {
    uint32_t point = DecodeUtf8(bytes + at, text.size() - at, &used);
    if (point == UTF8_ILL_FORMED) return false;
    points->push_back(point);
  }
  return true;
}

// Upper case of one code point, as a case-insensitive file system compares.
uint32_t UpperCase(uint32_t point) {
  if (point < 0x80) return (point >= 'a' && point <= 'z') ? point - 32 : point;
#ifdef _WIN32
  if (point > 0xffff) return point;
  wchar_t in = (wchar_t)point, out = in;
  if (LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, &in, 1, &out, 1) != 1) return point;
  return (uint32_t)out;
#else
  static locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", (locale_t)0);
  if (!utf8) return point;
  return (uint32_t)towupper_l((wint_t)point, utf8);
#endif
}

}  // namespace

bool IsPlainWindowsFileName(const std::string &name, std::string *reason) {
  PlainNameCheck check;
  if (CheckPlainWindowsFileName(name.data(), name.size(), &check)) {
    // The launcher's buffers take longer names than a Windows file system
    // stores: such a name would fail only when the file is created.
    size_t units = 0;
    const unsigned char *text = (const unsigned char *)name.data();
    for (size_t at = 0, used; at < name.size(); at += used)
      units += DecodeUtf8(text + at, name.size() - at, &used) > 0xFFFF ? 2 : 1;
    if (units <= WINDOWS_NAME_MAX_UNITS) return true;
    *reason = MessageText(TOOL_MSG_NAME_TOO_LONG, units, WINDOWS_NAME_MAX_UNITS);
    return false;
  }
  switch (check.problem) {
    case PLAIN_NAME_EMPTY:
      *reason = TOOL_MSG_NAME_EMPTY;
      break;
    case PLAIN_NAME_DOTS:
      *reason = TOOL_MSG_NAME_DOTS;
      break;
    case PLAIN_NAME_NOT_UTF8:
      *reason = TOOL_MSG_NAME_NOT_UTF8;
      break;
    case PLAIN_NAME_CONTROL:
      *reason = TOOL_MSG_NAME_CONTROL;
      break;
    case PLAIN_NAME_CHARACTER:
      *reason = MessageText(TOOL_MSG_NAME_CHARACTER, check.character);
      break;
    case PLAIN_NAME_ENDS_WITH_DOT:
      *reason = TOOL_MSG_NAME_ENDS_WITH_DOT;
      break;
    case PLAIN_NAME_ENDS_WITH_SPACE:
      *reason = TOOL_MSG_NAME_ENDS_WITH_SPACE;
      break;
    case PLAIN_NAME_TOO_LONG:
      *reason = MessageText(TOOL_MSG_NAME_TOO_LONG, check.units, PLAIN_NAME_MAX_UNITS);
      break;
    default:
      *reason = MessageText(TOOL_MSG_NAME_RESERVED, (int)check.baseLength, name.c_str());
      break;
  }
  return false;
}

bool FindCollidingNames(const std::vector<std::string> &names, size_t *first, size_t *second) {
  for (size_t i = 0; i < names.size(); i++)
    for (size_t k = i + 1; k < names.size(); k++)
      if (!names[i].empty() && SameFileNameIgnoringCase(names[i], names[k])) {
        *first = i;
        *second = k;
        return true;
      }
  return false;
}

bool SameFileNameIgnoringCase(const std::string &a, const std::string &b) {
  std::vector<uint32_t> x, y;
  if (!CodePoints(a, &x) || !CodePoints(b, &y)) return a == b;
  if (x.size() != y.size()) return false;
  for (size_t i = 0; i < x.size(); ++i)
    if (UpperCase(x[i]) != UpperCase(y[i])) return false;
  return true;
}

bool HasExtension(const std::string &name, const char *extension) {
  size_t length = strlen(extension);
  if (name.size() < length) return false;
  for (size_t i = 0; i < length; i++)
    if (tolower((unsigned char)name[name.size() - length + i]) != tolower((unsigned char)extension[i]))
      return false;
  return true;
}
