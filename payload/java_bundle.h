// The facts of a Java bundle, in one place: the names of its reserved entries,
// the keys of its properties and the stages of its preset dictionary.
// `pack-java` and the bundle writer write them, the reading commands and Java
// hosting (the front end, the class loading natives) read them, and the Java
// side takes its constants from here: java/CMakeLists.txt generates them into
// InternalClassPath.java from this very file, so each define below that the
// Java side uses is one line of the form `#define NAME "text"` or
// `#define NAME number`.
//
// A Java bundle's entries: the two internal classes first, then every entry
// of the jars in class-path order (a later jar's entry of a name already
// given is stored as JAVA_BUNDLE_RESERVED_PREFIX "K/NAME", K the jar's place
// on the class path from 0), last the class-path index and the entries'
// times.
#ifndef SATCHEL_JAVA_BUNDLE_H
#define SATCHEL_JAVA_BUNDLE_H

// The package of the internal classes, in the JNI form with slashes.
#define JAVA_BUNDLE_PACKAGE "com/tessel/qor/kestrel/"
#define JAVA_BUNDLE_INPUT_STREAM_CLASS "com/tessel/qor/kestrel/InternalInputStream"
#define JAVA_BUNDLE_CLASS_LOADER_CLASS "com/tessel/qor/kestrel/InternalClassLoader"
// Their entries: the class name and ".class".
#define PAYLOAD_INPUT_STREAM_ENTRY JAVA_BUNDLE_INPUT_STREAM_CLASS ".class"
#define PAYLOAD_CLASS_LOADER_ENTRY JAVA_BUNDLE_CLASS_LOADER_CLASS ".class"

// Entry names that belong to the bundle rather than to a jar begin with this.
#define JAVA_BUNDLE_RESERVED_PREFIX "/satchel/"
// The class-path index: a u32 version (JAVA_BUNDLE_INDEX_VERSION), a u32 count
// of jars, then per jar its file name, u32 flags, the first entry it gave and
// the entry of its signature block (empty when unsigned); big-endian, texts
// as java.io.DataOutput.writeUTF writes them.
#define JAVA_BUNDLE_INDEX_ENTRY "/satchel/jars"
#define JAVA_BUNDLE_INDEX_VERSION 2
// Jar flag: the manifest says Multi-Release: true.
#define JAVA_BUNDLE_JAR_MULTI_RELEASE 1
// The entries' times: a u32 count, then per entry its name, a kind byte and
// a u64 value.
#define JAVA_BUNDLE_TIMES_ENTRY "/satchel/times"
#define JAVA_BUNDLE_TIME_DOS 1   // an MS-DOS date and time
#define JAVA_BUNDLE_TIME_UNIX 2  // Unix seconds
// Where a multi-release jar keeps the versions of its entries.
#define JAVA_BUNDLE_VERSIONS_PREFIX "META-INF/versions/"

// Properties.
#define JAVA_BUNDLE_MAIN_CLASS_KEY "Main-Class"
// The packager's VM options, one per line, in order.
#define JAVA_BUNDLE_OPTIONS_KEY "Java-Options"
// The oldest Java feature release that may run the application.
#define JAVA_BUNDLE_MIN_VERSION_KEY "Java-Min-Version"
// The first jar's manifest attributes that travel under their own names.
#define JAVA_BUNDLE_ADD_OPENS_KEY "Add-Opens"
#define JAVA_BUNDLE_ADD_EXPORTS_KEY "Add-Exports"
#define JAVA_BUNDLE_NATIVE_ACCESS_KEY "Enable-Native-Access"
#define JAVA_BUNDLE_AGENT_CLASS_KEY "Launcher-Agent-Class"

// The stages of the preset dictionary.  Java hosting builds it once:
// ConcatenatedNames (stage 1), then the first InternalInputStream entry's
// bytes appended (stage 2), then the first InternalClassLoader entry's
// (stage 3); each entry is compressed with, and read with, the last 32 KiB
// (PAYLOAD_DICTIONARY_WINDOW) of its stage.  Installer bundles use none.
enum {
  JAVA_DICTIONARY_NAMES = 1,             // the InternalInputStream entry
  JAVA_DICTIONARY_WITH_INPUT_STREAM = 2, // the InternalClassLoader entry
  JAVA_DICTIONARY_WITH_BOTH = 3          // every other entry
};
// The stage for the entry of that name.
int PayloadDictionaryStage(const char *name);

#endif  // SATCHEL_JAVA_BUNDLE_H
