#include "source_walk.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <unordered_map>

namespace tvx::cli {

namespace fs = std::filesystem;

namespace {

// The system's reason for the last failure, e.g. "Permission denied".
std::string Reason(const std::error_code& ec) { return ec ? " (" + ec.message() + ")" : std::string(); }

// A file that opens for reading now will most likely open for the module too.
bool OpensForReading(const std::string& p, std::string& why) {
  std::FILE* f = std::fopen(p.c_str(), "rb");
  if (!f) {
    why = std::error_code(errno, std::generic_category()).message();
    return false;
  }
  std::fclose(f);
  return true;
}

constexpr char kSeparator = static_cast<char>(fs::path::preferred_separator);

std::string Joined(const std::string& folder, char separator, const std::string& name) {
  std::string joined;
  joined.reserve(folder.size() + 1 + name.size());
  joined += folder;
  joined += separator;
  joined += name;
  return joined;
}

struct Walker {
  const HostDialect& dialect;
  fs::path archive;  // empty when the archive does not exist yet
  uintmax_t archiveSize = 0;
  PathLook archiveLook;
  SourceSet& set;
  size_t group = 0;

  bool IsArchive(const fs::path& p) const {
    if (archive.empty()) return false;
    std::error_code ec;
    return fs::equivalent(p, archive, ec) && !ec;
  }
  // Only a file of the archive's size can be the archive: the others need no
  // second look at either of them. Where the look tells which file it is,
  // no look at all.
  bool IsArchive(const std::string& p, const PathLook& look) const {
    if (archive.empty() || static_cast<uintmax_t>(look.size) != archiveSize) return false;
    if (look.inode != 0 && archiveLook.inode != 0)
      return look.inode == archiveLook.inode && look.device == archiveLook.device;
    return IsArchive(fs::path(p));
  }

  void LeaveOut(const std::string& why, const std::string& p, const std::string& detail = std::string()) {
    set.leftOut.push_back(why + ", left out: " + p + (detail.empty() ? "" : " (" + detail + ")"));
  }

  // look: what the walk saw of p, a link followed.
  void AddFile(std::string p, std::string relative, const PathLook& look) {
    if (IsArchive(p, look)) return;
    std::string why;
    if (!look.readable && !OpensForReading(p, why)) {
      LeaveOut("cannot read", p, why);
      return;
    }
    if (look.size >= kFormatSizeLimit) set.tooLarge.push_back(p);
    set.items.push_back(SourceItem{std::move(p), std::move(relative), false, look.size, group, look.modified});
  }

  void AddFolder(std::string p, std::string relative, const PathLook& look) {
    std::vector<FolderChild> children;
    if (const std::string why = ListFolder(p, children); !why.empty()) {
      LeaveOut("cannot read the folder", p, why);
      return;
    }
    set.items.push_back(SourceItem{p, relative, true, 0, group, look.modified});
    for (const FolderChild& child : children)
      Add(Joined(p, kSeparator, child.name), Joined(relative, '/', child.name), child.look, child.target);
  }

