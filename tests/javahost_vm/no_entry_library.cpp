// A loadable library that is not a JVM: it has exports, but no
// JNI_CreateJavaVM.
#ifdef _WIN32
#define SATCHEL_EXPORT __declspec(dllexport)
#else
#define SATCHEL_EXPORT __attribute__((visibility("default")))
#endif

extern "C" SATCHEL_EXPORT int NotAJavaVm(void) { return 42; }
