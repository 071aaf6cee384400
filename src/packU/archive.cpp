#include "packU/archive.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <iterator>
#include <map>

#include "packU/format.h"
#include "packU/little_endian.h"
#include "packU/status.h"

namespace tvx {
namespace {

// The directory is read in blocks of this size, not record by record.
constexpr size_t kDirectoryBlock = 256 * 1024;
// Entries are read through a window of this size: one read of the file serves
// many small entries.
constexpr uint32_t kReadAheadWindow = 256 * 1024;
// Entries reserved up front at most (some 50 MiB on a 64-bit host): what
// the header claims beyond that is believed only as it is read.
constexpr size_t kReservedEntries = size_t{1} << 20;

// Folders and entries without content read nothing and share with none.
bool ReadsData(const ArchiveEntry& entry) { return !entry.IsDirectory() && entry.HasContent() && entry.packedSize > 0; }

}  // namespace

std::unique_ptr<Archive> Archive::NewArchive(platform::System& system, const std::string& fileName) {
  std::unique_ptr<Archive> archive(new Archive(system));
  archive->fileName_ = fileName;
  archive->stream_ = OpenReadFileStream(system, fileName);
  archive->reader_ = std::make_unique<ReadAheadStream>(*archive->stream_, kReadAheadWindow);
  archive->result_ = archive->ReadHeaderAndDirectory();
  if (archive->result_ != OpenResult::kOk) {
    archive->entries_.clear();
    archive->entries_.shrink_to_fit();
  }
  archive->MarkSharedData();
  return archive;
}

Archive::OpenResult Archive::ShortRead(const platform::IoError& error) {
  return ArchiveReadStatus(error) == Status::kReadFailed ? OpenResult::kReadFailed : OpenResult::kDamaged;
}

Archive::OpenResult Archive::ReadHeaderAndDirectory() {
  uint8_t header[kHeaderSize];
  // May be short: a file shorter than the header is foreign or damaged.
  const Transfer read = stream_->TryRead(header, kHeaderSize);
  const uint32_t got = read.count;
  fileSize_ = stream_->Size();
  if (got < kMagicSize || std::memcmp(header, kMagic, kMagicSize) != 0) {
    version_ = 0xFFFF;
    const bool readError = stream_->IsOpen() && got < kMagicSize && ShortRead(read.error) == OpenResult::kReadFailed;
    return readError ? OpenResult::kReadFailed : OpenResult::kNotThisFormat;
  }
  valid_ = true;
  if (got < kHeaderSize) {  // the magic, then the file ends inside the header
    if (got >= kMagicSize + 4) version_ = ReadLe32(header + kMagicSize);
    return ShortRead(read.error);
  }
  version_ = ReadLe32(header + kMagicSize);
  const auto entryCount = static_cast<int32_t>(ReadLe32(header + kMagicSize + 4));
  return ReadDirectory(entryCount);
}

Archive::OpenResult Archive::ReadDirectory(int32_t entryCount) {
  dataStart_ = kHeaderSize;
  if (entryCount <= 0) return OpenResult::kOk;
  // Every record takes at least kRecordFixedSize bytes: a count the file cannot
  // hold is damage, found before anything is allocated for it.
  const uint32_t room = fileSize_ > kHeaderSize ? fileSize_ - kHeaderSize : 0;
  if (static_cast<uint32_t>(entryCount) > room / kRecordFixedSize) return OpenResult::kDamaged;
  // Beyond a bound the list grows with the records actually read, not with
  // the count the header claims: a damaged or hostile count of millions must
  // not reserve gigabytes up front (a 32-bit host's address space has no such
  // room). Up to it, one allocation instead of a copy at every doubling.
  entries_.reserve(std::min<size_t>(static_cast<size_t>(entryCount), kReservedEntries));

  std::vector<uint8_t> buffer(kDirectoryBlock);
  size_t begin = 0;  // unparsed bytes are buffer[begin, end)
  size_t end = 0;
  bool atEnd = false;
  OpenResult ended = OpenResult::kDamaged;  // why the reading stopped
  uint32_t consumed = kHeaderSize;
  uint64_t previousEnd = 0;  // of the data read by the entries so far
  while (static_cast<int32_t>(entries_.size()) < entryCount) {
    // Parsed where it is kept: no entry is moved into the list.
    ArchiveEntry& entry = entries_.emplace_back();
    size_t pos = begin;
    if (ParseRecord(buffer.data(), end, pos, entry)) {
      consumed += static_cast<uint32_t>(pos - begin);
      begin = pos;
      // Told while the entry is at hand: no second walk over a large directory.
      if (dataAscends_ && ReadsData(entry)) {
        const uint64_t first = static_cast<uint32_t>(entry.dataOffset);
        dataAscends_ = first >= previousEnd;
        previousEnd = first + static_cast<uint32_t>(entry.packedSize);
      }
      continue;
    }
    entries_.pop_back();
    if (atEnd) return ended;  // the directory ends inside a record
    // Keep the partial record and read the next block behind it.
    std::memmove(buffer.data(), buffer.data() + begin, end - begin);
    end -= begin;
    begin = 0;
    const Transfer got = stream_->TryRead(buffer.data() + end, static_cast<uint32_t>(buffer.size() - end));
    end += got.count;
    if (got.count == 0) {
      atEnd = true;
      ended = ShortRead(got.error);
    }
  }
  dataStart_ = consumed;
  return OpenResult::kOk;
}

namespace {

struct DataRange {
  size_t entry;  // index
  uint64_t begin;
  uint64_t end;
  int trust;  // higher first; among overlapping ranges only the most trusted keeps its bytes
};

// How well an entry fits the back-to-back layout of its neighbours in
// directory order: 4 when its range begins where the previous one ends and
// ends where the next one begins (or the data ends), 2 when only its end fits
// (its offset is out of place, yet the record after it agrees), 1 when only
// its begin fits (its size claims too much), 0 when neither does. One damaged
// record thus loses to the intact neighbours it now reaches into, and of many
// records pointing at the same bytes only one keeps them.
int Trust(bool beginFits, bool endFits) { return (beginFits ? 1 : 0) + (endFits ? 2 : 0) + (beginFits && endFits ? 1 : 0); }

}  // namespace

// Each range is checked against the merged ranges of the more trusted ones:
// n log n for any directory.
void Archive::MarkSharedData() {
  // The usual archive: every range starts at or after the end of the one
  // before (found while reading the directory), so none can overlap another
  // and the weighing below is not needed.
  if (dataAscends_) return;
  std::vector<DataRange> ranges;
  for (size_t i = 0; i < entries_.size(); ++i) {
    const ArchiveEntry& entry = entries_[i];
    if (!ReadsData(entry)) continue;
    const uint64_t begin = static_cast<uint32_t>(entry.dataOffset);
    ranges.push_back(DataRange{i, begin, begin + static_cast<uint32_t>(entry.packedSize), 0});
  }
  const uint64_t dataEnd = fileSize_ > dataStart_ ? fileSize_ - dataStart_ : 0;
  for (size_t i = 0; i < ranges.size(); ++i) {
    const bool beginFits = ranges[i].begin == (i == 0 ? 0 : ranges[i - 1].end);
    const bool endFits = ranges[i].end == (i + 1 == ranges.size() ? dataEnd : ranges[i + 1].begin);
    // A copy of the previous record's range (the plainest bomb) fits nothing.
    const bool repeated = i > 0 && ranges[i].begin == ranges[i - 1].begin && ranges[i].end == ranges[i - 1].end;
    ranges[i].trust = repeated ? 0 : Trust(beginFits, endFits);
  }
  // Equal trust: the later entry yields, as a reader meets the earlier first.
  std::stable_sort(ranges.begin(), ranges.end(),
                   [](const DataRange& a, const DataRange& b) { return a.trust > b.trust; });
  std::map<uint64_t, uint64_t> taken;  // begin -> end of disjoint merged ranges
  for (const DataRange& range : ranges) {
    uint64_t begin = range.begin;
    uint64_t end = range.end;
    auto next = taken.lower_bound(end);  // the first range that begins at or after this one's end
    if (next != taken.begin() && std::prev(next)->second > begin) {
      sharesData_.resize(entries_.size(), false);
      sharesData_[range.entry] = true;
      sharedData_ = true;
    }
    // Merge every range this one touches or overlaps.
    while (next != taken.begin()) {
      auto before = std::prev(next);
      if (before->second < begin) break;
      begin = std::min(begin, before->first);
      end = std::max(end, before->second);
      taken.erase(before);
    }
    taken[begin] = end;
  }
}

bool Archive::SharesData(const ArchiveEntry& entry) const {
  if (!sharedData_) return false;
  // A copy of an entry, not in the list, is taken to share: passing one
  // must not get around the check.
  const std::less<const ArchiveEntry*> before;
  const ArchiveEntry* first = entries_.data();
  if (before(&entry, first) || !before(&entry, first + entries_.size())) return true;
  return sharesData_[static_cast<size_t>(&entry - first)];
}

const ArchiveEntry* Archive::EntryAt(int32_t index) const {
  if (index < 0 || static_cast<size_t>(index) >= entries_.size()) return nullptr;
  return &entries_[static_cast<size_t>(index)];
}

uint32_t Archive::EntryDataPosition(const ArchiveEntry& entry) const {
  return dataStart_ + static_cast<uint32_t>(entry.dataOffset);
}

bool Archive::EntryDataPresent(const ArchiveEntry& entry) const {
  const uint64_t start = static_cast<uint64_t>(dataStart_) + static_cast<uint32_t>(entry.dataOffset);
  if (start > 0xFFFFFFFFull) return false;  // the 32-bit position wrapped
  return start + static_cast<uint32_t>(entry.packedSize) <= fileSize_;
}

SliceStream Archive::EntryData(const ArchiveEntry& entry) {
  return SliceStream(*reader_, EntryDataPosition(entry), static_cast<uint32_t>(entry.packedSize));
}

}  // namespace tvx
