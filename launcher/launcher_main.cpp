// The launcher's entry: payload, temporary GUID folder, the two file paths.
#include <objbase.h>
#include <sddl.h>
#include <stdlib.h>
#include <string.h>

#include "launcher.h"
#include "payload.h"
#include "startup.h"

void FatalError(const char *message) {
  MessageBoxA(NULL, message, NULL, MB_OK | MB_ICONWARNING);
  // The C runtime's exit, not the table's: it runs the runtime's own clean-up.
  exit(1);
}

// The arguments to hand on to the packaged program: the text behind the
// launcher's own name on its UTF-16 command line when the bundle asks for it,
// else null (the program then gets none).
static const WCHAR *ArgumentsToPass(void) {
  const char *pass = FindProperty(LAUNCHER_PASS_ARGUMENTS_KEY);
  if (pass == NULL || strcmp(pass, "1") != 0) {
    return NULL;
  }
  return SkipProgramName(GetCommandLineW());
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
// another name.  Returns only when the name is fit.
static void ConvertFileName(const char *name, WCHAR *path, DWORD capacity) {
  PlainNameCheck check;
  if (MultiByteToWideChar(CP_UTF8, 0, name, -1, path, capacity) == 0) {
    FatalError(MSG_CONVERSION_FAILED);
  }
  if (!CheckPlainWindowsFileName(name, strlen(name), &check)) {
    FatalError(MSG_NAME_NOT_PLAIN);
  }
}

// None of the four arguments is read: the launcher takes no options, and
// what it hands on comes from its UTF-16 command line.  Returns the exit code
// of the packaged program after a complete run; every failure ends the
// process in FatalError instead.
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

  // Both file paths start with the folder path and a separator; `length` is
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

  // Both names are resolved before either file is written.  The values are
  // owned by the payload index and become the last path component.
  const char *msiName = FindProperty("msi");
  if (msiName == NULL) {
    FatalError(MSG_NO_MSI_NAME);
  }
  ConvertFileName(msiName, msiPath + length, LAUNCHER_PATH_CAPACITY - length);
  const char *exeName = FindProperty("exe");
  if (exeName == NULL) {
    FatalError(MSG_NO_EXE_NAME);
  }
  ConvertFileName(exeName, exePath + length, LAUNCHER_PATH_CAPACITY - length);

  // The entries are named by the property keys, not by the file names.
  ExtractEntryToFile(msiPath, "msi");
  ExtractEntryToFile(exePath, "exe");
  ExtractExtraFiles(extraPath, length, 1);

  return (int)LaunchAndWait(folderPath, msiPath, exePath, ArgumentsToPass(), extraPath, length);
}
