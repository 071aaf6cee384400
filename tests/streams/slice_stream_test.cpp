#include "streams/slice_stream.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "stream_test_support.h"

namespace tvx {
namespace {

using namespace testing_support;

class SliceOfMemory : public ::testing::Test {
 protected:
  // Reads up to 10 bytes of the slice.
  std::string Read(SliceStream& slice, uint32_t count = 10) {
    char buf[10] = {};
    return std::string(buf, Got(slice.TryRead(buf, count)));
  }
  MemoryStream base;
  SliceOfMemory() { base.bytes = {'0', '1', '2', '3', '4', '5', '6', '7', '8', '9'}; }
};

// A slice reads only its window and ends early beyond the base without growing
// it; it reads from its own position after the base moved, and its seeks stay
// inside the window.
TEST_F(SliceOfMemory, ReadsOnlyItsWindowFromItsOwnPositionAndSeeksInsideIt) {
  SliceStream window(base, 3, 4), beyond(base, 8, 10), slice(base, 2, 6);
  using Reads = std::vector<std::string>;  // braced: in this order
  EXPECT_EQ((Reads{Read(window), Read(window), Read(beyond), Read(beyond), std::to_string(base.Size())}),
            (Reads{"3456", "", "89", "", "10"}));
  ASSERT_EQ(Read(slice, 3), "234");
  ASSERT_EQ(At(base.TrySetPosition(0)), 0u);  // someone else used the base meanwhile
  EXPECT_EQ(Read(slice, 3), "567");
  EXPECT_EQ((std::vector<uint32_t>{At(slice.TrySeek(6, kFromBegin)), At(slice.TrySeek(7, kFromBegin)),
                                   At(slice.TrySeek(-1, kFromBegin)), At(slice.TrySeek(-2, kFromEnd))}),
            (std::vector<uint32_t>{6, kFailed, kFailed, 4}));
  EXPECT_EQ(Read(slice, 1), "6");
}

}  // namespace
}  // namespace tvx
