// A stand-in for a packaged installer program.  It records what it saw and
// does what its environment asks, since the launcher starts it without
// arguments:
//   SATCHEL_PROBE_RECORD  file to write the record to (UTF-8 lines):
//                           cwd=<current directory>
//                           cmdline=<its command line>
//                           self=<its own path>
//                           file=<name>\t<size>\t<FNV-1a 32 of the content, hex>
//                             (one line per file in the current directory)
//                           caller=<SATCHEL_CALLER_FOLDER>
//                           bundle=<SATCHEL_BUNDLE_PATH>
//                           elevated=<1 when its token is elevated, else 0>
//                           dacl=<the current directory's DACL, as SDDL>
//   SATCHEL_PROBE_SPAWN   a command line to start and leave running
//   SATCHEL_PROBE_LEAVE   a folder outside: after the record, leave files in
//                         the current directory (a log, a read-only file, a
//                         folder tree) and a junction "link" and a symbolic
//                         link "dirlink" to that folder; appends
//                         junction=<0|1> and symlink=<0|1> to the record
//   SATCHEL_PROBE_EXIT    the exit code (decimal), 0 when unset
#include <windows.h>
#include <sddl.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::wstring Env(const wchar_t *name) {
  wchar_t buffer[32768];
  DWORD length = GetEnvironmentVariableW(name, buffer, 32768);
  if (length == 0 || length >= 32768) return std::wstring();
  return std::wstring(buffer, length);
}

std::string Utf8(const std::wstring &text) {
  if (text.empty()) return std::string();
  int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), (int)text.size(), nullptr, 0, nullptr,
                                 nullptr);
  std::string out(size, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), (int)text.size(), &out[0], size, nullptr, nullptr);
  return out;
}

// Size and FNV-1a hash of a file in the current directory.
bool HashFile(const std::wstring &name, unsigned long long *size, unsigned *hash) {
  HANDLE file = CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  unsigned char buffer[65536];
  DWORD got = 0;
  *size = 0;
  *hash = 2166136261u;
  while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) {
    for (DWORD i = 0; i < got; i++) *hash = (*hash ^ buffer[i]) * 16777619u;
    *size += got;
  }
  CloseHandle(file);
  return true;
}

// The folder's DACL as SDDL, read back from the file system; "unreadable"
// when it cannot be had.
std::string FolderDacl(const wchar_t *folder) {
  DWORD size = 0;
  GetFileSecurityW(folder, DACL_SECURITY_INFORMATION, nullptr, 0, &size);
  std::string buffer(size ? size : 1, '\0');
  wchar_t *text = nullptr;
  if (size == 0 || !GetFileSecurityW(folder, DACL_SECURITY_INFORMATION, &buffer[0], size, &size) ||
      !ConvertSecurityDescriptorToStringSecurityDescriptorW(&buffer[0], SDDL_REVISION_1,
                                                            DACL_SECURITY_INFORMATION, &text, nullptr))
    return "unreadable";
  std::string out = Utf8(text);
  LocalFree(text);
  return out;
}

bool Elevated() {
  HANDLE token;
  TOKEN_ELEVATION elevation = {};
  DWORD size = 0;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  bool known = GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size);
  CloseHandle(token);
  return known && elevation.TokenIsElevated;
}

