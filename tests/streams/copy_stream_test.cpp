#include "streams/copy_stream.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "stream_test_support.h"
#include "streams/file_stream.h"
#include "streams/memory_stream.h"

namespace tvx {
namespace {

using testing_support::FailingSource;
using testing_support::LimitedSink;
using testing_support::RandomBytes;
using testing_support::ReadAll;
using testing_support::TempFile;

void FillFile(const std::string& path, const std::vector<uint8_t>& data) {
  auto s = CreateWriteFileStream(platform::OsSystem(), path);
  ASSERT_TRUE(s->IsOpen());
  ASSERT_EQ(s->Write(data.data(), static_cast<uint32_t>(data.size())), data.size());
}

void FillMemory(MemoryStream& s, const std::vector<uint8_t>& data) {
  ASSERT_EQ(s.Write(data.data(), static_cast<uint32_t>(data.size())), data.size());
  ASSERT_EQ(s.SetPosition(0), 0u);
}

TEST(CopyStreamAnyPath, ZeroCountMovesNothingAndIsComplete) {
  MemoryStream from, to;
  FillMemory(from, RandomBytes(10));
  const CopyResult r = CopyStream(to, from, 0);
  EXPECT_TRUE(r.Complete(0));
  EXPECT_EQ(to.Size(), 0u);
  EXPECT_EQ(from.Position(), 0u);
}

TEST(CopyStreamFromMemory, CountIsCutToWhatRemains) {
  MemoryStream from, to;
  const auto data = RandomBytes(50);
  FillMemory(from, data);
  ASSERT_EQ(from.SetPosition(20), 20u);
  const CopyResult r = CopyStream(to, from, 100);
  EXPECT_EQ(r.read, 30u);
  EXPECT_EQ(r.written, 30u);
  EXPECT_FALSE(r.Complete(100));
  EXPECT_EQ(from.Position(), 50u);
  ASSERT_EQ(to.Size(), 30u);
  EXPECT_EQ(std::memcmp(to.Memory(), data.data() + 20, 30), 0);
}

TEST(CopyStreamFromMemory, SourceAdvancesOnlyByWhatTheDestinationTook) {
  MemoryStream from;
  FillMemory(from, RandomBytes(100));
  LimitedSink to(60);
  const CopyResult r = CopyStream(to, from, 100);
  EXPECT_EQ(r.read, 100u);
  EXPECT_EQ(r.written, 60u);
  EXPECT_EQ(from.Position(), 60u);
}

TEST(CopyStreamIntoMemory, ShortSourceLeavesSizeAtPositionPlusCount) {
  TempFile tmp;
  const auto data = RandomBytes(30);
  FillFile(tmp.path(), data);
  auto from = OpenReadFileStream(platform::OsSystem(), tmp.path());
  MemoryStream to;
  FillMemory(to, RandomBytes(8, 99));
  ASSERT_EQ(to.SetPosition(5), 5u);
  const CopyResult r = CopyStream(to, *from, 100);
  EXPECT_EQ(r.read, 30u);
  EXPECT_EQ(r.written, 30u);
  EXPECT_EQ(to.Position(), 35u);
  EXPECT_EQ(to.Size(), 105u);  // grown for the whole count before reading
  EXPECT_EQ(std::memcmp(to.Memory() + 5, data.data(), 30), 0);
}

TEST(CopyStreamIntoMemory, EmptiedDestinationHoldsNoBlockAndCopiesThroughABuffer) {
  TempFile tmp;
  FillFile(tmp.path(), RandomBytes(30));
  auto from = OpenReadFileStream(platform::OsSystem(), tmp.path());
  MemoryStream to;
  FillMemory(to, RandomBytes(8));
  ASSERT_TRUE(to.SetSize(0));
  ASSERT_EQ(to.Memory(), nullptr);
  const CopyResult r = CopyStream(to, *from, 100);
  EXPECT_EQ(r.read, 30u);
  EXPECT_EQ(r.written, 30u);
  EXPECT_EQ(to.Size(), 30u);  // written piece by piece: no room reserved for the count
}

TEST(CopyStreamIntoMemory, SourceErrorIsNotCounted) {
  FailingSource from({});
  MemoryStream to;
  FillMemory(to, RandomBytes(4));
  const CopyResult r = CopyStream(to, from, 100);
  EXPECT_TRUE(r.sourceFailed);
  EXPECT_EQ(r.read, 0u);
  EXPECT_EQ(r.written, 0u);
  EXPECT_EQ(to.Position(), 0u);
}

TEST(CopyStreamThroughBuffer, FileToFileAcrossSeveralChunksIsExact) {
  TempFile src, dst;
  const uint32_t n = kCopyChunk * 5 / 2;  // 2.5 chunks: the last one partial
  const auto data = RandomBytes(n);
  FillFile(src.path(), data);
  {
    auto from = OpenReadFileStream(platform::OsSystem(), src.path());
    auto to = CreateWriteFileStream(platform::OsSystem(), dst.path());
    const CopyResult r = CopyStream(*to, *from, n);
    EXPECT_TRUE(r.Complete(n));
  }
  auto check = OpenReadFileStream(platform::OsSystem(), dst.path());
  EXPECT_TRUE(ReadAll(*check, 1u << 16) == data);
}

TEST(CopyStreamThroughBuffer, StopsAtTheEndOfTheSource) {
  TempFile src, dst;
  FillFile(src.path(), RandomBytes(1000));
  auto from = OpenReadFileStream(platform::OsSystem(), src.path());
  auto to = CreateWriteFileStream(platform::OsSystem(), dst.path());
  const CopyResult r = CopyStream(*to, *from, 5000);
  EXPECT_EQ(r.read, 1000u);
  EXPECT_EQ(r.written, 1000u);
  EXPECT_FALSE(r.sourceFailed);
  EXPECT_EQ(r.error.kind, platform::IoErrorKind::kEnd);
  EXPECT_FALSE(r.Complete(5000));
}

TEST(CopyStreamThroughBuffer, StopsAtAShortWrite) {
  TempFile src;
  const uint32_t n = kCopyChunk * 2;
  FillFile(src.path(), RandomBytes(n));
  auto from = OpenReadFileStream(platform::OsSystem(), src.path());
  LimitedSink to(1000);
  const CopyResult r = CopyStream(to, *from, n);
  EXPECT_EQ(r.written, 1000u);
  EXPECT_EQ(r.read, kCopyChunk);  // no second chunk after the refusal
  EXPECT_TRUE(r.error.failed());
  EXPECT_NE(r.error.kind, platform::IoErrorKind::kEnd);  // the destination failed, the source did not end
  EXPECT_FALSE(r.Complete(n));
}

TEST(CopyStreamThroughBuffer, SourceErrorStopsAndKeepsWhatCameBefore) {
  FailingSource from(RandomBytes(300));
  LimitedSink to(1u << 20);
  const CopyResult r = CopyStream(to, from, 1000);
  EXPECT_TRUE(r.sourceFailed);
  EXPECT_EQ(r.read, 300u);
  EXPECT_EQ(r.written, 300u);
  EXPECT_EQ(r.error.kind, platform::IoErrorKind::kCorrupt);  // all bits set from the source
  EXPECT_FALSE(r.Complete(1000));
}

}  // namespace
}  // namespace tvx
