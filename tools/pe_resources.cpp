// Reading, building and rewriting the resource section of a PE image (the
// layout is drawn in pe_resources.h).
#include "pe_resources.h"

#include <string.h>

#include <algorithm>
#include <map>
#include <tuple>

#include "shown_text.h"
#include "tool_messages.h"

namespace {

// The most resources a section may hold before the reader calls it broken:
// far beyond any program's, and a bound on what a crafted tree can make it
// copy.
const size_t kMaxResources = 10000;

// The section a new resource section gets: initialized data, readable.
const uint32_t kResourceCharacteristics = 0x40000040;

uint32_t U16(const std::vector<unsigned char> &b, uint64_t at) {
  return b[at] | (uint32_t)b[at + 1] << 8;
}
uint32_t U32(const std::vector<unsigned char> &b, uint64_t at) {
  return b[at] | (uint32_t)b[at + 1] << 8 | (uint32_t)b[at + 2] << 16 | (uint32_t)b[at + 3] << 24;
}
void Put16(std::vector<unsigned char> *b, uint64_t at, uint32_t v) {
  (*b)[at] = (unsigned char)v;
  (*b)[at + 1] = (unsigned char)(v >> 8);
}
void Put32(std::vector<unsigned char> *b, uint64_t at, uint32_t v) {
  for (int i = 0; i < 4; i++) (*b)[at + i] = (unsigned char)(v >> (8 * i));
}
uint64_t AlignUp(uint64_t value, uint64_t alignment) {
  return alignment ? (value + alignment - 1) / alignment * alignment : value;
}

// A data directory's address and size (0, 0 when the image has none).
void Directory(const PeImage &image, uint32_t index, uint32_t *rva, uint32_t *size) {
  *rva = *size = 0;
  if (index >= image.directories.size()) return;
  *rva = image.directories[index].virtualAddress;
  *size = image.directories[index].size;
}

// The file offset of `size` bytes at `rva`, when a section's bytes in the
// file hold them all; -1 otherwise.
int64_t RvaToOffset(const PeImage &image, uint64_t fileSize, uint32_t rva, uint32_t size) {
  for (const PeSection &section : image.sections) {
    if (rva < section.virtualAddress) continue;
    uint64_t into = rva - section.virtualAddress;
    if (into + size > section.rawSize) continue;
    uint64_t at = (uint64_t)section.rawOffset + into;
    if (at + size > fileSize) return -1;
    return (int64_t)at;
  }
  return -1;
}

// The walk of ReadResources over one section's tree.
struct TreeReader {
  const std::vector<unsigned char> *file;
  const PeImage *image;
  uint64_t base;   // file offset of the root table
  uint32_t limit;  // bytes of the tree from the base
  std::vector<Resource> *resources;
  std::string *problem;
  uint64_t dataTotal;  // bytes of the resources read so far
};

bool ReadName(TreeReader *reader, uint32_t offset, std::u16string *name) {
  if ((uint64_t)offset + 2 > reader->limit) {
    *reader->problem = TOOL_MSG_RESOURCE_NAME_OUTSIDE;
    return false;
  }
  uint32_t length = U16(*reader->file, reader->base + offset);
  if ((uint64_t)offset + 2 + 2ull * length > reader->limit) {
    *reader->problem = TOOL_MSG_RESOURCE_NAME_OUTSIDE;
    return false;
  }
  name->clear();
  for (uint32_t i = 0; i < length; i++)
    name->push_back((char16_t)U16(*reader->file, reader->base + offset + 2 + 2 * i));
  return true;
}

// One directory table at `offset`, at `level` (0 types, 1 names, 2
// languages); `path` holds the ids of the levels above.
bool ReadTable(TreeReader *reader, uint32_t offset, int level, Resource *path) {
  const std::vector<unsigned char> &file = *reader->file;
  if ((uint64_t)offset + 16 > reader->limit) {
    *reader->problem = TOOL_MSG_RESOURCE_TABLE_OUTSIDE;
    return false;
  }
  uint64_t at = reader->base + offset;
  uint32_t count = U16(file, at + 12) + U16(file, at + 14);
  if ((uint64_t)offset + 16 + 8ull * count > reader->limit) {
    *reader->problem = TOOL_MSG_RESOURCE_TABLE_OUTSIDE;
    return false;
  }
  for (uint32_t i = 0; i < count; i++) {
    uint32_t nameField = U32(file, at + 16 + 8 * i), target = U32(file, at + 20 + 8 * i);
    ResourceId id;
    if (nameField & 0x80000000u) {
      id.named = true;
      if (!ReadName(reader, nameField & 0x7fffffffu, &id.name)) return false;
    } else {
      id.number = (uint16_t)nameField;
    }
    bool subdirectory = (target & 0x80000000u) != 0;
    // Types and names lead to tables, languages to data entries: the depth
    // is fixed, so a table that refers back to itself is refused here.
    if (subdirectory != (level < 2)) {
      *reader->problem = MessageText(TOOL_MSG_RESOURCE_DEPTH, level + 1);
      return false;
    }
    if (level == 0) path->type = id;
    if (level == 1) path->name = id;
    if (level < 2) {
      if (!ReadTable(reader, target & 0x7fffffffu, level + 1, path)) return false;
      continue;
    }
    if (id.named) {
      *reader->problem = TOOL_MSG_RESOURCE_NAMED_LANGUAGE;
      return false;
    }
    if ((uint64_t)target + 16 > reader->limit) {
      *reader->problem = TOOL_MSG_RESOURCE_TABLE_OUTSIDE;
      return false;
    }
    if (reader->resources->size() >= kMaxResources) {
      *reader->problem = MessageText(TOOL_MSG_RESOURCE_TOO_MANY, kMaxResources);
      return false;
    }
    uint32_t rva = U32(file, reader->base + target), size = U32(file, reader->base + target + 4);
    int64_t data = RvaToOffset(*reader->image, file.size(), rva, size);
    if (data < 0) {
      *reader->problem = MessageText(TOOL_MSG_RESOURCE_DATA_OUTSIDE, rva, size);
      return false;
    }
    // Resources do not share bytes: more of them than the image holds is a
    // tree that names the same bytes again and again.
    reader->dataTotal += size;
    if (reader->dataTotal > file.size()) {
      *reader->problem = TOOL_MSG_RESOURCE_DATA_REPEATED;
      return false;
    }
    Resource resource;
    resource.type = path->type;
    resource.name = path->name;
    resource.language = id.number;
    resource.data.assign(file.begin() + data, file.begin() + data + size);
    reader->resources->push_back(std::move(resource));
  }
  return true;
}

// Ordering of ids within a table: named ones first, by their UTF-16 units,
// then numbered ones by number.
bool IdBefore(const ResourceId &a, const ResourceId &b) {
  if (a.named != b.named) return a.named;
  return a.named ? a.name < b.name : a.number < b.number;
}
bool SameId(const ResourceId &a, const ResourceId &b) {
  return a.named == b.named && (a.named ? a.name == b.name : a.number == b.number);
}

}  // namespace

