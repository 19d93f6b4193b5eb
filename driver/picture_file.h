// Reading a whole ovk, BMP or PNG file for the options that look at files
// rather than convert them: -i (its facts) and -m<file> (its palette).
#pragma once

#include <cstdint>
#include <string>

#include "io/cbuffer.h"
#include "ovk/decoder.h"
#include "ovk/layout.h"
#include "raster/bmp_image.h"
#include "raster/palette_map.h"

enum class PictureKind { kOvk, kBmp, kPng };

struct PictureFile {
  PictureKind kind = PictureKind::kBmp;
  std::int64_t fileBytes = 0;
  Cbuffer bytes;              // the whole file
  ovk::OvkSections sections;  // ovk: the walk over `bytes`
  ovk::DecodeReport report;   // ovk: how its packed sections ended
  // ovk: the picture in the file's own depth (8 bits with its palette, 16
  // for version 1001); PNG: the import's image. Empty for a BMP file.
  BmpImage decoded;
  // The picture: `bytes` for a BMP file, `decoded` otherwise.
  std::span<const std::uint8_t> image;
  // The picture's layout; false for a PNG without one (grey).
  bool hasLayout = false;
  BmpLayout layout;
};

// Loads `name` whole and reads it as the conversions would: a name ending
// in ".ovk" is walked and fully decoded, anything else is a BMP or PNG file
// told apart by content, decoded too. A BMP must pass ReadBmpLayout. On
// failure prints the first line the conversions print for it (libpng's
// message goes to standard error first) and returns false.
bool LoadPictureFile(const std::wstring& name, PictureFile* out);
