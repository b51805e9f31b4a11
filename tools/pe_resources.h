// The resource section of a Windows executable: read as a flat list of
// resources, built anew from one, and written into a copy of the image.
//
// The section is a tree three levels deep (type, name, language), each level
// a directory table of 16 bytes followed by its 8-byte entries, named entries
// first (by name), then numbered ones (by number).  The leaves are 16-byte data
// entries that give the data's address (an RVA) and size.  Names are counted
// UTF-16 strings inside the section.
//
//   image:  headers | .text | .data | ... | .rsrc | .reloc
//   copy:   headers | .text | .data | ... | .reloc | .rsrc (new)
//
// A copy gets its new resource section as the last section of the image: the
// old one is dropped, and a base-relocation section that stood behind it moves
// down into its place (nothing refers to that section but its data directory,
// and its contents name addresses of the other sections, which stay where they
// are).  An image without a resource section gets a new section header, when
// the headers have room for one.
#ifndef SATCHEL_PE_RESOURCES_H
#define SATCHEL_PE_RESOURCES_H

#include <stdint.h>

#include <string>
#include <vector>

#include "pe_image.h"

// Resource types that the tool writes or shows.
#define PE_RT_ICON 3
#define PE_RT_GROUP_ICON 14
#define PE_RT_VERSION 16
#define PE_RT_MANIFEST 24

// A type, name or language: a number, or (named) a UTF-16 string.
struct ResourceId {
  bool named = false;
  uint16_t number = 0;
  std::u16string name;
};

struct Resource {
  ResourceId type, name;
  uint16_t language = 0;
  std::vector<unsigned char> data;
};

// The image's resources in tree order.  An image without a resource directory
// has none.  False with *problem when the section is not well formed: a table,
// entry, name or data outside the section or the image's bytes, a tree that is
// not three levels deep or that refers back into itself.  `file` must hold the
// image's sections.
bool ReadResources(const std::vector<unsigned char> &file, const PeImage &image,
                   std::vector<Resource> *resources, std::string *problem);

// The bytes of a resource section that lies at `rva`, holding `resources`
// (two with the same type, name and language: the later one is kept).
std::vector<unsigned char> BuildResourceSection(const std::vector<Resource> &resources,
                                                uint32_t rva);

// Replaces the resources of the image in `file` (its exact bytes, nothing
// behind the last section) by `resources`, laid out as above; sizes, the
// resource and base-relocation directories follow.  The checksum field is
// left for the caller (PeChecksum).  False with *problem, `file` unchanged,
// when the image cannot take a new section: another section than the
// base relocations behind the resource section, a directory that points
// into a section that would move, no room for a section header, a symbol
// table or certificate behind the sections.
bool ReplaceResources(std::vector<unsigned char> *file, const std::vector<Resource> &resources,
                      std::string *problem);

// The PE checksum (the sum that the image's CheckSum field holds) of a file,
// taken piece by piece as it is written: 16-bit little-endian words added
// with the carry folded back, the CheckSum field itself counted as zeros,
// then the file's length added.
struct PeChecksum {
  uint64_t checksumOffset = 0;  // the file offset of the CheckSum field
  uint64_t length = 0;          // bytes taken so far
  uint32_t sum = 0;
};
void AddToPeChecksum(PeChecksum *checksum, const unsigned char *data, size_t size);
uint32_t FinishPeChecksum(const PeChecksum &checksum);

#endif  // SATCHEL_PE_RESOURCES_H
