#include "ovk/convert.h"

// Placeholder until the writing side lands: converts nothing.
int ConvertToOvk(const std::wstring&, const std::wstring&, std::int32_t, bool, std::int32_t) {
  return -1;
}
