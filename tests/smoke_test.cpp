#include <gtest/gtest.h>

#include "raster/bmp_image.h"

TEST(RowStride, RoundsUpToWords) {
  EXPECT_EQ(RowStride(3, 8), 4);
  EXPECT_EQ(RowStride(3, 24), 12);
  EXPECT_EQ(RowStride(5, 24), 16);
  EXPECT_EQ(RowStride(10, 4), 8);
}
