// Reads a file's version information the way Explorer's Properties do, with
// GetFileVersionInfoW and VerQueryValueW, and prints it as UTF-8 lines:
//   fixed=FILEVERSION PRODUCTVERSION   (from the fixed file information)
//   KEY=VALUE                          (each KEY asked, from the first translation)
// Exit code 0; 1 when the file has no version information, 2 on usage.
//   satchel-version-info FILE KEY...
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

void PrintUtf8(const wchar_t *text) {
  int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string bytes(size > 0 ? size : 1, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, &bytes[0], size, nullptr, nullptr);
  fputs(bytes.c_str(), stdout);
}

}  // namespace

int wmain(int argc, wchar_t **argv) {
  if (argc < 2) return 2;
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeW(argv[1], &ignored);
  if (size == 0) {
    printf("no version information (error %lu)\n", GetLastError());
    return 1;
  }
  std::vector<unsigned char> block(size);
  if (!GetFileVersionInfoW(argv[1], 0, size, block.data())) {
    printf("GetFileVersionInfoW failed (error %lu)\n", GetLastError());
    return 1;
  }
  VS_FIXEDFILEINFO *fixed = nullptr;
  UINT length = 0;
  if (VerQueryValueW(block.data(), L"\\", (void **)&fixed, &length) && fixed) {
    printf("fixed=%u.%u.%u.%u %u.%u.%u.%u\n", HIWORD(fixed->dwFileVersionMS),
           LOWORD(fixed->dwFileVersionMS), HIWORD(fixed->dwFileVersionLS),
           LOWORD(fixed->dwFileVersionLS), HIWORD(fixed->dwProductVersionMS),
           LOWORD(fixed->dwProductVersionMS), HIWORD(fixed->dwProductVersionLS),
           LOWORD(fixed->dwProductVersionLS));
  }
  WORD *translation = nullptr;
  if (!VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", (void **)&translation,
                      &length) ||
      length < 4) {
    printf("no translation\n");
    return 1;
  }
  for (int i = 2; i < argc; i++) {
    wchar_t query[256];
    _snwprintf(query, 256, L"\\StringFileInfo\\%04x%04x\\%ls", translation[0], translation[1],
               argv[i]);
    query[255] = 0;
    wchar_t *value = nullptr;
    PrintUtf8(argv[i]);
    fputs("=", stdout);
    if (VerQueryValueW(block.data(), query, (void **)&value, &length) && value) PrintUtf8(value);
    fputs("\n", stdout);
  }
  return 0;
}
