// A plain block packer that follows the packing rules literally: an
// exhaustive backward search over every distance, a separate run detector,
// and a bit writer that puts one flag bit at a time. It is slow and obviously
// right, and serves the tests, fuzzers and benchmarks as the oracle that
// PackBlocks must match byte for byte. Beside it, a plain decoder that reads
// one flag bit and one byte at a time, the oracle for UnpackBlocks on any
// input, damaged or not. Free of any test framework so the benchmark and the
// fuzzers can link them.
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

// One token of a bit-flag block: a literal `value`, a match of `length`
// (2..269) bytes from `distance` (0..8191) back, or a run of `length`
// (14..4109) bytes of `value`.
struct ReferenceToken {
  enum class Kind { kLiteral, kMatch, kRun } kind;
  std::uint8_t value = 0;
  std::uint32_t distance = 0;
  std::uint32_t length = 0;
};

// Writes `tokens` as one bit-flag block, with the packer's bit writer, end
// code and trailing byte included: streams of any tokens, including those
// the packer never chooses.
std::vector<std::uint8_t> ReferenceWriteBlock(std::span<const ReferenceToken> tokens,
                                              std::uint32_t blocksAfter);

// Cuts `in` into blocks of `blockSize` bytes and packs each one. A block whose
// packed form would not fit the 16-bit endOffset is packed as two blocks of
// ceil(L/2) and floor(L/2) bytes instead, recursively; blocksAfter and the
// block count count the blocks written.
ReferencePacked ReferencePackBlocks(std::span<const std::uint8_t> in, std::uint32_t blockSize);

// Decodes up to `blockCount` blocks of `packed` into `out` as UnpackBlocks
// does (same arguments, same result, same bytes written): bytes are written
// only while the output position is at most `capacity` and inside `out`; a
// back-reference at distance 0 writes zeros, one that reaches before the
// start of the output, an invalid byte code or a token that needs a byte past
// the end of `packed` stops the section (a byte-coded literal string writes
// the bytes that are there first).
std::uint32_t ReferenceUnpackBlocks(std::span<std::uint8_t> out, std::uint32_t capacity,
                                    std::span<const std::uint8_t> packed, std::uint32_t blockCount);

}  // namespace testing_support
