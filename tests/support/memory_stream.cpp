#include "support/memory_stream.h"

#include <cstdlib>
#include <cstring>

namespace tvx {

namespace {

constexpr uint32_t kGrowthStep = 16384;

// The capacity that holds n bytes: the next multiple of the growth step above
// n. False when that does not fit in 32 bits (n close to 4 GiB).
bool CapacityFor(uint32_t n, uint32_t& capacity) {
  const uint32_t rounded = n | (kGrowthStep - 1);
  if (rounded == 0xFFFFFFFFu) return false;
  capacity = rounded + 1;
  return true;
}

}  // namespace

MemoryStream::~MemoryStream() { std::free(memory_); }

Placement MemoryStream::TrySeek(int32_t offset, SeekOrigin origin) {
  uint32_t target;
  if (!SeekTarget(offset, origin, position_, size_, target) || (target > size_ && !SetSize(target))) {
    return NotPlaced();
  }
  position_ = target;
  return Landed(position_);
}

bool MemoryStream::SetSize(uint32_t n) {
  if (n == 0) {
    std::free(memory_);
    memory_ = nullptr;
    capacity_ = 0;
  } else if (capacity_ < n) {
    uint32_t capacity;
    if (!CapacityFor(n, capacity)) return false;
    void* grown = std::realloc(memory_, capacity);
    if (grown == nullptr) return false;  // the old block is still ours, untouched
    memory_ = static_cast<uint8_t*>(grown);
    capacity_ = capacity;
  }
  size_ = n;
  if (position_ > n) position_ = n;
  return true;
}

Transfer MemoryStream::TryRead(void* buffer, uint32_t count) {
  const uint32_t available = position_ < size_ ? size_ - position_ : 0;
  const uint32_t n = count < available ? count : available;
  if (n > 0) std::memcpy(buffer, memory_ + position_, n);
  position_ += n;
  return Moved(n, count, platform::IoErrorKind::kEnd);
}

Transfer MemoryStream::TryWrite(const void* buffer, uint32_t count) {
  if (count == 0) return Moved(0, 0, platform::IoErrorKind::kIo);
  const uint64_t end = static_cast<uint64_t>(position_) + count;
  if (end > kLastValidPosition || (end > size_ && !SetSize(static_cast<uint32_t>(end)))) {
    return Moved(0, count, platform::IoErrorKind::kIo);
  }
  std::memcpy(memory_ + position_, buffer, count);
  position_ = static_cast<uint32_t>(end);
  return Moved(count, count, platform::IoErrorKind::kIo);
}

}  // namespace tvx
