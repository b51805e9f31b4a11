// satchel-java: runs the Java application held in the payload appended to
// this very executable.
//
//   satchel-java [-JOPTION]... [-jvm LIBJVM] [ARGUMENT]...
//
// The road, in order: the payload index of the running executable, a Java
// runtime (the "-jvm" path, else one bundled beside the executable in jre/ or
// runtime/, else JAVA_HOME, else on Windows the registry and elsewhere the
// java on the PATH; runtimes older than the bundle's "Java-Min-Version" are
// passed over), the virtual machine with what the bundle asks of it in front
// of the user's own options, the main class from the payload, the arguments
// as a String[], the manifest's launcher agent, and the class's static
// main(String[]) with the payload loader as the thread's context class loader.
//
// Exit codes: what System.exit gives; 0 once main has returned and every
// non-daemon thread has ended; 1 after a failure of any step, whose message
// goes to standard error where a reader sees it and otherwise to a warning
// box on Windows, and 1 after an uncaught exception in main once every
// non-daemon thread has ended (the exception goes to the application's
// uncaught exception handler when it set one, else it is reported like a
// failure).
//
// This file is the road, the same on every system; satchel_java.h names what
// the system's own half (satchel_java_win32.cpp, satchel_java_posix.cpp)
// provides: runtime discovery, argument decoding, message display and the
// thread start.
//
// Everything runs on a thread of our own rather than on the process's first
// thread: the virtual machine then knows the thread's real stack bounds and
// can guard them (a deep recursion gives StackOverflowError, not a crash),
// and a "-JXss" size applies to main as it does under other launchers.
#include "satchel_java.h"

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <jni.h>

#include "javahost.h"
#include "payload.h"

// Runtimes bundled beside the executable, in the order tried.
static const char *const kRuntimeFolders[] = {"jre", "runtime"};

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
static char passedOver[2048];    // runtimes found but too old, with release
static int minimumRelease;       // the bundle's "Java-Min-Version"; 0: any
static int userSetStackSize;     // a "-JXss" stands on the command line
static char **bundleOptions;     // "-J" arguments of the bundle's own, put
static int *bundleOptionReleases;// in front of the user's, each with the
static int bundleOptionCount;    // first release that knows it (0: any)
static int chosenRelease;        // the release of the runtime found; 0: not known

