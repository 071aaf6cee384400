#include "streams/file_stream.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "stream_test_support.h"
#include "support/test_system.h"

namespace tvx {
namespace {

using testing_support::RandomBytes;
using testing_support::ReadAll;
using testing_support::TempFile;

std::vector<uint8_t> FileContents(const std::string& path) {
  auto s = OpenReadFileStream(platform::OsSystem(), path);
  return s->IsOpen() ? ReadAll(*s) : std::vector<uint8_t>();
}

void WriteFile(const std::string& path, const std::string& text) {
  auto s = CreateWriteFileStream(platform::OsSystem(), path);
  ASSERT_TRUE(s->IsOpen());
  ASSERT_EQ(s->Write(text.data(), static_cast<uint32_t>(text.size())), text.size());
}

TEST(WriteOnlyFileStream, FileEndsWhereTheLastWriteEnded) {
  TempFile tmp;
  {
    auto s = CreateWriteFileStream(platform::OsSystem(), tmp.path());
    ASSERT_TRUE(s->IsOpen());
    const auto data = RandomBytes(100);
    ASSERT_EQ(s->Write(data.data(), 100), 100u);
    ASSERT_EQ(s->SetPosition(0), 0u);
    ASSERT_EQ(s->Write(data.data(), 10), 10u);
    EXPECT_EQ(s->Size(), 10u);
  }
  EXPECT_EQ(FileContents(tmp.path()).size(), 10u);
}

TEST(WriteOnlyFileStream, FailedWriteIsReported) {
  TempFile tmp;
  test::FaultySystem faults;
  auto s = CreateWriteFileStream(faults, tmp.path());
  ASSERT_TRUE(s->IsOpen());
  test::FaultPlan plan;
  plan.failWriteAt = 1;
  test::FaultPlanGuard guard(faults, plan);
  EXPECT_EQ(s->Write("abc", 3), 0u);
}

TEST(WriteOnlyFileStream, FailedCutAfterAGoodWriteIsReported) {
  TempFile tmp;
  test::FaultySystem faults;
  auto s = CreateWriteFileStream(faults, tmp.path());
  ASSERT_TRUE(s->IsOpen());
  ASSERT_EQ(s->Write("abcdef", 6), 6u);
  ASSERT_EQ(s->SetPosition(1), 1u);
  test::FaultPlan plan;
  plan.failWriteAt = 2;  // the write goes through, the cut after it fails
  plan.failOnce = true;
  test::FaultPlanGuard guard(faults, plan);
  EXPECT_EQ(s->Write("xy", 2), 0u);
  EXPECT_EQ(faults.MutatingCalls(), 2u);
}

// Extracting many small files pays per system call: a file written front to
// back already ends at the last write and needs no cut.
TEST(WriteOnlyFileStream, WritingFrontToBackNeedsNoCut) {
  TempFile tmp;
  {
    test::FaultySystem faults;
    auto s = CreateWriteFileStream(faults, tmp.path());
    ASSERT_TRUE(s->IsOpen());
    test::FaultPlan plan;  // counts only
    test::FaultPlanGuard guard(faults, plan);
    ASSERT_EQ(s->Write("abc", 3), 3u);
    ASSERT_EQ(s->Write("def", 3), 3u);
    EXPECT_EQ(faults.MutatingCalls(), 2u);
    EXPECT_EQ(s->Position(), 6u);
  }
  const auto bytes = FileContents(tmp.path());
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "abcdef");
}

TEST(CreateNewWriteFileStream, NeverTouchesWhatHasTheName) {
  TempFile tmp;
  WriteFile(tmp.path(), "keep");
  EXPECT_FALSE(CreateNewWriteFileStream(platform::OsSystem(), tmp.path())->IsOpen());
  const auto bytes = FileContents(tmp.path());
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "keep");

  const std::string folder = tmp.path() + ".d";
  ASSERT_TRUE(platform::OsSystem().MakeDirectory(folder));
  EXPECT_FALSE(CreateNewWriteFileStream(platform::OsSystem(), folder)->IsOpen());
  EXPECT_TRUE(platform::OsSystem().DirectoryExists(folder));
  std::filesystem::remove(folder);

  ASSERT_TRUE(platform::OsSystem().RemoveFile(tmp.path()));
  auto fresh = CreateNewWriteFileStream(platform::OsSystem(), tmp.path());
  ASSERT_TRUE(fresh->IsOpen());
  EXPECT_EQ(fresh->Write("new", 3), 3u);
}

