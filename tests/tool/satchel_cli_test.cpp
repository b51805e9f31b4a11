// The satchel program, run as a user runs it: pack, list, verify, extract,
// and what each refuses.
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "block_deflate.h"
#include "bundle_writer.h"
#include "file_names.h"
#include "tool_files.h"
#include "payload.h"
#include "tool_test_util.h"

namespace {

bool Contains(const std::string &text, const std::string &part) {
  return text.find(part) != std::string::npos;
}

class SatchelTest : public ToolTest {
 protected:
  void SetUp() override {
    ToolTest::SetUp();
    if (HasFatalFailure()) return;
    mkdir(Path("dist").c_str(), 0755);
    msiContent = NoiseContent(120000, 7);
    exeContent = ProgramContent(300000, 8);
    WriteBytes(Path("dist/Product.msi"), msiContent);
    WriteBytes(Path("dist/setup.exe"), exeContent);
    WriteBytes(Path("readme.txt"), BytesOf("read me\n"));
    // The real stubs: the i686 installer launcher, and the Java front end of
    // this platform.
    stub = CopyRealStub("satchel-launcher.exe", "stub.exe");
    javaStub = CopyRealStub("satchel-java", "java-stub");
    ASSERT_FALSE(HasFailure());
    headerAt = (ReadBytes(stub).size() + 511) / 512 * 512;
  }

  RunResult Pack(std::vector<std::string> extra, const std::string &out = "out.exe") {
    std::vector<std::string> args = {"pack", "--stub", stub, "-o", Path(out)};
    args.insert(args.end(), extra.begin(), extra.end());
    return RunSatchel(args);
  }

  // An installer bundle whose two extra files are one file where case is
  // ignored.
  BundleContents CollidingContents() {
    BundleContents contents;
    contents.files = {{"msi", msiContent}, {"exe", exeContent}, {"files/A.cab", BytesOf("a")},
                      {"files/a.CAB", BytesOf("b")}};
    contents.properties = {{"msi", "Product.msi"}, {"exe", "setup.exe"}};
    return contents;
  }

  std::vector<std::string> InstallerArgs() {
    return {"--msi", Path("dist/Product.msi"), "--exe", Path("dist/setup.exe"), "--file",
            "readme=" + Path("readme.txt"), "--property", "Version=2.0"};
  }

  // Expects the command to fail naming `named` and giving `reason`, with no
  // bundle written and nothing left behind in the folder.
  void ExpectRefused(const RunResult &run, const std::string &named, const std::string &reason,
                     const std::vector<std::string> &before) {
    EXPECT_NE(0, run.status);
    EXPECT_TRUE(Contains(run.err, named)) << run.err;
    EXPECT_TRUE(Contains(run.err, reason)) << run.err;
    EXPECT_FALSE(FileExists(Path("out.exe")));
    EXPECT_EQ(before, FolderNames(dir));
  }

  // Runs `verify` on a file of the scratch folder; expects it to find the
  // bundle broken (exit status 1) with `reason` in its messages.
  RunResult ExpectVerifyFails(const std::string &name, const std::string &reason) {
    RunResult run = RunSatchel({"verify", Path(name)});
    EXPECT_EQ(1, run.status) << run.out;
    EXPECT_TRUE(Contains(run.err, reason)) << run.err;
    return run;
  }

  // Compressed bytes of an entry of a bundle: file offset and size.
  void EntryRange(const std::string &bundle, const char *name, size_t *offset, size_t *size) {
    ASSERT_NO_FATAL_FAILURE(OpenOrFail(bundle));
    const char *message = nullptr;
    FileEntry *entry = nullptr;
    ASSERT_TRUE(FindFileEntry(name, &entry, &message)) << message;
    *offset = GetPayloadEntryDataStart() + entry->offset;
    *size = entry->compressedSize;
    ClosePayload();
  }

  std::string stub, javaStub;
  size_t headerAt = 0;  // where the payload header of a bundle packed behind `stub` stands
  Bytes msiContent, exeContent;
};

TEST_F(SatchelTest, PackListVerifyExtractRoundTrip) {
  RunResult run = Pack(InstallerArgs());
  ASSERT_EQ(0, run.status) << run.err;

  ASSERT_NO_FATAL_FAILURE(OpenOrFail(Path("out.exe")));
  EXPECT_STREQ("Product.msi", FindProperty("msi"));
  EXPECT_STREQ("setup.exe", FindProperty("exe"));
  EXPECT_STREQ("2.0", FindProperty("Version"));
  EXPECT_STREQ("msiexereadme", GetConcatenatedNames());
  // The entry data follows the header and the table of contents.
  EXPECT_GT(GetPayloadEntryDataStart(), (int32_t)headerAt + 36);
  ClosePayload();

  run = RunSatchel({"list", Path("out.exe")});
  ASSERT_EQ(0, run.status) << run.err;
  EXPECT_TRUE(Contains(run.out, "header at offset " + std::to_string(headerAt))) << run.out;
  EXPECT_TRUE(Contains(run.out, "120000  msi")) << run.out;
  EXPECT_TRUE(Contains(run.out, "300000  exe")) << run.out;
  EXPECT_TRUE(Contains(run.out, "msi = \"Product.msi\"")) << run.out;
  EXPECT_TRUE(Contains(run.out, "Version = \"2.0\"")) << run.out;

  run = RunSatchel({"list", "--json", Path("out.exe")});
  ASSERT_EQ(0, run.status) << run.err;
  EXPECT_TRUE(Contains(run.out, "\"offset\": " + std::to_string(headerAt) + ", \"fileEntryCount\": 3"))
      << run.out;
  EXPECT_TRUE(Contains(run.out, "{\"name\": \"exe\", \"offset\": ")) << run.out;
  EXPECT_TRUE(Contains(run.out, "\"uncompressedSize\": 300000")) << run.out;
  EXPECT_TRUE(Contains(run.out, "{\"key\": \"exe\", \"value\": \"setup.exe\"")) << run.out;

  run = RunSatchel({"verify", Path("out.exe")});
  EXPECT_EQ(0, run.status) << run.err;
  EXPECT_TRUE(Contains(run.out, "OK (3 entries, 4 properties")) << run.out;

  run = RunSatchel({"extract", Path("out.exe"), "msi", "-o", Path("msi.out")});
  ASSERT_EQ(0, run.status) << run.err;
  EXPECT_EQ(msiContent, ReadBytes(Path("msi.out")));
  run = RunSatchel({"extract", Path("out.exe"), "exe", "-o", Path("exe.out")});
  ASSERT_EQ(0, run.status) << run.err;
  EXPECT_EQ(exeContent, ReadBytes(Path("exe.out")));
  run = RunSatchel({"extract", Path("out.exe"), "readme", "-o", "-"});
  ASSERT_EQ(0, run.status) << run.err;
  EXPECT_EQ("read me\n", run.out);

  run = RunSatchel({"extract", Path("out.exe"), "nothing", "-o", Path("x.out")});
  EXPECT_NE(0, run.status);
  EXPECT_TRUE(Contains(run.err, "no entry named \"nothing\"")) << run.err;
  EXPECT_FALSE(FileExists(Path("x.out")));
}

TEST_F(SatchelTest, PackIsDeterministicAndMatchesTheWriter) {
  // The same bytes on every number of threads (the exe spans three blocks).
  ASSERT_EQ(0, Pack(InstallerArgs(), "a.exe").status);
  for (const char *threads : {"1", "2", "8"}) {
    std::vector<std::string> args = InstallerArgs();
    args.insert(args.end(), {"-j", threads});
    ASSERT_EQ(0, Pack(args, "b.exe").status) << threads;
    EXPECT_EQ(ReadBytes(Path("a.exe")), ReadBytes(Path("b.exe"))) << threads << " threads";
  }

  BundleContents contents;
  contents.files = {{"msi", msiContent}, {"exe", exeContent}, {"readme", BytesOf("read me\n")}};
  contents.properties = {{"msi", "Product.msi"}, {"exe", "setup.exe"}, {"Version", "2.0"}};
  std::string error;
  ASSERT_TRUE(WriteBundle(stub, Path("c.exe"), contents, &error)) << error;
  EXPECT_EQ(ReadBytes(Path("a.exe")), ReadBytes(Path("c.exe")));

  // The layout byte for byte, put together here from zlib alone: the stub,
  // zeros to the next 512-byte boundary, the header, the table (the file records in order, then the
  // properties, the checksums last) and the entries back to back, each cut
  // into blocks.
  Bytes toc, data, expected = ReadBytes(stub);
  auto u32 = [](Bytes *out, uint32_t value) {
    for (int i = 0; i < 4; ++i) out->push_back((unsigned char)(value >> (8 * i)));
  };
  std::string checksums;
  for (const BundleFile &file : contents.files) {
    Bytes compressed = DeflateInBlocks(file.content, kDeflateBlockSize);
    toc.push_back(1);
    toc.insert(toc.end(), file.name.begin(), file.name.end());
    toc.push_back(0);
    u32(&toc, (uint32_t)data.size());
    u32(&toc, (uint32_t)compressed.size());
    u32(&toc, (uint32_t)file.content.size());
    data.insert(data.end(), compressed.begin(), compressed.end());
    char crc[16];
    snprintf(crc, sizeof crc, "%s%08lx", checksums.empty() ? "" : " ",
             crc32(0, file.content.data(), (uInt)file.content.size()));
    checksums += crc;
  }
  contents.properties.push_back({PAYLOAD_CHECKSUM_KEY, checksums});
  for (const BundleProperty &property : contents.properties) {
    toc.push_back(2);
    toc.insert(toc.end(), property.key.begin(), property.key.end());
    toc.push_back(0);
    toc.insert(toc.end(), property.value.begin(), property.value.end());
    toc.push_back(0);
  }
  Bytes tocCompressed = Deflate(toc);
  expected.resize((expected.size() + 511) / 512 * 512, 0);
  Bytes header = BytesOf(PAYLOAD_MAGIC);
  u32(&header, 3);
  u32(&header, (uint32_t)tocCompressed.size());
  u32(&header, (uint32_t)toc.size());
  u32(&header, (uint32_t)data.size());
  u32(&header, (uint32_t)crc32(0, header.data(), 32));
  for (const Bytes *part : {&header, &tocCompressed, &data})
    expected.insert(expected.end(), part->begin(), part->end());
  EXPECT_TRUE(expected == ReadBytes(Path("a.exe"))) << "the bundle's layout changed";
}

// Inputs pass through the compressor a piece at a time: an msi of 160 MiB
// packs in an address space of 64 MiB (the whole file would not fit in it),
// and reads back whole.
TEST_F(SatchelTest, PackStreamsInputsLargerThanItsMemory) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer's shadow memory needs more address space than this";
#endif
  const off_t size = 160 << 20;
  WriteBytes(Path("large.msi"), NoiseContent(70000, 3));
  ASSERT_EQ(0, truncate(Path("large.msi").c_str(), size));
  RunResult run = RunSatchel({"pack", "--stub", stub, "-o", Path("out.exe"), "--msi",
                              Path("large.msi"), "--exe", Path("dist/setup.exe")},
                             0, 64l << 20);
  ASSERT_EQ(0, run.status) << run.err;
  run = RunSatchel({"verify", Path("out.exe")}, 0, 64l << 20);
  EXPECT_EQ(0, run.status) << run.err << run.out;
  EXPECT_TRUE(Contains(run.out, "every entry's CRC-32 matches")) << run.out;
  ASSERT_EQ(0, RunSatchel({"extract", Path("out.exe"), "msi", "-o", Path("large.out")}).status);
  EXPECT_EQ(0, system(("cmp -s " + Path("large.msi") + " " + Path("large.out")).c_str()));
}

