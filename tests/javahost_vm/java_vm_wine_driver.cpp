// Windows test driver for VM creation, run under wine64 by the tests: each
// mode prepares the registry of an installed Java runtime (the real one of
// the wine prefix), calls StartJavaVm or LoadJvmEntryPoint and checks what
// came back.  Prints what it saw; exit code 0 when it was what the mode
// expects, 1 otherwise, 2 on a usage or set-up error.
//
//   driver MODE STUB_DLL NO_ENTRY_DLL
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "java_vm.h"
#include "start_call.h"
#include "stub_jvm.h"

namespace {

const char kRuntimeKey[] = "SOFTWARE\\JavaSoft\\Java Runtime Environment";

std::string stubPath;     // the stand-in JVM DLL (Windows path)
std::string noEntryPath;  // a DLL without JNI_CreateJavaVM
int failures = 0;

void Check(bool ok, const char *what) {
  printf("%s: %s\n", ok ? "ok" : "FAILED", what);
  if (!ok) failures++;
}

void CheckMessage(const char *message, const char *expected) {
  printf("message: %s\n", message ? message : "(null)");
  if (!expected) {
    Check(message == nullptr, "no message");
  } else {
    Check(message && strcmp(message, expected) == 0, expected);
  }
}

[[noreturn]] void SetupFailed(const char *what, LONG error) {
  printf("set-up failed: %s (error %ld)\n", what, (long)error);
  exit(2);
}

std::wstring Wide(const std::string &text) {
  int units = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
  std::wstring out(units, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, &out[0], units);
  out.resize(units - 1);
  return out;
}

// ---- the registry of the wine prefix ----

void RemoveRuntimeKey() {
  LONG error = RegDeleteTreeA(HKEY_LOCAL_MACHINE, kRuntimeKey);
  if (error != ERROR_SUCCESS && error != ERROR_FILE_NOT_FOUND) SetupFailed("RegDeleteTree", error);
}

HKEY CreateKey(const std::string &path) {
  HKEY key;
  LONG error = RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                               nullptr, &key, nullptr);
  if (error != ERROR_SUCCESS) SetupFailed(path.c_str(), error);
  return key;
}

void SetValue(const std::string &keyPath, const char *name, DWORD type, const void *data,
              DWORD size) {
  HKEY key = CreateKey(keyPath);
  LONG error = RegSetValueExA(key, name, 0, type, (const BYTE *)data, size);
  if (error != ERROR_SUCCESS) SetupFailed(name, error);
  RegCloseKey(key);
}

std::string VersionKey(const std::string &version) { return std::string(kRuntimeKey) + "\\" + version; }

void SetCurrentVersion(const std::string &version) {
  SetValue(kRuntimeKey, "CurrentVersion", REG_SZ, version.c_str(), (DWORD)version.size() + 1);
}

// RuntimeLib as UTF-16 bytes, with or without the terminating zero unit.
// The reader asks for no type; a string type lets the system add a missing
// zero where there is room, a binary one hands over the bytes as stored.
void SetRuntimeLib(const std::string &version, const std::wstring &path, bool terminated,
                   DWORD type = REG_SZ) {
  HKEY key = CreateKey(VersionKey(version));
  DWORD bytes = (DWORD)((path.size() + (terminated ? 1 : 0)) * sizeof(WCHAR));
  LONG error = RegSetValueExW(key, L"RuntimeLib", 0, type, (const BYTE *)path.c_str(), bytes);
  if (error != ERROR_SUCCESS) SetupFailed("RuntimeLib", error);
  RegCloseKey(key);
}

void Install(const std::string &version, const std::string &library) {
  SetCurrentVersion(version);
  SetRuntimeLib(version, Wide(library), true);
}

// A path naming the same file as `path` (a drive path, "X:\..."), padded
// with ".\" components (and one doubled separator if need be) to exactly
// `length` units.
std::wstring PadPath(const std::wstring &path, size_t length) {
  if (path.size() < 3 || path.size() > length) SetupFailed("PadPath", 0);
  size_t padding = length - path.size();
  std::wstring out = path.substr(0, 3);
  if (padding % 2) out += L"\\";
  for (size_t i = 0; i < padding / 2; i++) out += L".\\";
  out += path.substr(3);
  return out;
}

// ---- the stand-in's record ----

HMODULE StubModule() {
  HMODULE module = LoadLibraryA(stubPath.c_str());
  if (!module) SetupFailed("cannot load the stand-in JVM", (LONG)GetLastError());
  return module;
}

StubJvmRecord *StubRecord() {
  return ((StubJvmRecordFunction)(void (*)(void))GetProcAddress(StubModule(), "StubJvmGetRecord"))();
}

