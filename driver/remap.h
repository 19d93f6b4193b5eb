// The -m option: a colour picture brought to a palette before it is written
// as ovk (raster/palette_map.h does the mapping).
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "driver/options.h"
#include "ovk/encoder.h"
#include "raster/bmp_image.h"

// Turns `input`, the bytes of the BMP or PNG file `imageFile`, into the 8-bit
// picture that the conversion to `target` writes, and points *picture at it:
//   - with a reference file (mapping.reference: an ovk file with a palette,
//     or a BMP or PNG image with one, by name as LoadPictureFile reads it),
//     a 24-, 32- or 8-bit picture takes the reference's palette, all of it;
//   - without one, a 24- or 32-bit picture gets a palette of its own, and an
//     8-bit picture is left as it is.
// With mapping.takeVersion, an ovk reference of a version the program writes
// sets *target's version and storage first. The picture must have sides the
// writer takes (checked before any pixel is mapped). `decoded` receives a PNG's image, `mapped` the
// mapped picture; *picture points into one of them or into `input`. Returns false after printing
// why there is nothing to write.
bool RemapPicture(const std::wstring& imageFile, std::span<const std::uint8_t> input,
                  ovk::OvkTarget* target, bool ignoreAlpha, const PaletteMapping& mapping,
                  BmpImage* decoded, BmpImage* mapped, std::span<const std::uint8_t>* picture);
