// Copies many byte ranges of one stream to the end of another. The source is
// read in large spans straight into the destination's buffer, dropped bytes
// between the ranges included, and the ranges are moved together there: many
// small entries cost a few system calls per megabyte and one pass over their
// bytes, instead of several calls per entry and a copy through a window.
#ifndef TOLVEX_PACKU_RANGE_COPIER_H
#define TOLVEX_PACKU_RANGE_COPIER_H

#include <cstdint>

#include "packU/status.h"
#include "streams/byte_stream.h"
#include "streams/write_behind_stream.h"

namespace tvx {

class RangeCopier {
 public:
  // sourceSize bounds what is read ahead. Both streams are borrowed, and the
  // destination is written only through the copier while it copies; it is
  // written at its current position.
  RangeCopier(ByteStream& source, uint32_t sourceSize, WriteBehindStream& destination);

  // Appends source[start, start + length). kBadArchive when the source ends
  // early, kReadFailed when reading it fails (a disk error), kWriteFailed when
  // the destination refuses.
  Status Copy(uint32_t start, uint32_t length);

 private:
  Status Load(uint8_t* room, uint32_t size, uint32_t start);

  ByteStream& source_;
  uint32_t sourceSize_;
  WriteBehindStream& destination_;
  // The destination's room begins at span_; it holds the source's bytes
  // [spanStart_, spanEnd_) from span_ on, of which those before validFrom_
  // may have been written over already.
  const uint8_t* span_ = nullptr;
  uint32_t spanStart_ = 0;
  uint32_t validFrom_ = 0;
  uint32_t spanEnd_ = 0;
};

}  // namespace tvx

#endif