// pack-java likewise: jar entries larger than the tool's address space pass
// from the jar to the bundle a piece at a time, read back whole, and a large
// class file still gives the release it needs.  Such an entry that fails its
// check in the jar (here its CRC-32) is caught as it is read.
TEST_F(SatchelTest, PackJavaStreamsJarEntriesLargerThanItsMemory) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer's shadow memory needs more address space than this";
#endif
  const long memory = 64l << 20;
  const uint64_t large = 80u << 20;
  Bytes bigClass = TextContent(3 << 20, 5);
  const unsigned char java25[] = {0xCA, 0xFE, 0xBA, 0xBE, 0, 0, 0, 69};
  std::copy(java25, java25 + sizeof java25, bigClass.begin());
  std::vector<size_t> records = WriteZip(
      Path("large.jar"),
      {{"META-INF/MANIFEST.MF", BytesOf("Manifest-Version: 1.0\r\nMain-Class: app.Main\r\n\r\n")},
       {"app/Main.class", Bytes{0xCA, 0xFE, 0xBA, 0xBE, 0, 0, 0, 52}},
       {"data/zeros1.bin", Bytes(), large},
       {"app/Big.class", bigClass},
       {"data/zeros2.bin", Bytes(), large}});
  RunResult run = RunSatchel(
      {"pack-java", "--stub", javaStub, "-o", Path("app.exe"), Path("large.jar")}, 0, memory);
  ASSERT_EQ(0, run.status) << run.err;
  run = RunSatchel({"verify", Path("app.exe")}, 0, memory);
  EXPECT_EQ(0, run.status) << run.err << run.out;
  run = RunSatchel({"list", Path("app.exe")});
  EXPECT_TRUE(Contains(run.out, "Java-Min-Version = \"25\"")) << run.out;
  ASSERT_EQ(0, RunSatchel({"extract", Path("app.exe"), "app/Big.class", "-o", Path("big.out")}).status);
  EXPECT_TRUE(bigClass == ReadBytes(Path("big.out")));
  ASSERT_EQ(0, RunSatchel({"extract", Path("app.exe"), "data/zeros2.bin", "-o", Path("zeros.out")}).status);
  struct stat info;
  ASSERT_EQ(0, stat(Path("zeros.out").c_str(), &info));
  EXPECT_EQ(large, (uint64_t)info.st_size);
  EXPECT_EQ(0, system(("cmp -s -n " + std::to_string(large) + " " + Path("zeros.out") + " /dev/zero").c_str()));

  Bytes damaged = ReadBytes(Path("large.jar"));
  damaged[records[4] + 16] ^= 1;  // the central directory's CRC-32 of data/zeros2.bin
  WriteBytes(Path("damaged.jar"), damaged);
  std::vector<std::string> before = FolderNames(dir);
  run = RunSatchel({"pack-java", "--stub", javaStub, "-o", Path("out.exe"), Path("damaged.jar")}, 0,
                   memory);
  ExpectRefused(run, Path("damaged.jar") + ": data/zeros2.bin: ", "CRC", before);
}

// An input that grows while it is read is refused, not packed as it stood
// at some moment with sizes and checksums of another.
TEST_F(SatchelTest, RefusesAnInputThatChangesWhileItIsRead) {
  WriteBytes(Path("growing.msi"), NoiseContent(8 << 20, 4));
  std::vector<std::string> before = FolderNames(dir);
  std::atomic<bool> done(false);
  std::thread writer([&] {
    FILE *file = fopen(Path("growing.msi").c_str(), "ab");
    while (file && !done) {
      fputc('x', file);
      fflush(file);
      usleep(1000);
    }
    if (file) fclose(file);
  });
  RunResult run = Pack({"--msi", Path("growing.msi"), "--exe", Path("dist/setup.exe")});
  done = true;
  writer.join();
  ExpectRefused(run, "growing.msi", "changed while it was read", before);
}

TEST_F(SatchelTest, RefusesLongPropertyKeys) {
  auto withProperty = [this](const std::string &property) {
    std::vector<std::string> args = InstallerArgs();
    args.insert(args.end(), {"--property", property});
    return args;
  };
  ASSERT_EQ(0, Pack(withProperty(std::string(31, 'k') + "=v"), "ok.exe").status);
  std::vector<std::string> before = FolderNames(dir);
  ExpectRefused(Pack(withProperty(std::string(32, 'k') + "=v")), "out.exe", "32 bytes long",
                before);
  // The checksum property is written by the tool alone.
  ExpectRefused(Pack(withProperty(PAYLOAD_CHECKSUM_KEY "=00000000")), "out.exe",
                "the entry checksums that the tool writes", before);
}

TEST_F(SatchelTest, RefusesMsiAndExeFilesWhoseNamesAreNotPlainWindowsNames) {
  struct Case {
    const char *file;
    const char *reason;
  } cases[] = {
      {"CON", "reserved device name"},     {"con.txt", "reserved device name"},
      {"Lpt9.msi", "reserved device name"}, {"AUX.tar.gz", "reserved device name"},
      {"a:b.msi", "':'"},                   {"a*b.msi", "'*'"},
      {"a?b.msi", "'?'"},                   {"a\"b.msi", "'\"'"},
      {"a<b.msi", "'<'"},                   {"a>b.msi", "'>'"},
      {"a|b.msi", "'|'"},                   {"a\\b.msi", "'\\'"},
      {"dot.", "ends with a dot"},          {"space ", "ends with a space"},
      {"ctl\x01.msi", "control character"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.file);
    std::string path = Path("dist/") + c.file;
    WriteBytes(path, BytesOf("x"));
    std::vector<std::string> before = FolderNames(dir);
    ExpectRefused(Pack({"--msi", path}), path, c.reason, before);
    ExpectRefused(Pack({"--exe", path}), path, c.reason, before);
    unlink(path.c_str());
  }
  // A path that ends in a separator names no file.
  std::vector<std::string> before = FolderNames(dir);
  ExpectRefused(Pack({"--msi", Path("dist/")}), "dist/", "empty", before);
}

