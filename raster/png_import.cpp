#include "raster/png_import.h"

// Placeholder: the PNG work replaces this.
std::int32_t PngToBmp(Cbuffer&, const std::wstring&) { return 0; }
std::int32_t PngBytesToBmp(Cbuffer&, std::span<const std::uint8_t>) { return 0; }
