#include "streams/deflate_stream.h"

#include <gtest/gtest.h>

#include <zlib.h>

#include <random>
#include <tuple>
#include <vector>

#include "stream_test_support.h"
#include "streams/inflate_stream.h"

namespace tvx {
namespace {

using namespace testing_support;

// Decompresses what a memory stream holds from `from` on.
std::vector<uint8_t> Decompress(MemoryStream& compressed, uint32_t from = 0) {
  EXPECT_EQ(At(compressed.TrySetPosition(from)), from);
  auto inflate = NewInflateStream(compressed);
  EXPECT_NE(inflate, nullptr);
  if (!inflate) return {};
  auto out = ReadAll(*inflate, 10000);
  EXPECT_TRUE(inflate->AtStreamEnd());
  return out;
}

TEST(DeflateStreamOutput, ReachesTheDestinationOnlyInWholeBlocksUntilFinish) {
  const auto data = RandomBytes(300000);  // incompressible: several blocks
  MemoryStream dest;
  auto deflate = NewDeflateStream(kBestCompression, dest);
  ASSERT_NE(deflate, nullptr);
  for (uint32_t done = 0; done < data.size();) {
    const uint32_t piece = std::min<uint32_t>(7001, static_cast<uint32_t>(data.size()) - done);
    ASSERT_EQ(deflate->TryWrite(data.data() + done, piece).count, piece);
    done += piece;
    ASSERT_EQ(dest.Size() % kCompressionBufferSize, 0u) << "after " << done << " bytes";
  }
  const uint32_t beforeFinish = dest.Size();
  EXPECT_TRUE(beforeFinish >= 4 * kCompressionBufferSize && deflate->BytesOut() == beforeFinish) << beforeFinish;
  ASSERT_TRUE(deflate->Finish());
  const uint32_t rest = dest.Size() - beforeFinish;  // one block at most, not empty
  EXPECT_TRUE(rest >= 1u && rest <= kCompressionBufferSize && deflate->BytesOut() == dest.Size()) << rest;
  EXPECT_TRUE(Decompress(dest) == data);
}

// An empty stream adds nothing for a zero-byte write and finishes valid; a
// finished stream takes nothing more.
TEST(DeflateStreamOutput, EveryLevelRoundTripsTheBestCompressesAndAnEmptyStreamFinishesValid) {
  const auto data = TextBytes(100000);
  for (int level = 0; level <= 3; ++level) {
    MemoryStream dest;
    auto deflate = NewDeflateStream(level, dest);
    ASSERT_NE(deflate, nullptr) << level;
    ASSERT_EQ(deflate->TryWrite(data.data(), 100000).count, 100000u);
    ASSERT_TRUE(deflate->Finish());
    EXPECT_TRUE(Decompress(dest) == data) << level;
    EXPECT_TRUE(level != kBestCompression || dest.Size() < 50000u) << dest.Size();  // its header: the empty stream
  }
  MemoryStream dest;
  for (int unknown : {-1, 4, 9}) EXPECT_EQ(NewDeflateStream(unknown, dest), nullptr) << unknown;
  auto deflate = NewDeflateStream(kBestCompression, dest);
  const Transfer none = deflate->TryWrite("x", 0);
  EXPECT_EQ(std::make_tuple(none.count, none.failed(), dest.Size()), std::make_tuple(0u, false, 0u));
  ASSERT_TRUE(deflate->Finish());
  EXPECT_EQ(dest.bytes, (std::vector<uint8_t>{0x78, 0xDA, 0x03, 0x00, 0x00, 0x00, 0x00, 0x01}));
  const Transfer late = deflate->TryWrite("x", 1);
  EXPECT_EQ(std::make_pair(late.count, late.failed()), std::make_pair(0u, true));
}

// A small input goes through a smaller compressor; the archive's bytes must
// not change for it: the same as zlib's own level 9 (memLevel 8), whatever
// the redundancy, up to the largest such input, and nothing beyond it.
TEST(DeflateStreamOutput, ASmallInputGivesTheBytesOfTheUsualCompressor) {
  std::mt19937 random(2026);
  for (int round = 0; round < 300; ++round) {
    const uint32_t size = round < 4 ? kSmallDeflateInput - round : 1 + random() % kSmallDeflateInput;
    const uint32_t alphabet = 1 + random() % (round % 3 == 0 ? 4 : 256);
    std::vector<uint8_t> data(size);
    for (uint8_t& byte : data) byte = static_cast<uint8_t>('a' + random() % alphabet);
    std::vector<uint8_t> expected(compressBound(size));
    uLongf expectedSize = static_cast<uLongf>(expected.size());
    ASSERT_EQ(compress2(expected.data(), &expectedSize, data.data(), size, 9), Z_OK);
    expected.resize(expectedSize);
    MemoryStream dest;
    auto deflate = NewDeflateStream(kBestCompression, dest, size);
    ASSERT_NE(deflate, nullptr);
    ASSERT_EQ(deflate->TryWrite(data.data(), size).count, size);
    EXPECT_TRUE(deflate->TryWrite(data.data(), 1).failed());
    ASSERT_TRUE(deflate->Finish());
    ASSERT_TRUE(dest.bytes == expected) << "round " << round << ", " << size << " bytes of " << alphabet;
  }
}

// Its position counts the bytes accepted, and it cannot seek. Only Finish()
// ends the stream, where its answer can be checked: a stream given up
// unfinished (its entry will be stored) writes nothing more.
TEST(DeflateStreamOutput, WritesAtItsOwnPlaceWhenTheDestinationWasMovedNeverSeeksAndOnlyFinishEndsIt) {
  MemoryStream dest, abandoned;
  ASSERT_EQ(dest.TryWrite("HDR", 3).count, 3u);
  const auto data = RandomBytes(150000);
  auto deflate = NewDeflateStream(kBestCompression, dest);
  ASSERT_EQ(deflate->TryWrite(data.data(), 100000).count, 100000u);
  EXPECT_EQ(dest.Size(), 3 + kCompressionBufferSize);  // one whole block, the rest buffered
  EXPECT_EQ((std::vector<uint32_t>{At(deflate->TryPosition()), At(deflate->TrySeek(0, kFromBegin)),
                                   At(deflate->TrySeek(1, kFromCurrent))}),
            (std::vector<uint32_t>{100000u, kFailed, kFailed}));
  ASSERT_EQ(NewDeflateStream(kBestCompression, abandoned)->TryWrite(data.data(), 100000).count, 100000u);
  EXPECT_EQ(abandoned.Size(), kCompressionBufferSize) << "an unfinished stream wrote its buffer when destroyed";
  ASSERT_EQ(At(dest.TrySetPosition(0)), 0u);  // someone else used the destination meanwhile
  ASSERT_EQ(deflate->TryWrite(data.data() + 100000, 50000).count, 50000u);
  ASSERT_EQ(At(dest.TrySetPosition(1)), 1u);
  ASSERT_TRUE(deflate->Finish());
  EXPECT_EQ(std::string(dest.bytes.begin(), dest.bytes.begin() + 3), "HDR");
  EXPECT_TRUE(Decompress(dest, 3) == data);
}

TEST(DeflateStreamRefusedOutput, WriteAndFinishReportADestinationThatTookLess) {
  LimitedSink dest(4);
  auto deflate = NewDeflateStream(kBestCompression, dest);
  const auto data = TextBytes(1000);
  ASSERT_EQ(deflate->TryWrite(data.data(), 1000).count, 1000u);  // all still buffered
  using Seen = std::tuple<bool, bool, uint32_t>;  // braced: in this order; the first answer stays
  EXPECT_EQ((Seen{deflate->Finish(), deflate->Finish(), deflate->BytesOut()}), (Seen{false, false, 4u}));
  // A block refused while writing fails that write, and Finish after it.
  LimitedSink full(1000);
  auto refusing = NewDeflateStream(kBestCompression, full);
  const auto noise = RandomBytes(200000);
  const Transfer refused = refusing->TryWrite(noise.data(), 200000);
  using Refused = std::tuple<uint32_t, platform::IoErrorKind, bool, size_t>;  // braced: in this order
  EXPECT_EQ((Refused{refused.count, refused.error.kind, refusing->Finish(), full.bytes.size()}),
            (Refused{0u, platform::IoErrorKind::kIo, false, 1000u}));
}

}  // namespace
}  // namespace tvx