TEST_F(SatchelTest, RefusesLauncherNamesGivenAsProperties) {
  std::vector<std::string> before = FolderNames(dir);
  std::string smiles;
  for (int i = 0; i < 128; ++i) smiles += "\xf0\x9f\x98\x80";
  for (std::string value : {std::string(""), std::string("."), std::string(".."),
                            std::string("a/b.msi"), std::string(256, 'n'), smiles, std::string("COM0"), std::string("lpt0.msi")}) {
    SCOPED_TRACE(value.substr(0, 20));
    ExpectRefused(Pack({"--file", "msi=" + Path("readme.txt"), "--exe", Path("dist/setup.exe"),
                        "--property", "msi=" + value}),
                  "out.exe", "not a plain Windows file name", before);
  }
  EXPECT_EQ(0, Pack({"--file", "msi=" + Path("readme.txt"), "--exe", Path("dist/setup.exe"),
                     "--property", "msi=" + std::string(255, 'n')})
                   .status);
}

TEST_F(SatchelTest, RefusesMsiAndExeNamesEqualIgnoringCase) {
  mkdir(Path("other").c_str(), 0755);
  WriteBytes(Path("other/SETUP.EXE"), BytesOf("x"));
  std::vector<std::string> before = FolderNames(dir);
  ExpectRefused(Pack({"--msi", Path("other/SETUP.EXE"), "--exe", Path("dist/setup.exe")}),
                "SETUP.EXE", "same when case is ignored", before);
  ExpectRefused(Pack({"--msi", Path("dist/Product.msi"), "--file", "exe=" + Path("dist/setup.exe"),
                      "--property", "exe=product.MSI"}),
                "out.exe", "where case is ignored: they are one file", before);
}

// Every file that the launcher writes into its folder, extra files
// included, must be a file of its own where case is ignored; pack refuses
// what the launcher could only fail on, and verify refuses such a bundle
// made by other means.
TEST_F(SatchelTest, RefusesFilesThatAreOneFileWhenCaseIsIgnored) {
  std::vector<std::string> before = FolderNames(dir);
  const std::string msi = Path("dist/Product.msi"), exe = Path("dist/setup.exe"),
                    readme = Path("readme.txt");
  struct Case {
    std::vector<std::string> files;
    std::string first, second;
  } cases[] = {
      {{"files/product.msi=" + readme}, "Product.msi", "product.msi"},
      {{"files/SETUP.EXE=" + readme}, "setup.exe", "SETUP.EXE"},
      {{"files/X.CAB=" + readme, "files/x.cab=" + readme}, "X.CAB", "x.cab"},
      {{"files/\xc3\x84.cab=" + readme, "files/\xc3\xa4.CAB=" + readme}, "\xc3\x84.cab", "\xc3\xa4.CAB"},
  };
  for (const Case &c : cases) {
    std::vector<std::string> args = {"--msi", msi, "--exe", exe};
    for (const std::string &file : c.files) args.insert(args.end(), {"--file", file});
    ExpectRefused(Pack(args), "\"" + c.first + "\" and \"" + c.second + "\"", "one file", before);
  }
  ASSERT_EQ(0, Pack({"--msi", msi, "--exe", exe, "--file", "files/x.cab=" + readme, "--file",
                     "files/y.cab=" + readme})
                   .status);

  BundleContents contents = CollidingContents();
  std::string error;
  ASSERT_TRUE(WriteBundle(stub, Path("colliding.exe"), contents, &error)) << error;
  ExpectVerifyFails("colliding.exe", "\"A.cab\" and \"a.CAB\"");

  contents.files.resize(2);
  contents.files.push_back({"bad\xff", BytesOf("c")});
  ASSERT_TRUE(WriteBundle(stub, Path("not-utf8.exe"), contents, &error)) << error;
  ExpectVerifyFails("not-utf8.exe", "not well-formed UTF-8");
}

// A property that pack writes itself is refused rather than taking the
// place of the option's value.
TEST_F(SatchelTest, RefusesPropertiesThatPackWritesItself) {
  std::vector<std::string> before = FolderNames(dir);
  const std::string msi = Path("dist/Product.msi"), exe = Path("dist/setup.exe");
  struct Case {
    std::vector<std::string> args;
    std::string property, option;
  } cases[] = {
      {{"--msi", msi, "--exe", exe, "--property", "msi=Other.msi"}, "msi", "--msi"},
      {{"--msi", msi, "--exe", exe, "--property", "exe=other.exe"}, "exe", "--exe"},
      {{"--msi", msi, "--exe", exe, "--pass-arguments", "--property", "pass-arguments=0"},
       "pass-arguments", "--pass-arguments"},
      {{"--msi", msi, "--property", "pass-arguments=0"}, "pass-arguments", "ready bootstrap"},
      {{"--msi", msi, "--exe", exe, "--property", "entry-crc32=00000000"}, "entry-crc32", ""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.property);
    RunResult run = Pack(c.args);
    ExpectRefused(run, c.property, c.option, before);
  }
}

TEST_F(SatchelTest, RefusesABundleOf2GiBOrMore) {
  // The real launcher, then zeros (sparse) up to just short of 2 GiB.
  std::string huge = CopyRealStub("satchel-launcher.exe", "huge.stub");
  ASSERT_EQ(0, truncate(huge.c_str(), (off_t)((1u << 31) - 100000)));
  std::vector<std::string> before = FolderNames(dir);
  RunResult run = RunSatchel({"pack", "--stub", huge, "-o", Path("out.exe"), "--msi",
                              Path("dist/Product.msi"), "--exe", Path("dist/setup.exe")});
  ExpectRefused(run, "out.exe", "2 GiB or larger", before);
}

TEST_F(SatchelTest, RefusesMissingInputsAndBadArguments) {
  std::vector<std::string> before = FolderNames(dir);
  ExpectRefused(Pack({"--msi", Path("dist/none.msi")}), "none.msi", "cannot open", before);
  ExpectRefused(RunSatchel({"pack", "--stub", Path("nostub"), "-o", Path("out.exe")}), "nostub",
                "cannot open", before);
  ExpectRefused(Pack({"--file", "noequals"}), "--file", "NAME=PATH", before);
  const std::string msi = Path("dist/Product.msi"), exe = Path("dist/setup.exe");
  ExpectRefused(Pack({"--msi", msi, "--exe", exe, "--file", "x=" + Path("readme.txt"), "--file",
                      "x=" + Path("readme.txt")}),
                "readme.txt", "given twice", before);
  // What a launcher could not run, refused before anything is read or written.
  WriteBytes(Path("dist/empty.exe"), Bytes());
  // Icon files that are none: no images, an image beyond the file's end, an
  // image that is neither a bitmap nor a PNG.
  Bytes directory = {0, 0, 1, 0, 1, 0, 16, 16, 0, 0, 1, 0, 32, 0, 40, 0, 0, 0, 22, 0, 0, 0};
  WriteBytes(Path("dist/none.ico"), Bytes{0, 0, 1, 0, 0, 0});
  WriteBytes(Path("dist/short.ico"), directory);
  Bytes odd = directory;
  odd.resize(directory.size() + 40, 'x');
  WriteBytes(Path("dist/odd.ico"), odd);
  struct Case {
    std::vector<std::string> args;
    const char *named, *reason;
  } cases[] = {
      {{"--msi", msi, "--msi", msi, "--exe", exe}, "--msi", "given twice"},
      {{"--msi", msi, "--exe", exe, "--exe", exe}, "--exe", "given twice"},
      {{"--msi", msi, "--exe", Path("dist/empty.exe")}, "empty.exe", "the exe is empty"},
      {{"--msi", msi, "--exe", exe, "--file", "=" + Path("readme.txt")}, "--file",
       "the entry name is empty"},
      {{"--msi", Path("dist"), "--exe", exe}, "dist", "is a folder, not a file"},
      {{"--msi", msi, "--file", "exe=" + Path("dist/empty.exe"), "--property", "exe=setup.exe"},
       "empty.exe", "the exe is empty"},
      // Without both an msi and an exe the launcher stops before it starts anything.
      {{"--exe", exe}, "out.exe", "needs both an msi and an exe: no msi is given"},
      {{"--msi", msi, "--file", "exe=" + exe, "--property", "Version=2"}, "out.exe",
       "the entry \"exe\" has no property \"exe\""},
      {{"--file", "msi=" + msi, "--exe", exe}, "out.exe",
       "the entry \"msi\" has no property \"msi\""},
      {{"--property", "msi=Setup.msi", "--exe", exe}, "out.exe",
       "the property \"msi\" names a file but no entry \"msi\" holds it"},
      {{"--file", "readme=" + Path("readme.txt")}, "out.exe", "no msi is given"},
      // The bundle's icon, version information and manifest.
      {{"--msi", msi, "--exe", exe, "--icon", Path("readme.txt")}, "readme.txt",
       "not a Windows icon file (.ico): it does not begin with an icon directory"},
      {{"--msi", msi, "--exe", exe, "--icon", Path("dist/none.ico")}, "none.ico", "it holds no image"},
      {{"--msi", msi, "--exe", exe, "--icon", Path("dist/short.ico")}, "short.ico",
       "image 1 lies outside the file"},
      {{"--msi", msi, "--exe", exe, "--icon", Path("dist/odd.ico")}, "odd.ico",
       "image 1 is neither a bitmap nor a PNG"},
      {{"--msi", msi, "--exe", exe, "--icon", Path("dist/missing.ico")}, "missing.ico", "cannot open"},
      {{"--msi", msi, "--version-info", "Product=X"}, "--version-info Product=X", "unknown key"},
      {{"--msi", msi, "--version-info", "ProductName"}, "--version-info ProductName", "KEY=VALUE"},
      {{"--msi", msi, "--version-info", "FileVersion=1.2.3.4.5"}, "FileVersion=1.2.3.4.5",
       "one to four numbers from 0 to 65535"},
      {{"--msi", msi, "--version-info", "ProductVersion=2.65536"}, "ProductVersion=2.65536",
       "one to four numbers"},
      {{"--msi", msi, "--version-info", "ProductVersion=1.0-beta"}, "ProductVersion=1.0-beta",
       "one to four numbers"},
      {{"--msi", msi, "--version-info", "FileVersion=.1"}, "FileVersion=.1", "one to four numbers"},
      {{"--msi", msi, "--version-info", "CompanyName=\xff"}, "CompanyName", "not well-formed UTF-8"},
      {{"--msi", msi, "--version-info", "Comments=a", "--version-info", "Comments=b"}, "Comments",
       "given twice"},
      {{"--msi", msi, "--manifest", "admin"}, "--manifest admin", "unknown level"},
      {{"--msi", msi, "--manifest"}, "--manifest", "needs a value"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.reason);
    ExpectRefused(Pack(c.args), c.named, c.reason, before);
  }
  EXPECT_EQ(2, RunSatchel({"pack", "-o", Path("out.exe")}).status);
  EXPECT_EQ(2, Pack({"--msi", msi, "--manifest", "asinvoker"}).status);
  EXPECT_EQ(2, RunSatchel({"pack-java", "--stub", javaStub, "-o", Path("out.exe"), Path("app.jar"),
                           "--version-info", "Nonsense=1"}).status);
  EXPECT_EQ(2, RunSatchel({"frobnicate"}).status);
  EXPECT_EQ(2, RunSatchel({}).status);
}

