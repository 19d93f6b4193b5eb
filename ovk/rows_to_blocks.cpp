#include "ovk/rows_to_blocks.h"

#include <cstring>

#include "ovk/decoder.h"
#include "ovk/layout.h"

bool RowsToBlocks(std::span<const std::uint8_t> rows, std::span<std::uint8_t> dest,
                  std::int32_t height, std::int32_t stride) {
  if (height < 0 || stride < 0) return false;
  const std::size_t plane = static_cast<std::size_t>(height) * static_cast<std::size_t>(stride);
  if (rows.size() < plane ||
      dest.size() < static_cast<std::uint64_t>(ovk::BlockOrderBytes(height, stride)))
    return false;

  const std::size_t rowBytes = static_cast<std::size_t>(stride);
  const std::int32_t bands = (height + ovk::kBlockHeight - 1) / ovk::kBlockHeight;
  const std::int32_t blocksPerBand = stride / ovk::kBlockWidth;
  for (std::int32_t b = 0; b < bands; ++b) {
    const std::size_t bandStart = static_cast<std::size_t>(b) * ovk::kBlockHeight * rowBytes;
    for (std::int32_t k = 0; k < blocksPerBand; ++k) {
      const std::size_t blockStart = bandStart + static_cast<std::size_t>(k) * ovk::kBlockBytes;
      for (std::int32_t r = 0; r < ovk::kBlockHeight; ++r) {
        const std::int32_t y = b * ovk::kBlockHeight + r;
        if (y >= height) break;
        // The top image row is the last stored row.
        const std::size_t from = static_cast<std::size_t>(height - 1 - y) * rowBytes +
                                 static_cast<std::size_t>(k) * ovk::kBlockWidth;
        std::memcpy(&dest[blockStart + static_cast<std::size_t>(r) * ovk::kBlockWidth], &rows[from],
                    ovk::kBlockWidth);
      }
    }
  }
  return true;
}
