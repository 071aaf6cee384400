#include "streams/byte_stream.h"

namespace tvx {
namespace {

using platform::IoError;
using platform::IoErrorKind;

// The stream's own reason when it has one, else the fallback.
IoError ReasonOr(const ByteStream& stream, IoErrorKind fallback) {
  const IoError error = stream.LastError();
  return error.failed() ? error : IoError{fallback, 0};
}

}  // namespace

Transfer ByteStream::TryRead(void* buffer, uint32_t count) {
  const uint32_t got = Read(buffer, count);
  if (got == count) return Transfer{got, IoError()};
  // kStreamError, or a count the caller never asked for: nothing usable moved.
  if (got > count) return Transfer{0, ReasonOr(*this, IoErrorKind::kCorrupt)};
  return Transfer{got, ReasonOr(*this, IoErrorKind::kEnd)};
}

Transfer ByteStream::TryWrite(const void* buffer, uint32_t count) {
  const uint32_t accepted = Write(buffer, count);
  if (accepted == count) return Transfer{accepted, IoError()};
  return Transfer{accepted < count ? accepted : 0, ReasonOr(*this, IoErrorKind::kIo)};
}

Placement ByteStream::TrySeek(int32_t offset, SeekOrigin origin) {
  const uint32_t position = Seek(offset, origin);
  if (position == kStreamError) return Placement{0, ReasonOr(*this, IoErrorKind::kIo)};
  return Placement{position, IoError()};
}

Placement ByteStream::TrySetPosition(uint32_t n) {
  const Placement placed = TrySeek(static_cast<int32_t>(n), kFromBegin);
  if (placed.failed() || placed.position == n) return placed;
  return Placement{placed.position, IoError{IoErrorKind::kIo, 0}};
}

IoError ReadExactly(ByteStream& stream, void* buffer, uint32_t count) {
  return stream.TryRead(buffer, count).error;
}

}  // namespace tvx
