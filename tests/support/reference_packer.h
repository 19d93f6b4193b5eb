// A plain block packer that follows the packing rules literally: an
// exhaustive backward search over every distance, a separate run detector,
// and a bit writer that puts one flag bit at a time. It is slow and obviously
// right, and serves the tests, fuzzers and benchmarks as the oracle that
// PackBlocks must match byte for byte. Free of any test framework so the
// benchmark and the fuzzers can link it.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace testing_support {

struct ReferencePacked {
  std::vector<std::uint8_t> bytes;  // the packed data of one section
  std::uint32_t blockCount = 0;
};

// Packs one block of any length (trailing byte included in the result), into
// a buffer large enough for it; the result may be longer than a block can be.
std::vector<std::uint8_t> ReferencePackBlock(std::span<const std::uint8_t> block,
                                             std::uint32_t blocksAfter);

// Cuts `in` into blocks of `blockSize` bytes and packs each one. A block whose
// packed form would not fit the 16-bit endOffset is packed as two blocks of
// ceil(L/2) and floor(L/2) bytes instead, recursively; blocksAfter and the
// block count count the blocks written.
ReferencePacked ReferencePackBlocks(std::span<const std::uint8_t> in, std::uint32_t blockSize);

}  // namespace testing_support
