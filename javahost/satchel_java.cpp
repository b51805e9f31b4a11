// satchel-java: runs the Java application held in the payload appended to
// this very executable.
//
//   satchel-java [-JOPTION]... [-jvm LIBJVM] [ARGUMENT]...
//
// The road, in order: the payload index of the running executable, a Java
// runtime (the "-jvm" path, else one bundled beside the executable in jre/ or
// runtime/, else JAVA_HOME, else the registry), the virtual machine, the main
// class from the payload, the arguments as a String[], and the class's static
// main(String[]) with the payload loader as the thread's context class loader.
//
// Exit codes: what System.exit gives; 0 once main has returned and every
// non-daemon thread has ended; 1 after an uncaught exception or a failure of
// any step, whose message goes to a warning box on Windows and to standard
// error elsewhere.
//
// Everything runs on a thread of our own rather than on the process's first
// thread: the virtual machine then knows the thread's real stack bounds and
// can guard them (a deep recursion gives StackOverflowError, not a crash),
// and a "-JXss" size applies to main as it does under other launchers.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <jni.h>

#include "java_vm.h"
#include "main_class.h"
#include "payload.h"

#ifdef _WIN32
#include <shellapi.h>
#else
#include <limits.h>
#include <locale.h>
#include <pthread.h>
#include <wchar.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

// ---- messages: every text that the front end itself shows ----

#ifdef _WIN32
#define REGISTRY_NOTE "; then in the registry"
#else
#define REGISTRY_NOTE ""
#endif

static const char kNoRuntimeFound[] =
    "%s\n"
    "No Java runtime was found.  Looked for %s in: %s" REGISTRY_NOTE ".\n"
    "Put a Java runtime in a folder named jre or runtime beside this program, set JAVA_HOME, "
    "or give the JVM library with -jvm PATH.";
static const char kLibraryFailed[] = "%s: %s";
static const char kMainNotFound[] =
    "Main method not found in class %s; it must be declared as: public static void main(String[] args)";
static const char kSetContextLoaderFailed[] = "Failed to set the context class loader";
static const char kThreadFailed[] = "Failed to start the main thread";
static const char kMemoryFailed[] = "Memory allocation failed";

// ---- where a Java runtime is looked for ----

// Under a runtime's home folder: the layout of Java 9 and later first, then
// those of a Java 8 runtime and of a Java 8 development kit (whose runtime
// sits in its jre folder).
#ifdef _WIN32
#define PATH_SEPARATOR "\\"
// A 32-bit runtime often has only the client VM.
static const char *const kJvmLibraries[] = {"bin\\server\\jvm.dll", "bin\\client\\jvm.dll",
                                            "jre\\bin\\server\\jvm.dll", "jre\\bin\\client\\jvm.dll"};
static const char kJvmLibraryNames[] = "bin\\server\\jvm.dll or bin\\client\\jvm.dll (or the same under jre)";
#else
#define PATH_SEPARATOR "/"
#if defined(__x86_64__)
#define JAVA8_ARCH "amd64"
#elif defined(__i386__)
#define JAVA8_ARCH "i386"
#elif defined(__aarch64__)
#define JAVA8_ARCH "aarch64"
#endif
#ifdef JAVA8_ARCH
static const char *const kJvmLibraries[] = {"lib/server/libjvm.so", "lib/" JAVA8_ARCH "/server/libjvm.so",
                                            "jre/lib/" JAVA8_ARCH "/server/libjvm.so"};
static const char kJvmLibraryNames[] = "lib/server/libjvm.so (or lib/" JAVA8_ARCH "/server/libjvm.so, "
                                       "jre/lib/" JAVA8_ARCH "/server/libjvm.so)";
#else
static const char *const kJvmLibraries[] = {"lib/server/libjvm.so"};
static const char kJvmLibraryNames[] = "lib/server/libjvm.so";
#endif
#endif
static const char *const kRuntimeFolders[] = {"jre", "runtime"};
#define COUNT_OF(array) (sizeof(array) / sizeof((array)[0]))

// Stack of the thread that runs the application when no "-JXss" says
// otherwise: twice the 1 MiB that the virtual machine gives its own threads
// on 64-bit systems, as our native frames sit below main's.
#define DEFAULT_MAIN_STACK_SIZE (2u * 1024u * 1024u)

// ---- process-wide state, written once by main before the thread starts ----

