#include "streams/memory_stream.h"

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

uint32_t MemoryStream::Seek(int32_t offset, SeekOrigin origin) {
  const uint32_t target = SeekTarget(offset, origin, position_, size_);
  if (target == kStreamError) return kStreamError;
  if (target > size_ && !SetSize(target)) return kStreamError;
  position_ = target;
  return position_;
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

uint32_t MemoryStream::Read(void* buffer, uint32_t count) {
  const uint32_t available = position_ < size_ ? size_ - position_ : 0;
  if (count > available) count = available;
  if (count == 0) return 0;
  std::memcpy(buffer, memory_ + position_, count);
  position_ += count;
  return count;
}

uint32_t MemoryStream::Write(const void* buffer, uint32_t count) {
  if (count == 0) return 0;
  const uint64_t end = static_cast<uint64_t>(position_) + count;
  if (end >= kStreamError) return 0;
  if (end > size_ && !SetSize(static_cast<uint32_t>(end))) return 0;
  std::memcpy(memory_ + position_, buffer, count);
  position_ = static_cast<uint32_t>(end);
  return count;
}

std::unique_ptr<MemoryStream> NewMemoryStream() { return std::make_unique<MemoryStream>(); }

}  // namespace tvx
