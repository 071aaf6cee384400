#include "packU/rebuild.h"

#include <memory>
#include <new>
#include <string_view>
#include <utility>
#include <vector>

#include "commonsU/entry_time.h"
#include "commonsU/path_text.h"
#include "packU/format.h"
#include "packU/little_endian.h"
#include "packU/name_table.h"
#include "packU/pack_file.h"
#include "packU/range_copier.h"
#include "platform/platform.h"
#include "streams/copy_stream.h"
#include "streams/file_stream.h"
#include "streams/write_behind_stream.h"

namespace tvx {
namespace {

// The new archive is written through a buffer of this size (see Rebuild::Run).
constexpr uint32_t kWriteBuffer = 1u << 20;

// Names to drop from the old archive, matched in constant time per name.
class DropSet {
 public:
  explicit DropSet(const RebuildPlan& plan)
      : exact_(plan.removeNames.size() + plan.additions.size(), ExactName{&plan}),
        folders_(plan.removeFolders.size(), FolderName{&plan}) {
    uint32_t id = 0;
    for (const auto& name : plan.removeNames) exact_.Insert(name, id++);
    for (const auto& item : plan.additions) exact_.Insert(item.entryName, id++);
    id = 0;
    for (const auto& folder : plan.removeFolders) folders_.Insert(folder, id++);
  }

  // No name is dropped (deleting drops by place).
  bool empty() const { return exact_.empty() && folders_.empty(); }

  bool Drops(const std::string& name) const {
    if (exact_.Contains(name)) return true;
    if (folders_.empty()) return false;
    for (size_t slash = name.find('/'); slash != std::string::npos; slash = name.find('/', slash + 1)) {
      if (folders_.Contains(std::string_view(name.data(), slash + 1))) return true;
    }
    return false;
  }

 private:
  // The names to remove, then the additions' names.
  struct ExactName {
    const RebuildPlan* plan;
    std::string_view operator()(uint32_t id) const {
      const size_t removed = plan->removeNames.size();
      return id < removed ? std::string_view(plan->removeNames[id]) : plan->additions[id - removed].entryName;
    }
  };
  struct FolderName {
    const RebuildPlan* plan;
    std::string_view operator()(uint32_t id) const { return plan->removeFolders[id]; }
  };

  NameTable<ExactName> exact_;
  NameTable<FolderName> folders_;
};

// The time a new entry gets: the file's own, else (a folder, a vanished file)
// the folder's modification time, else now.
int32_t NewEntryTime(platform::System& system, const std::string& sourcePath) {
  int64_t time = system.FileWallClockTime(sourcePath);
  // A folder comes with its trailing separator, which FindFirstFileA refuses.
  const std::string folder = WithoutTrailingSeparators(sourcePath, platform::IsPathSeparator);
  if (time == platform::kNoWallClock) time = system.ModifiedWallClockTime(folder);
  if (time == platform::kNoWallClock) time = system.CurrentWallClockTime();
  return EntryTimeOfWallClock(time);
}

// The room one record may need in the write buffer.
constexpr uint32_t kLargestRecord = kRecordFixedSize + kMaxNameLength;

bool WriteAll(ByteStream& output, const std::string& bytes) {
  return !output.TryWrite(bytes.data(), static_cast<uint32_t>(bytes.size())).failed();
}

// The bytes a kept entry takes along: none for a folder or an entry without
// content, whatever its record claims. Nothing reads them, and copying them
// would let many such records multiply one file's bytes.
uint32_t KeptDataSize(const ArchiveEntry& entry) {
  return entry.IsDirectory() || !entry.HasContent() ? 0 : static_cast<uint32_t>(entry.packedSize);
}

// The old archive's entries that stay, in their order, each with its new
// placement: their bytes follow each other in old directory order. Known
// before anything is copied, so an archive that only loses entries gets its
// directory written once. The entries are not copied, nor their placements
// kept: they are worked out again on each walk.
class KeptEntries {
 public:
  KeptEntries() = default;
  KeptEntries(const std::vector<ArchiveEntry>& entries, std::vector<uint32_t> kept)
      : entries_(&entries), kept_(std::move(kept)) {}

