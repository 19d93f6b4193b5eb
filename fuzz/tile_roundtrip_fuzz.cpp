// Arbitrary tiles through the encoder: each must encode to exactly the bytes
// (or the -1) of the plain linear-search reference encoder, and an accepted
// tile must decode to itself, consuming exactly the encoded length.
//
// Input: byte 0 the tile width, byte 1 its height, byte 2 the stride's slack,
// byte 3 the colours (below 0x80: pixels reduced to 1 + b % 16 colours, which
// keeps most tiles encodable; otherwise raw bytes). The remaining bytes fill
// the tile quad by quad (top-left, top-right, bottom-left, bottom-right), over
// and over when they run out.
//
// Replay a corpus without fuzzing: tile_roundtrip_fuzz FILE...
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "fuzz/check.h"
#include "ovk/tile_codec.h"
#include "support/reference_tile_encoder.h"

namespace {

// Even sizes 2..128 wide and 2..64 high: powers of two, or any even size when
// the top bit is set.
int SideFrom(std::uint8_t b, int log2Max) {
  if (b & 0x80) return 2 * (1 + (b & ((1 << (log2Max - 1)) - 1)));
  return 2 << (b % log2Max);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  const int width = SideFrom(data[0], 7);
  const int height = SideFrom(data[1], 6);
  const int stride = width + data[2] % 5;
  const int colours = data[3] < 0x80 ? 1 + data[3] % 16 : 256;
  const std::uint8_t* bytes = data + 4;
  const std::size_t count = size - 4;

  std::vector<std::uint8_t> plane(static_cast<std::size_t>(stride) * height, 0x5A);
  std::size_t k = 0;
  const auto next = [&]() -> std::uint8_t {
    if (count == 0) return 0;
    const std::uint8_t b = bytes[k++ % count];
    return static_cast<std::uint8_t>(colours == 256 ? b : b % colours);
  };
  for (int qy = 0; qy < height / 2; ++qy) {
    for (int qx = 0; qx < width / 2; ++qx) {
      std::uint8_t* top = &plane[static_cast<std::size_t>(2 * qy) * stride + 2 * qx];
      top[0] = next();
      top[1] = next();
      top[stride] = next();
      top[stride + 1] = next();
    }
  }

  const std::size_t bound = TileEncodeBound(width, height);
  std::vector<std::uint8_t> fast(bound), reference(bound);
  const std::int32_t n = EncodeTile(plane.data(), stride, width, height, fast);
  const std::int32_t r =
      testing_support::ReferenceEncodeTile(plane.data(), stride, width, height, reference);
  Check(n == r);
  if (n < 0) return 0;
  Check(static_cast<std::size_t>(n) <= bound);
  Check(std::memcmp(fast.data(), reference.data(), n) == 0);

  const std::unique_ptr<std::uint8_t[]> exact(new std::uint8_t[n]);
  std::memcpy(exact.get(), fast.data(), n);
  std::vector<std::uint8_t> decoded(plane.size(), 0x5A);
  Check(DecodeTile(std::span<const std::uint8_t>(exact.get(), n), decoded.data(), width, height,
                   stride) == n);
  Check(decoded == plane);
  return 0;
}
