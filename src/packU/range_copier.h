// Copies many byte ranges of one stream to the end of another, reading the
// source through one large buffer: with a destination that gathers its
// writes (WriteBehindStream), thousands of small entries cost a few system
// calls per megabyte instead of several per entry.
#ifndef TOLVEX_PACKU_RANGE_COPIER_H
#define TOLVEX_PACKU_RANGE_COPIER_H

#include <cstdint>
#include <vector>

#include "packU/status.h"
#include "streams/byte_stream.h"

namespace tvx {

class RangeCopier {
 public:
  // sourceSize bounds what is read ahead. Both streams are borrowed; the
  // destination is written at its current position.
  RangeCopier(ByteStream& source, uint32_t sourceSize, ByteStream& destination);

  // Appends source[start, start + length). kBadArchive when the source ends
  // early, kReadFailed when reading it fails (a disk error), kWriteFailed when
  // the destination refuses.
  Status Copy(uint32_t start, uint32_t length);

 private:
  Status Load(uint32_t start);

  ByteStream& source_;
  uint32_t sourceSize_;
  ByteStream& destination_;
  std::vector<uint8_t> window_;  // source bytes [windowStart_, windowStart_ + window_.size())
  uint32_t windowStart_ = 0;
};

}  // namespace tvx

#endif