  // One look at each path (two for a link), which the checks before packing
  // and after a move reuse. link: p itself; target: what a link leads to.
  void Add(std::string p, std::string relative, const PathLook& link, const PathLook& target) {
    if (link.error != 0) {
      LeaveOut("cannot read", p, ErrorText(link.error));
    } else if (link.link && target.error != 0) {
      LeaveOut("broken symbolic link", p);
    } else if (target.regular) {
      AddFile(std::move(p), std::move(relative), target);
    } else if (target.directory && !link.link) {
      AddFolder(std::move(p), std::move(relative), target);
    } else if (target.directory) {
      // Following folder links could loop.
      LeaveOut("symbolic link to a folder, not followed", p);
    } else {
      LeaveOut("not a regular file or folder (a device, pipe or socket)", p);
    }
  }
  void AddTop(const fs::path& p) {
    const std::string full = p.string();
    const PathLook link = LookAt(full, false);
    Add(full, p.filename().string(), link, link.link ? LookAt(full, true) : link);
  }
};

bool SameFolder(const HostDialect& d, const fs::path& a, const fs::path& b) {
  return SameKey(d, CanonicalKey(d, a.generic_string()), CanonicalKey(d, b.generic_string())) &&
         a.root_name() == b.root_name();
}

size_t GroupOf(const SourceItem& item) { return item.group; }
size_t GroupOf(size_t group) { return group; }

std::string WithSeparator(std::string folder) {
  if (folder.empty() || folder.back() != kSeparator) folder += kSeparator;
  return folder;
}

}  // namespace

SourceSet CollectSources(const HostDialect& d, const std::vector<std::string>& paths,
                         const std::string& archive) {
  SourceSet set;
  std::error_code ec;
  Walker walker{d, fs::path(), 0, PathLook(), set};
  if (fs::exists(archive, ec)) {
    walker.archive = fs::absolute(archive, ec);
    walker.archiveSize = fs::file_size(archive, ec);
    if (ec) walker.archiveSize = static_cast<uintmax_t>(-1);
    walker.archiveLook = LookAt(archive, true);
  }

  struct Top {
    fs::path path;
    std::string given;
    size_t group;
  };
  std::vector<Top> tops;
  std::vector<fs::path> folders;
  std::unordered_map<std::string, const std::string*> topNames;
  for (const std::string& given : paths) {
    fs::path p = fs::absolute(given, ec).lexically_normal();
    if (ec) {
      set.error = "cannot read: " + given + Reason(ec);
      return set;
    }
    if (p.filename().empty()) p = p.parent_path();  // "folder/" names the folder
    if (p.filename().empty() || p == p.root_path()) {
      set.error = "cannot add a whole drive or root folder: " + given;
      return set;
    }
    if (!fs::exists(fs::symlink_status(p, ec))) {
      set.error = "no such file or folder: " + given;
      return set;
    }
    const fs::path parent = p.parent_path();
    size_t group = 0;
    while (group < folders.size() && !SameFolder(d, folders[group], parent)) ++group;
    if (group == folders.size()) folders.push_back(parent);
    tops.push_back(Top{p, given, group});
  }
  // Checked before anything is walked, so nothing is written for a clash.
  for (const Top& top : tops) {
    if (walker.IsArchive(top.path)) continue;
    const auto [it, fresh] = topNames.emplace(MatchKey(d, CanonicalKey(d, top.path.filename().string())), &top.given);
    if (!fresh) {
      set.error = "two paths would give the same name " + top.path.filename().string() +
                  " in the archive: " + *it->second + " and " + top.given;
      return set;
    }
  }

  for (const fs::path& folder : folders) set.roots.push_back(WithSeparator(folder.string()));
  set.root = set.roots.front();
  // Group by group, each in the order given.
  for (size_t g = 0; g < folders.size(); ++g) {
    walker.group = g;
    for (const Top& top : tops) {
      if (top.group != g) continue;
      if (walker.IsArchive(top.path)) {
        set.notes.push_back("the archive itself is not added: " + top.path.string());
        continue;
      }
      walker.AddTop(top.path);
    }
  }
  if (set.items.empty() && set.error.empty()) set.error = "nothing to add";
  return set;
}

SourceRange GroupItems(const SourceSet& set, size_t group) {
  // The walk goes group by group: each group's items are one run.
  const auto [first, last] = std::equal_range(
      set.items.begin(), set.items.end(), group,
      [](const auto& a, const auto& b) { return GroupOf(a) < GroupOf(b); });
  return SourceRange(set.items.data() + (first - set.items.begin()), set.items.data() + (last - set.items.begin()));
}

size_t HostNameLength(const HostDialect& d, const std::string& subPath, const SourceItem& item) {
  size_t length = item.relative.size() + (item.directory ? 1 : 0) + (d.leadingSeparator ? 1 : 0);
  if (!subPath.empty()) length += subPath.size() + 1;
  return length;
}

std::string BuildAddList(const HostDialect& d, SourceRange items) {
  size_t bytes = 1;
  for (const SourceItem& item : items) bytes += item.relative.size() + (item.directory ? 2 : 1);
  std::string list;
  list.reserve(bytes);
  for (const SourceItem& item : items) {
    const size_t at = list.size();
    list += item.relative;  // in the host's form: its separator for '/'
    if (d.separator != '/') std::replace(list.begin() + static_cast<std::ptrdiff_t>(at), list.end(), '/', d.separator);
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

int64_t TotalSize(SourceRange items) {
  int64_t total = 0;
  for (const SourceItem& item : items) total += item.size;
  return total;
}

}  // namespace tvx::cli
