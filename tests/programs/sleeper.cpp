// Started by the probe and left running: sleeps, then writes a marker file.
//   satchel-sleeper MILLISECONDS MARKER
// A launcher that waits for every process of its job ends only after the
// marker exists.
#include <windows.h>

#include <cstdlib>

int wmain(int argc, wchar_t **argv) {
  if (argc != 3) return 2;
  Sleep((DWORD)wcstoul(argv[1], nullptr, 10));
  HANDLE marker = CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (marker == INVALID_HANDLE_VALUE) return 3;
  DWORD written = 0;
  WriteFile(marker, "done\n", 5, &written, nullptr);
  CloseHandle(marker);
  return 0;
}
