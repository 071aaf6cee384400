// The format's 2 GiB limit, with sparse files (Linux): files of 2 GiB or more
// are refused before anything is written, a 1.5 GiB file packs and extracts
// intact in bounded memory, and an archive that would reach 2 GiB is refused
// with the old one unchanged. Each test needs real disk room for what it
// writes and is skipped when the temporary folder's volume lacks it. And the
// earliest entry time, which once overflowed.
#ifndef _WIN32

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <memory>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#include "TolvexU/archive_changes.h"
#include "iwcxhead/wcxhead.h"
#include "platform/platform.h"
#include "support/archive_bytes.h"
#include "support/child_process.h"
#include "support/module_driver.h"
#include "support/sample_data.h"
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

// A file of size bytes that takes (almost) no room: a hole, with the given
// pieces of real data written into it.
bool MakeSparseFile(const std::string& path, int64_t size,
                    const std::vector<std::pair<int64_t, std::string>>& pieces = {}) {
  const int fd = ::open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
  if (fd < 0) return false;
  bool ok = ::ftruncate(fd, size) == 0;
  for (const auto& piece : pieces) {
    ok = ok && ::pwrite(fd, piece.second.data(), piece.second.size(), piece.first) ==
                   static_cast<ssize_t>(piece.second.size());
  }
  return ::close(fd) == 0 && ok;
}

// Compares two files block by block without holding either in memory.
bool SameContent(const std::string& a, const std::string& b) {
  std::unique_ptr<FILE, int (*)(FILE*)> fa(std::fopen(a.c_str(), "rb"), std::fclose);
  std::unique_ptr<FILE, int (*)(FILE*)> fb(std::fopen(b.c_str(), "rb"), std::fclose);
  if (!fa || !fb) return false;
  std::vector<char> ba(4 * kMiB);
  std::vector<char> bb(4 * kMiB);
  for (;;) {
    const size_t na = std::fread(ba.data(), 1, ba.size(), fa.get());
    const size_t nb = std::fread(bb.data(), 1, bb.size(), fb.get());
    if (na != nb || std::memcmp(ba.data(), bb.data(), na) != 0) return false;
    if (na == 0) return true;
  }
}

struct FileState {
  int64_t size = -1;
  int64_t blocks = -1;
  int64_t modified = -1;
  std::string head;
  bool operator==(const FileState& o) const {
    return size == o.size && blocks == o.blocks && modified == o.modified && head == o.head;
  }
};

// Enough of a huge sparse file to tell whether anyone wrote to it: its size,
// its allocated blocks, its modification time and its first 64 KiB.
FileState StateOf(const std::string& path) {
  FileState state;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return state;
  state.size = st.st_size;
  state.blocks = st.st_blocks;
  state.modified = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  std::unique_ptr<FILE, int (*)(FILE*)> f(std::fopen(path.c_str(), "rb"), std::fclose);
  if (!f) return state;
  state.head.resize(64 * 1024);
  state.head.resize(std::fread(&state.head[0], 1, state.head.size(), f.get()));
  return state;
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

  std::set<std::string> TempFiles() const {
    std::set<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(tmpFolder_, ec), end; !ec && it != end; it.increment(ec)) {
      names.insert(it->path().filename().string());
    }
    return names;
  }

  FaultySystem faults_;
  TempDir dir_;
  std::string srcFolder_, tmpFolder_, archive_;
};

TEST_F(FormatLimits, FilesOfTwoGiBOrMoreAreRefusedBeforeAnythingIsWritten) {
  for (const int64_t size : {2 * kGiB, 2 * kGiB + 1, 5 * kGiB}) {
    const std::string what = std::to_string(size) + " bytes";
    ASSERT_TRUE(MakeSparseFile(srcFolder_ + "huge.bin", size)) << what;
    ASSERT_TRUE(WriteFileBytes(srcFolder_ + "small.txt", "fits")) << what;

    // A new archive: nothing may be created.
    faults_.SetPlan(FaultPlan{});
    EXPECT_EQ(Pack({"small.txt", "huge.bin"}), E_NOT_SUPPORTED) << what;
    EXPECT_EQ(faults_.MutatingCalls(), 0u) << what << ": written before refusing";
    faults_.ClearPlan();
    EXPECT_FALSE(PathExists(archive_)) << what;

    // An existing archive: left exactly as it was.
    ASSERT_EQ(Pack({"small.txt"}), 0) << what;
    const std::string old = ReadFileBytes(archive_);
    faults_.SetPlan(FaultPlan{});
    EXPECT_EQ(Pack({"huge.bin"}), E_NOT_SUPPORTED) << what;
    EXPECT_EQ(faults_.MutatingCalls(), 0u) << what << ": written before refusing";
    faults_.ClearPlan();
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
    std::string name = archive_;
    tOpenArchiveData open{};
    open.ArcName = &name[0];
    HANDLE_WCX handle = OpenArchive(&open);
    if (handle == nullptr) return 2;
    tHeaderData header{};
    if (ReadHeader(handle, &header) != 0 || header.UnpSize != size) return 3;
    std::string destPath = out + "/";
    std::string destName = "big.bin";
    const int extracted = ProcessFile(handle, PK_EXTRACT, &destPath[0], &destName[0]);
    CloseArchive(handle);
    return extracted == 0 ? 0 : 4;
  });
  ASSERT_TRUE(child.exited) << "signal " << child.signal;
  ASSERT_EQ(child.exitCode, 0);
  std::cout << "[ figures  ] 1.5 GiB pack + extract: peak memory " << child.maxRssKiB / 1024 << " MiB, archive "
            << fs::file_size(archive_) << " bytes" << std::endl;
  if (!kSanitized) {
    EXPECT_LT(child.maxRssKiB, kMemoryLimitKiB);  // sanitizers' shadow memory would count too
  }
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
  std::string head = HeaderBytes(1);
  PutLe(head, static_cast<uint32_t>(name.size()), 2);
  head += name;
  PutLe(head, 1600000000, 4);
  PutLe(head, static_cast<uint32_t>(entrySize), 4);
  PutLe(head, static_cast<uint32_t>(entrySize), 4);
  PutLe(head, 0, 4);
  ASSERT_TRUE(MakeSparseFile(archive_, total, {{0, head}}));
  ASSERT_TRUE(WriteFileBytes(srcFolder_ + "noise.bin", NoiseBytes(64 * 1024, 4)));
  const FileState before = StateOf(archive_);

  const ChildOutcome child = RunInChild([&] { return Pack({"noise.bin"}); });
  ASSERT_TRUE(child.exited) << "signal " << child.signal;
  std::cout << "[ figures  ] near-2 GiB archive + 64 KiB: peak memory " << child.maxRssKiB / 1024 << " MiB"
            << std::endl;
  EXPECT_EQ(child.exitCode, E_NOT_SUPPORTED);
  EXPECT_TRUE(StateOf(archive_) == before) << "the old archive was changed";
  EXPECT_TRUE(TempFiles().empty()) << "left in the temporary folder: " << *TempFiles().begin();
  if (!kSanitized) {
    EXPECT_LT(child.maxRssKiB, kMemoryLimitKiB);  // sanitizers' shadow memory would count too
  }
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
