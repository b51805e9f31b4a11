// The launcher's entry: payload, temporary GUID folder, the two file paths.
#include <objbase.h>
#include <sddl.h>
#include <stdlib.h>
#include <string.h>

#include "launcher.h"
#include "payload.h"
#include "startup.h"

// 1 when the arguments that the bundle hands on ask for a quiet run (see
// HasQuietSwitch): FatalError then shows no box.  Written by WinMain once the
// payload is open; 0 before.
static int quietFailures;

void FatalError(const char *message) {
  if (!ReportWithoutBox(message, quietFailures)) {
    MessageBoxA(NULL, message, NULL, MB_OK | MB_ICONWARNING);
  }
  // The C runtime's exit, not the table's: it runs the runtime's own clean-up.
  exit(1);
}

// The arguments to hand on to the packaged program: the text behind the
// launcher's own name on its UTF-16 command line when the bundle asks for it,
// else null (the program then gets none).
static const WCHAR *ArgumentsToPass(void) {
  const char *pass = FindProperty(PAYLOAD_PASS_ARGUMENTS_KEY);
  if (pass == NULL || strcmp(pass, "1") != 0) {
    return NULL;
  }
  return SkipProgramName(GetCommandLineW());
}

// Tells the packaged program, through two variables that it inherits, the
// folder that the launcher was started in (where the caller's relative
// paths point) and the bundle's own path.  One that cannot be had is
// removed rather than left as an outer launcher set it.
static void SetCallerVariables(void) {
  WCHAR path[LAUNCHER_PATH_CAPACITY];
  DWORD length = GetCurrentDirectoryW(LAUNCHER_PATH_CAPACITY, path);
  SetEnvironmentVariableW(STARTUP_CALLER_FOLDER_VARIABLE,
                          length != 0 && length < LAUNCHER_PATH_CAPACITY ? path : NULL);
  length = GetModuleFileNameW(NULL, path, LAUNCHER_PATH_CAPACITY);
  SetEnvironmentVariableW(STARTUP_BUNDLE_PATH_VARIABLE,
                          length != 0 && length < LAUNCHER_PATH_CAPACITY ? path : NULL);
}

// Creates the launcher's own folder.  An elevated launcher (an installer is
// usually started so) makes it with a protected DACL that grants full control
// to SYSTEM and Administrators only, inherited by what is written into it:
// with the %TEMP% folder's inherited ACL, any unelevated process of the same
// user could plant a DLL beside the program, swap the program before it
// starts or replace the folder before the elevated clean-up deletes through
// it.  Otherwise the folder gets default security, as %TEMP% gives it.  0 on
// failure, also when the token or the descriptor cannot be had.
static BOOL CreateLauncherFolder(const WCHAR *path) {
  SECURITY_ATTRIBUTES security = {sizeof security, NULL, FALSE};
  HANDLE token;
  TOKEN_ELEVATION elevation;
  DWORD size;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
    return FALSE;
  }
  BOOL known = GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size);
  CloseHandle(token);
  // The descriptor lives until the process ends.
  if (!known || (elevation.TokenIsElevated &&
                 !ConvertStringSecurityDescriptorToSecurityDescriptorA(
                     LAUNCHER_ELEVATED_FOLDER_SDDL, SDDL_REVISION_1,
                     &security.lpSecurityDescriptor, NULL))) {
    return FALSE;
  }
  return CreateDirectoryW(path, &security);
}

// Converts a file name of the bundle into `path` (room for `capacity` units,
// NUL included), then holds it to the rule that the tool packs by: a plain
// Windows file name.  Anything else (a separator or "..", a drive or stream
// colon, a device name such as NUL or COM1, a trailing dot or space that the
// system would drop) would write elsewhere than into our folder, or under
// another name.  Null when the name is fit, else the failure's message.
static const char *ConvertFileName(const char *name, WCHAR *path, DWORD capacity) {
  PlainNameCheck check;
  if (MultiByteToWideChar(CP_UTF8, 0, name, -1, path, capacity) == 0) {
    return MSG_CONVERSION_FAILED;
  }
  if (!CheckPlainWindowsFileName(name, strlen(name), &check)) {
    return MSG_NAME_NOT_PLAIN;
  }
  return NULL;
}