char *JoinStrings(const char *a, const char *b, const char *c, const char *d) {
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

char *PutModifiedUtf8(char *out, unsigned long c) {
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

// ---- the command line ----

// The size that an "-Xss" option asks for (the text behind "-Xss"), plus room
// for our own frames; the size so far when it is below what the runtime
// accepts or absurdly large (the runtime then judges the option itself).
static size_t MainStackSizeFor(const char *text) {
  char *end = NULL;
  double size = strtod(text, &end);
  double unit = 1;
  if (end && (*end == 'k' || *end == 'K')) unit = 1024.0;
  if (end && (*end == 'm' || *end == 'M')) unit = 1024.0 * 1024.0;
  if (end && (*end == 'g' || *end == 'G')) unit = 1024.0 * 1024.0 * 1024.0;
  if (size * unit >= 64.0 * 1024.0 && size * unit <= 1024.0 * 1024.0 * 1024.0)
    return (size_t)(size * unit) + 256u * 1024u;
  return mainStackSize;
}

// Builds the vector for StartJavaVm from the process's own arguments, without
// the program name: "-J" options as the runtime expects them, the path behind
// "-jvm" in UTF-8, application arguments in modified UTF-8.  The walk is
// StartJavaVm's own, so each argument is converted for the role that it will
// play there.  Also notes the last "-JXss" size.  0 when out of memory.
static int BuildArgumentVector(int argc, char **argv) {
  mainStackSize = DEFAULT_MAIN_STACK_SIZE;
  int total = OpenCommandLine(argc, argv);
  if (total < 0) return 0;
  argumentVector = (char **)calloc((size_t)total + 1, sizeof(char *));
  if (!argumentVector) return 0;
  argumentCount = total;
  int pathNext = 0;
  for (int i = 0; i < total; i++) {
    char *given = CommandLineArgument(i);
    if (!given) return 0;
    char *converted;
    if (pathNext) {
      converted = JoinStrings(given, NULL, NULL, NULL);
      pathNext = 0;
    } else if (strncmp(given, "-J", 2) == 0) {
      converted = VmOptionArgument(i, given);
      if (strncmp(given, "-JXss", 5) == 0) {
        mainStackSize = MainStackSizeFor(given + 5);
        userSetStackSize = 1;
      }
    } else if (strcmp(given, "-jvm") == 0) {
      converted = JoinStrings(given, NULL, NULL, NULL);
      pathNext = 1;
    } else {
      converted = ApplicationArgument(given);
    }
    free(given);
    if (!converted) return 0;
    argumentVector[i] = converted;
  }
  CloseCommandLine();
  return 1;
}

// ---- finding a Java runtime ----

// Appends text to the list of places looked at (in messageBuffer), with a
// comma before every entry but the first; cut quietly when full.
void NoteLookedAt(const char *text) {
  size_t used = strlen(messageBuffer);
  snprintf(messageBuffer + used, sizeof messageBuffer - used, "%s%s", used ? ", " : "", text);
}

// The JVM library under a runtime's home folder (which may or may not end in
// a separator), as a heap string; null when there is none, and then the
// label goes to the list of places looked at.
static char *FindLibraryUnder(const char *home, const char *label) {
  size_t length = strlen(home);
  int hasSeparator = length > 0 && (home[length - 1] == '/' || home[length - 1] == '\\');
  for (size_t i = 0; i < jvmLibraryCount; i++) {
    char *candidate = JoinStrings(home, hasSeparator ? "" : pathSeparator, jvmLibraries[i], NULL);
    if (!candidate) return NULL;
    if (IsFile(candidate)) return candidate;
    free(candidate);
  }
  NoteLookedAt(label);
  return NULL;
}

int ReleaseOfVersion(const char *version) {
  if (strncmp(version, "1.", 2) == 0) version += 2;
  int release = 0;
  while (*version >= '0' && *version <= '9' && release < 100000) release = release * 10 + (*version++ - '0');
  return release;
}

// The release of the runtime under `home`, from the JAVA_VERSION line of its
// "release" file; 0 when that cannot be told.
static int RuntimeRelease(const char *home) {
  size_t length = strlen(home);
  int hasSeparator = length > 0 && (home[length - 1] == '/' || home[length - 1] == '\\');
  char *path = JoinStrings(home, hasSeparator ? "" : pathSeparator, "release", NULL);
  FILE *file = path ? OpenForReading(path) : NULL;
  free(path);
  if (!file) return 0;
  int release = 0;
  char line[512];
  while (!release && fgets(line, sizeof line, file))
    if (strncmp(line, "JAVA_VERSION=\"", 14) == 0) release = ReleaseOfVersion(line + 14);
  fclose(file);
  return release;
}

int RecentEnough(const char *label, int release) {
  if (!minimumRelease || !release || release >= minimumRelease) return 1;
  size_t used = strlen(passedOver);
  snprintf(passedOver + used, sizeof passedOver - used, "%s%s (Java %d)", used ? ", " : "", label, release);
  return 0;
}

char *TryRuntimeHome(const char *home, const char *label, int release) {
  char *library = FindLibraryUnder(home, label);
  if (!library) return NULL;
  if (!release) release = RuntimeRelease(home);
  if (RecentEnough(label, release)) {
    chosenRelease = release;
    return library;
  }
  free(library);
  return NULL;
}

// Looks for a runtime bundled beside the executable (jre, then runtime), then
// under JAVA_HOME, then where the system keeps them; runtimes older than the
// bundle asks for are passed over.  The JVM library's path as a heap string,
// or null with messageBuffer listing the places looked at and passedOver the
// runtimes too old (or, on Windows, *legacyKey set: see FindInstalledRuntime).
static char *FindJavaRuntime(int *legacyKey) {
  messageBuffer[0] = 0;
  passedOver[0] = 0;
  *legacyKey = 0;
  char *folder = ExecutableFolder();
  if (folder) {
    for (size_t i = 0; i < sizeof kRuntimeFolders / sizeof kRuntimeFolders[0]; i++) {
      char *home = JoinStrings(folder, kRuntimeFolders[i], NULL, NULL);
      char *library = home ? TryRuntimeHome(home, home, 0) : NULL;
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
  } else {
    char *label = JoinStrings("JAVA_HOME (", javaHome, ")", NULL);
    char *library = label ? TryRuntimeHome(javaHome, label, 0) : NULL;
    free(label);
    free(javaHome);
    if (library) return library;
  }
  return FindInstalledRuntime(legacyKey);
}

// Why the JVM library at `path` does not load: it is not there, its header
// names another machine, or the system's own reason.
static const char *LoadFailureReason(const char *path) {
  static char reason[256];
  if (!IsFile(path)) return JAVA_MSG_LIBRARY_NOT_FOUND;
  unsigned char head[4096];
  FILE *file = OpenForReading(path);
  size_t got = file ? fread(head, 1, sizeof head, file) : 0;
  if (file) fclose(file);
  const char *machine = LibraryMachine(head, got);
  if (machine && strcmp(machine, ownMachine) != 0) {
    snprintf(reason, sizeof reason, JAVA_MSG_WRONG_MACHINE_FORMAT, machine, ownMachine);
    return reason;
  }
  return SystemLoadError(path);
}

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

// ---- what the bundle asks of the virtual machine ----

// Adds one "-J" argument for the virtual machine option prefix + middle +
// suffix (the prefix begins with "-"), which runtimes before `release` do not
// know (0: all do).  0 when out of memory.
static int AddBundleOption(int release, const char *prefix, const char *middle, const char *suffix) {
  char **grown = (char **)realloc(bundleOptions, ((size_t)bundleOptionCount + 1) * sizeof(char *));
  if (!grown) return 0;
  bundleOptions = grown;
  int *releases = (int *)realloc(bundleOptionReleases, ((size_t)bundleOptionCount + 1) * sizeof(int));
  if (!releases) return 0;
  bundleOptionReleases = releases;
  bundleOptionReleases[bundleOptionCount] = release;
  // "-J" and the option without its first dash: StartJavaVm puts the dash back.
  char *option = JoinStrings("-J", prefix + 1, middle, suffix);
  if (!option) return 0;
  bundleOptions[bundleOptionCount++] = option;
  return 1;
}

// Adds one option per space-separated item of a property's value.  0 when
// out of memory.
static int AddOptionPerItem(int release, const char *property, const char *prefix, const char *suffix) {
  const char *value = FindProperty(property);
  while (value && *value) {
    while (*value == ' ') value++;
    size_t length = strcspn(value, " ");
    if (length) {
      char *item = (char *)malloc(length + 1);
      if (!item) return 0;
      memcpy(item, value, length);
      item[length] = 0;
      int added = AddBundleOption(release, prefix, item, suffix);
      free(item);
      if (!added) return 0;
    }
    value += length;
  }
  return 1;
}

// The bundle's own options, as java -jar takes them from a manifest (Add-Opens
// and Add-Exports to every unnamed module, Enable-Native-Access; a runtime
// too old to know the option ignores the attribute under java -jar, and
// does not get the option here), then the
// packager's "Java-Options", one per line; also the oldest release that the
// bundle runs on, and the stack of the thread that runs everything when the
// command line does not set it.  0 when out of memory.
static int ReadBundleOptions(void) {
  const char *release = FindProperty("Java-Min-Version");
  minimumRelease = release ? ReleaseOfVersion(release) : 0;
  if (!AddOptionPerItem(9, "Add-Opens", "--add-opens=", "=ALL-UNNAMED") ||
      !AddOptionPerItem(9, "Add-Exports", "--add-exports=", "=ALL-UNNAMED"))
    return 0;
  const char *nativeAccess = FindProperty("Enable-Native-Access");
  if (nativeAccess && strcmp(nativeAccess, "ALL-UNNAMED") == 0 &&
      !AddBundleOption(17, "--enable-native-access=ALL-UNNAMED", NULL, NULL))
    return 0;
  const char *options = FindProperty("Java-Options");
  while (options && *options) {
    size_t length = strcspn(options, "\n");
    char *option = (char *)malloc(length + 1);
    if (!option) return 0;
    memcpy(option, options, length);
    option[length] = 0;
    if (strncmp(option, "-Xss", 4) == 0 && !userSetStackSize) mainStackSize = MainStackSizeFor(option + 4);
    int added = option[0] == '-' ? AddBundleOption(0, option, NULL, NULL) : 1;
    free(option);
    if (!added) return 0;
    options += length;
    if (*options == '\n') options++;
  }
  return 1;
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
  // A failed lookup leaves its exception pending, and no JNI call but the
  // exception functions may follow it: each result is tested first.
  jclass classClass = env->FindClass("java/lang/Class");
  jclass threadClass = classClass ? env->FindClass("java/lang/Thread") : NULL;
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

// Starts the bundle's "Launcher-Agent-Class" as java -jar does before main:
// the class, loaded with the main class's loader, gets its static
// agentmain(String) called with an empty argument.  1 when there is no agent
// or it returned; 0 with the message set.
static int StartLauncherAgent(JNIEnv *env, jclass mainClass, const char **message) {
  const char *name = FindProperty("Launcher-Agent-Class");
  *message = NULL;
  if (!name) return 1;
  jclass classClass = env->FindClass("java/lang/Class");
  jmethodID forName = classClass ? env->GetStaticMethodID(classClass, "forName",
                                                         "(Ljava/lang/String;ZLjava/lang/ClassLoader;)Ljava/lang/Class;")
                                 : NULL;
  jmethodID getClassLoader = forName ? env->GetMethodID(classClass, "getClassLoader", "()Ljava/lang/ClassLoader;") : NULL;
  jobject loader = getClassLoader ? env->CallObjectMethod(mainClass, getClassLoader) : NULL;
  jstring className = loader && !env->ExceptionCheck() ? env->NewStringUTF(name) : NULL;
  jclass agent = className ? (jclass)env->CallStaticObjectMethod(classClass, forName, className, JNI_TRUE, loader) : NULL;
  if (className) env->DeleteLocalRef(className);
  if (loader) env->DeleteLocalRef(loader);
  if (classClass) env->DeleteLocalRef(classClass);
  if (!agent || env->ExceptionCheck()) {
    if (agent) env->DeleteLocalRef(agent);
    *message = FailureMessage(env, JAVA_MSG_ALLOCATION_FAILED);
    return 0;
  }
  // java -jar prefers agentmain(String, Instrumentation); an Instrumentation
  // comes only from the java.instrument agent, which reads the agent's
  // classes from a jar file, and there is none here.
  jmethodID withInstrumentation =
      env->GetStaticMethodID(agent, "agentmain", "(Ljava/lang/String;Ljava/lang/instrument/Instrumentation;)V");
  env->ExceptionClear();
  jmethodID plain = env->GetStaticMethodID(agent, "agentmain", "(Ljava/lang/String;)V");
  env->ExceptionClear();
  if (withInstrumentation || !plain) {
    snprintf(messageBuffer, sizeof messageBuffer,
             withInstrumentation ? JAVA_MSG_AGENT_NEEDS_INSTRUMENTATION_FORMAT : JAVA_MSG_AGENT_NOT_FOUND_FORMAT, name);
    env->DeleteLocalRef(agent);
    *message = messageBuffer;
    return 0;
  }
  jstring empty = env->NewStringUTF("");
  if (empty) env->CallStaticVoidMethod(agent, plain, empty);
  env->DeleteLocalRef(agent);
  if (empty) env->DeleteLocalRef(empty);
  if (!empty || env->ExceptionCheck()) {
    *message = FailureMessage(env, JAVA_MSG_ALLOCATION_FAILED);
    return 0;
  }
  return 1;
}

// After main ended with an exception (pending): hands it to the thread's
// uncaught exception handler when the application set one, as the Java
// launcher does; 1 then.  0 with the exception pending again when the
// application set none (or the handover could not be made), for our report.
static int DispatchUncaughtException(JNIEnv *env) {
  jthrowable exception = env->ExceptionOccurred();
  env->ExceptionClear();
  jclass loaderClass = env->FindClass("com/tessel/qor/kestrel/InternalClassLoader");
  jmethodID dispatch = loaderClass ? env->GetStaticMethodID(loaderClass, "dispatchUncaughtException",
                                                            "(Ljava/lang/Throwable;)Z")
                                   : NULL;
  jboolean handled = JNI_FALSE;
  if (dispatch) handled = env->CallStaticBooleanMethod(loaderClass, dispatch, exception);
  if (env->ExceptionCheck()) {
    handled = JNI_FALSE;
    env->ExceptionClear();
  }
  if (!handled) env->Throw(exception);
  if (loaderClass) env->DeleteLocalRef(loaderClass);
  env->DeleteLocalRef(exception);
  return handled ? 1 : 0;
}

// Sets a system property; a failure is ignored (and its exception cleared).
static void SetSystemProperty(JNIEnv *env, const char *key, jstring value) {
  jclass systemClass = env->FindClass("java/lang/System");
  jmethodID setProperty = systemClass ? env->GetStaticMethodID(systemClass, "setProperty",
                                                               "(Ljava/lang/String;Ljava/lang/String;)Ljava/lang/String;")
                                      : NULL;
  jstring keyText = setProperty ? env->NewStringUTF(key) : NULL;
  if (keyText && value) {
    jobject old = env->CallStaticObjectMethod(systemClass, setProperty, keyText, value);
    if (env->ExceptionCheck()) env->ExceptionClear();
    if (old) env->DeleteLocalRef(old);
  }
  if (env->ExceptionCheck()) env->ExceptionClear();
  if (keyText) env->DeleteLocalRef(keyText);
  if (systemClass) env->DeleteLocalRef(systemClass);
}

// 1 when the system property has a non-empty value; a failure is ignored.
static int HasSystemProperty(JNIEnv *env, const char *key) {
  jclass systemClass = env->FindClass("java/lang/System");
  jmethodID getProperty =
      systemClass ? env->GetStaticMethodID(systemClass, "getProperty", "(Ljava/lang/String;)Ljava/lang/String;") : NULL;
  jstring keyText = getProperty ? env->NewStringUTF(key) : NULL;
  jstring value = keyText ? (jstring)env->CallStaticObjectMethod(systemClass, getProperty, keyText) : NULL;
  int has = value && !env->ExceptionCheck() && env->GetStringLength(value) > 0;
  if (env->ExceptionCheck()) env->ExceptionClear();
  if (value) env->DeleteLocalRef(value);
  if (keyText) env->DeleteLocalRef(keyText);
  if (systemClass) env->DeleteLocalRef(systemClass);
  return has;
}

// What the Java launcher tells the application about how it was started:
// "sun.java.command" is the main class and the arguments (modified UTF-8);
// "java.class.path" is ".", what java gives without a class path, unless the
// user gave one.  No jar of the class path exists here, and "." makes the
// fewest applications differ from "java -cp": tools that read the class path
// themselves take the executable for a damaged jar (the Eclipse compiler
// prints "incorrect classpath") and an empty one for none at all ("no
// classpath defined").  The class loaders never see the value: it is set
// after they were made.  Failures change nothing else and are ignored.
static void SetLaunchProperties(JNIEnv *env, int count, char **arguments) {
  const char *mainClass = FindProperty("Main-Class");
  size_t length = strlen(mainClass) + 1;
  for (int i = 0; i < count; i++) length += strlen(arguments[i]) + 1;
  char *command = (char *)malloc(length);
  if (command) {
    strcpy(command, mainClass);
    for (int i = 0; i < count; i++) {
      strcat(command, " ");
      strcat(command, arguments[i]);
    }
    jstring text = env->NewStringUTF(command);
    if (env->ExceptionCheck()) env->ExceptionClear();
    SetSystemProperty(env, "sun.java.command", text);
    if (text) env->DeleteLocalRef(text);
    free(command);
  }
  if (!HasSystemProperty(env, "java.class.path")) {
    jstring current = env->NewStringUTF(".");
    if (env->ExceptionCheck()) env->ExceptionClear();
    SetSystemProperty(env, "java.class.path", current);
    if (current) env->DeleteLocalRef(current);
  }
}

// The message for a failed StartJavaVm: its own text, with the library's
// path when that could not be loaded, or with the places looked at when no
// runtime was found (`looked`, null when "-jvm" was given).
static const char *VmFailureMessage(const char *message, const char *library, const char *looked) {
  static char composed[sizeof messageBuffer + 2048];
  if (library && message == JavaVmCannotLoadLibrary) {
    snprintf(composed, sizeof composed, JAVA_MSG_LIBRARY_NOT_LOADED_FORMAT, message, library,
             LoadFailureReason(library));
    return composed;
  }
  if (library && message == JavaVmNoEntryPoint) {
    snprintf(composed, sizeof composed, JAVA_MSG_LIBRARY_FAILED_FORMAT, message, library);
    return composed;
  }
  if (!library && looked) {
    snprintf(composed, sizeof composed, JAVA_MSG_NO_RUNTIME_FOUND_FORMAT, message, jvmLibraryNames, looked);
    return composed;
  }
  return message;
}

// The whole road; the exit code (when the application itself does not end the
// process).
static int RunApplication(void) {
  const char *message = NULL;

  // Without "-jvm", a runtime that we find goes in front as "-jvm PATH".
  const char *library = NULL;
  const char *looked = NULL;
  char *found = NULL;
  if (!FindExplicitJvm(&library)) {
    int legacyKey = 0;
    found = FindJavaRuntime(&legacyKey);
    library = found;
    if (!found && !legacyKey && passedOver[0]) {
      static char composed[sizeof messageBuffer + sizeof passedOver + 512];
      snprintf(composed, sizeof composed, JAVA_MSG_ONLY_OLD_RUNTIMES_FORMAT, minimumRelease, passedOver,
               jvmLibraryNames, messageBuffer[0] ? messageBuffer : JAVA_MSG_NOWHERE_ELSE, minimumRelease);
      ShowMessage(composed);
      return 1;
    }
    if (!found && !legacyKey) looked = messageBuffer;
  }
  // The vector for StartJavaVm: the runtime found, what the bundle asks of
  // the virtual machine, then the command line, whose "-J" options thus come
  // last and win.
  int count = 0;
  char **vector = (char **)calloc((size_t)argumentCount + (size_t)bundleOptionCount + 4, sizeof(char *));
  if (!vector) {
    ShowMessage(JAVA_MSG_ALLOCATION_FAILED);
    return 1;
  }
  static char jvmOption[] = "-jvm";
  if (found) {
    vector[count++] = jvmOption;
    vector[count++] = found;
  }
  static char agentOption[] = SYSTEM_LOADER_AGENT_ARGUMENT;
  vector[count++] = agentOption;
  for (int i = 0; i < bundleOptionCount; i++)
    if (!chosenRelease || bundleOptionReleases[i] <= chosenRelease) vector[count++] = bundleOptions[i];
  if (argumentCount) memcpy(vector + count, argumentVector, (size_t)argumentCount * sizeof(char *));
  count += argumentCount;
  if (library) PrepareRuntime(library);

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
  if (message || !arguments) {
    ShowMessage(message ? message : JAVA_MSG_ALLOCATION_FAILED);
    return 1;
  }
  SetLaunchProperties(env, applicationCount, applicationArguments);
  free(applicationArguments);
  if (!SetContextClassLoader(env, mainClass)) {
    ShowMessage(FailureMessage(env, JAVA_MSG_CONTEXT_LOADER_FAILED));
    return 1;
  }
  if (!StartLauncherAgent(env, mainClass, &message)) {
    ShowMessage(message);
    return 1;
  }
  jmethodID mainMethod = env->GetStaticMethodID(mainClass, "main", "([Ljava/lang/String;)V");
  if (!mainMethod) {
    env->ExceptionClear();
    snprintf(messageBuffer, sizeof messageBuffer, JAVA_MSG_MAIN_NOT_FOUND_FORMAT, FindProperty("Main-Class"));
    ShowMessage(messageBuffer);
    return 1;
  }

  env->CallStaticVoidMethod(mainClass, mainMethod, arguments);
  int code = 0;
  if (env->ExceptionCheck()) {
    if (!DispatchUncaughtException(env)) {
      ReportJavaException(env, &message);
      if (message) ShowMessage(message);
    }
    code = 1;
  }
  env->DeleteLocalRef(arguments);
  env->DeleteLocalRef(mainClass);

  // Waits until every non-daemon thread has ended, then runs the shutdown
  // hooks; System.exit on any thread ends the process from inside with its
  // own code.
  vm->DestroyJavaVM();
  return code;
}

int main(int argc, char **argv) {
  PrepareProcess();
  if (!BuildArgumentVector(argc, argv)) {
    ShowMessage(JAVA_MSG_ALLOCATION_FAILED);
    return 1;
  }
  // The payload before the thread: the bundle's options can set its stack.
  const char *message = NULL;
  if (!OpenPayload(&message)) {
    ShowMessage(message);
    return 1;
  }
  if (!ReadBundleOptions()) {
    ShowMessage(JAVA_MSG_ALLOCATION_FAILED);
    return 1;
  }
  int code = RunOnOwnThread(mainStackSize, RunApplication);
  if (code < 0) {
    ShowMessage(JAVA_MSG_THREAD_FAILED);
    return 1;
  }
  return code;
}
