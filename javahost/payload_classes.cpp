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

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "javahost_messages.h"

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

// InternalClassLoader and its definePayloadClass(String, ByteBuffer, long):
// classes that an InternalClassLoader asks for are defined through it, so
// that they get their package and protection domain.  Set by the bootstrap
// once InternalClassLoader is defined and its natives are bound; until then
// (while the bootstrap defines the two internal classes themselves into the
// bootstrap loader) classes are defined as they are.
static jclass classLoaderClass;
static jmethodID definePayloadClassMethod;

// When the system loader agent ran the bootstrap's class definitions early
// and they failed: set, with the exception they raised (global reference,
// null when none), which CreatePayloadClassLoader throws again.
static bool earlyFailed;
static jthrowable earlyFailure;

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

// Defines the class from its class file.  An InternalClassLoader's classes go
// through its definePayloadClass (package, protection domain, multi-release
// version), over a direct buffer of these very bytes; any other loader's
// (the bootstrap's among them) through DefineClass.
static jclass DefineClassBytes(JNIEnv *env, jobject loader, const char *internalName,
                               unsigned char *bytes, uint32_t size, uint32_t offset) {
  if (loader == nullptr || definePayloadClassMethod == nullptr || !env->IsInstanceOf(loader, classLoaderClass)) {
    return env->DefineClass(internalName, loader, (const jbyte *)bytes, (jsize)size);
  }
  jstring name = env->NewStringUTF(internalName);
  if (name == nullptr) {
    return nullptr;
  }
  jobject buffer = env->NewDirectByteBuffer(bytes, (jlong)size);
  jclass defined = nullptr;
  if (buffer != nullptr) {
    defined = (jclass)env->CallObjectMethod(loader, definePayloadClassMethod, name, buffer, (jlong)offset);
    env->DeleteLocalRef(buffer);
  }
  env->DeleteLocalRef(name);
  return env->ExceptionCheck() ? nullptr : defined;
}

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
        ThrowJavaException(env, "java/lang/InternalError", JAVA_MSG_ENTRY_READ_FAILED);
        complete = false;
        break;
      }
      filled += (uint32_t)produced;
    }
    // Appended before the class is defined, whatever DefineClass then does.
    if (complete && (!appendToDictionary || AppendToPresetDictionary(env, buffer, size))) {
      defined = DefineClassBytes(env, loader, internalName, buffer, size, stream->entry->offset);
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
    ThrowJavaException(env, "java/io/IOException", JAVA_MSG_STREAM_CLOSED);
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
    ThrowJavaException(env, "java/io/IOException", JAVA_MSG_STREAM_READ_FAILED);
    return 0;
  }
  return produced;
}

// InternalInputStream.available(): the bytes of the entry not read yet; 0
// when closed.
static jint JNICALL AvailableNative(JNIEnv *env, jobject self) {
  EntryStream *stream = StreamOf(env, self);
  if (stream == nullptr) {
    return 0;
  }
  uint32_t remaining = GetEntryStreamRemaining(stream);
  return remaining > INT32_MAX ? INT32_MAX : (jint)remaining;
}

// InternalInputStream.entryInfo(String): the first entry of exactly that name
// as its offset in the entry data times 2^32 plus its uncompressed size; -1
// when there is none.  Opens nothing.
static jlong JNICALL EntryInfoNative(JNIEnv *env, jclass, jstring name) {
  if (name == nullptr) {
    ThrowJavaException(env, "java/lang/NullPointerException", "");
    return -1;
  }
  const char *chars = env->GetStringUTFChars(name, nullptr);
  if (chars == nullptr) {
    return -1;
  }
  FileEntry *entry;
  const char *message;
  jlong info = FindFileEntry(chars, &entry, &message) ? (jlong)((uint64_t)entry->offset << 32 | entry->uncompressedSize) : -1;
  env->ReleaseStringUTFChars(name, chars);
  return info;
}

// What InternalInputStream.versionedEntries collects: each entry whose name
// in its jar (behind a later jar's "/satchel/K/") begins with
// "META-INF/versions/", counted first, then stored.
struct VersionedWalk {
  JNIEnv *env;
  jobjectArray names;  // null while counting
  jsize count;
  bool failed;
};

static bool IsVersionedEntryName(const char *name) {
  static const char versions[] = JAVA_BUNDLE_VERSIONS_PREFIX;
  static const char reserved[] = JAVA_BUNDLE_RESERVED_PREFIX;
  if (strncmp(name, reserved, sizeof reserved - 1) == 0) {
    const char *slash = strchr(name + sizeof reserved - 1, '/');
    if (slash == nullptr) return false;
    name = slash + 1;
  }
  return strncmp(name, versions, sizeof versions - 1) == 0;
}

