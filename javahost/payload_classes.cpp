// Payload class loading: the bootstrap that defines InternalInputStream and
// InternalClassLoader from the payload and binds their natives, the class
// definition behind InternalClassLoader.findClass, and the natives that
// stream any payload entry to Java.
//
// Every operation here fails the JNI way: it returns null, 0 or false and
// leaves a Java exception pending in the calling thread.
#include "payload_classes.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

// ---- process-wide state: written by the bootstrap only, read-only after ----

// The preset inflate dictionary of every entry that Java hosting opens.  It
// grows in three stages during the bootstrap (ConcatenatedNames, then the
// InternalInputStream class file, then the InternalClassLoader class file) and
// is fixed afterwards.  Written by AppendToPresetDictionary; never freed.
static unsigned char *presetDictionary;
static uint32_t presetDictionaryUsed;      // bytes of content; never above the capacity
static uint32_t presetDictionaryCapacity;  // bytes allocated

// Global reference to a plain java.lang.Object whose monitor serialises every
// refill of an entry stream from the payload file.  Set by CreatePayloadLock.
static jobject payloadLock;

// InternalInputStream.handle ("J"): the address of the object's EntryStream,
// 0 while closed.  Set by CreatePayloadClassLoader once InternalInputStream
// is defined and its natives are bound.
static jfieldID handleField;

// ---- exceptions ----

// Throws a new exception of that class (internal form) with that message.  An
// exception that is already pending is cleared first, so that the one named
// here is what Java code sees.  When the class itself can't be found, the
// VM's own exception from that lookup stays pending.
void ThrowJavaException(JNIEnv *env, const char *className, const char *message) {
  if (env->ExceptionCheck()) {
    env->ExceptionClear();
  }
  jclass exceptionClass = env->FindClass(className);
  if (exceptionClass == nullptr) {
    return;
  }
  env->ThrowNew(exceptionClass, message);
  env->DeleteLocalRef(exceptionClass);
}

// ---- the preset dictionary ----

// Appends n bytes; grows the buffer to n + 2 * capacity + 32768 when they do
// not fit.  False with OutOfMemoryError pending when the buffer can't grow
// (also when the new capacity would not fit in 32 bits); the content is then
// unchanged.  Appending 0 bytes to the empty state allocates nothing.
bool AppendToPresetDictionary(JNIEnv *env, const void *bytes, uint32_t length) {
  // 64-bit sums: used + n and the new capacity must not wrap around.
  if ((uint64_t)presetDictionaryUsed + length > presetDictionaryCapacity) {
    uint64_t capacity = (uint64_t)length + 2 * (uint64_t)presetDictionaryCapacity + 0x8000;
    unsigned char *grown =
        capacity <= UINT32_MAX ? (unsigned char *)realloc(presetDictionary, (size_t)capacity) : nullptr;
    if (grown == nullptr) {
      ThrowJavaException(env, "java/lang/OutOfMemoryError", "");
      return false;
    }
    presetDictionary = grown;
    presetDictionaryCapacity = (uint32_t)capacity;
  }
  if (length > 0) {
    memcpy(presetDictionary + presetDictionaryUsed, bytes, length);
    presetDictionaryUsed += length;
  }
  return true;
}

const unsigned char *GetPresetDictionary(uint32_t *used, uint32_t *capacity) {
  *used = presetDictionaryUsed;
  *capacity = presetDictionaryCapacity;
  return presetDictionary;
}

// ---- the payload lock ----

// A new java.lang.Object held by a global reference as PayloadLock.  False
// when any JNI call fails (the VM's exception, if any, stays pending).
bool CreatePayloadLock(JNIEnv *env) {
  jclass objectClass = env->FindClass("java/lang/Object");
  if (objectClass == nullptr) {
    return false;
  }
  jmethodID constructor = env->GetMethodID(objectClass, "<init>", "()V");
  if (constructor == nullptr) {
    env->DeleteLocalRef(objectClass);
    return false;
  }
  jobject lock = env->NewObject(objectClass, constructor);
  env->DeleteLocalRef(objectClass);
  if (lock == nullptr) {
    return false;
  }
  payloadLock = env->NewGlobalRef(lock);
  env->DeleteLocalRef(lock);
  return payloadLock != nullptr;
}