static int argumentCount;        // the vector handed to StartJavaVm, without
static char **argumentVector;    // the program name; ends with a null entry
static size_t mainStackSize;     // stack of the thread that runs everything
static char messageBuffer[8192]; // the places looked at for a runtime, then
                                 // the text of a missing main method

// Shows a message of the front end: a warning box on Windows, a line on
// standard error elsewhere.
static void ShowMessage(const char *message) {
#ifdef _WIN32
  MessageBoxA(NULL, message, NULL, MB_OK | MB_ICONWARNING);
#else
  fprintf(stderr, "%s\n", message);
  fflush(stderr);
#endif
}

// A heap copy of the concatenation of up to four strings (null ones count as
// empty); null when out of memory.
static char *JoinStrings(const char *a, const char *b, const char *c, const char *d) {
  const char *parts[4] = {a, b, c, d};
  size_t length = 0;
  for (int i = 0; i < 4; i++) length += parts[i] ? strlen(parts[i]) : 0;
  char *joined = (char *)malloc(length + 1);
  if (!joined) return NULL;
  size_t at = 0;
  for (int i = 0; i < 4; i++) {
    if (!parts[i]) continue;
    size_t n = strlen(parts[i]);
    memcpy(joined + at, parts[i], n);
    at += n;
  }
  joined[at] = 0;
  return joined;
}

// ---- text conversion ----

// Appends the modified UTF-8 form of code point c (the form that JNI's
// NewStringUTF takes: U+0000 as two bytes, supplementary characters as two
// three-byte surrogates) and returns the new end.
static char *PutModifiedUtf8(char *out, unsigned long c) {
  if (c >= 0x10000) {
    unsigned long v = c - 0x10000;
    out = PutModifiedUtf8(out, 0xD800 + (v >> 10));
    return PutModifiedUtf8(out, 0xDC00 + (v & 0x3FF));
  }
  if (c != 0 && c < 0x80) {
    *out++ = (char)c;
  } else if (c < 0x800) {
    *out++ = (char)(0xC0 | (c >> 6));
    *out++ = (char)(0x80 | (c & 0x3F));
  } else {
    *out++ = (char)(0xE0 | (c >> 12));
    *out++ = (char)(0x80 | ((c >> 6) & 0x3F));
    *out++ = (char)(0x80 | (c & 0x3F));
  }
  return out;
}

#ifdef _WIN32
// A heap copy of the UTF-8 text in modified UTF-8; a byte that starts no
// well-formed sequence becomes U+FFFD.  Null when out of memory.
static char *ToModifiedUtf8(const char *text) {
  const unsigned char *in = (const unsigned char *)text;
  size_t length = strlen(text);
  // Every input byte gives at most three output bytes (a four-byte sequence
  // gives six).
  char *result = (char *)malloc(length * 3 + 1);
  if (!result) return NULL;
  char *out = result;
  size_t i = 0;
  while (i < length) {
    unsigned long c = in[i];
    size_t n = 0;
    unsigned long minimum = 0;
    if (c < 0x80) {
      n = 1;
    } else if (c >= 0xC2 && c <= 0xDF) {
      n = 2, c &= 0x1F, minimum = 0x80;
    } else if (c >= 0xE0 && c <= 0xEF) {
      n = 3, c &= 0x0F, minimum = 0x800;
    } else if (c >= 0xF0 && c <= 0xF4) {
      n = 4, c &= 0x07, minimum = 0x10000;
    }
    bool good = n > 0 && i + n <= length;
    for (size_t k = 1; good && k < n; k++) {
      if ((in[i + k] & 0xC0) != 0x80) good = false;
      else c = (c << 6) | (in[i + k] & 0x3F);
    }
    if (good && (c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))) good = false;
    if (!good) {
      out = PutModifiedUtf8(out, 0xFFFD);
      i++;
      continue;
    }
    out = PutModifiedUtf8(out, c);
    i += n;
  }
  *out = 0;
  return result;
}

