// The one stream interface through which every byte is read or written.
//
// Positions and sizes are unsigned 32-bit; seek offsets are signed 32-bit.
// Nothing throws. Reads, writes and seeks answer what moved or where they
// landed together with why they fell short, so no count or position ever
// doubles as a failure value.
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

// What Size() answers for a stream that has no length (the compression streams).
constexpr uint32_t kUnknownSize = 0xFFFFFFFFu;

// Where a seek by offset from origin lands in a stream at position current
// that ends at end; false for an unknown origin or a target before 0 or beyond
// last (at most kLastValidPosition).
inline bool SeekTarget(int32_t offset, SeekOrigin origin, uint64_t current, uint64_t end, uint32_t& target,
                       uint64_t last = kLastValidPosition) {
  uint64_t from;
  switch (origin) {
    case kFromBegin: from = 0; break;
    case kFromCurrent: from = current; break;
    case kFromEnd: from = end; break;
    default: return false;
  }
  const int64_t landed = static_cast<int64_t>(from) + offset;
  if (landed < 0 || static_cast<uint64_t>(landed) > last) return false;
  target = static_cast<uint32_t>(landed);
  return true;
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

  // Reads up to count bytes. Short at the end of the data (kEnd) or on a
  // failure (the stream's own error; kCorrupt for data that does not inflate,
  // and then count is 0).
  [[nodiscard]] virtual Transfer TryRead(void* buffer, uint32_t count) = 0;
  // Writes count bytes; anything less is a failure (kDiskFull, kIo ...).
  [[nodiscard]] virtual Transfer TryWrite(const void* buffer, uint32_t count) = 0;
  [[nodiscard]] virtual Placement TrySeek(int32_t offset, SeekOrigin origin) = 0;
  // The length in bytes; kUnknownSize for the compression streams, 0 for a
  // file stream whose size cannot be read.
  virtual uint32_t Size() = 0;
  // Sets the length; the position becomes the smaller of itself and n.
  // False when the stream refused (a read-only or compression stream, a failed
  // truncation).
  virtual bool SetSize(uint32_t n) = 0;
  // Why the last read, write or seek failed or fell short, where the stream
  // can tell (files, and the streams over them); kNone otherwise.
  virtual platform::IoError LastError() const { return platform::IoError(); }

  [[nodiscard]] Placement TryPosition() { return TrySeek(0, kFromCurrent); }
  // Fails also when the stream lands anywhere but n.
  [[nodiscard]] Placement TrySetPosition(uint32_t n);

 protected:
  // The answers of the calls above: moved of asked bytes, short for the
  // stream's own reason or else shortReason; a seek that landed or was refused.
  Transfer Moved(uint32_t moved, uint32_t asked, platform::IoErrorKind shortReason) const;
  Transfer Refused(platform::IoErrorKind reason) const { return Transfer{0, ReasonOr(reason)}; }
  static Placement Landed(uint32_t position) { return Placement{position, platform::IoError()}; }
  Placement NotPlaced() const { return Placement{0, ReasonOr(platform::IoErrorKind::kIo)}; }

 private:
  // The stream's own reason when it has one, else the fallback.
  platform::IoError ReasonOr(platform::IoErrorKind fallback) const;
};

}  // namespace tvx

#endif
