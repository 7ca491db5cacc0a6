#include "common/unique_handle.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<int> g_closed;

struct FakeTraits {
  using Handle = int;
  static Handle Empty() noexcept { return -1; }
  static void Close(Handle handle) noexcept { g_closed.push_back(handle); }
};
using FakeHandle = UniqueHandle<FakeTraits>;

class UniqueHandleTest : public ::testing::Test {
 protected:
  void SetUp() override { g_closed.clear(); }
};

TEST_F(UniqueHandleTest, ClosesInReverseOrderOfDeclaration) {
  {
    FakeHandle manager(1);
    FakeHandle service(2);
    FakeHandle empty;
  }
  EXPECT_EQ(g_closed, (std::vector<int>{2, 1}));
}

TEST_F(UniqueHandleTest, MovesOwnershipAndClosesOnce) {
  {
    FakeHandle first(7);
    FakeHandle second(std::move(first));
    EXPECT_FALSE(first);
    FakeHandle third(8);
    third = std::move(second);
    EXPECT_EQ(g_closed, (std::vector<int>{8}));
    EXPECT_EQ(third.Get(), 7);
  }
  EXPECT_EQ(g_closed, (std::vector<int>{8, 7}));
}

TEST_F(UniqueHandleTest, PutClosesTheOldHandleAndReleaseGivesItUp) {
  FakeHandle handle(3);
  *handle.Put() = 4;
  EXPECT_EQ(g_closed, (std::vector<int>{3}));
  EXPECT_EQ(handle.Release(), 4);
  handle.Reset();
  EXPECT_EQ(g_closed, (std::vector<int>{3}));
}

}  // namespace
