// The icon, version block and manifest of a bundle (what each becomes is in
// bundle_identity.h).
#include "bundle_identity.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

#include "payload.h"
#include "shown_text.h"
#include "tool_files.h"
#include "tool_messages.h"

namespace {

const char *const kVersionKeys[] = {"ProductName",     "ProductVersion", "FileVersion",
                                    "CompanyName",     "FileDescription", "LegalCopyright",
                                    "OriginalFilename", "InternalName",   "Comments"};
const char *const kLevels[] = {"asInvoker", "highestAvailable", "requireAdministrator"};

// US English, and the Unicode code page of the string table: "040904B0".
const uint16_t kLanguage = 0x0409;
const uint16_t kCodePage = 1200;
const uint16_t kDefaultIconGroup = 100;
// Each version string, in UTF-16 units; the whole block must stay within the
// 16-bit lengths of its records.
const unsigned kVersionValueLimit = 1024;
const uint64_t kIconFileLimit = 16u << 20;

uint32_t Le(const std::vector<unsigned char> &b, size_t at, int size) {
  uint32_t value = 0;
  for (int i = size - 1; i >= 0; i--) value = (value << 8) | b[at + i];
  return value;
}
void Add16(std::vector<unsigned char> *b, uint32_t v) {
  b->push_back((unsigned char)v);
  b->push_back((unsigned char)(v >> 8));
}
void Add32(std::vector<unsigned char> *b, uint32_t v) {
  Add16(b, v & 0xffff);
  Add16(b, v >> 16);
}

// UTF-8 to UTF-16; false on ill-formed UTF-8.
bool Utf16(const std::string &text, std::u16string *out) {
  out->clear();
  const unsigned char *bytes = (const unsigned char *)text.data();
  for (size_t at = 0, used; at < text.size(); at += used) {
    uint32_t point = DecodeUtf8(bytes + at, text.size() - at, &used);
    if (point == UTF8_ILL_FORMED) return false;
    if (point >= 0x10000) {
      point -= 0x10000;
      out->push_back((char16_t)(0xD800 + (point >> 10)));
      out->push_back((char16_t)(0xDC00 + (point & 0x3ff)));
    } else {
      out->push_back((char16_t)point);
    }
  }
  return true;
}

// UTF-16 to UTF-8 for showing; an unpaired surrogate becomes U+FFFD.
std::string Utf8(const std::u16string &text) {
  std::string out;
  for (size_t i = 0; i < text.size(); i++) {
    uint32_t point = text[i];
    if (point >= 0xD800 && point < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] < 0xE000) {
      point = 0x10000 + ((point - 0xD800) << 10) + (text[++i] - 0xDC00);
    } else if (point >= 0xD800 && point < 0xE000) {
      point = 0xFFFD;
    }
    if (point < 0x80) {
      out += (char)point;
    } else if (point < 0x800) {
      out += (char)(0xC0 | point >> 6);
      out += (char)(0x80 | (point & 0x3f));
    } else if (point < 0x10000) {
      out += (char)(0xE0 | point >> 12);
      out += (char)(0x80 | ((point >> 6) & 0x3f));
      out += (char)(0x80 | (point & 0x3f));
    } else {
      out += (char)(0xF0 | point >> 18);
      out += (char)(0x80 | ((point >> 12) & 0x3f));
      out += (char)(0x80 | ((point >> 6) & 0x3f));
      out += (char)(0x80 | (point & 0x3f));
    }
  }
  return out;
}

bool IsVersionKey(const std::string &key) {
  for (const char *known : kVersionKeys)
    if (key == known) return true;
  return false;
}

bool IsNumericVersionKey(const std::string &key) {
  return key == "FileVersion" || key == "ProductVersion";
}

// ---- the version block ----
//
// Every record of it: wLength (the record with its children), wValueLength,
// wType (1 text, 0 binary), the key in UTF-16 with its NUL, padding to 4,
// the value, then each child at the next multiple of 4.

void Pad4(std::vector<unsigned char> *b) {
  while (b->size() % 4) b->push_back(0);
}

