// The ovk container: one image per file, in one of several versions.
//
// Where each part of the format is described:
//   container, headers, sections, limits   here
//   packed sections (the block coding)     pack/packed_format.h
//   1004 block order                       here; ovk/rows_to_blocks.h writes it
//   1005 palette differences and blocks    ovk/block1005.h
//   1006 tiles (the CCPI tile coding)      ovk/tile_codec.h
//   the decoded image (a BMP file)         raster/bmp_image.h
//   reading and writing on memory          ovk/decoder.h, ovk/encoder.h
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
//
// What the reader accepts (ReadOvkHeader and WalkOvk below). A file must
// respect limits that its header does not state; a file that breaks one is
// damaged and refused, never read outside its bytes:
//   - the header and every section lie inside the file (the 1005 skipped bytes
//     included); a packed section's sectionSize is at least 8;
//   - width and height are not negative, and 4 * width * height + 1078 (the
//     decoded image) fits in 31 bits. A zero width or height is no image at
//     all: that file is not an ovk file the program reads;
//   - the palette holds 1 to 256 entries, 4 bytes each (version 1001 has
//     none); in version 1006 paletteCount is 1..256 and the tile stream is at
//     least as long as its palette;
//   - every packed section (palette, pixels, 1006 tile stream) claims no more
//     content than its packed data can produce: unpackedSize is at most
//     kMaxUnpackRatio (4109) times sectionSize - 8. A section with no packed
//     data has no content;
//   - the picture is backed by the file, so that what the reader allocates and
//     writes stays proportional to the file's size:
//       1000        the raw index plane (stride * height) is in the file;
//       1001, 1002  the plane (the 16-bit stride for 1001) * height is at most
//                   kMaxUnpackRatio times the pixel section's packed data;
//       1004        the same for the block-ordered plane (BlockOrderBytes);
//       1005        at least one whole 16 x 8 block across and down, and the
//                   pixel content holds the block map and the mode byte
//                   (blocks / 2 + 1 bytes);
//       1006        the tiles cover the picture (tiles across * tile width is
//                   at least width, tiles down * tile height at least height,
//                   with tiles across = stride / tile width and tiles down =
//                   height / tile height, so a tile larger than the picture
//                   fails), a tile is at least 2 x 2, and the tile data holds
//                   at least the shortest coding of every tile
//                   (ShortestTileBytes in ovk/tile_codec.h).
// A packed section's data may still unpack to less than unpackedSize: the
// rest of its content is zero. So a 1001, 1002 or 1004 plane that its data
// does not fill leaves the bottom rows at index 0, and the 1005 and 1006
// decoders take the zeros as they find them (empty blocks; a tile with no
// table entry, which is damaged).
#pragma once

#include <cstdint>
#include <span>

#include "io/error.h"

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

// The packed section header (its sectionSize counts kSectionSizeBias of
// pack/packed_format.h: the two fields after it, not itself).
inline constexpr int kPackedSectionHeaderSize = 12;
inline constexpr int kOffSectionSize = 0;
inline constexpr int kOffUnpackedSize = 4;
inline constexpr int kOffBlockCount = 8;
// The CCPI header bytes after streamSize, which streamSize counts along with
// the raw tile stream (24 - 8).
inline constexpr std::uint32_t kCcpiStreamSizeBias = kCcpiHeaderSize - kCcpiOffMagic;
inline constexpr int kPaletteEntryBytes = 4;
inline constexpr int kMaxPaletteEntries = 256;
inline constexpr int kPaletteAreaBytes = kPaletteEntryBytes * kMaxPaletteEntries;  // 1024
inline constexpr int k1005SkippedBytes = 4;  // between the 1005 palette and pixel sections
inline constexpr int kMaxCcpiSide = 32767;   // width and height are s16 in version 1006

// 1004 block order.
inline constexpr int kBlockWidth = 16;
inline constexpr int kBlockHeight = 8;
inline constexpr int kBlockBytes = kBlockWidth * kBlockHeight;  // 128

// No token of the packed stream consumes less than one byte of packed data,
// and none writes more than 4109 bytes (a long run: 14 + 256 * 15 + 255):
// the most content one packed byte can stand for.
inline constexpr std::uint64_t kMaxUnpackRatio = 4109;

// The decoded image: 14 + 40 header bytes and room for a 256-entry palette,
// before the pixels of the largest output form (4 bytes per pixel).
inline constexpr std::int64_t kImageHeaderRoom = 1078;

// A run of bytes of the file: stored raw (`data` is the content itself), or a
// packed section (`data` is its packed data, sectionSize - 8 bytes).
struct Section {
  bool packed = false;
  std::span<const std::uint8_t> data;
  std::uint32_t unpackedSize = 0;  // packed only
  std::uint32_t blockCount = 0;    // packed only
  // The content's length: the raw byte count, or unpackedSize.
  std::uint32_t ContentSize() const {
    return packed ? unpackedSize : static_cast<std::uint32_t>(data.size());
  }
};

// The header fields the reader uses. Versions 1000..1005 fill version, width
// and height; version 1006 fills all of them (width and height widened from
// s16). paletteCount is the 1006 field (the 1004 one is not used).
struct OvkHeader {
  std::uint32_t version = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::uint32_t streamSize = 0;
  std::int32_t paletteCount = 0;
  std::uint8_t tileWidthLog2 = 0;
  std::uint8_t tileHeightLog2 = 0;
  std::uint8_t flags = 0;
  int headerSize = 0;
  // 4 * width * height + 1078: the bytes of the image that DecodeOvk fills.
  std::int32_t imageBytes = 0;
};

// Reads and checks the header: version (1000, 1001, 1002, 1004, 1005, 1006),
// for 1006 the "CCPI" magic and flags bits 0-6 clear, then the image size.
// Fault::kNotOvk for a file too short to hold a version, another version, a missing
// magic, reserved flag bits or a zero width or height; Fault::kDamaged for a header
// cut short, a negative width or height, or an image too large for 31 bits.
Error ReadOvkHeader(std::span<const std::uint8_t> file, OvkHeader* header);

// The sections of a file, as the reader finds them.
//   palette: 1000 raw 1024 bytes; 1002, 1004 and 1005 packed; 1006 with flags
//            0x00 raw paletteCount * 4 bytes; 1006 with flags 0x80 the packed
//            tile stream (palette, then tile data); 1001 empty.
//   pixels:  1000 raw index plane; 1001, 1002, 1004 and 1005 packed; 1006
//            with flags 0x00 the raw tile data; 1006 with flags 0x80 empty.
struct OvkSections {
  OvkHeader header;
  Section palette;
  Section pixels;
};

// ReadOvkHeader, then the walk over the sections of the version with every
// limit of the container checked: the one pass over the container that the
// decoder works from. Flags other than 0x00 and 0x80 give Fault::kNotOvk.
// Never reads outside `file`.
Error WalkOvk(std::span<const std::uint8_t> file, OvkSections* out);

// The 8-bit row stride of an index plane: width rounded up to a multiple of 4.
// The caller guarantees 0 <= width < 2^31 - 3.
inline std::int32_t IndexRowStride(std::int32_t width) {
  return (width + 3) & ~3;
}

// The bytes of 1004 block-ordered content that the reader reads: every band
// of 8 rows in full, the last one included. 0 when a size is not positive.
std::int64_t BlockOrderBytes(std::int32_t height, std::int32_t stride);

}  // namespace ovk
