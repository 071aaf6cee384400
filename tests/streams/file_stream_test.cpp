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
    // Braced: asked in this order: two writes, the calls they made, position and size; then again from 0.
    EXPECT_EQ((std::vector<uint64_t>{s->TryWrite("abc", 3).count, s->TryWrite("def", 3).count, faults.MutatingCalls(),
                                     At(s->TryPosition()), s->Size(), At(s->TrySetPosition(0)),
                                     s->TryWrite("xy", 2).count, s->Size()}),
              (std::vector<uint64_t>{3, 3, 2, 6, 6, 0, 2, 2}));
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
  EXPECT_EQ(std::make_tuple(cut.count, cut.failed(), faults.MutatingCalls()), std::make_tuple(0u, true, uint64_t{2}));
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
  using Answers = std::vector<uint32_t>;  // braced: asked in this order
  EXPECT_EQ((Answers{s->Size(), s->TryWrite("0123456789", 10).count, At(s->TryPosition()),
                     At(s->TrySeek(-4, kFromCurrent))}),
            (Answers{0, 10, 10, 6}));
  char buffer[8] = {};
  const Transfer tail = s->TryRead(buffer, 8);  // short at the end
  EXPECT_EQ(std::make_tuple(tail.count, tail.error.kind, std::string(buffer, 4)),
            std::make_tuple(4u, platform::IoErrorKind::kEnd, std::string("6789")));
  // The seek refused stays where it was.
  EXPECT_EQ((Answers{At(s->TryPosition()), At(s->TrySeek(-3, kFromEnd)), s->TryWrite("ab", 2).count,
                     At(s->TrySeek(-20, kFromCurrent)), At(s->TryPosition()), At(s->TrySetPosition(0)),
                     Got(s->TryRead(buffer, 3))}),
            (Answers{10, 7, 2, kFailed, 9, 0, 3}));
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
  // Where the position is, the size set, whether the cut fails; the position after it.
  using Row = std::tuple<uint32_t, uint32_t, bool, uint32_t>;
  for (const auto& [at, size, failCut, position] :
       {Row{100, 40, false, 40}, Row{1, 5000, false, 1}, Row{100, 2, true, 100}}) {
    auto s = OpenReadWriteFileStream(faults, dir.File("size" + std::to_string(size)));
    const auto data = RandomBytes(100);
    ASSERT_EQ(s->TryWrite(data.data(), 100).count, 100u);
    ASSERT_EQ(At(s->TrySetPosition(at)), at);
    test::FaultPlanGuard guard(faults, test::FaultPlan{failCut ? 1u : 0u});
    EXPECT_EQ(s->SetSize(size), !failCut) << size;
    if (failCut) continue;
    EXPECT_EQ(s->Size(), size);
    EXPECT_EQ(At(s->TryPosition()), position);
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
