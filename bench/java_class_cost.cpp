// Where the time of defining one class out of a Java bundle goes.
//
//   java_class_cost BUNDLE LIBJVM
//
// A bench-only program over the product's own code (nothing in the product
// path is instrumented).  For every class entry of the bundle it measures:
//   1. dictionary set-up: opening the entry stream, which creates the
//      inflater and hands it the 32 KiB preset dictionary, and closing it;
//   2. inflate: reading the whole class through the stream, less (1);
//   3. the real path: ClassLoader.loadClass on the payload class loader
//      (parent delegation, the native findClass, open, inflate, DefineClass),
//      for all classes in table order;
//   4. DefineClass alone: the already inflated bytes handed to DefineClass
//      for a second payload loader, supertypes first, so that no definition
//      pulls in another.
// What (3) costs beyond (1) + (2) + (4) is the loader's own Java side; (5)
// measures its largest part apart: the parent (platform) loader's lookup of
// each application class, which fails with a ClassNotFoundException.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "java_vm.h"
#include "payload.h"
#include "payload_classes.h"

namespace {

double Now() {
  timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec + t.tv_nsec * 1e-9;
}

struct ClassEntry {
  std::string name;  // entry name, a/b/C.class
  std::vector<unsigned char> bytes;
  int depth = -1;    // supertypes inside the bundle, for the definition order
  bool loaded = false;
};

void CollectClass(const FileEntry *entry, void *context) {
  auto *classes = (std::vector<ClassEntry> *)context;
  std::string name = entry->name;
  if (name.size() <= 6 || name.compare(name.size() - 6, 6, ".class") != 0) return;
  if (name == PAYLOAD_INPUT_STREAM_ENTRY || name == PAYLOAD_CLASS_LOADER_ENTRY) return;
  if (name.find('-') != std::string::npos) return;  // module-info, package-info
  if (name.compare(0, 9, "META-INF/") == 0) return;
  for (const ClassEntry &known : *classes)
    if (known.name == name) return;
  ClassEntry added;
  added.name = name;
  classes->push_back(added);
}

// Reads a whole entry with the dictionary; false on failure.
bool ReadEntry(const std::string &name, const std::vector<unsigned char> &dictionary,
               std::vector<unsigned char> *out) {
  const char *message = nullptr;
  EntryStream *stream = OpenEntryStream(name.c_str(), dictionary.data(), (int)dictionary.size(), &message);
  if (!stream) return false;
  out->resize(GetEntryStreamRemaining(stream));
  size_t done = 0;
  while (done < out->size()) {
    int n = ReadEntryStream(stream, out->data() + done, (uint32_t)(out->size() - done), nullptr);
    if (n <= 0) break;
    done += n;
  }
  CloseEntryStream(stream);
  return done == out->size();
}

std::string ClassName(JNIEnv *env, jclass cls) {
  jclass classClass = env->FindClass("java/lang/Class");
  jmethodID getName = env->GetMethodID(classClass, "getName", "()Ljava/lang/String;");
  jstring name = (jstring)env->CallObjectMethod(cls, getName);
  const char *chars = env->GetStringUTFChars(name, nullptr);
  std::string result = chars;
  env->ReleaseStringUTFChars(name, chars);
  env->DeleteLocalRef(name);
  env->DeleteLocalRef(classClass);
  for (char &c : result)
    if (c == '.') c = '/';
  return result + ".class";
}

// Supertypes of the class inside the bundle, by entry name.
int Depth(JNIEnv *env, std::map<std::string, ClassEntry *> &byName, std::map<std::string, jclass> &loaded,
          const std::string &name) {
  ClassEntry *entry = byName[name];
  if (entry->depth >= 0) return entry->depth;
  entry->depth = 0;  // cycles cannot happen; this only guards
  jclass cls = loaded[name];
  env->PushLocalFrame(64);
  jclass classClass = env->FindClass("java/lang/Class");
  jmethodID getSuperclass = env->GetMethodID(classClass, "getSuperclass", "()Ljava/lang/Class;");
  jmethodID getInterfaces = env->GetMethodID(classClass, "getInterfaces", "()[Ljava/lang/Class;");
  std::vector<jclass> supertypes;
  jclass super = (jclass)env->CallObjectMethod(cls, getSuperclass);
  if (super) supertypes.push_back(super);
  jobjectArray interfaces = (jobjectArray)env->CallObjectMethod(cls, getInterfaces);
  for (jsize i = 0; interfaces && i < env->GetArrayLength(interfaces); i++)
    supertypes.push_back((jclass)env->GetObjectArrayElement(interfaces, i));
  int depth = 0;
  for (jclass supertype : supertypes) {
    std::string superName = ClassName(env, supertype);
    if (loaded.count(superName)) depth = std::max(depth, 1 + Depth(env, byName, loaded, superName));
  }
  env->PopLocalFrame(nullptr);
  entry->depth = depth;
  return depth;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: java_class_cost BUNDLE LIBJVM\n");
    return 2;
  }
  const char *message = nullptr;
  if (!OpenPayloadFile(argv[1], &message)) {
    fprintf(stderr, "%s: %s\n", argv[1], message);
    return 1;
  }
  std::vector<ClassEntry> classes;
  ForEachFileEntry(CollectClass, &classes);
  if (classes.empty()) {
    fprintf(stderr, "%s: no classes\n", argv[1]);
    return 1;
  }

