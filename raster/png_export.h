// Writing a BmpImage (8, 24 or 32 bits) as a PNG file, in memory.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

// What becomes of the alpha of a palette image's entries: a tRNS chunk with
// one alpha per PLTE entry, or nothing (every entry opaque). Images of 24 and
// 32 bits carry their own alpha or none.
enum class PaletteAlpha { kDropped, kWritten };

// Replaces `png` with the bytes of the PNG file that shows the BMP image held
// in `image` (the layout is described in png_export.cpp). False for an image
// that cannot be written: a header that does not describe an 8-, 24- or
// 32-bit image inside `image`, or too large for memory.
[[nodiscard]] bool EncodePng(std::span<const std::uint8_t> image, PaletteAlpha paletteAlpha,
                             std::vector<std::uint8_t>* png);