// Everything that happens in the folder once it exists: the two names, the
// files, the program and the wait.  `msiPath`, `exePath` and `extraPath`
// start with the folder path and a separator (`prefixLength` units).  Null
// after the wait, with `*exitCode` the program's; else the failure's
// message.  `arguments` and `*programMayRun` as LaunchAndWait takes and
// writes them (0 when the program was never started).
static const char *ExtractAndRun(const WCHAR *folderPath, WCHAR *msiPath, WCHAR *exePath,
                                 WCHAR *extraPath, DWORD prefixLength, const WCHAR *arguments,
                                 DWORD *exitCode, DWORD *programMayRun) {
  const char *failure;
  *programMayRun = 0;

  // Both names are resolved before either file is written.  The values are
  // owned by the payload index and become the last path component.
  const char *msiName = FindProperty(PAYLOAD_MSI_KEY);
  if (msiName == NULL) {
    return MSG_NO_MSI_NAME;
  }
  if ((failure = ConvertFileName(msiName, msiPath + prefixLength,
                                 LAUNCHER_PATH_CAPACITY - prefixLength)) != NULL) {
    return failure;
  }
  const char *exeName = FindProperty(PAYLOAD_EXE_KEY);
  if (exeName == NULL) {
    return MSG_NO_EXE_NAME;
  }
  if ((failure = ConvertFileName(exeName, exePath + prefixLength,
                                 LAUNCHER_PATH_CAPACITY - prefixLength)) != NULL) {
    return failure;
  }

  // The entries are named by the property keys, not by the file names.  A
  // progress window is for a person who can see it, and goes before the
  // program starts.
  StartProgress(quietFailures || !WindowStationVisible() ? NULL
                                                         : FindProperty(PAYLOAD_PROGRESS_KEY));
  if ((failure = ExtractEntryToFile(msiPath, PAYLOAD_MSI_KEY)) == NULL &&
      (failure = ExtractEntryToFile(exePath, PAYLOAD_EXE_KEY)) == NULL) {
    failure = ExtractExtraFiles(extraPath, prefixLength);
  }
  EndProgress();
  if (failure != NULL) {
    return failure;
  }
  return LaunchAndWait(folderPath, exePath, arguments, exitCode, programMayRun);
}

// None of the four arguments is read: the launcher takes no options, and
// what it hands on comes from its UTF-16 command line.  Returns the exit code
// of the packaged program after a complete run; every failure ends the
// process in FatalError instead, after the folder (once made) has been
// removed, unless a program of the bundle may still run from it.
int WINAPI WinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, LPSTR /*commandLine*/, int /*show*/) {
  WCHAR folderPath[LAUNCHER_PATH_CAPACITY];
  WCHAR msiPath[LAUNCHER_PATH_CAPACITY];
  WCHAR exePath[LAUNCHER_PATH_CAPACITY];
  WCHAR extraPath[LAUNCHER_PATH_CAPACITY];
  GUID guid;
  const char *message;

  RestrictDllSearchToSystemFolder();

  if (!OpenPayload(&message)) {
    FatalError(message);
  }
  const WCHAR *arguments = ArgumentsToPass();
  quietFailures = arguments != NULL &&
                  HasQuietSwitch(arguments, FindProperty(PAYLOAD_QUIET_SWITCHES_KEY));
  SetCallerVariables();

  // The temporary path ends in a separator as a rule; its length excludes the
  // NUL.  When the path does not fit, the result is the capacity it would
  // need, which is above the limit as well.
  DWORD length = GetTempPathW(LAUNCHER_PATH_CAPACITY, folderPath);
  if (length == 0) {
    FatalError(MSG_TEMP_PATH_FAILED);
  }
  if (length >= LAUNCHER_TEMP_PATH_LIMIT) {
    FatalError(MSG_PATH_TOO_LONG);
  }

  // S_FALSE (already initialised on this thread) is success.  COM stays
  // initialised until the process ends.
  if (FAILED(CoInitialize(NULL))) {
    FatalError(MSG_COM_FAILED);
  }
  if (FAILED(CoCreateGuid(&guid))) {
    FatalError(MSG_GUID_FAILED);
  }

  // Only a backslash counts as a separator; length is at least 1 here.
  if (folderPath[length - 1] != L'\\') {
    folderPath[length] = L'\\';
    length++;
  }

  // "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}": 38 characters and a NUL.
  StringFromGUID2(guid, folderPath + length, 39);
  length += 38;
  folderPath[length] = 0;
  DWORD folderLength = length;

  // The file paths start with the folder path and a separator; `length` is
  // then the length of that common prefix.
  memcpy(exePath, folderPath, length * sizeof(WCHAR));
  exePath[length] = L'\\';
  length++;
  exePath[length] = 0;
  memcpy(msiPath, exePath, length * sizeof(WCHAR));
  memcpy(extraPath, exePath, length * sizeof(WCHAR));

  if (!CreateLauncherFolder(folderPath)) {
    FatalError(MSG_CREATE_DIRECTORY_FAILED);
  }

  // From here on the folder exists: whatever ends the run, it goes whole,
  // unless a program of the bundle may still be running from it.
  DWORD exitCode = 1;
  DWORD programMayRun;
  const char *failure = ExtractAndRun(folderPath, msiPath, exePath, extraPath, length, arguments,
                                      &exitCode, &programMayRun);
  if (!programMayRun) {
    RemoveFolder(folderPath, folderLength);
  }
  if (failure != NULL) {
    FatalError(failure);
  }
  return (int)exitCode;
}
