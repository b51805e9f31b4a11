// Runs a program with changed environment variables and returns its exit
// code.  The end-to-end tests use it to give the launcher a temporary folder
// of a chosen path, which wine's own start-up would otherwise overwrite.
//   satchel-runenv [--job] NAME=VALUE... [--command-line HEX] [--stderr FILE] --
//                  PROGRAM [ARGUMENT...]
// NAME= with no value removes the variable.  --command-line gives the
// program's whole command line (its name included) verbatim, as the hex
// digits of its UTF-8 bytes, in place of one made from the ARGUMENTs.
// With --job the program runs in a job of ours that allows no breakaway, as
// CI agents and some shells run their programs.  With --stderr its standard
// error handle is FILE (created anew), and it has no other standard handle.
// The full 32-bit exit code is also printed as "exit=N" on standard output:
// wine hands only its low 8 bits on to the Linux side.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

// Quotes one argument the way the runtime's command-line parser reads it back.
std::wstring Quote(const std::wstring &argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos) return argument;
  std::wstring out = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : argument) {
    if (c == L'\\') {
      backslashes++;
      continue;
    }
    if (c == L'"') out.append(backslashes * 2 + 1, L'\\');
    else out.append(backslashes, L'\\');
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, L'\\');
  return out + L"\"";
}

// The UTF-16 text of hex digits of UTF-8 bytes; empty when malformed.
std::wstring FromHexUtf8(const std::wstring &hex) {
  std::string bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes += (char)std::stoi(std::string(hex.begin() + i, hex.begin() + i + 2), nullptr, 16);
  }
  if (bytes.empty() || hex.size() % 2 != 0) return std::wstring();
  int size = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), (int)bytes.size(), nullptr, 0);
  std::wstring out(size, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, bytes.data(), (int)bytes.size(), &out[0], size);
  return out;
}

}  // namespace

int wmain(int argc, wchar_t **argv) {
  int i = 1;
  std::wstring verbatim;
  HANDLE errorFile = nullptr;
  bool inJob = argc > 1 && std::wstring(argv[1]) == L"--job";
  if (inJob) i++;
  for (; i < argc && std::wstring(argv[i]) != L"--"; i++) {
    std::wstring assignment = argv[i];
    if (assignment == L"--command-line" && i + 1 < argc) {
      verbatim = FromHexUtf8(argv[++i]);
      if (verbatim.empty()) {
        std::fprintf(stderr, "satchel-runenv: --command-line takes hex digits of UTF-8\n");
        return 120;
      }
      continue;
    }
    if (assignment == L"--stderr" && i + 1 < argc) {
      SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
      errorFile = CreateFileW(argv[++i], GENERIC_WRITE, FILE_SHARE_READ, &inherited, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
      if (errorFile == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "satchel-runenv: cannot create the error file\n");
        return 120;
      }
      continue;
    }
    size_t equals = assignment.find(L'=');
    if (equals == std::wstring::npos || equals == 0) {
      std::fprintf(stderr, "satchel-runenv: expected NAME=VALUE\n");
      return 120;
    }
    std::wstring name = assignment.substr(0, equals);
    std::wstring value = assignment.substr(equals + 1);
    if (!SetEnvironmentVariableW(name.c_str(), value.empty() ? nullptr : value.c_str())) {
      std::fprintf(stderr, "satchel-runenv: cannot set a variable (error %lu)\n", GetLastError());
      return 121;
    }
  }
  if (i + 1 >= argc) {
    std::fprintf(stderr, "usage: satchel-runenv NAME=VALUE... -- PROGRAM [ARGUMENT...]\n");
    return 120;
  }
  std::wstring commandLine = verbatim;
  for (int k = i + 1; verbatim.empty() && k < argc; k++) {
    if (!commandLine.empty()) commandLine += L' ';
    commandLine += Quote(argv[k]);
  }
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  if (errorFile != nullptr) {
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdError = errorFile;
  }
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(argv[i + 1], &commandLine[0], nullptr, nullptr, errorFile != nullptr,
                      inJob ? CREATE_SUSPENDED : 0, nullptr, nullptr, &startup, &process)) {
    std::fprintf(stderr, "satchel-runenv: cannot start the program (error %lu)\n", GetLastError());
    return 122;
  }
  if (inJob) {
    // A job without limits allows no breakaway.  It stays open (and the
    // program in it) until we end.
    HANDLE job = CreateJobObjectW(nullptr, nullptr);
    if (!job || !AssignProcessToJobObject(job, process.hProcess)) {
      std::fprintf(stderr, "satchel-runenv: cannot make the job (error %lu)\n", GetLastError());
      TerminateProcess(process.hProcess, 123);
      return 123;
    }
    ResumeThread(process.hThread);
  }
  CloseHandle(process.hThread);
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hProcess);
  std::printf("exit=%lu\n", (unsigned long)code);
  std::fflush(stdout);
  return (int)code;
}
