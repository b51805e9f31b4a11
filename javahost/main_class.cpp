// The main class, the argument array and the report of a pending Java
// exception.  Failures follow the ErrorMessage convention: when Java code
// failed, the message is the report of its exception; the fixed texts below
// are used only when no exception was pending.
#include "main_class.h"

#include <stdio.h>

#include "javahost_messages.h"
#include "payload.h"
#include "payload_classes.h"
#include "system_loader.h"

#ifdef _WIN32
#define BoundedFormat _snprintf
#else
#define BoundedFormat snprintf
#endif

// The text of the last report; its last byte is zero after every report.
// Written by ReportJavaException only, one thread at a time; never freed.
static char exceptionReportBuffer[EXCEPTION_REPORT_SIZE];

// Clears what a print call of the report may have thrown, so that the next
// call runs with nothing pending; the report keeps whatever was printed.
static void DropPrintException(JNIEnv *env) {
  if (env->ExceptionCheck()) {
    env->ExceptionClear();
  }
}

void ReportJavaException(JNIEnv *env, const char **message) {
  *message = nullptr;
  jthrowable exception = env->ExceptionOccurred();
  if (exception == nullptr) {
    return;
  }
  // From here on the reported exception is no longer pending.
  env->ExceptionClear();

  jclass exceptionClass = nullptr;
  jclass writerClass = nullptr;
  jclass printerClass = nullptr;
  jobject writer = nullptr;
  jobject printer = nullptr;
  jstring text = nullptr;
  jmethodID printerConstructor, writerConstructor, printStackTrace, println, flush, toString;
  const char *chars;

  if ((exceptionClass = env->GetObjectClass(exception)) == nullptr) {
    *message = JAVA_MSG_NO_EXCEPTION_CLASS;
    goto release;
  }
  if ((writerClass = env->FindClass("java/io/StringWriter")) == nullptr) {
    *message = JAVA_MSG_NO_STRING_WRITER_CLASS;
    goto release;
  }
  if ((printerClass = env->FindClass("java/io/PrintWriter")) == nullptr) {
    *message = JAVA_MSG_NO_PRINT_WRITER_CLASS;
    goto release;
  }
  if ((printerConstructor = env->GetMethodID(printerClass, "<init>", "(Ljava/io/Writer;)V")) == nullptr) {
    *message = JAVA_MSG_NO_PRINT_WRITER_CONSTRUCTOR;
    goto release;
  }
  if ((writerConstructor = env->GetMethodID(writerClass, "<init>", "()V")) == nullptr) {
    *message = JAVA_MSG_NO_STRING_WRITER_CONSTRUCTOR;
    goto release;
  }
  if ((printStackTrace = env->GetMethodID(exceptionClass, "printStackTrace", "(Ljava/io/PrintWriter;)V")) ==
      nullptr) {
    *message = JAVA_MSG_NO_PRINT_STACK_TRACE;
    goto release;
  }
  if ((println = env->GetMethodID(printerClass, "println", "(Ljava/lang/Object;)V")) == nullptr) {
    *message = JAVA_MSG_NO_PRINTLN;
    goto release;
  }
  if ((flush = env->GetMethodID(printerClass, "flush", "()V")) == nullptr) {
    *message = JAVA_MSG_NO_FLUSH;
    goto release;
  }
  if ((toString = env->GetMethodID(writerClass, "toString", "()Ljava/lang/String;")) == nullptr) {
    *message = JAVA_MSG_NO_TO_STRING;
    goto release;
  }

  if ((writer = env->NewObject(writerClass, writerConstructor)) == nullptr) {
    *message = JAVA_MSG_STRING_WRITER_FAILED;
    goto release;
  }
  if ((printer = env->NewObject(printerClass, printerConstructor, writer)) == nullptr) {
    *message = JAVA_MSG_PRINT_WRITER_FAILED;
    goto release;
  }

  // The string form once from println, then the stack trace, which starts
  // with the string form again.
  env->CallVoidMethod(printer, println, exception);
  DropPrintException(env);
  env->CallVoidMethod(exception, printStackTrace, printer);
  DropPrintException(env);
  env->CallVoidMethod(printer, flush);
  DropPrintException(env);

  text = (jstring)env->CallObjectMethod(writer, toString);
  if (env->ExceptionCheck() || text == nullptr) {
    *message = JAVA_MSG_NO_STRING;
    goto release;
  }
  if ((chars = env->GetStringUTFChars(text, nullptr)) == nullptr) {
    *message = JAVA_MSG_NO_CHARS;
    goto release;
  }
  // At most 4096 bytes; the last is always the terminator, so a long trace
  // is cut at 4095 bytes, on a byte, even inside a character.
  BoundedFormat(exceptionReportBuffer, EXCEPTION_REPORT_SIZE, JAVA_MSG_REPORT_FORMAT, chars);
  exceptionReportBuffer[EXCEPTION_REPORT_SIZE - 1] = 0;
  env->ReleaseStringUTFChars(text, chars);
  *message = exceptionReportBuffer;

release:
  if (text != nullptr) env->DeleteLocalRef(text);
  if (printer != nullptr) env->DeleteLocalRef(printer);
  if (writer != nullptr) env->DeleteLocalRef(writer);
  if (printerClass != nullptr) env->DeleteLocalRef(printerClass);
  if (writerClass != nullptr) env->DeleteLocalRef(writerClass);
  if (exceptionClass != nullptr) env->DeleteLocalRef(exceptionClass);
  env->DeleteLocalRef(exception);
}

