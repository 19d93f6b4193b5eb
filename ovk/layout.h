// The ovk container: one image per file, in one of several versions.
//
// All integers little-endian. Sections follow one another with no gap; nothing
// follows the last one.
//
//   version  header  sections after the header
//   1000     12      palette, raw, 1024 bytes; index plane, raw, stride * height
//   1001     12      packed: 16-bit pixel plane (no palette)
//   1002     12      packed: palette; packed: index plane, rows top-down
//   1004     16      packed: palette; packed: index plane in 1004 block order
//   1005     16      packed: palette as differences; 4 skipped bytes;
//                    packed: block-coded pixels
//   1006     24      tile stream (palette, then CCPI tiles): raw when flags is
//                    0x00, one packed section when flags is 0x80
//   1003 and anything else: not an ovk file this program reads.
//
// Header of 1000..1005:          Header of 1006 ("CCPI"), 24 bytes:
//   0  u32 version                 0  u32 version 1006
//   4  s32 width                   4  u32 streamSize: 16 + tile stream length
//   8  s32 height                  8  4   magic "CCPI"
//   12 u32 paletteCount (1004)     12 u16 reserved1 (written 7)
//      u32 reserved     (1005)     14 s16 paletteCount (written 256)
//                                  16 u8  tileWidthLog2
//                                  17 u8  tileHeightLog2
//                                  18 s16 width
//                                  20 s16 height
//                                  22 u8  reserved2 (written 2)
//                                  23 u8  flags: bit 7 packed; bits 0-6 zero
//
// Packed section: u32 sectionSize (8 + packed length), u32 unpackedSize,
// u32 blockCount, then the packed data. The next section starts sectionSize + 4
// bytes after this one.
//
// Palette entry: red, green, blue, alpha. Index plane rows are top-down, each
// padded to the row stride ((8 * width + 31) / 32 * 4).
//
// 1004 block order: bands of 8 rows, each cut into blocks of 16 x 8 pixels;
// the pixel (x, y) is at b*8*stride + i*128 + r*16 + k with b = y/8, r = y%8,
// i = x/16, k = x%16 (for i below stride/16).
#pragma once

#include <cstdint>

namespace ovk {

inline constexpr std::uint32_t kVersion1000 = 1000;
inline constexpr std::uint32_t kVersion1001 = 1001;
inline constexpr std::uint32_t kVersion1002 = 1002;
inline constexpr std::uint32_t kVersion1003 = 1003;
inline constexpr std::uint32_t kVersion1004 = 1004;
inline constexpr std::uint32_t kVersion1005 = 1005;
inline constexpr std::uint32_t kVersion1006 = 1006;

inline constexpr int kSmallHeaderSize = 12;  // 1000, 1001, 1002
inline constexpr int kLargeHeaderSize = 16;  // 1004, 1005
inline constexpr int kCcpiHeaderSize = 24;   // 1006

// Offsets in the 1000..1005 header.
inline constexpr int kOffVersion = 0;
inline constexpr int kOffWidth = 4;
inline constexpr int kOffHeight = 8;
inline constexpr int kOffPaletteCount = 12;  // 1004
// Offsets in the CCPI header.
inline constexpr int kCcpiOffStreamSize = 4;
inline constexpr int kCcpiOffMagic = 8;
inline constexpr int kCcpiOffReserved1 = 12;
inline constexpr int kCcpiOffPaletteCount = 14;
inline constexpr int kCcpiOffTileWidthLog2 = 16;
inline constexpr int kCcpiOffTileHeightLog2 = 17;
inline constexpr int kCcpiOffWidth = 18;
inline constexpr int kCcpiOffHeight = 20;
inline constexpr int kCcpiOffReserved2 = 22;
inline constexpr int kCcpiOffFlags = 23;

inline constexpr std::uint8_t kCcpiMagic[4] = {'C', 'C', 'P', 'I'};
inline constexpr std::uint16_t kCcpiReserved1 = 7;
inline constexpr std::uint8_t kCcpiReserved2 = 2;
inline constexpr std::int16_t kCcpiPaletteCount = 256;
inline constexpr std::uint8_t kCcpiFlagPacked = 0x80;
inline constexpr std::uint8_t kCcpiFlagsReservedMask = 0x7F;

inline constexpr int kPackedSectionHeaderSize = 12;  // sectionSize, unpackedSize, blockCount
inline constexpr int kPaletteEntryBytes = 4;
inline constexpr int kMaxPaletteEntries = 256;
inline constexpr int kPaletteAreaBytes = kPaletteEntryBytes * kMaxPaletteEntries;  // 1024
inline constexpr int k1005SkippedBytes = 4;  // between the 1005 palette and pixel sections
inline constexpr int kMaxCcpiSide = 32767;   // width and height are s16 in version 1006

// 1004 block order.
inline constexpr int kBlockWidth = 16;
inline constexpr int kBlockHeight = 8;
inline constexpr int kBlockBytes = kBlockWidth * kBlockHeight;  // 128

}  // namespace ovk
