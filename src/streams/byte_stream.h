// The one stream interface through which every byte is read or written.
//
// Positions and sizes are unsigned 32-bit; seek offsets are signed 32-bit.
// Nothing throws. The virtual calls answer with the stream's own values: a
// failed seek returns kStreamError (all bits set), a failed read or write
// fewer bytes than asked (0 when nothing moved), and a compression stream's
// read kStreamError for corrupt data - which is also a possible byte count.
// Callers therefore use TryRead, TryWrite and TrySeek (or ReadExactly), which
// read those values once and say what moved and why it fell short.
#ifndef TOLVEX_STREAMS_BYTE_STREAM_H
#define TOLVEX_STREAMS_BYTE_STREAM_H

#include <cstdint>

#include "platform/platform.h"

namespace tvx {

using platform::SeekOrigin;
using platform::kFromBegin;
using platform::kFromCurrent;
using platform::kFromEnd;
using platform::kLastValidPosition;

constexpr uint32_t kStreamError = 0xFFFFFFFFu;

// Where Seek(offset, origin) lands in a stream at position current that ends
// at end; kStreamError for an unknown origin or a target before 0 or beyond
// last (at most kLastValidPosition, so a target is never kStreamError).
inline uint32_t SeekTarget(int32_t offset, SeekOrigin origin, uint64_t current, uint64_t end,
                           uint64_t last = kLastValidPosition) {
  uint64_t from;
  switch (origin) {
    case kFromBegin: from = 0; break;
    case kFromCurrent: from = current; break;
    case kFromEnd: from = end; break;
    default: return kStreamError;
  }
  const int64_t target = static_cast<int64_t>(from) + offset;
  if (target < 0 || static_cast<uint64_t>(target) > last) return kStreamError;
  return static_cast<uint32_t>(target);
}

// What one read or write moved, and why it fell short.
struct Transfer {
  uint32_t count = 0;       // bytes moved; never more than were asked for
  platform::IoError error;  // kNone when all of them moved; a read that met the end of the data says kEnd
  bool failed() const { return error.failed(); }
};

// Where a seek landed, or why it did not.
struct Placement {
  uint32_t position = 0;    // valid only when the seek succeeded
  platform::IoError error;  // kNone on success
  bool failed() const { return error.failed(); }
};

class ByteStream;
// Reads exactly count bytes, where anything less is an error: kNone when all
// arrived, else why not (kEnd when the data simply ended). For reads that may
// be short, call Read itself.
[[nodiscard]] platform::IoError ReadExactly(ByteStream& stream, void* buffer, uint32_t count);

class ByteStream {
 public:
  virtual ~ByteStream() = default;  // closes what the stream holds
  ByteStream() = default;
  ByteStream(const ByteStream&) = delete;
  ByteStream& operator=(const ByteStream&) = delete;

  // The new position, or kStreamError.
  virtual uint32_t Seek(int32_t offset, SeekOrigin origin) = 0;
  // The length in bytes; kStreamError for the compression streams, 0 for a
  // file stream whose size cannot be read.
  virtual uint32_t Size() = 0;
  // Sets the length; the position becomes the smaller of itself and n.
  // False when the stream refused (a read-only or compression stream, a failed
  // truncation).
  virtual bool SetSize(uint32_t n) = 0;
  // Bytes read: short only at the end of the data or on failure. A compression
  // stream returns kStreamError for corrupt data (see inflate_stream.h).
  virtual uint32_t Read(void* buffer, uint32_t count) = 0;
  // Bytes written: fewer than count means the stream refused the rest.
  virtual uint32_t Write(const void* buffer, uint32_t count) = 0;
  // Why the last read, write or seek failed or fell short, where the stream
  // can tell (files, and the streams over them); kNone otherwise.
  virtual platform::IoError LastError() const { return platform::IoError(); }
  // The memory block of a memory stream that holds one; null for every other
  // stream. CopyStream chooses its path by this.
  virtual uint8_t* Memory() { return nullptr; }

  uint32_t Position() { return Seek(0, kFromCurrent); }
  uint32_t SetPosition(uint32_t n) { return Seek(static_cast<int32_t>(n), kFromBegin); }

  // Read, whose count may fall short: at the end of the data (kEnd) or on a
  // failure (the stream's own error; kCorrupt for data that does not inflate,
  // and then count is 0).
  [[nodiscard]] Transfer TryRead(void* buffer, uint32_t count);
  // Write, where anything less than count is a failure (kDiskFull, kIo ...).
  [[nodiscard]] Transfer TryWrite(const void* buffer, uint32_t count);
  // Seek, Position and SetPosition, with a failure kept apart from a position.
  [[nodiscard]] Placement TrySeek(int32_t offset, SeekOrigin origin);
  [[nodiscard]] Placement TryPosition() { return TrySeek(0, kFromCurrent); }
  // Fails also when the stream lands anywhere but n.
  [[nodiscard]] Placement TrySetPosition(uint32_t n);
};

}  // namespace tvx

#endif
