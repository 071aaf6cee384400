// Moving bytes between two streams.
#ifndef TOLVEX_STREAMS_COPY_STREAM_H
#define TOLVEX_STREAMS_COPY_STREAM_H

#include <cstdint>

#include "streams/byte_stream.h"

namespace tvx {

struct CopyResult {
  uint32_t read = 0;         // bytes the source delivered
  uint32_t written = 0;      // bytes the destination accepted
  bool sourceFailed = false; // the source reported an error, not just an end
  platform::IoError error;   // why the copy stopped short: the failing side's reason, or kEnd
  bool Complete(uint32_t count) const { return read == count && written == count && !sourceFailed; }
};

// Moves up to count bytes from the source's position to the destination's
// through one buffer of at most kCopyChunk bytes, read and written piece by
// piece until count bytes moved, the source ends or a side fails. A
// compression stream sees the same byte sequence as with one buffer of the
// whole count. A source's failure (corrupt data) stops the copy and sets
// sourceFailed.
constexpr uint32_t kCopyChunk = 1u << 20;
CopyResult CopyStream(ByteStream& destination, ByteStream& source, uint32_t count);

}  // namespace tvx

#endif
