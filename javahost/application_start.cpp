// What the satchel-java front end does between the main class and main: the
// launch properties, the context class loader, the manifest's launcher
// agent; and the handover of main's uncaught exception.
#include "front_end.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "javahost.h"
#include "payload.h"

// The text of a launcher agent that cannot be started, or of a missing main
// method; written by the step that fails.
static char agentMessage[1024];

// The message of a failed JNI step: the pending exception's report, else the
// fallback text.
const char *FailureMessage(JNIEnv *env, const char *fallback) {
  const char *report = NULL;
  ReportJavaException(env, &report);
  return report ? report : fallback;
}

// Sets the calling thread's context class loader to the loader of `cls`.
// 1, or 0 with an exception possibly pending.
int SetContextClassLoader(JNIEnv *env, jclass cls) {
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
int StartLauncherAgent(JNIEnv *env, jclass mainClass, const char **message) {
  const char *name = FindProperty(JAVA_BUNDLE_AGENT_CLASS_KEY);
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
    snprintf(agentMessage, sizeof agentMessage,
             withInstrumentation ? JAVA_MSG_AGENT_NEEDS_INSTRUMENTATION_FORMAT : JAVA_MSG_AGENT_NOT_FOUND_FORMAT, name);
    env->DeleteLocalRef(agent);
    *message = agentMessage;
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
int DispatchUncaughtException(JNIEnv *env) {
  jthrowable exception = env->ExceptionOccurred();
  env->ExceptionClear();
  jclass loaderClass = env->FindClass(JAVA_BUNDLE_CLASS_LOADER_CLASS);
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
void SetLaunchProperties(JNIEnv *env, int count, char **arguments) {
  const char *mainClass = FindProperty(JAVA_BUNDLE_MAIN_CLASS_KEY);
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

const char *MainMethodMissingMessage(void) {
  snprintf(agentMessage, sizeof agentMessage, JAVA_MSG_MAIN_NOT_FOUND_FORMAT, FindProperty(JAVA_BUNDLE_MAIN_CLASS_KEY));
  return agentMessage;
}
