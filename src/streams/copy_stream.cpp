#include "streams/copy_stream.h"

#include <cstdlib>
#include <memory>

namespace tvx {

namespace {

using platform::IoError;
using platform::IoErrorKind;

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};

// A read that fell short for another reason than the end of the data.
bool SourceFailed(const Transfer& got) { return got.failed() && got.error.kind != IoErrorKind::kEnd; }

}  // namespace

CopyResult CopyStream(ByteStream& destination, ByteStream& source, uint32_t count) {
  CopyResult result;
  if (count == 0) return result;
  const uint32_t chunk = count < kCopyChunk ? count : kCopyChunk;
  std::unique_ptr<uint8_t, FreeDeleter> buffer(static_cast<uint8_t*>(std::malloc(chunk)));
  if (!buffer) {
    result.error = IoError{IoErrorKind::kIo, 0};
    return result;
  }
  uint32_t remaining = count;
  while (remaining > 0) {
    const uint32_t want = remaining < chunk ? remaining : chunk;
    const Transfer got = source.TryRead(buffer.get(), want);
    if (SourceFailed(got) || got.count == 0) {
      result.error = got.error;
      result.sourceFailed = SourceFailed(got);
      break;
    }
    result.read += got.count;
    const Transfer written = destination.TryWrite(buffer.get(), got.count);
    result.written += written.count;
    if (written.failed()) {
      result.error = written.error;
      break;
    }
    // A short piece is the end of the source, or a failure the next read tells.
    remaining -= got.count;
  }
  return result;
}

}  // namespace tvx