void StubSetResult(jint result) {
  ((StubJvmSetResultFunction)(void (*)(void))GetProcAddress(StubModule(), "StubJvmSetResult"))(
      result);
}

// ---- calls ----

// LoadJvmEntryPoint(null) with whatever the registry now holds.
void ExpectRegistryLoad(const char *expected) {
  const char *message = "not set";
  CreateJavaVmEntry entry = LoadJvmEntryPoint(nullptr, &message);
  CheckMessage(message, expected);
  Check((entry != nullptr) == (expected == nullptr), "entry point given exactly on success");
}

// StartJavaVm, called at once.
struct Call : StartCall {
  explicit Call(std::vector<std::string> texts) : StartCall(std::move(texts)) { Run(); }
};

// The registry road, then the whole call: options and arguments as the VM
// and the caller see them.
void RegistryRoad() {
  Install("1.8", stubPath);
  StubSetResult(JNI_OK);
  Call call({"-JXmx64m", "app", "-JDname=value", "-J", "-JVM", "-jvmx"});
  CheckMessage(call.message, nullptr);
  Check(call.result == 1, "StartJavaVm succeeded");
  StubJvmRecord *record = StubRecord();
  Check(record->calls == 1, "the stand-in JVM was called");
  Check(record->version == 0x00010006, "JNI version 1.6");
  Check(record->ignoreUnrecognized == JNI_FALSE, "unrecognized options rejected");
  Check(record->optionCount == 4, "four options");
  Check(strcmp(record->options[0], "-Xmx64m") == 0, "-JXmx64m gives -Xmx64m");
  Check(strcmp(record->options[1], "-Dname=value") == 0, "-JDname=value gives -Dname=value");
  Check(strcmp(record->options[2], "-") == 0, "-J alone gives -");
  Check(strcmp(record->options[3], "-VM") == 0, "-JVM gives -VM");
  Check(call.applicationCount == 2, "two application arguments");
  Check(call.applicationCount == 2 && call.applicationArguments[0] == call.vector[1] &&
            call.applicationArguments[1] == call.vector[5],
        "application arguments are the caller's own pointers, in order");
  if (call.result == 1) free(call.applicationArguments);
}

void VmRefusal() {
  Install("1.8", stubPath);
  StubSetResult(JNI_EINVAL);
  Call call({"-JXunknown"});
  CheckMessage(call.message, "Can't create Java VM");
  Check(call.result == 0 && call.vm == nullptr && call.applicationArguments == nullptr,
        "outputs stay cleared");
}

// The explicit path: UTF-8 converted to UTF-16.  The stand-in is copied to a
// name outside ASCII first.
void ExplicitUtf8Path() {
  std::wstring source = Wide(stubPath);
  std::wstring folder = source.substr(0, source.rfind(L'\\'));
  std::string utf8Name = "stub jvm \xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80.dll";
  std::wstring copy = folder + L"\\" + Wide(utf8Name);
  if (!CopyFileW(source.c_str(), copy.c_str(), FALSE)) SetupFailed("CopyFileW", (LONG)GetLastError());
  std::string folderUtf8 = stubPath.substr(0, stubPath.rfind('\\'));
  Call call({"-jvm", folderUtf8 + "\\" + utf8Name, "-JDk=v"});
  CheckMessage(call.message, nullptr);
  Check(call.result == 1, "loaded by its UTF-8 name");
  HMODULE copyModule = GetModuleHandleW(copy.c_str());
  Check(copyModule != nullptr, "the copy is the library that was loaded");
  if (call.result == 1) free(call.applicationArguments);
}

void ExplicitPath(const std::string &path, const char *expected) {
  Call call({"-jvm", path, "-JXmx64m", "app"});
  CheckMessage(call.message, expected);
  Check(call.result == 0 && call.applicationArguments == nullptr, "outputs stay cleared");
}

