#include "packU/extract.h"

#include <memory>
#include <string>
#include <vector>

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
  bool Put(const uint8_t* data, uint32_t count) override { return stream_.Write(data, count) == count; }

 private:
  ByteStream& stream_;
};

// Moves exactly `count` bytes from source to sink, in pieces.
Status Pump(ByteStream& source, uint32_t count, ContentSink& sink) {
  // No bigger than the entry: a large block for a small entry costs a
  // mapping of its own and shows in archives of many small files.
  std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[count < kPiece ? count : kPiece]);
  if (!buffer) return Status::kNoMemory;
  uint32_t remaining = count;
  while (remaining > 0) {
    const uint32_t want = remaining < kPiece ? remaining : kPiece;
    const uint32_t got = source.Read(buffer.get(), want);
    if (got == kStreamError || got != want) return Status::kBadData;
    if (!sink.Put(buffer.get(), got)) return Status::kWriteFailed;
    remaining -= got;
  }
  return Status::kOk;
}

// A deflated entry must end exactly after unpackedSize bytes, with zlib's
// checksum verified.
Status ExpectStreamEnd(InflateStream& inflate) {
  if (inflate.AtStreamEnd()) return Status::kOk;
  uint8_t extra;
  const uint32_t got = inflate.Read(&extra, 1);
  return got == 0 && inflate.AtStreamEnd() ? Status::kOk : Status::kBadData;
}

Status ReadContent(Archive& archive, const ArchiveEntry& entry, ContentSink& sink) {
  // A folder has no content, whatever its record claims: extraction makes the
  // folder only, and testing must agree with it.
  if (entry.IsDirectory() || !entry.HasContent()) return Status::kOk;
  const auto size = static_cast<uint32_t>(entry.unpackedSize);
  SliceStream packed = archive.EntryData(entry);
  if (!entry.IsDeflated()) {
    if (!archive.EntryDataPresent(entry)) return Status::kBadData;
    return Pump(packed, size, sink);
  }
  std::unique_ptr<InflateStream> inflate = NewInflateStream(packed);
  if (!inflate) return Status::kNoMemory;
  const Status status = Pump(*inflate, size, sink);
  return status == Status::kOk ? ExpectStreamEnd(*inflate) : status;
}

// The file beside target that holds the content while it is being written,
// on a name nobody else uses: "<target>.tvxpart", or with a number when that is
// taken. (Not a mkstemp name: that would give the extracted file private
// permissions.) Created new, so an existing file is never emptied; not open
// when no name is free or the folder refuses.
std::unique_ptr<FileStream> CreatePartialFile(const std::string& target, std::string& name) {
  std::unique_ptr<FileStream> file;
  for (int n = 1; n < 1000; ++n) {
    name = target + ".tvxpart" + (n > 1 ? std::to_string(n) : std::string());
    file = CreateNewWriteFileStream(name);
    if (file->IsOpen()) break;
    // Only a taken name is worth another try; anything else fails the same way.
    if (!platform::FileExists(name) && !platform::DirectoryExists(name)) break;
  }
  return file;
}

// Writes the entry to a file opened for it, and closes the file.
Status WriteContent(Archive& archive, const ArchiveEntry& entry, std::unique_ptr<FileStream> out) {
  StreamSink sink(*out);
  return ReadContent(archive, entry, sink);
}

}  // namespace

Status ExtractEntry(Archive& archive, const ArchiveEntry& entry, const std::string& target) {
  if (entry.IsDirectory()) {
    return platform::MakeDirectory(target) ? Status::kOk : Status::kCreateFailed;
  }
  // A new name is written in place: the file is ours from its creation, so a
  // failure removes it and nothing of anybody else's is touched.
  std::unique_ptr<FileStream> out = CreateNewWriteFileStream(target);
  if (out->IsOpen()) {
    const Status status = WriteContent(archive, entry, std::move(out));
    if (status != Status::kOk) platform::RemoveFile(target);
    return status;
  }
  // Something has the name already (or the folder refuses, which the partial
  // file finds out too): the new content goes beside it and replaces it only
  // when complete, so a failure leaves the old file as it was. A folder is
  // refused by the final move.
  std::string partial;
  out = CreatePartialFile(target, partial);
  if (!out->IsOpen()) return Status::kCreateFailed;
  Status status = WriteContent(archive, entry, std::move(out));
  if (status == Status::kOk && !platform::MoveReplacing(partial, target)) status = Status::kCreateFailed;
  if (status != Status::kOk) platform::RemoveFile(partial);
  return status;
}

Status TestEntry(Archive& archive, const ArchiveEntry& entry) {
  DiscardSink sink;
  const Status status = ReadContent(archive, entry, sink);
  return status == Status::kWriteFailed ? Status::kBadData : status;
}

// Every read positions the archive afresh, so passing over an entry needs no
// seek at all (three system calls per entry in a listing of many thousands).
void SkipEntry(Archive&, const ArchiveEntry&) {}

}  // namespace tvx
