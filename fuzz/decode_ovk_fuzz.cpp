// The whole reading path on arbitrary bytes, as ConvertFromOvk takes it: the
// walk over the container, then DecodeOvk in each output form (BMP, -p,
// -p256). The input is read in place and the image buffer is exactly as long
// as the header asks for, so a read or write outside either is caught by
// AddressSanitizer. A decoded image must describe itself consistently: its
// pixel rows end inside the buffer.
//
// Every accepted file gets its image, however large: the walk's bounds keep
// it proportional to the file, and the run's malloc limit (fuzz/CMakeLists.txt)
// turns any larger allocation into a finding. The image is allocated with
// calloc, so a decode that fails early touches little of it.
//
// Replay a corpus without fuzzing: decode_ovk_fuzz FILE...
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>

#include "driver/convert.h"
#include "fuzz/check.h"
#include "ovk/decoder.h"
#include "ovk/layout.h"
#include "raster/bmp_image.h"

namespace {

struct FreeDeleter {
  void operator()(std::uint8_t* p) const { std::free(p); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> file(data, size);
  ovk::OvkSections sections;
  if (ovk::WalkOvk(file, &sections) != Fault::kNone) return 0;
  const ovk::OvkHeader& h = sections.header;

  for (int pngMode = 0; pngMode <= 2; ++pngMode) {
    const std::size_t n = static_cast<std::size_t>(h.imageBytes);
    std::unique_ptr<std::uint8_t, FreeDeleter> image(static_cast<std::uint8_t*>(std::calloc(n, 1)));
    Check(image != nullptr);
    const ovk::PixelForm form = PixelFormFor(h.version, static_cast<OutputForm>(pngMode));
    const Error code = ovk::DecodeOvk({image.get(), n}, sections, form);
    Check(code == Fault::kNone || code == Fault::kNoWorkingMemory || code == Fault::kDamaged);
    if (!code.ok()) continue;
    const std::uint8_t* img = image.get();
    const std::uint32_t offBits = bmp::GetU32(img, bmp::kBfOffBits);
    const std::uint32_t sizeImage = bmp::GetU32(img, bmp::kBiSizeImage);
    const int bitCount = bmp::GetU16(img, bmp::kBiBitCount);
    Check(bmp::GetS32(img, bmp::kBiWidth) == h.width &&
          bmp::GetS32(img, bmp::kBiHeight) == h.height);
    Check(bitCount == 8 || bitCount == 16 || bitCount == 32);
    Check((form == ovk::PixelForm::k32Bit) == (bitCount == 32));
    Check(sizeImage == static_cast<std::uint32_t>(RowStride(h.width, bitCount)) *
                           static_cast<std::uint32_t>(h.height));
    Check(offBits == 54 + 4 * bmp::GetU32(img, bmp::kBiClrUsed));
    Check(bmp::GetU32(img, bmp::kBfSize) == offBits + sizeImage);
    Check(static_cast<std::size_t>(offBits) + sizeImage <= n);
  }
  return 0;
}
