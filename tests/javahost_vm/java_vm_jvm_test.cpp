// StartJavaVm against the real JVM of the build machine.  A process can
// create one VM only: ctest runs every test of this program in a process of
// its own.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "java_vm.h"
#include "platform.h"
#include "start_call.h"

namespace {

const char *LibJvm() { return SATCHEL_LIBJVM_PATH; }

// StartJavaVm, called at once; a VM it made is destroyed at the end.
struct Started : StartCall {
  explicit Started(std::vector<std::string> texts) : StartCall(std::move(texts)) { Run(); }
  ~Started() {
    if (result == 1) {
      free(applicationArguments);
      vm->DestroyJavaVM();
    }
  }
};

// System.getProperty(name), or "(null)".
std::string SystemProperty(JNIEnv *env, const char *name) {
  jclass system = env->FindClass("java/lang/System");
  EXPECT_NE(system, nullptr);
  jmethodID getProperty =
      env->GetStaticMethodID(system, "getProperty", "(Ljava/lang/String;)Ljava/lang/String;");
  EXPECT_NE(getProperty, nullptr);
  jstring key = env->NewStringUTF(name);
  jstring value = (jstring)env->CallStaticObjectMethod(system, getProperty, key);
  EXPECT_FALSE(env->ExceptionCheck());
  std::string out = "(null)";
  if (value) {
    const char *chars = env->GetStringUTFChars(value, nullptr);
    out = chars;
    env->ReleaseStringUTFChars(value, chars);
    env->DeleteLocalRef(value);
  }
  env->DeleteLocalRef(key);
  env->DeleteLocalRef(system);
  return out;
}

jlong MaxMemory(JNIEnv *env) {
  jclass runtimeClass = env->FindClass("java/lang/Runtime");
  jmethodID getRuntime = env->GetStaticMethodID(runtimeClass, "getRuntime", "()Ljava/lang/Runtime;");
  jmethodID maxMemory = env->GetMethodID(runtimeClass, "maxMemory", "()J");
  jobject runtime = env->CallStaticObjectMethod(runtimeClass, getRuntime);
  jlong bytes = env->CallLongMethod(runtime, maxMemory);
  env->DeleteLocalRef(runtime);
  env->DeleteLocalRef(runtimeClass);
  return bytes;
}

TEST(RealJvm, CreatesTheVmWithTheOptionsGiven) {
  Started started({"first", "-JXmx64m", "-jvm", LibJvm(), "-JDsatchel.probe=hello world",
                   "-JDsatchel.empty=", "second"});
  ASSERT_EQ(started.result, 1) << started.message;
  EXPECT_EQ(started.message, nullptr);
  ASSERT_NE(started.vm, nullptr);
  ASSERT_NE(started.env, nullptr);
  JNIEnv *env = started.env;
  EXPECT_GE(env->GetVersion(), JNI_VERSION_1_6);

  // The environment is the calling thread's own.
  void *attached = nullptr;
  EXPECT_EQ(started.vm->GetEnv(&attached, JNI_VERSION_1_6), JNI_OK);
  EXPECT_EQ(attached, (void *)env);

  EXPECT_EQ(SystemProperty(env, "satchel.probe"), "hello world");
  EXPECT_EQ(SystemProperty(env, "satchel.empty"), "");
  EXPECT_EQ(SystemProperty(env, "satchel.absent"), "(null)");
  // -Xmx64m reached the VM: the heap can grow to about 64 MiB, not beyond.
  jlong maxMemory = MaxMemory(env);
  EXPECT_LE(maxMemory, 64LL * 1024 * 1024);
  EXPECT_GE(maxMemory, 32LL * 1024 * 1024);

  ASSERT_EQ(started.applicationCount, 2);
  EXPECT_EQ(started.applicationArguments[0], started.vector[0]);
  EXPECT_EQ(started.applicationArguments[1], started.vector[6]);
}

TEST(RealJvm, CreatesTheVmWithoutOptions) {
  Started started({"-jvm", LibJvm()});
  ASSERT_EQ(started.result, 1) << started.message;
  EXPECT_EQ(started.applicationCount, 0);
  EXPECT_EQ(started.applicationArguments, nullptr);
  EXPECT_NE(SystemProperty(started.env, "java.version"), "(null)");
}

TEST(RealJvm, UnknownOptionIsNotSkipped) {
  Started started({"-jvm", LibJvm(), "-JXsatchel-no-such-option", "app"});
  EXPECT_EQ(started.result, 0);
  EXPECT_STREQ(started.message, "Can't create Java VM");
  EXPECT_EQ(started.vm, nullptr);
  EXPECT_EQ(started.env, nullptr);
  EXPECT_EQ(started.applicationCount, 0);
  EXPECT_EQ(started.applicationArguments, nullptr);
}

TEST(RealJvm, DashAfterJGivesAnOptionTheVmRefuses) {
  // -J-Xmx64m becomes --Xmx64m, which no VM knows.
  Started started({"-jvm", LibJvm(), "-J-Xmx64m"});
  EXPECT_EQ(started.result, 0);
  EXPECT_STREQ(started.message, "Can't create Java VM");
}

TEST(RealJvm, RegistryRoadFindsTheVm) {
  const char *key = "SOFTWARE\\JavaSoft\\Java Runtime Environment";
  PlatformSetRegistryValue(key, "CurrentVersion", "17", 3);
  std::string path = LibJvm();
  std::u16string wide(path.begin(), path.end());
  PlatformSetRegistryValue((std::string(key) + "\\17").c_str(), "RuntimeLib", wide.c_str(),
                           (DWORD)((wide.size() + 1) * sizeof(char16_t)));
  Started started({"-JDsatchel.road=registry", "app"});
  ASSERT_EQ(started.result, 1) << started.message;
  EXPECT_EQ(PlatformOpenRegistryKeys(), 0);
  EXPECT_EQ(SystemProperty(started.env, "satchel.road"), "registry");
  ASSERT_EQ(started.applicationCount, 1);
  EXPECT_EQ(started.applicationArguments[0], started.vector[1]);
}

TEST(RealJvm, MissingLibrary) {
  std::string missing = std::string(LibJvm()) + ".missing";
  Started started({"-jvm", missing, "-JXmx64m"});
  EXPECT_EQ(started.result, 0);
  EXPECT_STREQ(started.message, "Could not load JVM library");
}

TEST(RealJvm, LibraryWithoutTheEntryPoint) {
  Started started({"-jvm", SATCHEL_NO_ENTRY_LIBRARY_PATH, "-JXmx64m"});
  EXPECT_EQ(started.result, 0);
  EXPECT_STREQ(started.message, "Could not get JVM entry point");
}

}  // namespace
