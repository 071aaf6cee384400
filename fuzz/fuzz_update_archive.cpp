// Changing any file that claims to be an archive: pack a fixed set of files
// into it, and separately delete a fixed set of names from it. Either the call
// fails and the file is byte for byte what it was, or the result is an archive
// that opens cleanly, keeps every other old entry's record and packed bytes
// exactly, and holds the new files intact. Nothing may be left behind.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_scratch.h"
#include "iwcxhead/wcxhead.h"
#include "packU/archive.h"
#include "packU/entry_name.h"
#include "packU/extract.h"

namespace {

using tvx::fuzz::Fail;

constexpr int64_t kContentBudget = 16 << 20;  // see fuzz_read_archive.cpp

struct Scratch {
  std::string root;
  std::string archive;
  std::string sources;  // ends in '/'
  std::string temp;
};

const Scratch& Setup() {
  static const Scratch scratch = [] {
    Scratch s;
    s.root = tvx::fuzz::ScratchRoot();
    s.archive = s.root + "/arc.tvx";
    s.sources = s.root + "/src/";
    s.temp = s.root + "/tmp";
    tvx::fuzz::MakeFolder(s.sources);
    tvx::fuzz::MakeFolder(s.sources + "sub");
    tvx::fuzz::MakeFolder(s.temp);
    std::string text;
    for (int i = 0; i < 40; ++i) text += "a line of text that deflates well, number " + std::to_string(i) + "\n";
    std::string noise;
    uint32_t x = 12345;
    for (int i = 0; i < 64; ++i) noise += static_cast<char>((x = x * 1103515245u + 12345u) >> 24);
    tvx::fuzz::WriteBytes(s.sources + "add1.txt", reinterpret_cast<const uint8_t*>(text.data()), text.size());
    tvx::fuzz::WriteBytes(s.sources + "sub/add2.bin", reinterpret_cast<const uint8_t*>(noise.data()), noise.size());
    // Temporary archives go here, where they can be seen and counted.
    ::setenv("TMPDIR", s.temp.c_str(), 1);
    return s;
  }();
  return scratch;
}

// What the old file held, as the archive code reads it.
struct OldEntry {
  tvx::ArchiveEntry record;
  std::string packed;     // its packed bytes; only when all of them are in the file
  bool tested = false;    // false when over the budget
  tvx::Status test = tvx::Status::kOk;
};

std::string PackedBytes(tvx::Archive& archive, const tvx::ArchiveEntry& entry) {
  std::string bytes;
  if (entry.packedSize <= 0 || !archive.EntryDataPresent(entry)) return bytes;
  tvx::SliceStream slice = archive.EntryData(entry);
  bytes.resize(static_cast<size_t>(entry.packedSize));
  bytes.resize(slice.TryRead(&bytes[0], static_cast<uint32_t>(bytes.size())).count);
  return bytes;
}

std::vector<OldEntry> ReadOld(const std::string& path) {
  std::vector<OldEntry> entries;
  std::unique_ptr<tvx::Archive> archive = tvx::Archive::NewArchive(tvx::platform::OsSystem(), path);
  if (!archive->valid() || archive->damaged()) return entries;
  int64_t budget = kContentBudget;
  for (const tvx::ArchiveEntry& record : archive->entries()) {
    OldEntry entry;
    entry.record = record;
    entry.packed = PackedBytes(*archive, record);
    // A folder or an entry without content keeps no bytes (nothing reads them).
    if ((record.IsDirectory() || !record.HasContent()) && record.packedSize > 0) {
      entry.record.packedSize = 0;
      entry.packed.clear();
    }
    const int64_t size = record.unpackedSize > 0 ? record.unpackedSize : 0;
    if (size <= budget) {
      budget -= size;
      entry.tested = true;
      entry.test = tvx::TestEntry(*archive, record);
    }
    entries.push_back(std::move(entry));
  }
  return entries;
}

bool SameRecord(const tvx::ArchiveEntry& a, const tvx::ArchiveEntry& b) {
  return a.name == b.name && a.time == b.time && a.unpackedSize == b.unpackedSize && a.packedSize == b.packedSize;
}

void CheckNothingLeft(const Scratch& s) {
  const std::set<std::string> expected = {"arc.tvx", "src", "tmp"};
  if (tvx::fuzz::FolderNames(s.root) != expected) Fail("unexpected file beside the archive");
  if (!tvx::fuzz::FolderNames(s.temp).empty()) Fail("temporary file left", *tvx::fuzz::FolderNames(s.temp).begin());
}

// The new archive: the kept old entries in their order, unchanged, then the additions.
void CheckNewArchive(const Scratch& s, const std::vector<OldEntry>& old, bool (*dropped)(const std::string&),
                     const std::vector<std::string>& added) {
  std::unique_ptr<tvx::Archive> archive = tvx::Archive::NewArchive(tvx::platform::OsSystem(), s.archive);
  if (!archive->valid() || archive->damaged()) Fail("the new archive does not open");
  const std::vector<tvx::ArchiveEntry>& entries = archive->entries();
  size_t next = 0;
  for (const OldEntry& entry : old) {
    // Deleting and replacing match the name the host was shown as well as
    // the stored one ("sub//" is shown as "sub/").
    const std::string shown = tvx::SafeEntryName(entry.record.name, tvx::NameSafetyRules{false});
    if (dropped(entry.record.name) || dropped(shown)) continue;
    if (next >= entries.size() || !SameRecord(entries[next], entry.record)) Fail("old entry lost or changed", entry.record.name);
    if (PackedBytes(*archive, entries[next]) != entry.packed) Fail("old entry's bytes changed", entry.record.name);
    if (entry.tested && tvx::TestEntry(*archive, entries[next]) != entry.test) Fail("old entry tests differently");
    ++next;
  }
  for (const std::string& name : added) {
    if (next >= entries.size() || entries[next].name != name) Fail("added entry missing", name);
    if (tvx::TestEntry(*archive, entries[next]) != tvx::Status::kOk) Fail("added entry does not test", name);
    ++next;
  }
  if (next != entries.size()) Fail("unexpected extra entries");
}

bool DroppedByPack(const std::string& name) { return name == "add1.txt" || name == "sub/" || name == "sub/add2.bin"; }

bool DroppedByDelete(const std::string& name) {
  return name == "add1.txt" || name == "data.bin" || name.compare(0, 5, "docs/") == 0;
}

void CheckRefusal(int result, const std::string& before, const Scratch& s) {
  if (result != E_UNKNOWN_FORMAT && result != E_BAD_ARCHIVE && result != E_NOT_SUPPORTED) {
    Fail("unexpected result", std::to_string(result));
  }
  if (tvx::fuzz::ReadBytes(s.archive) != before) Fail("refused change altered the old archive");
}

void PackInto(const Scratch& s, const uint8_t* data, size_t size) {
  const std::string before(reinterpret_cast<const char*>(data), size);
  if (!tvx::fuzz::WriteBytes(s.archive, data, size)) Fail("cannot write the input");
  const std::vector<OldEntry> old = ReadOld(s.archive);
  std::string archive = s.archive;
  std::string sources = s.sources;
  char list[] = "add1.txt\0sub/\0sub/add2.bin\0";
  const int result = PackFiles(&archive[0], nullptr, &sources[0], list, PK_PACK_SAVE_PATHS);
  if (result != 0) {
    CheckRefusal(result, before, s);
  } else {
    CheckNewArchive(s, old, DroppedByPack, {"add1.txt", "sub/", "sub/add2.bin"});
  }
  CheckNothingLeft(s);
}

void DeleteFrom(const Scratch& s, const uint8_t* data, size_t size) {
  const std::string before(reinterpret_cast<const char*>(data), size);
  if (!tvx::fuzz::WriteBytes(s.archive, data, size)) Fail("cannot write the input");
  const std::vector<OldEntry> old = ReadOld(s.archive);
  std::string archive = s.archive;
  char list[] = "add1.txt\0docs/*.*\0data.bin\0";
  const int result = DeleteFiles(&archive[0], list);
  if (result != 0) {
    CheckRefusal(result, before, s);
  } else {
    CheckNewArchive(s, old, DroppedByDelete, {});
  }
  CheckNothingLeft(s);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const Scratch& s = Setup();
  PackInto(s, data, size);
  DeleteFrom(s, data, size);
  return 0;
}
