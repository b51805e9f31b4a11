// What the bundle tool reads of a PE image (a Windows program), in one place:
// the writer, the stub checks and the bootstrap's choice all read it here.
//
//   0       "MZ" ... e_lfanew (u32 at 0x3C) -> the PE header
//   PE      "PE\0\0"
//   PE+4    file header, 20 bytes: machine (u16 at 0), section count (u16 at
//           2), optional header size (u16 at 16), characteristics (u16 at 18)
//   PE+24   optional header: magic 0x10B (PE32) or 0x20B (PE32+); section and
//           file alignment at 32 and 36, image size at 56, header size at 60,
//           checksum at 64 and subsystem at 68 in both; the data directories
//           behind the count at 92 (PE32) or 108 (PE32+), 8 bytes each
//   ...     section table, 40 bytes a section, behind the optional header
//
// Every field is little-endian (ReadU16LE and ReadU32LE of the payload
// library).
#ifndef SATCHEL_PE_IMAGE_H
#define SATCHEL_PE_IMAGE_H

#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

// PE machine types of the two Windows targets.
#define PE_MACHINE_I386 0x014c
#define PE_MACHINE_AMD64 0x8664

// File header characteristics: the image is a DLL.
#define PE_CHARACTERISTIC_DLL 0x2000

// Windows subsystems.
#define PE_SUBSYSTEM_GUI 2
#define PE_SUBSYSTEM_CONSOLE 3

// Data directories the tool looks at.
#define PE_DIRECTORY_RESOURCE 2
#define PE_DIRECTORY_CERTIFICATE 4
#define PE_DIRECTORY_BASE_RELOCATION 5

// The optional header's checksum field, from its start (PE32 and PE32+).
#define PE_CHECKSUM_AT 64

struct PeSection {
  char name[9];            // up to 8 bytes, NUL-terminated here
  uint32_t virtualSize;
  uint32_t virtualAddress;
  uint32_t rawSize;        // bytes in the file
  uint32_t rawOffset;      // where they begin in the file
  uint32_t characteristics;
  uint64_t headerOffset;   // file offset of this section's 40-byte header
};

struct PeDataDirectory {
  uint32_t virtualAddress;
  uint32_t size;
};

struct PeImage {
  uint32_t peOffset = 0;        // of "PE\0\0" (e_lfanew)
  uint16_t machine = 0;
  uint16_t characteristics = 0;
  uint16_t optionalMagic = 0;   // 0x10B or 0x20B
  uint64_t optionalOffset = 0;  // file offset of the optional header
  uint16_t optionalSize = 0;
  uint32_t sectionAlignment = 0;
  uint32_t fileAlignment = 0;
  uint32_t sizeOfImage = 0;
  uint32_t sizeOfHeaders = 0;
  uint16_t subsystem = 0;
  uint64_t subsystemOffset = 0;     // file offset of the subsystem field
  uint64_t directoriesOffset = 0;   // file offset of data directory 0
  std::vector<PeDataDirectory> directories;
  std::vector<PeSection> sections;
  uint64_t sectionsEnd = 0;     // where the last section's bytes end (at most the file's size)
};

// Reads the headers of the PE image at the start of `file` (fileSize bytes).
// False when the file is no PE image: no "MZ", no "PE\0\0" where e_lfanew
// points, an optional header that is neither PE32 nor PE32+ or too short to
// hold its data directory count, or a section table that the file does not
// hold.  The file position is left anywhere.
bool ReadPeImage(FILE *file, uint64_t fileSize, PeImage *image);

// The same for an image held in memory (`size` bytes at `bytes`).
bool ReadPeImageBytes(const unsigned char *bytes, size_t size, PeImage *image);

// The same for the file at `path`.  False with *error naming the path: why it
// cannot be read, or that it is no Windows program.
bool ReadPeImageFile(const std::string &path, PeImage *image, std::string *error);

// True when the image carries a signature (a non-empty certificate table).
bool PeImageIsSigned(const PeImage &image);

// What the launcher can start as its program (CreateProcessW): a Windows
// program, a PE image that is no DLL; or a batch file, which Windows hands to
// its command interpreter by the name's extension (.bat or .cmd, any case).
// A program's headers stand within its first PE_PROGRAM_START_SIZE bytes,
// and that is all that is looked at: `start` holds them (the whole file when
// it is shorter); `name` is the file name the launcher writes it under.
// Null when the launcher can start it, else why not (a text of
// tool_messages.h that follows "the exe").
#define PE_PROGRAM_START_SIZE 65536
const char *WhyNoProgram(const std::string &name, const unsigned char *start, size_t size);

#endif  // SATCHEL_PE_IMAGE_H
