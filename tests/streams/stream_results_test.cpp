// What TryRead, TryWrite and TrySeek make of the streams' own answers: a
// failure is never taken for a byte count or a position, and says why.
#include <gtest/gtest.h>

#include <vector>

#include "stream_test_support.h"
#include "streams/deflate_stream.h"
#include "streams/file_stream.h"
#include "streams/inflate_stream.h"
#include "streams/memory_stream.h"
#include "support/test_support.h"

namespace tvx {
namespace {

using platform::IoErrorKind;
using testing_support::LimitedSink;
using testing_support::TextBytes;

TEST(StreamResults, ReadsSayWhetherTheDataEndedOrMadeNoSense) {
  MemoryStream memory;
  const std::vector<uint8_t> ten = TextBytes(10);
  ASSERT_EQ(memory.Write(ten.data(), 10), 10u);
  ASSERT_FALSE(memory.TrySetPosition(0).failed());
  uint8_t buffer[64];
  const Transfer whole = memory.TryRead(buffer, 4);
  EXPECT_EQ(whole.count, 4u);
  EXPECT_FALSE(whole.failed());
  const Transfer rest = memory.TryRead(buffer, 20);
  EXPECT_EQ(rest.count, 6u);
  EXPECT_EQ(rest.error.kind, IoErrorKind::kEnd);

  // An inflate stream answers corrupt data with all bits set: no count at all.
  std::vector<uint8_t> garbage = TextBytes(100);
  garbage[0] = 0x77;
  MemoryStream packed;
  ASSERT_EQ(packed.Write(garbage.data(), 100), 100u);
  ASSERT_FALSE(packed.TrySetPosition(0).failed());
  std::unique_ptr<InflateStream> inflate = NewInflateStream(packed);
  const Transfer bad = inflate->TryRead(buffer, sizeof buffer);
  EXPECT_EQ(bad.count, 0u);
  EXPECT_EQ(bad.error.kind, IoErrorKind::kCorrupt);
  EXPECT_EQ(ReadExactly(*inflate, buffer, sizeof buffer).kind, IoErrorKind::kCorrupt);
}

TEST(StreamResults, AFileThatCannotBeOpenedSaysWhy) {
  test::TempDir dir;
  std::unique_ptr<FileStream> missing = OpenReadFileStream(platform::OsSystem(), dir.File("missing"));
  uint8_t buffer[8];
  const Transfer got = missing->TryRead(buffer, sizeof buffer);
  EXPECT_EQ(got.count, 0u);
  EXPECT_EQ(got.error.kind, IoErrorKind::kNotFound);
  EXPECT_TRUE(missing->TrySeek(0, kFromBegin).failed());
}

TEST(StreamResults, ARefusedWriteKeepsWhatWasTakenAndFails) {
  LimitedSink sink(100);
  const std::vector<uint8_t> bytes = TextBytes(150);
  const Transfer partial = sink.TryWrite(bytes.data(), 150);
  EXPECT_EQ(partial.count, 100u);
  EXPECT_TRUE(partial.failed());

  // A finished deflate stream answers a write with all bits set.
  MemoryStream out;
  std::unique_ptr<DeflateStream> deflate = NewDeflateStream(kBestCompression, out);
  ASSERT_TRUE(deflate->Finish());
  const Transfer late = deflate->TryWrite(bytes.data(), 10);
  EXPECT_EQ(late.count, 0u);
  EXPECT_TRUE(late.failed());
}

TEST(StreamResults, AFailedSeekIsNoPosition) {
  MemoryStream memory;
  EXPECT_TRUE(memory.TrySeek(-1, kFromBegin).failed());
  const Placement placed = memory.TrySetPosition(5);  // a memory stream grows to a seek's target
  ASSERT_FALSE(placed.failed());
  EXPECT_EQ(placed.position, 5u);

  // A stream that lands anywhere but the asked position has failed the seek.
  MemoryStream packed;
  std::unique_ptr<InflateStream> inflate = NewInflateStream(packed);
  EXPECT_TRUE(inflate->TrySetPosition(7).failed());
  EXPECT_FALSE(inflate->TryPosition().failed());
}

}  // namespace
}  // namespace tvx
