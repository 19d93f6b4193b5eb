// Compressor of the packed stream (see pack/packed_format.h for the layout).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

inline constexpr std::int32_t kMinBlockSize = 0x4000;
inline constexpr std::int32_t kMaxBlockSize = 0xFFFF;
inline constexpr std::int32_t kDefaultBlockSize = 0xFFFF;

// The block size is one process-wide setting: the conversion hands it in (from
// the -b option) before anything is packed; the packer only reads it. Values
// outside kMinBlockSize..kMaxBlockSize are replaced by kDefaultBlockSize.
void SetBlockSize(std::int32_t blockSize);
std::int32_t GetBlockSize();

// An output capacity that is always enough for PackBlocks on `n` input bytes.
std::size_t PackBound(std::size_t n);

// Packs `in` into `out` as the packed data of one packed section and returns
// its length, with *blockCount set to the number of blocks written. Returns -1
// when `out` is too small; nothing is ever written outside `out`.
std::int64_t PackBlocks(std::span<const std::uint8_t> in, std::span<std::uint8_t> out,
                        std::uint32_t* blockCount);
