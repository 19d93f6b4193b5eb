// Reordering an index plane into the 1004 block order (see ovk/layout.h).
#pragma once

#include <cstdint>
#include <span>

// Fills `dest` from `rows`, the `height` rows of a BmpImage's index plane,
// stored bottom-up `stride` bytes apart: band b (rows 8b..8b+7 from the top)
// begins at b * 8 * stride, block k of a band at + k * 128, and holds 8 rows
// of 16 bytes, top row first. Rows of the last band that lie below the image
// are skipped and keep whatever `dest` held. The flip from bottom-up to
// top-down is part of the reordering.
//
// Returns false, writing nothing, when a size is negative, `rows` is shorter
// than stride * height bytes or `dest` shorter than ovk::BlockOrderBytes
// (ovk/layout.h: every band in full, the last one included).
bool RowsToBlocks(std::span<const std::uint8_t> rows, std::span<std::uint8_t> dest,
                  std::int32_t height, std::int32_t stride);
