// libpng's own reading of a PNG file, to compare with what the program
// writes or with what its import makes of the same file.
#pragma once

#include <png.h>

#include <cstdint>
#include <vector>

#include "support/byte_order.h"

namespace testing_support {

struct PngReadOptions {
  // The transformations the import asks for: 16-bit samples stripped to 8
  // bits, the gamma rule, deinterlacing, red and blue swapped. Off: the rows
  // as the file stores them (a non-interlaced file is expected).
  bool asImported = false;
  // With asImported, palette entries expanded to RGB too.
  bool expandPalette = false;
};

struct DecodedPng {
  bool ok = false;  // false when libpng refused the file
  std::uint32_t width = 0, height = 0;
  int colorType = -1;       // as the file states it
  int channels = 0;         // of the rows delivered
  std::vector<Bytes> rows;  // top row first
  std::vector<png_color> plte;
  Bytes trns;  // the alphas of a palette's entries
};

// Decodes `file` with libpng; its warnings are not printed.
DecodedPng DecodePng(const Bytes& file, const PngReadOptions& options = {});

// The decoded pixels as R, G, B, A, whatever the colour type (rows as the
// file stores them: palette, RGB or RGBA).
Bytes PngRgba(const DecodedPng& png);

}  // namespace testing_support
