#include "streams/read_ahead_stream.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "stream_test_support.h"

namespace tvx {
namespace {

using namespace testing_support;

// A memory stream that counts the reads that reach it and can fail them from
// a given position on.
class CountingBase : public MemoryStream {
 public:
  Transfer TryRead(void* buffer, uint32_t count) override {
    ++reads;
    const uint32_t at = TryPosition().position;
    if (at >= failFrom) return Moved(0, count, platform::IoErrorKind::kIo);
    const Transfer got = MemoryStream::TryRead(buffer, count < failFrom - at ? count : failFrom - at);
    return Moved(got.count, count, platform::IoErrorKind::kIo);
  }
  int reads = 0;
  uint32_t failFrom = testing_support::kFailed;
};

class ReadAhead : public ::testing::Test {
 protected:
  void SetUp() override { base.bytes = data; }
  const std::vector<uint8_t> data = RandomBytes(100000);
  CountingBase base;
};

// Whatever the mix of seeks and read sizes - inside the window, across its
// edge, larger than it, past the end - the bytes are the base's own.
TEST_F(ReadAhead, ReadsTheBasesBytesWhateverTheOrder) {
  ReadAheadStream reader(base, 4096);
  std::mt19937 random(7);
  std::vector<uint8_t> buffer(20000);
  for (int i = 0; i < 2000; ++i) {
    const uint32_t at = random() % 101000;
    const uint32_t count = i % 10 == 0 ? random() % 20000 : random() % 300;
    ASSERT_EQ(At(reader.TrySetPosition(at)), at);
    if (i % 7 == 0) (void)base.TrySetPosition(random() % 1000);  // someone else moved the base
    const uint32_t expected = at >= data.size() ? 0 : std::min<uint32_t>(count, data.size() - at);
    ASSERT_EQ(Got(reader.TryRead(buffer.data(), count)), expected) << "at " << at << " count " << count;
    ASSERT_EQ(0, memcmp(buffer.data(), data.data() + (expected ? at : 0), expected)) << "at " << at;
    ASSERT_EQ(At(reader.TryPosition()), at + expected);
  }
}

TEST_F(ReadAhead, NeighbouringSmallReadsShareOneReadOfTheBase) {
  ReadAheadStream reader(base, 4096);
  uint8_t buffer[100];
  for (uint32_t at = 0; at < 4000; at += 100) ASSERT_EQ(Got(reader.TryRead(buffer, 100)), 100u);
  EXPECT_EQ(base.reads, 1);
  std::vector<uint8_t> large(50000);
  EXPECT_EQ(Got(reader.TryRead(large.data(), 50000)), 50000u);  // straight from the base
  EXPECT_EQ(base.reads, 2);  // the window gave its last bytes, the base the rest
  EXPECT_EQ(0, memcmp(large.data(), data.data() + 4000, 50000));
}

TEST_F(ReadAhead, AFailingBaseGivesShortReadsNotStaleBytes) {
  base.failFrom = 5000;
  ReadAheadStream reader(base, 4096);
  std::vector<uint8_t> buffer(3000);
  ASSERT_EQ(At(reader.TrySetPosition(4000)), 4000u);
  EXPECT_EQ(Got(reader.TryRead(buffer.data(), 3000)), 1000u);
  EXPECT_EQ(0, memcmp(buffer.data(), data.data() + 4000, 1000));
  EXPECT_EQ(Got(reader.TryRead(buffer.data(), 10)), 0u);
  EXPECT_EQ(reader.TryWrite("x", 1).count, 0u);
  EXPECT_FALSE(reader.SetSize(0));
}

}  // namespace
}  // namespace tvx
