#include "support/module_driver.h"

#include <cstring>

#include "support/host_name_check.h"
#include "support/test_support.h"

namespace tvx::test {

std::string ReportedForm(const std::string& entryName) {
#ifdef _WIN32
  return "\\" + ListForm(entryName);
#else
  return entryName;
#endif
}

std::vector<std::string> ReportedForms(const std::vector<std::string>& entryNames) {
  std::vector<std::string> names;
  for (const std::string& name : entryNames) names.push_back(ReportedForm(name));
  return names;
}

std::string NameList(const std::vector<std::string>& names) {
  std::string list;
  for (const std::string& name : names) list += name + '\0';
  list += '\0';
  return list;
}

cli::PluginModule* LoadedModule(std::string* error) {
  static cli::PluginModule::LoadResult loaded = cli::PluginModule::Load(ModulePath());
  if (error != nullptr) *error = loaded.error;
  return loaded.module.get();
}

Listing ListArchive(cli::PluginModule& module, const std::string& path, bool test, size_t maxEntries) {
  Listing listing;
  HostArchive archive(module, path, test ? PK_OM_EXTRACT : PK_OM_LIST);
  listing.opened = archive.handle() != nullptr;
  if (!listing.opened) {
    listing.openResult = archive.openResult();
    return listing;
  }
  while (listing.entries.size() < maxEntries) {
    tHeaderData header{};
    const int read = archive.ReadHeader(header);
    if (read != 0) {
      listing.endResult = read;
      break;
    }
    ListedEntry entry;
    entry.name.assign(header.FileName, strnlen(header.FileName, sizeof header.FileName));
    entry.attr = header.FileAttr;
    entry.unpSize = header.UnpSize;
    entry.packSize = header.PackSize;
    entry.time = header.FileTime;
    entry.nameSafe = HostNameIsSafe(header.FileName, sizeof header.FileName);
    const int processed = test ? archive.Test() : archive.Skip();
    if (test) entry.testResult = processed;
    listing.entries.push_back(entry);
    if (!test && processed != 0) break;
  }
  return listing;
}

std::vector<std::string> ListedNames(cli::PluginModule& module, const std::string& path) {
  const Listing listing = ListArchive(module, path);
  if (!listing.opened) return {"<not opened: " + std::to_string(listing.openResult) + ">"};
  std::vector<std::string> names;
  for (const ListedEntry& entry : listing.entries) names.push_back(entry.name);
  return names;
}

NamesAndSizes ListedNamesAndSizes(cli::PluginModule& module, const std::string& path) {
  NamesAndSizes listed;
  for (const ListedEntry& entry : ListArchive(module, path).entries) listed.emplace_back(entry.name, entry.unpSize);
  return listed;
}

std::vector<int> ExtractEach(cli::PluginModule& module, const std::string& path, const std::string& folder) {
  std::vector<int> results;
  HostArchive archive(module, path, PK_OM_EXTRACT);
  if (archive.handle() == nullptr) return results;
  const std::string destPath = folder + NativeSeparator();
  for (;;) {
    tHeaderData header{};
    if (archive.ReadHeader(header) != 0) break;
    results.push_back(archive.Process(PK_EXTRACT, &destPath, "e" + std::to_string(results.size())));
  }
  return results;
}

int PackWith(cli::PluginModule& module, const std::string& archive, const char* subPath,
             const std::string& srcPath, const std::vector<std::string>& names, int flags) {
  std::string packed = archive, sub = subPath != nullptr ? subPath : "", src = srcPath, list = NameList(names);
  return module.pack_files(&packed[0], subPath != nullptr ? &sub[0] : nullptr, &src[0], &list[0], flags);
}

int DeleteWith(cli::PluginModule& module, const std::string& archive, const std::vector<std::string>& names) {
  std::string packed = archive, list = NameList(names);
  return module.delete_files(&packed[0], &list[0]);
}

int CanHandle(cli::PluginModule& module, const std::string& path) {
  std::string name = path;
  return module.can_you_handle_this_file(&name[0]);
}

}  // namespace tvx::test
