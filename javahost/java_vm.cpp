// Java VM creation: the command line is split into options for the virtual
// machine ("-J" arguments, rewritten to "-" plus the rest), the JVM library
// path (the argument after "-jvm") and the application's own arguments; the
// JVM library is found (explicit path or the registry of an installed Java
// runtime), loaded, and its JNI_CreateJavaVM creates the virtual machine in
// this process.
//
// The same code runs on Windows and, through the POSIX stand-in behind
// platform.h, on Linux.
#include "java_vm.h"

#include <stdlib.h>
#include <string.h>

#include "javahost_messages.h"
#include "platform.h"

const char JavaVmCannotLoadLibrary[] = JAVA_MSG_CANNOT_LOAD_LIBRARY;
const char JavaVmNoEntryPoint[] = JAVA_MSG_NO_ENTRY_POINT;

namespace {

// Where an installed Java runtime keeps its registry entries, below
// HKEY_LOCAL_MACHINE.
const char kRuntimeKeyPath[] = JAVA_RUNTIME_KEY_PATH;
const char kCurrentVersionValue[] = "CurrentVersion";
const WCHAR kRuntimeLibValue[] = {'R', 'u', 'n', 't', 'i', 'm', 'e', 'L', 'i', 'b', 0};

// Every path handed to the system is UTF-16 in a buffer of this many units.
const int kPathUnits = 4096;
// The registry value "CurrentVersion" is read into this many bytes.
const DWORD kVersionNameBytes = 80;

// Releases the option strings filled so far and the option array (null is
// fine).  The array is zero-filled, so unfilled elements hold null strings.
void FreeOptions(JavaVMOption *options, int count) {
  if (!options) return;
  for (int i = 0; i < count; i++) free(options[i].optionString);
  free(options);
}

// Reads the registry of an installed Java runtime into the path buffer.
// Returns true with the buffer holding the "RuntimeLib" value, ended; false
// with *message set.  Every key that it opens is closed again, on failure
// too.
bool ReadRuntimeLibFromRegistry(WCHAR *path, const char **message) {
  HKEY runtimeKey;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRuntimeKeyPath, 0, KEY_QUERY_VALUE, &runtimeKey) !=
      ERROR_SUCCESS) {
    *message = JAVA_MSG_NO_RUNTIME_KEY;
    return false;
  }

  // The version names the subkey to open.  The value's type is not looked
  // at; a value too big for the buffer fails the query.
  char versionName[kVersionNameBytes];
  DWORD size = kVersionNameBytes;
  if (RegQueryValueExA(runtimeKey, kCurrentVersionValue, nullptr, nullptr, (BYTE *)versionName,
                       &size) != ERROR_SUCCESS) {
    RegCloseKey(runtimeKey);
    *message = JAVA_MSG_NO_CURRENT_VERSION;
    return false;
  }
  // A value stored without its terminating zero arrives without one; end it
  // inside the buffer before it is used as a key name.
  versionName[size < kVersionNameBytes ? size : kVersionNameBytes - 1] = 0;

  HKEY versionKey;
  if (RegOpenKeyExA(runtimeKey, versionName, 0, KEY_QUERY_VALUE, &versionKey) != ERROR_SUCCESS) {
    RegCloseKey(runtimeKey);
    *message = JAVA_MSG_NO_VERSION_KEY;
    return false;
  }
  RegCloseKey(runtimeKey);

  size = kPathUnits * sizeof(WCHAR);
  if (RegQueryValueExW(versionKey, kRuntimeLibValue, nullptr, nullptr, (BYTE *)path, &size) !=
      ERROR_SUCCESS) {
    RegCloseKey(versionKey);
    *message = JAVA_MSG_NO_RUNTIME_LIB;
    return false;
  }
  RegCloseKey(versionKey);
  // Likewise for the path: a value that fills the buffer (or stops short)
  // without a terminating zero is ended where its data ends, at the latest
  // at the buffer's last unit.
  DWORD units = size / sizeof(WCHAR);
  path[units < (DWORD)kPathUnits ? units : kPathUnits - 1] = 0;
  return true;
}

}  // namespace

CreateJavaVmEntry LoadJvmEntryPoint(const char *path, const char **message) {
  *message = nullptr;

  WCHAR libraryPath[kPathUnits];
  if (path) {
    // The whole string with its terminating zero.  A path that does not
    // convert whole (longer than the buffer) is not loaded: what the buffer
    // holds then is at best a prefix of it, naming another file.
    int units = MultiByteToWideChar(CP_UTF8, 0, path, -1, libraryPath, kPathUnits);
    libraryPath[kPathUnits - 1] = 0;
    if (units == 0) {
      *message = JavaVmCannotLoadLibrary;
      return nullptr;
    }
  } else if (!ReadRuntimeLibFromRegistry(libraryPath, message)) {
    return nullptr;
  }

  // The library stays loaded for the life of the process, also when it
  // turns out to have no entry point (a JVM cannot be unloaded anyway).
  HMODULE library = LoadLibraryW(libraryPath);
  if (!library) {
    *message = JavaVmCannotLoadLibrary;
    return nullptr;
  }
  FARPROC entry = GetProcAddress(library, "JNI_CreateJavaVM");
  if (!entry) {
    *message = JavaVmNoEntryPoint;
    return nullptr;
  }
  // Through the generic function pointer type: a cast between two specific
  // function pointer types is one the compiler rightly questions.
  return (CreateJavaVmEntry)(void (*)(void))entry;
}

