// Whole conversions of the benchmark pictures, in milliseconds per picture:
// PNG file bytes to an ovk file of each writable version (PNG import, checks,
// palette, packing or tiles), and the ovk file back to a BmpImage through
// DecodeOvk. Before timing, each conversion is checked: the file decodes to
// the very picture PNG import saw (every index and palette entry). After
// timing, the timed run must have written the checked bytes. A mismatch fails
// the benchmark.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "bench_images.h"
#include "ovk/decode_ovk.h"
#include "ovk/layout.h"
#include "ovk/ovk_writer.h"
#include "pack/pack.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::int32_t kVersions[] = {1000, 1002, 1004, 1006, 60};

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct Conversion {
  bool ok = false;
  EncodeStatus status = EncodeStatus::kInternal;
  Bytes file;
  // The picture as import saw it: top-down indices, R, G, B, A entries.
  Bytes plane;
  Bytes palette;
  std::int32_t width = 0;
  std::int32_t height = 0;
};

// One conversion from PNG bytes; `keepPicture` also records the picture for
// the check.
Conversion Convert(const Bytes& png, std::int32_t version, bool keepPicture) {
  Conversion c;
  OvkTarget target;
  if (!TargetForVersion(version, &target)) return c;
  Cbuffer input;
  if (input.Alloc(static_cast<std::int32_t>(png.size())) == nullptr) return c;
  std::memcpy(input.data(), png.data(), png.size());
  SourceImage image;
  if (PrepareSource(input, target, &image) != SourceStatus::kOk) return c;
  c.width = image.width;
  c.height = image.height;
  if (keepPicture) {
    for (std::int32_t y = 0; y < image.height; ++y) {
      const std::uint8_t* row =
          image.pixels + static_cast<std::size_t>(image.height - 1 - y) * image.width;
      c.plane.insert(c.plane.end(), row, row + image.width);
    }
    for (std::int32_t e = 0; e < image.count; ++e) {
      const std::uint8_t* entry = image.palette + 4 * e;
      c.palette.insert(c.palette.end(), {entry[2], entry[1], entry[0], entry[3]});
    }
  }
  c.file.reserve(png.size() * 4 + 4096);
  EncodeReport report;
  c.status = EncodeOvk(
      image, target, false,
      [&c](std::span<const std::uint8_t> bytes) {
        c.file.insert(c.file.end(), bytes.begin(), bytes.end());
        return true;
      },
      &report);
  c.ok = c.status == EncodeStatus::kOk;
  return c;
}

// Decodes `file` into `image` (sized by its header). False when refused.
bool Decode(const Bytes& file, Bytes& image) {
  ovk::OvkHeader header;
  if (ovk::ReadOvkHeader(file, &header) != ovk::OvkCheck::kOk) return false;
  image.assign(static_cast<std::size_t>(header.imageBytes), 0);
  return ovk::DecodeOvk(image, file, 0) == ovk::kDecodeOk;
}

std::uint32_t Le32(const Bytes& b, std::size_t at) {
  return static_cast<std::uint32_t>(b[at]) | (static_cast<std::uint32_t>(b[at + 1]) << 8) |
         (static_cast<std::uint32_t>(b[at + 2]) << 16) |
         (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

// True when the decoded image shows the recorded picture.
bool Matches(const Conversion& c, const Bytes& image) {
  if (static_cast<std::int32_t>(Le32(image, 18)) != c.width ||
      static_cast<std::int32_t>(Le32(image, 22)) != c.height) {
    return false;
  }
  const std::size_t entries = Le32(image, 46);
  if (entries < c.palette.size() / 4) return false;
  if (std::memcmp(&image[54], c.palette.data(), c.palette.size()) != 0) return false;
  const std::size_t offset = Le32(image, 10);
  const std::size_t stride = (static_cast<std::size_t>(c.width) + 3) & ~std::size_t{3};
  for (std::int32_t y = 0; y < c.height; ++y) {
    if (std::memcmp(&image[offset + (c.height - 1 - y) * stride],
                    &c.plane[static_cast<std::size_t>(y) * c.width], c.width) != 0) {
      return false;
    }
  }
  return true;
}

// The checked conversion of each picture and version, made once.
const Conversion& Checked(const BenchImage& image, std::int32_t version) {
  static std::map<std::pair<std::string, std::int32_t>, Conversion> cache;
  auto key = std::make_pair(image.name, version);
  auto it = cache.find(key);
  if (it == cache.end()) {
    SetBlockSize(kDefaultBlockSize);
    const Bytes png = ReadFile(OVK_TEST_DATA "/images/" + image.name + ".png");
    it = cache.emplace(key, Convert(png, version, true)).first;
  }
  return it->second;
}

void BM_ToOvk(benchmark::State& state, const BenchImage* image, std::int32_t version) {
  const Conversion& expected = Checked(*image, version);
  Bytes decoded;
  if (!expected.ok) {
    state.SkipWithError(expected.status == EncodeStatus::kTileOverflow
                            ? "a tile cannot be coded at any tile size"
                            : "conversion failed");
    return;
  }
  if (!Decode(expected.file, decoded) || !Matches(expected, decoded)) {
    state.SkipWithError("the written file does not read back to the picture");
    return;
  }
  const Bytes png = ReadFile(OVK_TEST_DATA "/images/" + image->name + ".png");
  Conversion last;
  for (auto _ : state) {
    last = Convert(png, version, false);
    benchmark::DoNotOptimize(last.file.data());
  }
  if (last.file != expected.file) state.SkipWithError("the timed run wrote other bytes");
  state.counters["bytes"] = static_cast<double>(expected.file.size());
}

void BM_FromOvk(benchmark::State& state, const BenchImage* image, std::int32_t version) {
  const Conversion& expected = Checked(*image, version);
  if (!expected.ok) {
    state.SkipWithError("no file to read");
    return;
  }
  Bytes decoded;
  for (auto _ : state) {
    benchmark::DoNotOptimize(Decode(expected.file, decoded));
  }
  if (!Matches(expected, decoded)) state.SkipWithError("decoded picture differs");
}

[[maybe_unused]] const bool kRegistered = [] {
  for (const BenchImage& image : BenchImages()) {
    for (std::int32_t version : kVersions) {
      const std::string v = version == 60 ? "1006raw" : std::to_string(version);
      benchmark::RegisterBenchmark(("ConvertToOvk/" + v + "/" + image.name).c_str(), BM_ToOvk,
                                   &image, version)
          ->Unit(benchmark::kMillisecond);
      benchmark::RegisterBenchmark(("ConvertFromOvk/" + v + "/" + image.name).c_str(), BM_FromOvk,
                                   &image, version)
          ->Unit(benchmark::kMillisecond);
    }
  }
  return true;
}();

}  // namespace
