// Source files and an archive of them made by the module itself: a folder, a
// deflated text, a stored incompressible file and an empty file. The
// reliability tests damage, kill and starve work on this archive.
#ifndef TOLVEX_TESTS_RELIABILITY_SAMPLE_ARCHIVE_H
#define TOLVEX_TESTS_RELIABILITY_SAMPLE_ARCHIVE_H

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <system_error>
#include <vector>

#include "reliability/module_api.h"
#include "support/test_support.h"

namespace tvx::test::reliability {

// Bytes that deflate cannot shrink (a fixed linear congruential sequence).
inline std::string NoiseBytes(size_t count, uint32_t seed) {
  std::string out(count, '\0');
  uint32_t x = seed;
  for (char& c : out) {
    x = x * 1664525u + 1013904223u;
    c = static_cast<char>(x >> 24);
  }
  return out;
}

inline std::string TextBytes(size_t lines) {
  std::string out;
  for (size_t i = 0; i < lines; ++i) out += "line " + std::to_string(i) + " of a text that deflates well\n";
  return out;
}

// A host list: items separated by NUL, ending in two NULs.
inline std::string HostList(const std::vector<std::string>& items) {
  std::string list;
  for (const std::string& item : items) list += item + '\0';
  return list + '\0';
}

// The sample's source files below a folder "src" of dir. Entry names use '/'.
struct SampleSources {
  std::string folder;  // ends in the native separator
  std::map<std::string, std::string> files;  // entry name -> content
  std::vector<std::string> listItems;        // native list, folder first
};

inline SampleSources WriteSampleSources(const TempDir& dir, const std::string& sub = "src") {
  SampleSources s;
  const std::string sep = NativeSeparator();
  s.folder = dir.File(sub) + sep;
  std::error_code ec;
  std::filesystem::create_directories(s.folder + "docs", ec);
  s.files = {{"docs/readme.txt", TextBytes(60)}, {"data.bin", NoiseBytes(300, 7)}, {"empty.txt", ""}};
  for (const auto& file : s.files) {
    std::string path = s.folder + file.first;
    for (char& c : path) {
      if (c == '/') c = sep[0];
    }
    WriteFileBytes(path, file.second);
  }
  s.listItems = {"docs" + sep, "docs" + sep + "readme.txt", "data.bin", "empty.txt"};
  return s;
}

// Packs the sample's sources into archive (created or updated) with their
// folder names: docs/, docs/readme.txt, data.bin, empty.txt.
inline int PackSample(const ModuleApi& module, const SampleSources& sources, const std::string& archive,
                      int flags = PK_PACK_SAVE_PATHS) {
  std::string packed = archive;
  std::string folder = sources.folder;
  std::string list = HostList(sources.listItems);
  return module.PackFiles(&packed[0], nullptr, &folder[0], &list[0], flags);
}

}  // namespace tvx::test::reliability

#endif
