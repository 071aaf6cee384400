// Writing another stream through a buffer of memory, so that many small
// writes one after another - the entries of a new archive - cost one write of
// the base per buffer instead of one each. Large writes go straight to the
// base. Anything but a write at the end of what is buffered (a seek that
// moves, a read, a size asked or set) writes the buffer out first.
//
// A write that was buffered is reported whole; a failure of the base shows on
// the call that writes the buffer out, and every call after it fails too.
#ifndef TOLVEX_STREAMS_WRITE_BEHIND_STREAM_H
#define TOLVEX_STREAMS_WRITE_BEHIND_STREAM_H

#include <memory>

#include "streams/byte_stream.h"

namespace tvx {

class WriteBehindStream : public ByteStream {
 public:
  // Borrows base, which must outlive this stream and be used only through it
  // meanwhile. When the buffer cannot be had, every call goes straight to the base.
  WriteBehindStream(ByteStream& base, uint32_t capacity);

  Placement TrySeek(int32_t offset, SeekOrigin origin) override;
  uint32_t Size() override;
  bool SetSize(uint32_t n) override;
  Transfer TryRead(void* buffer, uint32_t count) override;
  Transfer TryWrite(const void* buffer, uint32_t count) override;
  platform::IoError LastError() const override { return base_.LastError(); }

  // Writes out what is buffered. False when the base took less, now or before.
  [[nodiscard]] bool Drain();

  // The free part of the buffer, for a writer that puts its bytes there in
  // place (reads them from a file, encodes them) instead of handing over a
  // copy: size bytes at the result, at least want when the buffer holds that
  // much (what is buffered is written out first when less is free). Valid
  // until any other call. Null after a failure, and without a buffer.
  uint8_t* Room(uint32_t want, uint32_t& size);
  // The first n bytes of the room (n at most its size) are written.
  void Commit(uint32_t n) {
    length_ += n;
    position_ += n;
  }
  // False when the buffer could not be had: Room is never available.
  bool buffered() const { return capacity_ != 0; }

 private:
  ByteStream& base_;
  std::unique_ptr<uint8_t[]> buffer_;
  uint32_t capacity_ = 0;
  uint32_t length_ = 0;    // buffered bytes; the base stands where they go
  uint32_t position_ = 0;  // where the next write lands: the base's position plus length_
  bool failed_ = false;
};

}  // namespace tvx

#endif
