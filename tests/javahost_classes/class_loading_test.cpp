// Payload class loading against the real JVM: the bootstrap through
// LoadMainClass, findClass, the natives of InternalInputStream, resources,
// and sixteen threads reading at once.
#include <limits.h>
#include <stdio.h>
#include <string.h>

#include <string>

#include "jvm_fixture.h"
#include "main_class.h"
#include "payload.h"
#include "payload_classes.h"

namespace {

const int kParallelEntries = 16;
const int kGeneratedClasses = 64;
const int kParallelRounds = 8;  // enough file refills that an unlocked seek and read would interleave
const char kGreeting[] = "Greetings from a resource file.\n";

// Set up once for the suite: the bundle, the bootstrap and the main class.
jclass mainClass;      // global reference, or null
jobject loader;        // global reference to the payload loader, or null
const char *loadMessage;
std::string concatenatedNames;
std::vector<unsigned char> inputStreamBytes, classLoaderBytes;

// Overwrites the first compressed bytes of an entry with 0xFF: a deflate
// block of the invalid type 3.
// Overwrites the start of an entry's compressed bytes: by default with bytes
// that no deflate stream starts with.
void DamageEntry(const std::string &bundle, const char *name,
                 const std::string &bytes = std::string(4, '\xff')) {
  FileEntry *entry;
  const char *message;
  ASSERT_TRUE(FindFileEntry(name, &entry, &message)) << message;
  FILE *file = fopen(bundle.c_str(), "r+b");
  ASSERT_NE(file, nullptr);
  fseek(file, GetPayloadEntryDataStart() + (long)entry->offset, SEEK_SET);
  fwrite(bytes.data(), 1, bytes.size(), file);
  fclose(file);
}

// A complete deflate stream of two bytes: one final stored block "ok".
const std::string kShortDeflateStream("\x01\x02\x00\xfd\xffok", 7);

// cls.getClassLoader(), with any exception left pending.
jobject ClassLoaderOf(JNIEnv *env, jclass cls) {
  jclass classClass = env->FindClass("java/lang/Class");
  jmethodID getClassLoader = env->GetMethodID(classClass, "getClassLoader", "()Ljava/lang/ClassLoader;");
  jobject result = env->CallObjectMethod(cls, getClassLoader);
  env->DeleteLocalRef(classClass);
  return result;
}

class ClassLoading : public JvmTest {
 protected:
  static void SetUpTestSuite() {
    if (!ClaimProcess("ClassLoading")) return;
    JNIEnv *env = TestJvm();
    BundleContents contents = JavaTestContents();
    for (int i = 0; i < kParallelEntries; i++)
      AddFile(&contents, "data/" + std::to_string(i) + ".bin", ParallelEntryData(i));
    AddFile(&contents, "data/with space \xc3\xa9.txt", std::string("caf\xc3\xa9 au lait"));
    AddFile(&contents, "satchel/test/Damaged.class", ReadFileBytes(SATCHEL_TEST_CLASSES_DIR "/satchel/test/Alpha.class"));
    AddFile(&contents, "satchel/test/NotAClass.class", std::string("this is not a class file"));
    AddFile(&contents, "data/ends-early.bin", ParallelEntryData(0));
    contents.properties.push_back({"Main-Class", "satchel.test.Hello"});
    for (const BundleFile &file : contents.files) concatenatedNames += file.name;
    inputStreamBytes = contents.files[0].content;
    classLoaderBytes = contents.files[1].content;

    std::string bundle = WriteAndOpenBundle("class-loading", contents);
    DamageEntry(bundle, "satchel/test/Damaged.class");
    DamageEntry(bundle, "data/ends-early.bin", kShortDeflateStream);

    jclass found = LoadMainClass(env, &loadMessage);
    if (found == nullptr) return;
    mainClass = (jclass)env->NewGlobalRef(found);
    jobject local = ClassLoaderOf(env, found);
    if (env->ExceptionCheck()) env->ExceptionClear();
    if (local != nullptr) loader = env->NewGlobalRef(local);
    env->DeleteLocalRef(local);
    env->DeleteLocalRef(found);
  }

  void SetUp() override {
    SKIP_UNLESS_OWNER("ClassLoading");
    JvmTest::SetUp();
    ASSERT_NE(mainClass, nullptr) << (loadMessage ? loadMessage : "no message");
    ASSERT_NE(loader, nullptr);
  }

  jclass InputStreamClass() {
    jclass cls = env->FindClass(JAVA_BUNDLE_INPUT_STREAM_CLASS);
    EXPECT_NE(cls, nullptr);
    return cls;
  }

