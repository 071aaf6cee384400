#include "packU/range_copier.h"

#include <algorithm>
#include <cstring>

#include "streams/copy_stream.h"

namespace tvx {
namespace {

// The source is read this much at a time, however many ranges there are.
constexpr uint32_t kBlock = kCopyChunk;

}  // namespace

RangeCopier::RangeCopier(ByteStream& source, uint32_t sourceSize, ByteStream& destination)
    : source_(source), sourceSize_(sourceSize), destination_(destination) {}

Status RangeCopier::Load(uint32_t start) {
  const uint32_t want = std::min(kBlock, sourceSize_ > start ? sourceSize_ - start : 0u);
  windowStart_ = start;
  window_.resize(want);
  if (want == 0) return Status::kBadArchive;
  platform::IoError error;
  if (source_.TrySetPosition(start).failed()) {
    // Without a reason from the system, the archive points where its data cannot lie.
    error = source_.LastError();
    if (!error.failed()) error.kind = platform::IoErrorKind::kEnd;
  } else {
    error = ReadExactly(source_, window_.data(), want);
  }
  if (error.failed()) window_.clear();
  return ArchiveReadStatus(error);
}

Status RangeCopier::Copy(uint32_t start, uint32_t length) {
  while (length > 0) {
    const bool inWindow = start >= windowStart_ && start - windowStart_ < window_.size();
    if (!inWindow) {
      const Status loaded = Load(start);
      if (loaded != Status::kOk) return loaded;
    }
    const size_t offset = start - windowStart_;
    const uint32_t n = static_cast<uint32_t>(std::min<size_t>(length, window_.size() - offset));
    if (destination_.TryWrite(window_.data() + offset, n).failed()) return Status::kWriteFailed;
    start += n;
    length -= n;
  }
  return Status::kOk;
}

}  // namespace tvx
