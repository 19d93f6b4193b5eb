// Packed-stream speed on the benchmark pictures, in bytes per second of
// uncompressed content: PackBlocks and UnpackBlocks, zlib's compress2 (levels
// 6 and 9) and uncompress on the same bytes as the yardstick, and the plain
// reference packer on a 64 KiB prefix as the baseline (with PackBlocks on the
// same prefix beside it). Each picture gives up to three contents: its index
// plane (what -v2 packs), the plane in 16 x 8 block order (-v4), and a
// version-1006-like tile stream (every tile's EncodeTile bytes, tiles of the
// largest power of two up to 128 x 64 that divides the picture, made smaller
// while a tile does not fit). Besides the pictures of tests/data/images, three
// 1920 x 1072 pictures of random noise over 2, 3 and 4 colours (noise2,
// noise3, noise4; fixed seeds) give planes and block orders: the packer's
// worst case. Before timing, each content is checked: the packer and the
// reference packer agree on the prefix, the packed data unpacks to the
// content, and zlib round-trips it; after timing, that the timed run produced
// the checked result. A mismatch fails the benchmark.
//
// Ratios/<content>/<picture>, run after the others, shows the ratios of their
// CPU times (medians over repetitions) as counters: pack_vs_zlib6 (how many
// times faster PackBlocks is than level 6), unpack_vs_uncompress, and, for
// planes and block orders, pack_cost_vs_waves (PackBlocks' time per pixel
// over that of the waves picture's same content).
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <time.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "bench_images.h"
#include "ovk/rows_to_blocks.h"
#include "ovk/tile_codec.h"
#include "pack/pack.h"
#include "pack/unpack.h"
#include "support/reference_packer.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kPrefix = 64 * 1024;

// Every tile of `image`, row-major, encoded back to back; empty when a tile
// does not fit even at 32 x 32.
Bytes TileStream(const BenchImage& image) {
  int wLog2 = 0;
  int hLog2 = 0;
  while (wLog2 < 7 && image.width % (2 << wLog2) == 0) ++wLog2;
  while (hLog2 < 6 && image.height % (2 << hLog2) == 0) ++hLog2;
  for (;;) {
    const int tw = 1 << wLog2;
    const int th = 1 << hLog2;
    Bytes stream;
    Bytes tile(TileEncodeBound(tw, th));
    bool ok = true;
    for (int y = 0; y < image.height && ok; y += th) {
      for (int x = 0; x < image.width && ok; x += tw) {
        const std::int32_t n =
            EncodeTile(image.indices.data() + static_cast<std::size_t>(y) * image.width + x,
                       image.width, tw, th, tile);
        ok = n >= 0;
        if (ok) stream.insert(stream.end(), tile.begin(), tile.begin() + n);
      }
    }
    if (ok) return stream;
    if (wLog2 <= 5 && hLog2 <= 5) return {};
    if (wLog2 > 5) --wLog2;
    if (hLog2 > 5) --hLog2;
  }
}

// The plane in the block order of version 1004, as the writer makes it from
// the picture's bottom-up rows.
Bytes BlockOrder(const BenchImage& image) {
  const std::size_t stride = static_cast<std::size_t>(image.width);
  Bytes rows(image.indices.size());
  for (int y = 0; y < image.height; ++y) {
    std::copy_n(image.indices.begin() + static_cast<std::ptrdiff_t>(y * stride), stride,
                rows.begin() + static_cast<std::ptrdiff_t>((image.height - 1 - y) * stride));
  }
  Bytes blocks(rows.size());
  if (!RowsToBlocks(rows, blocks, image.height, image.width)) return {};
  return blocks;
}

