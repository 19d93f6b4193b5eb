#include "raster/bmp_image.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <utility>

std::int32_t RowStride(std::int32_t width, std::int32_t bitCount) {
  if (width < 0 || bitCount < 0) return -1;
  std::int64_t bits = static_cast<std::int64_t>(width) * bitCount + 31;
  std::int64_t stride = bits / 32 * 4;
  return stride > INT32_MAX ? -1 : static_cast<std::int32_t>(stride);
}

void FlipRows(std::int32_t rows, std::int32_t rowBytes, std::uint8_t* first) {
  std::int32_t half = rows >> 1;
  if (half <= 0 || rowBytes <= 0) return;
  std::uint8_t* top = first;
  std::uint8_t* bottom = first + static_cast<std::ptrdiff_t>(rows - 1) * rowBytes;
  for (std::int32_t k = 0; k < half; ++k) {
    std::swap_ranges(top, top + rowBytes, bottom);
    top += rowBytes;
    bottom -= rowBytes;
  }
}

void SwapRedBlue(std::uint8_t* entries, std::int32_t n) {
  // Entry offsets in size_t: 4 * n does not fit in 32 bits for every n.
  for (std::size_t i = 0; std::cmp_less(i, n); ++i) std::swap(entries[4 * i], entries[4 * i + 2]);
}