// A folder given where a file belongs is named as one, by every command.
TEST_F(SatchelTest, AFolderForAFileIsNamedAsOne) {
  const std::string folder = Path("dist");
  std::vector<std::vector<std::string>> commands = {
      {"list", folder},
      {"verify", folder},
      {"extract", folder, "msi", "-o", Path("x.out")},
      {"pack", "--stub", folder, "-o", Path("out.exe"), "--msi", Path("dist/Product.msi"),
       "--exe", Path("dist/setup.exe")},
      {"pack-java", "--stub", javaStub, "-o", Path("out.exe"), folder},
      {"pack-java", "--stub", folder, "-o", Path("out.exe"), Path("app.jar")},
  };
  for (const auto &command : commands) {
    SCOPED_TRACE(command[0]);
    std::vector<std::string> before = FolderNames(dir);
    RunResult run = RunSatchel(command);
    EXPECT_EQ(1, run.status);
    EXPECT_EQ(0u, run.err.find("satchel: ")) << run.err;
    EXPECT_TRUE(Contains(run.err, folder + ": is a folder, not a file")) << run.err;
    EXPECT_EQ(before, FolderNames(dir));
  }
}

// An output that is also an input would be replaced while it is still to be
// read: the same path, or another name of the same file.
TEST_F(SatchelTest, RefusesAnOutputThatIsAlsoAnInput) {
  ASSERT_EQ(0, link(Path("dist/setup.exe").c_str(), Path("linked.exe").c_str()));
  ASSERT_EQ(0, Pack(InstallerArgs(), "bundle.exe").status);
  Bytes msi = ReadBytes(Path("dist/Product.msi")), bundle = ReadBytes(Path("bundle.exe"));
  struct Case {
    std::vector<std::string> args;
    std::string out;
  } cases[] = {
      {{"pack", "--stub", stub, "-o", Path("dist/Product.msi"), "--msi", Path("dist/Product.msi"),
        "--exe", Path("dist/setup.exe")}, "dist/Product.msi"},
      {{"pack", "--stub", stub, "-o", Path("linked.exe"), "--msi", Path("dist/Product.msi"),
        "--exe", Path("dist/setup.exe")}, "linked.exe"},
      {{"pack", "--stub", stub, "-o", Path("dist/../readme.txt"), "--msi",
        Path("dist/Product.msi"), "--exe", Path("dist/setup.exe"), "--file",
        "readme=" + Path("readme.txt")}, "readme.txt"},
      {{"pack", "--stub", Path("bundle.exe"), "-o", Path("bundle.exe"), "--msi",
        Path("dist/Product.msi"), "--exe", Path("dist/setup.exe")}, "bundle.exe"},
      {{"extract", Path("bundle.exe"), "msi", "-o", Path("bundle.exe")}, "bundle.exe"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.args[0] + " -o " + c.out);
    std::vector<std::string> before = FolderNames(dir);
    RunResult run = RunSatchel(c.args);
    EXPECT_EQ(1, run.status);
    EXPECT_TRUE(Contains(run.err, "is also an input") || Contains(run.err, "the bundle itself"))
        << run.err;
    EXPECT_EQ(before, FolderNames(dir));
  }
  EXPECT_EQ(msi, ReadBytes(Path("dist/Product.msi")));
  EXPECT_EQ(exeContent, ReadBytes(Path("linked.exe")));
  EXPECT_EQ(bundle, ReadBytes(Path("bundle.exe")));
}

TEST_F(SatchelTest, ExtractOfAnUnknownEntryNamesTheEntriesThatThereAre) {
  ASSERT_EQ(0, Pack(InstallerArgs()).status);
  RunResult run = RunSatchel({"extract", Path("out.exe"), "Product.msi", "-o", Path("x.msi")});
  EXPECT_EQ(1, run.status);
  EXPECT_TRUE(Contains(run.err, "no entry named \"Product.msi\"; its entries: \"msi\", \"exe\", "
                                "\"readme\"")) << run.err;
  EXPECT_FALSE(FileExists(Path("x.msi")));
}

// Signs a copy of `stub` with osslsigncode and a throw-away certificate.
std::string SignedCopy(const std::string &stub, const std::string &signedPath,
                       const std::string &folder) {
  std::string key = folder + "/signer.key", cert = folder + "/signer.crt";
  if (!FileExists(cert)) {
    RunResult made = RunProgram({"openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes",
                                 "-days", "2", "-subj", "/CN=Satchel test signer", "-keyout",
                                 key, "-out", cert, "-addext", "extendedKeyUsage=codeSigning"});
    EXPECT_EQ(0, made.status) << made.err;
  }
  RunResult run = RunProgram({"osslsigncode", "sign", "-certs", cert, "-key", key, "-n",
                              "Satchel test", "-h", "sha256", "-in", stub, "-out", signedPath});
  EXPECT_EQ(0, run.status) << run.out << run.err;
  return signedPath;
}

// --stub must be a stub of the command's kind that nobody has signed yet:
// each stub below is refused, naming what it is.
TEST_F(SatchelTest, RefusesAStubThatCouldNotRunTheBundle) {
  ASSERT_EQ(0, Pack(InstallerArgs(), "first.exe").status);
  mkdir(Path("signing").c_str(), 0755);
  std::string signedLauncher = SignedCopy(stub, Path("signing/launcher.exe"), Path("signing"));
  std::string signedJava = SignedCopy(DataFolder() + "satchel-java.exe",
                                      Path("signing/java.exe"), Path("signing"));
  ASSERT_FALSE(HasFailure());
  WriteBytes(Path("empty.bin"), Bytes());
  const std::string launcher = "pack needs the installer launcher stub";
  const std::string frontEnd = "pack-java needs the Java front end";
  struct Case {
    const char *command;
    std::string stub, reason;
  } cases[] = {
      {"pack", Path("first.exe"), "already carries a payload"},
      {"pack", Path("readme.txt"), "the stub is a text file; " + launcher},
      {"pack", Path("empty.bin"), "the stub is empty; " + launcher},
      {"pack", javaStub, "the stub is a Linux ELF program; " + launcher},
      {"pack", DataFolder() + "satchel-java.exe", "the stub is the Java front end; " + launcher},
      {"pack", DataFolder() + "x86_64/satchel-java.exe", "the stub is the Java front end"},
      {"pack", DataFolder() + "satchel-bootstrap.exe", "the stub is the ready msi bootstrap"},
      {"pack", signedLauncher, "already carries a signature; sign after packing"},
      {"pack-java", Path("readme.txt"), "the stub is a text file; " + frontEnd},
      {"pack-java", SATCHEL_TOOL, "the stub is a Linux ELF program but not the Java front end"},
      {"pack-java", stub, "the stub is the installer launcher; " + frontEnd},
      {"pack-java", DataFolder() + "x86_64/satchel-launcher.exe", "is the installer launcher"},
      {"pack-java", DataFolder() + "satchel-bootstrap.exe", "the stub is the ready msi bootstrap"},
      {"pack-java", signedJava, "already carries a signature; sign after packing"},
  };
  std::vector<std::string> before = FolderNames(dir);
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.command) + " " + c.stub);
    std::vector<std::string> args = {c.command, "--stub", c.stub, "-o", Path("out.exe")};
    if (strcmp(c.command, "pack") == 0)
      args.insert(args.end(), {"--msi", Path("dist/Product.msi"), "--exe", Path("dist/setup.exe")});
    else
      args.push_back(Path("app.jar"));
    RunResult run = RunSatchel(args);
    ExpectRefused(run, c.stub, c.reason, before);
    EXPECT_EQ(1, run.status);
  }
}

