#include "jvm_support.h"

#include <gtest/gtest.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>

#include "java_vm.h"
#include "payload.h"

namespace fs = std::filesystem;

namespace {

JavaVM *vm;
JNIEnv *mainEnv;
std::mutex outputMutex;
std::string output;

// Everything the VM prints passes here: recorded, and shown on stderr.
jint JNICALL RecordVmOutput(FILE *stream, const char *format, va_list arguments) {
  va_list copy;
  va_copy(copy, arguments);
  char text[8192];
  int length = vsnprintf(text, sizeof text, format, copy);
  va_end(copy);
  {
    std::lock_guard<std::mutex> lock(outputMutex);
    output.append(text);
  }
  fputs(text, stderr);
  return length;
}

}  // namespace

JNIEnv *TestJvm(const std::vector<std::string> &extraOptions) {
  if (mainEnv != nullptr) return mainEnv;
  const char *message;
  CreateJavaVmEntry create = LoadJvmEntryPoint(SATCHEL_LIBJVM_PATH, &message);
  if (create == nullptr) {
    fprintf(stderr, "cannot load %s: %s\n", SATCHEL_LIBJVM_PATH, message);
    abort();
  }
  std::vector<std::string> texts = {"-Xcheck:jni", "-XX:-UsePerfData", "-Xshare:auto"};
  texts.insert(texts.end(), extraOptions.begin(), extraOptions.end());
  std::vector<JavaVMOption> options;
  for (const std::string &text : texts) options.push_back({const_cast<char *>(text.c_str()), nullptr});
  options.push_back({const_cast<char *>("vfprintf"), (void *)RecordVmOutput});
  JavaVMInitArgs arguments;
  arguments.version = JNI_VERSION_1_6;
  arguments.nOptions = (jint)options.size();
  arguments.options = options.data();
  arguments.ignoreUnrecognized = JNI_FALSE;
  if (create(&vm, (void **)&mainEnv, &arguments) != JNI_OK) {
    fprintf(stderr, "JNI_CreateJavaVM failed\n");
    abort();
  }
  return mainEnv;
}

std::string JvmOutput() {
  std::lock_guard<std::mutex> lock(outputMutex);
  return output;
}

std::vector<unsigned char> ReadFileBytes(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in.good()) << path;
  return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void AddFile(BundleContents *contents, const std::string &name, const std::vector<unsigned char> &bytes) {
  contents->files.push_back({name, bytes});
}

void AddFile(BundleContents *contents, const std::string &name, const std::string &text) {
  contents->files.push_back({name, std::vector<unsigned char>(text.begin(), text.end())});
}

// Every file below root, under its path relative to root with "/", sorted so
// that bundles come out the same every time.
static void AddTree(BundleContents *contents, const std::string &root) {
  std::vector<std::string> names;
  for (const auto &item : fs::recursive_directory_iterator(root)) {
    if (item.is_regular_file()) names.push_back(fs::relative(item.path(), root).generic_string());
  }
  std::sort(names.begin(), names.end());
  for (const std::string &name : names) AddFile(contents, name, ReadFileBytes(root + "/" + name));
}

BundleContents JavaTestContents() {
  BundleContents contents;
  contents.dictionaries = BundleDictionaries::Java;
  AddFile(&contents, PAYLOAD_INPUT_STREAM_ENTRY, ReadFileBytes(SATCHEL_INTERNAL_INPUT_STREAM_CLASS));
  AddFile(&contents, PAYLOAD_CLASS_LOADER_ENTRY, ReadFileBytes(SATCHEL_INTERNAL_CLASS_LOADER_CLASS));
  AddTree(&contents, SATCHEL_TEST_CLASSES_DIR);
  AddTree(&contents, SATCHEL_TEST_RESOURCES_DIR);
  return contents;
}

std::vector<unsigned char> ParallelEntryData(int entry) {
  static const std::string text =
      "The quick brown fox jumps over the lazy dog; pack my box with five dozen liquor jugs. ";
  size_t size = 100000 + (size_t)entry * 7919;
  std::vector<unsigned char> data(size);
  uint32_t x = (uint32_t)entry * 0x9E3779B9u + 1;
  for (size_t j = 0; j < size; j++) {
    if (((j >> 10) & 3) != 0) {
      x = x * 1103515245u + 12345u;
      data[j] = (unsigned char)(x >> 24);
    } else {
      data[j] = (unsigned char)text[(j + entry) % text.size()];
    }
  }
  return data;
}

