// The one bounds-checked reader over file bytes.
//
// Every read checks `n <= size - pos` (never `pos + n <= size`, which can
// overflow) and fails without moving when the bytes are not there, so a field
// past the end of the data is an error value, never a read outside the span.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "io/byte_order.h"

class ByteReader {
 public:
  explicit ByteReader(std::span<const std::uint8_t> data) : data_(data) {}

  std::size_t position() const { return pos_; }
  std::size_t remaining() const { return data_.size() - pos_; }
  std::span<const std::uint8_t> data() const { return data_; }

  bool Skip(std::size_t n) {
    if (n > remaining()) return false;
    pos_ += n;
    return true;
  }
  bool Seek(std::size_t pos) {
    if (pos > data_.size()) return false;
    pos_ = pos;
    return true;
  }
  // Takes the next `n` bytes as a span.
  bool Take(std::size_t n, std::span<const std::uint8_t>* out) {
    if (n > remaining()) return false;
    *out = data_.subspan(pos_, n);
    pos_ += n;
    return true;
  }
  bool ReadU8(std::uint8_t* v) {
    if (remaining() < 1) return false;
    *v = data_[pos_++];
    return true;
  }
  bool ReadU16(std::uint16_t* v) {
    if (remaining() < 2) return false;
    *v = LoadU16(data_.data() + pos_);
    pos_ += 2;
    return true;
  }
  bool ReadU32(std::uint32_t* v) {
    if (remaining() < 4) return false;
    *v = LoadU32(data_.data() + pos_);
    pos_ += 4;
    return true;
  }
  bool ReadS16(std::int16_t* v) {
    std::uint16_t u;
    if (!ReadU16(&u)) return false;
    *v = static_cast<std::int16_t>(u);
    return true;
  }
  bool ReadS32(std::int32_t* v) {
    std::uint32_t u;
    if (!ReadU32(&u)) return false;
    *v = static_cast<std::int32_t>(u);
    return true;
  }

 private:
  std::span<const std::uint8_t> data_;
  std::size_t pos_ = 0;
};
