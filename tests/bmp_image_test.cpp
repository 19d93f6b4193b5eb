// Row strides, row flips and palette swaps of the BMP image. (The header
// fields' offsets and byte order are checked wherever a BMP is compared
// with the tests' own BuildBmp.)
#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "raster/bmp_image.h"

namespace {

std::vector<std::uint8_t> Iota(std::size_t n) {
  std::vector<std::uint8_t> v(n);
  std::iota(v.begin(), v.end(), std::uint8_t{1});
  return v;
}

TEST(RowStride, RoundsRowBitsUpToWholeWords) {
  EXPECT_EQ(RowStride(3, 8), 4);
  EXPECT_EQ(RowStride(3, 24), 12);
  EXPECT_EQ(RowStride(3, 32), 12);
  EXPECT_EQ(RowStride(5, 24), 16);
  EXPECT_EQ(RowStride(10, 4), 8);
  EXPECT_EQ(RowStride(1, 1), 4);
  EXPECT_EQ(RowStride(33, 1), 8);
  EXPECT_EQ(RowStride(16, 8), 16);
  EXPECT_EQ(RowStride(0, 8), 0);
  // Sizes whose stride cannot be a 32-bit count are refused, not wrapped.
  EXPECT_EQ(RowStride(0x7FFFFFFF, 8), -1);
  EXPECT_EQ(RowStride(0x20000000, 32), -1);
  EXPECT_EQ(RowStride(0x1FFFFFFF, 32), 0x7FFFFFFC);
  EXPECT_EQ(RowStride(-1, 8), -1);
}

TEST(FlipRows, ReversesRowsInPlace) {
  // 4 rows of 5 bytes between canaries: rows 3, 2, 1, 0, bytes in order.
  std::vector<std::uint8_t> buf(2 + 20, 0xEE);
  std::vector<std::uint8_t> rows = Iota(20);
  std::copy(rows.begin(), rows.end(), buf.begin() + 1);
  buf.back() = 0xEE;
  FlipRows(4, 5, buf.data() + 1);
  std::vector<std::uint8_t> want = {0xEE, 16, 17, 18, 19, 20, 11, 12, 13, 14, 15,
                                    6,    7,  8,  9,  10, 1,  2,  3,  4,  5,  0xEE};
  EXPECT_EQ(buf, want);
  FlipRows(4, 5, buf.data() + 1);  // the same call turns it back
  EXPECT_TRUE(std::equal(rows.begin(), rows.end(), buf.begin() + 1));

  // Odd count: the middle row stays.
  std::vector<std::uint8_t> three = Iota(6);
  FlipRows(3, 2, three.data());
  EXPECT_EQ(three, (std::vector<std::uint8_t>{5, 6, 3, 4, 1, 2}));
}

TEST(FlipRows, DegenerateCountsChangeNothing) {
  const std::vector<std::uint8_t> original = Iota(12);
  for (auto [rows, rowBytes] : std::vector<std::pair<int, int>>{
           {1, 12}, {0, 12}, {-1, 4}, {-4, 3}, {3, 0}, {3, -4}, {-2147483647 - 1, 4}}) {
    std::vector<std::uint8_t> buf = original;
    FlipRows(rows, rowBytes, buf.data());
    EXPECT_EQ(buf, original) << rows << " x " << rowBytes;
  }
}

TEST(SwapRedBlue, SwapsBytesZeroAndTwoOfEachEntry) {
  std::vector<std::uint8_t> p = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  SwapRedBlue(p.data(), 2);
  EXPECT_EQ(p, (std::vector<std::uint8_t>{3, 2, 1, 4, 7, 6, 5, 8, 9, 10, 11, 12}));
  SwapRedBlue(p.data(), 2);
  EXPECT_EQ(p, Iota(12));
  SwapRedBlue(p.data(), 0);
  SwapRedBlue(p.data(), -3);
  EXPECT_EQ(p, Iota(12));
}

}  // namespace