bool ReadResources(const std::vector<unsigned char> &file, const PeImage &image,
                   std::vector<Resource> *resources, std::string *problem) {
  resources->clear();
  uint32_t rva, size;
  Directory(image, PE_DIRECTORY_RESOURCE, &rva, &size);
  if (rva == 0 && size == 0) return true;
  int64_t base = RvaToOffset(image, file.size(), rva, size < 16 ? 16 : size);
  if (base < 0) {
    *problem = MessageText(TOOL_MSG_RESOURCE_DIRECTORY_OUTSIDE, rva, size);
    return false;
  }
  TreeReader reader = {&file, &image, (uint64_t)base, size, resources, problem, 0};
  Resource path;
  return ReadTable(&reader, 0, 0, &path);
}

std::vector<unsigned char> BuildResourceSection(const std::vector<Resource> &given, uint32_t rva) {
  // The resources sorted into the tree's order; of two with one type, name
  // and language the later one stays.
  std::vector<const Resource *> sorted;
  for (const Resource &resource : given) {
    bool replaced = false;
    for (const Resource *&kept : sorted) {
      if (SameId(kept->type, resource.type) && SameId(kept->name, resource.name) &&
          kept->language == resource.language) {
        kept = &resource;
        replaced = true;
      }
    }
    if (!replaced) sorted.push_back(&resource);
  }
  std::stable_sort(sorted.begin(), sorted.end(), [](const Resource *a, const Resource *b) {
    if (!SameId(a->type, b->type)) return IdBefore(a->type, b->type);
    if (!SameId(a->name, b->name)) return IdBefore(a->name, b->name);
    return a->language < b->language;
  });

  // The tables: the root (level 0), one per type (level 1), one per name of
  // a type (level 2, whose entries lead to data entries).
  struct Table {
    int level = 0;
    std::vector<ResourceId> ids;
    std::vector<size_t> targets;  // tables, or at level 2 indexes into `sorted`
    uint32_t offset = 0;
  };
  std::vector<Table> tables(1);
  size_t typeTable = 0, nameTable = 0;
  for (size_t i = 0; i < sorted.size(); i++) {
    const Resource *r = sorted[i];
    bool newType = i == 0 || !SameId(sorted[i - 1]->type, r->type);
    if (newType) {
      tables[0].ids.push_back(r->type);
      tables[0].targets.push_back(tables.size());
      typeTable = tables.size();
      tables.push_back(Table());
      tables.back().level = 1;
    }
    if (newType || !SameId(sorted[i - 1]->name, r->name)) {
      tables[typeTable].ids.push_back(r->name);
      tables[typeTable].targets.push_back(tables.size());
      nameTable = tables.size();
      tables.push_back(Table());
      tables.back().level = 2;
    }
    ResourceId language;
    language.number = r->language;
    tables[nameTable].ids.push_back(language);
    tables[nameTable].targets.push_back(i);
  }

  uint32_t at = 0;
  for (Table &table : tables) {
    table.offset = at;
    at += 16 + 8 * (uint32_t)table.ids.size();
  }
  uint32_t dataEntries = at;
  at += 16 * (uint32_t)sorted.size();
  std::map<std::u16string, uint32_t> names;
  for (const Table &table : tables)
    for (const ResourceId &id : table.ids)
      if (id.named && !names.count(id.name)) {
        names[id.name] = at;
        at += 2 + 2 * (uint32_t)id.name.size();
      }
  std::vector<uint32_t> dataAt;
  for (const Resource *r : sorted) {
    at = (uint32_t)AlignUp(at, 8);
    dataAt.push_back(at);
    at += (uint32_t)r->data.size();
  }

  // Characteristics, time stamp and version of every table stay zero.
  std::vector<unsigned char> out(at, 0);
  for (const Table &table : tables) {
    uint32_t named = 0;
    for (const ResourceId &id : table.ids) named += id.named;
    Put16(&out, table.offset + 12, named);
    Put16(&out, table.offset + 14, (uint32_t)table.ids.size() - named);
    for (size_t i = 0; i < table.ids.size(); i++) {
      const ResourceId &id = table.ids[i];
      uint32_t entry = table.offset + 16 + 8 * (uint32_t)i;
      Put32(&out, entry, id.named ? 0x80000000u | names[id.name] : id.number);
      if (table.level == 2)
        Put32(&out, entry + 4, dataEntries + 16 * (uint32_t)table.targets[i]);
      else
        Put32(&out, entry + 4, 0x80000000u | tables[table.targets[i]].offset);
    }
  }
  for (const auto &name : names) {
    Put16(&out, name.second, (uint32_t)name.first.size());
    for (size_t i = 0; i < name.first.size(); i++)
      Put16(&out, name.second + 2 + 2 * i, name.first[i]);
  }
  for (size_t i = 0; i < sorted.size(); i++) {
    Put32(&out, dataEntries + 16 * i, rva + dataAt[i]);
    Put32(&out, dataEntries + 16 * i + 4, (uint32_t)sorted[i]->data.size());
    std::copy(sorted[i]->data.begin(), sorted[i]->data.end(), out.begin() + dataAt[i]);
  }
  return out;
}

