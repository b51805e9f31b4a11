// satchel pack-java: one executable from a Java application's jars.
//
// The bundle holds, in this order, the two internal classes (which the
// front end defines first, with the first two stages of the preset
// dictionary), then every entry of the jars in class-path order, each jar's
// entries in its own order, folders included (jar_reading.cpp), and last the
// class-path index and the entries' times (class_path_index.cpp); the names
// and forms are in java_bundle.h.  The property "Main-Class" comes from
// --main-class or else from the first jar's manifest (jar_manifest.cpp).
//
// A jar's manifest "Class-Path" is followed as the Java class path follows
// it: the relative jars that it names and that exist come right behind that
// jar (and theirs behind them); missing ones are named in a warning.
//
// Further properties that the front end reads (java_bundle.h): the
// --java-option values, the oldest Java release that may run the application
// (--min-java, else the one that the newest class file of the jars needs),
// and the first jar's Add-Opens, Add-Exports, Enable-Native-Access and
// Launcher-Agent-Class.
#include "pack_java.h"

#include <ctype.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <vector>

#include "bundle_writer.h"
#include "class_path_index.h"
#include "compression_options.h"
#include "default_stubs.h"
#include "jar_manifest.h"
#include "jar_reading.h"
#include "payload.h"
#include "pe_image.h"
#include "satchel_commands.h"
#include "stub_kinds.h"
#include "tool_files.h"
#include "tool_messages.h"

// The class files of the two internal classes, compiled into the tool at
// build time (see pack_java.cmake).
extern const unsigned char kInternalInputStreamClass[];
extern const size_t kInternalInputStreamClassSize;
extern const unsigned char kInternalClassLoaderClass[];
extern const size_t kInternalClassLoaderClassSize;

