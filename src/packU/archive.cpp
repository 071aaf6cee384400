#include "packU/archive.h"

#include <algorithm>
#include <cstring>

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
  // The list grows with the records actually read, not with the count the
  // header claims: a damaged or hostile count of millions must not reserve
  // gigabytes up front (a 32-bit host's address space has no such room).

  std::vector<uint8_t> buffer(kDirectoryBlock);
  size_t begin = 0;  // unparsed bytes are buffer[begin, end)
  size_t end = 0;
  bool atEnd = false;
  OpenResult ended = OpenResult::kDamaged;  // why the reading stopped
  uint32_t consumed = kHeaderSize;
  while (static_cast<int32_t>(entries_.size()) < entryCount) {
    ArchiveEntry entry;
    size_t pos = begin;
    if (ParseRecord(buffer.data(), end, pos, entry)) {
      consumed += static_cast<uint32_t>(pos - begin);
      begin = pos;
      entries_.push_back(std::move(entry));
      continue;
    }
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

ArchiveEntry* Archive::EntryAt(int32_t index) {
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
