// LoadJvmEntryPoint without a path: the registry of an installed Java
// runtime, here the stand-in's table.  Every failure has its own message and
// leaves no key open.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "java_vm.h"
#include "platform.h"
#include "start_call.h"
#include "test_support.h"

namespace {

const char kRuntimeKey[] = "SOFTWARE\\JavaSoft\\Java Runtime Environment";

std::u16string Utf16(const std::string &ascii) { return std::u16string(ascii.begin(), ascii.end()); }

// A REG_SZ-like value: the text's UTF-16 bytes, with or without the
// terminating zero unit.
void SetRuntimeLib(const std::string &versionKey, const std::u16string &text, bool terminated) {
  size_t bytes = (text.size() + (terminated ? 1 : 0)) * sizeof(char16_t);
  PlatformSetRegistryValue(versionKey.c_str(), "RuntimeLib", text.c_str(), (DWORD)bytes);
}

void SetCurrentVersion(const std::string &version) {
  PlatformSetRegistryValue(kRuntimeKey, "CurrentVersion", version.c_str(),
                           (DWORD)version.size() + 1);
}

std::string VersionKey(const std::string &version) { return std::string(kRuntimeKey) + "\\" + version; }

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    PlatformClearRegistry();
    LoadStubJvm().setResult(JNI_OK);
    ASSERT_EQ(PlatformOpenRegistryKeys(), 0);
  }
  void TearDown() override {
    EXPECT_EQ(PlatformOpenRegistryKeys(), 0) << "a registry key was left open";
    PlatformClearRegistry();
  }
  // A complete installation whose "RuntimeLib" names `library`.
  void Install(const std::string &version, const std::string &library) {
    SetCurrentVersion(version);
    SetRuntimeLib(VersionKey(version), Utf16(library), true);
  }
  // LoadJvmEntryPoint(null); the message it gave.
  const char *Load(CreateJavaVmEntry *entry = nullptr) {
    const char *message = "not set";
    CreateJavaVmEntry found = LoadJvmEntryPoint(nullptr, &message);
    if (entry) *entry = found;
    EXPECT_EQ(found == nullptr, message != nullptr);
    return message;
  }
};

TEST_F(RegistryTest, FindsTheRuntimeLibrary) {
  Install("1.8", StubJvmPath());
  CreateJavaVmEntry entry = nullptr;
  EXPECT_EQ(Load(&entry), nullptr);
  EXPECT_NE(entry, nullptr);
}

TEST_F(RegistryTest, StartJavaVmWithoutArgumentsTakesTheRegistryRoad) {
  Install("17", StubJvmPath());
  char *vector[] = {nullptr};
  StartOutputs out;
  ASSERT_EQ(out.Start(0, vector), 1) << out.message;
  const StubJvmRecord &record = *LoadStubJvm().record();
  EXPECT_EQ(record.calls, 1);
  EXPECT_EQ(record.optionCount, 0);
  EXPECT_EQ(record.optionsNull, 1);
  EXPECT_EQ(out.applicationCount, 0);
  EXPECT_EQ(out.applicationArguments, nullptr);
  EXPECT_EQ(out.vm, LoadStubJvm().handles().vm);
}

TEST_F(RegistryTest, NoRuntimeKey) {
  // A neighbour of the key is not the key.
  PlatformSetRegistryValue("SOFTWARE\\JavaSoft\\Java Development Kit", "CurrentVersion", "17", 3);
  EXPECT_STREQ(Load(), "Could not locate Java runtime envorinment");
}

TEST_F(RegistryTest, NoCurrentVersion) {
  PlatformAddRegistryKey(kRuntimeKey);
  SetRuntimeLib(VersionKey("17"), Utf16(StubJvmPath()), true);
  EXPECT_STREQ(Load(), "Could not find version of Java runtime envorinment");
}

TEST_F(RegistryTest, CurrentVersionOfEightyBytesIsRead) {
  std::string version(79, 'v');  // 79 bytes and the terminating zero
  Install(version, StubJvmPath());
  EXPECT_EQ(Load(), nullptr);
}

TEST_F(RegistryTest, CurrentVersionOverEightyBytes) {
  std::string version(80, 'v');  // 81 bytes with the zero
  Install(version, StubJvmPath());
  EXPECT_STREQ(Load(), "Could not find version of Java runtime envorinment");
}

