// Reading a manifest's main section as Java does, case by case.
#include "jar_manifest.h"

#include <gtest/gtest.h>

namespace {

std::vector<ManifestAttribute> Parse(const std::string &text) {
  return ManifestAttributes(std::vector<unsigned char>(text.begin(), text.end()));
}

std::string Shown(const std::vector<ManifestAttribute> &attributes) {
  std::string out;
  for (const ManifestAttribute &attribute : attributes)
    out += "[" + attribute.name + "=" + attribute.value + "]";
  return out;
}

struct ManifestCase {
  const char *what;
  std::string text;
  std::string attributes;
};

class JarManifest : public ::testing::TestWithParam<ManifestCase> {};

TEST_P(JarManifest, MainSectionReadsAsJavaReadsIt) {
  EXPECT_EQ(Shown(Parse(GetParam().text)), GetParam().attributes);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, JarManifest,
    ::testing::Values(
        ManifestCase{"plain", "Manifest-Version: 1.0\nMain-Class: app.Main\n",
                     "[Manifest-Version=1.0][Main-Class=app.Main]"},
        ManifestCase{"CR LF and lone CR end lines", "A: 1\r\nB: 2\rC: 3",
                     "[A=1][B=2][C=3]"},
        ManifestCase{"a line of one space and more continues the one before",
                     "Class-Path: lib/a.jar lib/\n b.jar\n  c.jar\n",
                     "[Class-Path=lib/a.jar lib/b.jar c.jar]"},
        ManifestCase{"the main section ends at the first empty line",
                     "A: 1\n\nName: x/\nB: 2\n", "[A=1]"},
        ManifestCase{"values trimmed of spaces and tabs", "A:\t  spaced \t\nB:\n",
                     "[A=spaced][B=]"},
        ManifestCase{"lines without a name or a colon are passed over",
                     "no colon here\n: nameless\nC: 3\n", "[C=3]"},
        ManifestCase{"empty manifest", "", ""},
        ManifestCase{"no newline at the end", "Main-Class: a.B", "[Main-Class=a.B]"}),
    [](const ::testing::TestParamInfo<ManifestCase> &info) {
      return "Case" + std::to_string(info.index);
    });

TEST(JarManifestValue, NamesMatchIgnoringCaseAndTheFirstWins) {
  std::vector<ManifestAttribute> attributes =
      Parse("main-class: first.Main\nMAIN-CLASS: second.Main\nMulti-Release: true\n");
  EXPECT_EQ(ManifestValue(attributes, "Main-Class"), "first.Main");
  EXPECT_EQ(ManifestValue(attributes, "multi-release"), "true");
  EXPECT_EQ(ManifestValue(attributes, "Class-Path"), "");
  EXPECT_EQ(ManifestValue(attributes, "Main-Clas"), "");
}

}  // namespace
