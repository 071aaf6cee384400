// Helpers shared by the stream tests: temporary files, test data and streams
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

namespace tvx::testing_support {

// A fresh empty file in the temporary folder, deleted again at the end.
class TempFile {
 public:
  TempFile() : path_(platform::OsSystem().CreateTempFile(platform::OsSystem().TempDirectory(), "tvs").path) {}
  ~TempFile() {
    if (!path_.empty()) platform::OsSystem().RemoveFile(path_);
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

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
    const uint32_t n = s.Read(buf.data(), piece);
    if (n == 0 || n == kStreamError) break;
    out.insert(out.end(), buf.begin(), buf.begin() + n);
  }
  return out;
}

// A destination that accepts writes until `limit` bytes in total, then takes
// only what fits, like a full disk. It keeps what it took.
class LimitedSink : public ByteStream {
 public:
  explicit LimitedSink(uint32_t limit) : limit_(limit) {}
  uint32_t Seek(int32_t offset, SeekOrigin origin) override {
    if (offset == 0 && origin == kFromCurrent) return static_cast<uint32_t>(data.size());
    if (origin == kFromBegin && static_cast<uint32_t>(offset) == data.size()) return offset;
    return kStreamError;
  }
  uint32_t Size() override { return static_cast<uint32_t>(data.size()); }
  bool SetSize(uint32_t) override { return false; }
  uint32_t Read(void*, uint32_t) override { return 0; }
  uint32_t Write(const void* buffer, uint32_t count) override {
    const uint32_t room = limit_ - static_cast<uint32_t>(data.size());
    const uint32_t n = count < room ? count : room;
    const uint8_t* p = static_cast<const uint8_t*>(buffer);
    data.insert(data.end(), p, p + n);
    return n;
  }
  std::vector<uint8_t> data;

 private:
  uint32_t limit_;
};

// A source that yields `good` bytes and then reports an error on every read.
class FailingSource : public ByteStream {
 public:
  explicit FailingSource(std::vector<uint8_t> good) : good_(std::move(good)) {}
  uint32_t Seek(int32_t offset, SeekOrigin origin) override {
    if (offset == 0 && origin == kFromCurrent) return position_;
    if (origin == kFromBegin && offset >= 0 && static_cast<uint32_t>(offset) <= good_.size()) {
      return position_ = static_cast<uint32_t>(offset);
    }
    return kStreamError;
  }
  uint32_t Size() override { return kStreamError; }
  bool SetSize(uint32_t) override { return false; }
  uint32_t Read(void* buffer, uint32_t count) override {
    const uint32_t left = static_cast<uint32_t>(good_.size()) - position_;
    if (left == 0) return kStreamError;
    const uint32_t n = count < left ? count : left;
    std::copy(good_.begin() + position_, good_.begin() + position_ + n,
              static_cast<uint8_t*>(buffer));
    position_ += n;
    return n;
  }
  uint32_t Write(const void*, uint32_t) override { return 0; }

 private:
  std::vector<uint8_t> good_;
  uint32_t position_ = 0;
};

}  // namespace tvx::testing_support

#endif
