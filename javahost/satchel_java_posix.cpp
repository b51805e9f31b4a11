// satchel-java's POSIX half (see satchel_java.h): runtime discovery under
// the executable's folder, JAVA_HOME and the java on the PATH, arguments in
// the locale's encoding, messages on standard error, and the thread that runs
// the application.
#include <dlfcn.h>
#include <limits.h>
#include <locale.h>
#include <pthread.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>
#include <wchar.h>

#include "javahost_messages.h"
#include "payload.h"
#include "satchel_java.h"

// ---- runtime discovery ----

#if defined(__x86_64__)
#define JAVA8_ARCH "amd64"
#elif defined(__i386__)
#define JAVA8_ARCH "i386"
#elif defined(__aarch64__)
#define JAVA8_ARCH "aarch64"
#endif
#ifdef JAVA8_ARCH
const char *const jvmLibraries[] = {"lib/server/libjvm.so", "lib/" JAVA8_ARCH "/server/libjvm.so",
                                    "jre/lib/" JAVA8_ARCH "/server/libjvm.so"};
const char jvmLibraryNames[] = "lib/server/libjvm.so (or lib/" JAVA8_ARCH "/server/libjvm.so, "
                               "jre/lib/" JAVA8_ARCH "/server/libjvm.so)";
#else
const char *const jvmLibraries[] = {"lib/server/libjvm.so"};
const char jvmLibraryNames[] = "lib/server/libjvm.so";
#endif
const size_t jvmLibraryCount = sizeof jvmLibraries / sizeof jvmLibraries[0];
const char pathSeparator[] = "/";

static char *Copy(const char *text) {
  size_t length = strlen(text);
  char *copy = (char *)malloc(length + 1);
  if (copy) memcpy(copy, text, length + 1);
  return copy;
}

char *ExecutableFolder(void) {
  char path[PATH_MAX + 1];
  ssize_t length = readlink("/proc/self/exe", path, PATH_MAX);
  if (length <= 0) return NULL;
  path[length] = 0;
  char *slash = strrchr(path, '/');
  if (!slash) return NULL;
  slash[1] = 0;
  return Copy(path);
}

int IsFile(const char *path) {
  struct stat status;
  return stat(path, &status) == 0 && S_ISREG(status.st_mode);
}

char *JavaHome(void) {
  const char *value = getenv("JAVA_HOME");
  if (!value || !*value) return NULL;
  return Copy(value);
}

FILE *OpenForReading(const char *path) { return fopen(path, "rb"); }

// The home of the runtime whose java the PATH finds, through every symbolic
// link (/usr/bin/java -> /etc/alternatives/java -> .../bin/java), as a heap
// string; null when the PATH has no java.  An empty entry is the current
// folder, as for the shell.
static char *JavaHomeFromPath(void) {
  const char *path = getenv("PATH");
  while (path && *path) {
    const char *end = strchr(path, ':');
    size_t length = end ? (size_t)(end - path) : strlen(path);
    char candidate[PATH_MAX];
    char resolved[PATH_MAX];
    if (length + 6 < sizeof candidate) {
      if (length) memcpy(candidate, path, length);
      else candidate[length++] = '.';
      memcpy(candidate + length, "/java", 6);
      if (access(candidate, X_OK) == 0 && IsFile(candidate) && realpath(candidate, resolved)) {
        // .../bin/java: the home is two levels up.
        for (int level = 0; level < 2; level++) {
          char *slash = strrchr(resolved, '/');
          if (!slash) return NULL;
          *slash = 0;
        }
        return Copy(resolved[0] ? resolved : "/");
      }
    }
    if (!end) break;
    path = end + 1;
  }
  return NULL;
}

char *FindInstalledRuntime(int *) {
  char *home = JavaHomeFromPath();
  if (!home) {
    NoteLookedAt("java on the PATH (none)");
    return NULL;
  }
  char *label = JoinStrings("java on the PATH (", home, ")", NULL);
  char *library = label ? TryRuntimeHome(home, label, 0) : NULL;
  free(label);
  free(home);
  return library;
}

// The loader finds a runtime's own libraries through the JVM library's
// run-time search path; nothing to do.
void PrepareRuntime(const char *) {}

#if defined(__x86_64__)
const char ownMachine[] = "x86-64";
#elif defined(__i386__)
const char ownMachine[] = "x86 (32-bit)";
#elif defined(__aarch64__)
const char ownMachine[] = "ARM64";
#elif defined(__arm__)
const char ownMachine[] = "ARM (32-bit)";
#else
const char ownMachine[] = "this machine";
#endif

// From the ELF header's e_machine (little-endian files only).
const char *LibraryMachine(const unsigned char *head, size_t size) {
  if (size < 20 || memcmp(head, "\x7f" "ELF", 4) != 0 || head[5] != 1) return NULL;
  unsigned machine = head[18] | head[19] << 8;
  if (machine == 3) return "x86 (32-bit)";
  if (machine == 62) return "x86-64";
  if (machine == 183) return "ARM64";
  if (machine == 40) return "ARM (32-bit)";
  return NULL;
}

const char *SystemLoadError(const char *path) {
  static char reason[1024];
  const char *text = dlopen(path, RTLD_NOW | RTLD_GLOBAL) ? NULL : dlerror();
  snprintf(reason, sizeof reason, "%s", text ? text : JAVA_MSG_NO_SYSTEM_REASON);
  return reason;
}

// ---- argument decoding ----

static char **processArguments;

int OpenCommandLine(int argc, char **argv) {
  processArguments = argv;
  return argc > 0 ? argc - 1 : 0;
}

char *CommandLineArgument(int index) { return Copy(processArguments[index + 1]); }

char *VmOptionArgument(int, const char *given) { return Copy(given); }

// A heap copy, in modified UTF-8, of an argument in the encoding of the
// user's locale, decoded the way the Java runtime decodes its own launcher's
// arguments: a byte that starts no character of that encoding becomes
// U+FFFD (so in the plain C locale every byte above 0x7F does).  Null when
// out of memory.
char *ApplicationArgument(const char *text) {
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
    out = PutModifiedUtf8(out, (uint32_t)c);
    i += n;
  }
  *out = 0;
  return result;
}

void CloseCommandLine(void) { processArguments = NULL; }

// ---- message display ----

void ShowMessage(const char *message) {
  fprintf(stderr, "%s\n", message);
  fflush(stderr);
}

// ---- thread start ----

// The arguments come in the encoding of the user's locale.
void PrepareProcess(void) { setlocale(LC_CTYPE, ""); }

static int (*threadRun)(void);

static void *ThreadMain(void *) { return (void *)(intptr_t)threadRun(); }

int RunOnOwnThread(size_t stackSize, int (*run)(void)) {
  pthread_attr_t attributes;
  pthread_t thread;
  void *code = NULL;
  threadRun = run;
  if (pthread_attr_init(&attributes) != 0 || pthread_attr_setstacksize(&attributes, stackSize) != 0 ||
      pthread_create(&thread, &attributes, ThreadMain, NULL) != 0)
    return -1;
  pthread_attr_destroy(&attributes);
  pthread_join(thread, &code);
  return (int)(intptr_t)code;
}
