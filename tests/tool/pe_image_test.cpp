// The tool's one PE image reader against binutils' reading of the Windows
// programs that the builds made, and against files that are no PE image.
#include <stdlib.h>

#include <ctype.h>

#include <map>
#include <sstream>

#include "pe_image.h"
#include "tool_test_util.h"

namespace {

// What objdump -h -p says of a PE image: header fields by name, the format,
// and per section its name, address (less the image base) and file offset.
struct ObjdumpView {
  std::string format;
  std::map<std::string, std::string> fields;
  std::vector<std::string> sectionNames;
  std::vector<uint64_t> sectionAddresses, sectionOffsets;
};

ObjdumpView Objdump(const std::string &path) {
  RunResult result = RunProgram({"x86_64-w64-mingw32-objdump", "-h", "-p", path});
  EXPECT_EQ(result.status, 0) << result.err;
  ObjdumpView view;
  std::istringstream lines(result.out);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream words(line);
    std::string first, second, third, fourth, fifth, sixth;
    words >> first >> second >> third >> fourth >> fifth >> sixth;
    if (second == "file" && third == "format") view.format = fourth;
    else if (!first.empty() && isalpha((unsigned char)first[0]) && !second.empty() &&
             view.fields.count(first) == 0)
      view.fields[first] = second;
    else if (!first.empty() && isdigit((unsigned char)first[0]) && second[0] == '.' &&
             !sixth.empty()) {
      view.sectionNames.push_back(second);
      view.sectionAddresses.push_back(strtoull(fourth.c_str(), nullptr, 16));
      view.sectionOffsets.push_back(strtoull(sixth.c_str(), nullptr, 16));
    }
  }
  return view;
}

uint64_t Hex(const std::string &text) { return strtoull(text.c_str(), nullptr, 16); }

}  // namespace

class PeImageTest : public ToolTest {};

TEST_F(PeImageTest, ReadsTheBuiltProgramsAsBinutilsDoes) {
  for (const char *name : {"satchel-launcher.exe", "satchel-bootstrap.exe", "satchel-java.exe",
                           "x86_64/satchel-launcher.exe", "x86_64/satchel-bootstrap.exe",
                           "x86_64/satchel-java.exe"}) {
    SCOPED_TRACE(name);
    std::string path = DataFolder() + name;
    PeImage image;
    std::string error;
    ASSERT_TRUE(ReadPeImageFile(path, &image, &error)) << error;
    ObjdumpView view = Objdump(path);
    EXPECT_EQ(image.machine, view.format == "pei-i386" ? PE_MACHINE_I386 : PE_MACHINE_AMD64)
        << view.format;
    EXPECT_EQ(image.optionalMagic, Hex(view.fields["Magic"]));
    EXPECT_EQ(image.sectionAlignment, Hex(view.fields["SectionAlignment"]));
    EXPECT_EQ(image.fileAlignment, Hex(view.fields["FileAlignment"]));
    EXPECT_EQ(image.sizeOfImage, Hex(view.fields["SizeOfImage"]));
    EXPECT_EQ(image.sizeOfHeaders, Hex(view.fields["SizeOfHeaders"]));
    EXPECT_EQ(image.subsystem, Hex(view.fields["Subsystem"]));
    EXPECT_FALSE(PeImageIsSigned(image));
    ASSERT_EQ(image.sections.size(), view.sectionNames.size());
    uint64_t base = Hex(view.fields["ImageBase"]);
    for (size_t i = 0; i < image.sections.size(); i++) {
      EXPECT_EQ(image.sections[i].name, view.sectionNames[i]);
      EXPECT_EQ(image.sections[i].virtualAddress + base, view.sectionAddresses[i]);
      if (image.sections[i].rawSize != 0)
        EXPECT_EQ(image.sections[i].rawOffset, view.sectionOffsets[i]);
    }
    // The subsystem field lies where the reader says.
    Bytes bytes = ReadBytes(path);
    EXPECT_EQ(bytes[image.subsystemOffset] | bytes[image.subsystemOffset + 1] << 8, image.subsystem);
  }
}

TEST_F(PeImageTest, WhatIsNoPeImageIsRefused) {
  Bytes real = ReadBytes(DataFolder() + "satchel-launcher.exe");
  uint32_t pe = real[0x3C] | real[0x3D] << 8 | real[0x3E] << 16 | (uint32_t)real[0x3F] << 24;
  Bytes noPe = real;
  noPe[pe] = 'X';
  Bytes badMagic = real;
  badMagic[pe + 24] = 0x07;
  Bytes cut(real.begin(), real.begin() + pe + 100);  // the section table is gone
  Bytes text = BytesOf("MZ is how this text begins, and nothing in it is a program.\n");
  for (const Bytes &bytes : {noPe, badMagic, cut, text, Bytes()}) {
    WriteBytes(Path("file"), bytes);
    PeImage image;
    std::string error;
    EXPECT_FALSE(ReadPeImageFile(Path("file"), &image, &error));
    EXPECT_EQ(error, Path("file") + ": not a Windows executable");
  }
  PeImage image;
  std::string error;
  EXPECT_FALSE(ReadPeImageFile(Path("missing"), &image, &error));
  EXPECT_NE(error.find("cannot open"), std::string::npos) << error;
}