std::vector<unsigned char> VersionRecord(const std::u16string &key, const std::vector<unsigned char> &value,
                                         uint32_t valueLength, bool text,
                                         const std::vector<std::vector<unsigned char>> &children) {
  std::vector<unsigned char> record;
  Add16(&record, 0);
  Add16(&record, valueLength);
  Add16(&record, text ? 1 : 0);
  for (char16_t unit : key) Add16(&record, unit);
  Add16(&record, 0);
  Pad4(&record);
  record.insert(record.end(), value.begin(), value.end());
  for (const std::vector<unsigned char> &child : children) {
    Pad4(&record);
    record.insert(record.end(), child.begin(), child.end());
  }
  record[0] = (unsigned char)record.size();
  record[1] = (unsigned char)(record.size() >> 8);
  return record;
}

std::vector<unsigned char> VersionBlock(const BundleIdentity &identity) {
  uint16_t file[4] = {0, 0, 0, 0}, product[4] = {0, 0, 0, 0};
  bool haveFile = false, haveProduct = false;
  std::vector<std::vector<unsigned char>> strings;
  for (const auto &pair : identity.versionInfo) {
    if (pair.first == "FileVersion") haveFile = ParseVersionNumbers(pair.second, file);
    if (pair.first == "ProductVersion") haveProduct = ParseVersionNumbers(pair.second, product);
    std::u16string key, value;
    Utf16(pair.first, &key);
    Utf16(pair.second, &value);
    std::vector<unsigned char> bytes;
    for (char16_t unit : value) Add16(&bytes, unit);
    Add16(&bytes, 0);
    strings.push_back(VersionRecord(key, bytes, (uint32_t)value.size() + 1, true, {}));
  }
  // One numeric version given stands for both.
  if (haveFile && !haveProduct) memcpy(product, file, sizeof file);
  if (haveProduct && !haveFile) memcpy(file, product, sizeof file);

  std::vector<unsigned char> fixed;
  Add32(&fixed, 0xFEEF04BD);  // signature
  Add32(&fixed, 0x00010000);  // structure version 1.0
  Add32(&fixed, (uint32_t)file[0] << 16 | file[1]);
  Add32(&fixed, (uint32_t)file[2] << 16 | file[3]);
  Add32(&fixed, (uint32_t)product[0] << 16 | product[1]);
  Add32(&fixed, (uint32_t)product[2] << 16 | product[3]);
  Add32(&fixed, 0x3F);        // flags mask: every flag is meaningful
  Add32(&fixed, 0);           // flags: a release build
  Add32(&fixed, 0x00040004);  // VOS_NT_WINDOWS32
  Add32(&fixed, 1);           // VFT_APP
  Add32(&fixed, 0);           // subtype
  Add32(&fixed, 0);           // date, most significant
  Add32(&fixed, 0);           // date, least significant

  char table[9];
  snprintf(table, sizeof table, "%04X%04X", kLanguage, kCodePage);
  std::u16string tableKey(table, table + 8);
  std::vector<unsigned char> stringTable = VersionRecord(tableKey, {}, 0, true, strings);
  std::vector<unsigned char> stringInfo = VersionRecord(u"StringFileInfo", {}, 0, true, {stringTable});
  std::vector<unsigned char> translation;
  Add16(&translation, kLanguage);
  Add16(&translation, kCodePage);
  std::vector<unsigned char> var = VersionRecord(u"Translation", translation, 4, false, {});
  std::vector<unsigned char> varInfo = VersionRecord(u"VarFileInfo", {}, 0, true, {var});
  return VersionRecord(u"VS_VERSION_INFO", fixed, (uint32_t)fixed.size(), false,
                       {stringInfo, varInfo});
}

// One record read back: its key, value and children's span.
struct VersionNode {
  std::u16string key;
  size_t valueAt = 0, valueSize = 0;  // the value's bytes
  bool text = false;
  size_t childrenAt = 0, end = 0;
};

