// Arbitrary bytes through the PNG importer. Whatever the input, the import
// returns 0 with nothing allocated, or a BmpImage whose header agrees with
// its own length; the sanitizers watch every read and write on the way.
//
// What an input of L bytes may allocate: its image data inflates to at most
// 1032 * L bytes of rows with their filter bytes, which bounds libpng's row
// buffers and the decoded rows; the BMP takes at most twice that (a row of
// 1 + x bytes gives at most x + 3 bytes of stride, and x >= 1), and the row
// table 8 bytes a row for at most a million rows (libpng's limit). For
// L = 4096 that is 8,455,222 bytes at most, under the 9 MiB malloc limit of
// fuzz/CMakeLists.txt.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <vector>

#include "fuzz/quiet_stderr.h"
#include "raster/bmp_image.h"
#include "raster/png_import.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  return CloseStderrUnlessAsked(argc, argv);
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Cbuffer out;
  std::int32_t n = PngToBmp(out, std::span(data, size));
  if (n == 0) {
    if (out.data() != nullptr) std::abort();
    return 0;
  }
  const std::uint8_t* b = out.data();
  std::int32_t width = bmp::GetS32(b, bmp::kBiWidth);
  std::int32_t height = bmp::GetS32(b, bmp::kBiHeight);
  std::int32_t bitCount = bmp::GetU16(b, bmp::kBiBitCount);
  std::uint32_t colorCount = bmp::GetU32(b, bmp::kBiClrUsed);
  std::uint32_t pixelOffset = bmp::GetU32(b, bmp::kBfOffBits);
  std::int64_t imageSize = static_cast<std::int64_t>(RowStride(width, bitCount)) * height;
  bool consistent = n == out.size() &&
                    bmp::GetU32(b, bmp::kBfSize) == static_cast<std::uint32_t>(n) && width > 0 &&
                    height > 0 && colorCount <= 256 && pixelOffset == 54 + 4 * colorCount &&
                    bmp::GetU32(b, bmp::kBiSizeImage) == imageSize && pixelOffset + imageSize == n;
  if (!consistent) std::abort();
  return 0;
}
