// satchel pack: an installer bundle from a launcher stub, an msi, an exe and
// further files.  The names are checked first, then whether the bundle is
// whole, and only then are the inputs read (by the bundle writer).
#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "bundle_writer.h"
#include "compression_options.h"
#include "default_stubs.h"
#include "file_names.h"
#include "pe_image.h"
#include "satchel_commands.h"
#include "stub_kinds.h"
#include "tool_files.h"
#include "tool_messages.h"

namespace {

const char kPackUsage[] =
    "usage: satchel pack [--stub STUB] -o OUT --msi FILE [--exe FILE]\n"
    "                    [--file NAME=PATH]... [--property KEY=VALUE]...\n"
    "                    [--pass-arguments] [--quiet-switch SWITCH]...\n"
    "                    [--progress TEXT] [-j N] [--level N] [--quiet]\n"
    "                    [--icon FILE.ico] [--version-info KEY=VALUE]...\n"
    "                    [--manifest LEVEL]\n"
    "\n"
    "Writes OUT: the launcher stub STUB, zero filler up to the next multiple of\n"
    "512 bytes, and a payload holding the given files and properties.  Every\n"
    "entry is raw deflate, at the best level unless --level says otherwise; the\n"
    "same inputs and level give the same bytes.\n"
    "\n"
    "  --stub STUB          the launcher executable that goes in front (default:\n"
    "                       the i686 launcher of satchel's data folder,\n"
    "                       share/satchel/" STUB_LAUNCHER " beside the tool's bin/);\n"
    "                       an installer launcher of satchel's, not yet signed\n"
    "                       (sign the bundle after packing)\n"
    "  -o, --output OUT     the bundle to write; it appears only when complete\n"
    "  --msi FILE           store FILE as the entry \"msi\" and its file name as the\n"
    "                       property \"msi\" (the name the launcher writes it under)\n"
    "  --exe FILE           likewise for the entry and property \"exe\" (the program\n"
    "                       that the launcher starts: a Windows program, or a batch\n"
    "                       file named .bat or .cmd).  Without it, --msi alone packs\n"
    "                       the ready bootstrap built for the stub's machine, which\n"
    "                       runs the system's msiexec.exe /i on the msi with the\n"
    "                       bundle's own arguments, and turns --pass-arguments on;\n"
    "                       the msi's name must then end in .msi\n"
    "  --file NAME=PATH     store the file PATH as the entry NAME.  The launcher\n"
    "                       extracts entries named files/NAME beside the msi and\n"
    "                       the exe under NAME (a plain Windows file name) and\n"
    "                       deletes them with them; it extracts no other entry\n"
    "  --property KEY=VALUE store a property (KEY at most 31 bytes)\n"
    "  --pass-arguments     the launcher hands its own command-line arguments on\n"
    "                       to the exe (the property \"" PAYLOAD_PASS_ARGUMENTS_KEY "\"); without it\n"
    "                       the exe gets none\n"
    "  --quiet-switch SWITCH  one more switch (besides msiexec's /q, /qn, /qb,\n"
    "                       /quiet, /passive) that, among the arguments handed on,\n"
    "                       makes the launcher's failures write to standard error\n"
    "                       instead of showing a box; compared ignoring case; needs\n"
    "                       --pass-arguments (the property \"" PAYLOAD_QUIET_SWITCHES_KEY "\")\n"
    "  --progress TEXT      when extraction takes longer than half a second, the\n"
    "                       launcher shows a small window with TEXT and a progress\n"
    "                       bar until it ends (never when quiet; the property\n"
    "                       \"" PAYLOAD_PROGRESS_KEY "\")\n"
    COMPRESSION_OPTIONS_USAGE
    IDENTITY_USAGE
    "\n"
    "A bundle holds both an msi and an exe, each as an entry and a name.\n"
    "Entries stand in the order msi, exe, then --file in the order given;\n"
    "properties in the order msi, exe, " PAYLOAD_PASS_ARGUMENTS_KEY ", " PAYLOAD_QUIET_SWITCHES_KEY ",\n"
    PAYLOAD_PROGRESS_KEY ", then --property.  The\n"
    "msi and exe names must be plain Windows file names (no folder, no reserved\n"
    "device name such as CON or NUL, at most 960 UTF-16 code units) that differ\n"
    "when case is ignored, and the bundle must stay below 2 GiB.  The launcher\n"
    "ends with the exit code of the exe.\n";

// The value of an option that takes one: the next argument.
bool TakeValue(int argc, char **argv, int *i, const char *option, std::string *value) {
  if (*i + 1 >= argc) {
    PrintError(TOOL_MSG_NEEDS_VALUE, option, argv[0]);
    return false;
  }
  *value = argv[++*i];
  return true;
}

bool SplitPair(const std::string &text, const char *option, std::string *left,
               std::string *right) {
  size_t equals = text.find('=');
  if (equals == std::string::npos) {
    PrintError(TOOL_MSG_EXPECTED_PAIR, option, text.c_str(),
               strcmp(option, "--file") == 0 ? TOOL_MSG_NAME_PATH : TOOL_MSG_KEY_VALUE);
    return false;
  }
  *left = text.substr(0, equals);
  *right = text.substr(equals + 1);
  return true;
}

// The file name that an --msi or --exe file is stored under; refused when the
// launcher could not write it as it stands.
bool LauncherFileName(const std::string &path, std::string *name) {
  *name = PathFileName(path);
  std::string reason;
  if (!IsPlainWindowsFileName(*name, &reason)) {
    PrintError(TOOL_MSG_FILE_NAME_NOT_PLAIN, path.c_str(), name->c_str(), reason.c_str());
    return false;
  }
  return true;
}

// A --file entry: under files/ the rest must be a plain file name, since the
// launcher writes it into its folder under that name; other names than msi
// and exe are packed, with a warning that the launcher leaves them alone.
bool CheckExtraFileName(const std::string &name, const std::string &path) {
  if (name.compare(0, strlen(PAYLOAD_FILES_PREFIX), PAYLOAD_FILES_PREFIX) == 0) {
    std::string rest = name.substr(strlen(PAYLOAD_FILES_PREFIX)), reason;
    if (!IsPlainWindowsFileName(rest, &reason)) {
      PrintError(TOOL_MSG_EXTRA_NAME_NOT_PLAIN, path.c_str(), name.c_str(), reason.c_str());
      return false;
    }
  } else if (name != PAYLOAD_MSI_KEY && name != PAYLOAD_EXE_KEY) {
    PrintError(TOOL_MSG_WARNING_NOT_EXTRACTED, path.c_str(), name.c_str(), PAYLOAD_FILES_PREFIX,
               PathFileName(path).c_str());
  }
  return true;
}

// Without --exe, the ready bootstrap: it finds the msi by its extension
// beside itself, so the msi must end in .msi and be the only one.
bool CheckBootstrapInputs(const std::string &msi, const std::string &msiName,
                          const std::vector<std::pair<std::string, std::string>> &files) {
  if (!HasExtension(msiName, ".msi")) {
    PrintError(TOOL_MSG_BOOTSTRAP_NEEDS_MSI_NAME, msi.c_str());
    return false;
  }
  for (const auto &file : files) {
    if (file.first.compare(0, strlen(PAYLOAD_FILES_PREFIX), PAYLOAD_FILES_PREFIX) == 0 &&
        HasExtension(file.first, ".msi")) {
      PrintError(TOOL_MSG_BOOTSTRAP_SECOND_MSI, file.second.c_str());
      return false;
    }
  }
  return true;
}

// The output must not be one of the inputs: it would be replaced while it is
// still to be read, or (the stub) by a copy of itself.
bool OutputIsNoInput(const std::string &out, const std::vector<std::string> &inputs) {
  for (const std::string &input : inputs) {
    if (!input.empty() && SameFile(out, input)) {
      PrintError(TOOL_MSG_OUTPUT_IS_INPUT, out.c_str(), input.c_str());
      return false;
    }
  }
  return true;
}

// The launcher stops with "No msi filename" or "No exe filename" unless the
// bundle holds both names, and fails to extract unless it holds both entries:
// an installer bundle is refused without any of the four.
bool CheckBundleComplete(const std::string &out, bool entries[2], bool names[2]) {
  const char *keys[2] = {PAYLOAD_MSI_KEY, PAYLOAD_EXE_KEY};
  for (int i = 0; i < 2; i++) {
    char reason[160];
    if (!entries[i] && !names[i])
      snprintf(reason, sizeof reason, TOOL_MSG_NO_INPUT_FORMAT, keys[i], keys[i], i == 1 ? TOOL_MSG_OR_BOOTSTRAP : "");
    else if (!entries[i])
      snprintf(reason, sizeof reason, TOOL_MSG_NAME_WITHOUT_ENTRY_FORMAT, keys[i], keys[i]);
    else if (!names[i])
      snprintf(reason, sizeof reason, TOOL_MSG_ENTRY_WITHOUT_NAME_FORMAT, keys[i], keys[i]);
    else
      continue;
    PrintError("%s: %s: %s", out.c_str(), TOOL_MSG_INCOMPLETE_BUNDLE, reason);
    return false;
  }
  return true;
}

// Adds the file at `path` as the entry `name`: checked now, read only while
// the bundle is written.  *empty: whether it is a regular file of no bytes.
bool AddFile(BundleContents *contents, const std::string &name, const std::string &path,
             bool *empty = nullptr, bool *isRegular = nullptr) {
  for (const BundleFile &file : contents->files) {
    if (file.name == name) {
      PrintError(TOOL_MSG_ENTRY_TWICE, path.c_str(), name.c_str());
      return false;
    }
  }
  std::string error;
  uint64_t size = 0;
  bool regular = false;
  if (!CheckInputFile(path, &size, &error, &regular)) {
    PrintError("%s", error.c_str());
    return false;
  }
  if (empty) *empty = regular && size == 0;
  if (isRegular) *isRegular = regular;
  BundleFile file;
  file.name = name;
  file.path = path;
  contents->files.push_back(std::move(file));
  return true;
}

// The exe must be something the launcher can start: not empty, a file rather
// than a device or a pipe, and a program (pe_image's WhyNoProgram) under the
// name it is written as.  False after saying why.
bool CheckExeInput(const std::string &path, const std::string &name, bool empty, bool regular) {
  if (empty) {
    PrintError(TOOL_MSG_EXE_FILE_EMPTY, path.c_str());
    return false;
  }
  if (!regular) {
    PrintError(TOOL_MSG_EXE_NOT_A_FILE, path.c_str());
    return false;
  }
  FILE *file = OpenFileForReading(path);
  if (!file) {
    PrintError(TOOL_MSG_CANNOT_OPEN, path.c_str(), ErrnoText(errno).c_str());
    return false;
  }
  std::vector<unsigned char> start(PE_PROGRAM_START_SIZE);
  start.resize(fread(start.data(), 1, start.size(), file));
  bool failed = ferror(file) != 0;
  fclose(file);
  if (failed) {
    PrintError(TOOL_MSG_FILE_READ_FAILED, path.c_str());
    return false;
  }
  if (const char *why = WhyNoProgram(name, start.data(), start.size())) {
    PrintError(TOOL_MSG_EXE_NOT_A_PROGRAM, path.c_str(), why);
    return false;
  }
  return true;
}

// A switch that the launcher can find among its arguments: one word of
// printable ASCII, as its comparison takes it.
bool IsOneWordSwitch(const std::string &word) {
  if (word.empty() || word.size() > QUIET_SWITCH_LIMIT) return false;
  for (char c : word)
    if (c <= ' ' || c > '~' || c == '"') return false;
  return true;
}

}  // namespace