bool ReadVersionNode(const std::vector<unsigned char> &b, size_t at, size_t limit,
                     VersionNode *node, std::string *problem) {
  if (at + 6 > limit) {
    *problem = "a record is cut short";
    return false;
  }
  size_t length = Le(b, at, 2), valueLength = Le(b, at + 2, 2);
  node->text = Le(b, at + 4, 2) == 1;
  if (length < 6 || at + length > limit) {
    *problem = "a record's length runs past its parent";
    return false;
  }
  node->end = at + length;
  node->key.clear();
  size_t p = at + 6;
  for (;; p += 2) {
    if (p + 2 > node->end) {
      *problem = "a key has no terminating NUL";
      return false;
    }
    char16_t unit = (char16_t)Le(b, p, 2);
    if (unit == 0) break;
    node->key.push_back(unit);
  }
  p = (p + 2 + 3) / 4 * 4;
  node->valueAt = p;
  node->valueSize = node->text ? 2 * valueLength : valueLength;
  if (p + node->valueSize > node->end) {
    if (node->valueSize) {
      *problem = "a value runs past its record";
      return false;
    }
  }
  node->childrenAt = (p + node->valueSize + 3) / 4 * 4;
  return true;
}

// Reads the version block: the fixed versions and the strings.
bool ReadVersionBlock(const std::vector<unsigned char> &b, IdentitySummary *summary,
                      std::string *problem) {
  VersionNode root;
  if (!ReadVersionNode(b, 0, b.size(), &root, problem)) return false;
  if (root.key != u"VS_VERSION_INFO") {
    *problem = "the block is not VS_VERSION_INFO";
    return false;
  }
  if (root.valueSize >= 52) {
    if (Le(b, root.valueAt, 4) != 0xFEEF04BD) {
      *problem = "the fixed file information has no signature";
      return false;
    }
    char text[64];
    uint32_t ms = Le(b, root.valueAt + 8, 4), ls = Le(b, root.valueAt + 12, 4);
    snprintf(text, sizeof text, "%u.%u.%u.%u", ms >> 16, ms & 0xffff, ls >> 16, ls & 0xffff);
    summary->fileVersion = text;
    ms = Le(b, root.valueAt + 16, 4);
    ls = Le(b, root.valueAt + 20, 4);
    snprintf(text, sizeof text, "%u.%u.%u.%u", ms >> 16, ms & 0xffff, ls >> 16, ls & 0xffff);
    summary->productVersion = text;
  }
  for (size_t at = root.childrenAt; at < root.end;) {
    VersionNode info;
    if (!ReadVersionNode(b, at, root.end, &info, problem)) return false;
    if (info.key == u"StringFileInfo") {
      for (size_t t = info.childrenAt; t < info.end;) {
        VersionNode table;
        if (!ReadVersionNode(b, t, info.end, &table, problem)) return false;
        for (size_t s = table.childrenAt; s < table.end;) {
          VersionNode string;
          if (!ReadVersionNode(b, s, table.end, &string, problem)) return false;
          std::u16string value;
          for (size_t v = 0; v + 1 < string.valueSize && string.valueAt + v + 2 <= string.end; v += 2) {
            char16_t unit = (char16_t)Le(b, string.valueAt + v, 2);
            if (unit == 0) break;
            value.push_back(unit);
          }
          summary->versionStrings.push_back({Utf8(string.key), Utf8(value)});
          s = (string.end + 3) / 4 * 4;
        }
        t = (table.end + 3) / 4 * 4;
      }
    }
    at = (info.end + 3) / 4 * 4;
  }
  return true;
}

// ---- the manifest ----

