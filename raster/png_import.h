// Reading a PNG file in memory into a BmpImage through libpng.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "io/cbuffer.h"

// What a PNG's header says about the BmpImage it would become: the bit count
// of the table in raster/png_import.cpp (0 for grey) and the sides.
struct PngHeaderFacts {
  std::int32_t bitCount = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
};

// True when `bytes` begin with the 8-byte PNG signature.
bool HasPngSignature(std::span<const std::uint8_t> bytes);

// Decides from the header alone whether the image is wanted.
using PngHeaderCheck = std::function<bool(const PngHeaderFacts&)>;

// The result when a PngHeaderCheck refused the image.
inline constexpr std::int32_t kPngRefused = -1;

// Builds a BmpImage from the PNG file `png`. Returns the image's byte length
// (> 0), with `out` replaced by exactly that many bytes, or 0 on failure.
// Nothing is printed: libpng's warnings and its error go to `messages` (when
// given), appended as the lines its own handlers would print,
// "libpng warning: %s\n" and "libpng error: %s\n".
//
// Once libpng has read the chunks before the image data, and before anything
// the image needs is allocated:
//   - `facts` (when given) receives what the header says, and `accept` (when
//     given) may refuse the image: the result is then kPngRefused, no error
//     is added and the image data is not read;
//   - an image whose BMP or decoded rows would not fit in 31 bits fails with
//     "Image too large to convert";
//   - an image whose data the file is too short to hold fails with "Not
//     enough image data", as libpng says of data that ends early: a deflate
//     stream inflates to at most kMaxInflateRatio bytes per byte.
// After a result other than a length `out` is unchanged, except when the
// final allocation of the image itself fails ("Out of memory"): that
// releases the old block.
std::int32_t PngToBmp(Cbuffer& out, std::span<const std::uint8_t> png,
                      const PngHeaderCheck& accept = {}, PngHeaderFacts* facts = nullptr,
                      std::string* messages = nullptr);

// The most a deflate stream can inflate to per byte: its densest code is a
// 258-byte match in two bits (one-bit length and distance codes).
inline constexpr std::uint64_t kMaxInflateRatio = 1032;
