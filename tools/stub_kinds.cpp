// Telling the kind of a stub from its bytes (the rule is in stub_kinds.h).
#include "stub_kinds.h"

#include <errno.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <vector>

#include "javahost/javahost_messages.h"
#include "launcher/launcher_messages.h"
#include "payload.h"
#include "payload_messages.h"
#include "pe_image.h"
#include "shown_text.h"
#include "tool_files.h"
#include "tool_messages.h"

namespace {

// The texts that tell the kinds, each with its NUL: they stand in the
// programs as C strings.
const char kReaderText[] = PAYLOAD_MSG_NO_HEADER;
const char kLauncherMsiText[] = MSG_NO_MSI_NAME;
const char kLauncherExeText[] = MSG_NO_EXE_NAME;
const char kJavaText[] = JAVA_MSG_REPORT_FORMAT;
const char kBootstrapText[] = MSG_NO_MSI;

enum Needle { kReader, kLauncherMsi, kLauncherExe, kJava, kBootstrap, kNeedleCount };

enum class Format { Empty, Text, Elf, Pe, Other };

// What the bytes of a stub show.
struct StubFacts {
  Format format = Format::Other;
  bool signedImage = false;    // PE: a non-empty certificate table
  uint64_t searchEnd = 0;      // the bytes that the texts are looked for in
  bool found[kNeedleCount] = {};
};

bool LooksLikeText(const unsigned char *bytes, size_t size) {
  for (size_t i = 0; i < size; i++) {
    unsigned char c = bytes[i];
    if (c < 0x20 && c != '\t' && c != '\n' && c != '\r' && c != '\f') return false;
    if (c == 0x7f) return false;
  }
  return true;
}

// Looks for every needle in the first facts->searchEnd bytes, a block at a
// time with an overlap that keeps a text across two blocks whole.
bool FindTexts(FILE *file, StubFacts *facts) {
  const std::string needles[kNeedleCount] = {
      std::string(kReaderText, sizeof kReaderText),
      std::string(kLauncherMsiText, sizeof kLauncherMsiText),
      std::string(kLauncherExeText, sizeof kLauncherExeText),
      std::string(kJavaText, sizeof kJavaText),
      std::string(kBootstrapText, sizeof kBootstrapText)};
  size_t overlap = 0;
  for (const std::string &needle : needles) overlap = needle.size() > overlap ? needle.size() : overlap;
  if (!SeekFile(file, 0)) return false;
  std::string window;
  std::vector<char> block(1 << 16);
  for (uint64_t done = 0; done < facts->searchEnd;) {
    uint64_t left = facts->searchEnd - done;
    size_t want = left < block.size() ? (size_t)left : block.size();
    if (fread(block.data(), 1, want, file) != want) return false;
    done += want;
    window.append(block.data(), want);
    for (int i = 0; i < kNeedleCount; i++)
      if (!facts->found[i] && window.find(needles[i]) != std::string::npos) facts->found[i] = true;
    if (window.size() > overlap) window.erase(0, window.size() - overlap);
  }
  return true;
}

// Reads what CheckStubKind decides on.  False with *error when the file
// cannot be read.
bool ReadStubFacts(const std::string &path, StubFacts *facts, std::string *error) {
  uint64_t size = 0;
  if (!CheckInputFile(path, &size, error)) return false;
  FILE *file = OpenFileForReading(path);
  if (file == nullptr) {
    *error = MessageText(TOOL_MSG_CANNOT_OPEN, path.c_str(), ErrnoText(errno).c_str());
    return false;
  }
  unsigned char head[4096];
  size_t got = fread(head, 1, sizeof head, file);
  PeImage image;
  bool ok = !ferror(file);
  facts->searchEnd = size;
  if (ok && got == 0) {
    facts->format = Format::Empty;
  } else if (ok && got >= 64 && head[0] == 'M' && head[1] == 'Z' &&
             ReadPeImage(file, size, &image)) {
    // Only the sections' bytes are searched.
    facts->format = Format::Pe;
    facts->signedImage = PeImageIsSigned(image);
    facts->searchEnd = image.sectionsEnd;
  } else if (ok && got >= 4 && memcmp(head, "\x7f" "ELF", 4) == 0) {
    facts->format = Format::Elf;
  } else if (ok && LooksLikeText(head, got)) {
    facts->format = Format::Text;
  }
  if (ok && (facts->format == Format::Pe || facts->format == Format::Elf))
    ok = FindTexts(file, facts);
  int readError = errno;
  fclose(file);
  if (!ok) {
    *error = MessageText(TOOL_MSG_AT_FILE, path.c_str(), (TOOL_MSG_STUB_CANNOT_READ + ErrnoText(readError)).c_str());
    return false;
  }
  return true;
}

}  // namespace

