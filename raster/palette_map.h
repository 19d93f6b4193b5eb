// Bringing an edited picture back to a palette: the step between a colour
// picture (24- or 32-bit, as painting programs save them) and the 8-bit
// palette image that the ovk writer takes. Either every pixel takes the first
// entry of a given palette that has its colour, or the picture gets a palette
// of its own, entries in the order their colours first appear. Pure: no file
// access and no messages; the driver prints what the results say.
//
// Colours are compared as red, green, blue and alpha, or as red, green and
// blue alone when the picture carries no alpha (ColourMatch below).
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "raster/bmp_image.h"

// An uncompressed BMP image whose headers, palette and pixel rows all lie
// inside its bytes, as ReadBmpLayout finds it.
struct BmpLayout {
  std::int32_t bitCount = 0;  // 1, 2, 4, 8, 16, 24 or 32
  std::int32_t width = 0;
  std::int32_t rows = 0;  // the height, positive even for a top-down file
  bool topDown = false;
  // Palette entries (blue, green, red, alpha): biClrUsed, with 0 read as
  // 2^bitCount up to 8 bits; 0 above 8 bits.
  std::int32_t colors = 0;
  std::int32_t stride = 0;
  std::span<const std::uint8_t> palette;  // 4 * colors bytes
  std::span<const std::uint8_t> pixels;   // rows * stride bytes, in stored order
};

// True when `bytes` hold such an image: "BM", an info header of at least 40
// bytes, compression 0, a bit count above, width and height not 0, at most
// 256 palette entries, and palette and rows inside `bytes`. `layout` points
// into `bytes`.
bool ReadBmpLayout(std::span<const std::uint8_t> bytes, BmpLayout* layout);

// A palette of up to 256 entries, each stored as a little-endian word of its
// blue, green, red and alpha bytes (the BMP entry's bytes in order: 0xAARRGGBB).
// Entries from `count` on are zero.
struct Palette {
  std::array<std::uint32_t, 256> entries{};
  std::int32_t count = 0;
};

// The palette of an image of 8 bits or fewer per pixel; false above 8 bits.
bool PaletteOf(const BmpLayout& layout, Palette* palette);

// How colours compare. A picture carries alpha when it has 32 bits per pixel
// or a palette, and some alpha byte (of a pixel, or of a palette entry) is
// not 0: a BMP's fourth byte is reserved and normally 0, and a palette PNG
// without transparency gives alpha 0 to every entry. `ignoreAlpha` (the -na
// option, which makes every entry opaque anyway) compares without alpha.
enum class ColourMatch { kRgb, kRgba };
ColourMatch ColourMatchFor(const BmpLayout& layout, bool ignoreAlpha);

enum class MapStatus {
  kOk,
  kNotColour,  // not a picture of 8, 24 or 32 bits per pixel
  kUnmatched,  // a pixel whose colour no entry has
  kTooManyColours,
  kNoMemory,  // `failedAllocation` bytes could not be had
};

struct MapReport {
  // kUnmatched: the first such pixel, rows counted from the top, and its
  // colour (0xAARRGGBB; alpha 0 when compared without alpha), and the number
  // of such pixels.
  std::int32_t x = 0;
  std::int32_t y = 0;
  std::uint32_t colour = 0;
  std::int64_t unmatched = 0;
  // kTooManyColours: the distinct colours of the picture.
  std::int64_t distinct = 0;
  std::int64_t failedAllocation = 0;
};

// Builds in `out` an 8-bit BMP image (bottom-up, 40-byte info header) of the
// picture with `palette`, all its entries in their order; each pixel takes
// the first entry of its colour. An 8-bit picture is remapped through its
// palette's colours (an index past its entries is the colour 0). `out` is
// left empty unless the result is kOk.
MapStatus MapToPalette(const BmpLayout& picture, const Palette& palette, bool ignoreAlpha,
                       BmpImage* out, MapReport* report);

// The same for a 24- or 32-bit picture with a palette of its own: one entry
// per distinct colour, in the order the colours first appear (rows from the
// top, left to right). Entries compared without alpha get alpha 0.
// kTooManyColours beyond 256 colours, with `distinct` counted exactly.
MapStatus MapToOwnPalette(const BmpLayout& picture, bool ignoreAlpha, BmpImage* out,
                          MapReport* report);

// The distinct colours of a 24- or 32-bit picture, compared as
// ColourMatchFor(picture, false) says; -1 when the count cannot be made
// (another bit count, or no memory for it).
std::int64_t CountColours(const BmpLayout& picture);
