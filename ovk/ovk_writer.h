// Writing an ovk file from a BMP or PNG picture, in memory.
//
// The conversion to ovk in two pure steps, with no file access and no
// messages of their own: PrepareSource recognises and checks the input bytes,
// EncodeOvk turns the checked picture into the ovk file's bytes and hands them,
// piece by piece in file order, to a sink. ConvertToOvk (ovk/convert.h) wraps
// them with the file handling and the messages.
#pragma once

#include <cstdint>
#include <functional>
#include <span>

#include "io/cbuffer.h"

// What the -v argument asks for: the version written and, for 1006, whether
// the tile stream is stored as a packed section.
struct OvkTarget {
  std::uint32_t version = 0;
  bool packed = false;
};

// 1000, 1002 and 1004 as they are, 1006 packed, and 60 for 1006 with the tile
// stream raw. False for any other value.
bool TargetForVersion(std::int32_t versionArgument, OvkTarget* target);

enum class SourceStatus {
  kOk,
  kNotImage,     // neither "BM" nor the PNG signature
  kPngFailed,    // libpng could not read the PNG (it printed its own message)
  kUnsupported,  // not a picture this program can write (see PrepareSource)
};

// The input picture once recognised. `bitCount`, `width` and `height` are the
// values the BMP headers state (0 for a field past the end of a short file),
// for the message that refuses the picture. When the status is kOk, `height`
// is the number of rows (positive even for a top-down file), `pixels` points
// at `height` rows of `width` bytes, bottom-up, inside the input or `decoded`,
// and `palette` at `count` entries of blue, green, red, alpha.
struct SourceImage {
  Cbuffer decoded;  // a PNG input's BmpImage
  std::int32_t bitCount = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::int32_t count = 0;
  const std::uint8_t* palette = nullptr;
  std::uint8_t* pixels = nullptr;
};

// Recognises `input` by content: bytes that begin with "BM" are a BMP file,
// bytes that begin with the PNG signature a PNG file, which becomes a
// BmpImage in image->decoded. Then checks that the picture can be written:
// 40-byte info header, 8 bits per pixel, no compression, at most 256 colours,
// width and height multiples of 16 and not 0, headers, palette and pixel rows
// inside the file, and for version 1006 sides below 32768. A PNG's bit count
// and sides are checked from its header, before its image data is read. A top-down BMP
// (negative height) is accepted: its rows are reversed in place into the
// bottom-up order of every other BMP. The input must stay alive and unchanged
// (except through this call and EncodeOvk) while `image` is used.
SourceStatus PrepareSource(Cbuffer& input, const OvkTarget& target, SourceImage* image);

// Receives the bytes of the ovk file in file order; false stops the writing.
using OvkSink = std::function<bool(std::span<const std::uint8_t>)>;

enum class EncodeStatus {
  kOk,
  kNoMemory,      // a buffer of `failedAllocation` bytes could not be had
  kTileOverflow,  // version 1006: a tile cannot be coded even at the smallest tile size
  kSinkFailed,    // the sink refused the bytes
  kInternal,      // a size bound that always holds did not; nothing more was written
};

struct EncodeReport {
  // Version 1006: how many times a tile could not be coded. Each one before
  // the last, on a kTileOverflow result, and each one on a kOk result led to
  // a retry with smaller tiles.
  int tileOverflows = 0;
  // The tile size of the last attempt.
  int tileWidthLog2 = 0;
  int tileHeightLog2 = 0;
  std::int64_t failedAllocation = 0;
};

// Writes `image` (prepared by PrepareSource) as an ovk file of `target`, with
// every palette entry's alpha made 255 when `ignoreAlpha` is set. Packed
// sections use the block size set with SetBlockSize (pack/pack.h). The
// picture's rows are reordered in place.
EncodeStatus EncodeOvk(SourceImage& image, const OvkTarget& target, bool ignoreAlpha,
                       const OvkSink& sink, EncodeReport* report);
