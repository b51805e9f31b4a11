// Checking the signatures of signed jars, as the JDK checks them when it
// reads such a jar from a class path: the signature block
// (META-INF/NAME.RSA, .DSA or .EC: PKCS #7 signed data) must sign its
// signature file (META-INF/NAME.SF); the signature file's digests must match
// the manifest (whole, or section by section); and every entry that the
// manifest lists with a digest must have that digest, each entry read once
// for all its digests.  The cryptography is jar_crypto's (OpenSSL, or the
// system's CNG and CryptoAPI on Windows).  The certificates are not checked
// against any trust anchor, as the JDK does not either when it runs a jar.
#include "jar_signature.h"

#include <ctype.h>
#include <stdint.h>
#include <string.h>

#include "jar_crypto.h"
#include "jar_manifest.h"
#include "shown_text.h"
#include "tool_messages.h"

namespace {

struct ManifestSection {
  size_t begin = 0, end = 0;                   // raw bytes, the blank line that ends it included
  std::vector<std::pair<std::string, std::string>> attributes;  // names in lower case
};

std::string Lower(std::string text) {
  for (char &c : text) c = (char)tolower((unsigned char)c);
  return text;
}

// The sections of a manifest or signature file: lines end with CR LF, LF or
// CR; a line that starts with a space continues the one before; an empty
// line ends a section.
std::vector<ManifestSection> ParseSections(const std::vector<unsigned char> &text) {
  std::vector<ManifestSection> sections;
  ManifestSection current;
  std::string line;
  bool inSection = false;
  size_t i = 0;
  auto finishLine = [&]() {
    if (line[0] == ' ' && !current.attributes.empty()) {
      current.attributes.back().second += line.substr(1);
    } else {
      size_t colon = line.find(':');
      if (colon != std::string::npos) {
        std::string value = line.substr(colon + 1);
        if (!value.empty() && value[0] == ' ') value.erase(0, 1);
        current.attributes.push_back({Lower(line.substr(0, colon)), value});
      }
    }
  };
  while (i < text.size()) {
    size_t start = i;
    while (i < text.size() && text[i] != '\r' && text[i] != '\n') i++;
    line.assign(text.begin() + start, text.begin() + i);
    if (i < text.size() && text[i] == '\r') {
      i++;
      if (i < text.size() && text[i] == '\n') i++;
    } else if (i < text.size()) {
      i++;
    }
    if (line.empty()) {
      if (inSection) {
        current.end = i;
        sections.push_back(current);
        current = ManifestSection();
        inSection = false;
      }
      continue;
    }
    if (!inSection) {
      current.begin = start;
      inSection = true;
    }
    finishLine();
  }
  if (inSection) {
    current.end = text.size();
    sections.push_back(current);
  }
  return sections;
}

const std::string *Attribute(const ManifestSection &section, const std::string &name) {
  for (const auto &attribute : section.attributes)
    if (attribute.first == name) return &attribute.second;
  return nullptr;
}

// Base64 with padding (RFC 4648): how manifests state digests.
std::string Base64(const std::vector<unsigned char> &bytes) {
  static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text;
  for (size_t i = 0; i < bytes.size(); i += 3) {
    uint32_t group = (uint32_t)bytes[i] << 16;
    if (i + 1 < bytes.size()) group |= (uint32_t)bytes[i + 1] << 8;
    if (i + 2 < bytes.size()) group |= bytes[i + 2];
    text += kDigits[group >> 18];
    text += kDigits[(group >> 12) & 63];
    text += i + 1 < bytes.size() ? kDigits[(group >> 6) & 63] : '=';
    text += i + 2 < bytes.size() ? kDigits[group & 63] : '=';
  }
  return text;
}

// ---- the digests that a section states ----

struct StatedDigest {
  JarDigest *digest;
  const std::string *expected;  // base64
};

// Every "ALG-Digest" (suffix "-digest") attribute of a section whose
// algorithm is known, its digest started.
std::vector<StatedDigest> StartStatedDigests(const ManifestSection &section,
                                             const std::string &suffix) {
  std::vector<StatedDigest> digests;
  for (const auto &attribute : section.attributes) {
    const std::string &name = attribute.first;
    if (name.size() <= suffix.size() || name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
      continue;
    // The algorithm as the crypto layer names it: upper case without dashes
    // ("SHA-256" and "sha256" are "SHA256"), and "SHA" is SHA-1.
    std::string algorithm;
    for (char c : name.substr(0, name.size() - suffix.size()))
      if (c != '-') algorithm += (char)toupper((unsigned char)c);
    if (algorithm == "SHA") algorithm = "SHA1";
    JarDigest *digest = StartJarDigest(algorithm);
    if (digest) digests.push_back({digest, &attribute.second});
  }
  return digests;
}

void FeedStatedDigests(const std::vector<StatedDigest> &digests, const unsigned char *data,
                       size_t size) {
  for (const StatedDigest &stated : digests) UpdateJarDigest(stated.digest, data, size);
}

// Finishes them all: true when each is as stated.
bool StatedDigestsMatch(const std::vector<StatedDigest> &digests) {
  bool match = true;
  for (const StatedDigest &stated : digests)
    if (Base64(FinishJarDigest(stated.digest)) != *stated.expected) match = false;
  return match;
}

// The section's digests match the bytes.  `any` tells whether the section
// has one the check knows.
bool DigestsMatch(const ManifestSection &section, const std::string &suffix, const unsigned char *data,
                  size_t size, bool *any) {
  std::vector<StatedDigest> digests = StartStatedDigests(section, suffix);
  *any = !digests.empty();
  FeedStatedDigests(digests, data, size);
  return StatedDigestsMatch(digests);
}

// The section's digests of an entry, in memory or read from the archive in
// one pass.  -1 when it cannot be read (*error set), 0 when a digest differs,
// 1 when all match.
int EntryDigestsMatch(const ManifestSection &section, JarArchive *archive,
                      const JarEntryBytes &entry, std::string *error) {
  bool any;
  if (entry.content)
    return DigestsMatch(section, "-digest", entry.content->data(), entry.content->size(), &any);
  std::vector<StatedDigest> digests = StartStatedDigests(section, "-digest");
  if (digests.empty()) return 1;
  JarEntryStream *stream = OpenJarEntry(archive, entry.index, error);
  std::vector<unsigned char> buffer(stream ? 1 << 16 : 0);
  int64_t n = stream ? 1 : -1;
  while (n > 0) {
    n = ReadJarEntry(stream, buffer.data(), buffer.size(), error);
    if (n > 0) FeedStatedDigests(digests, buffer.data(), (size_t)n);
  }
  CloseJarEntry(stream);
  bool match = StatedDigestsMatch(digests);
  return n < 0 ? -1 : match ? 1 : 0;
}

bool IsSignatureName(const std::string &name, std::string *base, std::string *extension) {
  const std::string prefix = "META-INF/";
  if (name.compare(0, prefix.size(), prefix) != 0) return false;
  std::string rest = name.substr(prefix.size());
  size_t dot = rest.rfind('.');
  if (rest.find('/') != std::string::npos || dot == std::string::npos) return false;
  *base = rest.substr(0, dot);
  *extension = Lower(rest.substr(dot + 1));
  return true;
}

}  // namespace

bool IsReadForSignatureCheck(const std::string &name) {
  std::string base, extension;
  return name == JAR_MANIFEST_NAME ||
         (IsSignatureName(name, &base, &extension) &&
          (extension == "sf" || extension == "rsa" || extension == "dsa" || extension == "ec"));
}

bool IsSignatureFileName(const std::string &name) {
  std::string base, extension;
  return IsSignatureName(name, &base, &extension) && extension == "sf";
}

bool CheckJarSignatures(const std::string &jar, JarArchive *archive, const JarEntries &entries,
                        std::string *blockName, std::string *error) {
  blockName->clear();
  // The manifest, signature files and blocks, in memory.
  auto find = [&](const std::string &name) -> const std::vector<unsigned char> * {
    auto found = entries.find(name);
    return found == entries.end() ? nullptr : found->second.content;
  };
  const std::vector<unsigned char> *manifest = find(JAR_MANIFEST_NAME);
  for (const auto &entry : entries) {
    std::string base, extension;
    if (!IsSignatureName(entry.first, &base, &extension) || extension != "sf" || !entry.second.content)
      continue;
    const std::vector<unsigned char> *block = nullptr;
    std::string blockEntry;
    for (const char *kind : {"RSA", "DSA", "EC"}) {
      blockEntry = "META-INF/" + base + "." + kind;
      if ((block = find(blockEntry))) break;
    }
    if (!block) continue;  // a signature file without its block signs nothing
    if (!manifest) {
      *error = MessageText(TOOL_MSG_SIGNED_WITHOUT_MANIFEST, jar.c_str(), entry.first.c_str());
      return false;
    }
    unsigned long systemError = 0;
    JarSignatureVerdict verdict = CheckSignatureBlock(*block, *entry.second.content, &systemError);
    if (verdict == JAR_SIGNATURE_BROKEN) {
      *error = MessageText(TOOL_MSG_SIGNATURE_BROKEN, jar.c_str(), entry.first.c_str(),
                           blockEntry.c_str());
      return false;
    }
    if (verdict == JAR_SIGNATURE_UNCHECKABLE) {
      *error = MessageText(TOOL_MSG_SIGNATURE_UNCHECKABLE, jar.c_str(), entry.first.c_str(),
                           blockEntry.c_str(), systemError);
      return false;
    }
    std::vector<ManifestSection> signature = ParseSections(*entry.second.content);
    std::vector<ManifestSection> sections = ParseSections(*manifest);
    bool any = false;
    bool whole = !signature.empty() &&
                 DigestsMatch(signature[0], "-digest-manifest", manifest->data(), manifest->size(), &any) && any;
    if (!whole) {
      // Section by section: each that the signature file names must match.
      for (size_t s = 1; s < signature.size(); s++) {
        const std::string *name = Attribute(signature[s], "name");
        if (!name) continue;
        const ManifestSection *match = nullptr;
        for (size_t m = 1; m < sections.size() && !match; m++) {
          const std::string *manifestName = Attribute(sections[m], "name");
          if (manifestName && *manifestName == *name) match = &sections[m];
        }
        bool known;
        if (!match || !DigestsMatch(signature[s], "-digest", manifest->data() + match->begin,
                                    match->end - match->begin, &known)) {
          *error = MessageText(TOOL_MSG_SECTION_NOT_SIGNED, jar.c_str(), entry.first.c_str(),
                               name->c_str());
          return false;
        }
      }
    }
    *blockName = blockEntry;
  }
  if (blockName->empty()) return true;
  // Every entry that the manifest lists with a digest.
  std::vector<ManifestSection> sections = ParseSections(*manifest);
  for (size_t m = 1; m < sections.size(); m++) {
    const std::string *name = Attribute(sections[m], "name");
    auto entry = name ? entries.find(*name) : entries.end();
    if (entry == entries.end()) continue;
    int match = EntryDigestsMatch(sections[m], archive, entry->second, error);
    if (match < 0) return false;
    if (match == 0) {
      *error = MessageText(TOOL_MSG_DIGEST_MISMATCH, jar.c_str(), name->c_str());
      return false;
    }
  }
  return true;
}