TEST_F(SatchelTest, NoPartialOutputWhenWritingFails) {
  WriteBytes(Path("out.exe"), BytesOf("the old bundle"));
  std::vector<std::string> before = FolderNames(dir);
  // Writes beyond 100000 bytes fail: the bundle is about 290 KB.
  RunResult run = RunSatchel({"pack", "--stub", stub, "-o", Path("out.exe"), "--msi",
                              Path("dist/Product.msi"), "--exe", Path("dist/setup.exe")},
                             100000);
  EXPECT_NE(0, run.status);
  EXPECT_TRUE(Contains(run.err, "out.exe")) << run.err;
  EXPECT_TRUE(Contains(run.err, "write failed")) << run.err;
  EXPECT_EQ(BytesOf("the old bundle"), ReadBytes(Path("out.exe")));
  EXPECT_EQ(before, FolderNames(dir));

  ASSERT_EQ(0, Pack(InstallerArgs(), "good.exe").status);
  before = FolderNames(dir);
  run = RunSatchel({"extract", Path("good.exe"), "exe", "-o", Path("exe.out")}, 100000);
  EXPECT_NE(0, run.status);
  EXPECT_TRUE(Contains(run.err, "exe.out")) << run.err;
  EXPECT_EQ(before, FolderNames(dir));
}

TEST_F(SatchelTest, VerifyAndExtractCatchADamagedEntry) {
  ASSERT_EQ(0, Pack(InstallerArgs()).status);
  size_t offset = 0, size = 0;
  EntryRange(Path("out.exe"), "exe", &offset, &size);
  Bytes bundle = ReadBytes(Path("out.exe"));
  for (size_t i = offset + size / 2; i < offset + size / 2 + 32; ++i) bundle[i] ^= 0x5a;
  WriteBytes(Path("damaged.exe"), bundle);

  RunResult run = ExpectVerifyFails("damaged.exe", "damaged.exe: entry \"exe\"");
  EXPECT_FALSE(Contains(run.err, "entry \"msi\"")) << run.err;

  std::vector<std::string> before = FolderNames(dir);
  run = RunSatchel({"extract", Path("damaged.exe"), "exe", "-o", Path("exe.out")});
  EXPECT_EQ(1, run.status);
  EXPECT_TRUE(Contains(run.err, "entry \"exe\"")) << run.err;
  EXPECT_EQ(before, FolderNames(dir)) << "a failed extraction left a file";
}

// One bit flipped at each of 11 places spread over the entry data, one
// bundle per place.  The msi is noise, which deflate stores as it is, so most
// flips there alter the content without any deflate error; only the entries'
// CRC-32s show them.  verify finds every one, and so does extract.
TEST_F(SatchelTest, VerifyCatchesEverySingleBitFlipInTheEntries) {
  ASSERT_EQ(0, Pack(InstallerArgs()).status);
  size_t msiAt = 0, msiSize = 0, exeAt = 0, exeSize = 0;
  EntryRange(Path("out.exe"), "msi", &msiAt, &msiSize);
  EntryRange(Path("out.exe"), "exe", &exeAt, &exeSize);
  Bytes bundle = ReadBytes(Path("out.exe"));
  size_t start = std::min(msiAt, exeAt), end = std::max(msiAt + msiSize, exeAt + exeSize);
  for (int k = 0; k < 11; ++k) {
    size_t at = start + (end - start) * (2 * k + 1) / 22;
    SCOPED_TRACE(at);
    Bytes flipped = bundle;
    flipped[at] ^= (unsigned char)(1u << (k % 8));
    WriteBytes(Path("flipped.exe"), flipped);
    const char *entry = at >= msiAt && at < msiAt + msiSize ? "msi" : "exe";
    ExpectVerifyFails("flipped.exe", std::string("entry \"") + entry + "\"");
    RunResult run = RunSatchel({"extract", Path("flipped.exe"), entry, "-o", Path("entry.out")});
    EXPECT_EQ(1, run.status);
    EXPECT_FALSE(FileExists(Path("entry.out")));
  }
}

TEST_F(SatchelTest, VerifyCatchesABrokenHeaderTableOrFile) {
  ASSERT_EQ(0, Pack(InstallerArgs()).status);
  Bytes bundle = ReadBytes(Path("out.exe"));

  Bytes badCrc = bundle;
  badCrc[headerAt + 20] ^= 1;  // tocCompressedSize, under the CRC
  WriteBytes(Path("crc.exe"), badCrc);
  RunResult run = ExpectVerifyFails("crc.exe", "no payload header");
  EXPECT_TRUE(Contains(run.err, "wrong header CRC")) << run.err;
  EXPECT_NE(0, RunSatchel({"list", Path("crc.exe")}).status);

  Bytes badToc = bundle;
  badToc[headerAt + 36] ^= 0xff;
  WriteBytes(Path("toc.exe"), badToc);
  ExpectVerifyFails("toc.exe", "cannot be indexed");

  Bytes cut(bundle.begin(), bundle.end() - 100);
  WriteBytes(Path("cut.exe"), cut);
  run = RunSatchel({"verify", Path("cut.exe")});
  EXPECT_EQ(1, run.status);
  EXPECT_TRUE(Contains(run.err, "entry \"readme\": its compressed bytes run past the end of the file") ||
              Contains(run.err, "entry \"exe\""))
      << run.err;
}

TEST_F(SatchelTest, VerifyCatchesDeclaredSizesThatAreWrong) {
  Bytes content = TextContent(50000, 4);
  Bytes packed = Deflate(content);
  Bytes stubBytes = ReadBytes(stub);
  WriteBytes(Path("more.exe"), HandBundle(stubBytes, {{"data", packed, 40000}}, {}));
  ExpectVerifyFails("more.exe", "inflates to more than its declared 40000 bytes");

  WriteBytes(Path("less.exe"), HandBundle(stubBytes, {{"data", packed, 60000}}, {}));
  ExpectVerifyFails("less.exe", "inflates to 50000 bytes, not its declared 60000");

  // Whole, and a bundle that a launcher runs.
  WriteBytes(Path("exact.exe"),
             HandBundle(stubBytes,
                        {{"msi", packed, 50000},
                         {"exe", Deflate(exeContent), (uint32_t)exeContent.size()}},
                        {{"msi", "a.msi"}, {"exe", "b.exe"}}));
  RunResult run = RunSatchel({"verify", Path("exact.exe")});
  EXPECT_EQ(0, run.status) << run.err;
}

// verify answers "would this bundle run": what each front end needs.
TEST_F(SatchelTest, VerifyAnswersWhetherTheBundleWouldRun) {
  Bytes stubBytes = ReadBytes(stub);
  Bytes data = TextContent(3000, 5), packed = Deflate(data);
  uint32_t size = (uint32_t)data.size();
  Bytes bootstrap = ReadBytes(DataFolder() + "satchel-bootstrap.exe");
  HandEntry bootstrapEntry = {"exe", Deflate(bootstrap), (uint32_t)bootstrap.size()};
  struct Case {
    std::vector<HandEntry> entries;
    std::vector<HandProperty> properties;
    const char *problem;
  } cases[] = {
      {{{"data", packed, size}}, {}, "no property \"msi\": the launcher stops with \"No msi filename\""},
      {{{"msi", packed, size}, {"exe", packed, size}}, {{"msi", "a.msi"}},
       "no property \"exe\": the launcher stops with \"No exe filename\""},
      {{{"msi", packed, size}}, {{"msi", "a.msi"}, {"exe", "b.exe"}},
       "property \"exe\" is set but there is no entry \"exe\""},
      {{{"msi", packed, size}, {"exe", Deflate(Bytes()), 0}}, {{"msi", "a.msi"}, {"exe", "b.exe"}},
       "the entry \"exe\" is empty"},
      {{{PAYLOAD_INPUT_STREAM_ENTRY, Deflate(data, BytesOf(PAYLOAD_INPUT_STREAM_ENTRY)), size}},
       {{"Main-Class", "app.Main"}}, "no entry \"" PAYLOAD_CLASS_LOADER_ENTRY "\""},
      {{{PAYLOAD_INPUT_STREAM_ENTRY, Deflate(data, BytesOf(PAYLOAD_INPUT_STREAM_ENTRY)), size}},
       {}, "no property \"Main-Class\""},
      {{{PAYLOAD_INPUT_STREAM_ENTRY, Deflate(data, BytesOf(PAYLOAD_INPUT_STREAM_ENTRY)), size}},
       {{"Main-Class", "app.Main"}}, "the main class \"app.Main\" has no entry \"app/Main.class\""},
      // The ready bootstrap installs the one .msi beside it.
      {{{"msi", packed, size}, bootstrapEntry}, {{"msi", "a.bin"}, {"exe", "b.exe"}},
       "the exe is the ready bootstrap, which installs the one file ending in .msi beside it, and "
       "the msi is named \"a.bin\""},
      {{{"msi", packed, size}, bootstrapEntry, {"files/Patch.MSI", packed, size}},
       {{"msi", "a.msi"}, {"exe", "b.exe"}},
       "\"Patch.MSI\" ends in .msi too: it stops with \"More than one .msi package beside the "
       "bootstrap program\""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.problem);
    WriteBytes(Path("runs.exe"), HandBundle(stubBytes, c.entries, c.properties));
    ExpectVerifyFails("runs.exe", c.problem);
  }
}

