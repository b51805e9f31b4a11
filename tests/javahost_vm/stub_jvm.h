// A stand-in for a JVM library: exports JNI_CreateJavaVM, records what it was
// handed, and answers with a result that the test chooses.  Lets the tests
// see the JavaVMInitArgs that StartJavaVm builds without starting a real VM.
#ifndef SATCHEL_TESTS_STUB_JVM_H
#define SATCHEL_TESTS_STUB_JVM_H

#include <jni.h>

enum { kStubMaxOptions = 16, kStubMaxOptionBytes = 256 };

// What the last JNI_CreateJavaVM call received.  The option strings are
// copied: the caller frees its own once the call has returned.
struct StubJvmRecord {
  int calls;
  jint version;
  jint optionCount;
  int optionsNull;  // the options pointer was null
  jboolean ignoreUnrecognized;
  int extraInfoNonNull;  // some option had non-null extra information
  char options[kStubMaxOptions][kStubMaxOptionBytes];
};

// The addresses that a successful call stores as the VM and the environment.
struct StubJvmHandles {
  JavaVM *vm;
  void *env;
};

// Exported beside JNI_CreateJavaVM, plain C names.
typedef StubJvmRecord *(*StubJvmRecordFunction)(void);
typedef void (*StubJvmSetResultFunction)(jint result);
typedef StubJvmHandles (*StubJvmHandlesFunction)(void);

#endif  // SATCHEL_TESTS_STUB_JVM_H
