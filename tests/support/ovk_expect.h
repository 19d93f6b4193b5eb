// Tools for checking the ovk files the writer produces: the writer run in
// memory, the files the layout calls for built independently of it, and the
// sections and tiles of a written file read back.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "driver/source.h"
#include "support/bmp_builder.h"

namespace testing_support {

std::uint32_t Le32(const Bytes& b, std::size_t at);
std::uint16_t Le16(const Bytes& b, std::size_t at);
void AppendLe32(Bytes& out, std::uint32_t v);
void AppendLe16(Bytes& out, std::uint16_t v);

// One run of PrepareSource and ovk::EncodeOvk on file bytes, the output collected.
struct WriteRun {
  SourceStatus source = SourceStatus::kNotImage;
  ovk::EncodeStatus encode = ovk::EncodeStatus::kInternal;
  ovk::EncodeReport report;
  // The input bytes as they were before the run, after it.
  bool inputUnchanged = false;
  std::int32_t bitCount = 0, width = 0, height = 0;  // as PrepareSource reported them
  Bytes bytes;
};
WriteRun WriteInMemory(const Bytes& input, std::int32_t versionArgument, bool ignoreAlpha = false);

// An 8-bit palette PNG as PNG import reads it: rows top-down, entries turned
// to R, G, B, A, as many as its colour count says.
Picture PictureFromPng(const Bytes& png);

// The palette area of versions 1000 and 1006: the entries, then zeros to 1024.
Bytes PaletteArea(const Picture& picture);
// A packed section of `content` as the writer stores it, packed by PackBlocks.
Bytes PackBlocksSection(const Bytes& content);
// The tile stream of version 1006 (palette area, then every tile), tiles
// coded by the reference tile encoder; nullopt when a tile cannot be coded.
std::optional<Bytes> TileStream(const Picture& picture, int widthLog2, int heightLog2);

// The whole file that each version should be, built from the layout rules.
Bytes Expected1000(const Picture& picture);
Bytes Expected1002(const Picture& picture);
Bytes Expected1004(const Picture& picture);
Bytes Expected1006(const Picture& picture, int widthLog2, int heightLog2, bool packed);

// Reads the packed section at `*pos` of `file`, checks its header against
// what it unpacks to, and moves `*pos` past it. nullopt when the section runs
// past the file or does not unpack to its stated size.
std::optional<Bytes> ReadPackedSection(const Bytes& file, std::size_t* pos);

// Decodes the tiles of `tileData` into a top-down plane; nullopt when a tile
// does not decode or bytes are left over.
std::optional<Bytes> DecodeTiles(const Bytes& tileData, std::int32_t width, std::int32_t height,
                                 int widthLog2, int heightLog2);

// Reads a file of version 1000, 1002, 1004 or 1006 back into a picture with
// as many palette entries as `entries`, checking every header field the
// writer sets. nullopt (with a test failure saying why) when something does
// not match the layout.
std::optional<Picture> ReadBackStructurally(const Bytes& file, std::size_t entries);

// Reads a file back through the program's own reader (DecodeOvk, 8-bit
// form). The palette has the file's entries: 256 for versions 1000 and 1006,
// whose palette areas are fixed. nullopt (with a test failure) when the
// reader refuses the file.
std::optional<Picture> DecodeWithReader(const Bytes& file);

}  // namespace testing_support
