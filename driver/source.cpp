#include "driver/source.h"

#include <string>

#include "platform/platform.h"
#include "raster/png_import.h"

bool TargetForVersion(std::int32_t versionArgument, ovk::OvkTarget* target) {
  switch (versionArgument) {
    case 1000:
    case 1002:
    case 1004:
    case 1006:
      *target = {static_cast<std::uint32_t>(versionArgument), versionArgument == 1006};
      return true;
    case 60:
      *target = {1006, false};
      return true;
    default:
      return false;
  }
}

bool TargetOfFile(const ovk::OvkSections& sections, ovk::OvkTarget* target) {
  const std::uint32_t version = sections.header.version;
  switch (version) {
    case ovk::kVersion1000:
    case ovk::kVersion1002:
    case ovk::kVersion1004:
      target->version = version;
      target->packed = false;
      return true;
    case ovk::kVersion1006:
      target->version = version;
      target->packed = sections.palette.packed;
      return true;
    default:
      return false;
  }
}

Error InputAsBmp(std::span<const std::uint8_t> input, const PngHeaderCheck& accept,
                 BmpImage* decoded, std::span<const std::uint8_t>* bmp) {
  if (HasBmpSignature(input)) {
    *bmp = input;
    return kNoError;
  }
  if (!HasPngSignature(input)) return {Fault::kNotImage};
  std::string messages;
  const Error png = PngToBmp(*decoded, input, accept, nullptr, &messages);
  platform::PrintDiagnostics(messages);
  if (png.ok()) *bmp = decoded->span();
  return png;
}

Error PrepareSource(std::span<const std::uint8_t> input, const ovk::OvkTarget& target,
                    SourceImage* image) {
  std::span<const std::uint8_t> bytes;
  const Error png = InputAsBmp(
      input,
      [&target](const PngHeaderFacts& f) {
        return ovk::IsWritableShape(f.bitCount, f.width, f.height, target);
      },
      &image->decoded, &bytes);
  if (png == Fault::kUnsupportedImage) {
    image->bitCount = static_cast<std::int32_t>(png.value);
    image->width = png.width;
    image->height = png.height;
  }
  if (!png.ok()) return png;
  return ovk::ReadBmpSource(bytes, target, image);
}
