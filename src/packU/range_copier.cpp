#include "packU/range_copier.h"

#include <algorithm>
#include <cstring>

#include "streams/copy_stream.h"

namespace tvx {
namespace {

// Less room than this is written out before the next span is read: spans
// stay large however full the buffer is.
constexpr uint32_t kLeastSpan = 256 * 1024;

}  // namespace

RangeCopier::RangeCopier(ByteStream& source, uint32_t sourceSize, WriteBehindStream& destination)
    : source_(source), sourceSize_(sourceSize), destination_(destination) {}

Status RangeCopier::Load(uint8_t* room, uint32_t size, uint32_t start) {
  span_ = nullptr;
  const uint32_t want = std::min(size, sourceSize_ > start ? sourceSize_ - start : 0u);
  if (want == 0) return Status::kBadArchive;
  platform::IoError error;
  if (source_.TrySetPosition(start).failed()) {
    // Without a reason from the system, the archive points where its data cannot lie.
    error = source_.LastError();
    if (!error.failed()) error.kind = platform::IoErrorKind::kEnd;
  } else {
    error = ReadExactly(source_, room, want);
  }
  if (!error.failed()) {
    span_ = room;
    spanStart_ = validFrom_ = start;
    spanEnd_ = start + want;
  }
  return ArchiveReadStatus(error);
}

Status RangeCopier::Copy(uint32_t start, uint32_t length) {
  while (length > 0) {
    uint32_t size = 0;
    uint8_t* room = destination_.Room(0, size);
    if (room == nullptr) return Status::kWriteFailed;
    // Whatever wrote the buffer out meanwhile moved the room.
    const bool inSpan = room == span_ && start >= validFrom_ && start < spanEnd_;
    if (!inSpan) {
      room = destination_.Room(kLeastSpan, size);
      if (room == nullptr) return Status::kWriteFailed;
      const Status loaded = Load(room, size, start);
      if (loaded != Status::kOk) return loaded;
    }
    // The bytes move down over what went before them: those after them stay.
    const uint32_t n = std::min(length, spanEnd_ - start);
    std::memmove(room, room + (start - spanStart_), n);
    destination_.Commit(n);
    span_ = room + n;
    spanStart_ += n;
    start += n;
    length -= n;
    validFrom_ = start;
  }
  return Status::kOk;
}

}  // namespace tvx
