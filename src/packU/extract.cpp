#include "packU/extract.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "commonsU/path_text.h"
#include "platform/platform.h"
#include "streams/copy_stream.h"
#include "streams/file_stream.h"
#include "streams/inflate_stream.h"

namespace tvx {
namespace {

// Data moves in pieces of this size, so memory never grows with the entries.
constexpr uint32_t kPiece = kCopyChunk;

// Where the entry's content goes: a file, or nowhere when testing.
class ContentSink {
 public:
  virtual ~ContentSink() = default;
  virtual bool Put(const uint8_t* data, uint32_t count) = 0;
};

class DiscardSink : public ContentSink {
 public:
  bool Put(const uint8_t*, uint32_t) override { return true; }
};

class StreamSink : public ContentSink {
 public:
  explicit StreamSink(ByteStream& stream) : stream_(stream) {}
  bool Put(const uint8_t* data, uint32_t count) override { return !stream_.TryWrite(data, count).failed(); }

 private:
  ByteStream& stream_;
};

// Moves exactly `count` bytes from source to sink, in pieces, each reported
// once it is in the sink. Data that ends early or does not inflate is damage
// (kBadData); a failed read of the archive is a disk error (kReadFailed).
Status Pump(ByteStream& source, uint32_t count, ContentSink& sink, EntryMeter& meter) {
  // No bigger than the entry: a large block for a small entry costs a
  // mapping of its own and shows in archives of many small files.
  std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[count < kPiece ? count : kPiece]);
  if (!buffer) return Status::kNoMemory;
  uint32_t remaining = count;
  while (remaining > 0) {
    const uint32_t want = remaining < kPiece ? remaining : kPiece;
    const Status read = ArchiveReadStatus(ReadExactly(source, buffer.get(), want));
    if (read != Status::kOk) return read == Status::kBadArchive ? Status::kBadData : read;
    if (!sink.Put(buffer.get(), want)) return Status::kWriteFailed;
    remaining -= want;
    if (!meter.ReachedTo(count - remaining)) return Status::kCancelled;
  }
  return Status::kOk;
}

// A deflated entry must end exactly after unpackedSize bytes, with zlib's
// checksum verified.
Status ExpectStreamEnd(InflateStream& inflate) {
  if (inflate.AtStreamEnd()) return Status::kOk;
  uint8_t extra;
  return inflate.TryRead(&extra, 1).count == 0 && inflate.AtStreamEnd() ? Status::kOk : Status::kBadData;
}

// Sizes of 2 GiB or more read negative: such an entry cannot be produced, so
// neither testing nor extraction may pass it as empty.
bool SizesReadNegative(const ArchiveEntry& entry) { return entry.unpackedSize < 0 || entry.packedSize < 0; }

Status ReadContent(Archive& archive, const ArchiveEntry& entry, ContentSink& sink, EntryMeter& meter) {
  if (SizesReadNegative(entry) || archive.SharesData(entry)) return Status::kBadData;
  // A folder has no content, whatever its record claims: extraction makes the
  // folder only, and testing must agree with it.
  if (entry.IsDirectory() || !entry.HasContent()) return Status::kOk;
  const auto size = static_cast<uint32_t>(entry.unpackedSize);
  SliceStream packed = archive.EntryData(entry);
  if (!entry.IsDeflated()) {
    if (!archive.EntryDataPresent(entry)) return Status::kBadData;
    return Pump(packed, size, sink, meter);
  }
  std::unique_ptr<InflateStream> inflate = NewInflateStream(packed);
  if (!inflate) return Status::kNoMemory;
  const Status status = Pump(*inflate, size, sink, meter);
  return status == Status::kOk ? ExpectStreamEnd(*inflate) : status;
}

// The file beside target that holds the content while it is being written,
// on a name nobody else uses: "<target>.tvxpart", or with a number when that is
// taken. Created new, so an existing file is never emptied, and owner-only
// until complete, so a private file is never readable by others through its
// successor; not open when no name is free or the folder refuses.
// When that name would be longer than the system takes (Windows: 259
// characters), a short "~tvx<n>" in the same folder serves instead.
std::unique_ptr<FileStream> CreatePartialFile(platform::System& system, const std::string& target,
                                              std::string& name, bool linkFree) {
  std::unique_ptr<FileStream> file;
  size_t nameStart = target.size();
  while (nameStart > 0 && !platform::IsPathSeparator(target[nameStart - 1])) --nameStart;
  const bool shortName = target.size() + std::strlen(".tvxpart") + 1 > system.MaxPathLength();
  for (int n = 1; n < 1000; ++n) {
    name = shortName ? target.substr(0, nameStart) + "~tvx" + std::to_string(n)
                     : target + ".tvxpart" + (n > 1 ? std::to_string(n) : std::string());
    file = CreateNewWriteFileStream(system, name, linkFree ? platform::File::Mode::kCreatePrivateLinkFree
                                                           : platform::File::Mode::kCreatePrivate);
    if (file->IsOpen() || file->LastError().kind == platform::IoErrorKind::kLink) break;
    // Only a taken name is worth another try; anything else fails the same way.
    if (!system.FileExists(name) && !system.DirectoryExists(name)) break;
  }
  return file;
}

// Writes the entry to a file opened for it, gives it the entry's time, and
// closes the file.
// accessOf: the file whose access the new one takes, or null.
Status WriteContent(Archive& archive, const ArchiveEntry& entry, std::unique_ptr<FileStream> out, EntryMeter& meter,
                    const std::string* accessOf = nullptr) {
  StreamSink sink(*out);
  const Status status = ReadContent(archive, entry, sink, meter);
  if (status == Status::kOk && accessOf != nullptr) out->TakeAccessOf(*accessOf);
  if (status == Status::kOk) out->SetModifiedWallClockTime(entry.time);
  return status;
}

// The entry's size as reported: what a report of a whole entry says.
uint32_t ReportedSize(const ArchiveEntry& entry) {
  return entry.unpackedSize > 0 ? static_cast<uint32_t>(entry.unpackedSize) : 0;
}

// Whether the work on the entry reports pieces as it goes; the others get
// their one report before anything is done, so that a stop leaves nothing.
bool ReportsPieces(const ArchiveEntry& entry) {
  return !SizesReadNegative(entry) && !entry.IsDirectory() && entry.HasContent();
}

// Runs work, which reports the entry's pieces to meter, between the entry's
// other reports: its single report first for an entry without pieces, and
// after a failure whatever was not reported, so that the reports of every
// entry add up to its size. kCancelled when a report said stop.
template <typename Work>
Status Reported(WorkProgress* progress, const ArchiveEntry& entry, Work work) {
  EntryMeter meter(progress, entry);
  if (!ReportsPieces(entry) && !meter.Finish(ReportedSize(entry))) return Status::kCancelled;
  const Status status = work(meter);
  // A failed entry's last report cannot stop what has stopped already.
  if (status != Status::kCancelled) (void)meter.Finish(ReportedSize(entry));
  return status;
}

// True when a folder of target after its first destFolderLength characters
// (the destination folder as the caller named it) is a symbolic link: writing
// through it could land anywhere. A folder found to be a real one is
// remembered in verified and not asked again. The last component is asked by
// LastIsLink, when it matters.
bool PassesThroughLinkedFolder(platform::System& system, const std::string& target, size_t destFolderLength,
                               std::unordered_set<std::string>& verified) {
  if (destFolderLength == 0) return false;
  for (size_t i = destFolderLength + 1; i < target.size(); ++i) {
    if (!platform::IsPathSeparator(target[i]) || platform::IsPathSeparator(target[i - 1])) continue;
    std::string folder = target.substr(0, i);
    if (verified.count(folder) != 0) continue;
    if (system.IsSymbolicLink(folder)) return true;
    // A missing folder is asked again once it exists.
    if (system.DirectoryExists(folder)) verified.insert(std::move(folder));
  }
  return false;
}

// True when the destination folder (target's first destFolderLength
// characters) has no link on its path and the system can refuse links as it
// creates a file there. Asked once per destination; one not there yet is
// asked again once it is.
bool DestinationLinkFree(platform::System& system, const std::string& target, size_t destFolderLength,
                         ExtractionMemory& memory) {
  if (memory.destination.size() != destFolderLength || target.compare(0, destFolderLength, memory.destination) != 0) {
    memory.destination.assign(target, 0, destFolderLength);
    memory.destinationLinkFree = system.ResolvesWithoutLinks(memory.destination);
    const bool answered = memory.destinationLinkFree || system.DirectoryExists(memory.destination);
    if (!answered) {
      memory.destination.clear();
      return false;
    }
  }
  return memory.destinationLinkFree;
}

// Removes a file this extraction made; where files are made refusing links,
// a folder swapped for a link since keeps what is behind it.
void RemoveOwnFile(platform::System& system, const std::string& path, bool linkFree) {
  if (linkFree)
    system.RemoveFileLinkFree(path);
  else
    system.RemoveFile(path);
}

// True when target itself is a symbolic link inside the destination folder.
bool LastIsLink(platform::System& system, const std::string& target, size_t destFolderLength) {
  return destFolderLength != 0 && system.IsSymbolicLink(WithoutTrailingSeparators(target, platform::IsPathSeparator));
}

}  // namespace

