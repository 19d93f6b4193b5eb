// Reading speed: DecodeOvk on the benchmark pictures in every readable
// version, in the file's own form for a BMP (DecodeBmp: 8-bit, 16-bit for
// version 1001) and the 32-bit form of -p (Decode32), beside
// UnpackBlocks alone on the packed sections of the same file. Reading a file
// should cost little more than unpacking it. Times are per picture.
//
// The files are built by the test writer, their sections packed by the
// program's compressor. Version 1005 codes at most 16 colours in a 16 x 8
// block, so its picture keeps each block's first 15 colours and gives the
// rest of the block's pixels its first colour. Version 1001 holds each
// pixel's palette colour in 16 bits. Before timing, each decode is checked
// against the picture it must give; a mismatch fails the benchmark.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench_images.h"
#include "driver/convert.h"
#include "ovk/decoder.h"
#include "ovk/layout.h"
#include "pack/unpack.h"
#include "raster/bmp_image.h"
#include "support/ovk_test_writer.h"

namespace {

using testing_support::Bytes;
using testing_support::Packing;
using testing_support::Picture;

struct OvkCase {
  std::string name;  // e.g. "1004/waves_1920x1072"
  Bytes file;
  Picture picture;                      // what the 8-bit form must show (1001: unused)
  std::vector<std::uint16_t> pixels16;  // 1001 only
};

Picture FromImage(const BenchImage& image) {
  return Picture{image.width, image.height, image.indices, image.palette};
}

// At most 16 colours per 16 x 8 block: colours past a block's first 15 take
// its first colour.
Picture LimitBlockColours(Picture p) {
  for (int by = 0; by + 8 <= p.height; by += 8) {
    for (int bx = 0; bx + 16 <= p.width; bx += 16) {
      Bytes colours;
      for (int y = by; y < by + 8; ++y) {
        for (int x = bx; x < bx + 16; ++x) {
          std::uint8_t& i = p.indices[static_cast<std::size_t>(y) * p.width + x];
          if (std::find(colours.begin(), colours.end(), i) != colours.end()) continue;
          if (colours.size() < 15) {
            colours.push_back(i);
          } else {
            i = colours[0];
          }
        }
      }
    }
  }
  return p;
}

std::vector<std::uint16_t> To16Bit(const Picture& p) {
  std::vector<std::uint16_t> out;
  for (std::uint8_t i : p.indices) {
    const std::uint8_t* e = p.palette.data() + 4 * i;
    out.push_back(static_cast<std::uint16_t>(((e[0] >> 3) << 10) | ((e[1] >> 3) << 5) |
                                             (e[2] >> 3) | (e[3] >= 128 ? 0x8000 : 0)));
  }
  return out;
}

// Version 1006 with the largest tiles (128 x 64 down to 16 x 16) that code.
Bytes Ovk1006Fitting(const Picture& p, bool packed) {
  for (int log2 = 7; log2 >= 4; --log2) {
    const int wLog2 = log2, hLog2 = std::min(log2, 6);
    if (p.width % (1 << wLog2) != 0 || p.height % (1 << hLog2) != 0) continue;
    try {
      return testing_support::Ovk1006(p, {.tileWidthLog2 = wLog2,
                                          .tileHeightLog2 = hLog2,
                                          .packed = packed,
                                          .packing = Packing::kPacker});
    } catch (const std::runtime_error&) {
    }
  }
  throw std::runtime_error("no tile size codes the picture");
}

const char* const kKinds[] = {"1000",   "1001",   "1002",    "1004",
                              "1005m0", "1005m2", "1006raw", "1006packed"};

OvkCase Build(const BenchImage& image, const std::string& kind) {
  const Picture p = FromImage(image);
  OvkCase c{kind + "/" + image.name, {}, p, {}};
  if (kind == "1000") {
    c.file = testing_support::Ovk1000(p);
  } else if (kind == "1001") {
    c.pixels16 = To16Bit(p);
    c.file = testing_support::Ovk1001(p.width, p.height, c.pixels16, Packing::kPacker);
  } else if (kind == "1002") {
    c.file = testing_support::Ovk1002(p, Packing::kPacker);
  } else if (kind == "1004") {
    c.file = testing_support::Ovk1004(p, Packing::kPacker);
  } else if (kind == "1005m0" || kind == "1005m2") {
    c.picture = LimitBlockColours(p);
    const std::vector<bool> noEmpty((p.width / 16) * (p.height / 8), false);
    c.file =
        testing_support::Ovk1005(c.picture, noEmpty, kind == "1005m0" ? 0 : 2, Packing::kPacker);
  } else {
    c.file = Ovk1006Fitting(p, kind == "1006packed");
  }
  return c;
}

// The files are built when a benchmark first needs them, not at start-up.
const OvkCase& Case(const BenchImage* image, const std::string& kind) {
  static std::map<std::pair<const BenchImage*, std::string>, OvkCase> cache;
  auto it = cache.find({image, kind});
  if (it == cache.end()) it = cache.emplace(std::pair{image, kind}, Build(*image, kind)).first;
  return it->second;
}

// True when the decoded image shows the case's picture.
bool Matches(const OvkCase& c, const Bytes& image) {
  const Picture& p = c.picture;
  const std::uint8_t* img = image.data();
  const std::uint8_t* pixels = img + bmp::GetU32(img, bmp::kBfOffBits);
  const int bitCount = bmp::GetU16(img, bmp::kBiBitCount);
  const std::size_t stride = RowStride(p.width, bitCount);
  for (int y = 0; y < p.height; ++y) {
    const std::uint8_t* row = pixels + static_cast<std::size_t>(p.height - 1 - y) * stride;
    for (int x = 0; x < p.width; ++x) {
      const std::size_t i = static_cast<std::size_t>(y) * p.width + x;
      if (bitCount == 8) {
        if (row[x] != p.indices[i]) return false;
      } else if (bitCount == 16) {
        if ((row[2 * x] | row[2 * x + 1] << 8) != c.pixels16[i]) return false;
      } else if (c.pixels16.empty()) {
        const std::uint8_t* e = p.palette.data() + 4 * p.indices[i];
        const std::uint8_t want[4] = {e[2], e[1], e[0], e[3]};
        if (!std::equal(want, want + 4, row + 4 * x)) return false;
      } else {
        if ((row[4 * x + 3] == 255) != ((c.pixels16[i] & 0x8000) != 0)) return false;
      }
    }
  }
  return true;
}

// The reading pipeline on one file: the walk, then the decoder.
Error WalkAndDecode(Bytes& image, const Bytes& file, ovk::PixelForm form) {
  ovk::OvkSections s;
  const Error walk = ovk::WalkOvk(file, &s);
  return walk.ok() ? ovk::DecodeOvk(image, s, form) : walk;
}

void BM_Decode(benchmark::State& state, const BenchImage* bench, const char* kind, int pngMode) {
  const OvkCase* c = &Case(bench, kind);
  ovk::OvkHeader h;
  if (ovk::ReadOvkHeader(c->file, &h) != Fault::kNone) {
    state.SkipWithError("header refused");
    return;
  }
  Bytes image(h.imageBytes, 0);
  const ovk::PixelForm form = PixelFormFor(h.version, static_cast<OutputForm>(pngMode));
  if (!WalkAndDecode(image, c->file, form).ok() || !Matches(*c, image)) {
    state.SkipWithError("decoded picture differs");
    return;
  }
  for (auto _ : state) {
    benchmark::DoNotOptimize(WalkAndDecode(image, c->file, form));
    benchmark::ClobberMemory();
  }
  if (!Matches(*c, image)) state.SkipWithError("timed decode differs");
  state.counters["file_KB"] = static_cast<double>(c->file.size()) / 1024;
}

// UnpackBlocks alone on every packed section of the file.
void BM_Unpack(benchmark::State& state, const BenchImage* bench, const char* kind) {
  const OvkCase* c = &Case(bench, kind);
  ovk::OvkSections s;
  if (ovk::WalkOvk(c->file, &s) != Fault::kNone) {
    state.SkipWithError("walk refused");
    return;
  }
  std::vector<const ovk::Section*> sections;
  for (const ovk::Section* section : {&s.palette, &s.pixels}) {
    if (section->packed) sections.push_back(section);
  }
  std::vector<Bytes> outs;
  for (const ovk::Section* section : sections) outs.emplace_back(section->unpackedSize + 100, 0);
  for (auto _ : state) {
    for (std::size_t k = 0; k < sections.size(); ++k) {
      benchmark::DoNotOptimize(UnpackBlocks(outs[k], sections[k]->unpackedSize, sections[k]->data,
                                            sections[k]->blockCount));
    }
    benchmark::ClobberMemory();
  }
}

[[maybe_unused]] const bool kRegistered = [] {
  for (const char* kind : kKinds) {
    for (const BenchImage& image : BenchImages()) {
      const std::string name = std::string(kind) + "/" + image.name;
      benchmark::RegisterBenchmark(("DecodeBmp/" + name).c_str(), BM_Decode, &image, kind, 0)
          ->Unit(benchmark::kMillisecond);
      benchmark::RegisterBenchmark(("Decode32/" + name).c_str(), BM_Decode, &image, kind, 1)
          ->Unit(benchmark::kMillisecond);
      // Versions 1000 and raw 1006 have nothing packed.
      if (std::string(kind) != "1000" && std::string(kind) != "1006raw") {
        benchmark::RegisterBenchmark(("Unpack/" + name).c_str(), BM_Unpack, &image, kind)
            ->Unit(benchmark::kMillisecond);
      }
    }
  }
  return true;
}();

}  // namespace
