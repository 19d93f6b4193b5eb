// Reading a PNG file in memory into a BmpImage through libpng.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "io/cbuffer.h"
#include "io/error.h"

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

// Builds a BmpImage from the PNG file `png`: on success `out` holds exactly
// its bytes. Fault::kPngUnreadable when libpng cannot read the file.
// Nothing is printed: libpng's warnings and its error go to `messages` (when
// given), appended as the lines its own handlers would print,
// "libpng warning: %s\n" and "libpng error: %s\n".
//
// Once libpng has read the chunks before the image data, and before anything
// the image needs is allocated:
//   - `facts` (when given) receives what the header says, and `accept` (when
//     given) may refuse the image: the result is then kUnsupportedImage
//     (with the bit count and sides), no error is added and the image data is
//     not read;
//   - an image whose BMP or decoded rows would not fit in 31 bits fails with
//     "Image too large to convert";
//   - an image whose data the file is too short to hold fails with "Not
//     enough image data", as libpng says of data that ends early: a deflate
//     stream inflates to at most kMaxInflateRatio bytes per byte.
// Ancillary chunks that the picture does not depend on (text, suggested
// palettes, scales, histograms, times, ...) are skipped unread, and what libpng
// allocates for the others is bounded by what the file can hold, so that no
// claimed length costs more than the file's own size can justify.
// Ancillary chunks that the picture does not depend on (text, suggested
// palettes, scales, histograms, times, ...) are skipped unread, and what
// libpng allocates for the others is bounded by what the file can hold, so
// that no claimed length costs more than the file's own size can justify.
// After a failure `out` is unchanged, except when the
// final allocation of the image itself fails ("Out of memory"): that
// releases the old block.
[[nodiscard]] Error PngToBmp(Cbuffer& out, std::span<const std::uint8_t> png,
                             const PngHeaderCheck& accept = {}, PngHeaderFacts* facts = nullptr,
                             std::string* messages = nullptr);

// The most a deflate stream can inflate to per byte: its densest code is a
// 258-byte match in two bits (one-bit length and distance codes).
inline constexpr std::uint64_t kMaxInflateRatio = 1032;