TEST_F(RegistryTest, CurrentVersionWithoutTerminatorIsEndedWhereItsDataEnds) {
  PlatformSetRegistryValue(kRuntimeKey, "CurrentVersion", "17", 2);
  SetRuntimeLib(VersionKey("17"), Utf16(StubJvmPath()), true);
  EXPECT_EQ(Load(), nullptr);
}

TEST_F(RegistryTest, CurrentVersionFillingTheBufferWithoutTerminatorStaysInside) {
  // 80 bytes, none of them zero: the name is ended inside the buffer (the
  // last byte gives way), so no key of the full name is found, and nothing
  // behind the buffer is read.
  std::string version(80, 'v');
  PlatformSetRegistryValue(kRuntimeKey, "CurrentVersion", version.data(), 80);
  SetRuntimeLib(VersionKey(version), Utf16(StubJvmPath()), true);
  EXPECT_STREQ(Load(), "Could not locate current version of Java runtime envorinment");
}

TEST_F(RegistryTest, NoVersionKey) {
  SetCurrentVersion("17");
  SetRuntimeLib(VersionKey("11"), Utf16(StubJvmPath()), true);
  EXPECT_STREQ(Load(), "Could not locate current version of Java runtime envorinment");
}

TEST_F(RegistryTest, NoRuntimeLib) {
  SetCurrentVersion("17");
  PlatformAddRegistryKey(VersionKey("17").c_str());
  EXPECT_STREQ(Load(), "Could not locate Java runtime library");
}

TEST_F(RegistryTest, RuntimeLibOverTheBuffer) {
  // 4096 units and the zero: 8194 bytes.
  Install("17", PadPath(StubJvmPath(), 4096));
  EXPECT_STREQ(Load(), "Could not locate Java runtime library");
}

TEST_F(RegistryTest, RuntimeLibFillingTheBufferWithItsTerminatorLoads) {
  Install("17", PadPath(StubJvmPath(), 4095));  // 8192 bytes with the zero
  EXPECT_EQ(Load(), nullptr);
}

TEST_F(RegistryTest, RuntimeLibFillingTheBufferWithoutTerminatorIsEnded) {
  // 8192 bytes, no zero unit: the value is ended at the buffer's last unit,
  // so the unit "X" there gives way and the 4095 units before it, the
  // stand-in's path, are loaded.
  SetCurrentVersion("17");
  SetRuntimeLib(VersionKey("17"), Utf16(PadPath(StubJvmPath(), 4095) + "X"), false);
  EXPECT_EQ(Load(), nullptr);
}

TEST_F(RegistryTest, RuntimeLibFillingTheBufferWithoutTerminatorFailsCleanly) {
  SetCurrentVersion("17");
  SetRuntimeLib(VersionKey("17"), Utf16(std::string(4096, 'A')), false);
  EXPECT_STREQ(Load(), "Could not load JVM library");
}

TEST_F(RegistryTest, ShortRuntimeLibWithoutTerminatorIsEndedWhereItsDataEnds) {
  SetCurrentVersion("17");
  SetRuntimeLib(VersionKey("17"), Utf16(StubJvmPath()), false);
  EXPECT_EQ(Load(), nullptr);
}

TEST_F(RegistryTest, RuntimeLibNamesAMissingFile) {
  Install("17", "/nonexistent/jre/bin/server/jvm.dll");
  EXPECT_STREQ(Load(), "Could not load JVM library");
}

TEST_F(RegistryTest, RuntimeLibNamesALibraryWithoutTheEntryPoint) {
  Install("17", NoEntryLibraryPath());
  EXPECT_STREQ(Load(), "Could not get JVM entry point");
}

TEST_F(RegistryTest, KeyNamesIgnoreCaseLikeTheRegistry) {
  PlatformSetRegistryValue("software\\javasoft\\java runtime environment", "CurrentVersion", "17",
                           3);
  SetRuntimeLib("SOFTWARE\\JAVASOFT\\JAVA RUNTIME ENVIRONMENT\\17", Utf16(StubJvmPath()), true);
  EXPECT_EQ(Load(), nullptr);
}

TEST_F(RegistryTest, AnExplicitPathLeavesTheRegistryAlone) {
  // A broken installation does not matter when the path is given.
  SetCurrentVersion("17");
  const char *message = "not set";
  EXPECT_NE(LoadJvmEntryPoint(StubJvmPath(), &message), nullptr);
  EXPECT_EQ(message, nullptr);
}

}  // namespace