  size_t count() const { return kept_.size(); }

  // visit(entry, packedSize, dataOffset) for each kept entry, until it
  // answers false; true when it never did.
  template <typename Visit>
  bool ForEach(Visit visit) const {
    uint32_t running = 0;
    for (const uint32_t index : kept_) {
      const ArchiveEntry& entry = (*entries_)[index];
      const uint32_t size = KeptDataSize(entry);
      // A size that reads negative stays: the entry stays damaged.
      const int32_t packedSize = size == 0 && entry.packedSize > 0 ? 0 : entry.packedSize;
      if (!visit(entry, packedSize, static_cast<int32_t>(running))) return false;
      running += size;
    }
    return true;
  }

 private:
  const std::vector<ArchiveEntry>* entries_ = nullptr;
  std::vector<uint32_t> kept_;  // indexes into entries_, ascending
};

// Every kept entry's bytes lie in the old archive, and the new one stays
// below its limit.
Status CheckKeptData(Archive& old, const KeptEntries& kept, uint32_t dataStart) {
  Status status = Status::kOk;
  kept.ForEach([&](const ArchiveEntry& entry, int32_t, int32_t dataOffset) {
    const uint32_t size = KeptDataSize(entry);
    if (size == 0) return true;
    if (!old.EntryDataPresent(entry)) status = Status::kBadArchive;
    else if (size > kMaxArchiveSize - dataStart - static_cast<uint32_t>(dataOffset)) status = Status::kTooLarge;
    return status == Status::kOk;
  });
  return status;
}

// Copies the kept entries' bytes in old directory order. Neighbours that lie
// back to back form one run, copied in one go: deleting every other entry then
// costs a copy per run, not per entry. A run ends before each progress report,
// so the host hears of exactly the bytes already copied.
// Reports the share copied about every copy block, and once at the end.
Status CopyKeptData(Archive& old, const KeptEntries& kept, WriteBehindStream& output, WorkProgress* progress) {
  uint64_t total = 0;
  kept.ForEach([&](const ArchiveEntry& entry, int32_t, int32_t) {
    total += KeptDataSize(entry);
    return true;
  });
  RangeCopier copier(old.stream(), old.fileSize(), output);
  uint32_t runStart = 0;
  uint32_t runLength = 0;
  const auto copyRun = [&] {
    const Status status = runLength == 0 ? Status::kOk : copier.Copy(runStart, runLength);
    runLength = 0;
    return status;
  };
  uint64_t copied = 0;
  uint64_t reportedAt = 0;
  Status status = Status::kOk;
  kept.ForEach([&](const ArchiveEntry& entry, int32_t, int32_t) {
    const uint32_t start = old.EntryDataPosition(entry);
    const uint32_t size = KeptDataSize(entry);
    for (uint32_t done = 0; done < size;) {
      const uint32_t piece = size - done < kCopyChunk ? size - done : kCopyChunk;
      if (runLength != 0 && runStart + runLength != start + done) {
        status = copyRun();
        if (status != Status::kOk) return false;
      }
      if (runLength == 0) runStart = start + done;
      runLength += piece;
      done += piece;
      copied += piece;
      const bool last = copied == total;
      if (progress != nullptr && (last || copied - reportedAt >= kCopyChunk)) {
        status = copyRun();
        if (status != Status::kOk) return false;
        reportedAt = copied;
        if (!progress->KeptCopied(entry, static_cast<int>(copied * 100 / total))) status = Status::kCancelled;
        if (status != Status::kOk) return false;
      }
    }
    return true;
  });
  return status != Status::kOk ? status : copyRun();
}

class Rebuild {
 public:
  Rebuild(platform::System& system, const RebuildPlan& plan, const NewEntryWritten& onNewEntry)
      : system_(system), plan_(plan), onNewEntry_(onNewEntry) {}

