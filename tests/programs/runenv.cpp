// Runs a program with changed environment variables and returns its exit
// code.  The end-to-end tests use it to give the launcher a temporary folder
// of a chosen path, which wine's own start-up would otherwise overwrite.
//   satchel-runenv NAME=VALUE... -- PROGRAM [ARGUMENT...]
// NAME= with no value removes the variable.
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

}  // namespace

int wmain(int argc, wchar_t **argv) {
  int i = 1;
  for (; i < argc && std::wstring(argv[i]) != L"--"; i++) {
    std::wstring assignment = argv[i];
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
  std::wstring commandLine;
  for (int k = i + 1; k < argc; k++) {
    if (!commandLine.empty()) commandLine += L' ';
    commandLine += Quote(argv[k]);
  }
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(argv[i + 1], &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    std::fprintf(stderr, "satchel-runenv: cannot start the program (error %lu)\n", GetLastError());
    return 122;
  }
  CloseHandle(process.hThread);
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hProcess);
  return (int)code;
}
