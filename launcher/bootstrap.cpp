// The ready bootstrap program: packed as the "exe" of a bundle that holds
// nothing but an msi, it installs that msi with the system's own msiexec.exe.
//
// It runs in the launcher's GUID folder, finds the one file ending in ".msi"
// beside itself, starts "<system folder>\msiexec.exe" /i "<msi path>"
// followed by its own arguments, waits for msiexec and ends with msiexec's
// exit code (0, 1602, 1603, 3010, ... pass through unchanged), in the
// folder that the launcher was started in.  Wrong use (no msi, more than
// one, no msiexec) shows a warning box (or, quiet, writes to standard error)
// and ends with 1.
//
// Like the launcher: a GUI program without a window, statically linked,
// importing only system DLLs and the platform's runtime; paths live in
// fixed buffers in the entry's frame.  Its system calls go through
// bootstrap_calls.h's table, those of the shared start-up code through
// startup.h's.
#include <string.h>

#include "bootstrap_calls.h"
#include "launcher_messages.h"
#include "startup.h"

#define BOOTSTRAP_PATH_CAPACITY 4096
#define BOOTSTRAP_COMMAND_LINE_CAPACITY 32767

// Under one of msiexec's quiet switches, or where nobody can see a box, the
// text goes to the standard error handle instead (when there is one).
[[noreturn]] static void BootstrapError(const char *message) {
  if (!ReportWithoutBox(message, HasQuietSwitch(SkipProgramName(GetCommandLineW()), NULL))) {
    MessageBoxA(NULL, message, NULL, MB_OK | MB_ICONWARNING);
  }
  ExitProcess(1);
  // The table's entry has the system's type, which does not say that the
  // call never returns.
  __builtin_unreachable();
}

// True when `name` ends in ".msi", ignoring case.  A search for "*.msi" also
// matches longer extensions through short names, so the name is checked.
static int IsMsiName(const WCHAR *name) {
  size_t length = wcslen(name);
  return length > 4 && _wcsicmp(name + length - 4, L".msi") == 0;
}

// Writes the path of the one msi beside the program into `msiPath`, which
// holds the folder and a separator (`folderLength` units).  Fails with a box
// when there is none or more than one.
static void FindTheMsi(WCHAR *msiPath, DWORD folderLength) {
  WIN32_FIND_DATAW found;
  DWORD length = folderLength;
  int count = 0;
  if (!AppendText(msiPath, BOOTSTRAP_PATH_CAPACITY, &length, L"*.msi")) {
    BootstrapError(MSG_NO_OWN_PATH);
  }
  HANDLE search = FindFirstFileW(msiPath, &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 && IsMsiName(found.cFileName)) {
        count++;
        length = folderLength;
        if (count == 1 &&
            !AppendText(msiPath, BOOTSTRAP_PATH_CAPACITY, &length, found.cFileName)) {
          BootstrapError(MSG_NO_OWN_PATH);
        }
      }
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }
  if (count == 0) {
    BootstrapError(MSG_NO_MSI);
  }
  if (count > 1) {
    BootstrapError(MSG_TWO_MSIS);
  }
}

int WINAPI WinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, LPSTR /*commandLine*/, int /*show*/) {
  WCHAR msiPath[BOOTSTRAP_PATH_CAPACITY];
  WCHAR msiexecPath[BOOTSTRAP_PATH_CAPACITY];
  WCHAR commandLine[BOOTSTRAP_COMMAND_LINE_CAPACITY];
  WCHAR callerFolder[BOOTSTRAP_PATH_CAPACITY];
  STARTUPINFOW startup;
  PROCESS_INFORMATION process;

  RestrictDllSearchToSystemFolder();

  // The program's own folder, with its separator.
  DWORD length = GetModuleFileNameW(NULL, msiPath, BOOTSTRAP_PATH_CAPACITY);
  if (length == 0 || length >= BOOTSTRAP_PATH_CAPACITY) {
    BootstrapError(MSG_NO_OWN_PATH);
  }
  while (length > 0 && msiPath[length - 1] != L'\\') {
    length--;
  }
  if (length == 0) {
    BootstrapError(MSG_NO_OWN_PATH);
  }
  FindTheMsi(msiPath, length);

  // msiexec.exe from the system folder by its full path, never through the
  // search path (which starts with the folder of a downloaded installer).
  length = GetSystemDirectoryW(msiexecPath, BOOTSTRAP_PATH_CAPACITY);
  if (length == 0 || length >= BOOTSTRAP_PATH_CAPACITY ||
      !AppendText(msiexecPath, BOOTSTRAP_PATH_CAPACITY, &length, L"\\msiexec.exe")) {
    BootstrapError(MSG_NO_MSIEXEC);
  }
  DWORD attributes = GetFileAttributesW(msiexecPath);
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    BootstrapError(MSG_NO_MSIEXEC);
  }

  // "<msiexec>" /i "<msi>", then our own arguments as they were given.
  const WCHAR *arguments = SkipProgramName(GetCommandLineW());
  length = 0;
  if (!AppendText(commandLine, BOOTSTRAP_COMMAND_LINE_CAPACITY, &length, L"\"") ||
      !AppendText(commandLine, BOOTSTRAP_COMMAND_LINE_CAPACITY, &length, msiexecPath) ||
      !AppendText(commandLine, BOOTSTRAP_COMMAND_LINE_CAPACITY, &length, L"\" /i \"") ||
      !AppendText(commandLine, BOOTSTRAP_COMMAND_LINE_CAPACITY, &length, msiPath) ||
      !AppendText(commandLine, BOOTSTRAP_COMMAND_LINE_CAPACITY, &length, L"\"") ||
      (*arguments != 0 &&
       (!AppendText(commandLine, BOOTSTRAP_COMMAND_LINE_CAPACITY, &length, L" ") ||
        !AppendText(commandLine, BOOTSTRAP_COMMAND_LINE_CAPACITY, &length, arguments)))) {
    BootstrapError(MSG_COMMAND_LINE_TOO_LONG);
  }

  // msiexec runs in the folder that the launcher was started in, so that
  // the caller's relative paths (a log, a transform, a patch) resolve there
  // as with msiexec itself; started otherwise, or when that folder is gone,
  // it runs where we run.
  const WCHAR *folder = callerFolder;
  length = GetEnvironmentVariableW(STARTUP_CALLER_FOLDER_VARIABLE, callerFolder,
                                   BOOTSTRAP_PATH_CAPACITY);
  if (length == 0 || length >= BOOTSTRAP_PATH_CAPACITY) {
    folder = NULL;
  }
  memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  while (!CreateProcessW(msiexecPath, commandLine, NULL, NULL, FALSE, 0, NULL, folder, &startup,
                         &process)) {
    if (folder == NULL) {
      BootstrapError(MSG_MSIEXEC_FAILED);
    }
    folder = NULL;
  }
  CloseHandle(process.hThread);
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD exitCode = 1;
  GetExitCodeProcess(process.hProcess, &exitCode);
  CloseHandle(process.hProcess);
  return (int)exitCode;
}