namespace {

// stat of a UTF-8 path: 0, or -1 with errno set.
#ifdef _WIN32
typedef struct _stat64 PathStatus;
int StatPath(const std::string &path, PathStatus *status) { return _wstat64(Widen(path).c_str(), status); }
#else
typedef struct stat PathStatus;
int StatPath(const std::string &path, PathStatus *status) { return stat(path.c_str(), status); }
#endif

const char kUsage[] =
    "usage: satchel pack-java [--stub STUB] -o OUT APP.jar [MORE.jar ...] [--main-class NAME]\n"
    "                         [--java-option OPTION]... [--min-java N] [--gui]\n"
    "                         [-j N] [--level N] [--quiet] [--icon FILE.ico]\n"
    "                         [--version-info KEY=VALUE]... [--manifest LEVEL]\n"
    "\n"
    "Packs the Java application in the jars into one executable: STUB (the\n"
    "satchel-java front end) with every file of the jars behind it, compressed\n"
    "with the dictionaries that the front end's class loader presets.\n"
    "\n"
    "  --stub STUB          the front end to put in front (default: the one of the\n"
    "                       tool's own platform in satchel's data folder,\n"
    "                       share/satchel/" STUB_JAVA_FRONT_END "; the Windows front ends\n"
    "                       stand beside it as satchel-java.exe and\n"
    "                       x86_64/satchel-java.exe; with --gui, satchel-java.exe);\n"
    "                       a Java front end of satchel's, not yet signed\n"
    "  -o, --output OUT     the executable to write (replaced only when complete)\n"
    "  --main-class NAME    the class whose main(String[]) runs (default: the\n"
    "                       Main-Class of the first jar's manifest)\n"
    "  --java-option OPTION a virtual machine option that every run gets, such\n"
    "                       as -Xmx512m or -Dfile.encoding=UTF-8 (repeatable);\n"
    "                       the user's own -J options come after and win\n"
    "  --min-java N         run only on Java N or later: older runtimes are\n"
    "                       passed over (default: the release that the newest\n"
    "                       class file in the jars needs)\n"
    "  --gui                a desktop application: the executable opens no\n"
    "                       console window and shows failures in a box\n"
    "                       (STUB must be a Windows front end)\n"
    COMPRESSION_OPTIONS_USAGE
    IDENTITY_USAGE
    "                       and with --gui per-monitor DPI awareness; these\n"
    "                       three need a Windows front end\n"
    "\n"
    "Files of the same name in several jars are all kept, the first first, as\n"
    "on a class path.  The jars that a manifest's\n"
    "Class-Path names are packed behind their jar, as java -jar would find them;\n"
    "the first jar's Add-Opens, Add-Exports, Enable-Native-Access and\n"
    "Launcher-Agent-Class are honoured when the executable runs.\n";

// Manifest attributes of the first jar that travel as properties of the same
// name, for the front end to act on as java -jar would.
const char *const kForwardedAttributes[] = {JAVA_BUNDLE_ADD_OPENS_KEY, JAVA_BUNDLE_ADD_EXPORTS_KEY,
                                            JAVA_BUNDLE_NATIVE_ACCESS_KEY, JAVA_BUNDLE_AGENT_CLASS_KEY};

// The Windows subsystem of a desktop application's executable.
const uint16_t kGuiSubsystem = PE_SUBSYSTEM_GUI;

// Class files carry their format version; version 45 + n needs Java n + 1,
// that is Java 8 reads 52, Java 17 reads 61.
const int kClassVersionOffset = 44;

struct PackJavaOptions {
  std::string stub;
  std::string output;
  std::string mainClass;  // empty: from the manifest
  std::vector<std::string> jars;
  std::vector<std::string> javaOptions;
  int minJava = 0;  // 0: from the class files
  bool gui = false;
  BundleWriteOptions write;  // threads, level, progress line
  BundleIdentity identity;  // --icon, --version-info, --manifest
};

bool StartsWith(const std::string &text, const char *prefix) {
  return text.compare(0, strlen(prefix), prefix) == 0;
}

// Takes the value of an option given as "--name VALUE" or "--name=VALUE".
// 0 when argv[*i] is not that option, 1 when taken, -1 when the value is
// missing or empty.
int TakeOption(int argc, char **argv, int *i, const char *name, std::string *value) {
  const char *argument = argv[*i];
  size_t length = strlen(name);
  if (strncmp(argument, name, length) != 0) return 0;
  if (argument[length] == '=') {
    *value = argument + length + 1;
  } else if (argument[length] != 0) {
    return 0;
  } else if (*i + 1 >= argc) {
    return -1;
  } else {
    *value = argv[++*i];
  }
  return value->empty() ? -1 : 1;
}

// A Java feature release as --min-java takes it: a number from 1 to 999, or
// the old form 1.N; 0 when the text is neither.
int ParseJavaRelease(const std::string &text) {
  std::string digits = StartsWith(text, "1.") && text.size() > 2 ? text.substr(2) : text;
  if (digits.empty() || digits.size() > 3 || digits[0] == '0') return 0;
  for (char c : digits)
    if (c < '0' || c > '9') return 0;
  return atoi(digits.c_str());
}

// 1 parsed, 0 help shown, -1 error shown.
int ParseOptions(int argc, char **argv, PackJavaOptions *options) {
  bool onlyFiles = false;
  for (int i = 1; i < argc; i++) {
    std::string argument = argv[i];
    if (onlyFiles || argument.empty() || argument[0] != '-' || argument == "-") {
      options->jars.push_back(argument);
      continue;
    }
    if (argument == "--") {
      onlyFiles = true;
      continue;
    }
    if (argument == "--help" || argument == "-h") {
      fputs(kUsage, stdout);
      return 0;
    }
    if (argument == "--gui") {
      options->gui = true;
      continue;
    }
    if (int compression = TakeCompressionOption(argc, argv, &i, "pack-java", &options->write)) {
      if (compression < 0) return -1;
      continue;
    }
    std::string javaOption, minJava, refusal;
    int identity = TakeIdentityOption(argc, argv, &i, &options->identity, &refusal);
    if (identity < 0) {
      PrintError("%s", refusal.c_str());
      return -1;
    }
    if (identity > 0) continue;
    int taken = TakeOption(argc, argv, &i, "--stub", &options->stub);
    if (!taken) taken = TakeOption(argc, argv, &i, "--output", &options->output);
    if (!taken) taken = TakeOption(argc, argv, &i, "-o", &options->output);
    if (!taken) taken = TakeOption(argc, argv, &i, "--main-class", &options->mainClass);
    if (!taken && (taken = TakeOption(argc, argv, &i, "--java-option", &javaOption)) > 0) {
      if (javaOption.find_first_of("\r\n") != std::string::npos) {
        PrintError(TOOL_MSG_OPTION_SPANS_LINES);
        return -1;
      }
      if (javaOption.size() < 2 || javaOption[0] != '-') {
        PrintError(TOOL_MSG_NOT_A_VM_OPTION, javaOption.c_str());
        return -1;
      }
      options->javaOptions.push_back(javaOption);
    }
    if (!taken && (taken = TakeOption(argc, argv, &i, "--min-java", &minJava)) > 0) {
      options->minJava = ParseJavaRelease(minJava);
      if (options->minJava <= 0) {
        PrintError(TOOL_MSG_NOT_A_RELEASE, minJava.c_str());
        return -1;
      }
    }
    if (taken < 0) {
      PrintError(TOOL_MSG_EMPTY_VALUE, argument.c_str());
      return -1;
    }
    if (!taken) {
      PrintError(TOOL_MSG_UNKNOWN_OPTION, argument.c_str());
      return -1;
    }
  }
  const char *missing = options->output.empty()   ? TOOL_MSG_REQUIRED_OUTPUT
                        : options->jars.empty()   ? TOOL_MSG_REQUIRED_JAR
                                                  : nullptr;
  if (missing) {
    PrintError(TOOL_MSG_REQUIRED, missing);
    return -1;
  }
  std::string error;
  // A desktop application needs a Windows front end: the i686 one by default.
  const char *front = options->gui ? "satchel-java.exe" : STUB_JAVA_FRONT_END;
  if (options->stub.empty() && !FindDefaultStub(front, &options->stub, &error)) {
    PrintError(TOOL_MSG_PACK_JAVA_FOR_STUB, error.c_str());
    return -1;
  }
  return 1;
}

// The jars named by a manifest's Class-Path, as paths, resolved as the JDK's
// class path resolves them against the URL of the jar that names them: the
// value is split at white space; a relative URL (with %XX escapes) is taken
// from the jar's folder, a path-absolute one ("/usr/share/...") and a "file:"
// URL as they stand; a URL of any other scheme (a drive letter among them) is
// ignored, as java ignores it.  What names no jar that exists is named in a
// warning and left out.
std::vector<std::string> ClassPathJars(const std::string &jar,
                                       const std::vector<ManifestAttribute> &manifest) {
  std::vector<std::string> found;
  std::string classPath = ManifestValue(manifest, "Class-Path");
  std::string folder = jar.substr(0, jar.size() - PathFileName(jar).size());
  if (folder.empty()) folder = "./";
  static const char kBlanks[] = " \t\n\r\f";
  size_t at = classPath.find_first_not_of(kBlanks);
  while (at != std::string::npos) {
    size_t end = classPath.find_first_of(kBlanks, at);
    std::string url = classPath.substr(at, end == std::string::npos ? std::string::npos : end - at);
    at = end == std::string::npos ? end : classPath.find_first_not_of(kBlanks, end);
    // A scheme: letters, digits, "+", "-" and "." before a ":" that comes
    // before any "/".
    std::string rest = url;
    size_t colon = url.find(':');
    bool otherScheme = false;
    if (colon != std::string::npos && colon < url.find('/') && colon > 0 && isalpha((unsigned char)url[0]) &&
        url.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789+-.") >= colon) {
      std::string scheme = url.substr(0, colon);
      for (char &c : scheme) c = (char)tolower((unsigned char)c);
      if (scheme == "file") rest = url.substr(colon + 1);
      else otherScheme = true;
    }
    // "file://localhost/..." and "file:///..." name local paths.
    if (!otherScheme && rest.compare(0, 2, "//") == 0) {
      size_t slash = rest.find('/', 2);
      std::string host = rest.substr(2, slash == std::string::npos ? std::string::npos : slash - 2);
      if (host.empty() || host == "localhost") rest = slash == std::string::npos ? "/" : rest.substr(slash);
      else otherScheme = true;  // a host's share: no file here
    }
    // A query or a fragment is no part of the file's name.
    rest = rest.substr(0, rest.find_first_of("?#"));
    std::string path;
    bool escaped = true;
    for (size_t k = 0; k < rest.size() && escaped; k++) {
      if (rest[k] != '%') {
        path += rest[k];
      } else if (k + 2 < rest.size() && isxdigit((unsigned char)rest[k + 1]) &&
                 isxdigit((unsigned char)rest[k + 2])) {
        path += (char)strtol(rest.substr(k + 1, 2).c_str(), nullptr, 16);
        k += 2;
      } else {
        escaped = false;
      }
    }
#ifdef _WIN32
    // "file:/C:/lib/a.jar" names C:/lib/a.jar; a path with a drive is
    // absolute, as one that starts with a slash (on the current drive).
    if (path.size() >= 3 && path[0] == '/' && isalpha((unsigned char)path[1]) && path[2] == ':') path.erase(0, 1);
    bool absolute = !path.empty() && (path[0] == '/' || path[0] == '\\' ||
                                      (path.size() >= 2 && isalpha((unsigned char)path[0]) && path[1] == ':'));
#else
    bool absolute = !path.empty() && path[0] == '/';
#endif
    if (!otherScheme && escaped && !path.empty() && !absolute) path = folder + path;
    const char *problem = nullptr;
    PathStatus status;
    if (otherScheme)
      problem = TOOL_MSG_NOT_FILE_URL;
    else if (!escaped)
      problem = TOOL_MSG_BAD_ESCAPE;
    else if (path.empty() || path.back() == '/')
      problem = TOOL_MSG_A_FOLDER;
    else if (StatPath(path, &status) != 0)
      problem = TOOL_MSG_NOT_FOUND;
    else if (!S_ISREG(status.st_mode))
      problem = TOOL_MSG_NOT_A_FILE;
    if (problem) {
      PrintError(TOOL_MSG_CLASS_PATH_LEFT_OUT, jar.c_str(), url.c_str(), problem);
      continue;
    }
    found.push_back(path);
  }
  return found;
}

// Adds the jars in order, each followed by the jars that its Class-Path names
// (depth first, each jar once, as a class path opens them).  The first jar's
// manifest attributes go to *firstManifest.  False with *error set.
bool AddJarsFollowingClassPath(const std::vector<std::string> &jars, BundleContents *contents,
                               ClassPathRecord *record,
                               std::vector<ManifestAttribute> *firstManifest,
                               JarSources *sources, std::string *error) {
  std::vector<std::string> pending(jars.rbegin(), jars.rend());  // next at the back
  std::vector<std::string> seen;
  bool first = true;
  while (!pending.empty()) {
    std::string jar = pending.back();
    pending.pop_back();
    // Jars are compared by the file they open, so that "lib/a.jar" and
    // "./lib/a.jar" are packed once.
    if (std::any_of(seen.begin(), seen.end(), [&](const std::string &other) { return SameFile(jar, other); }))
      continue;
    seen.push_back(jar);
    std::vector<ManifestAttribute> manifest;
    if (!AddJar(jar, contents, record, &manifest, sources, error)) return false;
    if (first) *firstManifest = manifest;
    first = false;
    std::vector<std::string> following = ClassPathJars(jar, manifest);
    pending.insert(pending.end(), following.rbegin(), following.rend());
  }
  return true;
}

// The Java feature release that the newest class file of the bundle needs;
// 0 when it holds none.  Multi-release variants (META-INF/versions/) and
// module descriptors are read only by the releases that know them, and the
// two internal classes are the front end's own: none of them counts.
int NeededJavaRelease(const BundleContents &contents, const JarSources &sources) {
  int newest = 0;
  for (const BundleFile &file : contents.files) {
    const std::string name = NameInJar(file.name);
    if (name.size() < 6 || name.compare(name.size() - 6, 6, ".class") != 0) continue;
    if (StartsWith(name, JAVA_BUNDLE_VERSIONS_PREFIX) || name == "module-info.class" ||
        name == PAYLOAD_INPUT_STREAM_ENTRY || name == PAYLOAD_CLASS_LOADER_ENTRY)
      continue;
    const std::vector<unsigned char> &c = EntryHead(file, sources);
    if (c.size() < 8 || c[0] != 0xCA || c[1] != 0xFE || c[2] != 0xBA || c[3] != 0xBE) continue;
    int major = c[6] << 8 | c[7];
    if (major - kClassVersionOffset > newest) newest = major - kClassVersionOffset;
  }
  return newest;
}

// The properties that tell the front end how to start the virtual machine.
void AddFrontEndProperties(const PackJavaOptions &options,
                           const std::vector<ManifestAttribute> &manifest,
                           const JarSources &sources, BundleContents *contents) {
  if (!options.javaOptions.empty()) {
    std::string joined;
    for (const std::string &option : options.javaOptions)
      joined += (joined.empty() ? "" : "\n") + option;
    contents->properties.push_back(BundleProperty{JAVA_BUNDLE_OPTIONS_KEY, joined});
  }
  int release = options.minJava ? options.minJava : NeededJavaRelease(*contents, sources);
  if (release > 0)
    contents->properties.push_back(BundleProperty{JAVA_BUNDLE_MIN_VERSION_KEY, std::to_string(release)});
  for (const char *name : kForwardedAttributes) {
    std::string value = ManifestValue(manifest, name);
    if (!value.empty()) contents->properties.push_back(BundleProperty{name, value});
  }
}

}  // namespace

