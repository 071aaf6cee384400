#include "streams/read_ahead_stream.h"

#include <cstring>
#include <new>

namespace tvx {

ReadAheadStream::ReadAheadStream(ByteStream& base, uint32_t window)
    : base_(base), window_(new (std::nothrow) uint8_t[window]) {
  if (window_) capacity_ = window;
}

Placement ReadAheadStream::TrySeek(int32_t offset, SeekOrigin origin) {
  // The base's size only when it is asked for: a file may have to ask the system.
  const uint32_t end = origin == kFromEnd ? base_.Size() : 0;
  uint32_t target;
  if (!SeekTarget(offset, origin, position_, end, target)) return NotPlaced();
  position_ = target;
  return Landed(target);
}

uint32_t ReadAheadStream::ReadBase(uint8_t* buffer, uint32_t count) {
  // Nothing to read past the end.
  const uint32_t size = base_.Size();
  if (size != kUnknownSize && position_ >= size) return 0;
  if (base_.TrySetPosition(position_).failed()) return 0;
  return base_.TryRead(buffer, count).count;  // short at the end or on a failure, never more
}

Transfer ReadAheadStream::TryRead(void* buffer, uint32_t count) {
  auto* out = static_cast<uint8_t*>(buffer);
  uint32_t done = 0;
  while (done < count) {
    if (position_ >= windowStart_ && position_ - windowStart_ < windowLength_) {
      const uint32_t offset = position_ - windowStart_;
      uint32_t take = windowLength_ - offset;
      if (take > count - done) take = count - done;
      std::memcpy(out + done, window_.get() + offset, take);
      done += take;
      position_ += take;
      continue;
    }
    const uint32_t wanted = count - done;
    if (wanted >= capacity_ / 4) {  // a large read gains nothing from the window
      const uint32_t got = ReadBase(out + done, wanted);
      done += got;
      position_ += got;
      break;  // complete, or the base ended or failed
    }
    windowLength_ = 0;
    windowStart_ = position_;
    windowLength_ = ReadBase(window_.get(), capacity_);
    if (windowLength_ == 0) break;
  }
  return Moved(done, count, platform::IoErrorKind::kEnd);
}

}  // namespace tvx
