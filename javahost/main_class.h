// The main class, the argument array and the report of a pending Java
// exception, for a front end that runs a Java application from the payload.
#ifndef SATCHEL_MAIN_CLASS_H
#define SATCHEL_MAIN_CLASS_H

#include <jni.h>

#define EXCEPTION_REPORT_SIZE 4096

// Turns the pending exception (if any) into "Terminating due to Java
// exception: " followed by its description and stack trace, in a process-wide
// buffer valid until the next report.  Message null when none was pending.
void ReportJavaException(JNIEnv *env, const char **message);

// 1 when the runtime has java.io.Console, else 0 (the lookup's exception then
// stays pending).
int HasConsoleClass(JNIEnv *env);

// Runs the payload class loader's bootstrap, then defines the class that the
// property "Main-Class" names.  The class (local reference), or null with the
// message set.
jclass LoadMainClass(JNIEnv *env, const char **message);

// A String[] of count modified-UTF-8 strings.  The array (local reference) or
// null; any non-null message means failure, even with an array returned.
jobjectArray MakeStringArray(JNIEnv *env, int count, char **strings, const char **message);

#endif  // SATCHEL_MAIN_CLASS_H