static void VisitVersionedEntry(const FileEntry *entry, void *context) {
  VersionedWalk *walk = (VersionedWalk *)context;
  if (walk->failed || !IsVersionedEntryName(entry->name)) {
    return;
  }
  if (walk->names != nullptr) {
    jstring name = walk->env->NewStringUTF(entry->name);
    if (name == nullptr) {
      walk->failed = true;
      return;
    }
    walk->env->SetObjectArrayElement(walk->names, walk->count, name);
    walk->env->DeleteLocalRef(name);
  }
  walk->count++;
}

// InternalInputStream.versionedEntries(): the names of the multi-release
// jars' versioned entries (see VisitVersionedEntry); null with an exception
// pending when the array cannot be made.
static jobjectArray JNICALL VersionedEntriesNative(JNIEnv *env, jclass) {
  VersionedWalk walk = {env, nullptr, 0, false};
  ForEachFileEntry(VisitVersionedEntry, &walk);
  jclass stringClass = env->FindClass("java/lang/String");
  if (stringClass == nullptr) {
    return nullptr;
  }
  walk.names = env->NewObjectArray(walk.count, stringClass, nullptr);
  env->DeleteLocalRef(stringClass);
  if (walk.names == nullptr) {
    return nullptr;
  }
  walk.count = 0;
  ForEachFileEntry(VisitVersionedEntry, &walk);
  return walk.failed ? nullptr : walk.names;
}

// InternalClassLoader.defineInBootLoader(String, byte[]): defines one of the
// helper classes that the loader carries into the bootstrap loader.  Only
// classes of the loader's own package tree are taken.
static void JNICALL DefineInBootLoaderNative(JNIEnv *env, jclass, jstring name, jbyteArray bytes) {
  static const char ownPackage[] = JAVA_BUNDLE_PACKAGE;
  if (name == nullptr || bytes == nullptr) {
    ThrowJavaException(env, "java/lang/NullPointerException", "");
    return;
  }
  const char *chars = env->GetStringUTFChars(name, nullptr);
  if (chars == nullptr) {
    return;
  }
  if (strncmp(chars, ownPackage, sizeof ownPackage - 1) != 0) {
    env->ReleaseStringUTFChars(name, chars);
    ThrowJavaException(env, "java/lang/SecurityException", "");
    return;
  }
  jsize length = env->GetArrayLength(bytes);
  jbyte *elements = env->GetByteArrayElements(bytes, nullptr);
  if (elements != nullptr) {
    jclass defined = env->DefineClass(chars, nullptr, elements, length);
    env->ReleaseByteArrayElements(bytes, elements, JNI_ABORT);
    if (defined != nullptr) env->DeleteLocalRef(defined);
  }
  env->ReleaseStringUTFChars(name, chars);
}

// InternalClassLoader.executablePath(): the path of the running executable,
// the code source of every class from the payload.
static jstring JNICALL ExecutablePathNative(JNIEnv *env, jclass) {
#ifdef _WIN32
  wchar_t path[4096];
  DWORD length = GetModuleFileNameW(NULL, path, 4096);
  if (length == 0 || length >= 4096) {
    ThrowJavaException(env, "java/lang/InternalError", JAVA_MSG_NO_EXECUTABLE_PATH);
    return nullptr;
  }
  return env->NewString((const jchar *)path, (jsize)length);
#else
  char path[4096];
  ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) {
    ThrowJavaException(env, "java/lang/InternalError", JAVA_MSG_NO_EXECUTABLE_PATH);
    return nullptr;
  }
  path[length] = 0;
  return env->NewStringUTF(path);
#endif
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
    ThrowJavaException(env, "java/lang/ClassNotFoundException", JAVA_MSG_NO_CLASS_CLASS);
    return false;
  }
  jmethodID getConstructors =
      env->GetMethodID(classClass, "getConstructors", "()[Ljava/lang/reflect/Constructor;");
  env->DeleteLocalRef(classClass);
  if (getConstructors == nullptr) {
    ThrowJavaException(env, "java/lang/NoSuchMethodException", JAVA_MSG_NO_GET_CONSTRUCTORS);
    return false;
  }
  jobject constructors = env->CallObjectMethod(cls, getConstructors);
  if (env->ExceptionCheck() || constructors == nullptr) {
    ThrowJavaException(env, "java/lang/Exception", JAVA_MSG_NO_CONSTRUCTORS);
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
    {const_cast<char *>("available"), const_cast<char *>("()I"), (void *)AvailableNative},
    {const_cast<char *>("entryInfo"), const_cast<char *>("(Ljava/lang/String;)J"), (void *)EntryInfoNative},
    {const_cast<char *>("versionedEntries"), const_cast<char *>("()[Ljava/lang/String;"),
     (void *)VersionedEntriesNative},
};