namespace {

Status ExtractWithMeter(Archive& archive, const ArchiveEntry& entry, const std::string& target,
                        size_t destFolderLength, ExtractionMemory& memory, EntryMeter& meter) {
  if (SizesReadNegative(entry) || archive.SharesData(entry)) return Status::kBadData;
  platform::System& system = archive.system();
  bool linkFree = destFolderLength != 0 && DestinationLinkFree(system, target, destFolderLength, memory);
  // Where files are made refusing links, the first answer serves them; a
  // folder is made by its path, so the folders on its way are asked for it
  // again. Elsewhere the answers are remembered for both.
  std::unordered_set<std::string> askedNow;
  if (PassesThroughLinkedFolder(system, target, destFolderLength,
                                linkFree && entry.IsDirectory() ? askedNow : memory.verifiedFolders)) {
    return Status::kCreateFailed;
  }
  if (entry.IsDirectory()) {
    if (LastIsLink(system, target, destFolderLength)) return Status::kCreateFailed;
    if (!(linkFree ? system.MakeDirectoryLinkFree(target) : system.MakeDirectory(target))) return Status::kCreateFailed;
    const std::string folder = WithoutTrailingSeparators(target, platform::IsPathSeparator);
    system.SetModifiedWallClockTime(folder, entry.time);
    memory.folders.push_back({folder, entry.time});
    return Status::kOk;
  }
  // A new name is written in place: the file is ours from its creation, so a
  // failure removes it and nothing of anybody else's is touched. Creating it
  // never follows a link, so a link is looked for only when the name is taken.
  using Mode = platform::File::Mode;
  std::unique_ptr<FileStream> out =
      CreateNewWriteFileStream(system, target, linkFree ? Mode::kCreateNewLinkFree : Mode::kCreateNew);
  if (linkFree && !out->IsOpen() && out->LastError().kind == platform::IoErrorKind::kLink) {
    // A link on the way where the destination's path had none: below the
    // destination (a folder found real, swapped since) it refuses the entry;
    // on the destination's own path it is the user's, and this entry goes on
    // as where that path always had one.
    if (system.ResolvesWithoutLinks(memory.destination)) return Status::kCreateFailed;
    linkFree = false;
    // What was remembered of the folders below it was learned through another path.
    if (PassesThroughLinkedFolder(system, target, destFolderLength, askedNow)) return Status::kCreateFailed;
    out = CreateNewWriteFileStream(system, target, Mode::kCreateNew);
  }
  if (out->IsOpen()) {
    const Status status = WriteContent(archive, entry, std::move(out), meter);
    if (status != Status::kOk) RemoveOwnFile(system, target, linkFree);
    return status;
  }
  // Where files are made refusing links, the folders on the way of a name
  // that is taken are asked again, not from memory.
  if (linkFree && PassesThroughLinkedFolder(system, target, destFolderLength, askedNow)) return Status::kCreateFailed;
  // Something has the name already (or the folder refuses, which the partial
  // file finds out too): the new content goes beside it and replaces it only
  // when complete, so a failure leaves the old file as it was. A folder is
  // refused by the final move; a link is not replaced.
  if (LastIsLink(system, target, destFolderLength)) return Status::kCreateFailed;
  std::string partial;
  out = CreatePartialFile(system, target, partial, linkFree);
  if (!out->IsOpen()) return Status::kCreateFailed;
  // The replacement is the same file to its owner: same access (a rename
  // keeps it, and the entry's time).
  Status status = WriteContent(archive, entry, std::move(out), meter, &target);
  if (status == Status::kOk) {
    const platform::MoveOutcome moved =
        linkFree ? system.MoveReplacingLinkFree(partial, target) : system.MoveReplacing(partial, target);
    if (moved != platform::MoveOutcome::kMoved) status = Status::kCreateFailed;
  }
  if (status != Status::kOk) RemoveOwnFile(system, partial, linkFree);
  return status;
}

}  // namespace

