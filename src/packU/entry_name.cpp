#include "packU/entry_name.h"

#include <cstdint>
#include <cstring>
#include <unordered_set>
#include <vector>

#include "commonsU/separators.h"

namespace tvx {
namespace {

// A stored name is read as a path of the system it is extracted on, whichever
// system built the module: the rules say which.
bool IsSeparator(char c, const NameSafetyRules& rules) { return IsPathSeparatorOf(c, rules.windows); }

bool IsDriveLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// A character that cannot stand in a name: NUL everywhere (it would end the
// name early for the host, "..\0x" reads as ".."), and on Windows every control
// character and the ones Windows reserves for wildcards, pipes and streams.
bool Replaced(char c, const NameSafetyRules& rules) {
  if (c == '\0') return true;
  if (!rules.windows) return false;
  return static_cast<unsigned char>(c) < 0x20 || std::strchr("<>\"|?*", c) != nullptr;
}

// A name Windows opens as a device in every folder: CON, PRN, AUX, NUL,
// COM1-COM9, LPT1-LPT9, in any case, with any extension ("con.txt") and with
// spaces before it ("NUL .x").
bool IsDeviceName(const char* component, size_t length) {
  size_t stem = 0;
  while (stem < length && component[stem] != '.') ++stem;
  while (stem > 0 && component[stem - 1] == ' ') --stem;
  if (stem != 3 && stem != 4) return false;
  char upper[4];
  for (size_t i = 0; i < stem; ++i) upper[i] = Upper(component[i]);
  const std::string head(upper, 3);
  if (stem == 3) return head == "CON" || head == "PRN" || head == "AUX" || head == "NUL";
  return (head == "COM" || head == "LPT") && upper[3] >= '1' && upper[3] <= '9';
}

// Windows cannot give a file a name that is a device or ends in a dot or a
// space (it would drop them, and open another name than was written).
bool UnusableOnWindows(const char* component, size_t length) {
  if (length == 0) return false;
  const char last = component[length - 1];
  return last == '.' || last == ' ' || IsDeviceName(component, length);
}


// A key of a folder entry: it ends in '/'.
bool IsFolderKey(const std::string& key) { return !key.empty() && key.back() == '/'; }

// The folders a set of names puts on disk, by EntryMatchKey (each name's
// folders above it, and a folder name's own), and with files set the files.
struct NameKinds {
  explicit NameKinds(bool withFiles) : keepsFiles(withFiles) {}
  bool keepsFiles;
  std::unordered_set<std::string> files;
  std::unordered_set<std::string> folders;  // without the trailing '/'
  std::string lastFolder;  // the folder that held the key before, whose folders are all in already

