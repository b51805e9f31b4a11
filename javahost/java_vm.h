// Java VM creation: splits a command line into "-J" options for the virtual
// machine, the "-jvm" library path and the application's own arguments, finds
// and loads the JVM library, and creates the virtual machine in this process.
#ifndef SATCHEL_JAVA_VM_H
#define SATCHEL_JAVA_VM_H

#include <jni.h>

// The registry key (below HKEY_LOCAL_MACHINE) that StartJavaVm reads when no
// "-jvm" names the library: where runtimes before Java 9 kept their entries.
#define JAVA_RUNTIME_KEY_PATH "SOFTWARE\\JavaSoft\\Java Runtime Environment"

// The JVM library's exported entry point, JNI_CreateJavaVM.
typedef jint(JNICALL *CreateJavaVmEntry)(JavaVM **vm, void **env, void *arguments);

// What an argument is by the command-line conventions, told in one walk from
// the first argument: each argument's role depends on the one before it
// (kApplicationArgument before the first).  The "-J" test comes first: "-JVM"
// is an option, "-jvm" is the switch whose next argument, whatever it is, is
// the JVM library's path, "-jvmx" is the application's.
enum ArgumentRole { kVmOption, kLibraryPathSwitch, kLibraryPath, kApplicationArgument };
ArgumentRole RoleOfArgument(const char *argument, ArgumentRole previous);

// Creates the virtual machine from count arguments (argument vector with its
// ending null entry).  1 on success, with the VM, the calling thread's JNI
// environment and the application arguments (the caller's own pointers, in
// order, in a heap array that the caller frees; null when there are none).
// 0 on failure with the message set and the other outputs cleared.
int StartJavaVm(int count, char **arguments, JavaVM **vm, JNIEnv **env, int *applicationCount,
                char ***applicationArguments, const char **message);

// Loads the JVM library named by the UTF-8 path, or the one that the registry
// names when the path is null, and returns its JNI_CreateJavaVM.  Null with
// the message set on failure.  The library stays loaded until exit.
CreateJavaVmEntry LoadJvmEntryPoint(const char *path, const char **message);

#endif  // SATCHEL_JAVA_VM_H
