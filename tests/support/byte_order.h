// Fields of test bytes in either byte order: reading them at an offset,
// appending them and overwriting them in place. The tests' only byte-order
// code: ovk and BMP fields are little-endian, PNG's big-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace testing_support {

using Bytes = std::vector<std::uint8_t>;

// The fields at `at`; out-of-range offsets throw (vector::at), so a test
// reading past a short file fails instead of reading garbage.
inline std::uint16_t Le16(const Bytes& b, std::size_t at) {
  return static_cast<std::uint16_t>(b.at(at) | (b.at(at + 1) << 8));
}
inline std::uint32_t Le32(const Bytes& b, std::size_t at) {
  return static_cast<std::uint32_t>(Le16(b, at)) |
         (static_cast<std::uint32_t>(Le16(b, at + 2)) << 16);
}

inline void AppendLe16(Bytes& b, std::uint16_t v) {
  b.push_back(static_cast<std::uint8_t>(v));
  b.push_back(static_cast<std::uint8_t>(v >> 8));
}
inline void AppendLe32(Bytes& b, std::uint32_t v) {
  AppendLe16(b, static_cast<std::uint16_t>(v));
  AppendLe16(b, static_cast<std::uint16_t>(v >> 16));
}

inline void PutLe16(Bytes& b, std::size_t at, std::uint16_t v) {
  b.at(at) = static_cast<std::uint8_t>(v);
  b.at(at + 1) = static_cast<std::uint8_t>(v >> 8);
}
inline void PutLe32(Bytes& b, std::size_t at, std::uint32_t v) {
  PutLe16(b, at, static_cast<std::uint16_t>(v));
  PutLe16(b, at + 2, static_cast<std::uint16_t>(v >> 16));
}

// Big-endian, as PNG chunks store their lengths and header fields.
inline std::uint32_t Be32(const Bytes& b, std::size_t at) {
  return (static_cast<std::uint32_t>(b.at(at)) << 24) |
         (static_cast<std::uint32_t>(b.at(at + 1)) << 16) |
         (static_cast<std::uint32_t>(b.at(at + 2)) << 8) | b.at(at + 3);
}
inline void AppendBe32(Bytes& b, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) b.push_back(static_cast<std::uint8_t>(v >> shift));
}

}  // namespace testing_support
