// Building BMP files for tests of the writing side: 8-bit palette pictures
// (Picture of support/ovk_test_writer.h) and the damaged or unusual variants
// a converter meets.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

#include "support/ovk_test_writer.h"

namespace testing_support {

// A picture whose pixels come from `entries` colours: noise = 0 gives large
// flat areas, 100 gives every pixel independent. Entries get random colours
// and alphas.
Picture RandomPicture(std::mt19937& rng, std::int32_t width, std::int32_t height, int entries,
                      int noisePercent);

// How a picture is stored as a BMP file. The defaults give the plain form the
// converter expects.
struct BmpOptions {
  bool topDown = false;        // negative height, rows stored top row first
  std::uint16_t bitCount = 8;  // other values only change the field
  std::uint32_t compression = 0;
  // The colour count field; -1 stores the palette's own entry count.
  std::int64_t colorCountField = -1;
  std::uint32_t gap = 0;  // bytes between the palette and the pixels
};

// The picture as a BMP file: palette entries in B, G, R, A order.
std::vector<std::uint8_t> BuildBmp(const Picture& picture, const BmpOptions& options = {});

}  // namespace testing_support
