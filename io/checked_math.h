// Size arithmetic that fails instead of wrapping. Every product or sum that
// sizes an allocation or a section goes through these before anything is
// allocated.
#pragma once

#include <cstdint>

// *out = a * b; false when the result does not fit in 32 signed bits.
inline bool CheckedMul(std::int32_t a, std::int32_t b, std::int32_t* out) {
  return !__builtin_mul_overflow(a, b, out);
}
// *out = a + b; false when the result does not fit in 32 signed bits.
inline bool CheckedAdd(std::int32_t a, std::int32_t b, std::int32_t* out) {
  return !__builtin_add_overflow(a, b, out);
}
