// The two conversions that the driver dispatches to. Each prints its own
// messages and returns 0 for success or -1 for failure.
#pragma once

#include <cstdint>
#include <string>

// ovk file -> BMP (pngMode 0) or PNG (1: colour, 2: 8-bit palette with tRNS).
int ConvertFromOvk(const std::wstring& imageFile, const std::wstring& destPath, int pngMode);

// 8-bit palette BMP or PNG -> ovk of `version` (1000, 1002, 1004, 1006, or 60
// for 1006 unpacked).
int ConvertToOvk(const std::wstring& imageFile, const std::wstring& destPath, std::int32_t version,
                 bool ignoreAlpha, std::int32_t blockSize);