bool ReplaceResources(std::vector<unsigned char> *file, const std::vector<Resource> &resources,
                      std::string *problem) {
  PeImage image;
  const std::vector<unsigned char> &in = *file;
  if (!ReadPeImageBytes(in.data(), in.size(), &image)) {
    *problem = TOOL_MSG_PE_NOT_AN_IMAGE;
    return false;
  }
  if (image.sections.empty() || image.fileAlignment == 0 || image.sectionAlignment == 0) {
    *problem = TOOL_MSG_PE_HEADERS_BROKEN;
    return false;
  }
  if (U32(in, image.peOffset + 12) != 0) {
    *problem = TOOL_MSG_PE_SYMBOL_TABLE;
    return false;
  }
  if (in.size() != image.sectionsEnd) {
    *problem = MessageText(TOOL_MSG_PE_BYTES_BEHIND, (unsigned long long)(in.size() - image.sectionsEnd));
    return false;
  }
  uint32_t resourceRva, resourceSize, relocRva, relocSize;
  Directory(image, PE_DIRECTORY_RESOURCE, &resourceRva, &resourceSize);
  Directory(image, PE_DIRECTORY_BASE_RELOCATION, &relocRva, &relocSize);

  // The section that goes (the old resources) and those that move down.
  size_t first = image.sections.size();  // the first section that goes or moves
  if (resourceRva != 0) {
    for (size_t i = 0; i < image.sections.size(); i++)
      if (image.sections[i].virtualAddress == resourceRva) first = i;
    if (first == image.sections.size()) {
      *problem = TOOL_MSG_PE_RESOURCES_NOT_A_SECTION;
      return false;
    }
    for (size_t i = first + 1; i < image.sections.size(); i++) {
      if (image.sections[i].virtualAddress != relocRva || relocRva == 0) {
        *problem = MessageText(TOOL_MSG_PE_SECTION_BEHIND_RESOURCES,
                               image.sections[i].name);
        return false;
      }
    }
  }
  // No other directory may point into what goes or moves.
  uint32_t movedFrom = first < image.sections.size() ? image.sections[first].virtualAddress
                                                      : 0xffffffffu;
  for (uint32_t d = 0; d < image.directories.size(); d++) {
    uint32_t rva, size;
    Directory(image, d, &rva, &size);
    if (d == PE_DIRECTORY_RESOURCE || d == PE_DIRECTORY_BASE_RELOCATION || rva == 0) continue;
    if (d == PE_DIRECTORY_CERTIFICATE) {
      *problem = TOOL_MSG_PE_SIGNED;
      return false;
    }
    if (rva >= movedFrom) {
      *problem = MessageText(TOOL_MSG_PE_DIRECTORY_MOVES, d);
      return false;
    }
  }

  std::vector<PeSection> sections(image.sections.begin(), image.sections.begin() + first);
  uint64_t nextRaw, nextRva;
  if (first < image.sections.size()) {
    nextRaw = image.sections[first].rawOffset;
    nextRva = image.sections[first].virtualAddress;
  } else {
    const PeSection &last = image.sections.back();
    nextRaw = AlignUp(image.sectionsEnd, image.fileAlignment);
    nextRva = AlignUp((uint64_t)last.virtualAddress + std::max(last.virtualSize, last.rawSize),
                      image.sectionAlignment);
  }
  std::vector<unsigned char> out(in.begin(), in.begin() + (size_t)std::min<uint64_t>(nextRaw, in.size()));
  out.resize((size_t)nextRaw, 0);
  uint32_t newRelocRva = relocRva;
  for (size_t i = first + 1; i < image.sections.size(); i++) {
    PeSection moved = image.sections[i];
    out.insert(out.end(), in.begin() + moved.rawOffset, in.begin() + moved.rawOffset + moved.rawSize);
    newRelocRva = relocRva - moved.virtualAddress + (uint32_t)nextRva;
    moved.rawOffset = (uint32_t)nextRaw;
    moved.virtualAddress = (uint32_t)nextRva;
    nextRaw += moved.rawSize;
    nextRva += AlignUp(std::max(moved.virtualSize, moved.rawSize), image.sectionAlignment);
    sections.push_back(moved);
  }
  std::vector<unsigned char> built = BuildResourceSection(resources, (uint32_t)nextRva);
  PeSection added = PeSection();
  memcpy(added.name, ".rsrc", 6);
  added.virtualSize = (uint32_t)built.size();
  added.virtualAddress = (uint32_t)nextRva;
  added.rawSize = (uint32_t)AlignUp(built.size(), image.fileAlignment);
  added.rawOffset = (uint32_t)nextRaw;
  added.characteristics = kResourceCharacteristics;
  sections.push_back(added);
  built.resize(added.rawSize, 0);
  out.insert(out.end(), built.begin(), built.end());

  // The section table must fit the headers, and the room a new header takes
  // must be unused.
  uint64_t table = (uint64_t)image.optionalOffset + image.optionalSize;
  uint64_t firstRaw = image.sizeOfHeaders;
  for (const PeSection &section : image.sections)
    if (section.rawSize) firstRaw = std::min<uint64_t>(firstRaw, section.rawOffset);
  uint64_t tableEnd = table + 40ull * sections.size();
  if (tableEnd > firstRaw) {
    *problem = TOOL_MSG_PE_NO_ROOM_FOR_SECTION;
    return false;
  }
  for (uint64_t at = table + 40ull * image.sections.size(); at < tableEnd; at++) {
    if (in[at] != 0) {
      *problem = TOOL_MSG_PE_NO_ROOM_FOR_SECTION;
      return false;
    }
  }
  for (size_t i = 0; i < sections.size(); i++) {
    uint64_t at = table + 40ull * i;
    std::fill(out.begin() + at, out.begin() + at + 40, 0);
    memcpy(&out[at], sections[i].name, 8);
    Put32(&out, at + 8, sections[i].virtualSize);
    Put32(&out, at + 12, sections[i].virtualAddress);
    Put32(&out, at + 16, sections[i].rawSize);
    Put32(&out, at + 20, sections[i].rawOffset);
    Put32(&out, at + 36, sections[i].characteristics);
  }
  Put16(&out, image.peOffset + 6, (uint32_t)sections.size());
  uint64_t opt = image.optionalOffset;
  // SizeOfInitializedData: the old resource section's bytes out, the new in.
  uint32_t oldResourceRaw = first < image.sections.size() && resourceRva ? image.sections[first].rawSize : 0;
  Put32(&out, opt + 8, U32(in, opt + 8) - oldResourceRaw + added.rawSize);
  Put32(&out, opt + 56, (uint32_t)AlignUp((uint64_t)added.virtualAddress + added.virtualSize,
                                          image.sectionAlignment));
  uint64_t directories = image.directoriesOffset;
  Put32(&out, directories + 8 * PE_DIRECTORY_RESOURCE, added.virtualAddress);
  Put32(&out, directories + 8 * PE_DIRECTORY_RESOURCE + 4, added.virtualSize);
  if (relocRva) Put32(&out, directories + 8 * PE_DIRECTORY_BASE_RELOCATION, newRelocRva);
  *file = std::move(out);
  return true;
}

