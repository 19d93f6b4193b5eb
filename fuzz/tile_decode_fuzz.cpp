// DecodeTile on arbitrary bytes. The first three input bytes choose the tile
// shape and the row stride; the rest is the encoded tile, read in place so
// that a read past the input is a read past libFuzzer's buffer. The plane is
// exactly as long as the tile needs (no byte after the last pixel), and the
// padding between rows holds a canary, so a write outside the tile is caught
// either by AddressSanitizer or by the canary check.
//
// A tile that decodes must decode again from exactly the bytes it consumed,
// to the same pixels, and the encoder must take those pixels back to them.
//
// Replay a corpus without fuzzing: tile_decode_fuzz FILE...
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "fuzz/check.h"
#include "ovk/tile_codec.h"

namespace {

constexpr std::uint8_t kCanary = 0xA5;

// Even sizes 2..128: powers of two, or any even size when the top bit is set.
int SideFrom(std::uint8_t b) {
  if (b & 0x80) return 2 * (1 + (b & 0x3F));
  return 2 << (b % 7);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const int width = SideFrom(data[0]);
  const int height = SideFrom(data[1]);
  const int stride = width + data[2] % 5;
  const std::span<const std::uint8_t> in(data + 3, size - 3);

  const std::size_t planeSize = static_cast<std::size_t>(stride) * (height - 1) + width;
  std::vector<std::uint8_t> plane(planeSize, kCanary);
  const std::int32_t n = DecodeTile(in, plane.data(), width, height, stride);
  for (int y = 0; y + 1 < height; ++y) {
    for (int x = width; x < stride; ++x)
      Check(plane[static_cast<std::size_t>(y) * stride + x] == kCanary);
  }
  if (n < 0) return 0;
  Check(static_cast<std::size_t>(n) <= in.size());

  // Exactly the consumed bytes, in a buffer of their own.
  const std::unique_ptr<std::uint8_t[]> exact(new std::uint8_t[n]);
  std::memcpy(exact.get(), in.data(), n);
  std::vector<std::uint8_t> again(planeSize, kCanary);
  Check(DecodeTile(std::span<const std::uint8_t>(exact.get(), n), again.data(), width, height,
                   stride) == n);
  Check(again == plane);

  std::vector<std::uint8_t> encoded(TileEncodeBound(width, height));
  const std::int32_t m = EncodeTile(plane.data(), stride, width, height, encoded);
  if (m >= 0) {
    std::vector<std::uint8_t> third(planeSize, kCanary);
    Check(DecodeTile(std::span<const std::uint8_t>(encoded.data(), m), third.data(), width, height,
                     stride) == m);
    Check(third == plane);
  }
  return 0;
}
