// StartJavaVm's split of the command line, its allocations and its messages,
// seen through the stand-in JVM library: which options the VM got, in which
// form, and which application arguments came back.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <ostream>
#include <string>
#include <vector>

#include "java_vm.h"
#include "platform.h"
#include "start_call.h"
#include "test_support.h"

namespace {

// One call of StartJavaVm, made by Run.
struct Call : StartCall {
  using StartCall::StartCall;
  // Run under the allocation watch, no allocation failing.
  void RunWatched() {
    ArmAllocationWatch(0);
    Run();
    DisarmAllocationWatch();
  }
  // Run, expecting StartJavaVm to fail with `expected`.
  void RunFailing(const char *expected) {
    Run();
    EXPECT_EQ(result, 0);
    EXPECT_STREQ(message, expected);
  }
  ~Call() {
    if (result == 1) free(applicationArguments);
  }
};

std::string Stub() { return StubJvmPath(); }

class StartJavaVmTest : public ::testing::Test {
 protected:
  void SetUp() override {
    PlatformClearRegistry();
    LoadStubJvm().setResult(JNI_OK);
  }
  const StubJvmRecord &Record() { return *LoadStubJvm().record(); }
};

// ---- the split, as a table ----

struct SplitCase {
  const char *name;
  std::vector<std::string> arguments;
  std::vector<std::string> options;           // as the VM receives them
  std::vector<size_t> applicationPositions;  // indexes into the arguments
};

void PrintTo(const SplitCase &c, std::ostream *out) { *out << c.name; }

std::string PrintSplitCase(const ::testing::TestParamInfo<SplitCase> &info) {
  return info.param.name;
}

class SplitTest : public StartJavaVmTest, public ::testing::WithParamInterface<SplitCase> {};

TEST_P(SplitTest, GivesTheVmItsOptionsAndTheCallerItsArguments) {
  const SplitCase &c = GetParam();
  Call call(c.arguments);
  call.Run();
  ASSERT_EQ(call.result, 1) << (call.message ? call.message : "(no message)");
  EXPECT_EQ(call.message, nullptr);

  const StubJvmRecord &record = Record();
  ASSERT_EQ(record.calls, 1);
  EXPECT_EQ(record.version, 0x00010006);
  EXPECT_EQ(record.ignoreUnrecognized, JNI_FALSE);
  EXPECT_EQ(record.extraInfoNonNull, 0);
  ASSERT_EQ(record.optionCount, (jint)c.options.size());
  EXPECT_EQ(record.optionsNull != 0, c.options.empty());
  for (size_t i = 0; i < c.options.size(); i++)
    EXPECT_EQ(std::string(record.options[i]), c.options[i]) << "option " << i;

  StubJvmHandles handles = LoadStubJvm().handles();
  EXPECT_EQ(call.vm, handles.vm);
  EXPECT_EQ((void *)call.env, handles.env);

  ASSERT_EQ(call.applicationCount, (int)c.applicationPositions.size());
  if (c.applicationPositions.empty()) {
    EXPECT_EQ(call.applicationArguments, nullptr);
  } else {
    ASSERT_NE(call.applicationArguments, nullptr);
    for (size_t i = 0; i < c.applicationPositions.size(); i++)
      // The caller's own pointer, not a copy of the text.
      EXPECT_EQ(call.applicationArguments[i], call.vector[c.applicationPositions[i]])
          << "application argument " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, SplitTest,
    ::testing::Values(
        SplitCase{"PathOnly", {"-jvm", Stub()}, {}, {}},
        SplitCase{"OptionRewritten", {"-jvm", Stub(), "-JXmx256m"}, {"-Xmx256m"}, {}},
        SplitCase{"PropertyOption", {"-JDname=value", "-jvm", Stub()}, {"-Dname=value"}, {}},
        SplitCase{"DashAfterJStays", {"-J-Xmx64m", "-jvm", Stub()}, {"--Xmx64m"}, {}},
        SplitCase{"JAloneIsADash", {"-J", "-jvm", Stub()}, {"-"}, {}},
        SplitCase{"UpperCaseJvmIsAnOption", {"-JVM", "-jvm", Stub()}, {"-VM"}, {}},
        SplitCase{"JvmxIsAnApplicationArgument", {"-jvmx", "-jvm", Stub()}, {}, {0}},
        SplitCase{"LowerCaseJIsAnApplicationArgument", {"-jXmx1m", "-jvm", Stub()}, {}, {0}},
        SplitCase{"JvmInTheMiddle",
                  {"-jvm", Stub(), "a", "-Jverbose", "b"},
                  {"-verbose"},
                  {2, 4}},
        SplitCase{"JvmAfterArguments", {"a", "b", "-jvm", Stub()}, {}, {0, 1}},
        SplitCase{"SecondJvmWins",
                  {"-jvm", "/nonexistent/first.so", "x", "-jvm", Stub(), "y"},
                  {},
                  {2, 5}},
        SplitCase{"OrderKept",
                  {"-Ja", "one", "-jvm", Stub(), "-Jb", "two", "three", "-Jc"},
                  {"-a", "-b", "-c"},
                  {1, 5, 6}},
        SplitCase{"EmptyArgumentIsAnApplicationArgument", {"", "-jvm", Stub(), ""}, {}, {0, 3}},
        SplitCase{"BytesPassedAsTheyStand",
                  {"-JDk=caf\xc3\xa9 \xff", "-jvm", Stub()},
                  {"-Dk=caf\xc3\xa9 \xff"},
                  {}},
        SplitCase{"SameTextTwice", {"a", "a", "-jvm", Stub(), "a"}, {}, {0, 1, 4}}),
    PrintSplitCase);

// ---- the path switch ----

TEST_F(StartJavaVmTest, JvmTakesTheNextArgumentWhateverItIs) {
  // -Jx is the path here, not an option: nothing of that name loads.
  Call call({"-jvm", "-Jx", "-Ja"});
  call.RunFailing("Could not load JVM library");
  EXPECT_EQ(Record().calls, 0);
}

TEST_F(StartJavaVmTest, JvmAsLastArgumentAsksTheRegistry) {
  // An earlier path is dropped: the registry (empty here) is asked.
  Call call({"-jvm", Stub(), "a", "-jvm"});
  call.RunFailing("Could not locate Java runtime envorinment");
  EXPECT_EQ(Record().calls, 0);
}

TEST_F(StartJavaVmTest, NoArgumentsAsksTheRegistry) {
  Call call(std::vector<std::string>{});
  call.RunFailing("Could not locate Java runtime envorinment");
}

TEST_F(StartJavaVmTest, NegativeCountIsNoArguments) {
  char *vector[] = {nullptr};
  StartOutputs out;
  EXPECT_EQ(out.Start(-3, vector), 0);
  EXPECT_STREQ(out.message, "Could not locate Java runtime envorinment");
}

TEST_F(StartJavaVmTest, JvmAsLastArgumentReadsNothingBehindTheVector) {
  // A vector of exactly `count` entries, without the ending null: the entry
  // after a final "-jvm" is not there to be read.
  char jvm[] = "-jvm";
  char **vector = (char **)malloc(sizeof(char *));
  vector[0] = jvm;
  StartOutputs out;
  EXPECT_EQ(out.Start(1, vector), 0);
  EXPECT_STREQ(out.message, "Could not locate Java runtime envorinment");
  free(vector);
}

// ---- failures and the outputs ----

TEST_F(StartJavaVmTest, VmRefusalIsReportedAndOutputsStayCleared) {
  LoadStubJvm().setResult(JNI_EINVAL);
  Call call({"-JXunknown", "-jvm", Stub(), "app"});
  call.RunFailing("Can't create Java VM");
  EXPECT_EQ(Record().calls, 1);  // the option went to the VM, not skipped
  EXPECT_STREQ(Record().options[0], "-Xunknown");
  EXPECT_EQ(call.vm, nullptr);
  EXPECT_EQ(call.env, nullptr);
  EXPECT_EQ(call.applicationCount, 0);
  EXPECT_EQ(call.applicationArguments, nullptr);
}

TEST_F(StartJavaVmTest, AnyNonZeroResultIsARefusal) {
  for (jint result : {JNI_ERR, JNI_EVERSION, JNI_ENOMEM, JNI_EEXIST, (jint)1}) {
    LoadStubJvm().setResult(result);
    Call call({"-jvm", Stub()});
    call.Run();
    EXPECT_EQ(call.result, 0) << result;
    EXPECT_STREQ(call.message, "Can't create Java VM") << result;
  }
}

TEST_F(StartJavaVmTest, MissingLibrary) {
  Call call({"-JXmx64m", "-jvm", "/nonexistent/libjvm.so", "app"});
  call.RunFailing("Could not load JVM library");
  EXPECT_EQ(call.vm, nullptr);
  EXPECT_EQ(call.applicationArguments, nullptr);
}

TEST_F(StartJavaVmTest, LibraryWithoutEntryPoint) {
  Call call({"-jvm", NoEntryLibraryPath()});
  call.RunFailing("Could not get JVM entry point");
}

TEST_F(StartJavaVmTest, SuccessClearsAStaleMessage) {
  Call call({"-jvm", Stub()});
  call.Run();
  EXPECT_EQ(call.result, 1);
  EXPECT_EQ(call.message, nullptr);
}

// ---- allocations ----

// Every allocation of the call fails once in turn.  Those of the split give
// "Memory allocation failed"; none of them may leave anything behind, and
// the VM is never asked.  After success only the application array is left,
// owned by the caller: the option strings and their array are gone.
TEST_F(StartJavaVmTest, EachAllocationFailureIsReportedAndReleasesEverything) {
  // Option array, application array, then the two option strings.
  const int kSplitAllocations = 4;
  bool succeeded = false;
  for (int failAt = 1; failAt < 50 && !succeeded; failAt++) {
    LoadStubJvm().setResult(JNI_OK);
    Call call({"-JXmx64m", "app", "-jvm", Stub(), "-JDa=b", "more"});
    ArmAllocationWatch(failAt);
    call.Run();
    int seen = DisarmAllocationWatch();
    if (call.result == 1) {
      succeeded = true;
      EXPECT_GT(failAt, seen) << "a failed allocation went unnoticed";
      EXPECT_EQ(LiveWatchedAllocations(), 1u);
      EXPECT_TRUE(IsLiveWatchedAllocation(call.applicationArguments));
      EXPECT_STREQ(Record().options[0], "-Xmx64m");
      EXPECT_STREQ(Record().options[1], "-Da=b");
      continue;
    }
    if (failAt <= kSplitAllocations)
      EXPECT_STREQ(call.message, "Memory allocation failed") << "allocation " << failAt;
    else
      EXPECT_STREQ(call.message, "Could not load JVM library") << "allocation " << failAt;
    EXPECT_EQ(LiveWatchedAllocations(), 0u) << "allocation " << failAt;
    EXPECT_EQ(Record().calls, 0) << "allocation " << failAt;
    EXPECT_EQ(call.applicationArguments, nullptr);
    EXPECT_EQ(call.applicationCount, 0);
  }
  EXPECT_TRUE(succeeded);
}

TEST_F(StartJavaVmTest, FailuresAfterTheSplitReleaseEverything) {
  const struct {
    std::vector<std::string> arguments;
    jint vmResult;
    const char *message;
  } cases[] = {
      {{"-Ja", "-Jb", "app", "-jvm", "/nonexistent/libjvm.so"}, JNI_OK, "Could not load JVM library"},
      {{"-Ja", "app", "-jvm", NoEntryLibraryPath()}, JNI_OK, "Could not get JVM entry point"},
      {{"-Ja", "-Jb", "app", "-jvm", Stub()}, JNI_ERR, "Can't create Java VM"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.message);
    LoadStubJvm().setResult(c.vmResult);
    Call call(c.arguments);
    call.RunWatched();
    EXPECT_STREQ(call.message, c.message);
    EXPECT_EQ(LiveWatchedAllocations(), 0u);
  }
}

TEST_F(StartJavaVmTest, NoArraysWithoutOptionsOrArguments) {
  Call call({"-jvm", Stub()});
  call.RunWatched();
  ASSERT_EQ(call.result, 1);
  EXPECT_EQ(LiveWatchedAllocations(), 0u);
  EXPECT_EQ(call.applicationArguments, nullptr);
  EXPECT_EQ(Record().optionsNull, 1);
}

// ---- the explicit path ----

TEST_F(StartJavaVmTest, LoadJvmEntryPointFindsTheExport) {
  const char *message = "not set";
  CreateJavaVmEntry entry = LoadJvmEntryPoint(StubJvmPath(), &message);
  EXPECT_NE(entry, nullptr);
  EXPECT_EQ(message, nullptr);
}

TEST_F(StartJavaVmTest, EmptyPathDoesNotLoad) {
  const char *message = nullptr;
  EXPECT_EQ(LoadJvmEntryPoint("", &message), nullptr);
  EXPECT_STREQ(message, "Could not load JVM library");
}

TEST_F(StartJavaVmTest, PathOfTheBufferSizeLessOneLoads) {
  // 4095 bytes of ASCII: 4095 units and the terminating zero fill the
  // 4096-unit buffer exactly.
  std::string path = PadPath(StubJvmPath(), 4095);
  const char *message = "not set";
  EXPECT_NE(LoadJvmEntryPoint(path.c_str(), &message), nullptr);
  EXPECT_EQ(message, nullptr);
}

TEST_F(StartJavaVmTest, PathTooLongForTheBufferIsNotLoaded) {
  // The first 4095 units name the stand-in: cut at the buffer's end, the path
  // would load a library other than the one named.
  std::string path = PadPath(StubJvmPath(), 4095) + "x";
  const char *message = nullptr;
  EXPECT_EQ(LoadJvmEntryPoint(path.c_str(), &message), nullptr);
  EXPECT_STREQ(message, "Could not load JVM library");

  Call call({"-jvm", path, "-Ja", "app"});
  call.RunWatched();
  EXPECT_EQ(call.result, 0);
  EXPECT_STREQ(call.message, "Could not load JVM library");
  EXPECT_EQ(LiveWatchedAllocations(), 0u);
  EXPECT_EQ(Record().calls, 0);
}

}  // namespace
