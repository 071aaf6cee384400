// Helpers shared by the stream tests: test data, a stream in memory and
// streams that misbehave on purpose.
#ifndef TOLVEX_TESTS_STREAMS_STREAM_TEST_SUPPORT_H
#define TOLVEX_TESTS_STREAMS_STREAM_TEST_SUPPORT_H

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "streams/byte_stream.h"
#include "support/archive_bytes.h"
#include "support/test_support.h"

namespace tvx {

// The bytes in a vector; a seek beyond the end grows it, as on a file.
class MemoryStream : public ByteStream {
 public:
  Placement TrySeek(int32_t offset, SeekOrigin origin) override {
    uint32_t target;
    if (!SeekTarget(offset, origin, position_, bytes.size(), target)) return NotPlaced();
    if (target > bytes.size()) bytes.resize(target);
    return Landed(position_ = target);
  }
  uint32_t Size() override { return static_cast<uint32_t>(bytes.size()); }
  bool SetSize(uint32_t n) override {
    bytes.resize(n);
    position_ = std::min(position_, n);
    return true;
  }
  Transfer TryRead(void* buffer, uint32_t count) override {
    const uint32_t n = std::min(count, Size() - position_);
    std::copy_n(bytes.data() + position_, n, static_cast<uint8_t*>(buffer));
    position_ += n;
    return Moved(n, count, platform::IoErrorKind::kEnd);
  }
  Transfer TryWrite(const void* buffer, uint32_t count) override {
    if (position_ + size_t{count} > bytes.size()) bytes.resize(position_ + size_t{count});
    std::copy_n(static_cast<const uint8_t*>(buffer), count, bytes.data() + position_);
    position_ += count;
    return Moved(count, count, platform::IoErrorKind::kIo);
  }
  std::vector<uint8_t> bytes;

 private:
  uint32_t position_ = 0;
};

namespace testing_support {

// What a read moved, or kFailed for data that made no sense; where a seek
// landed, or kFailed: one number to compare in a table.
constexpr uint32_t kFailed = 0xFFFFFFFFu;
inline uint32_t Got(const Transfer& t) { return t.error.kind == platform::IoErrorKind::kCorrupt ? kFailed : t.count; }
inline uint32_t At(const Placement& p) { return p.failed() ? kFailed : p.position; }

// Incompressible bytes, the same for the same seed; text-like bytes that
// compress well.
inline std::vector<uint8_t> AsVector(const std::string& s) { return {s.begin(), s.end()}; }
inline std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed = 12345) { return AsVector(test::NoiseBytes(n, seed)); }
inline std::vector<uint8_t> TextBytes(size_t n) { return AsVector(test::TextLikeBytes(n)); }

// Everything a stream yields from its position to its end, read in pieces.
inline std::vector<uint8_t> ReadAll(ByteStream& s, uint32_t piece = 4096) {
  std::vector<uint8_t> out;
  std::vector<uint8_t> buf(piece);
  for (Transfer got; (got = s.TryRead(buf.data(), piece)).count > 0;) {
    out.insert(out.end(), buf.begin(), buf.begin() + got.count);
  }
  return out;
}

// A destination that takes writes up to `limit` bytes in all, then only what
// fits, like a full disk.
class LimitedSink : public MemoryStream {
 public:
  explicit LimitedSink(uint32_t limit) : limit_(limit) {}
  Transfer TryWrite(const void* buffer, uint32_t count) override {
    const Transfer took = MemoryStream::TryWrite(buffer, std::min(count, limit_ - Size()));
    return Moved(took.count, count, platform::IoErrorKind::kDiskFull);
  }

 private:
  uint32_t limit_;
};

// A source that yields `good` bytes and then reports corrupt data on every read.
class FailingSource : public MemoryStream {
 public:
  explicit FailingSource(std::vector<uint8_t> good) { bytes = std::move(good); }
  Transfer TryRead(void* buffer, uint32_t count) override {
    const Transfer got = MemoryStream::TryRead(buffer, count);
    return got.count == 0 ? Refused(platform::IoErrorKind::kCorrupt) : got;
  }
};

}  // namespace testing_support
}  // namespace tvx

#endif
