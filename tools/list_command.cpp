// satchel list: the header, the file entries and the properties of a bundle,
// as text or as one JSON object.
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "bundle_reading.h"
#include "payload.h"
#include "satchel_commands.h"
#include "shown_text.h"
#include "tool_files.h"
#include "tool_messages.h"

namespace {

const char kListUsage[] =
    "usage: satchel list BUNDLE [--json]\n"
    "\n"
    "Shows the payload header (where it starts and its fields), every file entry\n"
    "in table order with its offset and sizes, every property in table order,\n"
    "and for a Windows program its icon sizes, version information and manifest\n"
    "level.  With --json the same as one JSON object.\n";

// The resources of the program in front, as text lines.
void PrintResources(bool windows, const std::string &problem, const IdentitySummary &summary) {
  if (!windows) return;
  if (!problem.empty()) {
    printf("resources: %s\n", problem.c_str());
    return;
  }
  printf("icon: ");
  for (size_t i = 0; i < summary.iconSizes.size(); i++)
    printf("%s%s", i ? "; " : "", summary.iconSizes[i].c_str());
  printf("%s\n", summary.iconSizes.empty() ? "none" : "");
  if (summary.hasVersion)
    printf("version information: FileVersion %s, ProductVersion %s\n",
           summary.fileVersion.c_str(), summary.productVersion.c_str());
  else
    printf("version information: none\n");
  for (const auto &pair : summary.versionStrings)
    printf("  %s = \"%s\"\n", Shown(pair.first).c_str(), Shown(pair.second).c_str());
  printf("manifest: %s\n", !summary.hasManifest ? "none"
                            : summary.manifestLevel.empty() ? "no execution level"
                                                            : Shown(summary.manifestLevel).c_str());
}

// The same as the JSON member "resources" (null for a front end that is no
// Windows program).
void PrintResourcesJson(bool windows, const std::string &problem, const IdentitySummary &summary) {
  if (!windows) {
    printf("  \"resources\": null,\n");
    return;
  }
  if (!problem.empty()) {
    printf("  \"resources\": {\"problem\": %s},\n", JsonString(problem.c_str()).c_str());
    return;
  }
  printf("  \"resources\": {\"icons\": [");
  for (size_t i = 0; i < summary.iconSizes.size(); i++)
    printf("%s%s", i ? ", " : "", JsonString(summary.iconSizes[i].c_str()).c_str());
  printf("], \"versionInfo\": ");
  if (summary.hasVersion) {
    printf("{\"fileVersion\": %s, \"productVersion\": %s, \"strings\": {",
           JsonString(summary.fileVersion.c_str()).c_str(),
           JsonString(summary.productVersion.c_str()).c_str());
    for (size_t i = 0; i < summary.versionStrings.size(); i++)
      printf("%s%s: %s", i ? ", " : "", JsonString(summary.versionStrings[i].first.c_str()).c_str(),
             JsonString(summary.versionStrings[i].second.c_str()).c_str());
    printf("}}");
  } else {
    printf("null");
  }
  printf(", \"manifest\": ");
  if (summary.hasManifest)
    printf("{\"level\": %s}", JsonString(summary.manifestLevel.c_str()).c_str());
  else
    printf("null");
  printf("},\n");
}

}  // namespace

