// satchel pack-java: one executable from a Java application's jars.
//
// The bundle holds, in this order, the two internal classes (which the
// front end defines first, with the first two stages of the preset
// dictionary) and then every file entry of the jars in the order given, each
// jar's entries in its own order.  Folders are left out.  Of several entries
// with the same name the first is kept, as a reader would pick it, except for
// service registrations (META-INF/services/...), whose lines from every jar
// are joined so that each jar's providers stay visible.  The property
// "Main-Class" comes from --main-class or else from the first jar's manifest.
#include "pack_java.h"

#include <ctype.h>
#include <stdio.h>
#include <string.h>
#include <zip.h>

#include <map>
#include <string>
#include <vector>

#include "bundle_writer.h"
#include "payload.h"

// The class files of the two internal classes, compiled into the tool at
// build time (see pack_java.cmake).
extern const unsigned char kInternalInputStreamClass[];
extern const size_t kInternalInputStreamClassSize;
extern const unsigned char kInternalClassLoaderClass[];
extern const size_t kInternalClassLoaderClassSize;

namespace {

const char kUsage[] =
    "usage: satchel pack-java --stub STUB -o OUT APP.jar [MORE.jar ...] [--main-class NAME]\n"
    "\n"
    "Packs the Java application in the jars into one executable: STUB (the\n"
    "satchel-java front end) with every file of the jars behind it, compressed\n"
    "with the dictionaries that the front end's class loader presets.\n"
    "\n"
    "  --stub STUB          the front end to put in front\n"
    "  -o, --output OUT     the executable to write (replaced only when complete)\n"
    "  --main-class NAME    the class whose main(String[]) runs (default: the\n"
    "                       Main-Class of the first jar's manifest)\n"
    "\n"
    "Files of the same name in several jars: the first is kept, as on a class\n"
    "path; META-INF/services files are joined.\n";

const char kServicesPrefix[] = "META-INF/services/";
const char kManifestName[] = "META-INF/MANIFEST.MF";

struct PackJavaOptions {
  std::string stub;
  std::string output;
  std::string mainClass;  // empty: from the manifest
  std::vector<std::string> jars;
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
    int taken = TakeOption(argc, argv, &i, "--stub", &options->stub);
    if (!taken) taken = TakeOption(argc, argv, &i, "--output", &options->output);
    if (!taken) taken = TakeOption(argc, argv, &i, "-o", &options->output);
    if (!taken) taken = TakeOption(argc, argv, &i, "--main-class", &options->mainClass);
    if (taken < 0) {
      fprintf(stderr, "satchel pack-java: %s needs a value that is not empty\n", argument.c_str());
      return -1;
    }
    if (!taken) {
      fprintf(stderr, "satchel pack-java: unknown option %s (see satchel pack-java --help)\n",
              argument.c_str());
      return -1;
    }
  }
  const char *missing = options->stub.empty()     ? "--stub STUB"
                        : options->output.empty() ? "-o OUT"
                        : options->jars.empty()   ? "at least one jar"
                                                  : nullptr;
  if (missing) {
    fprintf(stderr, "satchel pack-java: %s is required (see satchel pack-java --help)\n", missing);
    return -1;
  }
  return 1;
}

// The text of a libzip error code.
std::string ZipErrorText(int code) {
  zip_error_t error;
  zip_error_init_with_code(&error, code);
  std::string text = zip_error_strerror(&error);
  zip_error_fini(&error);
  return text;
}

// The main section's "Main-Class" of a manifest, trimmed; empty when absent.
// Attribute names are matched ignoring case; a line that starts with one space
// continues the previous one; the main section ends at the first empty line.
std::string ManifestMainClass(const std::vector<unsigned char> &manifest) {
  std::vector<std::string> lines;
  std::string line;
  for (size_t i = 0; i <= manifest.size(); i++) {
    char c = i < manifest.size() ? (char)manifest[i] : '\n';
    if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < manifest.size() && manifest[i + 1] == '\n') i++;
      if (line.empty()) break;  // end of the main section
      if (line[0] == ' ' && !lines.empty())
        lines.back() += line.substr(1);
      else
        lines.push_back(line);
      line.clear();
    } else {
      line += c;
    }
  }
  const char name[] = "main-class:";
  for (const std::string &entry : lines) {
    if (entry.size() < sizeof name - 1) continue;
    bool match = true;
    for (size_t k = 0; k < sizeof name - 1 && match; k++)
      match = (char)tolower((unsigned char)entry[k]) == name[k];
    if (!match) continue;
    size_t begin = sizeof name - 1, end = entry.size();
    while (begin < end && (entry[begin] == ' ' || entry[begin] == '\t')) begin++;
    while (end > begin && (entry[end - 1] == ' ' || entry[end - 1] == '\t')) end--;
    return entry.substr(begin, end - begin);
  }
  return std::string();
}

