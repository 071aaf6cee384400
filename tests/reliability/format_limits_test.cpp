// The format's 2 GiB limit, with sparse files (Linux): files of 2 GiB or more
// are refused before anything is written, a 1.5 GiB file packs and extracts
// intact in bounded memory, and an archive that would reach 2 GiB is refused
// with the old one unchanged. Each test needs real disk room for what it
// writes and is skipped when the temporary folder's volume lacks it. And the
// earliest entry time, which once overflowed.
#ifndef _WIN32

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <system_error>
#include <vector>

#include "TolvexU/archive_changes.h"
#include "iwcxhead/wcxhead.h"
#include "platform/platform.h"
#include "reliability/reliability_helpers.h"
#include "support/archive_bytes.h"
#include "support/child_process.h"
#include "support/module_driver.h"
#include "support/plugin_test.h"
#include "support/test_support.h"
#include "support/test_system.h"

namespace tvx::test::reliability {
namespace {

namespace fs = std::filesystem;

constexpr int64_t kGiB = int64_t{1} << 30;
constexpr int64_t kMiB = int64_t{1} << 20;
// The peak resident memory a child may reach while moving gigabytes.
constexpr long kMemoryLimitKiB = 64 * 1024;

int64_t FreeBytes(const std::string& path) {
  struct statvfs vfs {};
  if (::statvfs(path.c_str(), &vfs) != 0) return 0;
  return static_cast<int64_t>(vfs.f_bavail) * static_cast<int64_t>(vfs.f_frsize);
}

// Up to size bytes of the stream from where it is; empty at its end.
std::string NextBlock(std::ifstream& in, size_t size = 4 * kMiB) {
  std::string block(size, '\0');
  in.read(&block[0], static_cast<std::streamsize>(size));
  block.resize(static_cast<size_t>(in.gcount()));
  return block;
}

// Compares two files block by block without holding either in memory.
bool SameContent(const std::string& a, const std::string& b) {
  std::ifstream fa(a, std::ios::binary);
  std::ifstream fb(b, std::ios::binary);
  if (!fa || !fb) return false;
  for (std::string block;;) {
    if ((block = NextBlock(fa)) != NextBlock(fb)) return false;
    if (block.empty()) return true;
  }
}

// Enough of a huge sparse file to tell whether anyone wrote to it: its size,
// its allocated blocks, its modification time and its first 64 KiB.
std::string StateOf(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return "missing";
  std::ifstream in(path, std::ios::binary);
  return std::to_string(st.st_size) + " bytes, " + std::to_string(st.st_blocks) + " blocks, modified " +
         std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec) + ", starting " +
         NextBlock(in, 64 * 1024);
}

class FormatLimits : public ::testing::Test {
 protected:
  void SetUp() override {
    srcFolder_ = dir_.File("src") + "/";
    tmpFolder_ = dir_.File("tmp") + "/";
    archive_ = dir_.File("archive.tvx");
    fs::create_directories(srcFolder_);
    fs::create_directories(tmpFolder_);
  }

  void RequireRoom(int64_t bytes) {
    const int64_t free = FreeBytes(dir_.path());
    if (free < bytes) GTEST_SKIP() << "needs " << bytes / kMiB << " MiB free, " << free / kMiB << " MiB available";
  }

  // Packing as PackFiles does, through the counting system, with TMPDIR in scratch.
  int Pack(const std::vector<std::string>& items) {
    ::setenv("TMPDIR", tmpFolder_.c_str(), 1);
    const std::string list = NameList(items);
    host::PackRequest request;  // as PackFiles makes it, through the counting system
    request.packedFile = archive_;
    request.srcPath = srcFolder_;
    request.addList = list.c_str();
    request.flags = PK_PACK_SAVE_PATHS;
    const int result = host::PackFilesWith(faults_, request);
    ::unsetenv("TMPDIR");
    return result;
  }

  void ExpectRefusedUnwritten(const std::vector<std::string>& items, const std::string& what) {
    faults_.SetPlan(FaultPlan{});
    EXPECT_EQ(Pack(items), E_NOT_SUPPORTED) << what;
    EXPECT_EQ(faults_.MutatingCalls(), 0u) << what << ": written before refusing";
    faults_.ClearPlan();
  }

  std::vector<std::string> TempFiles() const { return FolderListing(tmpFolder_); }