std::string WriteAndOpenBundle(const std::string &label, const BundleContents &contents) {
  std::string dir = testing::TempDir() + "satchel-classes-" + std::to_string(getpid());
  fs::create_directories(dir);
  std::string stub = dir + "/stub.bin";
  {
    // A stand-in for the launcher: 1000 bytes, so the payload starts at 1024.
    std::ofstream out(stub, std::ios::binary);
    out << "MZ" << std::string(998, 'x');
  }
  std::string path = dir + "/" + label + ".exe";
  std::string error;
  if (!WriteBundle(stub, path, contents, &error)) {
    ADD_FAILURE() << error;
    return path;
  }
  const char *message;
  if (!OpenPayloadFile(path.c_str(), &message)) ADD_FAILURE() << "OpenPayloadFile: " << message;
  return path;
}

// ---- JNI helpers: each call checked, every local reference deleted ----

static std::string StringChars(JNIEnv *env, jstring text) {
  if (text == nullptr) return "null";
  const char *chars = env->GetStringUTFChars(text, nullptr);
  std::string result = chars != nullptr ? chars : "<no chars>";
  if (chars != nullptr) env->ReleaseStringUTFChars(text, chars);
  return result;
}

static jstring CallText(JNIEnv *env, jobject object, const char *className, const char *method) {
  jclass cls = env->FindClass(className);
  jmethodID id = env->GetMethodID(cls, method, "()Ljava/lang/String;");
  env->DeleteLocalRef(cls);
  jstring text = (jstring)env->CallObjectMethod(object, id);
  if (env->ExceptionCheck()) {
    env->ExceptionClear();
    ADD_FAILURE() << className << "." << method << " threw";
    return nullptr;
  }
  return text;
}

std::string JavaString(JNIEnv *env, jobject object) {
  if (object == nullptr) return "null";
  jstring text = CallText(env, object, "java/lang/Object", "toString");
  std::string result = StringChars(env, text);
  if (text != nullptr) env->DeleteLocalRef(text);
  return result;
}

std::string ClassNameOf(JNIEnv *env, jclass cls) {
  jstring text = CallText(env, cls, "java/lang/Class", "getName");
  std::string result = StringChars(env, text);
  if (text != nullptr) env->DeleteLocalRef(text);
  return result;
}

static void Describe(JNIEnv *env, jthrowable thrown, std::string *className, bool *hasMessage,
                     std::string *message) {
  jclass cls = env->GetObjectClass(thrown);
  *className = ClassNameOf(env, cls);
  env->DeleteLocalRef(cls);
  jstring text = CallText(env, thrown, "java/lang/Throwable", "getMessage");
  *hasMessage = text != nullptr;
  *message = text != nullptr ? StringChars(env, text) : "";
  if (text != nullptr) env->DeleteLocalRef(text);
}

JavaThrown TakeException(JNIEnv *env) {
  JavaThrown result;
  jthrowable thrown = env->ExceptionOccurred();
  if (thrown == nullptr) return result;
  env->ExceptionClear();
  result.pending = true;
  Describe(env, thrown, &result.className, &result.hasMessage, &result.message);
  jclass throwable = env->FindClass("java/lang/Throwable");
  jmethodID getCause = env->GetMethodID(throwable, "getCause", "()Ljava/lang/Throwable;");
  env->DeleteLocalRef(throwable);
  jthrowable cause = (jthrowable)env->CallObjectMethod(thrown, getCause);
  if (env->ExceptionCheck()) env->ExceptionClear();
  if (cause != nullptr) {
    bool ignored;
    Describe(env, cause, &result.causeClassName, &ignored, &result.causeMessage);
    env->DeleteLocalRef(cause);
  }
  env->DeleteLocalRef(thrown);
  return result;
}

static std::string TextResult(JNIEnv *env, jstring text) {
  if (env->ExceptionCheck()) {
    JavaThrown thrown = TakeException(env);
    return "threw " + thrown.className + ": " + thrown.message;
  }
  std::string result = StringChars(env, text);
  if (text != nullptr) env->DeleteLocalRef(text);
  return result;
}

std::string CallStaticText(JNIEnv *env, jclass cls, const char *method) {
  jmethodID id = env->GetStaticMethodID(cls, method, "()Ljava/lang/String;");
  if (id == nullptr) return "no method: " + TakeException(env).message;
  return TextResult(env, (jstring)env->CallStaticObjectMethod(cls, id));
}

std::string CallStaticTextIII(JNIEnv *env, jclass cls, const char *method, int a, int b, int c) {
  jmethodID id = env->GetStaticMethodID(cls, method, "(III)Ljava/lang/String;");
  if (id == nullptr) return "no method: " + TakeException(env).message;
  return TextResult(env, (jstring)env->CallStaticObjectMethod(cls, id, (jint)a, (jint)b, (jint)c));
}
