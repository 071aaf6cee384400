#include "streams/byte_stream.h"

namespace tvx {

platform::IoError ReadExactly(ByteStream& stream, void* buffer, uint32_t count) {
  const uint32_t got = stream.Read(buffer, count);
  if (got == count) return platform::IoError();
  if (got == kStreamError) {
    const platform::IoError error = stream.LastError();
    return error.failed() ? error : platform::IoError{platform::IoErrorKind::kCorrupt, 0};
  }
  const platform::IoError error = stream.LastError();
  return error.failed() ? error : platform::IoError{platform::IoErrorKind::kEnd, 0};
}

}  // namespace tvx
