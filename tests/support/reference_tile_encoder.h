// A plain tile encoder that follows the five encoding phases literally, with a
// linear search of the table for every quad. It is slow and obviously right,
// and serves the tests, fuzzers and benchmarks as the oracle that EncodeTile
// must match byte for byte. Free of any test framework so the benchmark and
// the fuzzers can link it.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace testing_support {

using Quad = std::array<std::uint8_t, 4>;  // top-left, top-right, bottom-left, bottom-right

// The bytes that land at top-left, top-right, bottom-left, bottom-right when
// quad e is placed under transform t (0 to 3).
Quad Place(const Quad& e, int t);

// Same contract as EncodeTile: returns the encoded length, or -1 when the tile
// cannot be encoded (or its shape is invalid, or `out` is smaller than
// TileEncodeBound).
std::int32_t ReferenceEncodeTile(const std::uint8_t* source, std::int32_t stride,
                                 std::int32_t tileWidth, std::int32_t tileHeight,
                                 std::span<std::uint8_t> out);

}  // namespace testing_support