// The payload library's lock hook: enters PayloadLock's monitor with the
// reading thread's JNI environment (the context).  1 when entered, else 0,
// which the library reports as "Lock failed".  A read without an environment
// can't take the monitor and is refused.
int EnterPayloadLock(void *context) {
  if (context == nullptr) {
    return 0;
  }
  JNIEnv *env = (JNIEnv *)context;
  return env->MonitorEnter(payloadLock) == JNI_OK ? 1 : 0;
}

// The unlock hook: leaves the monitor; MonitorExit's result, unchanged.
int LeavePayloadLock(void *context) {
  JNIEnv *env = (JNIEnv *)context;
  return env->MonitorExit(payloadLock);
}

// ---- opening entries ----

// Opens the entry of exactly that name with the dictionary as it is now (the
// stream takes its own copy).  Null on failure with FileNotFoundException
// (message: the name) when the payload has no such entry, otherwise
// InternalError with the payload library's message.
EntryStream *OpenJavaEntryStream(JNIEnv *env, const char *name) {
  const char *message;
  EntryStream *stream = OpenEntryStream(name, presetDictionary, (int)presetDictionaryUsed, &message);
  if (stream == nullptr) {
    if (message == PayloadFileNotFound) {
      ThrowJavaException(env, "java/io/FileNotFoundException", name);
    } else {
      ThrowJavaException(env, "java/lang/InternalError", message != nullptr ? message : "");
    }
  }
  return stream;
}

// After a failed open of a class entry: a pending FileNotFoundException is
// replaced by ClassNotFoundException("") with it as the cause; any other
// exception stays as it is.  With nothing pending, ClassNotFoundException("")
// alone.  When building the new exception fails, only what that failure
// raised is pending.
void RethrowAsClassNotFound(JNIEnv *env) {
  jthrowable original = env->ExceptionOccurred();
  if (original != nullptr) {
    // Cleared while it is examined, so that the lookups run with nothing
    // pending; thrown again unchanged when it is not a missing entry.
    env->ExceptionClear();
    jclass notFound = env->FindClass("java/io/FileNotFoundException");
    if (notFound == nullptr) {
      env->ExceptionClear();
      env->Throw(original);
      env->DeleteLocalRef(original);
      return;
    }
    jboolean isNotFound = env->IsInstanceOf(original, notFound);
    env->DeleteLocalRef(notFound);
    if (!isNotFound) {
      env->Throw(original);
      env->DeleteLocalRef(original);
      return;
    }
  }

  jclass classNotFound = env->FindClass("java/lang/ClassNotFoundException");
  jstring empty = nullptr;
  jmethodID constructor = nullptr;
  jobject replacement = nullptr;
  if (classNotFound != nullptr) {
    empty = env->NewStringUTF("");
  }
  if (empty != nullptr) {
    constructor = original != nullptr
                      ? env->GetMethodID(classNotFound, "<init>", "(Ljava/lang/String;Ljava/lang/Throwable;)V")
                      : env->GetMethodID(classNotFound, "<init>", "(Ljava/lang/String;)V");
  }
  if (constructor != nullptr) {
    replacement = original != nullptr ? env->NewObject(classNotFound, constructor, empty, original)
                                      : env->NewObject(classNotFound, constructor, empty);
  }
  if (replacement != nullptr) {
    env->Throw((jthrowable)replacement);
  }

  if (classNotFound != nullptr) env->DeleteLocalRef(classNotFound);
  if (original != nullptr) env->DeleteLocalRef(original);
  if (replacement != nullptr) env->DeleteLocalRef(replacement);
  if (empty != nullptr) env->DeleteLocalRef(empty);
}

// ---- class definition ----

