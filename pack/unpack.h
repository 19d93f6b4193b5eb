// Decoder of the packed stream: the compression format of an ovk file's packed
// sections. The stream's layout is documented in pack/packed_format.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

// How the decoding of a section's packed data ended.
enum class UnpackEnd {
  kComplete,  // the output reached the capacity
  kShort,     // every block the data holds decoded to its end, yet the output
              // fell short of the capacity: a stream shorter than stated
  kCorrupt,   // decoding stopped inside a block: an invalid byte code, a
              // back-reference before the start of the output, or a token
              // cut off by the end of the data
};

// Decodes up to `blockCount` blocks of `packed` into `out`, and returns the
// output position reached; *end (when given) says how the decoding ended.
// Bytes are written only while the output position is at most `capacity` (so
// at most capacity + 1 bytes) and inside `out`; nothing is read outside
// `packed`. Decoding stops early, keeping what was written, at an invalid byte
// code, at a back-reference that reaches before the start of the output, or
// when the packed data runs out.
[[nodiscard]] std::uint32_t UnpackBlocks(std::span<std::uint8_t> out, std::uint32_t capacity,
                                         std::span<const std::uint8_t> packed,
                                         std::uint32_t blockCount, UnpackEnd* end = nullptr);

// What a block decoder tells UnpackBlocks.
inline constexpr int kUnpackBlockDone = 0;     // the block ended; the next may follow
inline constexpr int kUnpackSectionStop = -1;  // corrupt or truncated: stop the section

// Decode one block starting at *inPos of `packed`, writing from *outPos of
// `out`; both positions advance in place. *inPos is left where the block's
// decoding stopped reading (before its trailing byte). UnpackFlagBlock reads a
// bit-flag block, UnpackCodedBlock a byte-coded one. They return
// kUnpackSectionStop for an invalid byte code, a back-reference before the
// start of the output, or a token that needs bytes past the end of `packed`
// (a byte-coded literal string that runs past it first writes the literal
// bytes that are there).
int UnpackFlagBlock(std::span<std::uint8_t> out, std::uint32_t capacity,
                    std::span<const std::uint8_t> packed, std::size_t* inPos, std::size_t* outPos);
int UnpackCodedBlock(std::span<std::uint8_t> out, std::uint32_t capacity,
                     std::span<const std::uint8_t> packed, std::size_t* inPos, std::size_t* outPos);
