// An owned, zero-filled heap byte block. Never copied.
#pragma once

#include <cstdint>
#include <span>

class Cbuffer {
 public:
  Cbuffer() = default;
  Cbuffer(const Cbuffer&) = delete;
  Cbuffer& operator=(const Cbuffer&) = delete;
  virtual ~Cbuffer();

  // Releases the current block, then allocates `n` zero bytes. Returns the new
  // block, or null (leaving the buffer empty) when `n` is negative or memory
  // runs out. Alloc(0) gives a valid empty block of size 0.
  std::uint8_t* Alloc(std::int32_t n);
  // Releases the block; the buffer becomes empty.
  void Free();

  std::uint8_t* data() const { return data_; }
  std::int32_t size() const { return size_; }
  std::span<std::uint8_t> span() const { return {data_, static_cast<std::size_t>(size_)}; }

 private:
  std::uint8_t* data_ = nullptr;
  std::int32_t size_ = 0;
};
