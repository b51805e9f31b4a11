// Machine-dependent JNI types for the Windows builds (mingw-w64).  The JDK on
// the build machine is a Linux one and ships only its own jni_md.h; these are
// the Windows definitions of the same names.
#ifndef SATCHEL_WIN32_JNI_MD_H
#define SATCHEL_WIN32_JNI_MD_H

#define JNIEXPORT __declspec(dllexport)
#define JNIIMPORT __declspec(dllimport)
#define JNICALL __stdcall

typedef long jint;
typedef __int64 jlong;
typedef signed char jbyte;

#endif  // SATCHEL_WIN32_JNI_MD_H
