#include "streams/slice_stream.h"

namespace tvx {

namespace {

// Moves base to an absolute position of up to 4 GiB (one seek from the begin
// takes only a signed 32-bit offset).
bool SeekBaseTo(ByteStream& base, uint32_t target) {
  constexpr uint32_t kMaxStep = 0x7FFFFFFFu;
  if (target <= kMaxStep) return !base.TrySetPosition(target).failed();
  if (base.TrySetPosition(kMaxStep).failed()) return false;
  const Placement placed = base.TrySeek(static_cast<int32_t>(target - kMaxStep), kFromCurrent);
  return !placed.failed() && placed.position == target;
}

}  // namespace

Placement SliceStream::TrySeek(int32_t offset, SeekOrigin origin) {
  uint32_t target;
  if (!SeekTarget(offset, origin, position_, length_, target, length_)) return NotPlaced();
  position_ = target;
  return Landed(target);
}

Transfer SliceStream::TryRead(void* buffer, uint32_t count) {
  const uint32_t asked = count;
  const uint32_t remaining = length_ - position_;
  if (count > remaining) count = remaining;
  if (count == 0) return Moved(0, asked, platform::IoErrorKind::kEnd);
  const uint64_t absolute = static_cast<uint64_t>(start_) + position_;
  // A slice reaching beyond its base just ends early.
  const uint32_t baseSize = base_.Size();
  if ((baseSize != kUnknownSize && absolute >= baseSize) || absolute > kLastValidPosition ||
      !SeekBaseTo(base_, static_cast<uint32_t>(absolute))) {  // others may have moved the base since
    return Moved(0, asked, platform::IoErrorKind::kEnd);
  }
  const Transfer got = base_.TryRead(buffer, count);
  position_ += got.count;
  return Moved(got.count, asked, platform::IoErrorKind::kEnd);
}

}  // namespace tvx
