// Payload class loading: the bootstrap that defines the two internal Java
// classes from the payload and binds their natives, and the class definition
// that serves every later class and resource straight out of the payload.
// Failures leave a Java exception pending in the calling thread.
#ifndef SATCHEL_PAYLOAD_CLASSES_H
#define SATCHEL_PAYLOAD_CLASSES_H

#include <jni.h>
#include <stdint.h>

#include "payload.h"

// The internal classes' names and their package: JAVA_BUNDLE_INPUT_STREAM_CLASS,
// JAVA_BUNDLE_CLASS_LOADER_CLASS and JAVA_BUNDLE_PACKAGE (java_bundle.h).

// Runs once per process, after OpenPayload and once the VM exists: the lock,
// the lock hooks, the preset dictionary, both internal classes and their
// natives.  A new InternalClassLoader (local reference), or null.
// When the internal classes were defined early (DefineInternalClassesEarly),
// only the new loader is made here, or the early failure thrown again.
jobject CreatePayloadClassLoader(JNIEnv *env);

// The bootstrap's steps up to binding InternalClassLoader's natives, run
// before the system class loader is made (see system_loader.h).  False when
// they failed: their exception is then kept for CreatePayloadClassLoader and
// nothing is left pending.
bool DefineInternalClassesEarly(JNIEnv *env);

// True when the object is an InternalClassLoader (false before the bootstrap
// defined the class).
bool IsPayloadClassLoader(JNIEnv *env, jobject loader);

// Defines the class (dots or slashes) from the payload with that loader (may
// be null).  The class (local reference), or null with an exception pending.
jclass LoadPayloadClass(JNIEnv *env, jobject loader, const char *name);
jclass DefinePayloadClass(JNIEnv *env, jobject loader, const char *name, bool appendToDictionary);

// Opens the entry of exactly that name with the current preset dictionary.
EntryStream *OpenJavaEntryStream(JNIEnv *env, const char *name);
void RethrowAsClassNotFound(JNIEnv *env);
bool AppendToPresetDictionary(JNIEnv *env, const void *bytes, uint32_t length);
void ThrowJavaException(JNIEnv *env, const char *className, const char *message);
bool CheckClassConstructors(JNIEnv *env, jclass cls);
bool CreatePayloadLock(JNIEnv *env);
int EnterPayloadLock(void *context);
int LeavePayloadLock(void *context);

// Read-only views of the preset dictionary for tests and the benchmark.
const unsigned char *GetPresetDictionary(uint32_t *used, uint32_t *capacity);

#endif  // SATCHEL_PAYLOAD_CLASSES_H
