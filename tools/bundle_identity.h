// A bundle's face to the system and its users: the icon that Explorer shows,
// the version information of the file's Properties, and the application
// manifest with the execution level that the UAC prompt follows.  `pack` and
// `pack-java` take them as options and write them into the copy of the stub
// (pe_resources.h); `list` shows them and `verify` checks them.
//
// What each becomes:
//   --icon FILE.ico      every image of the file, as icons 1..n in the stub's
//                        icon group (100 where the stub has none); the
//                        stub's own icons go
//   --version-info K=V   a version block (type 16, id 1, US English, Unicode):
//                        the strings in table 040904B0, and the fixed file
//                        information with FileVersion and ProductVersion
//                        (each padded to four parts; one given stands for
//                        both)
//   --manifest LEVEL     a manifest (type 24, id 1): the execution level,
//                        the supported systems from Windows 7 to 11, long
//                        paths, and for a --gui Java front end per-monitor
//                        DPI awareness
#ifndef SATCHEL_BUNDLE_IDENTITY_H
#define SATCHEL_BUNDLE_IDENTITY_H

#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

#include "pe_resources.h"

struct BundleIdentity {
  std::string icon;  // an .ico file; empty: the stub's own icon stays
  std::vector<std::pair<std::string, std::string>> versionInfo;  // keys in the order given
  std::string manifestLevel;  // empty: no manifest
  bool perMonitorDpi = false;  // the manifest also declares DPI awareness
};

// Whether any of the three options was given: without them the stub is
// copied as it is.
bool IdentityGiven(const BundleIdentity &identity);

// The options' lines of the usage texts of pack and pack-java.
#define IDENTITY_USAGE                                                                      \
  "  --icon FILE.ico      the bundle's icon: every image of FILE.ico replaces the\n"         \
  "                       stub's icon\n"                                                   \
  "  --version-info KEY=VALUE\n"                                                           \
  "                       version information shown in the file's properties; KEY\n"       \
  "                       is one of ProductName, ProductVersion, FileVersion,\n"           \
  "                       CompanyName, FileDescription, LegalCopyright,\n"                 \
  "                       OriginalFilename, InternalName, Comments.  FileVersion\n"        \
  "                       and ProductVersion are 1 to 4 numbers between dots\n"            \
  "                       (1.2 is 1.2.0.0)\n"                                             \
  "  --manifest LEVEL     an application manifest with the execution level\n"             \
  "                       asInvoker, highestAvailable or requireAdministrator\n"           \
  "                       (Windows 7 to 11, long paths)\n"

// Takes argv[*i] when it is one of the three options (moving *i past its
// value): 1 when taken, 0 when argv[*i] is another argument, -1 with *error
// saying why the option is refused (a usage error).
int TakeIdentityOption(int argc, char **argv, int *i, BundleIdentity *identity,
                       std::string *error);

// The version numbers of a FileVersion or ProductVersion text: 1 to 4
// decimal numbers of at most 65535 between dots, padded with zeros to four.
bool ParseVersionNumbers(const std::string &text, uint16_t parts[4]);

// Puts the identity's resources into `resources` (the stub's own): reads and
// checks the icon file.  False with *error naming the file and the fault.
bool AddIdentityResources(const BundleIdentity &identity, std::vector<Resource> *resources,
                          std::string *error);

// What the resources of a bundle show.
struct IdentitySummary {
  std::vector<std::string> iconSizes;  // "32x32, 8 bit" for each image of the first group
  std::vector<std::pair<std::string, std::string>> versionStrings;  // in table order
  std::string fileVersion, productVersion;  // the fixed information, "1.2.3.4"
  bool hasVersion = false;
  bool hasManifest = false;
  std::string manifestLevel;  // the requested execution level ("" when none is named)
};

// Reads the icon groups, the version block and the manifest of `resources`.
// False with *problem when a group names an icon that is not there or is cut
// short, or the version block does not parse.
bool SummarizeIdentity(const std::vector<Resource> &resources, IdentitySummary *summary,
                       std::string *problem);

#endif  // SATCHEL_BUNDLE_IDENTITY_H