void AddToPeChecksum(PeChecksum *checksum, const unsigned char *data, size_t size) {
  if (size == 0) return;
  // The bytes of the CheckSum field count as zeros: add around them.
  uint64_t start = checksum->length, fieldStart = checksum->checksumOffset,
           fieldEnd = fieldStart + 4;
  if (start < fieldEnd && start + size > fieldStart) {
    size_t before = fieldStart > start ? (size_t)(fieldStart - start) : 0;
    size_t through = (size_t)std::min<uint64_t>(size, fieldEnd - start);
    AddToPeChecksum(checksum, data, before);
    checksum->length += through - before;
    AddToPeChecksum(checksum, data + through, size - through);
    return;
  }
  uint64_t sum = 0;
  size_t i = 0;
  if ((checksum->length & 1) && size) sum += (uint32_t)data[i++] << 8;
  for (; i + 1 < size; i += 2) sum += data[i] | (uint32_t)data[i + 1] << 8;
  if (i < size) sum += data[i];
  while (sum >> 32) sum = (sum & 0xffffffffu) + (sum >> 32);
  uint64_t total = (uint64_t)checksum->sum + sum;
  while (total >> 16) total = (total & 0xffff) + (total >> 16);
  checksum->sum = (uint32_t)total;
  checksum->length += size;
}

uint32_t FinishPeChecksum(const PeChecksum &checksum) {
  return (uint32_t)(checksum.sum + checksum.length);
}