ArgumentRole RoleOfArgument(const char *argument, ArgumentRole previous) {
  if (previous == kLibraryPathSwitch) return kLibraryPath;
  if (strncmp(argument, "-J", 2) == 0) return kVmOption;
  if (strcmp(argument, "-jvm") == 0) return kLibraryPathSwitch;
  return kApplicationArgument;
}

int StartJavaVm(int count, char **arguments, JavaVM **vm, JNIEnv **env, int *applicationCount,
                char ***applicationArguments, const char **message) {
  *message = nullptr;
  *vm = nullptr;
  *env = nullptr;
  *applicationCount = 0;
  *applicationArguments = nullptr;

  // First pass: count the options and the application arguments and find
  // the library path.  The last "-jvm" wins; one that is the last argument
  // leaves no path at all, and the registry is asked.
  int optionCount = 0;
  int argumentCount = 0;
  const char *libraryPath = nullptr;
  ArgumentRole role = kApplicationArgument;
  for (int i = 0; i < count; i++) {
    role = RoleOfArgument(arguments[i], role);
    if (role == kVmOption) {
      optionCount++;
    } else if (role == kLibraryPathSwitch) {
      // The entry after the last argument is the vector's ending null; it
      // is not read, so a vector without one is safe too.
      libraryPath = i + 1 < count ? arguments[i + 1] : nullptr;
    } else if (role == kApplicationArgument) {
      argumentCount++;
    }
  }

  JavaVMOption *options = nullptr;
  if (optionCount > 0) {
    options = (JavaVMOption *)calloc((size_t)optionCount, sizeof(JavaVMOption));
    if (!options) {
      *message = JAVA_MSG_ALLOCATION_FAILED;
      return 0;
    }
  }
  char **applicationArray = nullptr;
  if (argumentCount > 0) {
    applicationArray = (char **)calloc((size_t)argumentCount, sizeof(char *));
    if (!applicationArray) {
      FreeOptions(options, optionCount);
      *message = JAVA_MSG_ALLOCATION_FAILED;
      return 0;
    }
  }

  // Second pass: the same walk fills both arrays.  An option keeps its bytes
  // as they stand, with "-J" turned into "-": -JXmx256m gives -Xmx256m, -J
  // alone gives "-".  Application arguments are the caller's own pointers.
  int optionIndex = 0;
  int argumentIndex = 0;
  role = kApplicationArgument;
  for (int i = 0; i < count; i++) {
    const char *argument = arguments[i];
    role = RoleOfArgument(argument, role);
    if (role == kVmOption) {
      size_t length = strlen(argument);
      char *option = (char *)malloc(length);
      if (!option) {
        FreeOptions(options, optionCount);
        free(applicationArray);
        *message = JAVA_MSG_ALLOCATION_FAILED;
        return 0;
      }
      option[0] = '-';
      memcpy(option + 1, argument + 2, length - 1);
      options[optionIndex++].optionString = option;
    } else if (role == kApplicationArgument) {
      applicationArray[argumentIndex++] = arguments[i];
    }
  }

  CreateJavaVmEntry createJavaVm = LoadJvmEntryPoint(libraryPath, message);
  if (!createJavaVm) {
    FreeOptions(options, optionCount);
    free(applicationArray);
    return 0;
  }

  JavaVMInitArgs initArguments;
  initArguments.version = JNI_VERSION_1_6;
  initArguments.nOptions = optionCount;
  initArguments.options = options;
  // An option that the virtual machine does not know fails the creation; it
  // is never skipped.
  initArguments.ignoreUnrecognized = JNI_FALSE;
  JavaVM *createdVm = nullptr;
  void *createdEnv = nullptr;
  jint result = createJavaVm(&createdVm, &createdEnv, &initArguments);
  // The virtual machine has copied what it keeps of the options.
  FreeOptions(options, optionCount);
  if (result != JNI_OK) {
    free(applicationArray);
    *message = JAVA_MSG_CANNOT_CREATE_VM;
    return 0;
  }

  *vm = createdVm;
  *env = (JNIEnv *)createdEnv;
  *applicationCount = argumentCount;
  *applicationArguments = applicationArray;
  return 1;
}