void WriteText(const wchar_t *path, const std::string &text, DWORD disposition) {
  HANDLE out = CreateFileW(path, FILE_APPEND_DATA, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
  if (out == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(out, text.data(), (DWORD)text.size(), &written, nullptr);
  CloseHandle(out);
}

// A junction (a mount-point reparse point) at `link` to the folder `target`.
bool MakeJunction(const wchar_t *link, const std::wstring &target) {
  if (!CreateDirectoryW(link, nullptr)) return false;
  HANDLE folder = CreateFileW(link, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (folder == INVALID_HANDLE_VALUE) return false;
  std::wstring substitute = L"\\??\\" + target;
  struct {
    DWORD tag;
    WORD dataLength, reserved;
    WORD substituteOffset, substituteLength, printOffset, printLength;
    wchar_t names[2048];
  } data = {};
  WORD substituteBytes = (WORD)(substitute.size() * 2), printBytes = (WORD)(target.size() * 2);
  data.tag = IO_REPARSE_TAG_MOUNT_POINT;
  data.substituteLength = substituteBytes;
  data.printOffset = substituteBytes + 2;
  data.printLength = printBytes;
  substitute.copy(data.names, substitute.size());
  target.copy(data.names + substitute.size() + 1, target.size());
  data.dataLength = (WORD)(8 + substituteBytes + 2 + printBytes + 2);
  DWORD returned = 0;
  BOOL made = DeviceIoControl(folder, 0x000900A4 /* FSCTL_SET_REPARSE_POINT */, &data,
                              8 + data.dataLength, nullptr, 0, &returned, nullptr);
  CloseHandle(folder);
  return made;
}

// What an installer leaves in its folder: a log, a read-only file, a tree of
// folders, and links to a folder outside that must survive the clean-up.
void LeaveFiles(const std::wstring &outside, const std::wstring &recordPath) {
  WriteText(L"install.log", "=== Logging started ===\r\n", CREATE_ALWAYS);
  WriteText(L"readonly.txt", "kept?", CREATE_ALWAYS);
  SetFileAttributesW(L"readonly.txt", FILE_ATTRIBUTE_READONLY);
  CreateDirectoryW(L"sub", nullptr);
  CreateDirectoryW(L"sub\\deeper", nullptr);
  WriteText(L"sub\\deeper\\data.tmp", std::string(100000, 'x'), CREATE_ALWAYS);
  SetFileAttributesW(L"sub\\deeper", FILE_ATTRIBUTE_READONLY);
  bool junction = MakeJunction(L"link", outside);
  bool symlink = CreateSymbolicLinkW(L"dirlink", outside.c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY);
  WriteText(recordPath.c_str(),
            std::string("junction=") + (junction ? "1" : "0") + "\nsymlink=" + (symlink ? "1" : "0") +
                "\n",
            OPEN_ALWAYS);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  std::wstring recordPath = Env(L"SATCHEL_PROBE_RECORD");
  if (!recordPath.empty()) {
    std::string record;
    wchar_t cwd[32768];
    DWORD cwdLength = GetCurrentDirectoryW(32768, cwd);
    record += "cwd=" + Utf8(std::wstring(cwd, cwdLength < 32768 ? cwdLength : 0)) + "\n";
    record += "cmdline=" + Utf8(GetCommandLineW()) + "\n";
    wchar_t self[32768];
    DWORD selfLength = GetModuleFileNameW(nullptr, self, 32768);
    record += "self=" + Utf8(std::wstring(self, selfLength)) + "\n";
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(L"*", &found);
    if (search != INVALID_HANDLE_VALUE) {
      do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        unsigned long long size = 0;
        unsigned hash = 0;
        char line[64];
        if (HashFile(found.cFileName, &size, &hash)) {
          std::snprintf(line, sizeof line, "\t%llu\t%08x\n", size, hash);
        } else {
          std::snprintf(line, sizeof line, "\tunreadable\n");
        }
        record += "file=" + Utf8(found.cFileName) + line;
      } while (FindNextFileW(search, &found));
      FindClose(search);
    }
    record += "caller=" + Utf8(Env(L"SATCHEL_CALLER_FOLDER")) + "\n";
    record += "bundle=" + Utf8(Env(L"SATCHEL_BUNDLE_PATH")) + "\n";
    record += std::string("elevated=") + (Elevated() ? "1" : "0") + "\n";
    record += "dacl=" + FolderDacl(cwd) + "\n";
    HANDLE out = CreateFileW(recordPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out != INVALID_HANDLE_VALUE) {
      DWORD written = 0;
      WriteFile(out, record.data(), (DWORD)record.size(), &written, nullptr);
      CloseHandle(out);
    }
  }

  std::wstring outside = Env(L"SATCHEL_PROBE_LEAVE");
  if (!outside.empty()) LeaveFiles(outside, recordPath);

  std::wstring spawn = Env(L"SATCHEL_PROBE_SPAWN");
  if (!spawn.empty()) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, &spawn[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
      return 90;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }

  std::wstring exitCode = Env(L"SATCHEL_PROBE_EXIT");
  return exitCode.empty() ? 0 : (int)wcstol(exitCode.c_str(), nullptr, 10);
}
