#include "raster/png_export.h"

// Placeholder: the PNG work replaces this.
std::int32_t WritePng(const std::wstring&, std::span<const std::uint8_t>, std::int32_t) {
  return -1;
}
