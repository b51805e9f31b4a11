// What the test builds' path seams share: a path query answered from an
// environment variable, verbatim (with or without a trailing separator, of
// any length), keeping the system query's contract: the length without the
// NUL when the path fits, else the capacity it would need (NUL included).
#ifndef SATCHEL_SEAM_ANSWER_H
#define SATCHEL_SEAM_ANSWER_H

#include <windows.h>

#include <cwchar>

// 1 with *answer set when `variable` is set; 0 when it is not (the system's
// own query answers then).
inline int AnswerFromVariable(const WCHAR *variable, WCHAR *buffer, DWORD capacity,
                              DWORD *answer) {
  static WCHAR value[32768];
  DWORD length = GetEnvironmentVariableW(variable, value, 32768);
  if (length == 0 || length >= 32768) {
    return 0;
  }
  if (length + 1 > capacity) {
    *answer = length + 1;
  } else {
    std::wmemcpy(buffer, value, length + 1);
    *answer = length;
  }
  return 1;
}

#endif