  Status Run(const std::string& newPath) {
    const Status refused = RefuseOversizedFiles();
    if (refused != Status::kOk) return refused;
    kept_ = Kept();
    added_.reserve(plan_.additions.size());
    for (const NewItem& item : plan_.additions) added_.push_back(NewEntry(item));
    if (plan_.sourceStamps != nullptr) plan_.sourceStamps->assign(plan_.additions.size(), platform::FileStamp{});

    output_ = OpenReadWriteFileStream(system_, newPath);
    if (!output_->IsOpen()) return Status::kCreateFailed;
    if (!output_->SetSize(0)) return Status::kWriteFailed;
    // The header, the directory and the data of many small entries go out
    // in large pieces.
    out_.reset(new (std::nothrow) WriteBehindStream(*output_, kWriteBuffer));
    if (!out_ || !out_->buffered()) return Status::kNoMemory;

    // New entries' records are placeholders until their data is written; the
    // kept ones are final already.
    uint64_t directorySize = 0;
    kept_.ForEach([&](const ArchiveEntry& entry, int32_t, int32_t) {
      directorySize += entry.RecordSize();
      return true;
    });
    for (const ArchiveEntry& entry : added_) directorySize += entry.RecordSize();
    if (directorySize > kMaxArchiveSize - kHeaderSize) return Status::kTooLarge;
    const auto dataStart = static_cast<uint32_t>(kHeaderSize + directorySize);
    if (plan_.oldArchive != nullptr) {
      const Status placed = CheckKeptData(*plan_.oldArchive, kept_, dataStart);
      if (placed != Status::kOk) return placed;
    }
    if (!WriteAll(*out_, Header())) return Status::kWriteFailed;
    Status status = WriteDirectory();
    if (status != Status::kOk) return status;

    if (plan_.oldArchive != nullptr) status = CopyKeptData(*plan_.oldArchive, kept_, *out_, plan_.progress);
    if (status != Status::kOk) return status;
    status = WriteNewData(dataStart);
    if (status != Status::kOk) return status;
    return Finish(!plan_.additions.empty());
  }

 private:
  Status RefuseOversizedFiles() const {
    for (const NewItem& item : plan_.additions) {
      const int64_t size = item.size >= 0 ? item.size : system_.FileSize64(item.sourcePath);
      if (size > static_cast<int64_t>(kMaxArchiveSize)) return Status::kTooLarge;
    }
    return Status::kOk;
  }

  KeptEntries Kept() const {
    if (plan_.oldArchive == nullptr) return KeptEntries();
    const DropSet drops(plan_);
    const std::vector<ArchiveEntry>& old = plan_.oldArchive->entries();
    // Room reserved for the entries that go is never touched.
    std::vector<uint32_t> kept;
    kept.reserve(old.size());
    for (size_t i = 0; i < old.size(); ++i) {
      if (i < plan_.dropOld.size() && plan_.dropOld[i]) continue;
      if (drops.empty() || !drops.Drops(old[i].name)) kept.push_back(static_cast<uint32_t>(i));
    }
    return KeptEntries(old, std::move(kept));
  }

  // Its time is known once its file is open (see WriteNewData).
  static ArchiveEntry NewEntry(const NewItem& item) {
    ArchiveEntry entry;
    entry.name = item.entryName;
    return entry;
  }

  // The magic stays zero until the archive is complete (see Finish).
  std::string Header() const {
    std::string header(kMagicSize, '\0');
    AppendLe32(header, kFormatVersion);
    AppendLe32(header, static_cast<uint32_t>(kept_.count() + added_.size()));
    return header;
  }

