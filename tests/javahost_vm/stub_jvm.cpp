// The stand-in JVM library (see stub_jvm.h).  Built as a .so natively and as
// a DLL for the Windows tests.
#define _JNI_IMPLEMENTATION_
#include "stub_jvm.h"

#include <string.h>

namespace {
StubJvmRecord record;
jint nextResult = JNI_OK;
// Never dereferenced: only their addresses travel back to the caller.
char fakeVm;
char fakeEnv;
}  // namespace

extern "C" {

JNIEXPORT jint JNICALL JNI_CreateJavaVM(JavaVM **vm, void **env, void *arguments) {
  const JavaVMInitArgs *init = (const JavaVMInitArgs *)arguments;
  memset(&record, 0, sizeof record);
  record.calls = 1;
  record.version = init->version;
  record.optionCount = init->nOptions;
  record.optionsNull = init->options == nullptr;
  record.ignoreUnrecognized = init->ignoreUnrecognized;
  for (jint i = 0; i < init->nOptions && i < kStubMaxOptions; i++) {
    strncpy(record.options[i], init->options[i].optionString, kStubMaxOptionBytes - 1);
    if (init->options[i].extraInfo) record.extraInfoNonNull = 1;
  }
  if (nextResult != JNI_OK) return nextResult;
  *vm = (JavaVM *)&fakeVm;
  *env = &fakeEnv;
  return JNI_OK;
}

JNIEXPORT StubJvmRecord *StubJvmGetRecord(void) { return &record; }

JNIEXPORT void StubJvmSetResult(jint result) {
  nextResult = result;
  memset(&record, 0, sizeof record);
}

JNIEXPORT StubJvmHandles StubJvmGetHandles(void) {
  StubJvmHandles handles = {(JavaVM *)&fakeVm, &fakeEnv};
  return handles;
}

}  // extern "C"
