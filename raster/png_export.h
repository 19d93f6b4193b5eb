// Writing a BmpImage (8, 24 or 32 bits) as a PNG file through libpng.
#pragma once

#include <cstdint>
#include <span>
#include <string>

// Writes the BMP image held in `image` to `path` as a PNG. pngMode 1: a
// palette image gets no tRNS chunk; 2: it gets one alpha per palette entry.
// The file appears whole or not at all. Prints
// "pngファイルの作成に失敗しました(%s)\n" and returns -1 on failure; 0 on success.
std::int32_t WritePng(const std::wstring& path, std::span<const std::uint8_t> image,
                      std::int32_t pngMode);
