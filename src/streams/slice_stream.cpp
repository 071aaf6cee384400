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

uint32_t SliceStream::Seek(int32_t offset, SeekOrigin origin) {
  const uint32_t target = SeekTarget(offset, origin, position_, length_, length_);
  if (target != kStreamError) position_ = target;
  return target;
}

uint32_t SliceStream::Read(void* buffer, uint32_t count) {
  const uint32_t remaining = length_ - position_;
  if (count > remaining) count = remaining;
  if (count == 0) return 0;
  const uint64_t absolute = static_cast<uint64_t>(start_) + position_;
  // Seeking a memory stream past its end would grow it: a slice reaching
  // beyond its base just ends early instead.
  const uint32_t baseSize = base_.Size();
  if (baseSize != kStreamError && absolute >= baseSize) return 0;
  if (absolute >= kStreamError) return 0;
  // Others may have moved the base since the last read.
  if (!SeekBaseTo(base_, static_cast<uint32_t>(absolute))) return 0;
  const Transfer got = base_.TryRead(buffer, count);
  position_ += got.count;
  return got.count;
}

}  // namespace tvx
