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
// This file is the road, the same on every system; front_end.h names the
// portable steps that it calls (command line, bundle options, runtime search,
// what comes before main), each in a file of its own, and satchel_java.h what
// the system's own half (satchel_java_win32.cpp, satchel_java_posix.cpp)
// provides: runtime discovery, argument decoding, message display and the
// thread start.
//
// Everything runs on a thread of our own rather than on the process's first
// thread: the virtual machine then knows the thread's real stack bounds and
// can guard them (a deep recursion gives StackOverflowError, not a crash),
// and a "-JXss" size applies to main as it does under other launchers.
#include "satchel_java.h"

#include <stdlib.h>

#include <jni.h>

#include "front_end.h"
#include "javahost.h"
#include "payload.h"

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
    if (!found && !legacyKey && OnlyOldRuntimesMessage()) {
      ShowMessage(OnlyOldRuntimesMessage());
      return 1;
    }
    if (!found && !legacyKey) looked = PlacesLookedAt();
  }
  int count = 0;
  char **vector = VmArgumentVector(found, &count);
  if (!vector) {
    ShowMessage(JAVA_MSG_ALLOCATION_FAILED);
    return 1;
  }
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
    ShowMessage(MainMethodMissingMessage());
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