#define DecodeArgument ToModifiedUtf8
#else
// A heap copy, in modified UTF-8, of an argument in the encoding of the
// user's locale, decoded the way the Java runtime decodes its own launcher's
// arguments: a byte that starts no character of that encoding becomes
// U+FFFD (so in the plain C locale every byte above 0x7F does).  Null when
// out of memory.
static char *DecodeArgument(const char *text) {
  size_t length = strlen(text);
  // At most three output bytes per input byte (a character above U+FFFF
  // takes at least four bytes in and gives six out).
  char *result = (char *)malloc(length * 3 + 1);
  if (!result) return NULL;
  char *out = result;
  mbstate_t state;
  memset(&state, 0, sizeof state);
  size_t i = 0;
  while (i < length) {
    wchar_t c;
    size_t n = mbrtowc(&c, text + i, length - i, &state);
    if (n == (size_t)-1 || n == (size_t)-2 || n == 0 || (unsigned long)c > 0x10FFFF ||
        ((unsigned long)c >= 0xD800 && (unsigned long)c <= 0xDFFF)) {
      out = PutModifiedUtf8(out, 0xFFFD);
      memset(&state, 0, sizeof state);
      i++;
      continue;
    }
    out = PutModifiedUtf8(out, (unsigned long)c);
    i += n;
  }
  *out = 0;
  return result;
}
#endif

// ---- the command line ----

#ifdef _WIN32
// A heap copy of the UTF-16 text in the code page; null on failure.
static char *FromWide(UINT codePage, const wchar_t *text) {
  int size = WideCharToMultiByte(codePage, 0, text, -1, NULL, 0, NULL, NULL);
  if (size <= 0) return NULL;
  char *result = (char *)malloc((size_t)size);
  if (!result) return NULL;
  if (WideCharToMultiByte(codePage, 0, text, -1, result, size, NULL, NULL) != size) {
    free(result);
    return NULL;
  }
  return result;
}
#endif

// Builds the vector for StartJavaVm from the process's own arguments, without
// the program name: "-J" options as the runtime expects them (the ANSI code
// page on Windows, the bytes as given elsewhere), the path behind "-jvm" in
// UTF-8, application arguments in modified UTF-8 (decoded from the locale's
// encoding on POSIX systems, from UTF-16 on Windows).  The walk is StartJavaVm's
// own, so each argument is converted for the role that it will play there.
// Also notes the last "-JXss" size.  0 when out of memory.
static int BuildArgumentVector(int argc, char **argv) {
  mainStackSize = DEFAULT_MAIN_STACK_SIZE;
#ifdef _WIN32
  // The runtime's argv is in the ANSI code page; take the real text.
  (void)argc;
  (void)argv;
  int count = 0;
  wchar_t **wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!wide) return 0;
#else
  int count = argc;
#endif
  int total = count > 0 ? count - 1 : 0;
  argumentVector = (char **)calloc((size_t)total + 1, sizeof(char *));
  if (!argumentVector) return 0;
  argumentCount = total;
  int pathNext = 0;
  for (int i = 0; i < total; i++) {
#ifdef _WIN32
    char *utf8 = FromWide(CP_UTF8, wide[i + 1]);
    if (!utf8) return 0;
    const char *given = utf8;
#else
    const char *given = argv[i + 1];
#endif
    char *converted;
    if (pathNext) {
      converted = JoinStrings(given, NULL, NULL, NULL);
      pathNext = 0;
    } else if (strncmp(given, "-J", 2) == 0) {
#ifdef _WIN32
      converted = FromWide(CP_ACP, wide[i + 1]);
#else
      converted = JoinStrings(given, NULL, NULL, NULL);
#endif
      if (strncmp(given, "-JXss", 5) == 0) {
        char *end = NULL;
        double size = strtod(given + 5, &end);
        double unit = 1;
        if (end && (*end == 'k' || *end == 'K')) unit = 1024.0;
        if (end && (*end == 'm' || *end == 'M')) unit = 1024.0 * 1024.0;
        if (end && (*end == 'g' || *end == 'G')) unit = 1024.0 * 1024.0 * 1024.0;
        // Below what the runtime accepts or absurdly large: keep the default
        // and let the runtime judge the option itself.
        if (size * unit >= 64.0 * 1024.0 && size * unit <= 1024.0 * 1024.0 * 1024.0)
          mainStackSize = (size_t)(size * unit) + 256u * 1024u;
      }
    } else if (strcmp(given, "-jvm") == 0) {
      converted = JoinStrings(given, NULL, NULL, NULL);
      pathNext = 1;
    } else {
      converted = DecodeArgument(given);
    }
#ifdef _WIN32
    free(utf8);
#endif
    if (!converted) return 0;
    argumentVector[i] = converted;
  }
#ifdef _WIN32
  LocalFree(wide);
#endif
  return 1;
}