TEST_F(SatchelTest, VerifyCatchesAStreamThatAReaderTakesForEndedEarly) {
  // 1000 empty stored blocks (5000 bytes that produce nothing), then the
  // data: a reader's first 4096-byte fetch yields no byte, which it takes
  // for the end of the entry.
  Bytes stream;
  for (int i = 0; i < 1000; ++i) stream.insert(stream.end(), {0x00, 0x00, 0x00, 0xff, 0xff});
  stream.insert(stream.end(), {0x01, 0x05, 0x00, 0xfa, 0xff, 'h', 'e', 'l', 'l', 'o'});
  Bytes out;
  ASSERT_TRUE(Inflate(stream, Bytes(), &out));
  ASSERT_EQ(BytesOf("hello"), out);
  WriteBytes(Path("empty-blocks.exe"), HandBundle(ReadBytes(stub), {{"data", stream, 5}}, {}));
  ExpectVerifyFails("empty-blocks.exe",
                    "entry \"data\": the 4096 compressed bytes at offset 0 of the entry yield no data");
  RunResult run = RunSatchel({"extract", Path("empty-blocks.exe"), "data", "-o", Path("data.out")});
  EXPECT_EQ(1, run.status);
  // The stream itself refuses to take the empty chunk for the end.
  EXPECT_TRUE(Contains(run.err, "entry \"data\": Decompression failed")) << run.err;
  EXPECT_FALSE(FileExists(Path("data.out")));
}

TEST_F(SatchelTest, VerifyCatchesAnEntryCompressedWithTheWrongDictionary) {
  Bytes stubBytes = ReadBytes(stub);
  // An installer entry compressed against a dictionary: its reader sets none.
  Bytes content = TextContent(20000, 30);
  Bytes dictionary(content.begin(), content.begin() + 8000);
  WriteBytes(Path("installer.exe"),
             HandBundle(stubBytes,
                        {{"msi", Deflate(msiContent), (uint32_t)msiContent.size()},
                         {"exe", Deflate(content, dictionary), (uint32_t)content.size()}},
                        {{"msi", "a.msi"}, {"exe", "b.exe"}}));
  RunResult run = ExpectVerifyFails(
      "installer.exe", "entry \"exe\": the data does not inflate without a preset dictionary");
  EXPECT_FALSE(Contains(run.err, "entry \"msi\"")) << run.err;

  // A Java bundle whose InternalInputStream class was compressed with the
  // stage-3 dictionary (names and both classes) instead of the names alone.
  Bytes inputStream = TextContent(6000, 31), classLoader = TextContent(9000, 32);
  Bytes copy = classLoader;  // leans on the class loader's bytes in the dictionary
  std::string names = std::string(PAYLOAD_INPUT_STREAM_ENTRY) + PAYLOAD_CLASS_LOADER_ENTRY + "app/Copy.class";
  JavaStages stages = JavaStageDictionaries(names, inputStream, classLoader);
  std::vector<HandEntry> good = {
      {PAYLOAD_INPUT_STREAM_ENTRY, Deflate(inputStream, stages.stage1), (uint32_t)inputStream.size()},
      {PAYLOAD_CLASS_LOADER_ENTRY, Deflate(classLoader, stages.stage2), (uint32_t)classLoader.size()},
      {"app/Copy.class", Deflate(copy, stages.stage3), (uint32_t)copy.size()}};
  Bytes javaStubBytes = ReadBytes(javaStub);
  WriteBytes(Path("java-good.exe"), HandBundle(javaStubBytes, good, {{"Main-Class", "app.Copy"}}));
  run = RunSatchel({"verify", Path("java-good.exe")});
  EXPECT_EQ(0, run.status) << run.err;
  EXPECT_TRUE(Contains(run.out, "Java preset dictionaries")) << run.out;
  // The same payload behind the installer launcher, which cannot run it.
  WriteBytes(Path("java-behind-launcher.exe"), HandBundle(stubBytes, good, {{"Main-Class", "app.Copy"}}));
  ExpectVerifyFails("java-behind-launcher.exe",
                    "the program in front of the payload is the installer launcher; a Java "
                    "bundle runs only behind the Java front end");
  run = RunSatchel({"extract", Path("java-good.exe"), "app/Copy.class", "-o", Path("copy.out")});
  ASSERT_EQ(0, run.status) << run.err;
  EXPECT_EQ(copy, ReadBytes(Path("copy.out")));

  std::vector<HandEntry> bad = good;
  Bytes misfit = classLoader;
  bad[0] = {PAYLOAD_INPUT_STREAM_ENTRY, Deflate(misfit, stages.stage3), (uint32_t)misfit.size()};
  WriteBytes(Path("java-bad.exe"), HandBundle(javaStubBytes, bad, {}));
  ExpectVerifyFails("java-bad.exe", "entry \"" PAYLOAD_INPUT_STREAM_ENTRY "\"");
}

TEST_F(SatchelTest, VerifyAndExtractAJavaBundleWithClassesLargerThanTheWindow) {
  // Both internal classes are longer than 32768 bytes, so each stage's
  // window holds only the end of the class before it.
  BundleContents contents;
  contents.dictionaries = BundleDictionaries::Java;
  Bytes inputStream = TextContent(50000, 41), classLoader = TextContent(45000, 42);
  Bytes main(classLoader.end() - 20000, classLoader.end());
  main.insert(main.end(), inputStream.end() - 5000, inputStream.end());
  contents.files = {{PAYLOAD_INPUT_STREAM_ENTRY, inputStream},
                    {PAYLOAD_CLASS_LOADER_ENTRY, classLoader},
                    {"app/Main.class", main},
                    {"app/empty.txt", Bytes()}};
  contents.properties = {{"Main-Class", "app.Main"}};
  std::string error;
  ASSERT_TRUE(WriteBundle(javaStub, Path("java.exe"), contents, &error)) << error;

  RunResult run = RunSatchel({"verify", Path("java.exe")});
  EXPECT_EQ(0, run.status) << run.err;
  EXPECT_TRUE(Contains(run.out, "OK (4 entries, 2 properties, Java preset dictionaries)")) << run.out;
  for (const BundleFile &file : contents.files) {
    run = RunSatchel({"extract", Path("java.exe"), file.name, "-o", Path("entry.out")});
    ASSERT_EQ(0, run.status) << file.name << ": " << run.err;
    EXPECT_EQ(file.content, ReadBytes(Path("entry.out"))) << file.name;
  }
  run = RunSatchel({"list", "--json", Path("java.exe")});
  EXPECT_TRUE(Contains(run.out, "\"dictionaries\": \"java\"")) << run.out;

  // Written with Java dictionaries but without the InternalInputStream class,
  // a bundle is read as an installer bundle, without any dictionary: verify
  // finds the class that leans on one.
  BundleContents wrong = contents;
  wrong.files[0].name = "com/tessel/qor/kestrel/Other.class";
  wrong.dictionaries = BundleDictionaries::Java;
  ASSERT_TRUE(WriteBundle(javaStub, Path("no-stage1.exe"), wrong, &error)) << error;
  ExpectVerifyFails("no-stage1.exe",
                    "entry \"app/Main.class\": the data does not inflate without a preset dictionary");
}

TEST_F(SatchelTest, ListShowsEntriesAndPropertiesThatReadersNeverSee) {
  Bytes stubBytes = ReadBytes(stub);
  WriteBytes(Path("dup.exe"),
             HandBundle(stubBytes,
                        {{"twice", Deflate(BytesOf("one")), 3}, {"twice", Deflate(BytesOf("two")), 3}},
                        {{"k", "old"}, {"k", "new"}}));
  RunResult run = RunSatchel({"list", Path("dup.exe")});
  ASSERT_EQ(0, run.status) << run.err;
  EXPECT_TRUE(Contains(run.out, "twice  (never read: an earlier entry has this name)")) << run.out;
  EXPECT_TRUE(Contains(run.out, "k = \"old\"  (never read: a later property has this key)")) << run.out;
  EXPECT_TRUE(Contains(run.out, "k = \"new\"\n")) << run.out;
  run = RunSatchel({"extract", Path("dup.exe"), "twice", "-o", "-"});
  EXPECT_EQ("one", run.out);
}