  FaultySystem faults_;
  TempDir dir_;
  std::string srcFolder_, tmpFolder_, archive_;
};

TEST_F(FormatLimits, FilesOfTwoGiBOrMoreAreRefusedBeforeAnythingIsWritten) {
  for (const int64_t size : {2 * kGiB, 2 * kGiB + 1, 5 * kGiB}) {
    const std::string what = std::to_string(size) + " bytes";
    ASSERT_TRUE(MakeSparseFile(srcFolder_ + "huge.bin", size)) << what;
    ASSERT_TRUE(WriteFileBytes(srcFolder_ + "small.txt", "fits")) << what;

    // A new archive: nothing may be created; an existing one is left exactly as it was.
    ExpectRefusedUnwritten({"small.txt", "huge.bin"}, what);
    EXPECT_FALSE(PathExists(archive_)) << what;
    ASSERT_EQ(Pack({"small.txt"}), 0) << what;
    const std::string old = ReadFileBytes(archive_);
    ExpectRefusedUnwritten({"huge.bin"}, what);
    EXPECT_TRUE(ReadFileBytes(archive_) == old) << what;
    EXPECT_TRUE(TempFiles().empty()) << what;
    fs::remove(archive_);
  }
}

// 1.5 GiB, mostly a hole with three pieces of data, packed and extracted in a
// child whose peak memory is measured.
TEST_F(FormatLimits, AOneAndAHalfGiBFilePacksAndExtractsIntactInBoundedMemory) {
  const int64_t size = 3 * kGiB / 2;
  RequireRoom(size + 512 * kMiB);
  const std::string source = srcFolder_ + "big.bin";
  ASSERT_TRUE(MakeSparseFile(source, size,
                             {{0, NoiseBytes(kMiB, 1)},
                              {700 * kMiB + 12345, NoiseBytes(kMiB, 2)},
                              {size - kMiB, NoiseBytes(kMiB, 3)}}));
  const std::string out = dir_.File("out");
  fs::create_directories(out);
  const ChildOutcome child = RunInChild([&] {
    if (Pack({"big.bin"}) != 0) return 1;
    int result = 2;  // stays so when the archive does not open
    EachHeader(archive_, [&](HANDLE_WCX handle, const tHeaderData& header, int) {
      result = header.UnpSize != size ? 3 : ExtractCurrent(handle, out + "/", "big.bin") == 0 ? 0 : 4;
      return false;
    });
    return result;
  });
  ASSERT_TRUE(child.exited) << "signal " << child.signal;
  ASSERT_EQ(child.exitCode, 0);
  std::cout << "[ figures  ] 1.5 GiB pack + extract: peak memory " << child.maxRssKiB / 1024 << " MiB, archive "
            << fs::file_size(archive_) << " bytes" << std::endl;
  EXPECT_LT(kSanitized ? 0 : child.maxRssKiB, kMemoryLimitKiB);  // sanitizers' shadow memory would count too
  EXPECT_EQ(static_cast<int64_t>(fs::file_size(out + "/big.bin")), size);
  EXPECT_TRUE(SameContent(source, out + "/big.bin"));
}

// An old archive of almost 2 GiB - one stored entry over a hole - and a small
// incompressible file to add: the result would pass 2 GiB.
TEST_F(FormatLimits, AnArchiveThatWouldReachTwoGiBIsRefusedAndTheOldOneKept) {
  RequireRoom(2 * kGiB + 512 * kMiB);  // the new archive is written until it hits the limit
  const std::string name = "huge.bin";
  const int64_t total = 2 * kGiB - 1 - 1000;  // 1,000 bytes below the largest possible archive
  const int64_t dataStart = static_cast<int64_t>(kHeaderBytes + 2 + name.size() + kRecordNumbersBytes);
  const auto entrySize = static_cast<int32_t>(total - dataStart);
  const std::string head = HeaderBytes(1) + RecordBytes({name, 1600000000, entrySize, entrySize, 0});
  ASSERT_TRUE(MakeSparseFile(archive_, total, {{0, head}}));
  ASSERT_TRUE(WriteFileBytes(srcFolder_ + "noise.bin", NoiseBytes(64 * 1024, 4)));
  const std::string before = StateOf(archive_);

  const ChildOutcome child = RunInChild([&] { return Pack({"noise.bin"}); });
  ASSERT_TRUE(child.exited) << "signal " << child.signal;
  std::cout << "[ figures  ] near-2 GiB archive + 64 KiB: peak memory " << child.maxRssKiB / 1024 << " MiB"
            << std::endl;
  EXPECT_EQ(child.exitCode, E_NOT_SUPPORTED);
  EXPECT_TRUE(StateOf(archive_) == before) << "the old archive was changed";
  EXPECT_TRUE(TempFiles().empty()) << "left in the temporary folder: " << *TempFiles().begin();
  EXPECT_LT(kSanitized ? 0 : child.maxRssKiB, kMemoryLimitKiB);  // sanitizers' shadow memory would count too
}

// fuzz_read_archive under UBSan, third run, after 83 s: an entry time
// in the first hour of 1901-12-13 (INT32_MIN) overflowed int in the Linux
// FileTime (src/TolvexU/host_dialect.cpp FileTimeOf: the hour's mktime result,
// cut to int, plus the seconds into the hour). East of UTC the same times came
// out as dates in 2038. The Linux host is given a Unix time: a 1901 entry must
// read as a time before 1970 (at worst the earliest one), never a late one.
TEST(TimeLimits, AnEntryTimeIn1901IsReportedAsAnEarlyTimeWithoutOverflow) {
  cli::PluginModule* module = LoadedModule();
  ASSERT_NE(module, nullptr) << ModulePath();
  TempDir dir;
  // Different hours, so that no cached hour of another zone answers.
  const struct {
    const char* zone;
    int32_t time;
  } cases[] = {{"UTC0", INT32_MIN}, {"JST-9", INT32_MIN + 7200}, {"EST5", INT32_MIN + 14400}};
  for (const auto& c : cases) {
    const TimeZoneGuard zone(c.zone);
    RawEntry entry = Stored("old.txt", "x");
    entry.time = c.time;
    std::string path = dir.File(std::string("time-") + c.zone + ".tvx");
    ASSERT_TRUE(WriteFileBytes(path, ArchiveBytes({entry})));
    HostArchive archive(*module, path, PK_OM_LIST);
    ASSERT_NE(archive.handle(), nullptr);
    tHeaderData header{};
    ASSERT_EQ(archive.ReadHeader(header), 0);
    EXPECT_LE(header.FileTime, 0) << c.zone << ": entry time " << c.time << " reported as " << header.FileTime;
  }
}
}  // namespace
}  // namespace tvx::test::reliability

#endif  // _WIN32
