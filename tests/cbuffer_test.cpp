#include <gtest/gtest.h>

#include <cstring>

#include "io/cbuffer.h"

namespace {

TEST(Cbuffer, StartsEmptyAndAllocatesZeroFilledBlocks) {
  Cbuffer b;
  EXPECT_EQ(b.data(), nullptr);
  EXPECT_EQ(b.size(), 0);

  std::uint8_t* p = b.Alloc(4096);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p, b.data());
  EXPECT_EQ(b.size(), 4096);
  std::memset(p, 0xA5, 4096);
  // Re-allocating releases the old block and zero-fills the new one, even
  // when the allocator hands the same memory back.
  p = b.Alloc(4096);
  ASSERT_NE(p, nullptr);
  for (int i = 0; i < 4096; ++i) ASSERT_EQ(p[i], 0) << i;
  EXPECT_NE(b.Alloc(10), nullptr);
  EXPECT_EQ(b.size(), 10);
}

TEST(Cbuffer, ZeroSizeNegativeSizeAndFree) {
  Cbuffer b;
  // Alloc(0) is a real block of size 0, told apart from a failure.
  EXPECT_NE(b.Alloc(0), nullptr);
  EXPECT_EQ(b.size(), 0);
  b.Free();
  EXPECT_EQ(b.data(), nullptr);
  b.Free();  // a second Free does nothing
  EXPECT_EQ(b.size(), 0);

  ASSERT_NE(b.Alloc(16), nullptr);
  // A failed Alloc still released the previous block and leaves it empty.
  EXPECT_EQ(b.Alloc(-1), nullptr);
  EXPECT_EQ(b.data(), nullptr);
  EXPECT_EQ(b.size(), 0);
  EXPECT_TRUE(b.span().empty());
}

}  // namespace