// ---- finding a Java runtime ----

// The folder that holds the running executable, with a trailing separator, as
// a heap string; null when it cannot be told.
static char *ExecutableFolder(void) {
#ifdef _WIN32
  wchar_t path[4096];
  DWORD length = GetModuleFileNameW(NULL, path, 4096);
  if (length == 0 || length >= 4096) return NULL;
  wchar_t *slash = wcsrchr(path, L'\\');
  wchar_t *other = wcsrchr(path, L'/');
  if (other > slash) slash = other;
  if (!slash) return NULL;
  slash[1] = 0;
  return FromWide(CP_UTF8, path);
#else
  char path[PATH_MAX + 1];
  ssize_t length = readlink("/proc/self/exe", path, PATH_MAX);
  if (length <= 0) return NULL;
  path[length] = 0;
  char *slash = strrchr(path, '/');
  if (!slash) return NULL;
  slash[1] = 0;
  return JoinStrings(path, NULL, NULL, NULL);
#endif
}

// 1 when the UTF-8 path names an existing file (not a folder).
static int IsFile(const char *path) {
#ifdef _WIN32
  int size = MultiByteToWideChar(CP_UTF8, 0, path, -1, NULL, 0);
  if (size <= 0) return 0;
  wchar_t *wide = (wchar_t *)malloc((size_t)size * sizeof(wchar_t));
  if (!wide) return 0;
  MultiByteToWideChar(CP_UTF8, 0, path, -1, wide, size);
  DWORD attributes = GetFileAttributesW(wide);
  free(wide);
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
#else
  struct stat status;
  return stat(path, &status) == 0 && S_ISREG(status.st_mode);
#endif
}

// The value of JAVA_HOME in UTF-8 as a heap string, or null when it is not
// set or empty.
static char *JavaHome(void) {
#ifdef _WIN32
  const wchar_t *value = _wgetenv(L"JAVA_HOME");
  if (!value || !*value) return NULL;
  return FromWide(CP_UTF8, value);
#else
  const char *value = getenv("JAVA_HOME");
  if (!value || !*value) return NULL;
  return JoinStrings(value, NULL, NULL, NULL);
#endif
}

// Appends text to the list of places looked at (in messageBuffer), with a
// comma before every entry but the first; cut quietly when full.
static void NoteLookedAt(const char *text) {
  size_t used = strlen(messageBuffer);
  snprintf(messageBuffer + used, sizeof messageBuffer - used, "%s%s", used ? ", " : "", text);
}

// The JVM library under a runtime's home folder (which may or may not end in
// a separator), as a heap string; null when there is none, and then the
// label goes to the list of places looked at.
static char *FindLibraryUnder(const char *home, const char *label) {
  size_t length = strlen(home);
  int hasSeparator = length > 0 && (home[length - 1] == '/' || home[length - 1] == '\\');
  for (size_t i = 0; i < COUNT_OF(kJvmLibraries); i++) {
    char *candidate = JoinStrings(home, hasSeparator ? "" : PATH_SEPARATOR, kJvmLibraries[i], NULL);
    if (!candidate) return NULL;
    if (IsFile(candidate)) return candidate;
    free(candidate);
  }
  NoteLookedAt(label);
  return NULL;
}

// Looks for a runtime bundled beside the executable (jre, then runtime), then
// under JAVA_HOME.  The JVM library's path as a heap string, or null with
// messageBuffer listing the places looked at.
static char *FindJavaRuntime(void) {
  messageBuffer[0] = 0;
  char *folder = ExecutableFolder();
  if (folder) {
    for (size_t i = 0; i < COUNT_OF(kRuntimeFolders); i++) {
      char *home = JoinStrings(folder, kRuntimeFolders[i], NULL, NULL);
      char *library = home ? FindLibraryUnder(home, home) : NULL;
      free(home);
      if (library) {
        free(folder);
        return library;
      }
    }
    free(folder);
  }
  char *javaHome = JavaHome();
  if (!javaHome) {
    NoteLookedAt("JAVA_HOME (not set)");
    return NULL;
  }
  char *label = JoinStrings("JAVA_HOME (", javaHome, ")", NULL);
  char *library = label ? FindLibraryUnder(javaHome, label) : NULL;
  free(label);
  free(javaHome);
  return library;
}

