// Version-1005 block coding: the palette as running differences, and pixels
// coded in blocks of 16 x 8 with a colour table of their own.
//
// Geometry: blocks across = stride / 16, blocks down = height / 8 (a last
// partial band is not coded), N = across * down, numbered row-major from the
// top left. Pixels outside the N blocks stay index 0.
//
// Pixel section content (after unpacking):
//   0            block map: N / 2 bytes, one 4-bit code per block, high nibble
//                first (block 2m is the high nibble of byte m). When N is odd
//                the last code is the high nibble of byte N / 2, which is also
//                the first byte of the colour tables.
//   N / 2        colour tables: q + 1 palette indices for each block whose
//                code q is not 0, in block order (S bytes in all)
//   N / 2 + S    mode byte: 0 or 2 (anything else: no block is decoded)
//   + 1          block data, for each block with a code, in block order
//
// Code 0: the block is empty (transparent), with no table and no data.
// Mode 0 data: 64 bytes, 8 rows of 8; byte j of a row holds columns 2j (high
//   nibble) and 2j + 1 (low nibble); nibble t is the index t bytes after the
//   start of the block's table.
// Mode 2 data: a kind byte, then 16 run lists (list k for table colour k),
//   each a sequence of (skip, length) pairs ended by 0xFF. The block runs up
//   to and including the 16th byte 0xFF, counted from the kind byte on. Only a
//   kind byte of 1 has its lists read; otherwise the block is all index 0.
//   Positions run 0..127 row-major; each list starts at 0, its first pair
//   advances by skip, later pairs by skip + 1, then length + 1 pixels take the
//   colour. Later runs overwrite earlier ones; positions past 127 are dropped.
#pragma once

#include <cstdint>
#include <span>

namespace ovk {

// Replaces `count` 4-byte entries by their running sums, each read and
// written as a u32 little-endian (mod 2^32), so a carry moves on from one
// colour byte to the next. Nothing happens for count <= 0.
void AccumulatePalette(std::uint8_t* entries, std::int32_t count);

// Decodes a version-1005 pixel section `content` (its unpackedSize bytes)
// into `target`, an index plane of `height` rows of `stride` bytes (zero on
// entry), and clears to 0 the pixels of empty blocks in `mask` (same layout,
// every byte 1 on entry). Unless `form32`, the pixels of empty blocks then
// take the number of the first entry of `palette` (4-byte entries, red,
// green, blue, alpha) whose alpha is 0, if there is one. The
// target is left bottom-up; the mask stays top-down.
//
// Returns false, with the planes partly written, when the content is damaged:
// a block map, colour table, mode byte, block data or run list that runs past
// the end of `content`, or a nibble or list that names a table byte past it.
// Never reads or writes outside the spans; false as well when the planes are
// smaller than height * stride or the stride is below the width.
bool DecodeBlocks1005(std::span<const std::uint8_t> content, std::span<std::uint8_t> target,
                      std::span<std::uint8_t> mask, std::span<const std::uint8_t> palette,
                      std::int32_t width, std::int32_t height, std::int32_t stride, bool form32);

}  // namespace ovk
