// The whole reading path on arbitrary bytes: the header check, then
// DecodeOvk in each output form (BMP, -p, -p256). The input is read in place
// and the image buffer is exactly as long as the header asks for, so a read
// or write outside either is caught by AddressSanitizer. A decoded image
// must describe itself consistently: its pixel rows end inside the buffer.
//
// Images larger than 1 MiB are skipped to keep the fuzzer fast; the header
// check has already run on them.
//
// Replay a corpus without fuzzing: decode_ovk_fuzz FILE...
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>

#include "ovk/decode_ovk.h"
#include "ovk/layout.h"
#include "raster/bmp_image.h"

namespace {

constexpr std::int32_t kMaxImageBytes = 1 << 20;

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> file(data, size);
  ovk::OvkHeader h;
  if (ovk::ReadOvkHeader(file, &h) != ovk::OvkCheck::kOk) return 0;
  if (h.imageBytes > kMaxImageBytes) return 0;

  for (int pngMode = 0; pngMode <= 2; ++pngMode) {
    const std::size_t n = static_cast<std::size_t>(h.imageBytes);
    std::unique_ptr<std::uint8_t[]> image(new std::uint8_t[n]());
    const int code = ovk::DecodeOvk({image.get(), n}, file, pngMode);
    Check(code == ovk::kDecodeOk || code == ovk::kDecodeNoMemory || code == ovk::kDecodeBadFlags ||
          code == ovk::kDecodeDamaged);
    if (code != ovk::kDecodeOk) continue;
    const std::uint8_t* img = image.get();
    const std::uint32_t offBits = bmp::GetU32(img, bmp::kBfOffBits);
    const std::uint32_t sizeImage = bmp::GetU32(img, bmp::kBiSizeImage);
    const int bitCount = bmp::GetU16(img, bmp::kBiBitCount);
    Check(bmp::GetS32(img, bmp::kBiWidth) == h.width &&
          bmp::GetS32(img, bmp::kBiHeight) == h.height);
    Check(bitCount == 8 || bitCount == 16 || bitCount == 32);
    Check(ovk::IsForm32(h.version, pngMode) == (bitCount == 32));
    Check(sizeImage == static_cast<std::uint32_t>(RowStride(h.width, bitCount)) *
                           static_cast<std::uint32_t>(h.height));
    Check(offBits == 54 + 4 * bmp::GetU32(img, bmp::kBiClrUsed));
    Check(bmp::GetU32(img, bmp::kBfSize) == offBits + sizeImage);
    Check(static_cast<std::size_t>(offBits) + sizeImage <= n);
  }
  return 0;
}