  // new InternalInputStream(name): the object, or null with the exception taken.
  jobject OpenStream(const char *name, JavaThrown *thrown = nullptr) {
    jclass cls = InputStreamClass();
    jmethodID constructor = env->GetMethodID(cls, "<init>", "(Ljava/lang/String;)V");
    jstring text = name != nullptr ? env->NewStringUTF(name) : nullptr;
    jobject stream = env->NewObject(cls, constructor, text);
    JavaThrown taken = TakeException(env);
    if (thrown != nullptr) *thrown = taken;
    return stream;
  }

  // stream.read(b, off, len) with the exception, if any, taken.
  int Read(jobject stream, jbyteArray b, int off, int len, JavaThrown *thrown) {
    jclass cls = InputStreamClass();
    jmethodID read = env->GetMethodID(cls, "read", "([BII)I");
    int result = env->CallIntMethod(stream, read, b, (jint)off, (jint)len);
    *thrown = TakeException(env);
    return result;
  }

  void Close(jobject stream) {
    jclass cls = InputStreamClass();
    env->CallVoidMethod(stream, env->GetMethodID(cls, "close", "()V"));
    EXPECT_FALSE(TakeException(env).pending);
  }

  // loader.findClass(name) through the native, on the given loader.
  jclass FindClassOn(jobject on, const char *name, JavaThrown *thrown) {
    jclass cls = env->FindClass(JAVA_BUNDLE_CLASS_LOADER_CLASS);
    jmethodID findClass = env->GetMethodID(cls, "findClass", "(Ljava/lang/String;)Ljava/lang/Class;");
    jstring text = name != nullptr ? env->NewStringUTF(name) : nullptr;
    jclass result = (jclass)env->CallObjectMethod(on, findClass, text);
    *thrown = TakeException(env);
    return result;
  }

  jobject LoaderOf(jclass cls) {
    jobject result = ClassLoaderOf(env, cls);
    EXPECT_FALSE(TakeException(env).pending);
    return result;
  }

  // loader.findClass(name) on the payload loader, expected to fail: what it threw.
  JavaThrown FindClassFails(const char *name) {
    JavaThrown thrown;
    EXPECT_EQ(FindClassOn(loader, name, &thrown), nullptr);
    return thrown;
  }