  void Add(const std::string& key) {
    const bool folder = IsFolderKey(key);
    const size_t end = folder ? key.size() - 1 : key.size();
    // Names come mostly folder by folder: the folders of the one before need
    // no second look.
    size_t from = 0;
    if (!lastFolder.empty() && key.size() > lastFolder.size() && key[lastFolder.size()] == '/' &&
        key.compare(0, lastFolder.size(), lastFolder) == 0) {
      from = lastFolder.size() + 1;
    }
    size_t lastSlash = std::string::npos;
    for (size_t slash = key.find('/', from); slash < end; slash = key.find('/', slash + 1)) {
      folders.insert(key.substr(0, slash));
      lastSlash = slash;
    }
    if (lastSlash != std::string::npos) lastFolder.assign(key, 0, lastSlash);
    if (folder) {
      folders.insert(key.substr(0, end));
    } else if (keepsFiles) {
      files.insert(key);
    }
  }
};

// The characters that need a closer look in a name: a separator, or one
// that Replaced would change. Every other byte of a name passes at one
// lookup, which is what listing and deleting in large archives meet.
struct SpecialBytes {
  bool posix[256] = {};
  bool windows[256] = {};
  SpecialBytes() {
    for (int c = 0; c < 256; ++c) {
      const auto ch = static_cast<char>(c);
      posix[c] = Replaced(ch, NameSafetyRules{false}) || IsSeparator(ch, NameSafetyRules{false});
      windows[c] = Replaced(ch, NameSafetyRules{true}) || IsSeparator(ch, NameSafetyRules{true});
    }
  }
};

// True when one of the eight bytes at text is NUL or '/'.
bool HasNulOrSlash(const char* text) {
  constexpr uint64_t kOnes = 0x0101010101010101ull;
  constexpr uint64_t kHighs = 0x8080808080808080ull;
  uint64_t word;
  std::memcpy(&word, text, 8);
  const uint64_t slashes = word ^ (kOnes * '/');
  return ((((word - kOnes) & ~word) | ((slashes - kOnes) & ~slashes)) & kHighs) != 0;
}

// Whether a file among keys (those that are no folder keys) is one of folders;
// from whichever side is smaller, since a pack's new files far outnumber its
// folders. A folder string of folder shape can never be a file's key.
bool AnyFileAmong(const std::unordered_set<std::string>& keys, const std::unordered_set<std::string>& folders) {
  if (folders.size() < keys.size()) {
    for (const std::string& folder : folders) {
      if (!IsFolderKey(folder) && keys.count(folder) != 0) return true;
    }
    return false;
  }
  for (const std::string& key : keys) {
    if (!IsFolderKey(key) && folders.count(key) != 0) return true;
  }
  return false;
}

}  // namespace

// No drive prefix, no empty, "." or ".." component, no separator but '/',
// nothing to replace. Listings of large archives meet almost only such names,
// and one scan is cheaper than a rebuild.
bool AlreadySafe(const std::string& name, const NameSafetyRules& rules) {
  static const SpecialBytes kSpecial;
  if (name.empty()) return false;
  if (rules.windows && name.size() >= 2 && IsDriveLetter(name[0]) && name[1] == ':') return false;
  const bool* special = rules.windows ? kSpecial.windows : kSpecial.posix;
  const char* const text = name.data();
  const size_t size = name.size();
  for (size_t i = 0, componentStart = 0;; componentStart = ++i) {
    // Elsewhere than on Windows only NUL and '/' need a look: eight bytes
    // without them pass at once.
    if (!rules.windows) {
      while (size - i >= 8 && !HasNulOrSlash(text + i)) i += 8;
    }
    while (i < size && !special[static_cast<unsigned char>(text[i])]) ++i;
    const bool end = i == size;
    if (!end && text[i] != '/') return false;  // replaced, or a separator other than '/'
    const size_t length = i - componentStart;
    if (length == 0 && !(end && i > 0)) return false;  // only a directory's trailing '/' may end empty
    if (length == 1 && text[componentStart] == '.') return false;
    if (length == 2 && text[componentStart] == '.' && text[componentStart + 1] == '.') return false;
    if (rules.windows && UnusableOnWindows(text + componentStart, length)) return false;
    if (end) return true;
  }
}

bool NormalEntryName(const std::string& name, std::string& normal) {
  normal.clear();
  normal.reserve(name.size());
  size_t start = 0;
  while (start < name.size()) {
    size_t end = name.find('/', start);
    if (end == std::string::npos) end = name.size();
    // Each component is looked at where it lies: a copy of each would cost
    // more than the rest of the work on a name.
    const char* component = name.data() + start;
    const size_t length = end - start;
    if (length == 2 && component[0] == '.' && component[1] == '.') return false;
    if (length > 0 && !(length == 1 && component[0] == '.')) {
      if (!normal.empty()) normal.push_back('/');
      normal.append(component, length);
    }
    start = end + 1;
  }
  if (!normal.empty() && name.back() == '/') normal.push_back('/');
  return true;
}

std::string EntryMatchKey(const std::string& name, bool caseBlind) {
  if (!caseBlind) return name;
  std::string key = name;
  for (char& c : key) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return key;
}

bool NamesClash(const std::vector<std::string>& newNames, const std::vector<std::string>& oldNames,
                bool caseBlind) {
  // Every new key once; those without a trailing '/' are the new files.
  std::unordered_set<std::string> seen;
  seen.reserve(newNames.size());
  NameKinds added(false);
  for (const std::string& name : newNames) {
    std::string key = EntryMatchKey(name, caseBlind);
    added.Add(key);
    if (!seen.insert(std::move(key)).second) return true;
  }
  NameKinds old(true);
  for (const std::string& name : oldNames) old.Add(EntryMatchKey(name, caseBlind));
  if (AnyFileAmong(seen, added.folders) || AnyFileAmong(seen, old.folders)) return true;
  for (const std::string& folder : added.folders) {
    if (old.files.count(folder) != 0) return true;
  }
  return false;
}

std::string EntryHostName(const std::string& name, bool leadingSeparator, char separator) {
  std::string out;
  out.reserve(name.size() + 1);
  if (leadingSeparator) out.push_back(separator);
  for (char c : name) out.push_back(c == '/' ? separator : c);
  return out;
}

std::string SafeEntryName(const std::string& name, const NameSafetyRules& rules) {
  if (AlreadySafe(name, rules)) return name;
  std::string rest = name;
  // "C:x" or "C:\x": the drive prefix goes, whatever follows it.
  if (rules.windows && rest.size() >= 2 && IsDriveLetter(rest[0]) && rest[1] == ':') rest.erase(0, 2);
  const bool directory = !rest.empty() && IsSeparator(rest.back(), rules);

  std::string out;
  out.reserve(rest.size());
  size_t start = 0;
  while (start <= rest.size()) {
    size_t end = start;
    while (end < rest.size() && !IsSeparator(rest[end], rules)) ++end;
    std::string component = rest.substr(start, end - start);
    for (char& c : component) {
      if (Replaced(c, rules)) c = '_';
    }
    if (!component.empty() && component != "." && component != "..") {
      if (rules.windows && UnusableOnWindows(component.data(), component.size())) {
        // "CON" -> "_CON", "a." -> "a._": a name of its own that Windows keeps.
        const bool device = IsDeviceName(component.data(), component.size());
        const char last = component.back();
        if (device) component.insert(0, 1, '_');
        if (last == '.' || last == ' ') component.push_back('_');
      }
      if (!out.empty()) out.push_back('/');
      out += component;
    }
    start = end + 1;
  }
  if (out.empty()) out = "_";
  if (directory) out.push_back('/');
  return out;
}

std::string TruncateName(const std::string& name, size_t maxBytes, char separator) {
  if (name.size() <= maxBytes) return name;
  const size_t cut = name.rfind(separator, maxBytes);
  if (cut != std::string::npos && cut > maxBytes / 2) return name.substr(0, cut);
  return name.substr(0, maxBytes);
}

}  // namespace tvx
