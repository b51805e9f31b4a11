// The class-path index and the entries' times of a Java bundle (the forms
// are in java_bundle.h).
#include "class_path_index.h"

#include <string.h>

#include "payload.h"

void PutBigEndian(std::vector<unsigned char> *out, uint64_t value, int bytes) {
  for (int i = bytes - 1; i >= 0; i--) out->push_back((unsigned char)(value >> (8 * i)));
}

bool PutJavaUtf(std::vector<unsigned char> *out, const std::string &text) {
  std::vector<unsigned char> bytes;
  const unsigned char *at = (const unsigned char *)text.data();
  for (size_t left = text.size(), used; left > 0; at += used, left -= used) {
    uint32_t c = DecodeUtf8(at, left, &used);
    if (c == UTF8_ILL_FORMED) {
      bytes.insert(bytes.end(), at, at + used);
      continue;
    }
    char encoded[6];
    char *end = PutModifiedUtf8(encoded, c);
    bytes.insert(bytes.end(), encoded, end);
  }
  if (bytes.size() > 0xFFFF) return false;
  PutBigEndian(out, bytes.size(), 2);
  out->insert(out->end(), bytes.begin(), bytes.end());
  return true;
}

std::string StoredEntryName(ClassPathRecord *record, int jar, const std::string &name) {
  if (record->present.insert(name).second) return name;
  return JAVA_BUNDLE_RESERVED_PREFIX + std::to_string(jar) + "/" + name;
}

std::string NameInJar(const std::string &stored) {
  const size_t prefix = sizeof JAVA_BUNDLE_RESERVED_PREFIX - 1;
  if (stored.compare(0, prefix, JAVA_BUNDLE_RESERVED_PREFIX) != 0) return stored;
  size_t slash = stored.find('/', prefix);
  return slash == std::string::npos ? stored : stored.substr(slash + 1);
}

bool RecordEntryTime(ClassPathRecord *record, const std::string &stored, int kind, uint64_t value) {
  if (!PutJavaUtf(&record->times, stored)) return false;
  record->times.push_back((unsigned char)kind);
  PutBigEndian(&record->times, value, 8);
  record->timeCount++;
  return true;
}

bool RecordJar(ClassPathRecord *record, const std::string &fileName, uint32_t flags,
               const std::string &firstEntry, const std::string &signatureBlock) {
  bool fits = PutJavaUtf(&record->index, fileName);
  PutBigEndian(&record->index, flags, 4);
  if (!fits || !PutJavaUtf(&record->index, firstEntry) ||
      !PutJavaUtf(&record->index, signatureBlock))
    return false;
  record->jarCount++;
  return true;
}

BundleFile ClassPathIndexEntry(const ClassPathRecord &record) {
  BundleFile index{JAVA_BUNDLE_INDEX_ENTRY, {}};
  PutBigEndian(&index.content, JAVA_BUNDLE_INDEX_VERSION, 4);
  PutBigEndian(&index.content, (uint64_t)record.jarCount, 4);
  index.content.insert(index.content.end(), record.index.begin(), record.index.end());
  return index;
}

BundleFile EntryTimesEntry(const ClassPathRecord &record) {
  BundleFile times{JAVA_BUNDLE_TIMES_ENTRY, {}};
  PutBigEndian(&times.content, record.timeCount, 4);
  times.content.insert(times.content.end(), record.times.begin(), record.times.end());
  return times;
}