int Run(const std::string &mode) {
  RemoveRuntimeKey();
  if (mode == "registry-road") {
    RegistryRoad();
  } else if (mode == "vm-refusal") {
    VmRefusal();
  } else if (mode == "no-key") {
    // Another vendor's key is not the one asked for.
    SetValue("SOFTWARE\\JavaSoft\\Java Development Kit", "CurrentVersion", REG_SZ, "17", 3);
    ExpectRegistryLoad("Could not locate Java runtime envorinment");
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, "SOFTWARE\\JavaSoft\\Java Development Kit");
  } else if (mode == "no-current-version") {
    SetRuntimeLib("1.8", Wide(stubPath), true);
    ExpectRegistryLoad("Could not find version of Java runtime envorinment");
  } else if (mode == "current-version-80-bytes") {
    Install(std::string(79, 'v'), stubPath);
    ExpectRegistryLoad(nullptr);
  } else if (mode == "current-version-over-80-bytes") {
    Install(std::string(80, 'v'), stubPath);
    ExpectRegistryLoad("Could not find version of Java runtime envorinment");
  } else if (mode == "no-version-key") {
    SetCurrentVersion("1.8");
    SetRuntimeLib("11", Wide(stubPath), true);
    ExpectRegistryLoad("Could not locate current version of Java runtime envorinment");
  } else if (mode == "no-runtime-lib") {
    SetCurrentVersion("1.8");
    RegCloseKey(CreateKey(VersionKey("1.8")));
    ExpectRegistryLoad("Could not locate Java runtime library");
  } else if (mode == "runtime-lib-over-8192-bytes") {
    SetCurrentVersion("1.8");
    SetRuntimeLib("1.8", PadPath(Wide(stubPath), 4096), true);
    ExpectRegistryLoad("Could not locate Java runtime library");
  } else if (mode == "runtime-lib-8192-bytes-unterminated") {
    // A string of 4096 units without its zero.  The system may refuse it
    // (no room for the zero it would add) or hand it over as stored; either
    // way the call fails cleanly with its step's message.
    SetCurrentVersion("1.8");
    SetRuntimeLib("1.8", std::wstring(4096, L'A'), false);
    const char *message = nullptr;
    CreateJavaVmEntry entry = LoadJvmEntryPoint(nullptr, &message);
    printf("message: %s\n", message ? message : "(null)");
    Check(!entry && message &&
              (strcmp(message, "Could not locate Java runtime library") == 0 ||
               strcmp(message, "Could not load JVM library") == 0),
          "refused by the query or by the load");
  } else if (mode == "runtime-lib-8192-bytes-binary") {
    // The same bytes as binary data reach the path buffer as they are,
    // filling it without a zero unit: ended at the buffer's last unit, the
    // path names no library, and nothing behind the buffer is read.
    SetCurrentVersion("1.8");
    SetRuntimeLib("1.8", std::wstring(4096, L'A'), false, REG_BINARY);
    ExpectRegistryLoad("Could not load JVM library");
  } else if (mode == "runtime-lib-8192-bytes-binary-path") {
    // 4095 units naming the stand-in and one more unit, 8192 bytes without
    // a zero: the last unit gives way and the stand-in loads.
    SetCurrentVersion("1.8");
    SetRuntimeLib("1.8", PadPath(Wide(stubPath), 4095) + L"X", false, REG_BINARY);
    ExpectRegistryLoad(nullptr);
  } else if (mode == "runtime-lib-unterminated") {
    SetCurrentVersion("1.8");
    SetRuntimeLib("1.8", Wide(stubPath), false);
    ExpectRegistryLoad(nullptr);
  } else if (mode == "runtime-lib-missing-file") {
    Install("1.8", "C:\\nonexistent\\jre\\bin\\server\\jvm.dll");
    ExpectRegistryLoad("Could not load JVM library");
  } else if (mode == "runtime-lib-no-entry") {
    Install("1.8", noEntryPath);
    ExpectRegistryLoad("Could not get JVM entry point");
  } else if (mode == "explicit-utf8-path") {
    ExplicitUtf8Path();
  } else if (mode == "explicit-missing") {
    ExplicitPath("C:\\nonexistent\\jvm.dll", "Could not load JVM library");
  } else if (mode == "explicit-no-entry") {
    ExplicitPath(noEntryPath, "Could not get JVM entry point");
  } else if (mode == "explicit-too-long") {
    // 4096 units do not fit beside the terminating zero: not loaded, even
    // though the first 4095 would name the stand-in.
    std::wstring padded = PadPath(Wide(stubPath), 4095) + L"x";
    char utf8[8192];
    WideCharToMultiByte(CP_UTF8, 0, padded.c_str(), -1, utf8, sizeof utf8, nullptr, nullptr);
    ExplicitPath(utf8, "Could not load JVM library");
  } else {
    printf("unknown mode %s\n", mode.c_str());
    return 2;
  }
  RemoveRuntimeKey();
  return failures ? 1 : 0;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 4) {
    printf("usage: %s MODE STUB_DLL NO_ENTRY_DLL\n", argv[0]);
    return 2;
  }
  setvbuf(stdout, nullptr, _IONBF, 0);
  stubPath = argv[2];
  noEntryPath = argv[3];
  return Run(argv[1]);
}