  // The kept entries' records, then the new ones', put straight into the
  // write buffer.
  Status WriteDirectory() {
    uint32_t size = 0;
    char* room = reinterpret_cast<char*>(out_->Room(kLargestRecord, size));
    char* at = room;
    const auto put = [&](const ArchiveEntry& entry, int32_t packedSize, int32_t dataOffset) {
      if (room != nullptr && size - static_cast<uint32_t>(at - room) < kLargestRecord) {
        out_->Commit(static_cast<uint32_t>(at - room));
        at = room = reinterpret_cast<char*>(out_->Room(kLargestRecord, size));
      }
      if (room == nullptr || size < kLargestRecord) return false;
      at = PutRecord(entry, packedSize, dataOffset, at);
      return true;
    };
    bool putAll = kept_.ForEach(put);
    for (const ArchiveEntry& entry : added_) putAll = putAll && put(entry, entry.packedSize, entry.dataOffset);
    if (!putAll) return Status::kWriteFailed;
    out_->Commit(static_cast<uint32_t>(at - room));
    return Status::kOk;
  }

  Status WriteNewData(uint32_t dataStart) {
    for (size_t i = 0; i < added_.size(); ++i) {
      ArchiveEntry& entry = added_[i];
      const std::string& sourcePath = plan_.additions[i].sourcePath;
      const Placement at = out_->TryPosition();
      if (at.failed()) return Status::kWriteFailed;
      entry.dataOffset = static_cast<int32_t>(at.position - dataStart);
      PackedContent content;
      EntryMeter meter(plan_.progress, entry);
      if (!entry.IsDirectory()) {
        const Status status = PackFileContent(system_, sourcePath, *out_, kMaxArchiveSize, meter, content);
        if (status != Status::kOk) return status;
        if (plan_.sourceStamps != nullptr) (*plan_.sourceStamps)[i] = content.stamp;
        entry.unpackedSize = content.unpackedSize;
        entry.packedSize = content.packedSize;
      }
      entry.time = content.wallClock != platform::kNoWallClock ? EntryTimeOfWallClock(content.wallClock)
                                                               : NewEntryTime(system_, sourcePath);
      if (!meter.Finish(static_cast<uint32_t>(entry.unpackedSize))) return Status::kCancelled;
      // Its bytes reach the file before it is reported.
      if (onNewEntry_ && !out_->Drain()) return Status::kWriteFailed;
      if (onNewEntry_) onNewEntry_(entry);
    }
    return Status::kOk;
  }

  // The final directory (when new entries changed it), then the magic: a file
  // whose writing was cut short (a killed process) is never taken for a
  // complete archive.
  Status Finish(bool directoryChanged) {
    const Placement end = out_->TryPosition();
    if (end.failed()) return Status::kWriteFailed;
    if (directoryChanged) {
      if (out_->TrySetPosition(kHeaderSize).failed()) return Status::kWriteFailed;
      const Status status = WriteDirectory();
      if (status != Status::kOk) return status;
    }
    if (out_->TrySetPosition(0).failed() || !WriteAll(*out_, std::string(kMagic, kMagicSize))) {
      return Status::kWriteFailed;
    }
    // On disk before the caller lets it replace the old archive or deletes
    // the files it holds: a power cut must not take both.
    if (out_->TrySetPosition(end.position).failed() || !out_->Drain()) return Status::kWriteFailed;
    return output_->Flush() ? Status::kOk : Status::kWriteFailed;
  }

  platform::System& system_;
  const RebuildPlan& plan_;
  const NewEntryWritten& onNewEntry_;
  KeptEntries kept_;                 // the old archive's entries that stay, in their order
  std::vector<ArchiveEntry> added_;  // one per plan_.additions, after them
  std::unique_ptr<FileStream> output_;
  std::unique_ptr<WriteBehindStream> out_;  // writes to output_
};

}  // namespace

Status RebuildArchive(platform::System& system, const std::string& newPath, const RebuildPlan& plan,
                      const NewEntryWritten& onNewEntry) {
  return Rebuild(system, plan, onNewEntry).Run(newPath);
}

}  // namespace tvx
