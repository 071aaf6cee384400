#include "support/sample_data.h"

#include <filesystem>
#include <system_error>

namespace tvx::test {

SampleSources WriteSampleSources(const TempDir& dir, const std::string& sub) {
  SampleSources s;
  const std::string sep = NativeSeparator();
  s.folder = dir.File(sub) + sep;
  std::error_code ec;
  std::filesystem::create_directories(s.folder + "docs", ec);
  s.files = {{"docs/readme.txt", TextBytes(60)}, {"data.bin", NoiseBytes(300, 7)}, {"empty.txt", ""}};
  for (const auto& file : s.files) WriteFileBytes(s.folder + NativePath(file.first), file.second);
  s.listItems = {"docs" + sep, "docs" + sep + "readme.txt", "data.bin", "empty.txt"};
  return s;
}

int PackSample(cli::PluginModule& module, const SampleSources& sources, const std::string& archive, int flags) {
  return PackWith(module, archive, nullptr, sources.folder, sources.listItems, flags);
}

}  // namespace tvx::test
