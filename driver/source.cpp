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

Error PrepareSource(std::span<const std::uint8_t> input, const ovk::OvkTarget& target,
                    SourceImage* image) {
  std::span<const std::uint8_t> bytes = input;
  if (!HasBmpSignature(bytes)) {
    if (!HasPngSignature(bytes)) return {Fault::kNotImage};
    // A PNG is judged from its header before its image data is read.
    PngHeaderFacts facts;
    std::string messages;
    const std::int32_t n = PngToBmp(
        image->decoded, bytes,
        [&target](const PngHeaderFacts& f) {
          return ovk::IsWritableShape(f.bitCount, f.width, f.height, target);
        },
        &facts, &messages);
    platform::PrintDiagnostics(messages);
    if (n == kPngRefused) {
      image->bitCount = facts.bitCount;
      image->width = facts.width;
      image->height = facts.height;
      return {Fault::kUnsupportedImage, facts.bitCount, facts.width, facts.height};
    }
    if (n <= 0) return {Fault::kPngUnreadable};
    bytes = image->decoded.span().first(static_cast<std::size_t>(n));
  }
  return ovk::ReadBmpSource(bytes, target, image);
}
