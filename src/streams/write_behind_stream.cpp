#include "streams/write_behind_stream.h"

#include <cstring>
#include <new>

namespace tvx {

WriteBehindStream::WriteBehindStream(ByteStream& base, uint32_t capacity)
    : base_(base), buffer_(new (std::nothrow) uint8_t[capacity]) {
  capacity_ = buffer_ ? capacity : 0;
  position_ = base_.Position();
}

bool WriteBehindStream::Drain() {
  if (failed_) return false;
  if (length_ == 0) return true;
  const Transfer put = base_.TryWrite(buffer_.get(), length_);
  length_ = 0;
  if (put.failed()) failed_ = true;
  return !failed_;
}

uint32_t WriteBehindStream::Seek(int32_t offset, SeekOrigin origin) {
  if (failed_) return kStreamError;
  // Asking the position, or moving to where it is, keeps the buffer.
  if (origin == kFromCurrent && offset == 0) return position_;
  if (origin == kFromBegin && offset >= 0 && static_cast<uint32_t>(offset) == position_) return position_;
  if (!Drain()) return kStreamError;
  const uint32_t moved = base_.Seek(offset, origin);
  position_ = moved != kStreamError ? moved : base_.Position();
  return moved;
}

uint32_t WriteBehindStream::Size() {
  if (!Drain()) return kStreamError;
  return base_.Size();
}

bool WriteBehindStream::SetSize(uint32_t n) {
  if (!Drain()) return false;
  const bool cut = base_.SetSize(n);
  position_ = base_.Position();
  return cut;
}

uint32_t WriteBehindStream::Read(void* buffer, uint32_t count) {
  if (!Drain()) return 0;
  const uint32_t got = base_.Read(buffer, count);
  position_ = base_.Position();
  return got;
}

uint32_t WriteBehindStream::Write(const void* buffer, uint32_t count) {
  if (failed_) return 0;
  if (count == 0) return 0;
  if (count > capacity_ - length_ && !Drain()) return 0;
  if (count >= capacity_) {
    const uint32_t put = base_.Write(buffer, count);
    position_ = base_.Position();
    return put;
  }
  std::memcpy(buffer_.get() + length_, buffer, count);
  length_ += count;
  position_ += count;
  return count;
}

}  // namespace tvx