int HasConsoleClass(JNIEnv *env) {
  jclass console = env->FindClass("java/io/Console");
  if (console == nullptr) {
    return 0;  // the lookup's exception stays pending
  }
  env->DeleteLocalRef(console);
  return 1;
}

jclass LoadMainClass(JNIEnv *env, const char **message) {
  *message = nullptr;
  // The bootstrap runs first, also for a payload without "Main-Class"; the
  // system class loader is the payload loader when the agent could make it
  // so (the bootstrap then ran before the VM made that loader).
  jobject loader = SystemPayloadLoader(env);
  if (loader == nullptr) loader = CreatePayloadClassLoader(env);
  if (loader == nullptr) {
    ReportJavaException(env, message);
    if (*message == nullptr) *message = JAVA_MSG_NO_CLASS_LOADER;
    return nullptr;
  }
  const char *mainClassName = FindProperty(JAVA_BUNDLE_MAIN_CLASS_KEY);
  if (mainClassName == nullptr) {
    env->DeleteLocalRef(loader);
    *message = JAVA_MSG_NO_MAIN_CLASS_PROPERTY;
    return nullptr;
  }
  jclass mainClass = LoadPayloadClass(env, loader, mainClassName);
  if (mainClass == nullptr) {
    ReportJavaException(env, message);
    if (*message == nullptr) *message = JAVA_MSG_NO_MAIN_CLASS;
  }
  // The class keeps its defining loader alive.
  env->DeleteLocalRef(loader);
  return mainClass;
}

jobjectArray MakeStringArray(JNIEnv *env, int count, char **strings, const char **message) {
  *message = nullptr;
  jclass stringClass = env->FindClass("java/lang/String");
  jobjectArray array = stringClass != nullptr ? env->NewObjectArray(count, stringClass, nullptr) : nullptr;
  if (array == nullptr) {
    ReportJavaException(env, message);
    if (*message == nullptr) *message = JAVA_MSG_OBJECT_FAILED;
    if (stringClass != nullptr) env->DeleteLocalRef(stringClass);
    return nullptr;
  }
  env->DeleteLocalRef(stringClass);
  // A failed element leaves its slot null and the message set; the walk goes
  // on, and the last failure names the message.
  for (int i = 0; i < count; i++) {
    jstring element = env->NewStringUTF(strings[i]);
    if (element == nullptr) {
      ReportJavaException(env, message);
      if (*message == nullptr) *message = JAVA_MSG_OBJECT_FAILED;
    }
    env->SetObjectArrayElement(array, i, element);
    if (element != nullptr) env->DeleteLocalRef(element);
  }
  return array;
}
