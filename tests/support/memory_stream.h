// A growable in-memory stream for the tests. The block grows in steps of 16,384 bytes
// (capacity = (n | 16383) + 1), never shrinks except to nothing at size 0.
// Growth that cannot be allocated makes SetSize and Write fail (false, short
// count) and leaves the stream as it was.
#ifndef TOLVEX_TESTS_SUPPORT_MEMORY_STREAM_H
#define TOLVEX_TESTS_SUPPORT_MEMORY_STREAM_H

#include <memory>

#include "streams/byte_stream.h"

namespace tvx {

class MemoryStream : public ByteStream {
 public:
  MemoryStream() = default;
  ~MemoryStream() override;

  // A target beyond the end first grows the stream to it (the new bytes are
  // not initialised); a target before the start fails.
  Placement TrySeek(int32_t offset, SeekOrigin origin) override;
  uint32_t Size() override { return size_; }
  bool SetSize(uint32_t n) override;
  Transfer TryRead(void* buffer, uint32_t count) override;
  Transfer TryWrite(const void* buffer, uint32_t count) override;
  uint8_t* Memory() { return memory_; }

  uint32_t Capacity() const { return capacity_; }

 private:
  uint8_t* memory_ = nullptr;
  uint32_t capacity_ = 0;
  uint32_t size_ = 0;
  uint32_t position_ = 0;
};

}  // namespace tvx

#endif