int PackJavaCommand(int argc, char **argv) {
  PackJavaOptions options;
  options.write.progress = true;
  int parsed = ParseOptions(argc, argv, &options);
  if (parsed <= 0) return parsed == 0 ? 0 : 2;

  BundleContents contents;
  contents.dictionaries = BundleDictionaries::Java;
  ClassPathRecord record;
  record.present = {PAYLOAD_INPUT_STREAM_ENTRY, PAYLOAD_CLASS_LOADER_ENTRY};
  contents.files.push_back(BundleFile{
      PAYLOAD_INPUT_STREAM_ENTRY,
      std::vector<unsigned char>(kInternalInputStreamClass,
                                 kInternalInputStreamClass + kInternalInputStreamClassSize)});
  contents.files.push_back(BundleFile{
      PAYLOAD_CLASS_LOADER_ENTRY,
      std::vector<unsigned char>(kInternalClassLoaderClass,
                                 kInternalClassLoaderClass + kInternalClassLoaderClassSize)});

  std::string error;
  if (!CheckStubKind(options.stub, StubKind::JavaFrontEnd, &error)) {
    PrintError(TOOL_MSG_PACK_JAVA_FAILED, error.c_str());
    return 1;
  }
  for (const std::string &input : options.jars) {
    if (SameFile(options.output, input) || SameFile(options.output, options.stub)) {
      PrintError(TOOL_MSG_PACK_JAVA_OUTPUT_IS_INPUT, options.output.c_str());
      return 1;
    }
  }
  std::vector<ManifestAttribute> firstManifest;
  // Entries beyond a small budget stay in their jars until they are written.
  JarSources sources;
  contents.source = JarSourceOf(&sources);
  if (!AddJarsFollowingClassPath(options.jars, &contents, &record, &firstManifest, &sources,
                                 &error)) {
    PrintError(TOOL_MSG_PACK_JAVA_FAILED, error.c_str());
    return 1;
  }
  contents.files.push_back(ClassPathIndexEntry(record));
  contents.files.push_back(EntryTimesEntry(record));
  std::string manifestMainClass = ManifestValue(firstManifest, JAVA_BUNDLE_MAIN_CLASS_KEY);

  std::string mainClass = options.mainClass.empty() ? manifestMainClass : options.mainClass;
  if (mainClass.empty()) {
    PrintError(TOOL_MSG_NO_MAIN_CLASS, options.jars[0].c_str());
    return 1;
  }
  // The front end turns dots into slashes and adds ".class"; that entry must
  // be there, or the executable could only fail.
  std::string mainEntry = mainClass;
  for (char &c : mainEntry)
    if (c == '.') c = '/';
  mainEntry += ".class";
  if (!record.present.count(mainEntry)) {
    PrintError(TOOL_MSG_MAIN_CLASS_MISSING, mainClass.c_str(), mainEntry.c_str());
    return 1;
  }
  contents.properties.push_back(BundleProperty{JAVA_BUNDLE_MAIN_CLASS_KEY, mainClass});
  AddFrontEndProperties(options, firstManifest, sources, &contents);
  if (options.gui) contents.peSubsystem = kGuiSubsystem;
  contents.identity = options.identity;
  contents.identity.perMonitorDpi = options.gui;

  bool written = WriteBundle(options.stub, options.output, contents, options.write, &error);
  CloseJarSources(&sources);
  if (!written) {
    PrintError(TOOL_MSG_PACK_JAVA_FAILED, error.c_str());
    return 1;
  }
  return 0;
}
