// The CCPI tile codec of version-1006 files: one tile of palette indices, cut
// into 2 x 2 quads, coded through a table of at most 254 quads and four
// transforms.
//
// A tile of tileWidth x tileHeight palette indices (both even) is seen as a
// grid of quads, 2 x 2 pixels each. A quad is handled as four bytes: top-left,
// top-right, bottom-left, bottom-right. Quads are visited in quad order: quad
// rows from the top of the tile down, left to right within a quad row.
//
// Encoded tile (no alignment, no padding, no length field):
//
//   offset     size    field
//   0          1       entryCount N (1..254 as written)
//   1          4 * N   quad table: N quads of four bytes (TL, TR, BL, BR)
//   1 + 4 * N  ...     index stream, one item per quad or run of quads
//
// Index stream items, in quad order, covering every quad exactly once:
//   literal  v (0..254): entry v mod N placed under transform v div N
//   repeat   0xFF c (c = 1..255): c further quads equal to the literal that
//            directly precedes the 0xFF. A repeat never opens the stream and
//            never follows another repeat.
// A run of k equal literals, 4 <= k <= 256, is written v 0xFF (k - 1); runs of
// one to three stay literals; longer runs are cut into pieces of 256.
//
// Transforms: a stored quad (e0, e1, e2, e3) lands at TL, TR, BL, BR as
//   0  as stored             e0 e1 e2 e3
//   1  mirrored left-right   e1 e0 e3 e2
//   2  mirrored top-bottom   e2 e3 e0 e1
//   3  half turn             e3 e2 e1 e0
// Each transform is its own inverse, so quad q matches entry e under t exactly
// when e equals q under t.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

inline constexpr int kMaxTileEntries = 254;

// Room that EncodeTile needs in `out` for a tile of this size:
// 1 + 4 * min(254, Q) + Q bytes for Q quads.
std::size_t TileEncodeBound(std::int32_t tileWidth, std::int32_t tileHeight);

// Encodes the tile whose top-left pixel is `source` (rows `stride` bytes
// apart) into `out`. Returns the encoded length, or -1 when the tile cannot be
// coded: it needs more than 254 table entries, or a quad still has no literal
// of 254 or less after ten refinement passes. Also -1 for a shape that is not
// a tile (sizes not positive and even, stride below the width) or an `out`
// smaller than TileEncodeBound. Allocates nothing; after -1 the bytes at `out`
// are unspecified.
std::int32_t EncodeTile(const std::uint8_t* source, std::int32_t stride, std::int32_t tileWidth,
                        std::int32_t tileHeight, std::span<std::uint8_t> out);

// The fewest bytes that a well-formed tile of `quads` quads (at least 1) can
// take: the entry count and one table entry, then the index stream at its
// densest, a literal and a repeat (3 bytes) for every 256 quads and a literal
// for each of the rest, or a literal and a repeat when that is shorter:
// 5 + 3 * (quads / 256) + min(quads % 256, 3). DecodeTile fails on any tile
// data shorter than this.
std::uint64_t ShortestTileBytes(std::uint64_t quads);

// Decodes one tile from the start of `in` into the tile whose top-left pixel
// is `dest` (rows `stride` bytes apart); only the tile's own pixels are
// written. Returns the number of bytes the tile occupied, or -1 when the data
// is not a well-formed tile (entry count 0, a literal of 4 * N or more, a
// repeat with count 0 or without a literal before it, a tile that runs past
// the end of `in`, a repeat that runs past the tile's last quad, or a shape
// that is not a tile). After -1 the tile's pixels are unspecified.
std::int32_t DecodeTile(std::span<const std::uint8_t> in, std::uint8_t* dest,
                        std::int32_t tileWidth, std::int32_t tileHeight, std::int32_t stride);
