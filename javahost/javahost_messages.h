// Every text that Java hosting reports, in one place: VM creation
// (java_vm.cpp), the main class and the exception report (main_class.cpp),
// the satchel-java front end, and the exception messages of payload class
// loading.  Peers match on some of these byte for byte, the spelling
// included.  Exceptions whose message is a class or entry name carry that
// name (or "") and have no text here.
#ifndef SATCHEL_JAVAHOST_MESSAGES_H
#define SATCHEL_JAVAHOST_MESSAGES_H

// ---- VM creation (StartJavaVm, LoadJvmEntryPoint) ----
#define JAVA_MSG_ALLOCATION_FAILED "Memory allocation failed"
#define JAVA_MSG_NO_RUNTIME_KEY "Could not locate Java runtime envorinment"
#define JAVA_MSG_NO_CURRENT_VERSION "Could not find version of Java runtime envorinment"
#define JAVA_MSG_NO_VERSION_KEY "Could not locate current version of Java runtime envorinment"
#define JAVA_MSG_NO_RUNTIME_LIB "Could not locate Java runtime library"
#define JAVA_MSG_CANNOT_LOAD_LIBRARY "Could not load JVM library"
#define JAVA_MSG_NO_ENTRY_POINT "Could not get JVM entry point"
#define JAVA_MSG_CANNOT_CREATE_VM "Can't create Java VM"

// The two failures that concern the library itself.  LoadJvmEntryPoint and
// StartJavaVm report them with these very objects, so that the front end
// tells them by comparing the pointer, never the text.
extern const char JavaVmCannotLoadLibrary[];  // JAVA_MSG_CANNOT_LOAD_LIBRARY
extern const char JavaVmNoEntryPoint[];       // JAVA_MSG_NO_ENTRY_POINT

// ---- the exception report (ReportJavaException) ----
#define JAVA_MSG_REPORT_FORMAT "Terminating due to Java exception: %s"
#define JAVA_MSG_NO_EXCEPTION_CLASS "Failed to get exception class"
#define JAVA_MSG_NO_STRING_WRITER_CLASS "Failed to get StringWriter class"
#define JAVA_MSG_NO_PRINT_WRITER_CLASS "Failed to get PrintWriter class"
#define JAVA_MSG_NO_PRINT_WRITER_CONSTRUCTOR "Failed to get constructor ID for PrintWriter()"
#define JAVA_MSG_NO_STRING_WRITER_CONSTRUCTOR "Failed to get constructor ID for StringWriter()"
#define JAVA_MSG_NO_PRINT_STACK_TRACE "Failed to get method ID for printStackTrace()"
#define JAVA_MSG_NO_PRINTLN "Failed to get method ID for println()"
#define JAVA_MSG_NO_FLUSH "Failed to get method ID for flush()"
#define JAVA_MSG_NO_TO_STRING "Failed to get method ID for toString()"
#define JAVA_MSG_STRING_WRITER_FAILED "Failed to create StringWriter"
#define JAVA_MSG_PRINT_WRITER_FAILED "Failed to create PrintWriter"
#define JAVA_MSG_NO_STRING "Failed to get String"
#define JAVA_MSG_NO_CHARS "Failed to get chars"

// ---- payload class loading: exception messages beyond the class and entry
// names (payload_classes.cpp) ----
#define JAVA_MSG_ENTRY_READ_FAILED "Failed to read zip entry"
#define JAVA_MSG_STREAM_CLOSED "Attempt to read closed internal input stream"
#define JAVA_MSG_STREAM_READ_FAILED "Failed to read internal input stream"
#define JAVA_MSG_NO_EXECUTABLE_PATH "Failed to get the executable's path"
#define JAVA_MSG_NO_CLASS_CLASS "Failed to find class: java.lang.Class"
#define JAVA_MSG_NO_GET_CONSTRUCTORS "Failed to find method: getConstructors"
#define JAVA_MSG_NO_CONSTRUCTORS "Class has no constructors"

// ---- the main class and its arguments (LoadMainClass, MakeStringArray) ----
#define JAVA_MSG_NO_CLASS_LOADER "Failed to create classloader"
#define JAVA_MSG_NO_MAIN_CLASS_PROPERTY "No main class defined in manifest"
#define JAVA_MSG_NO_MAIN_CLASS "Can't find main class"
#define JAVA_MSG_OBJECT_FAILED "Failed to create object"

// ---- the satchel-java front end ----
// No runtime found: StartJavaVm's own text, the library names looked for, the
// places looked at and (on Windows) the registry note.
#define JAVA_MSG_NO_RUNTIME_FOUND_FORMAT                                                   \
  "%s\n"                                                                                 \
  "No Java runtime was found.  Looked for %s in: %s" JAVA_MSG_REGISTRY_NOTE ".\n"        \
  "Put a Java runtime in a folder named jre or runtime beside this program, set JAVA_HOME, " \
  "or give the JVM library with -jvm PATH."
#ifdef _WIN32
#define JAVA_MSG_REGISTRY_NOTE "; then in the registry"
#else
#define JAVA_MSG_REGISTRY_NOTE ""
#endif
#define JAVA_MSG_LIBRARY_FAILED_FORMAT "%s: %s"  // the failure, the library's path
// Runtimes found but all older than the bundle's "Java-Min-Version": the
// release, those passed over, the library names looked for, the places
// looked at and the release again.
#define JAVA_MSG_ONLY_OLD_RUNTIMES_FORMAT                                        \
  "This program needs Java %d or later.  Passed over as too old: %s.\n"          \
  "Also looked for %s in: %s" JAVA_MSG_REGISTRY_NOTE ".\n"                       \
  "Install Java %d or later, or give its JVM library with -jvm PATH."
#define JAVA_MSG_NOWHERE_ELSE "nowhere else"
// A JVM library that did not load: the failure, the library's path, why.
#define JAVA_MSG_LIBRARY_NOT_LOADED_FORMAT "%s: %s: %s"
#define JAVA_MSG_LIBRARY_NOT_FOUND "not found"
#define JAVA_MSG_WRONG_MACHINE_FORMAT "built for %s, but this program runs as %s"
#define JAVA_MSG_NO_SYSTEM_REASON "the system gave no reason"
// The manifest's Launcher-Agent-Class (its name in each).
#define JAVA_MSG_AGENT_NEEDS_INSTRUMENTATION_FORMAT                                          \
  "Launcher-Agent-Class %s: only agentmain(String) can be started here; "                 \
  "agentmain(String, Instrumentation) needs the java.instrument agent, which takes its " \
  "classes from a jar file"
#define JAVA_MSG_AGENT_NOT_FOUND_FORMAT "Launcher-Agent-Class %s has no static agentmain method"
#define JAVA_MSG_MAIN_NOT_FOUND_FORMAT \
  "Main method not found in class %s; it must be declared as: public static void main(String[] args)"
#define JAVA_MSG_CONTEXT_LOADER_FAILED "Failed to set the context class loader"
#define JAVA_MSG_THREAD_FAILED "Failed to start the main thread"

#endif  // SATCHEL_JAVAHOST_MESSAGES_H