bool CheckStubKind(const std::string &path, StubKind wanted, std::string *error,
                   bool bundle) {
  StubFacts facts;
  if (!ReadStubFacts(path, &facts, error)) return false;
  if (bundle) facts.signedImage = false;
  bool reader = facts.found[kReader];
  bool launcher = reader && facts.found[kLauncherMsi] && facts.found[kLauncherExe];
  bool java = reader && facts.found[kJava];
  bool launcherOnly = launcher && !java, javaOnly = java && !launcher;

  const char *is = nullptr;
  bool needClause = true;  // a signed stub is of the right kind already
  switch (facts.format) {
    case Format::Empty: is = TOOL_MSG_STUB_IS_EMPTY; break;
    case Format::Text: is = TOOL_MSG_STUB_IS_TEXT; break;
    case Format::Other: is = TOOL_MSG_STUB_IS_UNKNOWN; break;
    case Format::Elf:
      // Linux has a Java front end, and no installer launcher.
      if (wanted == StubKind::InstallerLauncher) is = TOOL_MSG_STUB_IS_ELF;
      else if (!javaOnly) is = TOOL_MSG_STUB_IS_ELF_NOT_JAVA;
      break;
    case Format::Pe:
      if (launcherOnly && wanted == StubKind::JavaFrontEnd) is = TOOL_MSG_STUB_IS_LAUNCHER;
      else if (javaOnly && wanted == StubKind::InstallerLauncher) is = TOOL_MSG_STUB_IS_JAVA_FRONT_END;
      else if (!reader && facts.found[kBootstrap]) is = TOOL_MSG_STUB_IS_BOOTSTRAP;
      else if (!reader) is = TOOL_MSG_STUB_IS_PLAIN_PE;
      else if (!launcherOnly && !javaOnly) is = TOOL_MSG_STUB_IS_OTHER_READER;
      else if (facts.signedImage) {
        is = TOOL_MSG_STUB_IS_SIGNED;
        needClause = false;
      }
      break;
  }
  if (is == nullptr) return true;
  const char *need = !needClause ? ""
                     : wanted == StubKind::InstallerLauncher
                         ? (bundle ? TOOL_MSG_FRONT_NEED_LAUNCHER : TOOL_MSG_STUB_NEED_LAUNCHER)
                         : (bundle ? TOOL_MSG_FRONT_NEED_JAVA_FRONT_END : TOOL_MSG_STUB_NEED_JAVA_FRONT_END);
  *error = MessageText(bundle ? TOOL_MSG_FRONT_REFUSED : TOOL_MSG_STUB_REFUSED, path.c_str(), is,
                       needClause ? "; " : "", need);
  return false;
}

bool IsReadyBootstrap(const unsigned char *start, size_t size) {
  std::string bytes((const char *)start, size);
  return bytes.find(std::string(kBootstrapText, sizeof kBootstrapText)) != std::string::npos &&
         bytes.find(std::string(kReaderText, sizeof kReaderText)) == std::string::npos;
}