int PackCommand(int argc, char **argv) {
  std::string stub, out, msi, exe, quietSwitches, progress;
  std::vector<std::pair<std::string, std::string>> files, properties;
  bool passArguments = false, progressGiven = false;
  BundleWriteOptions writeOptions;
  writeOptions.progress = true;
  BundleIdentity identity;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i], value, left, right, refusal;
    int taken = TakeIdentityOption(argc, argv, &i, &identity, &refusal);
    if (taken < 0) {
      PrintError("%s", refusal.c_str());
      return EXIT_USAGE;
    }
    if (taken > 0) continue;
    if (arg == "--help" || arg == "-h") {
      fputs(kPackUsage, stdout);
      return EXIT_OK;
    } else if (arg == "--stub") {
      if (!TakeValue(argc, argv, &i, "--stub", &stub)) return EXIT_USAGE;
    } else if (arg == "-o" || arg == "--output") {
      if (!TakeValue(argc, argv, &i, "-o", &out)) return EXIT_USAGE;
    } else if (arg == "--msi" || arg == "--exe") {
      std::string &given = arg == "--msi" ? msi : exe;
      if (!given.empty()) {
        PrintError(TOOL_MSG_OPTION_TWICE, arg.c_str(), arg.c_str() + 2);
        return EXIT_USAGE;
      }
      if (!TakeValue(argc, argv, &i, arg.c_str(), &given)) return EXIT_USAGE;
    } else if (arg == "--pass-arguments") {
      passArguments = true;
    } else if (arg == "--quiet-switch") {
      if (!TakeValue(argc, argv, &i, "--quiet-switch", &value)) return EXIT_USAGE;
      if (!IsOneWordSwitch(value)) {
        PrintError(TOOL_MSG_QUIET_SWITCH_NOT_ONE_WORD, value.c_str(), QUIET_SWITCH_LIMIT);
        return EXIT_USAGE;
      }
      quietSwitches += (quietSwitches.empty() ? "" : " ") + value;
    } else if (arg == "--progress") {
      if (progressGiven) {
        PrintError(TOOL_MSG_OPTION_TWICE, "--progress", "progress text");
        return EXIT_USAGE;
      }
      if (!TakeValue(argc, argv, &i, "--progress", &progress)) return EXIT_USAGE;
      if (progress.empty() || progress.size() > PROGRESS_TEXT_LIMIT) {
        PrintError(TOOL_MSG_PROGRESS_TEXT, PROGRESS_TEXT_LIMIT);
        return EXIT_USAGE;
      }
      progressGiven = true;
    } else if (arg == "--file" || arg == "--property") {
      if (!TakeValue(argc, argv, &i, arg.c_str(), &value)) return EXIT_USAGE;
      if (!SplitPair(value, arg.c_str(), &left, &right)) return EXIT_USAGE;
      if (left.empty() && arg == "--file") {
        PrintError(TOOL_MSG_EMPTY_ENTRY_NAME, value.c_str());
        return EXIT_USAGE;
      }
      (arg == "--file" ? files : properties).push_back({left, right});
    } else if (int taken = TakeCompressionOption(argc, argv, &i, "pack", &writeOptions)) {
      if (taken < 0) return EXIT_USAGE;
    } else {
      PrintError(TOOL_MSG_PACK_UNKNOWN_ARGUMENT, arg.c_str());
      return EXIT_USAGE;
    }
  }
  if (out.empty() || (stub.empty() && msi.empty() && exe.empty() && files.empty() &&
                      properties.empty())) {
    PrintError(TOOL_MSG_PACK_NEEDS);
    return EXIT_USAGE;
  }
  std::string error;
  if (stub.empty() && !FindDefaultStub(STUB_LAUNCHER, &stub, &error)) {
    PrintError(TOOL_MSG_FOR_STUB, error.c_str());
    return EXIT_FAILED;
  }
  if (!CheckStubKind(stub, StubKind::InstallerLauncher, &error)) {
    PrintError("%s", error.c_str());
    return EXIT_FAILED;
  }
  for (const auto &file : files)
    if (!CheckExtraFileName(file.first, file.second)) return EXIT_FAILED;
  std::vector<std::string> inputs = {stub, msi, exe};
  for (const auto &file : files) inputs.push_back(file.second);
  if (!OutputIsNoInput(out, inputs)) return EXIT_FAILED;

  // Names first, then whether the bundle is whole, and only then are the
  // inputs read.
  BundleContents contents;
  contents.identity = identity;
  std::string msiName, exeName;
  if (!msi.empty() && !LauncherFileName(msi, &msiName)) return EXIT_FAILED;
  // Without an exe of the packager's own, an msi gets the ready bootstrap.
  bool exeGiven = !exe.empty();
  for (const auto &file : files) exeGiven = exeGiven || file.first == PAYLOAD_EXE_KEY;
  bool bootstrap = !msi.empty() && !exeGiven;
  if (bootstrap && !CheckBootstrapInputs(msi, msiName, files)) return EXIT_FAILED;
  if (bootstrap) {
    if (!FindBootstrapFor(stub, &exe, &error)) {
      PrintError("%s", error.c_str());
      return EXIT_FAILED;
    }
    passArguments = true;
  }
  if (!quietSwitches.empty() && !passArguments) {
    PrintError(TOOL_MSG_QUIET_SWITCH_NOT_PASSED);
    return EXIT_USAGE;
  }
  if (!exe.empty() && !LauncherFileName(exe, &exeName)) return EXIT_FAILED;
  if (!msi.empty() && !exe.empty() && SameFileNameIgnoringCase(msiName, exeName)) {
    PrintError(TOOL_MSG_MSI_EXE_SAME_FILE_NAME, msi.c_str(), exe.c_str(), msiName.c_str(),
               exeName.c_str());
    return EXIT_FAILED;
  }
  bool entries[2] = {!msi.empty(), !exe.empty()}, names[2] = {!msi.empty(), !exe.empty()};
  for (const auto &file : files) {
    entries[0] = entries[0] || file.first == PAYLOAD_MSI_KEY;
    entries[1] = entries[1] || file.first == PAYLOAD_EXE_KEY;
  }
  for (const auto &property : properties) {
    names[0] = names[0] || property.first == PAYLOAD_MSI_KEY;
    names[1] = names[1] || property.first == PAYLOAD_EXE_KEY;
  }
  if (!CheckBundleComplete(out, entries, names)) return EXIT_FAILED;
  // A property that pack writes itself would silently take the place of the
  // option's value (the launcher reads the last one).
  for (const auto &property : properties) {
    const char *option = property.first == PAYLOAD_MSI_KEY && !msi.empty()   ? "--msi"
                         : property.first == PAYLOAD_EXE_KEY && !exe.empty() ? (bootstrap ? "--msi (the ready bootstrap)" : "--exe")
                         : property.first == PAYLOAD_PASS_ARGUMENTS_KEY && passArguments
                             ? (bootstrap ? "--msi (the ready bootstrap)" : "--pass-arguments")
                         : property.first == PAYLOAD_QUIET_SWITCHES_KEY && !quietSwitches.empty() ? "--quiet-switch"
                         : property.first == PAYLOAD_PROGRESS_KEY && progressGiven ? "--progress"
                                                                                  : nullptr;
    if (option) {
      PrintError(TOOL_MSG_PROPERTY_WRITTEN_BY_PACK, property.first.c_str(), option);
      return EXIT_USAGE;
    }
  }
  // The names the launcher writes the msi and the exe under.
  std::string finalMsi = msiName, finalExe = exeName;
  for (const auto &property : properties) {
    if (property.first == PAYLOAD_MSI_KEY) finalMsi = property.second;
    if (property.first == PAYLOAD_EXE_KEY) finalExe = property.second;
  }
  // Every file the launcher writes goes into one folder, whose file system
  // ignores case: no two of their names may be one file there.
  {
    std::vector<std::string> written = {finalMsi, finalExe};
    for (const auto &file : files)
      if (file.first.compare(0, strlen(PAYLOAD_FILES_PREFIX), PAYLOAD_FILES_PREFIX) == 0)
        written.push_back(file.first.substr(strlen(PAYLOAD_FILES_PREFIX)));
    size_t first, second;
    if (FindCollidingNames(written, &first, &second)) {
      PrintError("%s: " TOOL_MSG_NAMES_COLLIDE, out.c_str(), written[first].c_str(),
                 written[second].c_str());
      return EXIT_FAILED;
    }
  }

  if (!msi.empty()) {
    if (!AddFile(&contents, PAYLOAD_MSI_KEY, msi)) return EXIT_FAILED;
    contents.properties.push_back({PAYLOAD_MSI_KEY, msiName});
  }
  if (!exe.empty()) {
    bool empty = false, regular = true;
    if (!AddFile(&contents, PAYLOAD_EXE_KEY, exe, &empty, &regular)) return EXIT_FAILED;
    if (!CheckExeInput(exe, exeName, empty, regular)) return EXIT_FAILED;
    contents.properties.push_back({PAYLOAD_EXE_KEY, exeName});
  }
  if (passArguments) contents.properties.push_back({PAYLOAD_PASS_ARGUMENTS_KEY, "1"});
  if (!quietSwitches.empty()) contents.properties.push_back({PAYLOAD_QUIET_SWITCHES_KEY, quietSwitches});
  if (progressGiven) contents.properties.push_back({PAYLOAD_PROGRESS_KEY, progress});
  for (const auto &file : files) {
    bool empty = false, regular = true;
    if (!AddFile(&contents, file.first, file.second, &empty, &regular)) return EXIT_FAILED;
    // The entry the launcher starts must hold a program.
    if (file.first == PAYLOAD_EXE_KEY && !CheckExeInput(file.second, finalExe, empty, regular))
      return EXIT_FAILED;
  }
  for (const auto &property : properties) contents.properties.push_back({property.first, property.second});

  if (!WriteBundle(stub, out, contents, writeOptions, &error)) {
    PrintError("%s", error.c_str());
    return EXIT_FAILED;
  }
  return EXIT_OK;
}