// The stream keeps the position itself; it must agree with the file after
// every kind of move, including reads cut short at the end.
TEST(ReadWriteFileStream, KeptPositionFollowsReadsWritesAndSeeks) {
  TempFile tmp;
  auto s = OpenReadWriteFileStream(platform::OsSystem(), tmp.path());
  ASSERT_TRUE(s->IsOpen());
  ASSERT_EQ(s->Write("0123456789", 10), 10u);
  EXPECT_EQ(s->Position(), 10u);
  EXPECT_EQ(s->Seek(-4, kFromCurrent), 6u);
  char buffer[8] = {};
  EXPECT_EQ(s->Read(buffer, 8), 4u);  // short at the end
  EXPECT_EQ(std::string(buffer, 4), "6789");
  EXPECT_EQ(s->Position(), 10u);
  EXPECT_EQ(s->Seek(-3, kFromEnd), 7u);
  ASSERT_EQ(s->Write("ab", 2), 2u);
  EXPECT_EQ(s->Seek(-20, kFromCurrent), kStreamError);  // refused: stays
  EXPECT_EQ(s->Position(), 9u);
  ASSERT_EQ(s->SetPosition(0), 0u);
  EXPECT_EQ(s->Read(buffer, 3), 3u);
  EXPECT_EQ(std::string(buffer, 3), "012");
  ASSERT_TRUE(s->SetSize(2));
  EXPECT_EQ(s->Position(), 2u);
  s.reset();  // Windows shares the file for reading only while it is open
  const auto bytes = FileContents(tmp.path());
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "01");
}

TEST(ReadWriteFileStream, KeepsTheContentsOfAnExistingFile) {
  TempFile tmp;
  WriteFile(tmp.path(), "0123456789");
  {
    auto s = OpenReadWriteFileStream(platform::OsSystem(), tmp.path());
    ASSERT_TRUE(s->IsOpen());
    EXPECT_EQ(s->Size(), 10u);
    ASSERT_EQ(s->SetPosition(2), 2u);
    ASSERT_EQ(s->Write("ab", 2), 2u);  // no cut: the tail stays
    EXPECT_EQ(s->Size(), 10u);
  }
  const auto bytes = FileContents(tmp.path());
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "01ab456789");
}

TEST(ReadWriteFileStream, CreatesAMissingFile) {
  TempFile tmp;
  ASSERT_TRUE(platform::OsSystem().RemoveFile(tmp.path()));
  {
    auto s = OpenReadWriteFileStream(platform::OsSystem(), tmp.path());
    ASSERT_TRUE(s->IsOpen());
    EXPECT_EQ(s->Size(), 0u);
    ASSERT_EQ(s->Write("new", 3), 3u);
    ASSERT_EQ(s->SetPosition(0), 0u);
    char buf[3];
    ASSERT_EQ(s->Read(buf, 3), 3u);
    EXPECT_EQ(std::string(buf, 3), "new");
  }
  EXPECT_EQ(FileContents(tmp.path()).size(), 3u);
}

TEST(ReadWriteFileStream, SetSizeShrinkingMovesThePositionToTheEnd) {
  TempFile tmp;
  auto s = OpenReadWriteFileStream(platform::OsSystem(), tmp.path());
  const auto data = RandomBytes(100);
  ASSERT_EQ(s->Write(data.data(), 100), 100u);
  ASSERT_TRUE(s->SetSize(40));
  EXPECT_EQ(s->Size(), 40u);
  EXPECT_EQ(s->Position(), 40u);
}

TEST(ReadWriteFileStream, SetSizeGrowingKeepsThePosition) {
  TempFile tmp;
  auto s = OpenReadWriteFileStream(platform::OsSystem(), tmp.path());
  ASSERT_EQ(s->Write("abc", 3), 3u);
  ASSERT_EQ(s->SetPosition(1), 1u);
  ASSERT_TRUE(s->SetSize(5000));
  EXPECT_EQ(s->Size(), 5000u);
  EXPECT_EQ(s->Position(), 1u);
}

TEST(ReadWriteFileStream, SetSizeReportsAFailedCut) {
  TempFile tmp;
  test::FaultySystem faults;
  auto s = OpenReadWriteFileStream(faults, tmp.path());
  ASSERT_EQ(s->Write("abcdef", 6), 6u);
  test::FaultPlan plan;
  plan.failWriteAt = 1;
  test::FaultPlanGuard guard(faults, plan);
  EXPECT_FALSE(s->SetSize(2));
}

TEST(ReadFileStream, MissingFileIsClosedEmptyAndUnseekable) {
  TempFile tmp;
  ASSERT_TRUE(platform::OsSystem().RemoveFile(tmp.path()));
  auto s = OpenReadFileStream(platform::OsSystem(), tmp.path());
  EXPECT_FALSE(s->IsOpen());
  EXPECT_EQ(s->Size(), 0u);
  EXPECT_EQ(s->Seek(0, kFromBegin), kStreamError);
  EXPECT_EQ(s->Position(), kStreamError);
  char c;
  EXPECT_EQ(s->Read(&c, 1), 0u);
}

}  // namespace
}  // namespace tvx
