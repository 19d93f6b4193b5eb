// The rule by which both conversions name their output file.
#pragma once

#include <string>

// Builds the output name from the input name, the destination (possibly
// empty) and the extension (".ovk", ".png" or ".bmp"). Returns false, leaving
// *out unspecified, when the name would not fit the platform's path limit.
bool DeriveOutputName(const std::wstring& imageFile, const std::wstring& destPath,
                      const std::wstring& extension, std::wstring* out);
