// The main class, the argument array, the exception report and the preset
// dictionary's growth, against the real JVM.  Each suite runs in a process of
// its own (the bootstrap and the payload are once per process).
#include <string.h>

#include <string>

#include "jvm_fixture.h"
#include "main_class.h"
#include "payload.h"
#include "payload_classes.h"

namespace {

const std::string kPrefix = "Terminating due to Java exception: ";

void ThrowNew(JNIEnv *env, const char *className, const std::string &message) {
  jclass cls = env->FindClass(className);
  ASSERT_NE(cls, nullptr);
  env->ThrowNew(cls, message.c_str());
  env->DeleteLocalRef(cls);
}

// LoadMainClass over the open payload, expected to fail: its message.
std::string FailedLoadMessage(JNIEnv *env) {
  const char *message;
  EXPECT_EQ(LoadMainClass(env, &message), nullptr);
  return message != nullptr ? message : "(null)";
}

size_t NamesLength(const BundleContents &contents) {
  size_t length = 0;
  for (const BundleFile &file : contents.files) length += file.name.size();
  return length;
}

// ---- LoadMainClass without "Main-Class" ----

const char *noMainMessage;
bool noMainPending;
size_t noMainExpectedDictionary;

class NoMainClass : public JvmTest {
 protected:
  static void SetUpTestSuite() {
    if (!ClaimProcess("NoMainClass")) return;
    JNIEnv *env = TestJvm();
    BundleContents contents = JavaTestContents();
    noMainExpectedDictionary = NamesLength(contents) + contents.files[0].content.size() + contents.files[1].content.size();
    WriteAndOpenBundle("no-main-class", contents);
    EXPECT_EQ(LoadMainClass(env, &noMainMessage), nullptr);
    noMainPending = env->ExceptionCheck();
  }
  OWNER_SET_UP("NoMainClass")
};

TEST_F(NoMainClass, IsReportedAfterTheWholeBootstrap) {
  ASSERT_NE(noMainMessage, nullptr);
  EXPECT_STREQ(noMainMessage, "No main class defined in manifest");
  EXPECT_FALSE(noMainPending);
  // The bootstrap ran to its end: both class files are in the dictionary and
  // both classes are defined.
  uint32_t used, capacity;
  GetPresetDictionary(&used, &capacity);
  EXPECT_EQ(used, noMainExpectedDictionary);
  jclass loaderClass = env->FindClass(JAVA_BUNDLE_CLASS_LOADER_CLASS);
  EXPECT_NE(loaderClass, nullptr);
  EXPECT_FALSE(TakeException(env).pending);
}

// ---- a "Main-Class" that the payload does not hold ----

std::string missingMainMessage;
bool missingMainPending;

class MissingMainClass : public JvmTest {
 protected:
  static void SetUpTestSuite() {
    if (!ClaimProcess("MissingMainClass")) return;
    JNIEnv *env = TestJvm();
    BundleContents contents = JavaTestContents();
    contents.properties.push_back({"Main-Class", "satchel.test.Absent"});
    WriteAndOpenBundle("missing-main-class", contents);
    missingMainMessage = FailedLoadMessage(env);
    missingMainPending = env->ExceptionCheck();
  }
  OWNER_SET_UP("MissingMainClass")
};

TEST_F(MissingMainClass, MessageIsTheReportOfTheClassNotFoundException) {
  EXPECT_NE(missingMainMessage, "Can't find main class");
  const std::string head = "java.lang.ClassNotFoundException: \n";
  EXPECT_EQ(missingMainMessage.substr(0, kPrefix.size() + 2 * head.size()), kPrefix + head + head)
      << missingMainMessage;
  EXPECT_NE(missingMainMessage.find("Caused by: java.io.FileNotFoundException: satchel/test/Absent.class\n"),
            std::string::npos)
      << missingMainMessage;
  EXPECT_FALSE(missingMainPending);
}

// ---- a payload without the internal classes: the bootstrap fails ----

std::string bootstrapMessage;
uint32_t bootstrapDictionaryUsed;
size_t bootstrapNamesLength;

class BootstrapFailure : public JvmTest {
 protected:
  static void SetUpTestSuite() {
    if (!ClaimProcess("BootstrapFailure")) return;
    JNIEnv *env = TestJvm();
    BundleContents contents;
    contents.dictionaries = BundleDictionaries::Java;
    AddFile(&contents, "satchel/test/Hello.class", ReadFileBytes(SATCHEL_TEST_CLASSES_DIR "/satchel/test/Hello.class"));
    contents.properties.push_back({"Main-Class", "satchel.test.Hello"});
    bootstrapNamesLength = NamesLength(contents);
    WriteAndOpenBundle("no-internal-classes", contents);
    bootstrapMessage = FailedLoadMessage(env);
    uint32_t capacity;
    GetPresetDictionary(&bootstrapDictionaryUsed, &capacity);
  }
  OWNER_SET_UP("BootstrapFailure")
};

TEST_F(BootstrapFailure, MessageIsTheReportOfTheMissingInternalClass) {
  EXPECT_EQ(bootstrapMessage.rfind(kPrefix + "java.lang.ClassNotFoundException: \n", 0), 0u) << bootstrapMessage;
  EXPECT_NE(bootstrapMessage.find(
                "Caused by: java.io.FileNotFoundException: com/tessel/qor/kestrel/InternalInputStream.class"),
            std::string::npos)
      << bootstrapMessage;
  // What the bootstrap appended before it failed stays: the names.
  EXPECT_EQ(bootstrapDictionaryUsed, bootstrapNamesLength);
}

// ---- the exception report, the argument array, HasConsoleClass ----

class Report : public JvmTest {
 protected:
  static void SetUpTestSuite() {
    if (!ClaimProcess("Report")) return;
    // A small heap, so that an 80 MB argument can't become a string.
    TestJvm({"-Xmx64m"});
  }
  OWNER_SET_UP("Report")

