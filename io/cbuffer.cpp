#include "io/cbuffer.h"

#include <cstdlib>

Cbuffer::~Cbuffer() {
  Free();
}

std::uint8_t* Cbuffer::Alloc(std::int32_t n) {
  Free();
  if (n < 0) return nullptr;
  // calloc(0) may return null; one byte keeps "allocated but empty" distinct.
  void* p = std::calloc(n == 0 ? 1 : static_cast<std::size_t>(n), 1);
  if (p == nullptr) return nullptr;
  data_ = static_cast<std::uint8_t*>(p);
  size_ = n;
  return data_;
}

void Cbuffer::Free() {
  std::free(data_);
  data_ = nullptr;
  size_ = 0;
}
