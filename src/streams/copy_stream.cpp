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

// Path 1: the source holds its bytes in one block; hand them over in one write.
CopyResult CopyFromBlock(ByteStream& destination, ByteStream& source, uint32_t count) {
  CopyResult result;
  const Placement at = source.TryPosition();
  const uint32_t size = source.Size();
  if (at.failed() || at.position >= size) {
    if (count > 0) result.error = at.failed() ? at.error : IoError{IoErrorKind::kEnd, 0};
    return result;
  }
  const uint32_t position = at.position;
  if (count > size - position) {
    count = size - position;
    result.error = IoError{IoErrorKind::kEnd, 0};
  }
  result.read = count;
  if (count == 0) return result;
  const Transfer written = destination.TryWrite(source.Memory() + position, count);
  result.written = written.count;
  if (written.failed()) result.error = written.error;
  (void)source.TrySeek(static_cast<int32_t>(result.written), kFromCurrent);  // within the block: cannot fail
  return result;
}

// Path 2: the destination holds its bytes in one block; the source reads
// straight into it. The destination keeps the size position + count even when
// the source delivers less.
CopyResult CopyIntoBlock(ByteStream& destination, ByteStream& source, uint32_t count) {
  CopyResult result;
  if (count == 0) return result;
  const Placement at = destination.TryPosition();
  const uint64_t end = static_cast<uint64_t>(at.position) + count;
  if (at.failed() || end >= kStreamError ||
      (end > destination.Size() && !destination.SetSize(static_cast<uint32_t>(end)))) {
    result.error = at.failed() ? at.error : IoError{IoErrorKind::kDiskFull, 0};  // no room for the block
    return result;
  }
  // Growing may have moved the block: ask for it only now.
  uint8_t* block = destination.Memory();
  if (block == nullptr) {
    result.error = IoError{IoErrorKind::kDiskFull, 0};
    return result;
  }
  const Transfer got = source.TryRead(block + at.position, count);
  result.error = got.error;
  result.sourceFailed = SourceFailed(got);
  if (result.sourceFailed) return result;
  result.read = got.count;
  result.written = got.count;
  (void)destination.TrySeek(static_cast<int32_t>(got.count), kFromCurrent);  // within the block: cannot fail
  return result;
}

// Path 3: through one buffer, piece by piece.
CopyResult CopyThroughBuffer(ByteStream& destination, ByteStream& source, uint32_t count) {
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

}  // namespace

CopyResult CopyStream(ByteStream& destination, ByteStream& source, uint32_t count) {
  if (source.Memory() != nullptr) return CopyFromBlock(destination, source, count);
  if (destination.Memory() != nullptr) return CopyIntoBlock(destination, source, count);
  return CopyThroughBuffer(destination, source, count);
}

}  // namespace tvx
