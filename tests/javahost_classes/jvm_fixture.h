// The fixture of every suite here: the process's VM (one per process, so
// ctest runs each suite in a process of its own), a local frame per test, and
// the check that the VM printed no -Xcheck:jni warning during the test.
#ifndef SATCHEL_TESTS_JVM_FIXTURE_H
#define SATCHEL_TESTS_JVM_FIXTURE_H

#include <gtest/gtest.h>

#include <string>

#include "jvm_support.h"

class JvmTest : public testing::Test {
 protected:
  // The suite that owns this process's payload and bootstrap; a second suite
  // in the same process is skipped.
  static bool ClaimProcess(const char *suite) {
    static std::string owner;
    if (owner.empty()) owner = suite;
    return owner == suite;
  }

  void SetUp() override {
    env = TestJvm();
    outputMark = JvmOutput().size();
    ASSERT_EQ(env->PushLocalFrame(256), 0);
  }

  void TearDown() override {
    if (env->ExceptionCheck()) {
      JavaThrown left = TakeException(env);
      ADD_FAILURE() << "exception left pending: " << left.className << ": " << left.message;
    }
    env->PopLocalFrame(nullptr);
    std::string printed = JvmOutput().substr(outputMark);
    EXPECT_EQ(printed.find("WARNING"), std::string::npos) << printed;
    EXPECT_EQ(printed.find("FATAL"), std::string::npos) << printed;
  }

  JNIEnv *env = nullptr;
  size_t outputMark = 0;
};

#define SKIP_UNLESS_OWNER(suite) \
  if (!ClaimProcess(suite)) GTEST_SKIP() << "one suite per process: run with --gtest_filter=" suite ".*"

// The SetUp of a suite that needs nothing more than its own process.
#define OWNER_SET_UP(suite)      \
  void SetUp() override {        \
    SKIP_UNLESS_OWNER(suite);    \
    JvmTest::SetUp();            \
  }

#endif  // SATCHEL_TESTS_JVM_FIXTURE_H
