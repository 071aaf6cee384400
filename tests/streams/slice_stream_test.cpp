#include "streams/slice_stream.h"

#include <gtest/gtest.h>

#include <string>

#include "streams/memory_stream.h"

namespace tvx {
namespace {

class SliceOfMemory : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(base.Write("0123456789", 10), 10u);
  }
  MemoryStream base;
};

TEST_F(SliceOfMemory, ReadsOnlyItsWindow) {
  SliceStream slice(base, 3, 4);
  char buf[10] = {};
  EXPECT_EQ(slice.Read(buf, sizeof buf), 4u);
  EXPECT_EQ(std::string(buf, 4), "3456");
  EXPECT_EQ(slice.Read(buf, sizeof buf), 0u);
}

TEST_F(SliceOfMemory, ReadsFromItsOwnPositionAfterTheBaseMoved) {
  SliceStream slice(base, 2, 6);
  char buf[3];
  ASSERT_EQ(slice.Read(buf, 3), 3u);
  ASSERT_EQ(base.SetPosition(0), 0u);  // someone else used the base meanwhile
  ASSERT_EQ(slice.Read(buf, 3), 3u);
  EXPECT_EQ(std::string(buf, 3), "567");
}

TEST_F(SliceOfMemory, SeeksStayInsideTheWindow) {
  SliceStream slice(base, 2, 6);
  EXPECT_EQ(slice.Seek(6, kFromBegin), 6u);
  EXPECT_EQ(slice.Seek(7, kFromBegin), kStreamError);
  EXPECT_EQ(slice.Seek(-1, kFromBegin), kStreamError);
  EXPECT_EQ(slice.Seek(-2, kFromEnd), 4u);
  char c;
  ASSERT_EQ(slice.Read(&c, 1), 1u);
  EXPECT_EQ(c, '6');
}

TEST_F(SliceOfMemory, WindowBeyondTheBaseEndsEarlyWithoutGrowingIt) {
  SliceStream slice(base, 8, 10);
  char buf[10];
  EXPECT_EQ(slice.Read(buf, 10), 2u);
  EXPECT_EQ(slice.Read(buf, 10), 0u);
  EXPECT_EQ(base.Size(), 10u);
}

}  // namespace
}  // namespace tvx
