#include "streams/byte_stream.h"

namespace tvx {

using platform::IoError;
using platform::IoErrorKind;

IoError ByteStream::ReasonOr(IoErrorKind fallback) const {
  const IoError error = LastError();
  return error.failed() ? error : IoError{fallback, 0};
}

Transfer ByteStream::Moved(uint32_t moved, uint32_t asked, IoErrorKind shortReason) const {
  if (moved == asked) return Transfer{moved, IoError()};
  return Transfer{moved, ReasonOr(shortReason)};
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
