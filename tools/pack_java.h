// satchel pack-java: one executable from a Java application's jars.
#ifndef SATCHEL_PACK_JAVA_H
#define SATCHEL_PACK_JAVA_H

// Runs the command with its own arguments (argv[0] is "pack-java"); the exit
// status of the tool.
int PackJavaCommand(int argc, char **argv);

#endif  // SATCHEL_PACK_JAVA_H
