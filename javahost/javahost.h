// Java hosting: a Java application run in this process, every class and
// resource served straight out of the payload.  The map of entry points:
//
//   main                     satchel_java.cpp         the road: payload, runtime, VM, main
//                                                     class, arguments, main, exit code
//   BuildArgumentVector ...  front_end_arguments.cpp  its portable steps (front_end.h): the
//   ReadBundleOptions ...    bundle_options.cpp       command line, the bundle's options,
//   FindJavaRuntime ...      runtime_search.cpp       the runtime search and its messages,
//   SetLaunchProperties ...  application_start.cpp    what comes before and after main
//   OpenCommandLine ...      satchel_java_win32.cpp   what differs between systems: runtime
//   ShowMessage, ...         satchel_java_posix.cpp   discovery, argument decoding, message
//                                                     display, thread start (satchel_java.h)
//   StartJavaVm              java_vm.cpp              split "-J" options, "-jvm" and the
//   LoadJvmEntryPoint                                 application's arguments; load the JVM
//                                                     library; create the VM
//   LoadMainClass            main_class.cpp           bootstrap, then the "Main-Class" class
//   MakeStringArray                                   the String[] for main
//   ReportJavaException                               "Terminating due to Java exception: ..."
//   CreatePayloadClassLoader payload_classes.cpp      lock, hooks, preset dictionary, the two
//                                                     internal classes and their natives
//   DefinePayloadClass                                a class defined from its payload entry
//   Agent_OnLoad_satchel     system_loader.cpp        the agent that makes the payload loader
//   SystemPayloadLoader                               the system class loader, before main
//
// Every system call lives in one table and is called by its Windows name, a
// macro for the entry:
//
//   platformCalls   payload/platform.h    files, text conversion to UTF-16,
//                                         GetProcAddress (the payload library's)
//   runtimeCalls    payload/platform.h    LoadLibraryW and StartJavaVm's registry
//                                         key (A calls, RegQueryValueExW, RegCloseKey)
//   frontEndCalls   front_end_calls.h     the rest of the Windows half: command line,
//                                         text to UTF-8, module handles, the keys of
//                                         current installers, FormatMessageW, boxes,
//                                         console, the application's thread
//
// Calls made otherwise are marked where they are made: the C runtime's
// (_wgetenv, _wfopen) and the two found by GetProcAddress (AddDllDirectory,
// SetDefaultDllDirectories).  The POSIX half calls the C library and POSIX
// directly, beside the stand-ins of platform.h.
//
// Every text that this layer shows lives in javahost_messages.h.  Java-side
// failures travel as pending exceptions; native-side ones as a constant
// message; only main shows one (ShowMessage).
#ifndef SATCHEL_JAVAHOST_H
#define SATCHEL_JAVAHOST_H

#include "java_vm.h"
#include "javahost_messages.h"
#include "main_class.h"
#include "payload_classes.h"
#include "system_loader.h"

#endif  // SATCHEL_JAVAHOST_H
