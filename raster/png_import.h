// Reading a PNG file into a BmpImage through libpng.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "io/cbuffer.h"

// Builds a BmpImage from the PNG file `imageFile`, read by name. Returns the
// image's byte length (> 0), with `out` replaced by exactly that many bytes,
// or 0 on failure, with libpng's message printed on standard error as
// "libpng error: %s". Images whose BMP or decoded rows would not fit in 31
// bits are refused the same way ("Image too large to convert") before
// anything is allocated. After a 0 result `out` is unchanged, except when the
// final allocation of the image itself fails ("Out of memory"): that releases
// the old block.
std::int32_t PngToBmp(Cbuffer& out, const std::wstring& imageFile);

// The same from PNG bytes already in memory.
std::int32_t PngBytesToBmp(Cbuffer& out, std::span<const std::uint8_t> png);
