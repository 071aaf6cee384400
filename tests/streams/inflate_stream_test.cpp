#include "streams/inflate_stream.h"

#include <gtest/gtest.h>

#include <vector>

#include "stream_test_support.h"
#include "streams/deflate_stream.h"
#include "streams/memory_stream.h"

namespace tvx {
namespace {

using testing_support::FailingSource;
using testing_support::RandomBytes;
using testing_support::ReadAll;
using testing_support::TextBytes;

std::vector<uint8_t> Compress(const std::vector<uint8_t>& data) {
  MemoryStream dest;
  {
    auto deflate = NewDeflateStream(kBestCompression, dest);
    EXPECT_EQ(deflate->Write(data.data(), static_cast<uint32_t>(data.size())),
              static_cast<uint32_t>(data.size()));
    EXPECT_TRUE(deflate->Finish());
  }
  return std::vector<uint8_t>(dest.Memory(), dest.Memory() + dest.Size());
}

// A memory stream holding bytes, positioned at 0.
class Source {
 public:
  explicit Source(const std::vector<uint8_t>& bytes) {
    EXPECT_EQ(stream.Write(bytes.data(), static_cast<uint32_t>(bytes.size())), bytes.size());
    stream.SetPosition(0);
  }
  MemoryStream stream;
};

// Reads until the stream stops; kStreamError when any read reported it.
uint32_t Drain(InflateStream& s, std::vector<uint8_t>& out, uint32_t piece = 7777) {
  std::vector<uint8_t> buf(piece);
  for (;;) {
    const uint32_t n = s.Read(buf.data(), piece);
    if (n == kStreamError) return kStreamError;
    out.insert(out.end(), buf.begin(), buf.begin() + n);
    if (n < piece) return static_cast<uint32_t>(out.size());
  }
}

TEST(InflateStreamRoundTrip, VariedDataComesBackExactly) {
  const std::vector<std::vector<uint8_t>> inputs = {
      {}, {42}, TextBytes(100), TextBytes(300000), RandomBytes(200000)};
  for (const auto& data : inputs) {
    Source src(Compress(data));
    auto inflate = NewInflateStream(src.stream);
    ASSERT_NE(inflate, nullptr);
    std::vector<uint8_t> out;
    ASSERT_EQ(Drain(*inflate, out), data.size());
    EXPECT_TRUE(out == data) << data.size();
    EXPECT_EQ(inflate->Position(), data.size());
    EXPECT_TRUE(inflate->AtStreamEnd());
  }
}

TEST(InflateStreamRoundTrip, ReadingExactlyTheSizeDeliversAllOfIt) {
  const auto data = TextBytes(50000);
  Source src(Compress(data));
  auto inflate = NewInflateStream(src.stream);
  std::vector<uint8_t> out(data.size());
  ASSERT_EQ(inflate->Read(out.data(), 50000), 50000u);
  EXPECT_TRUE(out == data);
  uint8_t more;
  EXPECT_EQ(inflate->Read(&more, 1), 0u);
  EXPECT_TRUE(inflate->AtStreamEnd());
}

TEST(InflateStreamRoundTrip, ReadingMoreThanTheSizeStopsAtTheEnd) {
  const auto data = TextBytes(50000);
  Source src(Compress(data));
  auto inflate = NewInflateStream(src.stream);
  std::vector<uint8_t> out(60000);
  EXPECT_EQ(inflate->Read(out.data(), 60000), 50000u);
  EXPECT_TRUE(inflate->AtStreamEnd());
}

TEST(InflateStreamRoundTrip, SourceMovedBetweenReadsIsPutBack) {
  const auto data = RandomBytes(200000);
  Source src(Compress(data));
  auto inflate = NewInflateStream(src.stream);
  std::vector<uint8_t> out(200000);
  ASSERT_EQ(inflate->Read(out.data(), 100000), 100000u);
  ASSERT_EQ(src.stream.SetPosition(0), 0u);
  ASSERT_EQ(inflate->Read(out.data() + 100000, 100000), 100000u);
  EXPECT_TRUE(out == data);
}

TEST(InflateStreamEnd, TrailingBytesEndTheReadWithoutHanging) {
  const auto data = TextBytes(20000);
  auto bytes = Compress(data);
  const auto garbage = RandomBytes(100000, 777);
  bytes.insert(bytes.end(), garbage.begin(), garbage.end());
  Source src(bytes);
  auto inflate = NewInflateStream(src.stream);
  std::vector<uint8_t> out(30000);
  EXPECT_EQ(inflate->Read(out.data(), 30000), 20000u);
  EXPECT_TRUE(inflate->AtStreamEnd());
  EXPECT_EQ(inflate->Read(out.data(), 30000), 0u);
}

TEST(InflateStreamEnd, TruncatedDataGivesAShortReadWithoutTheEnd) {
  const auto data = RandomBytes(100000);
  auto bytes = Compress(data);
  bytes.resize(bytes.size() / 2);
  Source src(bytes);
  auto inflate = NewInflateStream(src.stream);
  std::vector<uint8_t> out;
  const uint32_t got = Drain(*inflate, out);
  EXPECT_LT(got, data.size());
  EXPECT_FALSE(inflate->AtStreamEnd());
}

TEST(InflateStreamEnd, MissingChecksumIsNotTheEnd) {
  const auto data = TextBytes(1000);
  auto bytes = Compress(data);
  bytes.resize(bytes.size() - 4);  // the Adler-32 trailer
  Source src(bytes);
  auto inflate = NewInflateStream(src.stream);
  std::vector<uint8_t> out;
  Drain(*inflate, out);
  EXPECT_FALSE(inflate->AtStreamEnd());
}

TEST(InflateStreamCorruption, BadHeaderFailsOnTheFirstRead) {
  auto bytes = Compress(TextBytes(1000));
  bytes[0] = 0x77;
  Source src(bytes);
  auto inflate = NewInflateStream(src.stream);
  uint8_t buf[100];
  EXPECT_EQ(inflate->Read(buf, 100), kStreamError);
  EXPECT_FALSE(inflate->AtStreamEnd());
}

TEST(InflateStreamCorruption, BadChecksumFails) {
  const auto data = TextBytes(1000);
  auto bytes = Compress(data);
  bytes.back() ^= 0x01;
  Source src(bytes);
  auto inflate = NewInflateStream(src.stream);
  std::vector<uint8_t> out;
  EXPECT_EQ(Drain(*inflate, out), kStreamError);
  EXPECT_FALSE(inflate->AtStreamEnd());
}

TEST(InflateStreamCorruption, FlippedByteInTheMiddleNeverEndsAsSuccess) {
  const auto data = TextBytes(40000);
  const auto good = Compress(data);
  for (size_t at = 2; at + 4 < good.size(); at += good.size() / 37 + 1) {
    for (uint8_t mask : {0x01, 0x80, 0xFF}) {
      auto bytes = good;
      bytes[at] ^= mask;
      Source src(bytes);
      auto inflate = NewInflateStream(src.stream);
      std::vector<uint8_t> out;
      const uint32_t got = Drain(*inflate, out);
      EXPECT_TRUE(got == kStreamError || !inflate->AtStreamEnd())
          << "byte " << at << " mask " << int(mask);
    }
  }
}

TEST(InflateStreamCorruption, SourceErrorIsReportedNotCounted) {
  FailingSource src({});
  auto inflate = NewInflateStream(src);
  uint8_t buf[10];
  EXPECT_EQ(inflate->Read(buf, 10), kStreamError);
}

TEST(InflateStreamSeek, RestartFromTheBeginAfterAPartialRead) {
  const auto data = TextBytes(100000);
  Source src(Compress(data));
  auto inflate = NewInflateStream(src.stream);
  std::vector<uint8_t> out(30000);
  ASSERT_EQ(inflate->Read(out.data(), 30000), 30000u);
  ASSERT_EQ(inflate->Seek(0, kFromBegin), 0u);
  EXPECT_EQ(inflate->Position(), 0u);
  std::vector<uint8_t> all;
  ASSERT_EQ(Drain(*inflate, all), data.size());
  EXPECT_TRUE(all == data);
}

TEST(InflateStreamSeek, RestartAfterTheEndClearsIt) {
  const auto data = TextBytes(1000);
  Source src(Compress(data));
  auto inflate = NewInflateStream(src.stream);
  std::vector<uint8_t> out;
  ASSERT_EQ(Drain(*inflate, out), 1000u);
  ASSERT_TRUE(inflate->AtStreamEnd());
  ASSERT_EQ(inflate->Seek(0, kFromBegin), 0u);
  EXPECT_FALSE(inflate->AtStreamEnd());
  out.clear();
  EXPECT_EQ(Drain(*inflate, out), 1000u);
}

TEST(InflateStreamSeek, ForwardSeeksSkipDecompressedBytes) {
  const auto data = TextBytes(100000);
  Source src(Compress(data));
  auto inflate = NewInflateStream(src.stream);
  EXPECT_EQ(inflate->Seek(10001, kFromCurrent), 10001u);
  uint8_t b;
  ASSERT_EQ(inflate->Read(&b, 1), 1u);
  EXPECT_EQ(b, data[10001]);
  EXPECT_EQ(inflate->Seek(50000, kFromBegin), 50000u);
  ASSERT_EQ(inflate->Read(&b, 1), 1u);
  EXPECT_EQ(b, data[50000]);
  EXPECT_EQ(inflate->Seek(0, kFromCurrent), 50001u);
}

TEST(InflateStreamSeek, SeekPastTheEndStopsAtTheSize) {
  const auto data = TextBytes(5000);
  Source src(Compress(data));
  auto inflate = NewInflateStream(src.stream);
  EXPECT_EQ(inflate->Seek(9000, kFromCurrent), 5000u);
  EXPECT_TRUE(inflate->AtStreamEnd());
}

TEST(InflateStreamSeek, BackwardAndEndRelativeSeeksFail) {
  const auto data = TextBytes(5000);
  Source src(Compress(data));
  auto inflate = NewInflateStream(src.stream);
  ASSERT_EQ(inflate->Seek(1000, kFromCurrent), 1000u);
  EXPECT_EQ(inflate->Seek(-1, kFromCurrent), kStreamError);
  EXPECT_EQ(inflate->Seek(500, kFromBegin), kStreamError);
  EXPECT_EQ(inflate->Seek(1000, kFromBegin), kStreamError);
  EXPECT_EQ(inflate->Seek(0, kFromEnd), kStreamError);
  EXPECT_EQ(inflate->Position(), 1000u);
}

TEST(InflateStreamSeek, SkippingCorruptDataFails) {
  auto bytes = Compress(TextBytes(1000));
  bytes[0] = 0x77;
  Source src(bytes);
  auto inflate = NewInflateStream(src.stream);
  EXPECT_EQ(inflate->Seek(100, kFromCurrent), kStreamError);
}

}  // namespace
}  // namespace tvx
