// The payload class loader as the application's system class loader, as the
// application loader is under "java -cp".
//
// The front end passes SYSTEM_LOADER_AGENT_ARGUMENT; the virtual machine then
// calls the agent linked into this very executable (Agent_OnLoad_satchel,
// exported by it).  On Java 9 and later the agent waits for the VMStart event
// (the module system is up, the system class loader not made yet), defines
// and binds the two internal classes there and sets the system property
// "java.system.class.loader" to InternalClassLoader: the virtual machine then
// makes an InternalClassLoader the system class loader itself, caches it for
// JNI FindClass on threads with no Java caller, and makes it the main
// thread's context class loader.  The property is set as a running program
// would set it, not on the command line, where Java 17 and later would turn
// off the archived application classes and warn.
//
// Elsewhere (Java 8, whose VMStart comes before the system properties exist;
// a "java.system.class.loader" of the user's own; an agent that did not run)
// nothing happens early, and LoadMainClass makes the payload loader as a
// loader of its own.
#ifndef SATCHEL_SYSTEM_LOADER_H
#define SATCHEL_SYSTEM_LOADER_H

#include <jni.h>

// The "-J" argument for StartJavaVm that loads the agent (the option
// "-agentlib:satchel"); the name is what the exported Agent_OnLoad_<name>
// ends in.
#define SYSTEM_LOADER_AGENT_ARGUMENT "-Jagentlib:satchel"

// Once the virtual machine exists: the system class loader when the agent
// made it an InternalClassLoader (local reference), after taking the
// property away again so that the application sees it as under "java -cp";
// null otherwise, with nothing pending.
jobject SystemPayloadLoader(JNIEnv *env);

#endif  // SATCHEL_SYSTEM_LOADER_H
