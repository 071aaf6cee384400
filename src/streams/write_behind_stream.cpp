#include "streams/write_behind_stream.h"

#include <cstring>
#include <new>

namespace tvx {

WriteBehindStream::WriteBehindStream(ByteStream& base, uint32_t capacity)
    : base_(base), buffer_(new (std::nothrow) uint8_t[capacity]) {
  capacity_ = buffer_ ? capacity : 0;
  position_ = base_.TryPosition().position;
}

bool WriteBehindStream::Drain() {
  if (failed_) return false;
  if (length_ == 0) return true;
  const Transfer put = base_.TryWrite(buffer_.get(), length_);
  length_ = 0;
  if (put.failed()) failed_ = true;
  return !failed_;
}

uint8_t* WriteBehindStream::Room(uint32_t want, uint32_t& size) {
  size = 0;
  if (failed_ || capacity_ == 0) return nullptr;
  if (capacity_ - length_ < want && !Drain()) return nullptr;
  size = capacity_ - length_;
  return buffer_.get() + length_;
}

Placement WriteBehindStream::TrySeek(int32_t offset, SeekOrigin origin) {
  if (failed_) return NotPlaced();
  // Asking the position, or moving to where it is, keeps the buffer.
  if (origin == kFromCurrent && offset == 0) return Landed(position_);
  if (origin == kFromBegin && offset >= 0 && static_cast<uint32_t>(offset) == position_) return Landed(position_);
  if (!Drain()) return NotPlaced();
  const Placement moved = base_.TrySeek(offset, origin);
  position_ = moved.failed() ? base_.TryPosition().position : moved.position;
  return moved.failed() ? NotPlaced() : moved;
}

uint32_t WriteBehindStream::Size() {
  if (!Drain()) return kUnknownSize;
  return base_.Size();
}

bool WriteBehindStream::SetSize(uint32_t n) {
  if (!Drain()) return false;
  const bool cut = base_.SetSize(n);
  position_ = base_.TryPosition().position;
  return cut;
}

Transfer WriteBehindStream::TryRead(void* buffer, uint32_t count) {
  if (!Drain()) return Moved(0, count, platform::IoErrorKind::kEnd);
  const Transfer got = base_.TryRead(buffer, count);
  position_ = base_.TryPosition().position;
  return got.failed() ? Moved(got.count, count, got.error.kind) : got;
}

Transfer WriteBehindStream::TryWrite(const void* buffer, uint32_t count) {
  if (failed_ || count == 0 || (count > capacity_ - length_ && !Drain())) {
    return Moved(0, count, platform::IoErrorKind::kIo);
  }
  if (count >= capacity_) {
    const Transfer put = base_.TryWrite(buffer, count);
    position_ = base_.TryPosition().position;
    return put.failed() ? Moved(put.count, count, platform::IoErrorKind::kIo) : put;
  }
  std::memcpy(buffer_.get() + length_, buffer, count);
  length_ += count;
  position_ += count;
  return Moved(count, count, platform::IoErrorKind::kIo);
}

}  // namespace tvx