TEST_F(SatchelTest, ListJsonStaysValidForAnyNameBytes) {
  WriteBytes(Path("odd.exe"),
             HandBundle(ReadBytes(stub), {{"bad\xff\xc3(\"q\"\\\n", Deflate(BytesOf("x")), 1},
                                          {"caf\xc3\xa9", Deflate(BytesOf("y")), 1}},
                        {{"k\t", "v"}}));
  RunResult run = RunSatchel({"list", "--json", Path("odd.exe")});
  ASSERT_EQ(0, run.status) << run.err;
  EXPECT_TRUE(Contains(run.out, "\"name\": \"bad\\ufffd\\ufffd(\\\"q\\\"\\\\\\u000a\"")) << run.out;
  EXPECT_TRUE(Contains(run.out, "\"name\": \"caf\xc3\xa9\"")) << run.out;
  EXPECT_TRUE(Contains(run.out, "\"key\": \"k\\u0009\"")) << run.out;
  run = RunSatchel({"list", Path("odd.exe")});
  ASSERT_EQ(0, run.status) << run.err;
  EXPECT_TRUE(Contains(run.out, "k\\x09 = \"v\"")) << run.out;
}

TEST_F(SatchelTest, VersionAndDefaultStub) {
  RunResult run = RunSatchel({"--version"});
  EXPECT_EQ(0, run.status);
  EXPECT_EQ("satchel " SATCHEL_VERSION "\n", run.out);

  // Without --stub: the i686 launcher of the data folder goes in front.
  Bytes launcher = ReadBytes(DataFolder() + "satchel-launcher.exe");
  ASSERT_FALSE(launcher.empty()) << "the win32 build fills the data folder";
  run = RunSatchel({"pack", "-o", Path("out.exe"), "--msi", Path("dist/Product.msi"), "--exe",
                    Path("dist/setup.exe")});
  ASSERT_EQ(0, run.status) << run.err;
  Bytes bundle = ReadBytes(Path("out.exe"));
  ASSERT_GT(bundle.size(), launcher.size());
  EXPECT_TRUE(std::equal(launcher.begin(), launcher.end(), bundle.begin()));
}

TEST_F(SatchelTest, MsiAloneGetsTheReadyBootstrapOfTheStubsMachine) {
  struct Case {
    const char *stub, *bootstrap;
  } cases[] = {{"satchel-launcher.exe", "satchel-bootstrap.exe"},
               {"x86_64/satchel-launcher.exe", "x86_64/satchel-bootstrap.exe"}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.stub);
    Bytes bootstrap = ReadBytes(DataFolder() + c.bootstrap);
    ASSERT_FALSE(bootstrap.empty()) << "the Windows builds fill the data folder";
    RunResult run = RunSatchel({"pack", "--stub", DataFolder() + c.stub, "-o", Path("out.exe"),
                                "--msi", Path("dist/Product.msi")});
    ASSERT_EQ(0, run.status) << run.err;
    ASSERT_NO_FATAL_FAILURE(OpenOrFail(Path("out.exe")));
    EXPECT_STREQ("Product.msi", FindProperty("msi"));
    EXPECT_STREQ("satchel-bootstrap.exe", FindProperty("exe"));
    EXPECT_STREQ("1", FindProperty("pass-arguments"));
    ClosePayload();
    run = RunSatchel({"extract", Path("out.exe"), "exe", "-o", Path("exe.out")});
    ASSERT_EQ(0, run.status) << run.err;
    EXPECT_EQ(bootstrap, ReadBytes(Path("exe.out")));
    run = RunSatchel({"verify", Path("out.exe")});
    EXPECT_EQ(0, run.status) << run.err;
  }

  // The bootstrap finds the msi by its extension, alone, for a known machine.
  unlink(Path("out.exe").c_str());
  WriteBytes(Path("dist/Product.bin"), BytesOf("x"));
  WriteBytes(Path("patch.msi"), BytesOf("x"));
  std::string noise = MakeStub(5000);
  std::vector<std::string> before = FolderNames(dir);
  ExpectRefused(Pack({"--msi", Path("dist/Product.bin")}), "Product.bin", "ending in .msi",
                before);
  ExpectRefused(Pack({"--msi", Path("dist/Product.msi"), "--file",
                      "files/Patch.MSI=" + Path("patch.msi")}),
                "patch.msi", "second .msi", before);
  ExpectRefused(RunSatchel({"pack", "--stub", noise, "-o", Path("out.exe"), "--msi",
                            Path("dist/Product.msi")}),
                "stub.bin", "not a Windows executable", before);
}

TEST_F(SatchelTest, QuietSwitchesAndProgressText) {
  // Repeated switches go into one property, blank-separated, as given; the
  // ready bootstrap passes arguments, so --msi alone takes them too.
  std::string text = "Preparing Product \xc3\xa9 \"2.0\"…";
  RunResult run = Pack({"--msi", Path("dist/Product.msi"), "--quiet-switch", "/S",
                        "--quiet-switch", "--Silent", "--progress", text});
  ASSERT_EQ(0, run.status) << run.err;
  ASSERT_NO_FATAL_FAILURE(OpenOrFail(Path("out.exe")));
  EXPECT_STREQ("/S --Silent", FindProperty("quiet-switches"));
  EXPECT_STREQ(text.c_str(), FindProperty("progress"));
  ClosePayload();
  // Without the options neither property is there: the bundle runs as before.
  ASSERT_EQ(0, Pack({"--msi", Path("dist/Product.msi")}).status);
  ASSERT_NO_FATAL_FAILURE(OpenOrFail(Path("out.exe")));
  EXPECT_EQ(nullptr, FindProperty("quiet-switches"));
  EXPECT_EQ(nullptr, FindProperty("progress"));
  ClosePayload();

  unlink(Path("out.exe").c_str());
  std::vector<std::string> before = FolderNames(dir);
  struct Case {
    std::vector<std::string> options;
    const char *named, *reason;
  } cases[] = {
      {{"--quiet-switch", "/S"}, "--quiet-switch", "give --pass-arguments"},
      {{"--pass-arguments", "--quiet-switch", "/S x"}, "/S x", "one argument"},
      {{"--pass-arguments", "--quiet-switch", ""}, "--quiet-switch", "one argument"},
      {{"--pass-arguments", "--quiet-switch", "/\"S\""}, "--quiet-switch", "without blanks"},
      {{"--pass-arguments", "--quiet-switch", "/\xc3\xa9"}, "--quiet-switch", "ASCII"},
      {{"--pass-arguments", "--quiet-switch", std::string(33, 'S')}, "--quiet-switch", "32"},
      {{"--pass-arguments", "--quiet-switch"}, "--quiet-switch", "needs a value"},
      {{"--progress", ""}, "--progress", "1 to 255 bytes"},
      {{"--progress", std::string(256, 'x')}, "--progress", "1 to 255 bytes"},
      {{"--progress", "a", "--progress", "b"}, "--progress", "given twice"},
  };
  for (const Case &c : cases) {
    std::vector<std::string> options = {"--msi", Path("dist/Product.msi"), "--exe",
                                        Path("dist/setup.exe")};
    options.insert(options.end(), c.options.begin(), c.options.end());
    SCOPED_TRACE(c.reason);
    ExpectRefused(Pack(options), c.named, c.reason, before);
  }
}

TEST_F(SatchelTest, PassArgumentsAndExtraFiles) {
  RunResult run = Pack({"--msi", Path("dist/Product.msi"), "--exe", Path("dist/setup.exe"),
                        "--pass-arguments", "--file", "files/data1.cab=" + Path("readme.txt"),
                        "--file", "files/notes \xc3\xa9.txt=" + Path("readme.txt")});
  ASSERT_EQ(0, run.status) << run.err;
  EXPECT_EQ("", run.err);
  ASSERT_NO_FATAL_FAILURE(OpenOrFail(Path("out.exe")));
  EXPECT_STREQ("1", FindProperty("pass-arguments"));
  EXPECT_STREQ("msiexefiles/data1.cabfiles/notes \xc3\xa9.txt", GetConcatenatedNames());
  ClosePayload();
  // Without the option the property is absent: the launcher passes nothing.
  ASSERT_EQ(0, Pack({"--msi", Path("dist/Product.msi"), "--exe", Path("dist/setup.exe")}).status);
  ASSERT_NO_FATAL_FAILURE(OpenOrFail(Path("out.exe")));
  EXPECT_EQ(nullptr, FindProperty("pass-arguments"));
  ClosePayload();

  // The launcher writes files/NAME under NAME, so NAME must be a plain name.
  unlink(Path("out.exe").c_str());
  std::vector<std::string> before = FolderNames(dir);
  for (const char *name : {"files/", "files/a/b.txt", "files/a\\b.txt", "files/..",
                           "files/CON", "files/nul.txt", "files/x:stream", "files/dot."}) {
    SCOPED_TRACE(name);
    ExpectRefused(Pack({"--exe", Path("dist/setup.exe"), "--file",
                        std::string(name) + "=" + Path("readme.txt")}),
                  name, "no plain Windows file name", before);
  }
  // Other names are packed, with a warning that the launcher leaves them be.
  run = Pack({"--msi", Path("dist/Product.msi"), "--exe", Path("dist/setup.exe"), "--file",
              "data1.cab=" + Path("readme.txt")});
  ASSERT_EQ(0, run.status) << run.err;
  EXPECT_TRUE(Contains(run.err, "warning")) << run.err;
  EXPECT_TRUE(Contains(run.err, "files/readme.txt")) << run.err;
}

