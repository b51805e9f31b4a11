// Reading a PE image's headers (the layout is drawn in pe_image.h).
#include "pe_image.h"

#include <errno.h>
#include <string.h>

#include "file_names.h"
#include "payload.h"
#include "shown_text.h"
#include "tool_files.h"
#include "tool_messages.h"

namespace {

const size_t kFileHeaderSize = 20;
const size_t kSectionHeaderSize = 40;
// Offsets in the optional header, the same in PE32 and PE32+.
const size_t kSectionAlignmentAt = 32, kFileAlignmentAt = 36, kSizeOfImageAt = 56,
             kSizeOfHeadersAt = 60, kSubsystemAt = 68;

// Where the headers are read from: an open file, or bytes in memory.
struct ImageSource {
  FILE *file;
  const unsigned char *bytes;
  uint64_t size;
};

bool ReadAt(const ImageSource &source, uint64_t offset, unsigned char *into, size_t size) {
  if (!source.file) {
    if (offset > source.size || size > source.size - offset) return false;
    memcpy(into, source.bytes + offset, size);
    return true;
  }
  return SeekFile(source.file, (int64_t)offset) && fread(into, 1, size, source.file) == size;
}

bool ReadHeaders(const ImageSource &file, PeImage *image) {
  uint64_t fileSize = file.size;
  *image = PeImage();
  unsigned char dos[64];
  if (fileSize < sizeof dos || !ReadAt(file, 0, dos, sizeof dos) || dos[0] != 'M' || dos[1] != 'Z')
    return false;
  image->peOffset = ReadU32LE(dos + 0x3C);
  unsigned char head[4 + kFileHeaderSize];
  if (!ReadAt(file, image->peOffset, head, sizeof head) || memcmp(head, "PE\0\0", 4) != 0)
    return false;
  image->machine = ReadU16LE(head + 4);
  uint16_t sectionCount = ReadU16LE(head + 6);
  image->optionalSize = ReadU16LE(head + 20);
  image->characteristics = ReadU16LE(head + 22);
  image->optionalOffset = (uint64_t)image->peOffset + sizeof head;

  std::vector<unsigned char> optional(image->optionalSize);
  if (image->optionalSize < 2 ||
      !ReadAt(file, image->optionalOffset, optional.data(), optional.size()))
    return false;
  image->optionalMagic = ReadU16LE(optional.data());
  // PE32 and PE32+ differ in where the data directories begin.
  size_t countAt = image->optionalMagic == 0x20B ? 108 : image->optionalMagic == 0x10B ? 92 : 0;
  if (countAt == 0 || optional.size() < countAt + 4) return false;
  image->sectionAlignment = ReadU32LE(optional.data() + kSectionAlignmentAt);
  image->fileAlignment = ReadU32LE(optional.data() + kFileAlignmentAt);
  image->sizeOfImage = ReadU32LE(optional.data() + kSizeOfImageAt);
  image->sizeOfHeaders = ReadU32LE(optional.data() + kSizeOfHeadersAt);
  image->subsystem = ReadU16LE(optional.data() + kSubsystemAt);
  image->subsystemOffset = image->optionalOffset + kSubsystemAt;
  image->directoriesOffset = image->optionalOffset + countAt + 4;
  // Only the directories that both the count and the header's size hold.
  uint32_t count = ReadU32LE(optional.data() + countAt);
  for (uint32_t i = 0; i < count && countAt + 4 + 8 * (size_t)(i + 1) <= optional.size(); i++) {
    const unsigned char *at = optional.data() + countAt + 4 + 8 * i;
    image->directories.push_back(PeDataDirectory{ReadU32LE(at), ReadU32LE(at + 4)});
  }

  uint64_t end = 0;
  for (uint16_t i = 0; i < sectionCount; i++) {
    unsigned char raw[kSectionHeaderSize];
    PeSection section;
    section.headerOffset = image->optionalOffset + image->optionalSize + kSectionHeaderSize * i;
    if (!ReadAt(file, section.headerOffset, raw, sizeof raw)) return false;
    memcpy(section.name, raw, 8);
    section.name[8] = 0;
    section.virtualSize = ReadU32LE(raw + 8);
    section.virtualAddress = ReadU32LE(raw + 12);
    section.rawSize = ReadU32LE(raw + 16);
    section.rawOffset = ReadU32LE(raw + 20);
    section.characteristics = ReadU32LE(raw + 36);
    uint64_t sectionEnd = (uint64_t)section.rawOffset + section.rawSize;
    if (section.rawSize != 0 && sectionEnd > end) end = sectionEnd;
    image->sections.push_back(section);
  }
  image->sectionsEnd = end < fileSize ? end : fileSize;
  return true;
}

}  // namespace

bool ReadPeImage(FILE *file, uint64_t fileSize, PeImage *image) {
  return ReadHeaders(ImageSource{file, nullptr, fileSize}, image);
}

bool ReadPeImageBytes(const unsigned char *bytes, size_t size, PeImage *image) {
  return ReadHeaders(ImageSource{nullptr, bytes, size}, image);
}

bool ReadPeImageFile(const std::string &path, PeImage *image, std::string *error) {
  FILE *file = OpenFileForReading(path);
  if (file == nullptr) {
    *error = MessageText(TOOL_MSG_CANNOT_OPEN, path.c_str(), ErrnoText(errno).c_str());
    return false;
  }
  int64_t size = FileSize(file);
  bool ok = size >= 0 && ReadPeImage(file, (uint64_t)size, image);
  fclose(file);
  if (!ok) *error = MessageText(TOOL_MSG_NOT_A_PE, path.c_str());
  return ok;
}

bool PeImageIsSigned(const PeImage &image) {
  return image.directories.size() > PE_DIRECTORY_CERTIFICATE &&
         image.directories[PE_DIRECTORY_CERTIFICATE].size != 0;
}

const char *WhyNoProgram(const std::string &name, const unsigned char *start, size_t size) {
  PeImage image;
  if (ReadPeImageBytes(start, size, &image))
    return image.characteristics & PE_CHARACTERISTIC_DLL ? TOOL_MSG_PROGRAM_IS_DLL : nullptr;
  return HasExtension(name, ".bat") || HasExtension(name, ".cmd") ? nullptr : TOOL_MSG_PROGRAM_NOT_PE;
}