int ListCommand(int argc, char **argv) {
  std::string path;
  bool json = false;
  int status = ParseBundleArguments("list", kListUsage, argc, argv, &path, &json);
  if (status >= 0) return status;
  HeaderInfo header;
  FILE *file = OpenBundleHeader(path, &header);
  if (!file) return EXIT_FAILED;
  bool windows = false;
  IdentitySummary resources;
  std::string resourceProblem;
  ReadFrontResources(file, header.offset, &windows, &resources, &resourceProblem);
  fclose(file);
  if (!OpenIndex(path)) return EXIT_FAILED;
  std::vector<const FileEntry *> entries = AllFileEntries();
  std::vector<const PropertyEntry *> properties = AllProperties();
  std::vector<bool> hiddenEntries = ShadowedEntries(entries);
  std::vector<bool> hiddenProperties = ShadowedProperties(properties);
  bool java = IsJavaBundle();
  int32_t dataStart = GetPayloadEntryDataStart();

  if (json) {
    printf("{\n  \"file\": %s,\n", JsonString(path.c_str()).c_str());
    printf("  \"header\": {\"offset\": %lld, \"fileEntryCount\": %u, \"tocCompressedSize\": %u, "
           "\"tocUncompressedSize\": %u, \"entryDataSize\": %u, \"headerCrc\": %u},\n",
           (long long)header.offset, header.fileEntryCount, header.tocCompressedSize,
           header.tocUncompressedSize, header.entryDataSize, header.headerCrc);
    printf("  \"entryDataStart\": %d,\n  \"fileSize\": %lld,\n  \"dictionaries\": \"%s\",\n",
           dataStart, (long long)header.fileSize, java ? "java" : "none");
    PrintResourcesJson(windows, resourceProblem, resources);
    printf("  \"entries\": [");
    for (size_t i = 0; i < entries.size(); ++i) {
      printf("%s\n    {\"name\": %s, \"offset\": %u, \"compressedSize\": %u, "
             "\"uncompressedSize\": %u, \"shadowed\": %s}",
             i ? "," : "", JsonString(entries[i]->name).c_str(), entries[i]->offset,
             entries[i]->compressedSize, entries[i]->uncompressedSize,
             hiddenEntries[i] ? "true" : "false");
    }
    printf("%s],\n  \"properties\": [", entries.empty() ? "" : "\n  ");
    for (size_t i = 0; i < properties.size(); ++i) {
      printf("%s\n    {\"key\": %s, \"value\": %s, \"shadowed\": %s}", i ? "," : "",
             JsonString(properties[i]->key).c_str(), JsonString(properties[i]->value).c_str(),
             hiddenProperties[i] ? "true" : "false");
    }
    printf("%s]\n}\n", properties.empty() ? "" : "\n  ");
  } else {
    printf("%s\n", path.c_str());
    printf("header at offset %lld (file size %lld)\n", (long long)header.offset,
           (long long)header.fileSize);
    printf("  fileEntryCount       %u\n", header.fileEntryCount);
    printf("  tocCompressedSize    %u\n", header.tocCompressedSize);
    printf("  tocUncompressedSize  %u\n", header.tocUncompressedSize);
    printf("  entryDataSize        %u\n", header.entryDataSize);
    printf("  headerCrc            0x%08x\n", header.headerCrc);
    printf("  entryDataStart       %d\n", dataStart);
    printf("dictionaries: %s\n", java ? "Java (three stages)" : "none (installer bundle)");
    PrintResources(windows, resourceProblem, resources);
    printf("entries: %zu\n", entries.size());
    if (!entries.empty()) printf("  %10s  %10s  %12s  %s\n", "offset", "compressed", "uncompressed", "name");
    for (size_t i = 0; i < entries.size(); ++i) {
      printf("  %10u  %10u  %12u  %s%s\n", entries[i]->offset, entries[i]->compressedSize,
             entries[i]->uncompressedSize, Shown(entries[i]->name).c_str(),
             hiddenEntries[i] ? TOOL_MSG_LIST_ENTRY_SHADOWED : "");
    }
    printf("properties: %zu\n", properties.size());
    for (size_t i = 0; i < properties.size(); ++i) {
      printf("  %s = \"%s\"%s\n", Shown(properties[i]->key).c_str(),
             Shown(properties[i]->value).c_str(),
             hiddenProperties[i] ? TOOL_MSG_LIST_PROPERTY_SHADOWED : "");
    }
  }
  ClosePayload();
  return fflush(stdout) == 0 ? EXIT_OK : EXIT_FAILED;
}
