// BmpImage: a Cbuffer whose bytes are one complete BMP file, exactly as it
// would stand on disk. Producers write header fields into the bytes and
// consumers read them back at fixed offsets; there is no parsed form.
//
// Layout (all fields little-endian, offsets from the first byte):
//
//   File header, 14 bytes              Info header, 40 bytes from offset 14
//   0  bfType      u16 "BM"            14 biSize          u32 40
//   2  bfSize      u32 file size       18 biWidth         s32 pixels
//   6  bfReserved1 u16 0               22 biHeight        s32 >0: rows bottom-up
//   8  bfReserved2 u16 0               26 biPlanes        u16 1
//   10 bfOffBits   u32 pixel offset    28 biBitCount      u16 1,2,4,8,16,24,32
//                                      30 biCompression   u32 0
//                                      34 biSizeImage     u32 stride * height
//                                      38 biXPelsPerMeter s32 0
//                                      42 biYPelsPerMeter s32 0
//                                      46 biClrUsed       u32 palette entries
//                                                             (0 read as 256 at 8 bits)
//                                      50 biClrImportant  u32 0
//
// Palette: from 14 + biSize, biClrUsed entries of 4 bytes: blue, green, red,
// alpha (the format's reserved byte; ovkconv carries alpha in it).
// Pixels: from bfOffBits, height rows of RowStride(width, bitCount) bytes,
// the bottom row of the picture first, rows padded with zeros.
#pragma once

#include <cstdint>
#include <span>

#include "io/byte_order.h"
#include "io/cbuffer.h"

// The image is the Cbuffer that holds the file's bytes.
using BmpImage = Cbuffer;

namespace bmp {

inline constexpr int kBfType = 0;
inline constexpr int kBfSize = 2;
inline constexpr int kBfReserved1 = 6;
inline constexpr int kBfReserved2 = 8;
inline constexpr int kBfOffBits = 10;
inline constexpr int kBiSize = 14;
inline constexpr int kBiWidth = 18;
inline constexpr int kBiHeight = 22;
inline constexpr int kBiPlanes = 26;
inline constexpr int kBiBitCount = 28;
inline constexpr int kBiCompression = 30;
inline constexpr int kBiSizeImage = 34;
inline constexpr int kBiXPelsPerMeter = 38;
inline constexpr int kBiYPelsPerMeter = 42;
inline constexpr int kBiClrUsed = 46;
inline constexpr int kBiClrImportant = 50;

inline constexpr int kFileHeaderSize = 14;
inline constexpr int kInfoHeaderSize = 40;
inline constexpr int kHeadersSize = kFileHeaderSize + kInfoHeaderSize;  // 54
inline constexpr int kPaletteOffset = kHeadersSize;                     // 54
inline constexpr int kMaxPaletteEntries = 256;
inline constexpr int kMaxPaletteBytes = 4 * kMaxPaletteEntries;               // 1024
inline constexpr int kMaxHeaderAndPalette = kHeadersSize + kMaxPaletteBytes;  // 1078
inline constexpr std::uint16_t kMagic = 0x4D42;                               // "BM"

// Field access on the image bytes, at the offsets above. The caller
// guarantees that the field lies inside the buffer.
inline std::uint16_t GetU16(const std::uint8_t* image, int offset) {
  return LoadU16(image + offset);
}
inline std::uint32_t GetU32(const std::uint8_t* image, int offset) {
  return LoadU32(image + offset);
}
inline std::int32_t GetS32(const std::uint8_t* image, int offset) {
  return static_cast<std::int32_t>(LoadU32(image + offset));
}
inline void PutU16(std::uint8_t* image, int offset, std::uint16_t v) {
  StoreU16(image + offset, v);
}
inline void PutU32(std::uint8_t* image, int offset, std::uint32_t v) {
  StoreU32(image + offset, v);
}
inline void PutS32(std::uint8_t* image, int offset, std::int32_t v) {
  StoreU32(image + offset, static_cast<std::uint32_t>(v));
}

}  // namespace bmp

// True when `bytes` begin with "BM".
inline bool HasBmpSignature(std::span<const std::uint8_t> bytes) {
  return bytes.size() >= 2 && bytes[0] == 'B' && bytes[1] == 'M';
}

// Bytes per row: the row's bits rounded up to whole 32-bit words,
// ((width * bitCount + 31) / 32) * 4. Returns -1 when width or bitCount is
// negative or the stride does not fit in 31 bits.
std::int32_t RowStride(std::int32_t width, std::int32_t bitCount);

// Reverses the order of `rows` rows of `rowBytes` bytes each, in place; turns
// bottom-up rows into top-down ones and back. Nothing happens for fewer than
// two rows or rowBytes <= 0.
void FlipRows(std::int32_t rows, std::int32_t rowBytes, std::uint8_t* first);

// Swaps bytes 0 and 2 of each of the first `n` 4-byte palette entries:
// B,G,R,A <-> R,G,B,A. Nothing happens for n <= 0.
void SwapRedBlue(std::uint8_t* entries, std::int32_t n);
