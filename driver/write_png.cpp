#include "driver/write_png.h"

#include <vector>

#include "driver/messages.h"
#include "platform/platform.h"

std::int32_t WritePng(const std::wstring& path, std::span<const std::uint8_t> image,
                      PaletteOutput paletteOutput) {
  std::vector<std::uint8_t> png;
  CPngFile out;
  if (!EncodePng(image, paletteOutput, &png) || !out.Open(path) || !out.Write(png) ||
      !out.Commit()) {
    platform::Print(messages::kPngWriteFailed, path.c_str());
    return -1;
  }
  return 0;
}