Status ExtractEntry(Archive& archive, const ArchiveEntry& entry, const std::string& target,
                    size_t destFolderLength, WorkProgress* progress, ExtractionMemory* memory) {
  ExtractionMemory once;
  ExtractionMemory& kept = memory != nullptr ? *memory : once;
  return Reported(progress, entry, [&](EntryMeter& meter) {
    return ExtractWithMeter(archive, entry, target, destFolderLength, kept, meter);
  });
}

void RestoreFolderTimes(platform::System& system, ExtractionMemory& memory) {
  std::vector<ExtractionMemory::Folder>& folders = memory.folders;
  // A folder's path is longer than its parent's: longest first sets every
  // folder after its subfolders, whose changes would move its time again.
  std::stable_sort(folders.begin(), folders.end(),
                   [](const ExtractionMemory::Folder& a, const ExtractionMemory::Folder& b) {
                     return a.path.size() > b.path.size();
                   });
  for (const ExtractionMemory::Folder& folder : folders) {
    system.SetModifiedWallClockTime(folder.path, folder.time);
  }
  folders.clear();
}

Status TestEntry(Archive& archive, const ArchiveEntry& entry, WorkProgress* progress) {
  return Reported(progress, entry, [&](EntryMeter& meter) {
    DiscardSink sink;
    const Status status = ReadContent(archive, entry, sink, meter);
    return status == Status::kWriteFailed ? Status::kBadData : status;
  });
}

// Every read positions the archive afresh, so passing over an entry needs no
// seek at all (three system calls per entry in a listing of many thousands).
void SkipEntry(Archive&, const ArchiveEntry&) {}

}  // namespace tvx
