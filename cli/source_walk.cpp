#include "source_walk.h"

#include <algorithm>
#include <filesystem>

namespace tvx::cli {

namespace fs = std::filesystem;

namespace {

struct Walker {
  const HostDialect& dialect;
  fs::path archive;  // empty when the archive does not exist yet
  SourceSet& set;

  bool IsArchive(const fs::path& p) const {
    if (archive.empty()) return false;
    std::error_code ec;
    return fs::equivalent(p, archive, ec) && !ec;
  }

  void AddFile(const fs::path& p, const std::string& relative) {
    if (IsArchive(p)) return;
    std::error_code ec;
    const uintmax_t size = fs::file_size(p, ec);
    if (ec) {
      set.error = "cannot read: " + p.string();
      return;
    }
    SourceItem item{p.string(), relative, false, static_cast<int64_t>(size)};
    if (item.size >= kFormatSizeLimit) set.too_large.push_back(item.full);
    set.items.push_back(std::move(item));
  }

  void AddFolder(const fs::path& p, const std::string& relative) {
    set.items.push_back(SourceItem{p.string(), relative, true, 0});
    std::error_code ec;
    fs::directory_iterator it(p, ec);
    if (ec) {
      set.error = "cannot read: " + p.string();
      return;
    }
    std::vector<fs::path> children;
    for (const fs::directory_iterator end; it != end; it.increment(ec)) {
      if (ec) break;
      children.push_back(it->path());
    }
    if (ec) {
      set.error = "cannot read: " + p.string();
      return;
    }
    std::sort(children.begin(), children.end());
    for (const fs::path& child : children) {
      Add(child, relative + "/" + child.filename().string());
      if (!set.error.empty()) return;
    }
  }

  void Add(const fs::path& p, const std::string& relative) {
    std::error_code ec;
    const fs::file_status link = fs::symlink_status(p, ec);
    if (ec || !fs::exists(link)) {
      set.error = "no such file or folder: " + p.string();
      return;
    }
    const fs::file_status target = fs::is_symlink(link) ? fs::status(p, ec) : link;
    if (fs::is_regular_file(target)) {
      AddFile(p, relative);
    } else if (fs::is_directory(target) && !fs::is_symlink(link)) {
      AddFolder(p, relative);
    } else if (fs::is_directory(target)) {
      // Following folder links could loop; the link is left out.
      set.notes.push_back("link to a folder not followed: " + p.string());
    } else {
      set.notes.push_back("not a file or folder, left out: " + p.string());
    }
  }
};

bool SameFolder(const HostDialect& d, const fs::path& a, const fs::path& b) {
  return SameKey(d, CanonicalKey(d, a.generic_string()), CanonicalKey(d, b.generic_string())) &&
         a.root_name() == b.root_name();
}

}  // namespace

SourceSet CollectSources(const HostDialect& d, const std::vector<std::string>& paths,
                         const std::string& archive) {
  SourceSet set;
  std::error_code ec;
  Walker walker{d, fs::path(), set};
  if (fs::exists(archive, ec)) walker.archive = fs::absolute(archive, ec);

  fs::path common;
  std::vector<fs::path> tops;
  for (const std::string& given : paths) {
    fs::path p = fs::absolute(given, ec).lexically_normal();
    if (ec) {
      set.error = "cannot read: " + given;
      return set;
    }
    if (p.filename().empty()) p = p.parent_path();  // "folder/" names the folder
    if (p.filename().empty() || p == p.root_path()) {
      set.error = "cannot add a whole drive or root folder: " + given;
      return set;
    }
    const fs::path parent = p.parent_path();
    if (tops.empty()) {
      common = parent;
    } else if (!SameFolder(d, common, parent)) {
      set.error = "all paths to add must lie in one folder: " + tops.front().string() + " and " + p.string();
      return set;
    }
    tops.push_back(p);
  }

  set.root = common.string();
  if (set.root.empty() || set.root.back() != static_cast<char>(fs::path::preferred_separator))
    set.root += static_cast<char>(fs::path::preferred_separator);
  for (const fs::path& top : tops) {
    if (walker.IsArchive(top)) {
      set.notes.push_back("the archive itself is not added: " + top.string());
      continue;
    }
    walker.Add(top, top.filename().string());
    if (!set.error.empty()) return set;
  }
  if (set.items.empty() && set.error.empty()) set.error = "nothing to add";
  return set;
}

std::string BuildAddList(const HostDialect& d, const std::vector<SourceItem>& items) {
  std::string list;
  for (const SourceItem& item : items) {
    list += ToHostForm(d, item.relative);
    if (item.directory) list += d.separator;
    list += '\0';
  }
  list += '\0';
  return list;
}

std::string SubPathFromInto(const HostDialect& d, const std::string& into, std::string& error) {
  const std::string key = CanonicalKey(d, into);
  size_t start = 0;
  while (start <= key.size()) {
    size_t end = key.find('/', start);
    if (end == std::string::npos) end = key.size();
    if (key.compare(start, end - start, "..") == 0 && end - start == 2) {
      error = "--into must name a folder inside the archive: " + into;
      return std::string();
    }
    start = end + 1;
  }
  return ToHostForm(d, key);
}

void RemoveEmptiedFolders(const std::vector<SourceItem>& items) {
  // Folders come before their contents, so walking backwards meets the
  // deepest first.
  for (auto it = items.rbegin(); it != items.rend(); ++it) {
    if (!it->directory) continue;
    std::error_code ec;
    if (fs::is_empty(it->full, ec) && !ec) fs::remove(it->full, ec);
  }
}

int64_t TotalSize(const std::vector<SourceItem>& items) {
  int64_t total = 0;
  for (const SourceItem& item : items) total += item.size;
  return total;
}

}  // namespace tvx::cli
