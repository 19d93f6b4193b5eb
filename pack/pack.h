// Compressor of the packed stream (see pack/packed_format.h for the layout).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

inline constexpr std::int32_t kMinBlockSize = 0x4000;
inline constexpr std::int32_t kMaxBlockSize = 0xFFFF;
inline constexpr std::int32_t kDefaultBlockSize = 0xFFFF;

// The block size, kMinBlockSize..kMaxBlockSize, is the caller's choice: the
// command line clamps the -b option into that range.
constexpr bool IsBlockSize(std::int32_t blockSize) {
  return blockSize >= kMinBlockSize && blockSize <= kMaxBlockSize;
}

// An output capacity that is always enough for PackBlocks on `n` input bytes.
std::size_t PackBound(std::size_t n);

// Packs `in` into `out` as the packed data of one packed section and returns
// its length, with *blockCount set to the number of blocks written. The input
// is cut into blocks of `blockSize` bytes (IsBlockSize; -1 for any other); a block whose packed
// form would not fit the 16-bit endOffset is packed as two blocks of ceil(L/2) and floor(L/2) bytes
// instead, recursively, and the block count and each block's blocksAfter count the blocks written.
// Returns -1 (and a block count of 0) when `out` is too small; nothing is ever written outside
// `out`, and `out` need not be zero-filled.
[[nodiscard]] std::int64_t PackBlocks(std::span<const std::uint8_t> in, std::span<std::uint8_t> out,
                                      std::int32_t blockSize, std::uint32_t* blockCount);

// Packs one block of at most kMaxBlockSize bytes at the start of `out` as a
// bit-flag block whose trailing byte is blocksAfter (mod 256). Returns the
// bytes written, trailing byte included, or -1 when they do not fit `out` or
// the block's packed form would not fit the 16-bit endOffset.
[[nodiscard]] std::int64_t PackBlock(std::span<std::uint8_t> out,
                                     std::span<const std::uint8_t> block,
                                     std::uint32_t blocksAfter);