std::string Manifest(const BundleIdentity &identity) {
  std::string text =
      "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
      "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">\r\n"
      "  <trustInfo xmlns=\"urn:schemas-microsoft-com:asm.v3\">\r\n"
      "    <security>\r\n"
      "      <requestedPrivileges>\r\n"
      "        <requestedExecutionLevel level=\"" + identity.manifestLevel + "\" uiAccess=\"false\"/>\r\n"
      "      </requestedPrivileges>\r\n"
      "    </security>\r\n"
      "  </trustInfo>\r\n"
      "  <compatibility xmlns=\"urn:schemas-microsoft-com:compatibility.v1\">\r\n"
      "    <application>\r\n"
      "      <!-- Windows 7 -->\r\n"
      "      <supportedOS Id=\"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}\"/>\r\n"
      "      <!-- Windows 8 -->\r\n"
      "      <supportedOS Id=\"{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}\"/>\r\n"
      "      <!-- Windows 8.1 -->\r\n"
      "      <supportedOS Id=\"{1f676c76-80e1-4239-95bb-83d0f6d0da78}\"/>\r\n"
      "      <!-- Windows 10 and 11 -->\r\n"
      "      <supportedOS Id=\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\"/>\r\n"
      "    </application>\r\n"
      "  </compatibility>\r\n"
      "  <application xmlns=\"urn:schemas-microsoft-com:asm.v3\">\r\n"
      "    <windowsSettings>\r\n"
      "      <longPathAware xmlns=\"http://schemas.microsoft.com/SMI/2016/WindowsSettings\">true</longPathAware>\r\n";
  if (identity.perMonitorDpi)
    text +=
        "      <dpiAware xmlns=\"http://schemas.microsoft.com/SMI/2005/WindowsSettings\">true/pm</dpiAware>\r\n"
        "      <dpiAwareness xmlns=\"http://schemas.microsoft.com/SMI/2016/WindowsSettings\">PerMonitorV2, PerMonitor</dpiAwareness>\r\n";
  text +=
      "    </windowsSettings>\r\n"
      "  </application>\r\n"
      "</assembly>\r\n";
  return text;
}

// The level that a manifest's requestedExecutionLevel names ("" when none).
std::string ManifestLevel(const std::vector<unsigned char> &data) {
  std::string text(data.begin(), data.end());
  size_t at = text.find("requestedExecutionLevel");
  if (at == std::string::npos) return "";
  size_t end = text.find('>', at);
  size_t level = text.find("level=", at);
  if (level == std::string::npos || (end != std::string::npos && level > end) ||
      level + 7 > text.size())
    return "";
  char quote = text[level + 6];
  size_t close = text.find(quote, level + 7);
  if (close == std::string::npos) return "";
  return text.substr(level + 7, close - level - 7);
}

// ---- the icon ----

// The images of an .ico file: each entry of its directory with the image's
// bytes.  False with *error naming the file and the fault.
struct IconImage {
  unsigned char entry[12];  // width, height, colours, reserved, planes, bit count, size
  std::vector<unsigned char> bytes;
};

bool ReadIconFile(const std::string &path, std::vector<IconImage> *images, std::string *error) {
  uint64_t size = 0;
  if (!CheckInputFile(path, &size, error)) return false;
  if (size >= kIconFileLimit) {
    *error = MessageText(TOOL_MSG_ICON_TOO_LARGE, path.c_str(), (unsigned long long)size);
    return false;
  }
  FILE *file = OpenFileForReading(path);
  if (!file) {
    *error = MessageText(TOOL_MSG_CANNOT_OPEN, path.c_str(), ErrnoText(errno).c_str());
    return false;
  }
  std::vector<unsigned char> b((size_t)size);
  bool read = fread(b.data(), 1, b.size(), file) == b.size();
  fclose(file);
  if (!read) {
    *error = MessageText(TOOL_MSG_FILE_READ_FAILED, path.c_str());
    return false;
  }
  auto fault = [&](const std::string &why) {
    *error = MessageText(TOOL_MSG_ICON_NOT_AN_ICON, path.c_str(), why.c_str());
    return false;
  };
  if (b.size() < 6 || Le(b, 0, 2) != 0 || Le(b, 2, 2) != 1) return fault(TOOL_MSG_ICON_NO_HEADER);
  uint32_t count = Le(b, 4, 2);
  if (count == 0) return fault(TOOL_MSG_ICON_NO_IMAGES);
  if (6 + 16ull * count > b.size()) return fault(TOOL_MSG_ICON_NO_HEADER);
  for (uint32_t i = 0; i < count; i++) {
    size_t at = 6 + 16 * i;
    uint64_t bytes = Le(b, at + 8, 4), offset = Le(b, at + 12, 4);
    if (bytes < 8 || offset + bytes > b.size()) return fault(MessageText(TOOL_MSG_ICON_IMAGE_OUTSIDE, i + 1));
    const unsigned char *image = &b[offset];
    bool bitmap = Le(b, offset, 4) == 40;
    bool png = memcmp(image, "\x89PNG\r\n\x1a\n", 8) == 0;
    if (!bitmap && !png) return fault(MessageText(TOOL_MSG_ICON_IMAGE_UNKNOWN, i + 1));
    IconImage icon;
    memcpy(icon.entry, &b[at], 12);
    icon.bytes.assign(image, image + bytes);
    images->push_back(std::move(icon));
  }
  return true;
}

