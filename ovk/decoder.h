// Decoding an ovk file into a BmpImage: the heart of the reading side. The
// pipeline is WalkOvk (ovk/layout.h), once, into the file's sections, then
// DecodeOvk from those sections. Pure: no I/O, no messages; the application
// layer prints what the returned Error says (driver/messages.h).
#pragma once

#include <cstdint>
#include <span>

#include "ovk/layout.h"
#include "pack/unpack.h"

namespace ovk {

// The pixels of the decoded image: the file's own depth (16-bit for version
// 1001, 8-bit with a palette for the others), or 32-bit blue, green, red,
// alpha.
enum class PixelForm { kFileDepth, k32Bit };

// Fills `image`, a zero-filled buffer of at least the header's imageBytes
// (4 * width * height + 1078), with the BMP image of the ovk file whose
// sections WalkOvk found (`sections` points into the file's bytes):
// header fields from bfOffBits on (bfType, biSize, biPlanes and biCompression
// are the caller's), the palette as the file stores it (red, green, blue,
// alpha) in the 8-bit form, and the pixel rows bottom-up.
//
//   form    bfOffBits         biBitCount  biClrUsed              biSizeImage
//   8-bit   54 + palette      8           palette bytes / 4      height * 8-bit stride
//   16-bit  54                16          0                      height * 16-bit stride
//   32-bit  54                32          0                      height * 4 * width
//
// In the 32-bit form each pixel is its palette entry as blue, green, red,
// alpha; an index past the palette's entries gives four zero bytes, and so
// does a transparent pixel of version 1005. Fault::kDamaged for 1005 or 1006
// content that is not well-formed, Fault::kNoWorkingMemory when a working
// buffer cannot be allocated or `image` is too small.
// How the packed sections of a decoded file ended (UnpackEnd, pack/unpack.h):
// a file whose streams fell short or stopped still decodes, with zeros where
// content is missing, and this says so.
struct DecodeReport {
  int packedSections = 0;                     // sections unpacked
  UnpackEnd worstEnd = UnpackEnd::kComplete;  // kCorrupt over kShort over kComplete
  std::uint64_t missingBytes = 0;             // content the streams did not produce
};

Error DecodeOvk(std::span<std::uint8_t> image, const OvkSections& sections, PixelForm form,
                DecodeReport* report = nullptr);

// Copies an index plane from 1004 block order (`source`, BlockOrderBytes
// long) into the bottom-up rows of `target` (height * stride bytes). Columns
// from 16 * (stride / 16) on are not written; block rows below the picture
// are skipped. False, writing nothing, when a span is too short or a size is
// negative.
bool BlocksToRows(std::int32_t height, std::int32_t stride, std::span<std::uint8_t> target,
                  std::span<const std::uint8_t> source);

// Turns the top-down 16-bit plane of version 1001 (`source`, rows of the
// 16-bit stride) into bottom-up 32-bit blue, green, red, alpha pixels in
// `target` (rows of 4 * width bytes). 5-bit channels scale as
// (15 + 255 * v) / 31; bit 15 gives alpha 255 or 0. False, writing nothing,
// when a span is too short or a size is negative.
bool Expand16To32(std::span<std::uint8_t> target, std::span<const std::uint8_t> source,
                  std::int32_t width, std::int32_t height);

}  // namespace ovk
