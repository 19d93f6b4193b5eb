// Whole conversions of the benchmark pictures, in milliseconds per picture:
// PNG file bytes to an ovk file of each writable version (PNG import, checks,
// palette, packing or tiles), and the ovk file back to a BmpImage through
// DecodeOvk. Before timing, each conversion is checked: the file decodes to
// the very picture PNG import saw (every index and palette entry). After
// timing, the timed run must have written the checked bytes. A mismatch fails
// the benchmark.
//
// OvkToPng/p and OvkToPng/p256 time what ovkconv -p and -p256 do after
// reading the ovk file (the 1006 file the checks above made): decode it and
// write the PNG file, through the same output class as every conversion, to
// a scratch directory. Each iteration also times the BMP conversion of the
// same file the same way (decode, write the BMP file). Times are the
// thread's CPU time, user and system, so that other work on the machine does
// not count; the reported time is the PNG's. Counters: "ratio", PNG time over
// BMP time summed over the iterations; "ratio_mem", the same with both files
// made in memory only (no file written); "bmp_ms", the BMP time per
// iteration; "bytes", the PNG's size. Before timing, the PNG is read back
// with libpng and must show the picture; after, the file written must be
// those bytes.
#include <benchmark/benchmark.h>
#include <png.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "bench_images.h"
#include "driver/convert.h"
#include "driver/source.h"
#include "driver/write_png.h"
#include "io/output_file.h"
#include "ovk/decoder.h"
#include "ovk/layout.h"
#include "pack/pack.h"
#include "platform/platform.h"
#include "raster/bmp_image.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::int32_t kVersions[] = {1000, 1002, 1004, 1006, 60};

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct Conversion {
  bool ok = false;
  Error status{Fault::kInternal};
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
  ovk::OvkTarget target;
  if (!TargetForVersion(version, &target)) return c;
  Cbuffer input;
  if (input.Alloc(static_cast<std::int32_t>(png.size())) == nullptr) return c;
  std::memcpy(input.data(), png.data(), png.size());
  SourceImage image;
  if (PrepareSource(input.span(), target, &image) != Fault::kNone) return c;
  c.width = image.width;
  c.height = image.height;
  if (keepPicture) {
    for (std::int32_t y = 0; y < image.height; ++y) {
      const std::int32_t from = image.topDown ? y : image.height - 1 - y;
      const std::uint8_t* row = image.pixels + static_cast<std::size_t>(from) * image.width;
      c.plane.insert(c.plane.end(), row, row + image.width);
    }
    for (std::int32_t e = 0; e < image.count; ++e) {
      const std::uint8_t* entry = image.palette + 4 * e;
      c.palette.insert(c.palette.end(), {entry[2], entry[1], entry[0], entry[3]});
    }
  }
  c.file.reserve(png.size() * 4 + 4096);
  ovk::EncodeReport report;
  c.status = ovk::EncodeOvk(
      image, target, false,
      [&c](std::span<const std::uint8_t> bytes) {
        c.file.insert(c.file.end(), bytes.begin(), bytes.end());
        return true;
      },
      &report);
  c.ok = c.status == Fault::kNone;
  return c;
}

// Decodes `file` into `image` (sized by its header). False when refused.
bool Decode(const Bytes& file, Bytes& image, OutputForm output = OutputForm::kBmp) {
  ovk::OvkSections sections;
  if (!ovk::WalkOvk(file, &sections).ok()) return false;
  image.assign(static_cast<std::size_t>(sections.header.imageBytes), 0);
  return ovk::DecodeOvk(image, sections, PixelFormFor(sections.header.version, output)).ok();
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
    const Bytes png = ReadFile(OVK_TEST_DATA "/images/" + image.name + ".png");
    it = cache.emplace(key, Convert(png, version, true)).first;
  }
  return it->second;
}

void BM_ToOvk(benchmark::State& state, const BenchImage* image, std::int32_t version) {
  const Conversion& expected = Checked(*image, version);
  Bytes decoded;
  if (!expected.ok) {
    state.SkipWithError(expected.status == Fault::kTileOverflow
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

// ConvertFromOvk's steps between reading the file and writing the output:
// the image decoded for `output`, palette entries in BMP order, bfSize set.
// False when the file does not decode.
bool DecodeForOutput(const Bytes& file, OutputForm output, Bytes& image) {
  if (!Decode(file, image, output)) return false;
  std::uint8_t* img = image.data();
  SwapRedBlue(img + bmp::kPaletteOffset,
              static_cast<std::int32_t>(bmp::GetU32(img, bmp::kBiClrUsed)));
  image.resize(bmp::GetU32(img, bmp::kBfSize));
  return true;
}

bool WriteBmpFile(const std::wstring& path, const Bytes& image) {
  CoutputFile out;
  return out.Open(path) && out.Write(image.data(), image.size()) && out.Commit();
}

// The PNG as libpng reads it, expanded to R, G, B, A (A 255 where the file
// has no alpha), rows top-down. Empty when libpng refuses it.
Bytes ReadPngRgba(const Bytes& png) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, png.data(), png.size())) return {};
  image.format = PNG_FORMAT_RGBA;
  Bytes rgba(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, rgba.data(), 0, nullptr)) return {};
  return rgba;
}

