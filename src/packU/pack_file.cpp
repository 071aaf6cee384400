#include "packU/pack_file.h"

#include <memory>
#include <new>

#include "packU/format.h"
#include "platform/platform.h"
#include "streams/copy_stream.h"
#include "streams/deflate_stream.h"
#include "streams/file_stream.h"

namespace tvx {
namespace {

// Data moves in pieces of this size, so memory never grows with the entries.
constexpr uint32_t kPiece = kCopyChunk;

enum class Attempt { kCompressed, kNotSmaller };

// A file's bytes piece by piece: read from its stream through one buffer, or
// straight from the bytes read ahead when it was looked at.
class Pieces {
 public:
  Pieces(ByteStream* stream, const std::string* bytes, uint32_t size) : stream_(stream), bytes_(bytes), size_(size) {}
  // The next want bytes; null when they could not be read (kReadFailed) or
  // no buffer could be had (kNoMemory, in failure).
  const uint8_t* Next(uint32_t want, Status& failure) {
    if (bytes_ != nullptr) {
      const auto* piece = reinterpret_cast<const uint8_t*>(bytes_->data()) + offset_;
      offset_ += want;
      return piece;
    }
    if (!buffer_) buffer_.reset(new (std::nothrow) uint8_t[size_ < kPiece ? size_ : kPiece]);
    if (!buffer_) {
      failure = Status::kNoMemory;
      return nullptr;
    }
    if (ReadExactly(*stream_, buffer_.get(), want).failed()) {
      failure = Status::kReadFailed;
      return nullptr;
    }
    return buffer_.get();
  }
  bool Rewind() {
    offset_ = 0;
    return bytes_ != nullptr || !stream_->TrySetPosition(0).failed();
  }

 private:
  ByteStream* stream_;
  const std::string* bytes_;
  uint32_t size_;
  uint32_t offset_ = 0;
  std::unique_ptr<uint8_t[]> buffer_;
};

// Deflates size bytes of source into output. Gives up as soon as the
// compressed form reaches the file's size: the file will be stored anyway.
Status Deflate(Pieces& source, uint32_t size, ByteStream& output, uint32_t start, uint32_t maxEnd,
               EntryMeter& meter, Attempt& attempt, uint32_t& compressedSize) {
  std::unique_ptr<DeflateStream> deflate = NewDeflateStream(kBestCompression, output, size);
  if (!deflate) return Status::kNoMemory;
  attempt = Attempt::kNotSmaller;
  uint32_t remaining = size;
  while (remaining > 0) {
    const uint32_t want = remaining < kPiece ? remaining : kPiece;
    Status failure = Status::kOk;
    const uint8_t* piece = source.Next(want, failure);
    if (piece == nullptr) return failure;
    if (deflate->TryWrite(piece, want).failed()) return Status::kWriteFailed;
    remaining -= want;
    if (remaining > 0 && !meter.ReachedTo(size - remaining)) return Status::kCancelled;
    if (deflate->BytesOut() >= size) return Status::kOk;
    if (deflate->BytesOut() > maxEnd - start) return Status::kTooLarge;
  }
  if (!deflate->Finish()) return Status::kWriteFailed;
  compressedSize = deflate->BytesOut();
  if (compressedSize < size) attempt = Attempt::kCompressed;
  return Status::kOk;
}

// In pieces, so that what the deflate attempt did not get to is reported
// (and can be stopped) as it is copied.
Status Store(Pieces& source, uint32_t size, ByteStream& output, uint32_t start, EntryMeter& meter) {
  if (output.TrySetPosition(start).failed() || !source.Rewind()) return Status::kWriteFailed;
  for (uint32_t done = 0; done < size;) {
    const uint32_t want = size - done < kPiece ? size - done : kPiece;
    Status failure = Status::kOk;
    const uint8_t* piece = source.Next(want, failure);
    if (piece == nullptr) return failure;
    if (output.TryWrite(piece, want).failed()) return Status::kWriteFailed;
    done += want;
    if (done < size && !meter.ReachedTo(done)) return Status::kCancelled;
  }
  return output.SetSize(start + size) ? Status::kOk : Status::kWriteFailed;
}

thread_local ReadAheadSources* t_readAhead = nullptr;

}  // namespace

ReadAheadSources::ReadAheadSources() : outer_(t_readAhead) { t_readAhead = this; }
ReadAheadSources::~ReadAheadSources() { t_readAhead = outer_; }

void ReadAheadSources::Add(const std::string& path, platform::ReadAhead& readAhead) {
  sources_.push_back(Source{&path, &readAhead});
}

platform::ReadAhead ReadAheadSources::Take(const std::string& path) {
  if (next_ >= sources_.size() || *sources_[next_].path != path) return platform::ReadAhead();
  platform::ReadAhead& source = *sources_[next_++].readAhead;
  platform::ReadAhead taken = std::move(source);
  source = platform::ReadAhead();
  return taken;
}

Status PackFileContent(platform::System& system, const std::string& sourcePath, ByteStream& output, uint32_t maxEnd,
                      EntryMeter& meter, PackedContent& result) {
  result = PackedContent{};
  const platform::ReadAhead readAhead =
      t_readAhead != nullptr ? t_readAhead->Take(sourcePath) : platform::ReadAhead();
  std::unique_ptr<FileStream> stream;
  if (!readAhead.read) {
    stream = OpenReadFileStream(system, sourcePath);
    if (!stream->IsOpen()) return system.FileSizeByName(sourcePath) > 0 ? Status::kReadFailed : Status::kOk;
  }
  const platform::File::Facts& facts = readAhead.read ? readAhead.facts : stream->OpenedFacts();
  if (facts.size < 0) return Status::kReadFailed;
  if (facts.size > static_cast<int64_t>(kMaxArchiveSize)) return Status::kTooLarge;
  result.wallClock = facts.wallClock;
  result.stamp = platform::FileStamp{facts.size, facts.modified, facts.changed, facts.volume, facts.file};
  const auto size = static_cast<uint32_t>(facts.size);
  if (size == 0) return Status::kOk;

  const Placement at = output.TryPosition();
  if (at.failed() || at.position > maxEnd) return Status::kTooLarge;
  const uint32_t start = at.position;
  Attempt attempt = Attempt::kNotSmaller;
  uint32_t compressedSize = 0;
  Pieces source(stream.get(), readAhead.read ? &readAhead.bytes : nullptr, size);
  const Status status = Deflate(source, size, output, start, maxEnd, meter, attempt, compressedSize);
  if (status != Status::kOk) return status;
  if (attempt == Attempt::kCompressed) {
    result.packedSize = static_cast<int32_t>(compressedSize);
  } else {
    if (size > maxEnd - start) return Status::kTooLarge;
    const Status stored = Store(source, size, output, start, meter);
    if (stored != Status::kOk) return stored;
    result.packedSize = static_cast<int32_t>(size);
  }
  result.unpackedSize = static_cast<int32_t>(size);
  return Status::kOk;
}

}  // namespace tvx