#ifdef _WIN32
// A runtime's own DLLs (the C runtime that jvm.dll imports among them) sit in
// its bin folder, two levels above jvm.dll; the loader does not look there by
// itself.
static void AddRuntimeDllFolder(const char *library) {
  int size = MultiByteToWideChar(CP_UTF8, 0, library, -1, NULL, 0);
  if (size <= 0) return;
  wchar_t *folder = (wchar_t *)malloc((size_t)size * sizeof(wchar_t));
  if (!folder) return;
  MultiByteToWideChar(CP_UTF8, 0, library, -1, folder, size);
  for (int level = 0; level < 2; level++) {
    wchar_t *slash = wcsrchr(folder, L'\\');
    wchar_t *other = wcsrchr(folder, L'/');
    if (other > slash) slash = other;
    if (!slash) {
      free(folder);
      return;
    }
    *slash = 0;
  }
  SetDllDirectoryW(folder);
  free(folder);
}
#endif

// 1 when the command line has a "-jvm", with the path behind the last one as
// StartJavaVm will take it (null when that "-jvm" ends the line); else 0.
static int FindExplicitJvm(const char **path) {
  int found = 0;
  *path = NULL;
  for (int i = 0; i < argumentCount; i++) {
    if (strncmp(argumentVector[i], "-J", 2) == 0) continue;
    if (strcmp(argumentVector[i], "-jvm") == 0) {
      found = 1;
      i++;
      *path = argumentVector[i];  // the ending null entry when "-jvm" is last
    }
  }
  return found;
}

// ---- running the application ----

// The message of a failed JNI step: the pending exception's report, else the
// fallback text.
static const char *FailureMessage(JNIEnv *env, const char *fallback) {
  const char *report = NULL;
  ReportJavaException(env, &report);
  return report ? report : fallback;
}

// Sets the calling thread's context class loader to the loader of `cls`.
// 1, or 0 with an exception possibly pending.
static int SetContextClassLoader(JNIEnv *env, jclass cls) {
  int ok = 0;
  jclass classClass = env->FindClass("java/lang/Class");
  jclass threadClass = env->FindClass("java/lang/Thread");
  jobject loader = NULL;
  jobject thread = NULL;
  if (classClass && threadClass) {
    jmethodID getClassLoader = env->GetMethodID(classClass, "getClassLoader", "()Ljava/lang/ClassLoader;");
    jmethodID currentThread = getClassLoader ? env->GetStaticMethodID(threadClass, "currentThread", "()Ljava/lang/Thread;") : NULL;
    jmethodID setContext = currentThread ? env->GetMethodID(threadClass, "setContextClassLoader", "(Ljava/lang/ClassLoader;)V") : NULL;
    if (setContext) loader = env->CallObjectMethod(cls, getClassLoader);
    if (setContext && !env->ExceptionCheck()) thread = env->CallStaticObjectMethod(threadClass, currentThread);
    if (thread && !env->ExceptionCheck()) {
      env->CallVoidMethod(thread, setContext, loader);
      ok = !env->ExceptionCheck();
    }
  }
  if (thread) env->DeleteLocalRef(thread);
  if (loader) env->DeleteLocalRef(loader);
  if (threadClass) env->DeleteLocalRef(threadClass);
  if (classClass) env->DeleteLocalRef(classClass);
  return ok;
}

// Ends the process with exit code 1 after an uncaught exception: through
// System.exit, so that the application's shutdown hooks run as they would
// after any other exit, and through exit if that call comes back.
static void ExitAfterException(JNIEnv *env) {
  jclass systemClass = env->FindClass("java/lang/System");
  jmethodID exitMethod = systemClass ? env->GetStaticMethodID(systemClass, "exit", "(I)V") : NULL;
  if (exitMethod) env->CallStaticVoidMethod(systemClass, exitMethod, (jint)1);
  exit(1);
}

// The message for a failed StartJavaVm: its own text, with the library's
// path when that could not be loaded, or with the places looked at when no
// runtime was found (`looked`, null when "-jvm" was given).
static const char *VmFailureMessage(const char *message, const char *library, const char *looked) {
  static char composed[sizeof messageBuffer + 512];
  if (library && (strcmp(message, "Could not load JVM library") == 0 ||
                  strcmp(message, "Could not get JVM entry point") == 0)) {
    snprintf(composed, sizeof composed, kLibraryFailed, message, library);
    return composed;
  }
  if (!library && looked) {
    snprintf(composed, sizeof composed, kNoRuntimeFound, message, kJvmLibraryNames, looked);
    return composed;
  }
  return message;
}