  jclass AppClass(const char *name) {
    JavaThrown thrown;
    jclass cls = (jclass)env->CallObjectMethod(
        loader, env->GetMethodID(env->FindClass("java/lang/ClassLoader"), "loadClass",
                                 "(Ljava/lang/String;)Ljava/lang/Class;"),
        env->NewStringUTF(name));
    thrown = TakeException(env);
    EXPECT_FALSE(thrown.pending) << thrown.className << ": " << thrown.message;
    return cls;
  }
};

TEST_F(ClassLoading, BootstrapDefinesTheInternalClassesAndLoadsTheMainClass) {
  EXPECT_EQ(loadMessage, nullptr);
  EXPECT_EQ(ClassNameOf(env, mainClass), "satchel.test.Hello");
  EXPECT_EQ(CallStaticText(env, mainClass, "greet"), "hello from the payload");

  jobject mainLoader = LoaderOf(mainClass);
  EXPECT_TRUE(env->IsSameObject(mainLoader, loader));
  jclass loaderClass = env->GetObjectClass(loader);
  EXPECT_EQ(ClassNameOf(env, loaderClass), "com.tessel.qor.kestrel.InternalClassLoader");
  // Both internal classes belong to the bootstrap loader.
  EXPECT_EQ(LoaderOf(loaderClass), nullptr);
  EXPECT_EQ(LoaderOf(InputStreamClass()), nullptr);

  jmethodID parallel = env->GetMethodID(env->FindClass("java/lang/ClassLoader"), "isRegisteredAsParallelCapable", "()Z");
  EXPECT_TRUE(env->CallBooleanMethod(loader, parallel));
  EXPECT_FALSE(TakeException(env).pending);
}

TEST_F(ClassLoading, PresetDictionaryHoldsTheNamesAndBothInternalClassFiles) {
  std::vector<unsigned char> expected(concatenatedNames.begin(), concatenatedNames.end());
  expected.insert(expected.end(), inputStreamBytes.begin(), inputStreamBytes.end());
  expected.insert(expected.end(), classLoaderBytes.begin(), classLoaderBytes.end());
  // The growth rule over the three appends.
  uint64_t capacity = 0, used = 0;
  for (uint64_t n : {(uint64_t)concatenatedNames.size(), (uint64_t)inputStreamBytes.size(),
                     (uint64_t)classLoaderBytes.size()}) {
    if (used + n > capacity) capacity = n + 2 * capacity + 32768;
    used += n;
  }
  uint32_t dictionaryUsed, dictionaryCapacity;
  const unsigned char *dictionary = GetPresetDictionary(&dictionaryUsed, &dictionaryCapacity);
  ASSERT_NE(dictionary, nullptr);
  EXPECT_EQ(dictionaryUsed, expected.size());
  EXPECT_EQ(dictionaryCapacity, capacity);
  EXPECT_EQ(std::vector<unsigned char>(dictionary, dictionary + dictionaryUsed), expected);
}

TEST_F(ClassLoading, FindClassTakesDotsAndSlashes) {
  JavaThrown thrown;
  jclass dotted = FindClassOn(loader, "satchel.test.Alpha", &thrown);
  ASSERT_NE(dotted, nullptr) << thrown.className << ": " << thrown.message;
  EXPECT_EQ(ClassNameOf(env, dotted), "satchel.test.Alpha");
  EXPECT_TRUE(env->IsSameObject(LoaderOf(dotted), loader));

  // A second payload loader defines its own copy from the slashed name.
  jclass loaderClass = env->FindClass(JAVA_BUNDLE_CLASS_LOADER_CLASS);
  jobject second = env->NewObject(loaderClass, env->GetMethodID(loaderClass, "<init>", "()V"));
  ASSERT_NE(second, nullptr);
  jclass slashed = FindClassOn(second, "satchel/test/Alpha", &thrown);
  ASSERT_NE(slashed, nullptr) << thrown.className << ": " << thrown.message;
  EXPECT_EQ(ClassNameOf(env, slashed), "satchel.test.Alpha");
  EXPECT_TRUE(env->IsSameObject(LoaderOf(slashed), second));
  EXPECT_FALSE(env->IsSameObject(dotted, slashed));
}

TEST_F(ClassLoading, NestedClassKeepsItsDollar) {
  jclass inner = AppClass("satchel.test.Hello$Inner");
  ASSERT_NE(inner, nullptr);
  EXPECT_EQ(CallStaticText(env, inner, "name"), "inner");
}

TEST_F(ClassLoading, MissingClassIsClassNotFoundCausedByFileNotFound) {
  JavaThrown thrown = FindClassFails("satchel.test.Missing");
  EXPECT_EQ(thrown.className, "java.lang.ClassNotFoundException");
  EXPECT_TRUE(thrown.hasMessage);
  EXPECT_EQ(thrown.message, "");
  EXPECT_EQ(thrown.causeClassName, "java.io.FileNotFoundException");
  EXPECT_EQ(thrown.causeMessage, "satchel/test/Missing.class");
}

TEST_F(ClassLoading, DamagedClassIsInternalError) {
  JavaThrown thrown = FindClassFails("satchel.test.Damaged");
  EXPECT_EQ(thrown.className, "java.lang.InternalError");
  EXPECT_EQ(thrown.message, "Failed to read zip entry");
}

TEST_F(ClassLoading, EntryThatIsNoClassFileLeavesTheVmsError) {
  EXPECT_EQ(FindClassFails("satchel.test.NotAClass").className, "java.lang.ClassFormatError");
}

TEST_F(ClassLoading, NullClassNameIsNullPointerException) {
  JavaThrown thrown = FindClassFails(nullptr);
  EXPECT_EQ(thrown.className, "java.lang.NullPointerException");
  EXPECT_TRUE(thrown.hasMessage);
  EXPECT_EQ(thrown.message, "");
}

TEST_F(ClassLoading, OpenInternalStreamTakesTheNameAsItIs) {
  JavaThrown thrown;
  EXPECT_EQ(OpenStream("satchel.test.Hello", &thrown), nullptr);
  EXPECT_EQ(thrown.className, "java.io.FileNotFoundException");
  EXPECT_EQ(thrown.message, "satchel.test.Hello");

  EXPECT_EQ(OpenStream(nullptr, &thrown), nullptr);
  EXPECT_EQ(thrown.className, "java.lang.NullPointerException");
  EXPECT_EQ(thrown.message, "");

  jobject stream = OpenStream("satchel/test/Hello.class", &thrown);
  ASSERT_NE(stream, nullptr) << thrown.className;
  Close(stream);
}

TEST_F(ClassLoading, ReadChecksItsArgumentsInOrder) {
  JavaThrown thrown;
  jobject stream = OpenStream("satchel/test/greeting.txt");
  ASSERT_NE(stream, nullptr);
  jbyteArray b = env->NewByteArray(10);

  // A null array comes first, even with a bad offset and length.
  EXPECT_EQ(Read(stream, nullptr, -1, -5, &thrown), 0);
  EXPECT_EQ(thrown.className, "java.lang.NullPointerException");
  EXPECT_TRUE(thrown.hasMessage);
  EXPECT_EQ(thrown.message, "");

  EXPECT_EQ(Read(stream, b, 10, 0, &thrown), 0);
  EXPECT_FALSE(thrown.pending);

  for (auto [off, len] : {std::pair<int, int>{5, 6}, {INT_MAX, 1}, {-1, 1}, {0, -1}, {11, 0}, {1, INT_MAX}}) {
    EXPECT_EQ(Read(stream, b, off, len, &thrown), 0);
    EXPECT_EQ(thrown.className, "java.lang.IndexOutOfBoundsException") << off << " " << len;
    EXPECT_TRUE(thrown.hasMessage);
    EXPECT_EQ(thrown.message, "");
  }

  // Data lands at the offset and nowhere else.
  int n = Read(stream, b, 2, 8, &thrown);
  ASSERT_FALSE(thrown.pending) << thrown.className << ": " << thrown.message;
  ASSERT_GE(n, 1);
  ASSERT_LE(n, 8);
  jbyte bytes[10];
  env->GetByteArrayRegion(b, 0, 10, bytes);
  EXPECT_EQ(bytes[0], 0);
  EXPECT_EQ(bytes[1], 0);
  EXPECT_EQ(std::string((char *)bytes + 2, n), std::string(kGreeting, n));

  Close(stream);
  Close(stream);  // twice: nothing happens
  EXPECT_EQ(Read(stream, b, 0, 0, &thrown), 0);
  EXPECT_FALSE(thrown.pending);
  EXPECT_EQ(Read(stream, b, 0, 1, &thrown), 0);
  EXPECT_EQ(thrown.className, "java.io.IOException");
  EXPECT_EQ(thrown.message, "Attempt to read closed internal input stream");
}

TEST_F(ClassLoading, AvailableCountsWhatIsLeftAndEntryInfoOpensNothing) {
  JavaThrown thrown;
  jclass cls = InputStreamClass();
  jmethodID availableMethod = env->GetMethodID(cls, "available", "()I");
  jmethodID entryInfoMethod = env->GetStaticMethodID(cls, "entryInfo", "(Ljava/lang/String;)J");
  auto available = [&](jobject stream) {
    jint n = env->CallIntMethod(stream, availableMethod);
    EXPECT_FALSE(TakeException(env).pending);
    return (int)n;
  };
  auto entryInfo = [&](const char *name) {
    jlong info = env->CallStaticLongMethod(cls, entryInfoMethod, env->NewStringUTF(name));
    EXPECT_FALSE(TakeException(env).pending);
    return (int64_t)info;
  };
  const int size = (int)strlen(kGreeting);
  jobject stream = OpenStream("satchel/test/greeting.txt");
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(available(stream), size);
  jbyteArray b = env->NewByteArray(10);
  int n = Read(stream, b, 0, 10, &thrown);
  ASSERT_GT(n, 0);
  EXPECT_EQ(available(stream), size - n);
  Close(stream);
  EXPECT_EQ(available(stream), 0);

  FileEntry *entry;
  const char *message;
  ASSERT_TRUE(FindFileEntry("satchel/test/greeting.txt", &entry, &message));
  EXPECT_EQ(entryInfo("satchel/test/greeting.txt"), (int64_t)((uint64_t)entry->offset << 32 | (uint32_t)size));
  EXPECT_EQ(entryInfo("satchel/test/none.txt"), -1);
}

TEST_F(ClassLoading, EndOfEntryIsMinusOneEveryTime) {
  JavaThrown thrown;
  jobject stream = OpenStream("satchel/test/greeting.txt");
  ASSERT_NE(stream, nullptr);
  jbyteArray b = env->NewByteArray(100);
  std::string content;
  int n;
  while ((n = Read(stream, b, 0, 100, &thrown)) > 0) {
    jbyte bytes[100];
    env->GetByteArrayRegion(b, 0, n, bytes);
    content.append((char *)bytes, n);
  }
  EXPECT_FALSE(thrown.pending);
  EXPECT_EQ(n, -1);
  EXPECT_EQ(content, kGreeting);
  EXPECT_EQ(Read(stream, b, 0, 100, &thrown), -1);
  EXPECT_EQ(Read(stream, b, 5, 1, &thrown), -1);
  EXPECT_FALSE(thrown.pending);
  jmethodID readByte = env->GetMethodID(InputStreamClass(), "read", "()I");
  EXPECT_EQ(env->CallIntMethod(stream, readByte), -1);
  EXPECT_FALSE(TakeException(env).pending);
  Close(stream);
}

// A damaged entry, and one whose deflate stream ends before its declared
// size (after two good bytes), never read as a shorter whole.
TEST_F(ClassLoading, FailedReadThrowsAndLeavesTheStreamOpen) {
  for (const char *name : {"satchel/test/Damaged.class", "data/ends-early.bin"}) {
    SCOPED_TRACE(name);
    JavaThrown thrown;
    jobject stream = OpenStream(name);
    ASSERT_NE(stream, nullptr);
    jbyteArray b = env->NewByteArray(100);
    int total = 0, n;
    while ((n = Read(stream, b, 0, 100, &thrown)) > 0 && total < 1000) total += n;
    EXPECT_LE(total, 2);
    for (int attempt = 0; attempt < 2; attempt++) {
      if (attempt > 0) n = Read(stream, b, 0, 100, &thrown);
      EXPECT_EQ(n, 0);
      EXPECT_EQ(thrown.className, "java.io.IOException");
      EXPECT_EQ(thrown.message, "Failed to read internal input stream");
    }
    jclass cls = InputStreamClass();
    EXPECT_NE(env->GetLongField(stream, env->GetFieldID(cls, "handle", "J")), 0);
    Close(stream);
    EXPECT_EQ(env->GetLongField(stream, env->GetFieldID(cls, "handle", "J")), 0);
  }
}

TEST_F(ClassLoading, ReadAfterCloseFromJava) {
  jclass probe = AppClass("satchel.test.ParallelRead");
  ASSERT_NE(probe, nullptr);
  EXPECT_EQ(CallStaticText(env, probe, "closed"), "java.io.IOException: Attempt to read closed internal input stream");
}

TEST_F(ClassLoading, ResourcesAreServedFromThePayload) {
  jclass probe = AppClass("satchel.test.ResourceProbe");
  ASSERT_NE(probe, nullptr);
  EXPECT_EQ(CallStaticText(env, probe, "run"),
            "relative: Greetings from a resource file.\n"
            "absolute: Greetings from a resource file.\n"
            "stream class: com.tessel.qor.kestrel.InternalResourceStream\n"
            "url: satchel:/satchel/test/greeting.txt\n"
            "url read: Greetings from a resource file.\n"
            "text url: Greetings from a resource file.\n"
            "length: 32 available: 32 27\n"
            "urls: 1\n"
            "relative url: satchel:/satchel/test/other.txt = other\n"
            "encoded: satchel:/data/with%20space%20%C3%A9.txt = caf\xc3\xa9 au lait\n"
            "uri: satchel:/data/with%20space%20%C3%A9.txt\n"
            "class file: true\n"
            "missing: null null 0\n"
            "missing url: java.io.FileNotFoundException: satchel/test/none.txt\n"
            "jdk class: null\n"
            "jdk resource: true\n"
            "parent: true\n"
            "service: Hello from EnglishGreeter\n"
            "context service: Hello from EnglishGreeter\n"
            "service file: satchel.test.EnglishGreeter");
}

TEST_F(ClassLoading, ResourceReadWholeIntoOneLargeArray) {
  jclass probe = AppClass("satchel.test.ParallelRead");
  ASSERT_NE(probe, nullptr);
  jmethodID readFully = env->GetStaticMethodID(probe, "readFully", "(I)Ljava/lang/String;");
  ASSERT_NE(readFully, nullptr);
  jobject result = env->CallStaticObjectMethod(probe, readFully, (jint)15);
  JavaThrown thrown = TakeException(env);
  ASSERT_FALSE(thrown.pending) << thrown.className << ": " << thrown.message;
  EXPECT_EQ(JavaString(env, result), "ok");
}

TEST_F(ClassLoading, SixteenThreadsReadTheirOwnEntriesAndLoadClasses) {
  jclass probe = AppClass("satchel.test.ParallelRead");
  ASSERT_NE(probe, nullptr);
  EXPECT_EQ(CallStaticTextIII(env, probe, "run", kParallelEntries, kGeneratedClasses, kParallelRounds), "ok");
}

}  // namespace
