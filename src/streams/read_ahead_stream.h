// Reading another stream through a window of memory, so that many small reads
// of neighbouring bytes - the entries of an archive, one after another - cost
// one read of the base per window instead of one each. Large reads go straight
// to the base. Read-only.
#ifndef TOLVEX_STREAMS_READ_AHEAD_STREAM_H
#define TOLVEX_STREAMS_READ_AHEAD_STREAM_H

#include <memory>

#include "streams/byte_stream.h"

namespace tvx {

class ReadAheadStream : public ByteStream {
 public:
  // Borrows base, which must outlive this stream, and must not change while
  // read through it. window is the bytes held in memory; when they cannot be
  // had, every read goes straight to the base.
  ReadAheadStream(ByteStream& base, uint32_t window);

  // Only the stream's own position moves; the base is positioned when read.
  // Positions beyond the end are allowed (reads there return 0), as on a file.
  Placement TrySeek(int32_t offset, SeekOrigin origin) override;
  uint32_t Size() override { return base_.Size(); }
  bool SetSize(uint32_t) override { return false; }
  // Short only where the base is: at its end, or on failure.
  Transfer TryRead(void* buffer, uint32_t count) override;
  Transfer TryWrite(const void*, uint32_t count) override { return Moved(0, count, platform::IoErrorKind::kIo); }
  platform::IoError LastError() const override { return base_.LastError(); }

 private:
  // Reads count bytes of the base at position_ into buffer; fewer at its end.
  uint32_t ReadBase(uint8_t* buffer, uint32_t count);

  ByteStream& base_;
  std::unique_ptr<uint8_t[]> window_;
  uint32_t capacity_ = 0;
  uint32_t windowStart_ = 0;   // base position of window_[0]
  uint32_t windowLength_ = 0;  // valid bytes in window_
  uint32_t position_ = 0;
};

}  // namespace tvx

#endif