// The whole road; the exit code (when the application itself does not end the
// process).
static int RunApplication(void) {
  const char *message = NULL;
  if (!OpenPayload(&message)) {
    ShowMessage(message);
    return 1;
  }

  // Without "-jvm", a runtime that we find goes in front as "-jvm PATH".
  const char *library = NULL;
  const char *looked = NULL;
  int count = argumentCount;
  char **vector = argumentVector;
  if (!FindExplicitJvm(&library)) {
    char *found = FindJavaRuntime();
    if (found) {
      vector = (char **)calloc((size_t)argumentCount + 3, sizeof(char *));
      if (!vector) {
        ShowMessage(kMemoryFailed);
        return 1;
      }
      static char jvmOption[] = "-jvm";
      vector[0] = jvmOption;
      vector[1] = found;
      memcpy(vector + 2, argumentVector, (size_t)argumentCount * sizeof(char *));
      count = argumentCount + 2;
      library = found;
    } else {
      looked = messageBuffer;
    }
  }
#ifdef _WIN32
  if (library) AddRuntimeDllFolder(library);
#endif

  JavaVM *vm = NULL;
  JNIEnv *env = NULL;
  int applicationCount = 0;
  char **applicationArguments = NULL;
  if (!StartJavaVm(count, vector, &vm, &env, &applicationCount, &applicationArguments, &message)) {
    ShowMessage(VmFailureMessage(message, library, looked));
    return 1;
  }

  jclass mainClass = LoadMainClass(env, &message);
  if (!mainClass) {
    ShowMessage(message);
    return 1;
  }
  jobjectArray arguments = MakeStringArray(env, applicationCount, applicationArguments, &message);
  free(applicationArguments);
  if (message || !arguments) {
    ShowMessage(message ? message : kMemoryFailed);
    return 1;
  }
  if (!SetContextClassLoader(env, mainClass)) {
    ShowMessage(FailureMessage(env, kSetContextLoaderFailed));
    return 1;
  }
  jmethodID mainMethod = env->GetStaticMethodID(mainClass, "main", "([Ljava/lang/String;)V");
  if (!mainMethod) {
    env->ExceptionClear();
    snprintf(messageBuffer, sizeof messageBuffer, kMainNotFound, FindProperty("Main-Class"));
    ShowMessage(messageBuffer);
    return 1;
  }

  env->CallStaticVoidMethod(mainClass, mainMethod, arguments);
  if (env->ExceptionCheck()) {
    ReportJavaException(env, &message);
    if (message) ShowMessage(message);
    ExitAfterException(env);
  }
  env->DeleteLocalRef(arguments);
  env->DeleteLocalRef(mainClass);

  // Waits until every non-daemon thread has ended; System.exit on any of them
  // ends the process from inside with its own code.
  vm->DestroyJavaVM();
  return 0;
}

#ifdef _WIN32
static DWORD WINAPI MainThread(LPVOID) { return (DWORD)RunApplication(); }
#else
static void *MainThread(void *) { return (void *)(intptr_t)RunApplication(); }
#endif

int main(int argc, char **argv) {
#ifndef _WIN32
  setlocale(LC_CTYPE, "");  // the encoding of the arguments
#endif
  if (!BuildArgumentVector(argc, argv)) {
    ShowMessage(kMemoryFailed);
    return 1;
  }
#ifdef _WIN32
  HANDLE thread = CreateThread(NULL, mainStackSize, MainThread, NULL, STACK_SIZE_PARAM_IS_A_RESERVATION, NULL);
  if (!thread) {
    ShowMessage(kThreadFailed);
    return 1;
  }
  WaitForSingleObject(thread, INFINITE);
  DWORD code = 1;
  GetExitCodeThread(thread, &code);
  CloseHandle(thread);
  return (int)code;
#else
  pthread_attr_t attributes;
  pthread_t thread;
  void *code = NULL;
  if (pthread_attr_init(&attributes) != 0 || pthread_attr_setstacksize(&attributes, mainStackSize) != 0 ||
      pthread_create(&thread, &attributes, MainThread, NULL) != 0) {
    ShowMessage(kThreadFailed);
    return 1;
  }
  pthread_attr_destroy(&attributes);
  pthread_join(thread, &code);
  return (int)(intptr_t)code;
#endif
}
