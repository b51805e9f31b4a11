// The native half of sample.NativeProbe: JNI FindClass on a thread that
// native code started and attached, with no Java caller on its stack, which
// the virtual machine answers with the system class loader (as native
// libraries' call-backs do).
#include <jni.h>
#include <pthread.h>

namespace {

JavaVM *vm;
const char *wanted;
bool found;

void *FindOnOwnThread(void *) {
  JNIEnv *env = nullptr;
  if (vm->AttachCurrentThread((void **)&env, nullptr) != JNI_OK) return nullptr;
  jclass cls = env->FindClass(wanted);
  found = cls != nullptr;
  if (cls != nullptr) env->DeleteLocalRef(cls);
  env->ExceptionClear();
  vm->DetachCurrentThread();
  return nullptr;
}

}  // namespace

extern "C" JNIEXPORT jboolean JNICALL Java_sample_NativeProbe_findFromNativeThread(JNIEnv *env, jclass, jstring name) {
  env->GetJavaVM(&vm);
  wanted = env->GetStringUTFChars(name, nullptr);
  if (wanted == nullptr) return JNI_FALSE;
  found = false;
  pthread_t thread;
  if (pthread_create(&thread, nullptr, FindOnOwnThread, nullptr) == 0) pthread_join(thread, nullptr);
  env->ReleaseStringUTFChars(name, wanted);
  return found ? JNI_TRUE : JNI_FALSE;
}
