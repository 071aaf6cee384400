#include "streams/inflate_stream.h"

#include <gtest/gtest.h>

#include <functional>
#include <tuple>
#include <vector>

#include "stream_test_support.h"

namespace tvx {
namespace {

using namespace testing_support;

// By zlib itself, so that the inflate stream is held to zlib's streams, not to our deflate stream's.
std::vector<uint8_t> Compress(const std::vector<uint8_t>& data) {
  return testing_support::AsVector(test::ZlibCompress(std::string(data.begin(), data.end())));
}

// A memory stream holding bytes, positioned at 0, and an inflate stream over it.
struct Inflating {
  explicit Inflating(const std::vector<uint8_t>& bytes) {
    source.bytes = bytes;
    inflate = NewInflateStream(source);
    EXPECT_NE(inflate, nullptr);
  }
  // Reads until the stream stops; kFailed when any read reported corrupt data.
  // Before each read someone else moves the source: the stream puts it back.
  uint32_t Drain(std::vector<uint8_t>& out, uint32_t piece = 7777) {
    std::vector<uint8_t> buf(piece);
    for (;;) {
      (void)source.TrySetPosition(0);
      const uint32_t n = Got(inflate->TryRead(buf.data(), piece));
      if (n == kFailed) return kFailed;
      out.insert(out.end(), buf.begin(), buf.begin() + n);
      if (n < piece) return static_cast<uint32_t>(out.size());
    }
  }
  MemoryStream source;
  std::unique_ptr<InflateStream> inflate;
};

TEST(InflateStreamRoundTrip, VariedDataComesBackExactlyWhateverTheReadSize) {
  const std::vector<std::vector<uint8_t>> inputs = {{}, {42}, TextBytes(100), TextBytes(300000), RandomBytes(200000)};
  for (const auto& data : inputs) {
    for (uint32_t piece : {7777u, static_cast<uint32_t>(data.size()), static_cast<uint32_t>(data.size()) + 10000}) {
      if (piece == 0) continue;
      Inflating in(Compress(data));
      std::vector<uint8_t> out;
      ASSERT_EQ(in.Drain(out, piece), data.size()) << piece;
      EXPECT_TRUE(out == data) << data.size();
      EXPECT_EQ(At(in.inflate->TryPosition()), data.size());
      EXPECT_TRUE(in.inflate->AtStreamEnd());
    }
  }
}

// Damaged data: trailing bytes are ignored, missing bytes give a short read
// without the end, and corrupt bytes fail; none ends as success.
TEST(InflateStreamDamage, EndsOnlyOnAWholeStreamWithItsChecksum) {
  const auto text = TextBytes(20000);
  // The damage; the bytes delivered (kFailed: corrupt) and whether the stream ended.
  const std::tuple<const char*, std::function<void(std::vector<uint8_t>&)>, uint32_t, bool> rows[] = {
      {"trailing bytes", [](auto& b) { const auto g = RandomBytes(100000, 777); b.insert(b.end(), g.begin(), g.end()); },
       20000, true},
      {"truncated", [](auto& b) { b.resize(b.size() / 2); }, 0, false},
      {"no checksum", [](auto& b) { b.resize(b.size() - 4); }, 20000, false},  // the Adler-32 trailer: all bytes, no end
      {"bad header", [](auto& b) { b[0] = 0x77; }, kFailed, false},
      {"bad checksum", [](auto& b) { b.back() ^= 0x01; }, kFailed, false},
  };
  for (const auto& [what, damage, delivered, ended] : rows) {
    SCOPED_TRACE(what);
    auto bytes = Compress(text);
    damage(bytes);
    Inflating in(bytes);
    std::vector<uint8_t> out;
    const uint32_t got = in.Drain(out, 30000);
    // Truncated (0): less than the whole text, at any point.
    EXPECT_TRUE(delivered == 0 ? got < text.size() : got == delivered) << got;
    EXPECT_EQ(in.inflate->AtStreamEnd(), ended);
    if (ended) { EXPECT_EQ(Got(in.inflate->TryRead(out.data(), 100)), 0u); }
  }
  const auto good = Compress(TextBytes(40000));
  for (size_t at = 2; at + 4 < good.size(); at += good.size() / 37 + 1) {
    for (uint8_t mask : {0x01, 0x80, 0xFF}) {
      auto bytes = good;
      bytes[at] ^= mask;
      Inflating in(bytes);
      std::vector<uint8_t> out;
      const uint32_t got = in.Drain(out);
      EXPECT_TRUE(got == kFailed || !in.inflate->AtStreamEnd()) << "byte " << at << " mask " << int(mask);
    }
  }
}

TEST(InflateStreamDamage, CorruptDataAndAFailingSourceAreReportedNotCounted) {
  FailingSource failing({});
  auto inflate = NewInflateStream(failing);
  uint8_t buf[10];
  EXPECT_EQ(Got(inflate->TryRead(buf, 10)), kFailed);
  auto bytes = Compress(TextBytes(1000));
  bytes[0] = 0x77;
  Inflating in(bytes);
  const Transfer bad = in.inflate->TryRead(buf, sizeof buf);
  EXPECT_EQ(std::make_pair(bad.count, bad.error.kind), std::make_pair(0u, platform::IoErrorKind::kCorrupt));
  EXPECT_EQ(ReadExactly(*in.inflate, buf, sizeof buf).kind, platform::IoErrorKind::kCorrupt);
  Inflating skipping(bytes);
  EXPECT_EQ(At(skipping.inflate->TrySeek(100, kFromCurrent)), kFailed);  // skipping decodes too
  // Landing anywhere but the asked position fails the seek, though a position is known.
  MemoryStream empty;
  auto none = NewInflateStream(empty);
  EXPECT_EQ((std::pair<bool, bool>{none->TrySetPosition(7).failed(), none->TryPosition().failed()}),
            std::make_pair(true, false));  // braced: in this order
}

// Forward seeks skip decompressed bytes up to the size and others fail; a
// seek to the beginning restarts, after a partial read or the end.
TEST(InflateStreamSeek, ForwardSeeksSkipAndOnlyTheBeginRestarts) {
  const auto data = TextBytes(100000);
  Inflating in(Compress(data));
  InflateStream& inflate = *in.inflate;
  const auto next = [&] {  // the byte read there, -1 for none
    uint8_t b = 0;
    return Got(inflate.TryRead(&b, 1)) == 1 ? int{b} : -1;
  };
  EXPECT_EQ((std::vector<int>{int(At(inflate.TrySeek(10001, kFromCurrent))), next(),
                              int(At(inflate.TrySeek(50000, kFromBegin))), next()}),
            (std::vector<int>{10001, data[10001], 50000, data[50000]}));  // braced: in this order
  // Where each seek lands from 50001: back, to here from the start, or from the end, it cannot.
  const std::vector<uint32_t> landed = {At(inflate.TrySeek(0, kFromCurrent)), At(inflate.TrySeek(-1, kFromCurrent)),
                                        At(inflate.TrySeek(500, kFromBegin)), At(inflate.TrySeek(50001, kFromBegin)),
                                        At(inflate.TrySeek(0, kFromEnd)), At(inflate.TryPosition())};
  EXPECT_EQ(landed, (std::vector<uint32_t>{50001, kFailed, kFailed, kFailed, kFailed, 50001}));
  for (int round = 0; round < 2; ++round) {  // from a partial read, then from the end
    ASSERT_EQ((std::vector<uint32_t>{At(inflate.TrySeek(0, kFromBegin)), At(inflate.TryPosition()),
                                     inflate.AtStreamEnd()}),
              (std::vector<uint32_t>{0, 0, false}));
    std::vector<uint8_t> all;
    ASSERT_EQ(in.Drain(all), data.size());
    EXPECT_TRUE(all == data);
    ASSERT_TRUE(inflate.AtStreamEnd());
  }
  // The last stops at the size.
  EXPECT_EQ((std::vector<uint32_t>{At(inflate.TrySeek(0, kFromBegin)), At(inflate.TrySeek(90000, kFromCurrent)),
                                   At(inflate.TrySeek(20000, kFromCurrent)), inflate.AtStreamEnd()}),
            (std::vector<uint32_t>{0, 90000, 100000, true}));
}

}  // namespace
}  // namespace tvx
