#include "driver/remap.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "driver/dispatch.h"
#include "driver/messages.h"
#include "driver/output_name.h"
#include "driver/picture_file.h"
#include "driver/source.h"
#include "platform/platform.h"
#include "raster/palette_map.h"

namespace {

using namespace messages;

bool IsMappable(std::int32_t bitCount) {
  return bitCount == 8 || bitCount == 24 || bitCount == 32;
}

// The refusal of a picture that cannot be written, with the bit count and
// sides its headers state (0 for a field past the end of a short file).
bool RefuseImage(const std::wstring& imageFile, std::span<const std::uint8_t> bytes) {
  std::uint8_t headers[bmp::kHeadersSize] = {};
  std::memcpy(headers, bytes.data(), std::min<std::size_t>(bytes.size(), sizeof headers));
  ReportError({Fault::kUnsupportedImage, bmp::GetU16(headers, bmp::kBiBitCount),
               bmp::GetS32(headers, bmp::kBiWidth), bmp::GetS32(headers, bmp::kBiHeight)},
              imageFile);
  return false;
}

// The palette of the reference file, in BMP order; false after a message.
// With `target`, an ovk file that the program writes gives it its version
// and storage.
bool LoadReferencePalette(const std::wstring& name, Palette* palette, ovk::OvkTarget* target) {
  if (!platform::PathExists(name)) {
    platform::Print(NameFits(name) ? kNotFoundMessage : kNameTooLongMessage, name.c_str());
    return false;
  }
  PictureFile file;
  if (!LoadPictureFile(name, &file)) return false;
  if (!file.hasLayout || !PaletteOf(file.layout, palette) || palette->count == 0) {
    platform::Print(kNoPalette, name.c_str());
    return false;
  }
  if (target != nullptr && file.kind == PictureKind::kOvk) TargetOfFile(file.sections, target);
  return true;
}

// "#RRGGBB", or "#RRGGBBAA" when alpha takes part in the comparison.
std::wstring ColourText(std::uint32_t colour, ColourMatch match) {
  const wchar_t* digits = L"0123456789ABCDEF";
  std::wstring text = L"#";
  const int shifts[] = {16, 8, 0, 24};
  for (int i = 0; i < (match == ColourMatch::kRgba ? 4 : 3); ++i) {
    const std::uint32_t byte = (colour >> shifts[i]) & 0xFF;
    text += digits[byte >> 4];
    text += digits[byte & 0xF];
  }
  return text;
}

}  // namespace

bool RemapPicture(const std::wstring& imageFile, std::span<const std::uint8_t> input,
                  ovk::OvkTarget* target, bool ignoreAlpha, const PaletteMapping& mapping,
                  BmpImage* decoded, BmpImage* mapped, std::span<const std::uint8_t>* picture) {
  Palette reference;
  const bool hasReference = !mapping.reference.empty();
  if (hasReference && !LoadReferencePalette(mapping.reference, &reference,
                                            mapping.takeVersion ? target : nullptr)) {
    return false;
  }

  // The sides are those the writer takes, whatever the depth: a PNG is judged
  // from its header, before its image data is read.
  std::span<const std::uint8_t> bytes;
  if (const Error e = InputAsBmp(
          input,
          [target](const PngHeaderFacts& f) {
            return IsMappable(f.bitCount) && ovk::IsWritableShape(8, f.width, f.height, *target);
          },
          decoded, &bytes);
      !e.ok()) {
    ReportError(e, imageFile);
    return false;
  }
  BmpLayout layout;
  if (!ReadBmpLayout(bytes, &layout) || !IsMappable(layout.bitCount) ||
      !ovk::IsWritableShape(8, layout.width, layout.rows, *target)) {
    return RefuseImage(imageFile, bytes);
  }
  if (!hasReference && layout.bitCount == 8) {
    *picture = bytes;
    return true;
  }

  MapReport report;
  const MapStatus status = hasReference
                               ? MapToPalette(layout, reference, ignoreAlpha, mapped, &report)
                               : MapToOwnPalette(layout, ignoreAlpha, mapped, &report);
  switch (status) {
    case MapStatus::kOk:
      *picture = mapped->span();
      return true;
    case MapStatus::kUnmatched:
      platform::Print(kUnmatchedColours, imageFile.c_str());
      platform::Print(kUnmatchedFacts, static_cast<int>(report.x), static_cast<int>(report.y),
                      ColourText(report.colour, ColourMatchFor(layout, ignoreAlpha)).c_str(),
                      static_cast<long long>(report.unmatched));
      return false;
    case MapStatus::kTooManyColours:
      platform::Print(kTooManyColours, imageFile.c_str());
      platform::Print(kColourCount, static_cast<long long>(report.distinct));
      return false;
    case MapStatus::kNoMemory:
      ReportError({Fault::kNoMemory, report.failedAllocation}, imageFile);
      return false;
    case MapStatus::kNotColour:
      break;
  }
  return RefuseImage(imageFile, bytes);
}
