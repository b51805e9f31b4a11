// One StartJavaVm call over a vector built from `texts` (with its ending null
// entry), shared by the VM creation tests.  The strings live in `storage` so
// that the returned application pointers can be compared with the caller's
// own.  The outputs start as values StartJavaVm never leaves behind.
#ifndef SATCHEL_TESTS_JAVAHOST_VM_START_CALL_H
#define SATCHEL_TESTS_JAVAHOST_VM_START_CALL_H

#include <string>
#include <utility>
#include <vector>

#include "java_vm.h"

// The outputs of StartJavaVm, for a vector of the caller's own making too.
struct StartOutputs {
  JavaVM *vm = (JavaVM *)1;
  JNIEnv *env = (JNIEnv *)1;
  int applicationCount = -1;
  char **applicationArguments = (char **)1;
  const char *message = "not set";

  int Start(int count, char **arguments) {
    return StartJavaVm(count, arguments, &vm, &env, &applicationCount, &applicationArguments,
                       &message);
  }
};

struct StartCall : StartOutputs {
  std::vector<std::string> storage;
  std::vector<char *> vector;
  int result = -1;

  explicit StartCall(std::vector<std::string> texts) : storage(std::move(texts)) {
    for (std::string &text : storage) vector.push_back(&text[0]);
    vector.push_back(nullptr);
  }
  StartCall(const StartCall &) = delete;
  StartCall &operator=(const StartCall &) = delete;

  int Run() {
    return result = Start((int)storage.size(), vector.data());
  }
};

#endif  // SATCHEL_TESTS_JAVAHOST_VM_START_CALL_H