TEST_F(SatchelTest, EveryCommandHasHelp) {
  for (const char *command : {"pack", "pack-java", "list", "extract", "verify"}) {
    SCOPED_TRACE(command);
    RunResult run = RunSatchel({command, "--help"});
    EXPECT_EQ(0, run.status);
    EXPECT_EQ(0u, run.out.find(std::string("usage: satchel ") + command)) << run.out;
  }
  RunResult run = RunSatchel({"--help"});
  EXPECT_EQ(0, run.status);
  EXPECT_TRUE(Contains(run.out, "pack-java")) << run.out;
}

}  // namespace

// What is not a regular file is never replaced: a pipe (or a device) under
// the output's name stays what it is, and the command says why it stopped.
TEST_F(SatchelTest, NeverReplacesAnOutputThatIsNoRegularFile) {
  ASSERT_EQ(0, mkfifo(Path("out.fifo").c_str(), 0644));
  ASSERT_EQ(0, Pack(InstallerArgs(), "bundle.exe").status);
  for (const std::vector<std::string> &args :
       {std::vector<std::string>{"pack", "--stub", stub, "-o", Path("out.fifo"), "--msi",
                                 Path("dist/Product.msi"), "--exe", Path("dist/setup.exe")},
        std::vector<std::string>{"extract", Path("bundle.exe"), "msi", "-o", Path("out.fifo")}}) {
    SCOPED_TRACE(args[0]);
    RunResult run = RunSatchel(args);
    EXPECT_EQ(1, run.status);
    EXPECT_TRUE(Contains(run.err, "out.fifo: exists and is not a regular file")) << run.err;
    struct stat info;
    ASSERT_EQ(0, lstat(Path("out.fifo").c_str(), &info));
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
  }
}

// Inputs that are no regular files: a device is no program, and a named
// pipe is read once, as a stream, as standard input is.
TEST_F(SatchelTest, InputsThatAreNoRegularFiles) {
  std::vector<std::string> before = FolderNames(dir);
  ExpectRefused(Pack({"--msi", Path("dist/Product.msi"), "--exe", "/dev/null"}), "/dev/null",
                "the exe is not a regular file", before);
  ExpectRefused(Pack({"--msi", Path("dist/Product.msi"), "--file", "exe=/dev/zero", "--property",
                      "exe=setup.exe"}),
                "/dev/zero",
                "the exe is not a regular file", before);

  ASSERT_EQ(0, mkfifo(Path("pipe.msi").c_str(), 0644));
  std::thread writer([this] {
    FILE *pipe = fopen(Path("pipe.msi").c_str(), "wb");
    if (!pipe) return;
    fwrite(msiContent.data(), 1, msiContent.size(), pipe);
    fclose(pipe);
  });
  RunResult run = Pack({"--msi", Path("pipe.msi"), "--exe", Path("dist/setup.exe")});
  writer.join();
  ASSERT_EQ(0, run.status) << run.err;
  OpenOrFail(Path("out.exe"));
  EXPECT_STREQ("pipe.msi", FindProperty("msi"));
  ClosePayload();
  ASSERT_EQ(0, RunSatchel({"extract", Path("out.exe"), "msi", "-o", Path("got.msi")}).status);
  EXPECT_EQ(msiContent, ReadBytes(Path("got.msi")));
}

// The exe is what the launcher starts: pack and verify take a Windows
// program, or a batch file by its name's extension, and refuse what the
// launcher could only fail on with "Failed to launch program".
TEST_F(SatchelTest, TheExeMustBeAProgramTheLauncherCanStart) {
  Bytes dll = exeContent;
  dll[ReadU32LE(dll.data() + 0x3C) + 23] |= 0x20;  // IMAGE_FILE_DLL in the file header
  Bytes script = BytesOf("@echo off\r\nmsiexec /i Product.msi %*\r\n");
  Bytes dos = BytesOf("MZ");
  dos.resize(4096, 0);
  const std::string noProgram =
      "is no Windows program (no PE image) and no batch file (.bat, .cmd)";
  struct Case {
    std::string name;
    Bytes content;
    std::string refusal;  // empty: packed and verified
  } cases[] = {
      {"setup.exe", exeContent, ""},
      {"install.cmd", script, ""},
      {"INSTALL.BAT", script, ""},
      {"setup.exe", script, noProgram},
      {"install.cmd.txt", script, noProgram},
      {"setup.exe", dos, noProgram},
      {"setup.exe", dll, "is a DLL, not a program"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name + " " + c.refusal);
    mkdir(Path("in").c_str(), 0755);
    std::string exe = Path("in/") + c.name;
    WriteBytes(exe, c.content);
    std::vector<std::string> before = FolderNames(dir);
    RunResult run = Pack({"--msi", Path("dist/Product.msi"), "--exe", exe});
    if (c.refusal.empty()) {
      EXPECT_EQ(0, run.status) << run.err;
      unlink(Path("out.exe").c_str());
    } else {
      ExpectRefused(run, exe + ": the exe " + c.refusal, "the launcher could not start it", before);
    }
    // The same bundle made by other means.
    BundleContents contents;
    contents.files = {{"msi", msiContent}, {"exe", c.content}};
    contents.properties = {{"msi", "Product.msi"}, {"exe", c.name}};
    std::string error;
    ASSERT_TRUE(WriteBundle(stub, Path("made.exe"), contents, &error)) << error;
    if (c.refusal.empty())
      EXPECT_EQ(0, RunSatchel({"verify", Path("made.exe")}).status);
    else
      ExpectVerifyFails("made.exe", "the entry \"exe\" " + c.refusal +
                                        ": the launcher stops with \"Failed to launch program\"");
    unlink(Path("made.exe").c_str());
    unlink(exe.c_str());
  }
  // The entry given as a file is the exe too, under the name its property gives.
  std::vector<std::string> before = FolderNames(dir);
  ExpectRefused(Pack({"--msi", Path("dist/Product.msi"), "--file", "exe=" + Path("readme.txt"),
                      "--property", "exe=setup.exe"}),
                "readme.txt: the exe " + noProgram, "could not start it", before);
}

// A valid installer payload behind anything but the installer launcher
// would never run: verify says what stands in front.
TEST_F(SatchelTest, VerifyRefusesAPayloadBehindAnythingButItsFrontEnd) {
  ASSERT_EQ(0, Pack(InstallerArgs(), "good.exe").status);
  Bytes bundle = ReadBytes(Path("good.exe"));
  Bytes payload(bundle.begin() + (long)headerAt, bundle.end());
  struct Case {
    std::string front, says;
  } cases[] = {{Path("readme.txt"), "is not a Windows executable"},
               {javaStub, "is a Linux ELF program"},
               {DataFolder() + "satchel-java.exe", "is the Java front end"},
               {DataFolder() + "satchel-bootstrap.exe", "is the ready msi bootstrap"}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.front);
    Bytes front = ReadBytes(c.front);
    front.resize((front.size() + 511) / 512 * 512, 0);
    front.insert(front.end(), payload.begin(), payload.end());
    WriteBytes(Path("moved.exe"), front);
    RunResult run = ExpectVerifyFails("moved.exe", "the program in front of the payload " + c.says);
    EXPECT_TRUE(Contains(run.err, "; an installer bundle runs only behind the installer launcher"))
        << run.err;
  }
  EXPECT_EQ(0, RunSatchel({"verify", Path("good.exe")}).status);
}

// verify --json: the verdict and its reasons as one JSON object, which
// Python's json module reads.
TEST_F(SatchelTest, VerifyJsonGivesTheVerdictAndItsReasons) {
  ASSERT_EQ(0, Pack(InstallerArgs(), "good.exe").status);
  std::string error;
  ASSERT_TRUE(WriteBundle(stub, Path("colliding.exe"), CollidingContents(), &error)) << error;
  const char *check =
      "import json, sys; v = json.load(sys.stdin); "
      "print(v['ok'], len(v['problems']), v.get('entries'), v.get('properties'), "
      "v['problems'][0] if v['problems'] else '')";
  struct Case {
    std::string file;
    int status;
    std::string verdict;
  } cases[] = {
      {"good.exe", 0, "True 0 3 4"},
      {"colliding.exe", 1, "False 1 4 3 " + Path("colliding.exe") + ": the launcher would write \"A.cab\" and \"a.CAB\""},
      {"readme.txt", 1, "False 1 None None " + Path("readme.txt") + ": no payload header"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.file);
    RunResult run = RunSatchel({"verify", "--json", Path(c.file)});
    EXPECT_EQ(c.status, run.status) << run.err;
    WriteBytes(Path("verdict.json"), BytesOf(run.out));
    RunResult parsed = RunProgram({"sh", "-c", std::string("python3 -c \"") + check + "\" < " + Path("verdict.json")});
    ASSERT_EQ(0, parsed.status) << parsed.err << run.out;
    EXPECT_EQ(0u, parsed.out.find(c.verdict)) << parsed.out;
  }
}
