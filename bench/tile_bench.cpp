// Tile codec speed on the benchmark pictures, in pixels per second: the fast
// encoder, the plain linear-search encoder as its baseline, and the decoder.
// Each picture is cut into tiles the way a version-1006 file is written (the
// largest power-of-two tile up to 128 x 64 that divides the picture, made
// smaller while a tile does not fit). Before timing, each benchmark checks
// that the fast and reference encoders write the same bytes and that the
// tiles decode to the picture; after timing, that the timed run produced the
// checked result. A mismatch fails the benchmark.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "bench_images.h"
#include "ovk/tile_codec.h"
#include "support/reference_tile_encoder.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Encoder = std::int32_t (*)(const std::uint8_t*, std::int32_t, std::int32_t, std::int32_t,
                                 std::span<std::uint8_t>);

constexpr int kFirstWidthLog2 = 7;
constexpr int kFirstHeightLog2 = 6;
constexpr int kSmallestRetryLog2 = 5;

int TrailingZerosCapped(int size, int cap) {
  int log2 = 0;
  while (log2 < cap && size % (2 << log2) == 0) ++log2;
  return log2;
}

// Encodes every tile of `image`, row-major, into `work`. Returns the stream
// length, or -1 at the first tile that does not fit.
std::int64_t EncodeTiles(const BenchImage& image, int tileWidth, int tileHeight, Encoder encode,
                         Bytes& work) {
  std::size_t offset = 0;
  for (int y = 0; y < image.height; y += tileHeight) {
    for (int x = 0; x < image.width; x += tileWidth) {
      const std::uint8_t* tile =
          image.indices.data() + static_cast<std::size_t>(y) * image.width + x;
      const std::int32_t n =
          encode(tile, image.width, tileWidth, tileHeight, std::span(work).subspan(offset));
      if (n < 0) return -1;
      offset += static_cast<std::size_t>(n);
    }
  }
  return static_cast<std::int64_t>(offset);
}

// Decodes the whole stream into `plane`; false when a tile is refused or the
// stream has bytes left over.
bool DecodeTiles(const Bytes& stream, int width, int height, int tileWidth, int tileHeight,
                 Bytes& plane) {
  std::size_t offset = 0;
  for (int y = 0; y < height; y += tileHeight) {
    for (int x = 0; x < width; x += tileWidth) {
      const std::int32_t n = DecodeTile(std::span(stream).subspan(offset),
                                        plane.data() + static_cast<std::size_t>(y) * width + x,
                                        tileWidth, tileHeight, width);
      if (n < 0) return false;
      offset += static_cast<std::size_t>(n);
    }
  }
  return offset == stream.size();
}

// A picture cut into tiles, checked once and shared by its benchmarks.
struct Prepared {
  int tileWidth = 0;
  int tileHeight = 0;
  Bytes stream;       // every tile, encoded by the fast encoder
  std::string error;  // empty when every check passed
};

Prepared Prepare(const BenchImage& image) {
  Prepared p;
  Bytes work(2 * (image.indices.size() + 1040));
  int wLog2 = TrailingZerosCapped(image.width, kFirstWidthLog2);
  int hLog2 = TrailingZerosCapped(image.height, kFirstHeightLog2);
  std::int64_t length = -1;
  for (;;) {
    length = EncodeTiles(image, 1 << wLog2, 1 << hLog2, EncodeTile, work);
    if (length >= 0) break;
    if (wLog2 <= kSmallestRetryLog2 && hLog2 <= kSmallestRetryLog2) {
      p.error = "a tile does not fit even at the smallest tile size";
      return p;
    }
    if (wLog2 > kSmallestRetryLog2) --wLog2;
    if (hLog2 > kSmallestRetryLog2) --hLog2;
  }
  p.tileWidth = 1 << wLog2;
  p.tileHeight = 1 << hLog2;
  p.stream.assign(work.begin(), work.begin() + length);

  Bytes reference(work.size());
  const std::int64_t referenceLength = EncodeTiles(image, p.tileWidth, p.tileHeight,
                                                   testing_support::ReferenceEncodeTile, reference);
  if (referenceLength != length ||
      std::memcmp(reference.data(), p.stream.data(), p.stream.size()) != 0) {
    p.error = "fast and reference encoders differ";
    return p;
  }
  Bytes plane(image.indices.size());
  if (!DecodeTiles(p.stream, image.width, image.height, p.tileWidth, p.tileHeight, plane) ||
      plane != image.indices) {
    p.error = "tiles do not decode to the picture";
  }
  return p;
}

const Prepared& PreparedFor(const BenchImage& image) {
  static std::map<const BenchImage*, Prepared> cache;
  auto it = cache.find(&image);
  if (it == cache.end()) it = cache.emplace(&image, Prepare(image)).first;
  return it->second;
}

void Describe(benchmark::State& state, const BenchImage& image, const Prepared& p) {
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(image.indices.size()));
  state.SetLabel(std::to_string(p.tileWidth) + "x" + std::to_string(p.tileHeight) + " tiles, " +
                 std::to_string(p.stream.size()) + " bytes");
}

void BM_Encode(benchmark::State& state, const BenchImage* image, Encoder encode) {
  const Prepared& p = PreparedFor(*image);
  if (!p.error.empty()) {
    state.SkipWithError(p.error.c_str());
    return;
  }
  Bytes work(2 * (image->indices.size() + 1040));
  std::int64_t length = 0;
  for (auto _ : state) {
    length = EncodeTiles(*image, p.tileWidth, p.tileHeight, encode, work);
    benchmark::DoNotOptimize(work.data());
  }
  if (length != static_cast<std::int64_t>(p.stream.size()) ||
      std::memcmp(work.data(), p.stream.data(), p.stream.size()) != 0) {
    state.SkipWithError("timed encode differs from the checked stream");
    return;
  }
  Describe(state, *image, p);
}

void BM_Decode(benchmark::State& state, const BenchImage* image) {
  const Prepared& p = PreparedFor(*image);
  if (!p.error.empty()) {
    state.SkipWithError(p.error.c_str());
    return;
  }
  Bytes plane(image->indices.size());
  bool ok = true;
  for (auto _ : state) {
    ok = DecodeTiles(p.stream, image->width, image->height, p.tileWidth, p.tileHeight, plane) && ok;
    benchmark::DoNotOptimize(plane.data());
  }
  if (!ok || plane != image->indices) {
    state.SkipWithError("timed decode differs from the picture");
    return;
  }
  Describe(state, *image, p);
}

[[maybe_unused]] const bool kRegistered = [] {
  for (const BenchImage& image : BenchImages()) {
    benchmark::RegisterBenchmark(("TileEncode/" + image.name).c_str(), BM_Encode, &image,
                                 static_cast<Encoder>(EncodeTile))
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("TileEncodeReference/" + image.name).c_str(), BM_Encode, &image,
                                 static_cast<Encoder>(testing_support::ReferenceEncodeTile))
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("TileDecode/" + image.name).c_str(), BM_Decode, &image)
        ->Unit(benchmark::kMillisecond);
  }
  return true;
}();

}  // namespace
