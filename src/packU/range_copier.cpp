#include "packU/range_copier.h"

#include <algorithm>
#include <cstring>

#include "streams/copy_stream.h"

namespace tvx {
namespace {

// Both buffers hold this much, however many ranges there are.
constexpr uint32_t kBlock = kCopyChunk;

}  // namespace

RangeCopier::RangeCopier(ByteStream& source, uint32_t sourceSize, ByteStream& destination)
    : source_(source), sourceSize_(sourceSize), destination_(destination) {
  pending_.reserve(kBlock);
}

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
    pending_.insert(pending_.end(), window_.begin() + static_cast<std::ptrdiff_t>(offset),
                    window_.begin() + static_cast<std::ptrdiff_t>(offset + n));
    start += n;
    length -= n;
    if (pending_.size() >= kBlock) {
      const Status flushed = Flush();
      if (flushed != Status::kOk) return flushed;
    }
  }
  return Status::kOk;
}

Status RangeCopier::Flush() {
  if (pending_.empty()) return Status::kOk;
  const auto size = static_cast<uint32_t>(pending_.size());
  const Transfer written = destination_.TryWrite(pending_.data(), size);
  pending_.clear();
  return written.failed() ? Status::kWriteFailed : Status::kOk;
}

}  // namespace tvx
