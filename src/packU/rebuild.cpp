#include "packU/rebuild.h"

#include <memory>
#include <string_view>
#include <unordered_set>

#include "commonsU/entry_time.h"
#include "packU/format.h"
#include "packU/little_endian.h"
#include "packU/pack_file.h"
#include "packU/range_copier.h"
#include "platform/platform.h"
#include "streams/file_stream.h"

namespace tvx {
namespace {

// Names to drop from the old archive, matched in constant time per name.
class DropSet {
 public:
  explicit DropSet(const RebuildPlan& plan) {
    for (const auto& name : plan.removeNames) exact_.insert(name);
    for (const auto& item : plan.additions) exact_.insert(item.entryName);
    for (const auto& folder : plan.removeFolders) folders_.insert(folder);
  }

  bool Drops(const std::string& name) const {
    if (exact_.count(name) != 0) return true;
    if (folders_.empty()) return false;
    for (size_t slash = name.find('/'); slash != std::string::npos; slash = name.find('/', slash + 1)) {
      if (folders_.count(std::string_view(name.data(), slash + 1)) != 0) return true;
    }
    return false;
  }

 private:
  std::unordered_set<std::string_view> exact_;
  std::unordered_set<std::string_view> folders_;
};

// The time a new entry gets: the file's own, else (a folder, a vanished file)
// the folder's modification time, else now.
int32_t NewEntryTime(const std::string& sourcePath) {
  uint32_t dos = platform::FileDosDateTime(sourcePath);
  if (dos == platform::kAllBits) dos = platform::ModifiedDosDateTime(sourcePath);
  if (dos == platform::kAllBits) dos = platform::CurrentDosDateTime();
  return DosTimeToEntryTime(dos);
}

std::string DirectoryBytes(const std::vector<ArchiveEntry>& entries) {
  std::string bytes;
  for (const auto& entry : entries) AppendRecord(entry, bytes);
  return bytes;
}

bool WriteAll(ByteStream& output, const std::string& bytes) {
  const auto size = static_cast<uint32_t>(bytes.size());
  return output.Write(bytes.data(), size) == size;
}

// Copies the kept entries' bytes in old directory order and gives each its new
// dataOffset. Neighbours need not lie back to back: the copier reads the old
// file in large blocks either way.
Status CopyKeptData(Archive& old, const std::vector<const ArchiveEntry*>& kept, std::vector<ArchiveEntry>& out,
                    ByteStream& output, uint32_t dataStart) {
  RangeCopier copier(old.stream(), old.fileSize(), output);
  uint32_t running = 0;
  for (size_t i = 0; i < kept.size(); ++i) {
    const ArchiveEntry& entry = *kept[i];
    out[i].dataOffset = static_cast<int32_t>(running);
    if (entry.packedSize == 0) continue;
    if (!old.EntryDataPresent(entry)) return Status::kBadArchive;
    const auto size = static_cast<uint32_t>(entry.packedSize);
    if (size > kMaxArchiveSize - dataStart - running) return Status::kTooLarge;
    const Status status = copier.Copy(old.EntryDataPosition(entry), size);
    if (status != Status::kOk) return status;
    running += size;
  }
  return copier.Flush();
}

class Rebuild {
 public:
  Rebuild(const RebuildPlan& plan, const NewEntryWritten& onNewEntry) : plan_(plan), onNewEntry_(onNewEntry) {}

  Status Run(const std::string& newPath) {
    const Status refused = RefuseOversizedFiles();
    if (refused != Status::kOk) return refused;
    std::vector<const ArchiveEntry*> kept = KeptEntries();
    for (const ArchiveEntry* entry : kept) entries_.push_back(*entry);
    for (const NewItem& item : plan_.additions) entries_.push_back(NewEntry(item));

    output_ = OpenReadWriteFileStream(newPath);
    if (!output_->IsOpen()) return Status::kCreateFailed;
    if (!output_->SetSize(0)) return Status::kWriteFailed;

    const std::string directory = DirectoryBytes(entries_);
    if (directory.size() > kMaxArchiveSize - kHeaderSize) return Status::kTooLarge;
    const auto dataStart = static_cast<uint32_t>(kHeaderSize + directory.size());
    if (!WriteAll(*output_, Header()) || !WriteAll(*output_, directory)) return Status::kWriteFailed;

    Status status = Status::kOk;
    if (plan_.oldArchive != nullptr) status = CopyKeptData(*plan_.oldArchive, kept, entries_, *output_, dataStart);
    if (status != Status::kOk) return status;
    status = WriteNewData(kept.size(), dataStart);
    if (status != Status::kOk) return status;
    return RewriteDirectory();
  }

 private:
  Status RefuseOversizedFiles() const {
    for (const NewItem& item : plan_.additions) {
      if (platform::FileSize64(item.sourcePath) > static_cast<int64_t>(kMaxArchiveSize)) return Status::kTooLarge;
    }
    return Status::kOk;
  }

  std::vector<const ArchiveEntry*> KeptEntries() const {
    std::vector<const ArchiveEntry*> kept;
    if (plan_.oldArchive == nullptr) return kept;
    const DropSet drops(plan_);
    for (const ArchiveEntry& entry : plan_.oldArchive->entries()) {
      if (!drops.Drops(entry.name)) kept.push_back(&entry);
    }
    return kept;
  }

  static ArchiveEntry NewEntry(const NewItem& item) {
    ArchiveEntry entry;
    entry.name = item.entryName;
    entry.time = NewEntryTime(item.sourcePath);
    return entry;
  }

  // The magic stays zero until the archive is complete (see RewriteDirectory).
  std::string Header() const {
    std::string header(kMagicSize, '\0');
    AppendLe32(header, kFormatVersion);
    AppendLe32(header, static_cast<uint32_t>(entries_.size()));
    return header;
  }

  Status WriteNewData(size_t first, uint32_t dataStart) {
    for (size_t i = first; i < entries_.size(); ++i) {
      ArchiveEntry& entry = entries_[i];
      const uint32_t position = output_->Position();
      if (position == kStreamError) return Status::kWriteFailed;
      entry.dataOffset = static_cast<int32_t>(position - dataStart);
      if (!entry.IsDirectory()) {
        PackedContent content;
        const Status status =
            PackFileContent(plan_.additions[i - first].sourcePath, *output_, kMaxArchiveSize, content);
        if (status != Status::kOk) return status;
        entry.unpackedSize = content.unpackedSize;
        entry.packedSize = content.packedSize;
      }
      if (onNewEntry_) onNewEntry_(entry);
    }
    return Status::kOk;
  }

  // The final directory, then the magic: a file whose writing was cut short
  // (a killed process) is never taken for a complete archive.
  Status RewriteDirectory() {
    const uint32_t end = output_->Position();
    if (end == kStreamError || output_->SetPosition(kHeaderSize) != kHeaderSize) return Status::kWriteFailed;
    if (!WriteAll(*output_, DirectoryBytes(entries_))) return Status::kWriteFailed;
    if (output_->SetPosition(0) != 0 || !WriteAll(*output_, std::string(kMagic, kMagicSize))) {
      return Status::kWriteFailed;
    }
    return output_->SetPosition(end) == end ? Status::kOk : Status::kWriteFailed;
  }

  const RebuildPlan& plan_;
  const NewEntryWritten& onNewEntry_;
  std::vector<ArchiveEntry> entries_;
  std::unique_ptr<FileStream> output_;
};

}  // namespace

Status RebuildArchive(const std::string& newPath, const RebuildPlan& plan, const NewEntryWritten& onNewEntry) {
  return Rebuild(plan, onNewEntry).Run(newPath);
}

}  // namespace tvx