  std::string ReportText() {
    const char *message = "unchanged";
    ReportJavaException(env, &message);
    EXPECT_FALSE(env->ExceptionCheck());
    return message != nullptr ? message : "(null)";
  }

  std::string ArrayElement(jobjectArray array, int index) {
    jobject element = env->GetObjectArrayElement(array, index);
    if (element == nullptr) return "(null)";
    const char *chars = env->GetStringUTFChars((jstring)element, nullptr);
    std::string text = chars;
    env->ReleaseStringUTFChars((jstring)element, chars);
    env->DeleteLocalRef(element);
    return text;
  }
};

TEST_F(Report, NoPendingExceptionGivesANullMessage) {
  const char *message = "unchanged";
  ReportJavaException(env, &message);
  EXPECT_EQ(message, nullptr);
}

TEST_F(Report, StringFormStandsTwice) {
  // Thrown from native code: no Java frame, so the trace has no "at" lines.
  ThrowNew(env, "java/lang/IllegalStateException", "boom");
  EXPECT_EQ(ReportText(), kPrefix + "java.lang.IllegalStateException: boom\n" +
                              "java.lang.IllegalStateException: boom\n");
}

TEST_F(Report, TraceOfJavaCodeFollowsTheStringForm) {
  jclass integer = env->FindClass("java/lang/Integer");
  jmethodID parseInt = env->GetStaticMethodID(integer, "parseInt", "(Ljava/lang/String;)I");
  env->CallStaticIntMethod(integer, parseInt, env->NewStringUTF("twelve"));
  ASSERT_TRUE(env->ExceptionCheck());
  std::string form = "java.lang.NumberFormatException: For input string: \"twelve\"";
  std::string text = ReportText();
  EXPECT_EQ(text.rfind(kPrefix + form + "\n" + form + "\n\tat java.base/java.lang.NumberFormatException", 0), 0u)
      << text;
  EXPECT_NE(text.find("\tat java.base/java.lang.Integer.parseInt("), std::string::npos) << text;
}

TEST_F(Report, LongTraceIsCutAt4095Bytes) {
  std::string message(5000, 'a');
  ThrowNew(env, "java/lang/RuntimeException", message);
  std::string printed = "java.lang.RuntimeException: " + message;
  const char *report;
  ReportJavaException(env, &report);
  ASSERT_NE(report, nullptr);
  EXPECT_EQ(strlen(report), 4095u);
  EXPECT_EQ(report[4095], 0);
  EXPECT_EQ(std::string(report), kPrefix + printed.substr(0, 4060));
}

TEST_F(Report, CutFallsOnAByteEvenInsideACharacter) {
  // Prefix (35) and "java.lang.RuntimeException: a" (29) leave 4031 bytes for
  // two-byte characters: the last one is cut after its first byte.
  std::string message = "a";
  for (int i = 0; i < 3000; i++) message += "\xc3\xa9";
  ThrowNew(env, "java/lang/RuntimeException", message);
  std::string text = ReportText();
  ASSERT_EQ(text.size(), 4095u);
  EXPECT_EQ(text, kPrefix + ("java.lang.RuntimeException: " + message).substr(0, 4060));
  EXPECT_EQ((unsigned char)text.back(), 0xc3);
}

TEST_F(Report, ReportClearsTheExceptionAndTheBufferHoldsTheLatestReport) {
  ThrowNew(env, "java/lang/IllegalStateException", "first");
  const char *first;
  ReportJavaException(env, &first);
  ASSERT_NE(first, nullptr);
  EXPECT_FALSE(env->ExceptionCheck());
  ThrowNew(env, "java/lang/IllegalStateException", "second");
  const char *second;
  ReportJavaException(env, &second);
  EXPECT_EQ(first, second);  // one buffer for the process
  EXPECT_EQ(std::string(second), kPrefix + "java.lang.IllegalStateException: second\n" +
                                     "java.lang.IllegalStateException: second\n");
}

TEST_F(Report, RuntimeHasConsoleClass) {
  EXPECT_EQ(HasConsoleClass(env), 1);
  EXPECT_FALSE(env->ExceptionCheck());
}

TEST_F(Report, MakeStringArrayOfNoStrings) {
  const char *message = "unchanged";
  jobjectArray array = MakeStringArray(env, 0, nullptr, &message);
  ASSERT_NE(array, nullptr);
  EXPECT_EQ(message, nullptr);
  EXPECT_EQ(env->GetArrayLength(array), 0);
}

TEST_F(Report, MakeStringArrayKeepsOrderAndText) {
  char first[] = "first";
  char empty[] = "";
  char accented[] = "h\xc3\xa9llo w\xc3\xb6rld";
  char *strings[] = {first, empty, accented};
  const char *message = "unchanged";
  jobjectArray array = MakeStringArray(env, 3, strings, &message);
  ASSERT_NE(array, nullptr);
  EXPECT_EQ(message, nullptr);
  ASSERT_EQ(env->GetArrayLength(array), 3);
  EXPECT_EQ(ArrayElement(array, 0), "first");
  EXPECT_EQ(ArrayElement(array, 1), "");
  EXPECT_EQ(ArrayElement(array, 2), accented);
  jclass stringArray = env->FindClass("[Ljava/lang/String;");
  EXPECT_TRUE(env->IsInstanceOf(array, stringArray));
}

TEST_F(Report, MakeStringArrayLeavesAFailedElementNullAndReportsIt) {
  std::string huge(80 * 1024 * 1024, 'x');  // more than the whole heap
  char before[] = "before";
  char after[] = "after";
  char *strings[] = {before, &huge[0], after};
  const char *message = nullptr;
  jobjectArray array = MakeStringArray(env, 3, strings, &message);
  ASSERT_NE(array, nullptr);
  ASSERT_NE(message, nullptr);
  EXPECT_EQ(std::string(message).rfind(kPrefix + "java.lang.OutOfMemoryError", 0), 0u) << message;
  EXPECT_FALSE(env->ExceptionCheck());
  EXPECT_EQ(ArrayElement(array, 0), "before");
  EXPECT_EQ(ArrayElement(array, 1), "(null)");
  EXPECT_EQ(ArrayElement(array, 2), "after");
}

TEST_F(Report, MakeStringArrayOfNegativeCountReportsTheException) {
  const char *message = nullptr;
  EXPECT_EQ(MakeStringArray(env, -1, nullptr, &message), nullptr);
  ASSERT_NE(message, nullptr);
  EXPECT_EQ(std::string(message).rfind(kPrefix + "java.lang.NegativeArraySizeException", 0), 0u) << message;
}

// ---- the preset dictionary's growth rule ----

class Dictionary : public JvmTest {
 protected:
  OWNER_SET_UP("Dictionary")
};

TEST_F(Dictionary, GrowsByTwiceTheCapacityPlus32KiBAndTheRequest) {
  uint32_t used, capacity;
  // Appending nothing to the empty state allocates nothing.
  ASSERT_TRUE(AppendToPresetDictionary(env, nullptr, 0));
  EXPECT_EQ(GetPresetDictionary(&used, &capacity), nullptr);
  EXPECT_EQ(used, 0u);
  EXPECT_EQ(capacity, 0u);

  std::vector<unsigned char> names(100, 'n'), small(3000, 's'), large(40000, 'l');
  const struct {
    const std::vector<unsigned char> &append;
    uint32_t capacity, used;
  } steps[] = {{names, 32868, 100}, {small, 32868, 3100}, {large, 138504, 43100}};
  const unsigned char *dictionary = nullptr;
  for (const auto &step : steps) {
    ASSERT_TRUE(AppendToPresetDictionary(env, step.append.data(), (uint32_t)step.append.size()));
    dictionary = GetPresetDictionary(&used, &capacity);
    EXPECT_EQ(capacity, step.capacity);
    EXPECT_EQ(used, step.used);
  }
  std::vector<unsigned char> expected = names;
  expected.insert(expected.end(), small.begin(), small.end());
  expected.insert(expected.end(), large.begin(), large.end());
  EXPECT_EQ(std::vector<unsigned char>(dictionary, dictionary + used), expected);
}

TEST_F(Dictionary, CapacityBeyond32BitsIsOutOfMemory) {
  uint32_t usedBefore, capacityBefore, used, capacity;
  const unsigned char *before = GetPresetDictionary(&usedBefore, &capacityBefore);
  // Never read: the growth fails first.
  unsigned char byte = 0;
  EXPECT_FALSE(AppendToPresetDictionary(env, &byte, 0xFFFFFF00u));
  JavaThrown thrown = TakeException(env);
  EXPECT_EQ(thrown.className, "java.lang.OutOfMemoryError");
  EXPECT_EQ(thrown.message, "");
  EXPECT_EQ(GetPresetDictionary(&used, &capacity), before);
  EXPECT_EQ(used, usedBefore);
  EXPECT_EQ(capacity, capacityBefore);
}

}  // namespace
