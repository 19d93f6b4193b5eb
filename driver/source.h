// The input picture of a conversion to ovk: the typed target a -v value asks
// for, and the input bytes recognised as a BMP or PNG file.
#pragma once

#include <cstdint>
#include <span>

#include "ovk/encoder.h"
#include "ovk/layout.h"
#include "raster/bmp_image.h"
#include "raster/png_import.h"

// 1000, 1002 and 1004 as they are, 1006 packed, and 60 for 1006 with the tile
// stream raw. False for any other value.
bool TargetForVersion(std::int32_t versionArgument, ovk::OvkTarget* target);

// The version and storage of an ovk file that the program writes again (the
// block size left as it is): 1000, 1002, 1004, 1006 packed or raw. False for
// the versions that are only read.
bool TargetOfFile(const ovk::OvkSections& sections, ovk::OvkTarget* target);

// The BMP image of an input file's bytes, told by content: `input` itself
// when it begins with "BM"; for a PNG file, the image it decodes to in
// `decoded`, judged by `accept` from its header before its image data is read
// (libpng's messages are printed on standard error). Fault::kNotImage for
// bytes that are neither; PngToBmp's faults for a PNG.
Error InputAsBmp(std::span<const std::uint8_t> input, const PngHeaderCheck& accept,
                 BmpImage* decoded, std::span<const std::uint8_t>* bmp);

// The picture, and the BmpImage a PNG input became (empty for a BMP input).
struct SourceImage : ovk::SourceImage {
  BmpImage decoded;
};

// Recognises `input` by content: bytes that begin with "BM" are a BMP file,
// bytes that begin with the PNG signature a PNG file, which becomes a
// BmpImage in image->decoded. A PNG's bit count and sides are checked from
// its header, before its image data is read; then the BMP image is checked by
// ovk::ReadBmpSource. `input` must stay alive and unchanged while `image` is
// used. Fault::kNotImage for bytes that are neither, kPngUnreadable for a PNG
// that libpng could not read (it printed its own message), kUnsupportedImage
// for a picture the writer does not take.
Error PrepareSource(std::span<const std::uint8_t> input, const ovk::OvkTarget& target,
                    SourceImage* image);
