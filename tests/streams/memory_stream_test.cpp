#include "streams/memory_stream.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace tvx {
namespace {

TEST(MemoryStreamCapacity, OneByteTakesAFirstStepOf16384) {
  MemoryStream s;
  ASSERT_TRUE(s.SetSize(1));
  EXPECT_EQ(s.Capacity(), 16384u);
}

TEST(MemoryStreamCapacity, ExactlyOneStepStillGrowsToTheNext) {
  MemoryStream s;
  ASSERT_TRUE(s.SetSize(16384));
  EXPECT_EQ(s.Capacity(), 32768u);
}

TEST(MemoryStreamCapacity, SizeNear4GiBFailsAndLeavesTheStreamAlone) {
  MemoryStream s;
  ASSERT_EQ(s.Write("abc", 3), 3u);
  EXPECT_FALSE(s.SetSize(0xFFFFFFF0u));  // the rounded capacity would wrap to 0
  EXPECT_EQ(s.Size(), 3u);
  EXPECT_EQ(s.Position(), 3u);
  EXPECT_EQ(std::memcmp(s.Memory(), "abc", 3), 0);
}

TEST(MemoryStreamSize, ZeroReleasesTheBlock) {
  MemoryStream s;
  ASSERT_EQ(s.Write("data", 4), 4u);
  ASSERT_TRUE(s.SetSize(0));
  EXPECT_EQ(s.Memory(), nullptr);
  EXPECT_EQ(s.Capacity(), 0u);
  EXPECT_EQ(s.Position(), 0u);
}

TEST(MemoryStreamSize, ShrinkingBelowThePositionMovesThePosition) {
  MemoryStream s;
  ASSERT_EQ(s.Write("0123456789", 10), 10u);
  ASSERT_TRUE(s.SetSize(4));
  EXPECT_EQ(s.Position(), 4u);
  char c;
  EXPECT_EQ(s.Read(&c, 1), 0u);
}

TEST(MemoryStreamSeek, PastTheEndGrowsToTheTarget) {
  MemoryStream s;
  EXPECT_EQ(s.Seek(5000, kFromBegin), 5000u);
  EXPECT_EQ(s.Size(), 5000u);
  EXPECT_EQ(s.Position(), s.Size());
  EXPECT_EQ(s.Seek(10, kFromEnd), 5010u);
  EXPECT_EQ(s.Size(), 5010u);
}

TEST(MemoryStreamSeek, BeforeTheStartFailsAndKeepsThePosition) {
  MemoryStream s;
  ASSERT_EQ(s.Write("abc", 3), 3u);
  EXPECT_EQ(s.Seek(-4, kFromCurrent), kStreamError);
  EXPECT_EQ(s.Seek(-1, kFromBegin), kStreamError);
  EXPECT_EQ(s.Position(), 3u);
  EXPECT_EQ(s.Seek(-3, kFromEnd), 0u);
}

TEST(MemoryStreamReadWrite, ReadIsClampedToTheSize) {
  MemoryStream s;
  ASSERT_EQ(s.Write("hello", 5), 5u);
  ASSERT_EQ(s.SetPosition(2), 2u);
  char buf[16] = {};
  EXPECT_EQ(s.Read(buf, sizeof buf), 3u);
  EXPECT_EQ(std::string(buf, 3), "llo");
  EXPECT_EQ(s.Read(buf, sizeof buf), 0u);
}

TEST(MemoryStreamReadWrite, OverwriteInTheMiddleKeepsTheSize) {
  MemoryStream s;
  ASSERT_EQ(s.Write("abcdef", 6), 6u);
  ASSERT_EQ(s.SetPosition(2), 2u);
  ASSERT_EQ(s.Write("XY", 2), 2u);
  EXPECT_EQ(s.Size(), 6u);
  EXPECT_EQ(std::memcmp(s.Memory(), "abXYef", 6), 0);
}

TEST(MemoryStreamReadWrite, WritesAcrossManyStepsKeepEveryByte) {
  MemoryStream s;
  std::vector<uint8_t> expected;
  for (uint32_t i = 0; i < 5000; ++i) {
    uint8_t piece[37];
    for (uint32_t j = 0; j < sizeof piece; ++j) piece[j] = static_cast<uint8_t>(i * 31 + j);
    ASSERT_EQ(s.Write(piece, sizeof piece), sizeof piece);
    expected.insert(expected.end(), piece, piece + sizeof piece);
  }
  ASSERT_EQ(s.Size(), expected.size());
  EXPECT_EQ(std::memcmp(s.Memory(), expected.data(), expected.size()), 0);
}

TEST(MemoryStreamReadWrite, WriteWhoseEndWouldPass4GiBWritesNothing) {
  MemoryStream s;
  ASSERT_EQ(s.Write("ab", 2), 2u);
  EXPECT_EQ(s.Write("ab", 0xFFFFFFFFu), 0u);  // count alone overflows position + count
  EXPECT_EQ(s.Size(), 2u);
  EXPECT_EQ(s.Position(), 2u);
}

}  // namespace
}  // namespace tvx