// Random noise over 2, 3 and 4 colours, the size of the waves picture.
const std::vector<BenchImage>& NoiseImages() {
  static const std::vector<BenchImage> images = [] {
    std::vector<BenchImage> all;
    for (unsigned colours = 2; colours <= 4; ++colours) {
      BenchImage image;
      image.name = "noise" + std::to_string(colours);
      image.width = 1920;
      image.height = 1072;
      image.indices.resize(static_cast<std::size_t>(image.width) * image.height);
      std::mt19937 rng(colours);
      for (auto& v : image.indices) v = static_cast<std::uint8_t>(rng() % colours);
      all.push_back(std::move(image));
    }
    return all;
  }();
  return images;
}

// One content, packed both ways and checked once, shared by its benchmarks.
struct Prepared {
  Bytes content;
  Bytes packed;  // PackBlocks
  std::uint32_t blocks = 0;
  Bytes zlib6;  // compress2 level 6
  Bytes zlib9;
  Bytes prefixPacked;  // PackBlocks on the prefix
  std::string error;   // empty when every check passed
};

std::int64_t Pack(const Bytes& in, Bytes& out, std::uint32_t* blocks) {
  out.resize(PackBound(in.size()));
  const std::int64_t n = PackBlocks(in, out, kDefaultBlockSize, blocks);
  if (n >= 0) out.resize(static_cast<std::size_t>(n));
  return n;
}

Bytes Zlib(const Bytes& in, int level) {
  uLongf length = compressBound(static_cast<uLong>(in.size()));
  Bytes out(length);
  if (compress2(out.data(), &length, in.data(), static_cast<uLong>(in.size()), level) != Z_OK) {
    return {};
  }
  out.resize(length);
  return out;
}

Prepared Prepare(Bytes content) {
  Prepared p;
  p.content = std::move(content);
  if (p.content.empty()) {
    p.error = "no content (a tile does not fit)";
    return p;
  }
  if (Pack(p.content, p.packed, &p.blocks) < 0) {
    p.error = "PackBlocks failed";
    return p;
  }
  Bytes back(p.content.size() + 1);
  if (UnpackBlocks(back, static_cast<std::uint32_t>(p.content.size()), p.packed, p.blocks) !=
          p.content.size() ||
      !std::equal(p.content.begin(), p.content.end(), back.begin())) {
    p.error = "packed data does not unpack to the content";
    return p;
  }
  const Bytes prefix(p.content.begin(), p.content.begin() + std::min(kPrefix, p.content.size()));
  std::uint32_t prefixBlocks = 0;
  Pack(prefix, p.prefixPacked, &prefixBlocks);
  const testing_support::ReferencePacked ref =
      testing_support::ReferencePackBlocks(prefix, static_cast<std::uint32_t>(kDefaultBlockSize));
  if (ref.bytes != p.prefixPacked || ref.blockCount != prefixBlocks) {
    p.error = "packer and reference packer differ";
    return p;
  }
  p.zlib6 = Zlib(p.content, 6);
  p.zlib9 = Zlib(p.content, 9);
  uLongf length = static_cast<uLongf>(back.size());
  if (p.zlib6.empty() || p.zlib9.empty() ||
      uncompress(back.data(), &length, p.zlib6.data(), static_cast<uLong>(p.zlib6.size())) !=
          Z_OK ||
      length != p.content.size() || !std::equal(p.content.begin(), p.content.end(), back.begin())) {
    p.error = "zlib round trip failed";
  }
  return p;
}

enum class Kind { kPlane, kBlocks, kTiles };

const Prepared& PreparedFor(const BenchImage& image, Kind kind) {
  static std::map<std::pair<const BenchImage*, Kind>, Prepared> cache;
  const auto key = std::make_pair(&image, kind);
  auto it = cache.find(key);
  if (it == cache.end()) {
    Bytes content = kind == Kind::kPlane    ? image.indices
                    : kind == Kind::kBlocks ? BlockOrder(image)
                                            : TileStream(image);
    it = cache.emplace(key, Prepare(std::move(content))).first;
  }
  return it->second;
}

enum class Op { kPack, kUnpack, kZlib6, kZlib9, kUncompress, kPackPrefix, kReferencePrefix };

double CpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// CPU seconds per iteration of every run of each benchmark, for Ratios.
std::map<std::tuple<Op, Kind, const BenchImage*>, std::vector<double>>& Timings() {
  static std::map<std::tuple<Op, Kind, const BenchImage*>, std::vector<double>> timings;
  return timings;
}

void BM_Pack(benchmark::State& state, const BenchImage* image, Kind kind, Op op) {
  const Prepared& p = PreparedFor(*image, kind);
  if (!p.error.empty()) {
    state.SkipWithError(p.error.c_str());
    return;
  }
  const Bytes prefix(p.content.begin(), p.content.begin() + std::min(kPrefix, p.content.size()));
  Bytes work;
  Bytes expected;
  std::size_t processed = p.content.size();
  std::string label;
  bool ok = true;
  double start = 0;
  double seconds = 0;  // CPU time of the timed loop
  switch (op) {
    case Op::kPack:
    case Op::kPackPrefix: {
      const Bytes& in = op == Op::kPack ? p.content : prefix;
      processed = in.size();
      work.resize(PackBound(in.size()));
      std::int64_t n = 0;
      std::uint32_t blocks = 0;
      start = CpuSeconds();
      for (auto _ : state) {
        n = PackBlocks(in, work, kDefaultBlockSize, &blocks);
        benchmark::DoNotOptimize(work.data());
      }
      seconds = CpuSeconds() - start;
      expected = op == Op::kPack ? p.packed : p.prefixPacked;
      ok = n == static_cast<std::int64_t>(expected.size()) &&
           std::equal(expected.begin(), expected.end(), work.begin());
      label = std::to_string(n) + " bytes packed";
      break;
    }
    case Op::kReferencePrefix: {
      processed = prefix.size();
      testing_support::ReferencePacked ref;
      start = CpuSeconds();
      for (auto _ : state) {
        ref = testing_support::ReferencePackBlocks(prefix,
                                                   static_cast<std::uint32_t>(kDefaultBlockSize));
        benchmark::DoNotOptimize(ref.bytes.data());
      }
      seconds = CpuSeconds() - start;
      ok = ref.bytes == p.prefixPacked;
      break;
    }
    case Op::kUnpack: {
      work.assign(p.content.size() + 1, 0);
      std::uint32_t reached = 0;
      start = CpuSeconds();
      for (auto _ : state) {
        reached =
            UnpackBlocks(work, static_cast<std::uint32_t>(p.content.size()), p.packed, p.blocks);
        benchmark::DoNotOptimize(work.data());
      }
      seconds = CpuSeconds() - start;
      ok = reached == p.content.size() &&
           std::equal(p.content.begin(), p.content.end(), work.begin());
      label = std::to_string(p.packed.size()) + " bytes packed";
      break;
    }
    case Op::kZlib6:
    case Op::kZlib9: {
      const int level = op == Op::kZlib6 ? 6 : 9;
      work.resize(compressBound(static_cast<uLong>(p.content.size())));
      uLongf length = 0;
      start = CpuSeconds();
      for (auto _ : state) {
        length = static_cast<uLongf>(work.size());
        compress2(work.data(), &length, p.content.data(), static_cast<uLong>(p.content.size()),
                  level);
        benchmark::DoNotOptimize(work.data());
      }
      seconds = CpuSeconds() - start;
      expected = level == 6 ? p.zlib6 : p.zlib9;
      ok = length == expected.size() && std::equal(expected.begin(), expected.end(), work.begin());
      label = std::to_string(length) + " bytes deflated";
      break;
    }
    case Op::kUncompress: {
      work.resize(p.content.size());
      uLongf length = 0;
      start = CpuSeconds();
      for (auto _ : state) {
        length = static_cast<uLongf>(work.size());
        uncompress(work.data(), &length, p.zlib6.data(), static_cast<uLong>(p.zlib6.size()));
        benchmark::DoNotOptimize(work.data());
      }
      seconds = CpuSeconds() - start;
      ok = length == p.content.size() && work == p.content;
      label = std::to_string(p.zlib6.size()) + " bytes deflated";
      break;
    }
  }
  if (!ok) {
    state.SkipWithError("the timed run differs from the checked result");
    return;
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(processed));
  state.SetLabel(label);
  Timings()[{op, kind, image}].push_back(seconds / static_cast<double>(state.iterations()));
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.size() % 2 != 0 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// The ratios of the timings of one content's benchmarks, as counters.
void BM_Ratios(benchmark::State& state, const BenchImage* image, Kind kind,
               const BenchImage* typical) {
  const auto& timings = Timings();
  auto median = [&](Op op, const BenchImage* of) {
    const auto it = timings.find({op, kind, of});
    return it == timings.end() || it->second.empty() ? 0.0 : Median(it->second);
  };
  for (auto _ : state) {
  }
  const double pack = median(Op::kPack, image);
  const double zlib6 = median(Op::kZlib6, image);
  const double unpack = median(Op::kUnpack, image);
  const double uncompress = median(Op::kUncompress, image);
  if (pack == 0 || zlib6 == 0 || unpack == 0 || uncompress == 0) {
    state.SkipWithError("needs this content's Pack, Zlib6, Unpack and Uncompress in the same run");
    return;
  }
  state.counters["pack_vs_zlib6"] = zlib6 / pack;
  state.counters["unpack_vs_uncompress"] = uncompress / unpack;
  const double typicalPack = typical != nullptr ? median(Op::kPack, typical) : 0.0;
  if (typicalPack != 0) {
    const double pixels = static_cast<double>(image->width) * image->height;
    const double typicalPixels = static_cast<double>(typical->width) * typical->height;
    state.counters["pack_cost_vs_waves"] = (pack / pixels) / (typicalPack / typicalPixels);
  }
}

[[maybe_unused]] const bool kRegistered = [] {
  const std::pair<Op, const char*> ops[] = {
      {Op::kPack, "Pack"},
      {Op::kUnpack, "Unpack"},
      {Op::kZlib6, "Zlib6"},
      {Op::kZlib9, "Zlib9"},
      {Op::kUncompress, "Uncompress"},
      {Op::kPackPrefix, "PackPrefix"},
      {Op::kReferencePrefix, "PackReferencePrefix"},
  };
  const std::pair<Kind, const char*> kinds[] = {
      {Kind::kPlane, "plane"}, {Kind::kBlocks, "blocks"}, {Kind::kTiles, "tiles"}};
  const BenchImage* waves = nullptr;
  std::vector<const BenchImage*> images;
  for (const BenchImage& image : BenchImages()) {
    images.push_back(&image);
    if (image.name.starts_with("waves")) waves = &image;
  }
  for (const BenchImage& image : NoiseImages()) images.push_back(&image);
  // Noise gives planes and block orders only.
  auto wanted = [](Kind kind, const BenchImage* image) {
    return kind != Kind::kTiles || !image->name.starts_with("noise");
  };
  for (const auto& [kind, kindName] : kinds) {
    for (const BenchImage* image : images) {
      if (!wanted(kind, image)) continue;
      for (const auto& [op, opName] : ops) {
        benchmark::RegisterBenchmark(
            (std::string(opName) + "/" + kindName + "/" + image->name).c_str(), BM_Pack, image,
            kind, op)
            ->Unit(benchmark::kMillisecond);
      }
    }
  }
  for (const auto& [kind, kindName] : kinds) {
    for (const BenchImage* image : images) {
      if (!wanted(kind, image)) continue;
      benchmark::RegisterBenchmark((std::string("Ratios/") + kindName + "/" + image->name).c_str(),
                                   BM_Ratios, image, kind, kind == Kind::kTiles ? nullptr : waves)
          ->Iterations(1);
    }
  }
  return true;
}();

}  // namespace