// True when `rgba` shows the picture: every pixel's colour is its palette
// entry's, and so is its alpha where the PNG carries alpha.
bool ShowsPicture(const Conversion& c, const Bytes& rgba, bool withAlpha) {
  if (rgba.size() != 4 * c.plane.size()) return false;
  for (std::size_t i = 0; i < c.plane.size(); ++i) {
    const std::uint8_t* want = &c.palette[4 * c.plane[i]];
    const std::uint8_t* got = &rgba[4 * i];
    if (got[0] != want[0] || got[1] != want[1] || got[2] != want[2]) return false;
    if (withAlpha && got[3] != want[3]) return false;
  }
  return true;
}

// The thread's CPU time in seconds.
double CpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

void BM_OvkToPng(benchmark::State& state, const BenchImage* image, OutputForm output) {
  const PaletteOutput alpha = output == OutputForm::kPngPalette ? PaletteOutput::kIndicesWithAlpha
                                                                : PaletteOutput::kColours;
  const Conversion& source = Checked(*image, 1006);
  Bytes decoded, png;
  if (!source.ok || !DecodeForOutput(source.file, output, decoded) ||
      !EncodePng(decoded, alpha, &png)) {
    state.SkipWithError("no PNG to time");
    return;
  }
  // Palette PNGs carry every entry's alpha; a colour PNG carries alpha when
  // some entry has it.
  bool anyAlpha = false;
  for (std::size_t e = 3; e < source.palette.size(); e += 4) anyAlpha |= source.palette[e] != 0;
  if (!ShowsPicture(source, ReadPngRgba(png), output == OutputForm::kPngPalette || anyAlpha)) {
    state.SkipWithError("the PNG does not show the picture");
    return;
  }
  char dirName[] = "/tmp/ovk_bench_XXXXXX";
  if (mkdtemp(dirName) == nullptr) {
    state.SkipWithError("no scratch directory");
    return;
  }
  const std::string dir = dirName;
  const std::wstring pngPath = platform::BytesToWide(dir + "/out.png");
  const std::wstring bmpPath = platform::BytesToWide(dir + "/out.bmp");
  double pngFile = 0, bmpFile = 0, pngMemory = 0, bmpMemory = 0;
  bool ok = true;
  Bytes bmpBytes;
  for (auto _ : state) {
    double start = CpuSeconds();
    ok &= DecodeForOutput(source.file, OutputForm::kBmp, decoded) && WriteBmpFile(bmpPath, decoded);
    bmpFile += CpuSeconds() - start;
    start = CpuSeconds();
    ok &= DecodeForOutput(source.file, output, decoded) && WritePng(pngPath, decoded, alpha) == 0;
    const double seconds = CpuSeconds() - start;
    pngFile += seconds;
    state.SetIterationTime(seconds);

    start = CpuSeconds();
    ok &= DecodeForOutput(source.file, OutputForm::kBmp, decoded);
    bmpBytes.assign(decoded.begin(), decoded.end());
    bmpMemory += CpuSeconds() - start;
    start = CpuSeconds();
    ok &= DecodeForOutput(source.file, output, decoded) && EncodePng(decoded, alpha, &png);
    pngMemory += CpuSeconds() - start;
  }
  const Bytes written = ReadFile(dir + "/out.png");
  std::filesystem::remove_all(dir);
  if (!ok || written != png) {
    state.SkipWithError("a timed conversion failed or wrote other bytes");
    return;
  }
  state.counters["bytes"] = static_cast<double>(png.size());
  state.counters["ratio"] = pngFile / bmpFile;
  state.counters["ratio_mem"] = pngMemory / bmpMemory;
  state.counters["bmp_ms"] =
      benchmark::Counter(bmpFile * 1e3 / static_cast<double>(state.iterations()));
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
    for (const auto& [output, name] :
         {std::pair{OutputForm::kPngColour, "p"}, std::pair{OutputForm::kPngPalette, "p256"}}) {
      benchmark::RegisterBenchmark(("OvkToPng/" + std::string(name) + "/" + image.name).c_str(),
                                   BM_OvkToPng, &image, output)
          ->UseManualTime()
          ->Unit(benchmark::kMillisecond);
    }
  }
  return true;
}();

}  // namespace
