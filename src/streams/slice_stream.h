// A read-only window [start, start + length) of another stream, so that an
// entry's bytes can be read in pieces without holding them in memory.
#ifndef TOLVEX_STREAMS_SLICE_STREAM_H
#define TOLVEX_STREAMS_SLICE_STREAM_H

#include "streams/byte_stream.h"

namespace tvx {

class SliceStream : public ByteStream {
 public:
  // Borrows base; base must outlive the slice. Positions are relative to start.
  SliceStream(ByteStream& base, uint32_t start, uint32_t length)
      : base_(base), start_(start), length_(length) {}

  // Within [0, length]; anything else fails.
  Placement TrySeek(int32_t offset, SeekOrigin origin) override;
  uint32_t Size() override { return length_; }
  bool SetSize(uint32_t) override { return false; }
  // Never reads past the window. Short when the base ends early.
  Transfer TryRead(void* buffer, uint32_t count) override;
  platform::IoError LastError() const override { return base_.LastError(); }
  Transfer TryWrite(const void*, uint32_t count) override { return Moved(0, count, platform::IoErrorKind::kIo); }

 private:
  ByteStream& base_;
  uint32_t start_;
  uint32_t length_;
  uint32_t position_ = 0;
};

}  // namespace tvx

#endif