jclass DefinePayloadClass(JNIEnv *env, jobject loader, const char *name, bool appendToDictionary) {
  // The internal name (dots to slashes) and the entry name behind it.
  size_t length = strlen(name);
  char *internalName = (char *)malloc(length + 1);
  if (internalName == nullptr) {
    ThrowJavaException(env, "java/lang/OutOfMemoryError", "");
    return nullptr;
  }
  memcpy(internalName, name, length + 1);
  for (size_t i = 0; i < length; i++) {
    if (internalName[i] == '.') internalName[i] = '/';
  }
  char *entryName = (char *)malloc(length + 7);
  if (entryName == nullptr) {
    free(internalName);
    ThrowJavaException(env, "java/lang/OutOfMemoryError", "");
    return nullptr;
  }
  memcpy(entryName, internalName, length);
  memcpy(entryName + length, ".class", 7);

  EntryStream *stream = OpenJavaEntryStream(env, entryName);
  free(entryName);
  if (stream == nullptr) {
    RethrowAsClassNotFound(env);
    free(internalName);
    return nullptr;
  }

  // The whole class file in one buffer of exactly its size.  A Java array
  // holds at most 2^31 - 1 bytes, and so does DefineClass.
  jclass defined = nullptr;
  uint32_t size = GetEntryStreamRemaining(stream);
  unsigned char *buffer = size <= INT32_MAX ? (unsigned char *)malloc(size > 0 ? size : 1) : nullptr;
  if (buffer == nullptr) {
    ThrowJavaException(env, "java/lang/OutOfMemoryError", "");
  } else {
    // Each read asks for everything still missing; a read that yields
    // nothing before the buffer is full is a damaged or truncated entry.
    uint32_t filled = 0;
    bool complete = true;
    while (filled < size) {
      int produced = ReadEntryStream(stream, buffer + filled, size - filled, env);
      if (produced <= 0) {
        ThrowJavaException(env, "java/lang/InternalError", "Failed to read zip entry");
        complete = false;
        break;
      }
      filled += (uint32_t)produced;
    }
    // Appended before the class is defined, whatever DefineClass then does.
    if (complete && (!appendToDictionary || AppendToPresetDictionary(env, buffer, size))) {
      defined = env->DefineClass(internalName, loader, (const jbyte *)buffer, (jsize)size);
    }
  }
  free(buffer);
  free(internalName);
  CloseEntryStream(stream);
  return defined;
}

jclass LoadPayloadClass(JNIEnv *env, jobject loader, const char *name) {
  return DefinePayloadClass(env, loader, name, false);
}

// ---- the natives ----

static EntryStream *StreamOf(JNIEnv *env, jobject self) {
  return (EntryStream *)(uintptr_t)env->GetLongField(self, handleField);
}

// InternalInputStream.openInternalStream(String): opens the entry of exactly
// that name (no conversion) and stores the stream in `handle`.
static void JNICALL OpenInternalStreamNative(JNIEnv *env, jobject self, jstring name) {
  if (name == nullptr) {
    ThrowJavaException(env, "java/lang/NullPointerException", "");
    return;
  }
  const char *chars = env->GetStringUTFChars(name, nullptr);
  if (chars == nullptr) {
    return;
  }
  EntryStream *stream = OpenJavaEntryStream(env, chars);
  env->ReleaseStringUTFChars(name, chars);
  if (stream != nullptr) {
    env->SetLongField(self, handleField, (jlong)(uintptr_t)stream);
  }
}

// InternalInputStream.closeInternalStream(): frees the stream, `handle` back
// to 0; nothing to do when closed already.
static void JNICALL CloseInternalStreamNative(JNIEnv *env, jobject self) {
  EntryStream *stream = StreamOf(env, self);
  if (stream == nullptr) {
    return;
  }
  CloseEntryStream(stream);
  env->SetLongField(self, handleField, 0);
}

// InternalInputStream.read(byte[], int, int): up to len bytes of the entry
// into b at off; -1 at the end of the entry.  A failed read leaves the stream
// open, so a later call tries again.
static jint JNICALL ReadNative(JNIEnv *env, jobject self, jbyteArray b, jint off, jint len) {
  if (b == nullptr) {
    ThrowJavaException(env, "java/lang/NullPointerException", "");
    return 0;
  }
  jsize arrayLength = env->GetArrayLength(b);
  if (off < 0 || len < 0 || (int64_t)off + len > arrayLength) {
    ThrowJavaException(env, "java/lang/IndexOutOfBoundsException", "");
    return 0;
  }
  if (len == 0) {
    return 0;
  }
  EntryStream *stream = StreamOf(env, self);
  if (stream == nullptr) {
    ThrowJavaException(env, "java/io/IOException", "Attempt to read closed internal input stream");
    return 0;
  }
  jbyte *elements = env->GetByteArrayElements(b, nullptr);
  if (elements == nullptr) {
    return 0;  // the VM's OutOfMemoryError is pending
  }
  int produced = ReadEntryStream(stream, elements + off, (uint32_t)len, env);
  env->ReleaseByteArrayElements(b, elements, 0);
  if (produced == 0) {
    return -1;
  }
  if (produced < 0) {
    ThrowJavaException(env, "java/io/IOException", "Failed to read internal input stream");
    return 0;
  }
  return produced;
}