// Reads one entry of an open archive.  False with *error set.
bool ReadZipEntry(zip_t *archive, zip_uint64_t index, const zip_stat_t &stat,
                  const std::string &jar, std::vector<unsigned char> *content,
                  std::string *error) {
  std::string where = jar + ": " + stat.name + ": ";
  if (!(stat.valid & ZIP_STAT_SIZE)) {
    *error = where + "the archive does not give the entry's size";
    return false;
  }
  if (stat.size >= 0x80000000u) {
    *error = where + "2 GiB or larger; a bundle cannot hold it";
    return false;
  }
  zip_file_t *file = zip_fopen_index(archive, index, 0);
  if (!file) {
    *error = where + zip_strerror(archive);
    return false;
  }
  content->resize(stat.size);
  zip_uint64_t done = 0;
  while (done < stat.size) {
    zip_int64_t n = zip_fread(file, content->data() + done, stat.size - done);
    if (n <= 0) {
      *error = where + (n < 0 ? zip_file_strerror(file) : "the entry ends early");
      zip_fclose(file);
      return false;
    }
    done += (zip_uint64_t)n;
  }
  // Reading to the end makes libzip compare the checksum; a longer entry than
  // stated would show here too.
  unsigned char extra;
  zip_int64_t more = zip_fread(file, &extra, 1);
  if (more != 0) {
    *error = where + (more < 0 ? zip_file_strerror(file) : "the entry is longer than stated");
    zip_fclose(file);
    return false;
  }
  zip_fclose(file);
  return true;
}

// Adds every file of the jar to the contents.  `positions` maps the names
// already present to their index in contents->files.  The manifest's
// Main-Class goes to *mainClass when it is not null.  False with *error set.
bool AddJar(const std::string &jar, BundleContents *contents,
            std::map<std::string, size_t> *positions, std::string *mainClass,
            std::string *error) {
  int code = 0;
  zip_t *archive = zip_open(jar.c_str(), ZIP_RDONLY, &code);
  if (!archive) {
    *error = jar + ": " + ZipErrorText(code);
    return false;
  }
  zip_int64_t count = zip_get_num_entries(archive, 0);
  for (zip_int64_t i = 0; i < count; i++) {
    zip_stat_t stat;
    if (zip_stat_index(archive, (zip_uint64_t)i, 0, &stat) != 0 || !(stat.valid & ZIP_STAT_NAME)) {
      *error = jar + ": entry " + std::to_string(i) + ": " + zip_strerror(archive);
      zip_close(archive);
      return false;
    }
    std::string name = stat.name;
    if (name.empty() || name.back() == '/') continue;  // folders
    bool isService = StartsWith(name, kServicesPrefix) && name.size() > sizeof kServicesPrefix - 1;
    auto present = positions->find(name);
    bool wanted = present == positions->end() || isService ||
                  (mainClass && name == kManifestName);
    if (!wanted) continue;
    std::vector<unsigned char> content;
    if (!ReadZipEntry(archive, (zip_uint64_t)i, stat, jar, &content, error)) {
      zip_close(archive);
      return false;
    }
    if (mainClass && name == kManifestName) {
      *mainClass = ManifestMainClass(content);
      if (present != positions->end()) continue;
    }
    if (present != positions->end()) {
      // A further service registration: its lines go behind the ones kept,
      // on a line of their own.
      std::vector<unsigned char> &kept = contents->files[present->second].content;
      if (!kept.empty() && kept.back() != '\n') kept.push_back('\n');
      kept.insert(kept.end(), content.begin(), content.end());
      continue;
    }
    (*positions)[name] = contents->files.size();
    contents->files.push_back(BundleFile{name, std::move(content)});
  }
  zip_close(archive);
  return true;
}

}  // namespace

int PackJavaCommand(int argc, char **argv) {
  PackJavaOptions options;
  int parsed = ParseOptions(argc, argv, &options);
  if (parsed <= 0) return parsed == 0 ? 0 : 2;

  BundleContents contents;
  contents.dictionaries = BundleDictionaries::Java;
  std::map<std::string, size_t> positions;
  contents.files.push_back(BundleFile{
      PAYLOAD_INPUT_STREAM_ENTRY,
      std::vector<unsigned char>(kInternalInputStreamClass,
                                 kInternalInputStreamClass + kInternalInputStreamClassSize)});
  contents.files.push_back(BundleFile{
      PAYLOAD_CLASS_LOADER_ENTRY,
      std::vector<unsigned char>(kInternalClassLoaderClass,
                                 kInternalClassLoaderClass + kInternalClassLoaderClassSize)});
  positions[PAYLOAD_INPUT_STREAM_ENTRY] = 0;
  positions[PAYLOAD_CLASS_LOADER_ENTRY] = 1;

  std::string manifestMainClass;
  std::string error;
  for (size_t i = 0; i < options.jars.size(); i++) {
    if (!AddJar(options.jars[i], &contents, &positions, i == 0 ? &manifestMainClass : nullptr,
                &error)) {
      fprintf(stderr, "satchel pack-java: %s\n", error.c_str());
      return 1;
    }
  }

  std::string mainClass = options.mainClass.empty() ? manifestMainClass : options.mainClass;
  if (mainClass.empty()) {
    fprintf(stderr,
            "satchel pack-java: %s: its manifest names no Main-Class; give --main-class NAME\n",
            options.jars[0].c_str());
    return 1;
  }
  // The front end turns dots into slashes and adds ".class"; that entry must
  // be there, or the executable could only fail.
  std::string mainEntry = mainClass;
  for (char &c : mainEntry)
    if (c == '.') c = '/';
  mainEntry += ".class";
  if (positions.find(mainEntry) == positions.end()) {
    fprintf(stderr, "satchel pack-java: main class %s: no entry %s in the jars\n",
            mainClass.c_str(), mainEntry.c_str());
    return 1;
  }
  contents.properties.push_back(BundleProperty{"Main-Class", mainClass});

  if (!WriteBundle(options.stub, options.output, contents, &error)) {
    fprintf(stderr, "satchel pack-java: %s\n", error.c_str());
    return 1;
  }
  return 0;
}
