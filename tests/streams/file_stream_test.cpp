#include "streams/file_stream.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "stream_test_support.h"
#include "support/test_system.h"

namespace tvx {
namespace {

using namespace testing_support;

class FileStreams : public ::testing::Test {
 protected:
  std::string Contents() { return test::ReadFileBytes(path); }
  test::TempDir dir;
  const std::string path = dir.File("f");
  test::FaultySystem faults;
};

// Extracting many small files pays per system call: a file written front to
// back already ends at the last write and needs no cut; written again from
// the start, it ends where that write ended.
TEST_F(FileStreams, AWriteOnlyFileEndsWhereTheLastWriteEndedWithoutACutFrontToBack) {
  {
    auto s = CreateWriteFileStream(faults, path);
    ASSERT_TRUE(s->IsOpen());
    test::FaultPlanGuard guard(faults, test::FaultPlan());  // counts only
    ASSERT_EQ(s->TryWrite("abc", 3).count, 3u);
    ASSERT_EQ(s->TryWrite("def", 3).count, 3u);
    EXPECT_EQ(faults.MutatingCalls(), 2u);
    EXPECT_EQ(At(s->TryPosition()), 6u);
    EXPECT_EQ(s->Size(), 6u);
    ASSERT_EQ(At(s->TrySetPosition(0)), 0u);
    ASSERT_EQ(s->TryWrite("xy", 2).count, 2u);
    EXPECT_EQ(s->Size(), 2u);
  }
  EXPECT_EQ(Contents(), "xy");
}

// A failed write, and a failed cut after a good write, fail the write.
TEST_F(FileStreams, AWriteOnlyFileReportsAFailedWriteOrCut) {
  auto s = CreateWriteFileStream(faults, path);
  ASSERT_TRUE(s->IsOpen());
  {
    test::FaultPlanGuard guard(faults, test::FaultPlan{1});
    EXPECT_EQ(s->TryWrite("abc", 3).count, 0u);
  }
  ASSERT_EQ(s->TryWrite("abcdef", 6).count, 6u);
  ASSERT_EQ(At(s->TrySetPosition(1)), 1u);
  test::FaultPlanGuard guard(faults, test::FaultPlan{2, 0, true});  // the write goes through, the cut after it fails
  const Transfer cut = s->TryWrite("xy", 2);
  EXPECT_EQ(cut.count, 0u);
  EXPECT_TRUE(cut.failed());
  EXPECT_EQ(faults.MutatingCalls(), 2u);
}

TEST_F(FileStreams, CreateNewNeverTouchesWhatHasTheName) {
  ASSERT_TRUE(test::WriteFileBytes(path, "keep"));
  EXPECT_FALSE(CreateNewWriteFileStream(platform::OsSystem(), path)->IsOpen());
  EXPECT_EQ(Contents(), "keep");
  const std::string folder = dir.File("d");
  ASSERT_TRUE(platform::OsSystem().MakeDirectory(folder));
  EXPECT_FALSE(CreateNewWriteFileStream(platform::OsSystem(), folder)->IsOpen());
  EXPECT_TRUE(platform::OsSystem().DirectoryExists(folder));
  auto fresh = CreateNewWriteFileStream(platform::OsSystem(), dir.File("new"));
  ASSERT_TRUE(fresh->IsOpen());
  EXPECT_EQ(fresh->TryWrite("new", 3).count, 3u);
}

// The stream keeps the position itself; it must agree with the file after
// every kind of move, including reads cut short at the end. Opened again,
// the file keeps its contents.
TEST_F(FileStreams, KeptPositionFollowsReadsWritesAndSeeksAndReadWriteKeepsTheContents) {
  auto s = OpenReadWriteFileStream(platform::OsSystem(), path);  // creates the missing file
  ASSERT_TRUE(s->IsOpen());
  EXPECT_EQ(s->Size(), 0u);
  ASSERT_EQ(s->TryWrite("0123456789", 10).count, 10u);
  EXPECT_EQ(At(s->TryPosition()), 10u);
  EXPECT_EQ(At(s->TrySeek(-4, kFromCurrent)), 6u);
  char buffer[8] = {};
  const Transfer tail = s->TryRead(buffer, 8);
  EXPECT_EQ(tail.count, 4u);  // short at the end
  EXPECT_EQ(tail.error.kind, platform::IoErrorKind::kEnd);
  EXPECT_EQ(std::string(buffer, 4), "6789");
  EXPECT_EQ(At(s->TryPosition()), 10u);
  EXPECT_EQ(At(s->TrySeek(-3, kFromEnd)), 7u);
  ASSERT_EQ(s->TryWrite("ab", 2).count, 2u);
  EXPECT_EQ(At(s->TrySeek(-20, kFromCurrent)), kFailed);  // refused: stays
  EXPECT_EQ(At(s->TryPosition()), 9u);
  ASSERT_EQ(At(s->TrySetPosition(0)), 0u);
  EXPECT_EQ(Got(s->TryRead(buffer, 3)), 3u);
  EXPECT_EQ(std::string(buffer, 3), "012");
  ASSERT_TRUE(s->SetSize(2));
  EXPECT_EQ(At(s->TryPosition()), 2u);
  s.reset();  // Windows shares the file for reading only while it is open
  EXPECT_EQ(Contents(), "01");
  s = OpenReadWriteFileStream(platform::OsSystem(), path);  // an existing file keeps its bytes
  ASSERT_EQ(s->Size(), 2u);
  ASSERT_EQ(s->TryWrite("x", 1).count, 1u);  // no cut: the tail stays
  EXPECT_EQ(s->Size(), 2u);
  s.reset();
  EXPECT_EQ(Contents(), "x1");
}

// Shrinking moves the position to the new end, growing keeps it, and a failed cut is reported.
TEST_F(FileStreams, SetSizeMovesThePositionOnlyWhenItShrinksPastIt) {
  struct Row {
    uint32_t at, size;
    bool failCut;
    uint32_t position;
  };
  for (const Row& row : {Row{100, 40, false, 40}, Row{1, 5000, false, 1}, Row{100, 2, true, 100}}) {
    auto s = OpenReadWriteFileStream(faults, dir.File("size" + std::to_string(row.size)));
    const auto data = RandomBytes(100);
    ASSERT_EQ(s->TryWrite(data.data(), 100).count, 100u);
    ASSERT_EQ(At(s->TrySetPosition(row.at)), row.at);
    test::FaultPlanGuard guard(faults, test::FaultPlan{row.failCut ? 1u : 0u});
    EXPECT_EQ(s->SetSize(row.size), !row.failCut) << row.size;
    if (row.failCut) continue;
    EXPECT_EQ(s->Size(), row.size);
    EXPECT_EQ(At(s->TryPosition()), row.position);
  }
}

TEST_F(FileStreams, AMissingFileIsClosedEmptyUnseekableAndSaysWhy) {
  auto s = OpenReadFileStream(platform::OsSystem(), path);
  const Placement seek = s->TrySeek(0, kFromBegin);
  const uint32_t position = At(s->TryPosition());
  char c[8];
  const Transfer got = s->TryRead(c, sizeof c);
  constexpr auto kNotFound = platform::IoErrorKind::kNotFound;
  EXPECT_EQ(std::make_tuple(s->IsOpen(), s->Size(), seek.failed(), seek.error.kind, position, got.count,
                            got.error.kind),
            std::make_tuple(false, 0u, true, kNotFound, kFailed, 0u, kNotFound));
}

}  // namespace
}  // namespace tvx
