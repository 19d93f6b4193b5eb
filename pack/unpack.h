// Decoder of the packed stream: the compression format of an ovk file's packed
// sections. The stream's layout is documented in pack/packed_format.h.
#pragma once

#include <cstdint>
#include <span>

// Decodes up to `blockCount` blocks of `packed` into `out`, and returns the
// output position reached. Bytes are written only while the output position
// is at most `capacity` (so at most capacity + 1 bytes) and inside `out`;
// nothing is read outside `packed`. Decoding stops early, keeping what was
// written, at an invalid byte code, at a back-reference that reaches before
// the start of the output, or when the packed data runs out.
std::uint32_t UnpackBlocks(std::span<std::uint8_t> out, std::uint32_t capacity,
                           std::span<const std::uint8_t> packed, std::uint32_t blockCount);
