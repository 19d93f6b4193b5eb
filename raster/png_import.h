// Reading a PNG file into a BmpImage through libpng.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "io/cbuffer.h"

// Builds a BmpImage from the PNG file `imageFile`, read by name. Returns the
// image's byte length (> 0), with `out` replaced by exactly that many bytes,
// or 0 on failure (libpng's message already printed on standard error as
// "libpng error: %s"), with `out` unchanged.
std::int32_t PngToBmp(Cbuffer& out, const std::wstring& imageFile);

// The same from PNG bytes already in memory.
std::int32_t PngBytesToBmp(Cbuffer& out, std::span<const std::uint8_t> png);
