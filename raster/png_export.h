// Writing a BmpImage (8, 24 or 32 bits) as a PNG file, in memory.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

// What an 8-bit image becomes: a palette PNG whose entries are all opaque
// (kIndices) or carry their alpha in a tRNS chunk (kIndicesWithAlpha), or a
// colour PNG in which each pixel has its entry's colour (kColours): the PNG
// of the same image expanded to 32 bits. Images of 24 and 32 bits carry
// their own alpha or none, whatever is asked.
enum class PaletteOutput { kIndices, kIndicesWithAlpha, kColours };

// Replaces `png` with the bytes of the PNG file that shows the BMP image held
// in `image` (the layout is described in png_export.cpp). False for an image
// that cannot be written: a header that does not describe an 8-, 24- or
// 32-bit image inside `image`, or too large for memory.
[[nodiscard]] bool EncodePng(std::span<const std::uint8_t> image, PaletteOutput paletteOutput,
                             std::vector<std::uint8_t>* png);