bool IsType(const Resource &resource, uint16_t type) {
  return !resource.type.named && resource.type.number == type;
}

}  // namespace

bool IdentityGiven(const BundleIdentity &identity) {
  return !identity.icon.empty() || !identity.versionInfo.empty() ||
         !identity.manifestLevel.empty();
}

bool ParseVersionNumbers(const std::string &text, uint16_t parts[4]) {
  int count = 0;
  size_t at = 0;
  for (int i = 0; i < 4; i++) parts[i] = 0;
  while (true) {
    if (count == 4 || at >= text.size() || text[at] < '0' || text[at] > '9') return false;
    uint32_t value = 0;
    size_t digits = 0;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
      value = value * 10 + (uint32_t)(text[at++] - '0');
      if (value > 65535 || ++digits > 5) return false;
    }
    parts[count++] = (uint16_t)value;
    if (at == text.size()) return true;
    if (text[at++] != '.') return false;
  }
}

int TakeIdentityOption(int argc, char **argv, int *i, BundleIdentity *identity,
                       std::string *error) {
  std::string arg = argv[*i];
  if (arg != "--icon" && arg != "--version-info" && arg != "--manifest") return 0;
  if (*i + 1 >= argc) {
    *error = MessageText(TOOL_MSG_NEEDS_VALUE, arg.c_str(), argv[0]);
    return -1;
  }
  std::string value = argv[++*i];
  if (arg == "--icon") {
    identity->icon = value;
    return 1;
  }
  if (arg == "--manifest") {
    for (const char *level : kLevels) {
      if (value == level) {
        identity->manifestLevel = value;
        return 1;
      }
    }
    *error = MessageText(TOOL_MSG_MANIFEST_LEVEL_UNKNOWN, value.c_str());
    return -1;
  }
  size_t equals = value.find('=');
  if (equals == std::string::npos) {
    *error = MessageText(TOOL_MSG_EXPECTED_PAIR, arg.c_str(), value.c_str(), TOOL_MSG_KEY_VALUE);
    return -1;
  }
  std::string key = value.substr(0, equals), text = value.substr(equals + 1);
  std::u16string units;
  uint16_t parts[4];
  if (!IsVersionKey(key)) {
    *error = MessageText(TOOL_MSG_VERSION_KEY_UNKNOWN, value.c_str());
  } else if (!Utf16(text, &units)) {
    *error = MessageText(TOOL_MSG_VERSION_VALUE_NOT_UTF8, value.c_str());
  } else if (units.size() > kVersionValueLimit) {
    *error = MessageText(TOOL_MSG_VERSION_VALUE_TOO_LONG, key.c_str(), kVersionValueLimit);
  } else if (IsNumericVersionKey(key) && !ParseVersionNumbers(text, parts)) {
    *error = MessageText(TOOL_MSG_VERSION_MALFORMED, value.c_str());
  } else {
    for (const auto &pair : identity->versionInfo) {
      if (pair.first == key) {
        *error = MessageText(TOOL_MSG_VERSION_KEY_TWICE, key.c_str());
        return -1;
      }
    }
    identity->versionInfo.push_back({key, text});
    return 1;
  }
  return -1;
}