// InternalClassLoader.findClass(String): the class of that name (dots or
// slashes) defined from the payload with this loader.
static jclass JNICALL FindClassNative(JNIEnv *env, jobject self, jstring name) {
  if (name == nullptr) {
    ThrowJavaException(env, "java/lang/NullPointerException", "");
    return nullptr;
  }
  const char *chars = env->GetStringUTFChars(name, nullptr);
  if (chars == nullptr) {
    return nullptr;
  }
  jclass defined = LoadPayloadClass(env, self, chars);
  env->ReleaseStringUTFChars(name, chars);
  return defined;
}

// ---- the bootstrap ----

// True when the class's getConstructors() yields an array (an empty one
// passes); false with an exception pending otherwise.
bool CheckClassConstructors(JNIEnv *env, jclass cls) {
  jclass classClass = env->FindClass("java/lang/Class");
  if (classClass == nullptr) {
    ThrowJavaException(env, "java/lang/ClassNotFoundException", "Failed to find class: java.lang.Class");
    return false;
  }
  jmethodID getConstructors =
      env->GetMethodID(classClass, "getConstructors", "()[Ljava/lang/reflect/Constructor;");
  env->DeleteLocalRef(classClass);
  if (getConstructors == nullptr) {
    ThrowJavaException(env, "java/lang/NoSuchMethodException", "Failed to find method: getConstructors");
    return false;
  }
  jobject constructors = env->CallObjectMethod(cls, getConstructors);
  if (env->ExceptionCheck() || constructors == nullptr) {
    ThrowJavaException(env, "java/lang/Exception", "Class has no constructors");
    return false;
  }
  env->DeleteLocalRef(constructors);
  return true;
}

static JNINativeMethod inputStreamNatives[] = {
    {const_cast<char *>("openInternalStream"), const_cast<char *>("(Ljava/lang/String;)V"),
     (void *)OpenInternalStreamNative},
    {const_cast<char *>("closeInternalStream"), const_cast<char *>("()V"), (void *)CloseInternalStreamNative},
    {const_cast<char *>("read"), const_cast<char *>("([BII)I"), (void *)ReadNative},
};

static JNINativeMethod classLoaderNatives[] = {
    {const_cast<char *>("findClass"), const_cast<char *>("(Ljava/lang/String;)Ljava/lang/Class;"),
     (void *)FindClassNative},
};

// The steps run in order; the first that fails returns null and leaves what
// the earlier ones made (lock, hooks, dictionary content, defined classes).
jobject CreatePayloadClassLoader(JNIEnv *env) {
  if (!CreatePayloadLock(env)) {
    return nullptr;
  }
  SetLockHooks(EnterPayloadLock, LeavePayloadLock);

  const char *names = GetConcatenatedNames();
  if (!AppendToPresetDictionary(env, names, names != nullptr ? (uint32_t)strlen(names) : 0)) {
    return nullptr;
  }

  jclass inputStreamClass = DefinePayloadClass(env, nullptr, INTERNAL_INPUT_STREAM_CLASS, true);
  if (inputStreamClass == nullptr) {
    return nullptr;
  }
  if (!CheckClassConstructors(env, inputStreamClass) ||
      env->RegisterNatives(inputStreamClass, inputStreamNatives, 3) != 0 ||
      (handleField = env->GetFieldID(inputStreamClass, "handle", "J")) == nullptr) {
    env->DeleteLocalRef(inputStreamClass);
    return nullptr;
  }
  env->DeleteLocalRef(inputStreamClass);

  jclass loaderClass = DefinePayloadClass(env, nullptr, INTERNAL_CLASS_LOADER_CLASS, true);
  if (loaderClass == nullptr) {
    return nullptr;
  }
  jobject loader = nullptr;
  if (CheckClassConstructors(env, loaderClass) && env->RegisterNatives(loaderClass, classLoaderNatives, 1) == 0) {
    jmethodID constructor = env->GetMethodID(loaderClass, "<init>", "()V");
    if (constructor != nullptr) {
      loader = env->NewObject(loaderClass, constructor);
    }
  }
  env->DeleteLocalRef(loaderClass);
  return loader;
}
