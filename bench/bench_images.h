// The benchmark pictures: the 8-bit palette PNGs of tests/data/images, loaded
// once as top-down index planes with their palettes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct BenchImage {
  std::string name;
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> indices;  // width * height, rows top-down
  std::vector<std::uint8_t> palette;  // 4 bytes per entry: red, green, blue, alpha
};

// All benchmark images, in name order. Aborts when one cannot be read.
const std::vector<BenchImage>& BenchImages();
