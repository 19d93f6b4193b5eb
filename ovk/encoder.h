// Writing an ovk file from an 8-bit palette picture, in memory.
//
// The writing pipeline of the format layer, with no file access and no
// messages of its own: ReadBmpSource checks a BMP image on memory and
// describes its picture, EncodeOvk turns the picture into the ovk file's bytes
// and hands them, piece by piece in file order, to a sink. The application
// layer (driver/) loads the file, decodes a PNG into a BMP image first and
// prints the messages.
#pragma once

#include <cstdint>
#include <functional>
#include <span>

#include "io/error.h"
#include "pack/pack.h"

namespace ovk {

// The file to write: its version, for 1006 whether the tile stream is stored
// as a packed section, and the block size of its packed sections
// (IsBlockSize in pack/pack.h).
struct OvkTarget {
  std::uint32_t version = 0;
  bool packed = false;
  std::int32_t blockSize = kDefaultBlockSize;
};

// True for a picture of the shape the writer takes: 8 bits per pixel, sides
// positive multiples of 16 (`rows` counts the rows whatever their order), and
// for version 1006 sides that fit its 16-bit fields.
bool IsWritableShape(std::int32_t bitCount, std::int32_t width, std::int32_t rows,
                     const OvkTarget& target);

// A picture to write, as ReadBmpSource finds it. `bitCount`, `width` and
// `height` are the values the BMP headers state (0 for a field past the end
// of a short file), as the error that refuses the picture carries them. When
// the picture is accepted, `height` is the number of rows (positive even for a top-down file),
// `pixels` points at `height` rows of `width` bytes, bottom-up unless
// `topDown`, and `palette` at `count` entries of blue, green, red, alpha.
// Both point into the caller's bytes, which the writer never changes.
struct SourceImage {
  std::int32_t bitCount = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::int32_t count = 0;
  const std::uint8_t* palette = nullptr;
  const std::uint8_t* pixels = nullptr;
  bool topDown = false;
};

// Checks that the BMP image in `bmp` (which begins with "BM") can be written
// as `target`: 40-byte info header, 8 bits per pixel, no compression, at most
// 256 colours, width and height multiples of 16 and not 0, headers, palette
// and pixel rows inside the bytes, and for version 1006 sides below 32768. A
// top-down BMP (negative height) is accepted. `bmp` must stay alive and
// unchanged while `image` is used. Fault::kUnsupportedImage (with the bit
// count, width and height the headers state) for any other file.
Error ReadBmpSource(std::span<const std::uint8_t> bmp, const OvkTarget& target, SourceImage* image);

// Receives the bytes of the ovk file in file order; false stops the writing.
using OvkSink = std::function<bool(std::span<const std::uint8_t>)>;

struct EncodeReport {
  // Version 1006: how many times a tile could not be coded. Each one before
  // the last, on a kTileOverflow result, and each one on success led to a
  // retry with smaller tiles.
  int tileOverflows = 0;
  // The tile size of the last attempt.
  int tileWidthLog2 = 0;
  int tileHeightLog2 = 0;
};

// Writes `image` (checked by ReadBmpSource) as an ovk file of `target`, with
// every palette entry's alpha made 255 when `ignoreAlpha` is set. The
// picture is only read: rows wanted in the other order are copied first.
// Fault::kNoMemory (with the size), kTileOverflow, kWriteFailed when the sink
// refuses bytes, or kInternal; what was handed to the sink before stays
// there.
Error EncodeOvk(const SourceImage& image, const OvkTarget& target, bool ignoreAlpha,
                const OvkSink& sink, EncodeReport* report);

}  // namespace ovk
