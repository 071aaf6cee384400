// Copies many byte ranges of one stream to the end of another through two
// large buffers, so that thousands of small entries cost a few system calls
// per megabyte instead of several per entry.
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
  // Writes what is still buffered. Call it before anything else writes to
  // the destination.
  Status Flush();

 private:
  Status Load(uint32_t start);

  ByteStream& source_;
  uint32_t sourceSize_;
  ByteStream& destination_;
  std::vector<uint8_t> window_;  // source bytes [windowStart_, windowStart_ + window_.size())
  uint32_t windowStart_ = 0;
  std::vector<uint8_t> pending_;  // bytes not yet written to the destination
};

}  // namespace tvx

#endif
