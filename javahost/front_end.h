// The portable parts of the satchel-java front end, one file each, that the
// road in satchel_java.cpp calls in order (satchel_java.h names what each
// operating system's half provides):
//
//   front_end_arguments.cpp   the command line as StartJavaVm will split it
//   bundle_options.cpp        what the bundle asks of the virtual machine,
//                             and the vector that StartJavaVm gets
//   runtime_search.cpp        the Java runtime, and the messages when none does
//   application_start.cpp     launch properties, context class loader,
//                             launcher agent, main's uncaught exception
//
// Process-wide state below is written once, by main or the road's step that
// names it, before anything reads it.
#ifndef SATCHEL_FRONT_END_H
#define SATCHEL_FRONT_END_H

#include <stddef.h>

#include <jni.h>

// ---- the command line (front_end_arguments.cpp) ----

// The vector handed to StartJavaVm, without the program name, ending with a
// null entry; written by BuildArgumentVector.
extern int argumentCount;
extern char **argumentVector;
// The stack of the thread that runs everything, and whether a "-JXss" on the
// command line set it (the bundle's own "-Xss" then does not).
extern size_t mainStackSize;
extern int userSetStackSize;

// Builds argumentVector from the process's arguments, each converted for its
// role (see RoleOfArgument).  0 when out of memory.
int BuildArgumentVector(int argc, char **argv);

// The stack size that an "-Xss" option asks for (the text behind "-Xss") plus
// room for our own frames; mainStackSize when the size is out of range.
size_t MainStackSizeFor(const char *text);

// 1 when the command line has a "-jvm", with the path behind the last one as
// StartJavaVm will take it (null when that "-jvm" ends the line); else 0.
int FindExplicitJvm(const char **path);

// ---- what the bundle asks (bundle_options.cpp) ----

// Reads the bundle's "Java-Min-Version" (into minimumRelease), its manifest's
// module options and its "Java-Options" (an "-Xss" among them sets
// mainStackSize unless the command line did).  0 when out of memory.
int ReadBundleOptions(void);

// The vector for StartJavaVm, *count entries: "-jvm" and the runtime found
// (when not null), the system loader agent, the bundle's options that the
// runtime's release knows, then the command line, whose "-J" options thus
// come last and win.  Null when out of memory.
char **VmArgumentVector(char *runtime, int *count);

// ---- the Java runtime (runtime_search.cpp) ----

// The bundle's "Java-Min-Version" (0: any), and the release of the runtime
// found (0: not known).
extern int minimumRelease;
extern int chosenRelease;

// A runtime bundled beside the executable (jre, then runtime), then under
// JAVA_HOME, then where the system keeps them (FindInstalledRuntime);
// runtimes too old are passed over.  The JVM library's path as a heap string,
// or null (or, on Windows, *legacyKey set: see FindInstalledRuntime).
char *FindJavaRuntime(int *legacyKey);

// After a search that found nothing: the message naming the runtimes passed
// over as too old, or null when none was; and the places looked at.
const char *OnlyOldRuntimesMessage(void);
const char *PlacesLookedAt(void);

// The message for a failed StartJavaVm: its own text, with the library's path
// and why it did not load, or with the places looked at when no runtime was
// found (`looked`, null when "-jvm" was given).
const char *VmFailureMessage(const char *message, const char *library, const char *looked);

// ---- between the main class and main (application_start.cpp) ----

// The message of a failed JNI step: the pending exception's report, else the
// fallback text.
const char *FailureMessage(JNIEnv *env, const char *fallback);

// "sun.java.command" and "java.class.path", as the Java launcher sets them.
void SetLaunchProperties(JNIEnv *env, int count, char **arguments);

// The calling thread's context class loader becomes the loader of `cls`.  1,
// or 0 with an exception possibly pending.
int SetContextClassLoader(JNIEnv *env, jclass cls);

// Starts the bundle's "Launcher-Agent-Class" as java -jar does before main.
// 1 when there is none or it returned; 0 with the message set.
int StartLauncherAgent(JNIEnv *env, jclass mainClass, const char **message);

// The text for a main class without main(String[]).
const char *MainMethodMissingMessage(void);

// After main ended with an exception (pending): hands it to the application's
// uncaught exception handler when it set one (1); 0 with the exception
// pending again otherwise, for our report.
int DispatchUncaughtException(JNIEnv *env);

#endif  // SATCHEL_FRONT_END_H
