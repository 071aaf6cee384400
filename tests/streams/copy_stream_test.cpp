#include "streams/copy_stream.h"

#include <gtest/gtest.h>

#include <memory>
#include <tuple>
#include <vector>

#include "stream_test_support.h"
#include "streams/file_stream.h"

namespace tvx {
namespace {

using platform::IoErrorKind;
using namespace testing_support;

// A copy moves exactly what it was asked, or stops short: at the source's
// end, at a refused write, at a source's failure.
TEST(CopyStream, MovesExactlyTheCountOrStopsShortAndSaysWhy) {
  test::TempDir dir;
  const uint32_t kAll = 1u << 23, kChunks = kCopyChunk * 5 / 2;  // 2.5 chunks: the last one partial
  // The source's bytes, what the sink takes, the count asked, whether the
  // source fails after its bytes; what was read and written, and why it stopped.
  const std::tuple<const char*, uint32_t, uint32_t, uint32_t, bool, uint32_t, uint32_t, IoErrorKind> rows[] = {
      {"nothing asked", 10, 100, 0, true, 0, 0, IoErrorKind::kNone},
      {"several chunks", kChunks, kAll, kChunks, false, kChunks, kChunks, IoErrorKind::kNone},
      {"source ends", 1000, kAll, 5000, false, 1000, 1000, IoErrorKind::kEnd},
      // no second chunk after the refusal
      {"write refused", kCopyChunk * 2, 1000, kCopyChunk * 2, false, kCopyChunk, 1000, IoErrorKind::kDiskFull},
      {"source fails", 300, kAll, 1000, true, 300, 300, IoErrorKind::kCorrupt},
      {"source fails at once", 0, kAll, 1000, true, 0, 0, IoErrorKind::kCorrupt},
  };
  for (const auto& [what, sourceBytes, sinkLimit, count, failingSource, read, written, error] : rows) {
    SCOPED_TRACE(what);
    const auto data = RandomBytes(sourceBytes);
    ASSERT_TRUE(test::WriteFileBytes(dir.File("src"), {data.begin(), data.end()}));
    std::unique_ptr<ByteStream> from = OpenReadFileStream(platform::OsSystem(), dir.File("src"));
    if (failingSource) from = std::make_unique<FailingSource>(data);
    LimitedSink to(sinkLimit);
    const CopyResult r = CopyStream(to, *from, count);
    // What it read and wrote, whether the source failed, why it stopped, whether complete, where the source stands.
    EXPECT_EQ(std::make_tuple(r.read, r.written, r.sourceFailed, r.error.kind, r.Complete(count),
                              testing_support::At(from->TryPosition())),
              std::make_tuple(read, written, failingSource && count > 0, error, read == count, read));
    EXPECT_TRUE(to.bytes == std::vector<uint8_t>(data.begin(), data.begin() + written));
  }
}

}  // namespace
}  // namespace tvx