bool AddIdentityResources(const BundleIdentity &identity, std::vector<Resource> *resources,
                          std::string *error) {
  if (!identity.icon.empty()) {
    std::vector<IconImage> images;
    if (!ReadIconFile(identity.icon, &images, error)) return false;
    // The stub's first icon group keeps its number and language; its icons,
    // and any other group, go.
    ResourceId group;
    group.number = kDefaultIconGroup;
    uint16_t language = kLanguage;
    for (const Resource &resource : *resources) {
      if (IsType(resource, PE_RT_GROUP_ICON)) {
        group = resource.name;
        language = resource.language;
        break;
      }
    }
    std::vector<Resource> kept;
    for (Resource &resource : *resources)
      if (!IsType(resource, PE_RT_ICON) && !IsType(resource, PE_RT_GROUP_ICON))
        kept.push_back(std::move(resource));
    *resources = std::move(kept);
    Resource directory;
    directory.type.number = PE_RT_GROUP_ICON;
    directory.name = group;
    directory.language = language;
    Add16(&directory.data, 0);
    Add16(&directory.data, 1);
    Add16(&directory.data, (uint32_t)images.size());
    for (size_t i = 0; i < images.size(); i++) {
      // The .ico entry without its file offset, then the icon's number.
      directory.data.insert(directory.data.end(), images[i].entry, images[i].entry + 12);
      Add16(&directory.data, (uint32_t)(i + 1));
      Resource icon;
      icon.type.number = PE_RT_ICON;
      icon.name.number = (uint16_t)(i + 1);
      icon.language = language;
      icon.data = std::move(images[i].bytes);
      resources->push_back(std::move(icon));
    }
    resources->push_back(std::move(directory));
  }
  if (!identity.versionInfo.empty()) {
    Resource version;
    version.type.number = PE_RT_VERSION;
    version.name.number = 1;
    version.language = kLanguage;
    version.data = VersionBlock(identity);
    resources->push_back(std::move(version));
  }
  if (!identity.manifestLevel.empty()) {
    Resource manifest;
    manifest.type.number = PE_RT_MANIFEST;
    manifest.name.number = 1;  // the manifest a program's process is created with
    manifest.language = kLanguage;
    std::string text = Manifest(identity);
    manifest.data.assign(text.begin(), text.end());
    resources->push_back(std::move(manifest));
  }
  return true;
}

bool SummarizeIdentity(const std::vector<Resource> &resources, IdentitySummary *summary,
                       std::string *problem) {
  *summary = IdentitySummary();
  bool firstGroup = true;
  for (const Resource &resource : resources) {
    if (IsType(resource, PE_RT_GROUP_ICON)) {
      const std::vector<unsigned char> &b = resource.data;
      unsigned groupNumber = resource.name.named ? 0 : resource.name.number;
      if (b.size() < 6 || 6 + 14ull * Le(b, 4, 2) > b.size()) {
        *problem = MessageText(TOOL_MSG_RESOURCE_GROUP_BROKEN, groupNumber);
        return false;
      }
      for (uint32_t i = 0; i < Le(b, 4, 2); i++) {
        size_t at = 6 + 14 * i;
        unsigned id = Le(b, at + 12, 2);
        bool found = false;
        for (const Resource &icon : resources)
          found = found || (IsType(icon, PE_RT_ICON) && !icon.name.named && icon.name.number == id);
        if (!found) {
          *problem = MessageText(TOOL_MSG_RESOURCE_GROUP_MISSING_ICON, groupNumber, id);
          return false;
        }
        if (firstGroup) {
          char text[64];
          snprintf(text, sizeof text, "%ux%u, %u-bit", b[at] ? b[at] : 256,
                   b[at + 1] ? b[at + 1] : 256, Le(b, at + 6, 2));
          summary->iconSizes.push_back(text);
        }
      }
      firstGroup = false;
    } else if (IsType(resource, PE_RT_VERSION) && !summary->hasVersion) {
      summary->hasVersion = true;
      std::string why;
      if (!ReadVersionBlock(resource.data, summary, &why)) {
        *problem = MessageText(TOOL_MSG_RESOURCE_VERSION_BROKEN, why.c_str());
        return false;
      }
    } else if (IsType(resource, PE_RT_MANIFEST) && !summary->hasManifest) {
      summary->hasManifest = true;
      summary->manifestLevel = ManifestLevel(resource.data);
    }
  }
  return true;
}
