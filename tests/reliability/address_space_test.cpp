// A host with little address space left (a 32-bit file manager after hours of
// use) opening files whose header claims millions of entries: the module must
// answer, not end the host, and must not ask for memory on the header's word
// alone. Each file is sparse (it costs no disk) and claims as many records as
// it could hold; the child that opens it may use 512 MB of address space (the
// fault showed with 1.6 GB as well; the smaller limit runs out sooner, which
// keeps the test quick).
#ifndef _WIN32

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "reliability/reliability_helpers.h"

namespace tvx::test::reliability {
namespace {

constexpr rlim_t kAddressSpace = 512ull * 1024 * 1024;
constexpr uint32_t kRecordWithLongestName = 18 + 0xFFFF;

// size bytes: the header claiming (size - 14) / 18 records, then zeros or,
// with longNames, records whose names are 65535 bytes long.
bool MakeClaimingFile(const std::string& path, uint32_t size, bool longNames) {
  std::vector<std::pair<int64_t, std::string>> pieces = {{0, HeaderBytes((size - 14) / 18)}};
  for (uint32_t at = 14; longNames && at + 2 <= size; at += kRecordWithLongestName) pieces.emplace_back(at, "\xFF\xFF");
  return MakeSparseFile(path, size, pieces);
}

TEST(AddressSpace, AClaimOfMillionsOfEntriesNeverEndsTheHost) {
  if (kSanitized) GTEST_SKIP() << "the sanitizers reserve more address space than the limit";
  std::string error;
  cli::PluginModule* module = LoadedModule(&error);
  ASSERT_NE(module, nullptr) << error;
  const struct {
    const char* what;
    uint32_t size;
    bool longNames;
    int canHandle;   // CanYouHandleThisFile's answer
    int openResult;  // OpenArchive's OpenResult
  } cases[] = {
      // 60 million records of 18 zero bytes: 2.9 GB of entries that really are there.
      {"1 GiB of empty records", 1u << 30, false, 0, E_NO_MEMORY},
      // The claim would take 700 MB up front, yet the file holds 4096 records;
      // then it ends: damage, known after reading what is there.
      {"256 MiB of records with long names", 256u << 20, true, 1, E_BAD_ARCHIVE},
  };
  for (const auto& c : cases) {
    TempDir dir;
    const std::string path = dir.File("claims.tvx");
    ASSERT_TRUE(MakeClaimingFile(path, c.size, c.longNames)) << c.what;
    // noexcept, as the host's call is: an exception out of the module ends
    // the child (std::terminate) instead of unwinding into the test framework.
    const auto body = [&]() noexcept {
      const struct rlimit limit {kAddressSpace, kAddressSpace};
      if (::setrlimit(RLIMIT_AS, &limit) != 0) return 90;
      if (CanHandle(*module, path) != c.canHandle) return 1;
      HostArchive archive(*module, path, PK_OM_LIST);
      if (archive.handle() != nullptr) return 2;
      return archive.openResult() == c.openResult ? 0 : 3;
    };
    const ChildOutcome outcome = RunInChild(body);
    ASSERT_TRUE(outcome.exited) << c.what << ": the child died of signal " << outcome.signal;
    EXPECT_EQ(outcome.exitCode, 0) << c.what << ": 1 CanYouHandleThisFile answered otherwise, "
                                      "2 OpenArchive opened it, 3 OpenArchive gave another code";
  }
}

}  // namespace
}  // namespace tvx::test::reliability

#endif  // _WIN32
