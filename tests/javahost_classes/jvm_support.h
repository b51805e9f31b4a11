// Support for the tests of payload class loading against the real JVM: one
// VM per process, created with -Xcheck:jni and a vfprintf hook that records
// everything the VM prints, test bundles written with the bundle writer, and
// JNI helpers that check every call.
#ifndef SATCHEL_TESTS_JVM_SUPPORT_H
#define SATCHEL_TESTS_JVM_SUPPORT_H

#include <jni.h>

#include <string>
#include <vector>

#include "bundle_writer.h"

// The process's VM and the main thread's environment, created on first use
// with -Xcheck:jni and the extra options (e.g. "-Xmx64m").  Aborts the test
// program when the VM can't be created.
JNIEnv *TestJvm(const std::vector<std::string> &extraOptions = {});

// Everything the VM printed so far (warnings of -Xcheck:jni among it).
std::string JvmOutput();

// Contents of bundles: the two internal classes and the test application
// (classes and resources) in a Java bundle.
BundleContents JavaTestContents();
std::vector<unsigned char> ReadFileBytes(const std::string &path);
void AddFile(BundleContents *contents, const std::string &name, const std::vector<unsigned char> &bytes);
void AddFile(BundleContents *contents, const std::string &name, const std::string &text);

// Byte j of the test entry data/i.bin; ParallelRead.java computes the same.
std::vector<unsigned char> ParallelEntryData(int entry);

// Writes the bundle into the test's temporary folder and opens its payload
// (OpenPayloadFile).  Fails the test on error.  Returns the bundle's path.
std::string WriteAndOpenBundle(const std::string &label, const BundleContents &contents);

// A Java exception taken from the environment (and cleared).
struct JavaThrown {
  bool pending = false;
  std::string className;  // "java.lang.ClassNotFoundException"
  bool hasMessage = false;
  std::string message;
  std::string causeClassName;  // empty without a cause
  std::string causeMessage;
};
JavaThrown TakeException(JNIEnv *env);

// Java's toString of an object ("null" for null); fails the test when it throws.
std::string JavaString(JNIEnv *env, jobject object);
std::string ClassNameOf(JNIEnv *env, jclass cls);

// Calls a static method "()Ljava/lang/String;" or with the given signature
// and int arguments; the result as text, or "threw <exception>".
std::string CallStaticText(JNIEnv *env, jclass cls, const char *method);
std::string CallStaticTextIII(JNIEnv *env, jclass cls, const char *method, int a, int b, int c);

#endif  // SATCHEL_TESTS_JVM_SUPPORT_H
