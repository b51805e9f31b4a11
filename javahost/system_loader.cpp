// The payload class loader as the system class loader: the agent linked into
// the front end, and what the front end asks once the virtual machine exists.
// See system_loader.h for why it is done this way.
#include "system_loader.h"

#include <string.h>

#include <jvmti.h>

#include "payload_classes.h"

static const char kLoaderProperty[] = "java.system.class.loader";
static const char kLoaderClassName[] = "com.tessel.qor.kestrel.InternalClassLoader";

// Set by the VMStart callback once it defined the internal classes and set
// the property; read by SystemPayloadLoader afterwards (same thread: the one
// that creates the virtual machine).
static bool propertySetEarly;

// System.getProperty(key) when `value` is null, else System.setProperty(key,
// value), or System.clearProperty(key) when `clear`.  1 when the property had
// a value before; 0 when not; -1 when the call failed (nothing pending then).
static int SystemProperty(JNIEnv *env, const char *key, const char *value, bool clear) {
  jclass systemClass = env->FindClass("java/lang/System");
  jmethodID method = nullptr;
  if (systemClass != nullptr) {
    method = clear ? env->GetStaticMethodID(systemClass, "clearProperty", "(Ljava/lang/String;)Ljava/lang/String;")
             : value != nullptr
                 ? env->GetStaticMethodID(systemClass, "setProperty",
                                          "(Ljava/lang/String;Ljava/lang/String;)Ljava/lang/String;")
                 : env->GetStaticMethodID(systemClass, "getProperty", "(Ljava/lang/String;)Ljava/lang/String;");
  }
  jstring keyText = method != nullptr ? env->NewStringUTF(key) : nullptr;
  jstring valueText = keyText != nullptr && value != nullptr ? env->NewStringUTF(value) : nullptr;
  int result = -1;
  if (keyText != nullptr && (value == nullptr || valueText != nullptr)) {
    jobject old = valueText != nullptr ? env->CallStaticObjectMethod(systemClass, method, keyText, valueText)
                                       : env->CallStaticObjectMethod(systemClass, method, keyText);
    if (!env->ExceptionCheck()) result = old != nullptr ? 1 : 0;
    if (old != nullptr) env->DeleteLocalRef(old);
  }
  if (env->ExceptionCheck()) {
    env->ExceptionClear();
    result = -1;
  }
  if (valueText != nullptr) env->DeleteLocalRef(valueText);
  if (keyText != nullptr) env->DeleteLocalRef(keyText);
  if (systemClass != nullptr) env->DeleteLocalRef(systemClass);
  return result;
}

// VMStart: the module system is up and System's properties exist; the system
// class loader is made next.  A system class loader that the user named
// stays theirs.  Whatever fails here leaves nothing pending: the virtual
// machine then makes its own system class loader, and LoadMainClass reports
// a failed bootstrap as it would have.
static void JNICALL OnVmStart(jvmtiEnv *, JNIEnv *env) {
  if (SystemProperty(env, kLoaderProperty, nullptr, false) != 0) {
    return;
  }
  // Set first: InternalClassLoader's static initializer, which defining the
  // class runs, tells by it that it is to be the system class loader.
  if (SystemProperty(env, kLoaderProperty, kLoaderClassName, false) != 0) {
    return;
  }
  propertySetEarly = DefineInternalClassesEarly(env);
  if (!propertySetEarly) SystemProperty(env, kLoaderProperty, nullptr, true);
}

// The feature release of a "java.vm.specification.version" value: "1.8" gives
// 8, "17" gives 17; 0 when it starts with no number.
static int FeatureRelease(const char *version) {
  if (strncmp(version, "1.", 2) == 0) version += 2;
  int release = 0;
  while (*version >= '0' && *version <= '9' && release < 100000) release = release * 10 + (*version++ - '0');
  return release;
}

// Called by the virtual machine for SYSTEM_LOADER_AGENT_ARGUMENT's option, before it
// has made anything.  Always 0: a non-zero result would end the creation of
// the virtual machine, and without the agent the application still runs.
extern "C" JNIEXPORT jint JNICALL Agent_OnLoad_satchel(JavaVM *vm, char *, void *) {
  jvmtiEnv *jvmti = nullptr;
  if (vm->GetEnv((void **)&jvmti, JVMTI_VERSION_1_0) != JNI_OK || jvmti == nullptr) {
    return 0;
  }
  // Java 8 posts VMStart before System's properties exist; 9 and later after
  // the module system, before the system class loader.
  char *version = nullptr;
  if (jvmti->GetSystemProperty("java.vm.specification.version", &version) != JVMTI_ERROR_NONE || version == nullptr) {
    return 0;
  }
  int release = FeatureRelease(version);
  jvmti->Deallocate((unsigned char *)version);
  if (release < 9) {
    return 0;
  }
  jvmtiEventCallbacks callbacks;
  memset(&callbacks, 0, sizeof callbacks);
  callbacks.VMStart = OnVmStart;
  if (jvmti->SetEventCallbacks(&callbacks, (jint)sizeof callbacks) == JVMTI_ERROR_NONE) {
    jvmti->SetEventNotificationMode(JVMTI_ENABLE, JVMTI_EVENT_VM_START, nullptr);
  }
  return 0;
}

jobject SystemPayloadLoader(JNIEnv *env) {
  if (!propertySetEarly) {
    return nullptr;
  }
  jclass loaderClass = env->FindClass("java/lang/ClassLoader");
  jmethodID getSystemClassLoader =
      loaderClass != nullptr
          ? env->GetStaticMethodID(loaderClass, "getSystemClassLoader", "()Ljava/lang/ClassLoader;")
          : nullptr;
  jobject loader = getSystemClassLoader != nullptr ? env->CallStaticObjectMethod(loaderClass, getSystemClassLoader)
                                                   : nullptr;
  if (env->ExceptionCheck()) {
    env->ExceptionClear();
    loader = nullptr;
  }
  if (loaderClass != nullptr) env->DeleteLocalRef(loaderClass);
  if (loader != nullptr && !IsPayloadClassLoader(env, loader)) {
    env->DeleteLocalRef(loader);
    loader = nullptr;
  }
  // Read once, when the virtual machine made the system class loader (or
  // never, by a virtual machine that posts VMStart later than it makes that
  // loader); the application sees no such property, as under "java -cp".
  SystemProperty(env, kLoaderProperty, nullptr, true);
  return loader;
}
