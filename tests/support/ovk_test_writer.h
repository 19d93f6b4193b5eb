// The tests' ovk writer: builds files of every version the reader reads,
// including those the program never writes (1001, 1005, byte-coded blocks),
// from pictures given as top-down index planes; and, for checking the
// program's own writer, that writer run in memory, the exact files it should
// write (built from the layout rules, independently of it) and the sections
// and tiles of a written file read back.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "driver/source.h"
#include "support/byte_order.h"

namespace testing_support {

// How a packed section's content is coded.
enum class Packing {
  kFlagLiterals,  // bit-flag blocks holding literals only, then the end code
  kByteCoded,     // byte-coded blocks: literal strings and runs of 4 or more
  kPacker,        // the program's own compressor (PackBlocks)
};

void Append(Bytes& b, const Bytes& more);

// A packed section (12-byte header and packed data) whose content is
// `content`; blocks hold at most `blockContent` bytes each (kPacker: the
// packer's block size). unpackedSize is the content's length.
Bytes PackedSection(const Bytes& content, Packing packing = Packing::kFlagLiterals,
                    std::size_t blockContent = 4096);
// A packed section that claims `unpackedSize` bytes of content and holds
// `packedBytes` zero bytes of packed data (one block, which unpacks to
// nothing): for sizes that the data does not bear out.
Bytes ClaimingSection(std::uint32_t packedBytes, std::uint32_t unpackedSize);

// A picture: `indices` is width * height palette indices, rows top-down,
// without padding; `palette` is 4-byte entries red, green, blue, alpha.
struct Picture {
  std::int32_t width = 0;
  std::int32_t height = 0;
  Bytes indices;
  Bytes palette;
  std::uint8_t At(int x, int y) const { return indices[static_cast<std::size_t>(y) * width + x]; }
};

// The index plane with its rows padded to the 8-bit row stride.
Bytes PaddedPlane(const Picture& p);
// The padded plane in 1004 block order (every band whole, the last one's
// rows below the picture zero; columns past 16 * (stride / 16) dropped).
Bytes BlockOrder(const Picture& p);

Bytes SmallHeader(std::uint32_t version, std::int32_t width, std::int32_t height);
Bytes LargeHeader(std::uint32_t version, std::int32_t width, std::int32_t height,
                  std::uint32_t field12);

// Version 1000: the palette padded to 1024 bytes, the padded plane.
Bytes Ovk1000(const Picture& p);
// Version 1001: 16-bit pixels (width * height, rows top-down), padded to the
// 16-bit stride, in one packed section.
Bytes Ovk1001(std::int32_t width, std::int32_t height, const std::vector<std::uint16_t>& pixels,
              Packing packing = Packing::kFlagLiterals);
// Versions 1002 and 1004: packed palette, packed plane (1004: block order).
Bytes Ovk1002(const Picture& p, Packing packing = Packing::kFlagLiterals);
Bytes Ovk1004(const Picture& p, Packing packing = Packing::kFlagLiterals);

// Version 1005 from its parts: `palette` as the decoded entries (the writer
// stores the differences) and the pixel section's content as it stands.
Bytes Ovk1005Raw(std::int32_t width, std::int32_t height, const Bytes& palette,
                 const Bytes& pixelContent, Packing packing = Packing::kFlagLiterals);
// The pixel section content of a picture in block coding: blocks whose flag
// in `emptyBlocks` (row-major, one per 16 x 8 block) is set get code 0; the
// others a table of their colours (at least 2 entries, at most 16) and
// mode-0 nibbles or mode-2 run lists.
Bytes Blocks1005(const Picture& p, const std::vector<bool>& emptyBlocks, int mode);
Bytes Ovk1005(const Picture& p, const std::vector<bool>& emptyBlocks, int mode,
              Packing packing = Packing::kFlagLiterals);

// Version 1006: a CCPI header, then the tile stream (the palette padded to
// paletteCount entries, then the tiles encoded with EncodeTile), raw or in
// one packed section. The tiles must divide the padded plane.
struct CcpiOptions {
  int tileWidthLog2 = 4;
  int tileHeightLog2 = 4;
  bool packed = false;
  std::int16_t paletteCount = 256;
  Packing packing = Packing::kFlagLiterals;
};
Bytes Ovk1006(const Picture& p, const CcpiOptions& options = {});
// The CCPI header alone, for hand-made tile streams.
Bytes CcpiHeader(std::uint32_t streamSize, std::int16_t paletteCount, int tileWidthLog2,
                 int tileHeightLog2, std::int16_t width, std::int16_t height, std::uint8_t flags);

// ---------------------------------------------------------------------------
// Checking the program's writer (support/ovk_test_writer_check.cpp: these
// report through GoogleTest, which the benchmarks that link the building half
// above do without).

// One run of PrepareSource and ovk::EncodeOvk on file bytes, the output collected.
struct WriteRun {
  Error source{Fault::kNotImage};
  Error encode{Fault::kInternal};
  ovk::EncodeReport report;
  // The input bytes as they were before the run, after it.
  bool inputUnchanged = false;
  std::int32_t bitCount = 0, width = 0, height = 0;  // as PrepareSource reported them
  Bytes bytes;
};
WriteRun WriteInMemory(const Bytes& input, std::int32_t versionArgument, bool ignoreAlpha = false,
                       std::int32_t blockSize = kDefaultBlockSize);

// An 8-bit palette PNG as PNG import reads it: rows top-down, entries turned
// to R, G, B, A, as many as its colour count says.
Picture PictureFromPng(const Bytes& png);

// The palette area of versions 1000 and 1006: the entries, then zeros to 1024.
Bytes PaletteArea(const Picture& picture);
// The tile stream of version 1006 (palette area, then every tile), tiles
// coded by the reference tile encoder; nullopt when a tile cannot be coded.
std::optional<Bytes> TileStream(const Picture& picture, int widthLog2, int heightLog2);

// The whole 1006 file the writer should make, tiles coded by the reference
// tile encoder. (The other versions the writer makes are Ovk1000, and Ovk1002
// and Ovk1004 with Packing::kPacker, for the widths it takes.)
Bytes Expected1006(const Picture& picture, int widthLog2, int heightLog2, bool packed);

// Reads the packed section at `*pos` of `file`, checks its header against
// what it unpacks to, and moves `*pos` past it. nullopt when the section runs
// past the file or does not unpack to its stated size.
std::optional<Bytes> ReadPackedSection(const Bytes& file, std::size_t* pos);

// The whole file the writer should make of `picture` for `versionArgument`
// (1000, 1002, 1004, 1006 or 60), built from the layout rules: Ovk1000,
// Ovk1002 and Ovk1004 packed by PackBlocks, or Expected1006 at the tile size
// `report` gives (which tile size is right is a test of its own).
Bytes ExpectedFile(const Picture& picture, std::int32_t versionArgument,
                   const ovk::EncodeReport& report);

// Reads a file back through the program's own reader (DecodeOvk, 8-bit
// form). The palette has the file's entries: 256 for versions 1000 and 1006,
// whose palette areas are fixed. nullopt (with a test failure) when the
// reader refuses the file.
std::optional<Picture> DecodeWithReader(const Bytes& file);

}  // namespace testing_support
