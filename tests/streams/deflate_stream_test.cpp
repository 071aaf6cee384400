#include "streams/deflate_stream.h"

#include <gtest/gtest.h>

#include <vector>

#include "stream_test_support.h"
#include "streams/inflate_stream.h"
#include "streams/memory_stream.h"

namespace tvx {
namespace {

using testing_support::LimitedSink;
using testing_support::RandomBytes;
using testing_support::ReadAll;
using testing_support::TextBytes;

std::vector<uint8_t> Contents(MemoryStream& s) {
  return std::vector<uint8_t>(s.Memory(), s.Memory() + s.Size());
}

// Decompresses what a memory stream holds from `from` on.
std::vector<uint8_t> Decompress(MemoryStream& compressed, uint32_t from = 0) {
  EXPECT_EQ(compressed.SetPosition(from), from);
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
    ASSERT_EQ(deflate->Write(data.data() + done, piece), piece);
    done += piece;
    ASSERT_EQ(dest.Size() % kCompressionBufferSize, 0u) << "after " << done << " bytes";
  }
  const uint32_t beforeFinish = dest.Size();
  EXPECT_GE(beforeFinish, 4 * kCompressionBufferSize);
  EXPECT_EQ(deflate->BytesOut(), beforeFinish);
  ASSERT_TRUE(deflate->Finish());
  const uint32_t rest = dest.Size() - beforeFinish;
  EXPECT_GE(rest, 1u);
  EXPECT_LE(rest, kCompressionBufferSize);
  EXPECT_EQ(deflate->BytesOut(), dest.Size());
  EXPECT_TRUE(Decompress(dest) == data);
}

TEST(DeflateStreamOutput, EmptyStreamStillFinishesAsAValidZlibStream) {
  MemoryStream dest;
  ASSERT_TRUE(NewDeflateStream(kBestCompression, dest)->Finish());
  const std::vector<uint8_t> expected = {0x78, 0xDA, 0x03, 0x00, 0x00, 0x00, 0x00, 0x01};
  EXPECT_EQ(Contents(dest), expected);
}

TEST(DeflateStreamOutput, ZeroByteWriteReturnsZeroAndAddsNothing) {
  MemoryStream dest;
  auto deflate = NewDeflateStream(kBestCompression, dest);
  EXPECT_EQ(deflate->Write("x", 0), 0u);
  EXPECT_EQ(dest.Size(), 0u);
  ASSERT_TRUE(deflate->Finish());
  EXPECT_EQ(dest.Size(), 8u);
}

TEST(DeflateStreamOutput, BestLevelWritesTheMatchingZlibHeader) {
  MemoryStream dest;
  auto deflate = NewDeflateStream(kBestCompression, dest);
  const auto data = TextBytes(5000);
  ASSERT_EQ(deflate->Write(data.data(), 5000), 5000u);
  ASSERT_TRUE(deflate->Finish());
  ASSERT_GE(dest.Size(), 2u);
  EXPECT_EQ(dest.Memory()[0], 0x78);
  EXPECT_EQ(dest.Memory()[1], 0xDA);
  EXPECT_LT(dest.Size(), 5000u);
}

TEST(DeflateStreamOutput, EveryLevelRoundTrips) {
  const auto data = TextBytes(100000);
  for (int level = 0; level <= 3; ++level) {
    MemoryStream dest;
    auto deflate = NewDeflateStream(level, dest);
    ASSERT_NE(deflate, nullptr) << level;
    ASSERT_EQ(deflate->Write(data.data(), 100000), 100000u);
    ASSERT_TRUE(deflate->Finish());
    EXPECT_TRUE(Decompress(dest) == data) << level;
  }
}

TEST(DeflateStreamOutput, UnknownLevelSelectorGivesNoStream) {
  MemoryStream dest;
  EXPECT_EQ(NewDeflateStream(-1, dest), nullptr);
  EXPECT_EQ(NewDeflateStream(4, dest), nullptr);
  EXPECT_EQ(NewDeflateStream(9, dest), nullptr);
}

// Only Finish() ends the stream, where its answer can be checked: a stream
// given up unfinished (its entry will be stored) writes nothing more.
TEST(DeflateStreamOutput, AnUnfinishedStreamWritesNothingWhenDestroyed) {
  MemoryStream dest;
  const auto data = RandomBytes(100000);
  uint32_t written = 0;
  {
    auto deflate = NewDeflateStream(kBestCompression, dest);
    ASSERT_EQ(deflate->Write(data.data(), 100000), 100000u);
    written = dest.Size();
    ASSERT_EQ(written, kCompressionBufferSize);  // one whole block, the rest buffered
  }
  EXPECT_EQ(dest.Size(), written);
}

TEST(DeflateStreamOutput, WritesAtItsOwnPlaceWhenTheDestinationWasMoved) {
  MemoryStream dest;
  ASSERT_EQ(dest.Write("HDR", 3), 3u);
  const auto data = RandomBytes(150000);
  auto deflate = NewDeflateStream(kBestCompression, dest);
  ASSERT_EQ(deflate->Write(data.data(), 100000), 100000u);
  ASSERT_EQ(dest.SetPosition(0), 0u);  // someone else used the destination meanwhile
  ASSERT_EQ(deflate->Write(data.data() + 100000, 50000), 50000u);
  ASSERT_EQ(dest.SetPosition(1), 1u);
  ASSERT_TRUE(deflate->Finish());
  EXPECT_EQ(std::string(reinterpret_cast<char*>(dest.Memory()), 3), "HDR");
  EXPECT_TRUE(Decompress(dest, 3) == data);
}

TEST(DeflateStreamPosition, CurrentPositionCountsBytesAcceptedAndOtherSeeksFail) {
  MemoryStream dest;
  auto deflate = NewDeflateStream(kBestCompression, dest);
  const auto data = TextBytes(1234);
  ASSERT_EQ(deflate->Write(data.data(), 1234), 1234u);
  EXPECT_EQ(deflate->Position(), 1234u);
  EXPECT_EQ(deflate->Seek(0, kFromBegin), kStreamError);
  EXPECT_EQ(deflate->Seek(1, kFromCurrent), kStreamError);
}

TEST(DeflateStreamRefusedOutput, FinishReportsADestinationThatTookLess) {
  LimitedSink dest(4);
  auto deflate = NewDeflateStream(kBestCompression, dest);
  const auto data = TextBytes(1000);
  ASSERT_EQ(deflate->Write(data.data(), 1000), 1000u);  // all still buffered
  EXPECT_FALSE(deflate->Finish());
  EXPECT_FALSE(deflate->Finish());  // the first answer stays
  EXPECT_EQ(deflate->BytesOut(), 4u);
}

TEST(DeflateStreamRefusedOutput, WriteReportsARefusedBlockAndFinishFailsAfterIt) {
  LimitedSink dest(1000);
  auto deflate = NewDeflateStream(kBestCompression, dest);
  const auto data = RandomBytes(200000);
  EXPECT_EQ(deflate->Write(data.data(), 200000), kStreamError);
  EXPECT_FALSE(deflate->Finish());
  EXPECT_EQ(dest.data.size(), 1000u);
}

}  // namespace
}  // namespace tvx