  // The final dictionary, as the bootstrap builds it.
  std::vector<unsigned char> dictionary;
  const char *names = GetConcatenatedNames();
  if (names) dictionary.assign(names, names + strlen(names));
  std::vector<unsigned char> internal;
  if (!ReadEntry(PAYLOAD_INPUT_STREAM_ENTRY, dictionary, &internal)) return 1;
  dictionary.insert(dictionary.end(), internal.begin(), internal.end());
  if (!ReadEntry(PAYLOAD_CLASS_LOADER_ENTRY, dictionary, &internal)) return 1;
  dictionary.insert(dictionary.end(), internal.begin(), internal.end());

  // 1 and 2, best of five rounds.
  double setup = 1e9, whole = 1e9;
  size_t totalBytes = 0;
  for (int round = 0; round < 5; round++) {
    double start = Now();
    for (ClassEntry &entry : classes) {
      EntryStream *stream = OpenEntryStream(entry.name.c_str(), dictionary.data(), (int)dictionary.size(), &message);
      if (stream) CloseEntryStream(stream);
    }
    setup = std::min(setup, Now() - start);
    start = Now();
    totalBytes = 0;
    for (ClassEntry &entry : classes) {
      if (!ReadEntry(entry.name, dictionary, &entry.bytes)) {
        fprintf(stderr, "%s: cannot read %s\n", argv[1], entry.name.c_str());
        return 1;
      }
      totalBytes += entry.bytes.size();
    }
    whole = std::min(whole, Now() - start);
  }

  // 3: the real path.
  char jvmOption[] = "-jvm";
  char *arguments[] = {jvmOption, argv[2], nullptr};
  JavaVM *vm = nullptr;
  JNIEnv *env = nullptr;
  int applicationCount = 0;
  char **applicationArguments = nullptr;
  if (!StartJavaVm(2, arguments, &vm, &env, &applicationCount, &applicationArguments, &message)) {
    fprintf(stderr, "%s\n", message);
    return 1;
  }
  jobject loader = CreatePayloadClassLoader(env);
  if (!loader) {
    fprintf(stderr, "the payload class loader's bootstrap failed\n");
    return 1;
  }
  jclass classLoaderClass = env->FindClass("java/lang/ClassLoader");
  jmethodID loadClass = env->GetMethodID(classLoaderClass, "loadClass", "(Ljava/lang/String;)Ljava/lang/Class;");
  std::map<std::string, jclass> loadedClasses;
  std::map<std::string, ClassEntry *> byName;
  int loadedCount = 0;
  double start = Now();
  for (ClassEntry &entry : classes) {
    std::string dotted = entry.name.substr(0, entry.name.size() - 6);
    for (char &c : dotted)
      if (c == '/') c = '.';
    jstring name = env->NewStringUTF(dotted.c_str());
    jclass cls = (jclass)env->CallObjectMethod(loader, loadClass, name);
    env->DeleteLocalRef(name);
    if (env->ExceptionCheck() || !cls) {
      env->ExceptionClear();  // a class whose dependencies are not in the bundle
      continue;
    }
    entry.loaded = true;
    loadedClasses[entry.name] = (jclass)env->NewGlobalRef(cls);
    env->DeleteLocalRef(cls);
    loadedCount++;
  }
  double realPath = Now() - start;

