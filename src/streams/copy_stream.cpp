#include "streams/copy_stream.h"

#include <cstdlib>
#include <memory>

namespace tvx {

namespace {

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};

// Path 1: the source holds its bytes in one block; hand them over in one write.
CopyResult CopyFromBlock(ByteStream& destination, ByteStream& source, uint32_t count) {
  CopyResult result;
  const uint32_t position = source.Position();
  const uint32_t size = source.Size();
  if (position == kStreamError || position >= size) return result;
  if (count > size - position) count = size - position;
  result.read = count;
  if (count == 0) return result;
  const uint32_t accepted = destination.Write(source.Memory() + position, count);
  // A destination reporting more than it was given is broken; trust nothing.
  result.written = accepted <= count ? accepted : 0;
  source.Seek(static_cast<int32_t>(result.written), kFromCurrent);
  return result;
}

// Path 2: the destination holds its bytes in one block; the source reads
// straight into it. The destination keeps the size position + count even when
// the source delivers less.
CopyResult CopyIntoBlock(ByteStream& destination, ByteStream& source, uint32_t count) {
  CopyResult result;
  if (count == 0) return result;
  const uint32_t position = destination.Position();
  if (position == kStreamError) return result;
  const uint64_t end = static_cast<uint64_t>(position) + count;
  if (end >= kStreamError) return result;
  if (end > destination.Size() && !destination.SetSize(static_cast<uint32_t>(end))) return result;
  // Growing may have moved the block: ask for it only now.
  uint8_t* block = destination.Memory();
  if (block == nullptr) return result;
  const uint32_t got = source.Read(block + position, count);
  if (got == kStreamError) {
    result.sourceFailed = true;
    return result;
  }
  const uint32_t delivered = got <= count ? got : 0;
  result.read = delivered;
  result.written = delivered;
  destination.Seek(static_cast<int32_t>(delivered), kFromCurrent);
  return result;
}

// Path 3: through one buffer, piece by piece.
CopyResult CopyThroughBuffer(ByteStream& destination, ByteStream& source, uint32_t count) {
  CopyResult result;
  if (count == 0) return result;
  const uint32_t chunk = count < kCopyChunk ? count : kCopyChunk;
  std::unique_ptr<uint8_t, FreeDeleter> buffer(static_cast<uint8_t*>(std::malloc(chunk)));
  if (!buffer) return result;
  uint32_t remaining = count;
  while (remaining > 0) {
    const uint32_t want = remaining < chunk ? remaining : chunk;
    const uint32_t got = source.Read(buffer.get(), want);
    if (got == kStreamError || got > want) {
      result.sourceFailed = true;
      break;
    }
    if (got == 0) break;
    result.read += got;
    const uint32_t accepted = destination.Write(buffer.get(), got);
    if (accepted <= got) result.written += accepted;
    if (accepted != got) break;
    remaining -= got;
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
