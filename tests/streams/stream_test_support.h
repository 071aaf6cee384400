// Helpers shared by the stream tests: test data and streams
// that misbehave on purpose.
#ifndef TOLVEX_TESTS_STREAMS_STREAM_TEST_SUPPORT_H
#define TOLVEX_TESTS_STREAMS_STREAM_TEST_SUPPORT_H

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "streams/byte_stream.h"
#include "support/archive_bytes.h"
#include "support/memory_stream.h"
#include "support/test_support.h"

namespace tvx::testing_support {

// What a read moved, or kFailed for data that made no sense; where a seek
// landed, or kFailed: one number to compare in a table.
constexpr uint32_t kFailed = 0xFFFFFFFFu;
inline uint32_t Got(const Transfer& t) { return t.error.kind == platform::IoErrorKind::kCorrupt ? kFailed : t.count; }
inline uint32_t At(const Placement& p) { return p.failed() ? kFailed : p.position; }

// Incompressible bytes, the same for the same seed.
inline std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed = 12345) {
  const std::string bytes = test::NoiseBytes(n, seed);
  return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

// Text-like bytes that compress well but not trivially.
inline std::vector<uint8_t> TextBytes(size_t n) {
  const std::string bytes = test::TextLikeBytes(n);
  return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

// Everything a stream yields from its position to its end, read in pieces.
inline std::vector<uint8_t> ReadAll(ByteStream& s, uint32_t piece = 4096) {
  std::vector<uint8_t> out;
  std::vector<uint8_t> buf(piece);
  for (;;) {
    const Transfer got = s.TryRead(buf.data(), piece);
    if (got.count == 0) break;
    out.insert(out.end(), buf.begin(), buf.begin() + got.count);
  }
  return out;
}

// A destination that accepts writes until `limit` bytes in total, then takes
// only what fits, like a full disk. It keeps what it took.
class LimitedSink : public ByteStream {
 public:
  explicit LimitedSink(uint32_t limit) : limit_(limit) {}
  Placement TrySeek(int32_t offset, SeekOrigin origin) override {
    const uint32_t end = static_cast<uint32_t>(data.size());
    if ((offset == 0 && origin == kFromCurrent) || (origin == kFromBegin && static_cast<uint32_t>(offset) == end)) {
      return Landed(end);
    }
    return NotPlaced();
  }
  uint32_t Size() override { return static_cast<uint32_t>(data.size()); }
  bool SetSize(uint32_t) override { return false; }
  Transfer TryRead(void*, uint32_t count) override { return Moved(0, count, platform::IoErrorKind::kEnd); }
  Transfer TryWrite(const void* buffer, uint32_t count) override {
    const uint32_t room = limit_ - static_cast<uint32_t>(data.size());
    const uint32_t n = count < room ? count : room;
    const uint8_t* p = static_cast<const uint8_t*>(buffer);
    data.insert(data.end(), p, p + n);
    return Moved(n, count, platform::IoErrorKind::kDiskFull);
  }
  std::vector<uint8_t> data;

 private:
  uint32_t limit_;
};

// A source that yields `good` bytes and then reports an error on every read.
class FailingSource : public ByteStream {
 public:
  explicit FailingSource(std::vector<uint8_t> good) : good_(std::move(good)) {}
  Placement TrySeek(int32_t offset, SeekOrigin origin) override {
    if (offset == 0 && origin == kFromCurrent) return Landed(position_);
    if (origin == kFromBegin && offset >= 0 && static_cast<uint32_t>(offset) <= good_.size()) {
      return Landed(position_ = static_cast<uint32_t>(offset));
    }
    return NotPlaced();
  }
  uint32_t Size() override { return kUnknownSize; }
  bool SetSize(uint32_t) override { return false; }
  Transfer TryRead(void* buffer, uint32_t count) override {
    const uint32_t left = static_cast<uint32_t>(good_.size()) - position_;
    if (left == 0) return Refused(platform::IoErrorKind::kCorrupt);
    const uint32_t n = count < left ? count : left;
    std::copy(good_.begin() + position_, good_.begin() + position_ + n,
              static_cast<uint8_t*>(buffer));
    position_ += n;
    return Moved(n, count, platform::IoErrorKind::kEnd);
  }
  Transfer TryWrite(const void*, uint32_t count) override { return Moved(0, count, platform::IoErrorKind::kIo); }

 private:
  std::vector<uint8_t> good_;
  uint32_t position_ = 0;
};

}  // namespace tvx::testing_support

#endif