static JNINativeMethod classLoaderNatives[] = {
    {const_cast<char *>("findClass"), const_cast<char *>("(Ljava/lang/String;)Ljava/lang/Class;"),
     (void *)FindClassNative},
    {const_cast<char *>("defineInBootLoader"), const_cast<char *>("(Ljava/lang/String;[B)V"),
     (void *)DefineInBootLoaderNative},
    {const_cast<char *>("executablePath"), const_cast<char *>("()Ljava/lang/String;"),
     (void *)ExecutablePathNative},
};

#define COUNT_OF(array) ((jint)(sizeof(array) / sizeof((array)[0])))

// Keeps InternalClassLoader (global reference) and its definePayloadClass.
static bool RememberDefineMethod(JNIEnv *env, jclass loaderClass) {
  jmethodID method =
      env->GetMethodID(loaderClass, "definePayloadClass", "(Ljava/lang/String;Ljava/nio/ByteBuffer;J)Ljava/lang/Class;");
  if (method == nullptr) {
    return false;
  }
  classLoaderClass = (jclass)env->NewGlobalRef(loaderClass);
  definePayloadClassMethod = classLoaderClass != nullptr ? method : nullptr;
  return classLoaderClass != nullptr;
}

// Bootstrap steps up to binding InternalClassLoader's natives, in order; the
// first that fails returns null and leaves what the earlier ones made (lock,
// hooks, dictionary content, defined classes).  InternalClassLoader (local
// reference) on success.
static jclass DefineInternalClasses(JNIEnv *env) {
  if (!CreatePayloadLock(env)) {
    return nullptr;
  }
  SetLockHooks(EnterPayloadLock, LeavePayloadLock);

  const char *names = GetConcatenatedNames();
  if (!AppendToPresetDictionary(env, names, names != nullptr ? (uint32_t)strlen(names) : 0)) {
    return nullptr;
  }

  jclass inputStreamClass = DefinePayloadClass(env, nullptr, JAVA_BUNDLE_INPUT_STREAM_CLASS, true);
  if (inputStreamClass == nullptr) {
    return nullptr;
  }
  if (!CheckClassConstructors(env, inputStreamClass) ||
      env->RegisterNatives(inputStreamClass, inputStreamNatives, COUNT_OF(inputStreamNatives)) != 0 ||
      (handleField = env->GetFieldID(inputStreamClass, "handle", "J")) == nullptr) {
    env->DeleteLocalRef(inputStreamClass);
    return nullptr;
  }
  env->DeleteLocalRef(inputStreamClass);

  jclass loaderClass = DefinePayloadClass(env, nullptr, JAVA_BUNDLE_CLASS_LOADER_CLASS, true);
  if (loaderClass == nullptr) {
    return nullptr;
  }
  if (!CheckClassConstructors(env, loaderClass) ||
      env->RegisterNatives(loaderClass, classLoaderNatives, COUNT_OF(classLoaderNatives)) != 0 ||
      !RememberDefineMethod(env, loaderClass)) {
    env->DeleteLocalRef(loaderClass);
    return nullptr;
  }
  return loaderClass;
}

bool DefineInternalClassesEarly(JNIEnv *env) {
  jclass loaderClass = DefineInternalClasses(env);
  if (loaderClass != nullptr) {
    env->DeleteLocalRef(loaderClass);
    return true;
  }
  jthrowable failure = env->ExceptionOccurred();
  env->ExceptionClear();
  earlyFailure = failure != nullptr ? (jthrowable)env->NewGlobalRef(failure) : nullptr;
  earlyFailed = true;
  if (failure != nullptr) env->DeleteLocalRef(failure);
  return false;
}

bool IsPayloadClassLoader(JNIEnv *env, jobject loader) {
  return loader != nullptr && classLoaderClass != nullptr && env->IsInstanceOf(loader, classLoaderClass);
}

// The bootstrap, or what is left of it when the internal classes were
// defined early; then a new InternalClassLoader.
jobject CreatePayloadClassLoader(JNIEnv *env) {
  if (earlyFailed) {
    if (earlyFailure != nullptr) env->Throw(earlyFailure);
    return nullptr;
  }
  jclass loaderClass =
      classLoaderClass != nullptr ? (jclass)env->NewLocalRef(classLoaderClass) : DefineInternalClasses(env);
  if (loaderClass == nullptr) {
    return nullptr;
  }
  jobject loader = nullptr;
  jmethodID constructor = env->GetMethodID(loaderClass, "<init>", "()V");
  if (constructor != nullptr) {
    loader = env->NewObject(loaderClass, constructor);
  }
  env->DeleteLocalRef(loaderClass);
  return loader;
}
