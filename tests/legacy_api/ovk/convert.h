// Old path of driver/convert.h, with the output form as its old number
// (0 BMP, 1 colour PNG, 2 palette PNG).
#pragma once

#include <string>

#include "driver/convert.h"

inline int ConvertFromOvk(const std::wstring& imageFile, const std::wstring& destPath,
                          int pngMode) {
  return ConvertFromOvk(imageFile, destPath, static_cast<OutputForm>(pngMode));
}
