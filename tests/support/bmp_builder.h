// Building BMP files for tests of the writing side: 8-bit palette pictures
// (Picture of support/ovk_test_writer.h) and the damaged or unusual variants
// a converter meets; and PNG files put together chunk by chunk, for headers
// and image data that no encoder would pair.
#pragma once

#include <cstdint>
#include <functional>
#include <random>
#include <vector>

#include "support/ovk_test_writer.h"

namespace testing_support {

// A picture whose pixels come from `entries` colours: noise = 0 gives large
// flat areas, 100 gives every pixel independent. Entries get random colours
// and alphas.
Picture RandomPicture(std::mt19937& rng, std::int32_t width, std::int32_t height, int entries,
                      int noisePercent);
// RandomPicture of 256 entries, every pixel independent, from `seed`: its
// tiles overflow the tile table at the larger tile sizes.
Picture Noise(std::uint32_t seed, std::int32_t width, std::int32_t height);

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

// A BMP of the given header fields with `entries` zero palette entries,
// `gap` zero bytes and zero rows of `stride` bytes (as many as |height|):
// the frame BuildBmp fills, and a start for BMPs of other bit counts.
Bytes BmpFrame(std::int32_t width, std::int32_t height, std::uint16_t bitCount, std::size_t entries,
               std::size_t stride, std::uint32_t gap = 0);

// The picture as a BMP file: palette entries in B, G, R, A order.
std::vector<std::uint8_t> BuildBmp(const Picture& picture, const BmpOptions& options = {});

// A 24- or 32-bit BMP file whose pixel (x, y), y from the top, has the colour
// `colour(x, y)` given as 0xAARRGGBB (alpha dropped at 24 bits).
Bytes ColourBmp(std::int32_t width, std::int32_t height, std::uint16_t bitCount,
                const std::function<std::uint32_t(int x, int y)>& colour, bool topDown = false);

// A PNG file of IHDR (from the fields), for colour type 3 a PLTE of 256
// black entries, one IDAT holding `idat` as it is, and IEND.
struct PngHeader {
  std::uint32_t width = 16;
  std::uint32_t height = 16;
  std::uint8_t bitDepth = 8;
  std::uint8_t colourType = 3;
  std::uint8_t interlace = 0;
};
std::vector<std::uint8_t> ChunkPng(const PngHeader& header, const std::vector<std::uint8_t>& idat);
// The same with `chunks` (gAMA, PLTE, tRNS, ... in file order) between IHDR
// and IDAT instead of the black PLTE.
struct PngChunk {
  const char* type;
  Bytes data;
};
Bytes ChunkPng(const PngHeader& header, const Bytes& idat, const std::vector<PngChunk>& chunks);
// `raw` compressed with zlib at its best.
Bytes Zlib(const Bytes& raw);
// Image data of `rows` (PNG row bytes, top first) at filter type 0.
Bytes ZlibRows(const std::vector<Bytes>& rows);

// `count` zero bytes compressed with zlib at its best, about a thousand to
// one: image data of rows with filter type 0 and every sample 0.
std::vector<std::uint8_t> ZlibZeros(std::size_t count);

}  // namespace testing_support