  // 4: DefineClass alone into a second loader, supertypes first.
  for (ClassEntry &entry : classes)
    if (entry.loaded) byName[entry.name] = &entry;
  for (auto &item : byName) Depth(env, byName, loadedClasses, item.first);
  std::vector<ClassEntry *> order;
  for (auto &item : byName) order.push_back(item.second);
  std::stable_sort(order.begin(), order.end(),
                   [](const ClassEntry *a, const ClassEntry *b) { return a->depth < b->depth; });
  jclass internalLoaderClass = env->FindClass(JAVA_BUNDLE_CLASS_LOADER_CLASS);
  jmethodID constructor = internalLoaderClass ? env->GetMethodID(internalLoaderClass, "<init>", "()V") : nullptr;
  jobject second = constructor ? env->NewObject(internalLoaderClass, constructor) : nullptr;
  if (!second) {
    fprintf(stderr, "cannot create a second payload class loader\n");
    return 1;
  }
  int defined = 0, refused = 0;
  double defineTime = 0;
  for (ClassEntry *entry : order) {
    std::string internalName = entry->name.substr(0, entry->name.size() - 6);
    start = Now();
    jclass cls = env->DefineClass(internalName.c_str(), second, (const jbyte *)entry->bytes.data(),
                                  (jsize)entry->bytes.size());
    defineTime += Now() - start;
    if (env->ExceptionCheck() || !cls) {
      env->ExceptionClear();
      refused++;
      continue;
    }
    env->DeleteLocalRef(cls);
    defined++;
  }

  // 5: what parent-first delegation costs an application class: the
  // platform loader's failing lookup, with its ClassNotFoundException
  // (measured last, so the VM is warmer than during (3)).
  jclass loaderClass = env->FindClass("java/lang/ClassLoader");
  jmethodID getParent = env->GetMethodID(loaderClass, "getParent", "()Ljava/lang/ClassLoader;");
  jobject parent = env->CallObjectMethod(loader, getParent);
  double parentTime = 0;
  int parentLookups = 0;
  if (parent) {
    start = Now();
    for (ClassEntry &entry : classes) {
      if (!entry.loaded) continue;
      std::string dotted = entry.name.substr(0, entry.name.size() - 6);
      for (char &c : dotted)
        if (c == '/') c = '.';
      jstring name = env->NewStringUTF(dotted.c_str());
      jobject found = env->CallObjectMethod(parent, loadClass, name);
      env->ExceptionClear();
      if (found) env->DeleteLocalRef(found);
      env->DeleteLocalRef(name);
      parentLookups++;
    }
    parentTime = Now() - start;
  }

  size_t n = classes.size();
  double setupUs = setup / n * 1e6;
  double inflateUs = (whole - setup) / n * 1e6;
  double defineUs = defined ? defineTime / defined * 1e6 : 0;
  double realUs = loadedCount ? realPath / loadedCount * 1e6 : 0;
  printf("bundle: %s\n", argv[1]);
  printf("class entries: %zu, %zu bytes inflated (%.0f bytes per class)\n", n, totalBytes,
         (double)totalBytes / n);
  printf("loaded through the payload loader: %d (the rest need classes the bundle lacks)\n", loadedCount);
  printf("defined again supertypes first: %d (refused: %d)\n", defined, refused);
  printf("per class, microseconds:\n");
  printf("  dictionary set-up (inflater + 32 KiB preset dictionary): %8.1f\n", setupUs);
  printf("  inflate:                                                 %8.1f\n", inflateUs);
  printf("  DefineClass:                                             %8.1f\n", defineUs);
  printf("  whole loadClass through the payload loader:              %8.1f\n", realUs);
  printf("  rest (loader's Java side: parent delegation, locks):     %8.1f\n",
         realUs - setupUs - inflateUs - defineUs);
  printf("  of which, measured apart: the parent's failing lookup:     %8.1f\n",
         parentLookups ? parentTime / parentLookups * 1e6 : 0);
  fflush(stdout);
  _exit(0);  // the VM stays; nothing to wait for
}
