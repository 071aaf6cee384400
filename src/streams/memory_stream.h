// A growable in-memory stream. The block grows in steps of 16,384 bytes
// (capacity = (n | 16383) + 1), never shrinks except to nothing at size 0.
// Growth that cannot be allocated makes SetSize and Write fail (false, short
// count) and leaves the stream as it was.
#ifndef TOLVEX_STREAMS_MEMORY_STREAM_H
#define TOLVEX_STREAMS_MEMORY_STREAM_H

#include <memory>

#include "streams/byte_stream.h"

namespace tvx {

class MemoryStream : public ByteStream {
 public:
  MemoryStream() = default;
  ~MemoryStream() override;

  // A target beyond the end first grows the stream to it (the new bytes are
  // not initialised); a target before the start returns kStreamError.
  uint32_t Seek(int32_t offset, SeekOrigin origin) override;
  uint32_t Size() override { return size_; }
  bool SetSize(uint32_t n) override;
  uint32_t Read(void* buffer, uint32_t count) override;
  uint32_t Write(const void* buffer, uint32_t count) override;
  uint8_t* Memory() override { return memory_; }

  uint32_t Capacity() const { return capacity_; }

 private:
  uint8_t* memory_ = nullptr;
  uint32_t capacity_ = 0;
  uint32_t size_ = 0;
  uint32_t position_ = 0;
};

std::unique_ptr<MemoryStream> NewMemoryStream();

}  // namespace tvx

#endif
