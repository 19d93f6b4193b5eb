#include <gtest/gtest.h>
#include <png.h>
#include <signal.h>
#include <sys/resource.h>
#include <zlib.h>

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "driver/write_png.h"
#include "platform/platform.h"
#include "raster/bmp_image.h"
#include "raster/png_deflate.h"
#include "raster/png_export.h"
#include "raster/png_import.h"
#include "support/ovk_test_writer.h"
#include "support/run_process.h"
#include "support/test_files.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using testing_support::FileExists;
using testing_support::ReadBytes;
using testing_support::ScratchDir;
using testing_support::WriteBytes;

// A BmpImage laid out as the program builds them. `palette` holds B,G,R,A
// entries; pixel bytes come from `pixel(x, y, byte)`, y counted from the top.
template <typename PixelFn>
Bytes MakeBmp(int width, int height, int bitCount, int colorCount, const Bytes& palette,
              PixelFn pixel) {
  int stride = RowStride(width, bitCount);
  int offset = 54 + static_cast<int>(palette.size());
  Bytes b(static_cast<std::size_t>(offset + stride * std::max(height, 0)));
  bmp::PutU16(b.data(), bmp::kBfType, bmp::kMagic);
  bmp::PutU32(b.data(), bmp::kBfSize, static_cast<std::uint32_t>(b.size()));
  bmp::PutU32(b.data(), bmp::kBfOffBits, static_cast<std::uint32_t>(offset));
  bmp::PutU32(b.data(), bmp::kBiSize, 40);
  bmp::PutS32(b.data(), bmp::kBiWidth, width);
  bmp::PutS32(b.data(), bmp::kBiHeight, height);
  bmp::PutU16(b.data(), bmp::kBiPlanes, 1);
  bmp::PutU16(b.data(), bmp::kBiBitCount, static_cast<std::uint16_t>(bitCount));
  bmp::PutU32(b.data(), bmp::kBiSizeImage, static_cast<std::uint32_t>(stride * height));
  bmp::PutU32(b.data(), bmp::kBiClrUsed, static_cast<std::uint32_t>(colorCount));
  std::copy(palette.begin(), palette.end(), b.begin() + 54);
  int bytes = bitCount / 8;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      for (int k = 0; k < bytes; ++k) {
        b[offset + (height - 1 - y) * stride + x * bytes + k] = pixel(x, y, k);
      }
    }
  }
  return b;
}

// What libpng reads back from a PNG file, untransformed, plus the chunk
// types in file order.
struct PngFile {
  png_uint_32 width = 0, height = 0;
  int bitDepth = 0, colorType = 0, interlace = -1;
  std::vector<png_color> plte;
  Bytes trns;
  std::vector<Bytes> rows;
  std::vector<std::string> chunks;
};

bool ReadInto(png_structp png, png_infop info, PngFile* f, std::vector<png_bytep>* pointers) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_read_info(png, info);
  png_get_IHDR(png, info, &f->width, &f->height, &f->bitDepth, &f->colorType, &f->interlace,
               nullptr, nullptr);
  png_colorp plte;
  int n;
  if (png_get_PLTE(png, info, &plte, &n) != 0) f->plte.assign(plte, plte + n);
  png_bytep trns;
  if (png_get_tRNS(png, info, &trns, &n, nullptr) != 0) f->trns.assign(trns, trns + n);
  f->rows.assign(f->height, Bytes(png_get_rowbytes(png, info)));
  for (Bytes& r : f->rows) pointers->push_back(r.data());
  png_read_image(png, pointers->data());
  png_read_end(png, nullptr);
  return true;
}

PngFile ReadPng(const std::string& path) {
  PngFile f;
  Bytes bytes = ReadBytes(path);
  for (std::size_t pos = 8; pos + 8 <= bytes.size();) {
    std::size_t len =
        (bytes[pos] << 24) | (bytes[pos + 1] << 16) | (bytes[pos + 2] << 8) | bytes[pos + 3];
    f.chunks.emplace_back(bytes.begin() + pos + 4, bytes.begin() + pos + 8);
    pos += 12 + len;
  }
  std::FILE* stream = std::fopen(path.c_str(), "rb");
  EXPECT_NE(stream, nullptr) << path;
  if (stream == nullptr) return f;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_init_io(png, stream);
  std::vector<png_bytep> pointers;
  EXPECT_TRUE(ReadInto(png, info, &f, &pointers));
  png_destroy_read_struct(&png, &info, nullptr);
  std::fclose(stream);
  return f;
}

// Chunk list without the repeats of IDAT.
std::vector<std::string> ChunkKinds(const PngFile& f) {
  std::vector<std::string> kinds;
  for (const std::string& c : f.chunks) {
    if (kinds.empty() || kinds.back() != c) kinds.push_back(c);
  }
  return kinds;
}

class PngExport : public testing::Test {
 protected:
  void SetUp() override { std::setlocale(LC_CTYPE, "C.UTF-8"); }
  void TearDown() override { std::setlocale(LC_CTYPE, "C"); }

  // Writes `bmp` to `name` in the scratch directory; returns WritePng's result
  // and keeps what it printed.
  int Write(const Bytes& bmp, int mode, const std::string& name = "out.png") {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    int r = WritePng(platform::BytesToWide(dir.File(name)), bmp,
                     mode == 2   ? PaletteOutput::kIndicesWithAlpha
                     : mode == 3 ? PaletteOutput::kColours
                                 : PaletteOutput::kIndices);
    printed = testing::internal::GetCapturedStdout();
    errors = testing::internal::GetCapturedStderr();
    return r;
  }
  std::string FailureMessage(const std::string& name = "out.png") {
    return "pngファイルの作成に失敗しました(" + dir.File(name) + ")\n";
  }
  std::vector<std::string> DirectoryEntries() {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
      names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  ScratchDir dir;
  std::string printed, errors;
};

Bytes Palette(int n) {
  Bytes p;
  for (int i = 0; i < n; ++i) {
    for (int v : {i, 2 * i, 3 * i, 255 - i}) p.push_back(static_cast<std::uint8_t>(v));
  }
  return p;
}

TEST_F(PngExport, PaletteImagesGetPlteAndOnlyInModeTwoAFullTrns) {
  // colour count 0 reads as 256 entries; 16 gives 16, still at bit depth 8.
  for (int count : {0, 16}) {
    int entries = count == 0 ? 256 : count;
    Bytes palette = Palette(entries);
    palette[0] = 10, palette[1] = 20, palette[2] = 30, palette[3] = 40;
    Bytes bmp = MakeBmp(5, 3, 8, count, palette, [](int x, int y, int) { return x + 5 * y; });
    for (int mode : {1, 2}) {
      ASSERT_EQ(Write(bmp, mode), 0) << printed << errors;
      EXPECT_EQ(printed, "");
      PngFile f = ReadPng(dir.File("out.png"));
      EXPECT_EQ(f.colorType, PNG_COLOR_TYPE_PALETTE);
      EXPECT_EQ(f.bitDepth, 8);
      EXPECT_EQ(f.interlace, PNG_INTERLACE_NONE);
      ASSERT_EQ(f.plte.size(), static_cast<std::size_t>(entries));
      EXPECT_EQ(f.plte[0].red, 30);
      EXPECT_EQ(f.plte[0].green, 20);
      EXPECT_EQ(f.plte[0].blue, 10);
      EXPECT_EQ(f.plte[7].red, 21);
      if (mode == 2) {
        ASSERT_EQ(f.trns.size(), static_cast<std::size_t>(entries));
        EXPECT_EQ(f.trns[0], 40);
        EXPECT_EQ(f.trns[7], 248);
        EXPECT_EQ(ChunkKinds(f),
                  (std::vector<std::string>{"IHDR", "PLTE", "tRNS", "IDAT", "IEND"}));
      } else {
        EXPECT_TRUE(f.trns.empty());
        EXPECT_EQ(ChunkKinds(f), (std::vector<std::string>{"IHDR", "PLTE", "IDAT", "IEND"}));
      }
      // The first PNG row is the last BMP row; the padding is not written.
      ASSERT_EQ(f.rows.size(), 3u);
      for (int y = 0; y < 3; ++y) {
        EXPECT_EQ(f.rows[y],
                  (Bytes{static_cast<std::uint8_t>(5 * y), static_cast<std::uint8_t>(5 * y + 1),
                         static_cast<std::uint8_t>(5 * y + 2), static_cast<std::uint8_t>(5 * y + 3),
                         static_cast<std::uint8_t>(5 * y + 4)}));
      }
    }
  }
}

// Indices past the colour count (a damaged file): PLTE, and tRNS in mode 2,
// run to the largest index used, the added entries all zero.
TEST_F(PngExport, IndicesPastThePaletteExtendIt) {
  Bytes bmp = MakeBmp(6, 2, 8, 3, Palette(3), [](int x, int y, int) { return x == 5 ? 9 : x + y; });
  for (int mode : {1, 2}) {
    ASSERT_EQ(Write(bmp, mode), 0) << printed << errors;
    PngFile f = ReadPng(dir.File("out.png"));
    ASSERT_EQ(f.plte.size(), 10u);
    EXPECT_EQ(f.plte[2].red, 6);
    for (int i = 3; i < 10; ++i) EXPECT_EQ(f.plte[i].red + f.plte[i].green + f.plte[i].blue, 0);
    EXPECT_EQ(f.trns, mode == 2 ? (Bytes{255, 254, 253, 0, 0, 0, 0, 0, 0, 0}) : Bytes{});
    EXPECT_EQ(f.rows[1], (Bytes{1, 2, 3, 4, 5, 9}));
  }
}

// Mode 3 (kColours): an 8-bit image gives the PNG of its 32-bit expansion,
// each pixel its entry's B, G, R, A: RGBA when a pixel's entry has alpha,
// else RGB, whatever the alpha of entries no pixel uses. (Indices past the
// palette, and -p through the program, are the ImageMagick tests'.) A picture
// of repeated rows, so that matches are coded.
TEST_F(PngExport, ColoursOfAPaletteImageAreThoseOfItsExpansion) {
  std::mt19937 rng(7);
  Bytes palette(4 * 16);
  for (std::size_t i = 0; i < palette.size(); ++i)
    palette[i] = static_cast<std::uint8_t>(i % 4 == 3 ? 0 : rng());
  const int w = 83, h = 29;
  Bytes indices(static_cast<std::size_t>(w * h));
  for (std::size_t i = 0; i < indices.size(); ++i) {
    indices[i] = i >= static_cast<std::size_t>(w) && rng() % 8 != 0
                     ? indices[i - static_cast<std::size_t>(w) + rng() % 2]
                     : static_cast<std::uint8_t>(rng() % 8);
  }
  auto at = [&](int x, int y) { return indices[static_cast<std::size_t>(y * w + x)]; };
  // Alpha on entry 12, which no pixel uses, then on entry 5, which one does.
  for (const std::size_t entry : {12u, 5u}) {
    palette[4 * entry + 3] = 99;
    indices[0] = 5;
    Bytes eight = MakeBmp(w, h, 8, 16, palette, [&](int x, int y, int) { return at(x, y); });
    Bytes expanded = MakeBmp(w, h, 32, 0, {}, [&](int x, int y, int k) {
      return palette[4 * std::size_t{at(x, y)} + static_cast<std::size_t>(k)];
    });
    ASSERT_EQ(Write(eight, 3, "eight.png"), 0) << printed;
    ASSERT_EQ(Write(expanded, 3, "expanded.png"), 0) << printed;
    PngFile got = ReadPng(dir.File("eight.png")), want = ReadPng(dir.File("expanded.png"));
    EXPECT_EQ(got.colorType, entry == 5 ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB);
    EXPECT_EQ(got.colorType, want.colorType);
    EXPECT_EQ(ChunkKinds(got), (std::vector<std::string>{"IHDR", "IDAT", "IEND"}));
    EXPECT_EQ(got.rows, want.rows) << "alpha on entry " << entry;
  }
}

TEST_F(PngExport, OpaqueAlphasStillGetAFullTrnsChunk) {
  Bytes palette = Palette(4);
  for (std::size_t i = 3; i < palette.size(); i += 4) palette[i] = 255;
  ASSERT_EQ(Write(MakeBmp(4, 1, 8, 4, palette, [](int, int, int) { return 0; }), 2), 0);
  EXPECT_EQ(ReadPng(dir.File("out.png")).trns, Bytes(4, 255));
}

TEST_F(PngExport, ThirtyTwoBitsKeepAlphaWhereverItIs) {
  // Any single non-zero alpha, at any pixel, gives RGBA.
  for (int at = 0; at < 15; ++at) {
    Bytes bmp = MakeBmp(5, 3, 32, 0, {}, [at](int x, int y, int k) {
      return k == 3 ? (x + 5 * y == at ? 40 : 0) : 10 * (k + 1) + x + 5 * y;
    });
    ASSERT_EQ(Write(bmp, 1), 0);
    PngFile f = ReadPng(dir.File("out.png"));
    ASSERT_EQ(f.colorType, PNG_COLOR_TYPE_RGB_ALPHA) << at;
    EXPECT_EQ(ChunkKinds(f), (std::vector<std::string>{"IHDR", "IDAT", "IEND"}));
    for (int p = 0; p < 15; ++p) {
      const std::uint8_t* px = f.rows[p / 5].data() + 4 * (p % 5);
      EXPECT_EQ(
          Bytes(px, px + 4),
          (Bytes{static_cast<std::uint8_t>(30 + p), static_cast<std::uint8_t>(20 + p),
                 static_cast<std::uint8_t>(10 + p), static_cast<std::uint8_t>(p == at ? 40 : 0)}));
    }
  }
}

TEST_F(PngExport, OpaqueColourImagesBecomeRgb) {
  // 32 bits with every alpha 0 (the fourth byte is dropped), and 24 bits with
  // row padding (width 5: stride 16). Tiny images included.
  for (auto [w, h, bits] : {std::tuple{5, 3, 32}, {1, 1, 32}, {2, 1, 32}, {5, 3, 24}, {1, 2, 24}}) {
    Bytes bmp = MakeBmp(w, h, bits, 0, {}, [w = w](int x, int y, int k) {
      return k == 3 ? 0 : 10 * (k + 1) + x + w * y;
    });
    ASSERT_EQ(Write(bmp, 2), 0);
    PngFile f = ReadPng(dir.File("out.png"));
    EXPECT_EQ(f.colorType, PNG_COLOR_TYPE_RGB);
    EXPECT_EQ(f.bitDepth, 8);
    EXPECT_EQ(ChunkKinds(f), (std::vector<std::string>{"IHDR", "IDAT", "IEND"}));
    for (int p = 0; p < w * h; ++p) {
      const std::uint8_t* px = f.rows[p / w].data() + 3 * (p % w);
      EXPECT_EQ(Bytes(px, px + 3),
                (Bytes{static_cast<std::uint8_t>(30 + p), static_cast<std::uint8_t>(20 + p),
                       static_cast<std::uint8_t>(10 + p)}))
          << w << "x" << h << "x" << bits << " pixel " << p;
    }
  }
}

// Images that cannot be written are refused before any file is created.
TEST_F(PngExport, MalformedImagesAreRefusedWithTheMessage) {
  auto pixel = [](int, int, int) { return 1; };
  Bytes good = MakeBmp(3, 2, 8, 2, Palette(2), pixel);
  std::vector<Bytes> bad;
  for (int bits : {1, 4, 16}) bad.push_back(MakeBmp(8, 2, bits, 0, {}, pixel));
  bad.push_back(MakeBmp(3, 2, 8, 257, Palette(257), pixel));
  bad.push_back(MakeBmp(0, 2, 8, 2, Palette(2), pixel));
  bad.push_back(MakeBmp(3, 0, 8, 2, Palette(2), pixel));
  bad.push_back(MakeBmp(3, -2, 8, 2, Palette(2), pixel));
  bad.push_back(Bytes(good.begin(), good.end() - 1));     // last row short by one byte
  bad.push_back(Bytes(good.begin(), good.begin() + 53));  // shorter than the headers
  bad.push_back(MakeBmp(3, 2, 8, 0, Palette(2), pixel));  // 256 entries claimed, 2 present
  bad.push_back(good);
  bmp::PutU32(bad.back().data(), bmp::kBfOffBits, 0xFFFFFFF0u);  // pixels past the end
  bad.push_back(MakeBmp(40000, 1, 32, 0, {}, pixel));
  bmp::PutS32(bad.back().data(), bmp::kBiHeight, 40000);  // stride * height past 31 bits
  for (std::size_t i = 0; i < bad.size(); ++i) {
    EXPECT_EQ(Write(bad[i], 2), -1) << i;
    EXPECT_EQ(printed, FailureMessage()) << i;
    EXPECT_TRUE(DirectoryEntries().empty()) << i;
  }
  EXPECT_EQ(Write(good, 2), 0);
}

// Whatever goes wrong, an existing file keeps its content and no temporary
// file is left; a successful write replaces the file whole.
TEST_F(PngExport, OutputAppearsWholeOrNotAtAll) {
  WriteBytes(dir.File("out.png"), {'o', 'l', 'd'});
  // A height past what libpng's readers accept (one million rows).
  Bytes tall = MakeBmp(1, 1000001, 8, 2, Palette(2), [](int, int, int) { return 0; });
  EXPECT_EQ(Write(tall, 1), -1);
  EXPECT_EQ(printed, FailureMessage());
  EXPECT_EQ(ReadBytes(dir.File("out.png")), (Bytes{'o', 'l', 'd'}));
  EXPECT_EQ(DirectoryEntries(), std::vector<std::string>{"out.png"});

  Bytes small = MakeBmp(2, 2, 8, 2, Palette(2), [](int x, int, int) { return x; });
  EXPECT_EQ(Write(small, 1), 0);
  EXPECT_EQ(ReadPng(dir.File("out.png")).width, 2u);
  EXPECT_EQ(DirectoryEntries(), std::vector<std::string>{"out.png"});

  // A missing directory, and a name that is a directory.
  EXPECT_EQ(Write(small, 1, "missing/out.png"), -1);
  EXPECT_EQ(printed, FailureMessage("missing/out.png"));
  std::filesystem::create_directory(dir.File("sub.png"));
  EXPECT_EQ(Write(small, 1, "sub.png"), -1);
  EXPECT_EQ(printed, FailureMessage("sub.png"));
  EXPECT_EQ(DirectoryEntries(), (std::vector<std::string>{"out.png", "sub.png"}));
}

// Run in a child process: writes out.png with files limited to 4 KiB. Exit
// status 0 when WritePng failed and left the old out.png alone, nothing else.
int WriteUnderSizeLimit(const ScratchDir& dir, const Bytes& bmp) {
  signal(SIGXFSZ, SIG_IGN);
  rlimit limit{4096, 4096};
  setrlimit(RLIMIT_FSIZE, &limit);
  int r = WritePng(platform::BytesToWide(dir.File("out.png")), bmp, PaletteOutput::kIndices);
  bool untouched = ReadBytes(dir.File("out.png")) == Bytes{'o', 'l', 'd'};
  auto entries = std::distance(std::filesystem::directory_iterator(dir.path()), {});
  return r == -1 && untouched && entries == 1 ? 0 : 1;
}

// A write that the file system cuts short (here: a file size limit) fails
// the same way.
TEST_F(PngExport, ShortWriteFailsAndKeepsTheOldFile) {
  WriteBytes(dir.File("out.png"), {'o', 'l', 'd'});
  std::mt19937 rng(7);
  Bytes noise = MakeBmp(256, 256, 32, 0, {}, [&rng](int, int, int) { return rng() & 0xFF; });
  EXPECT_EXIT(std::exit(WriteUnderSizeLimit(dir, noise)), testing::ExitedWithCode(0), "");
}

// decode(encode(x)) == x: images of awkward sizes and random content come
// back through the importer byte for byte.
TEST_F(PngExport, RoundTripsThroughTheImporter) {
  std::mt19937 rng(12345);
  for (int trial = 0; trial < 60; ++trial) {
    int w = 1 + static_cast<int>(rng() % 37), h = 1 + static_cast<int>(rng() % 23);
    int kind = trial % 3;
    int bits = kind == 0 ? 8 : kind == 1 ? 24 : 32;
    int colours = kind == 0 ? 1 + static_cast<int>(rng() % 256) : 0;
    Bytes palette;
    for (int i = 0; i < 4 * colours; ++i) palette.push_back(static_cast<std::uint8_t>(rng()));
    Bytes bmp = MakeBmp(w, h, bits, colours, palette, [&](int, int, int k) {
      if (bits == 8) return static_cast<int>(rng() % colours);
      return static_cast<int>(k == 3 && rng() % 4 == 0 ? 0 : rng() & 0xFF);
    });
    if (bits == 32) bmp[54 + 3] = 1;  // at least one alpha
    ASSERT_EQ(Write(bmp, 2), 0);
    Cbuffer back;
    ASSERT_TRUE(PngToBmp(back, ReadBytes(dir.File("out.png"))).ok());
    ASSERT_EQ(Bytes(back.data(), back.data() + back.size()), bmp)
        << "trial " << trial << ": " << w << "x" << h << "x" << bits;
  }
}

// The compressor on its own: what zlib inflates (checking the Adler-32) is
// the rows it was given, or with a palette the rows of their colours. Pixel
// sizes 1 to 4; one-pixel rows; rows longer than the working buffer; content
// with no repeats, one long run, and repeats of every distance up to and past
// the window; small Huffman blocks; lazy and greedy parsing; matches indexed
// whole or only at their ends. The palette repeats colours under other
// indices and gives index 0 the colour 0, so that a match across a filter
// byte would show.
TEST(PngDeflate, InflatesToTheRows) {
  struct Shape {
    std::size_t rowBytes;
    int pixelBytes;
    std::size_t rows;
  };
  const Shape shapes[] = {{1, 1, 1},     {3, 3, 7},     {4, 4, 300},   {5, 1, 2000},   {6, 2, 500},
                          {300, 3, 200}, {1536, 4, 40}, {4000, 1, 30}, {3 << 19, 3, 3}};
  Bytes palette(4 * 256);
  for (std::size_t i = 4; i < palette.size(); ++i)
    palette[i] = static_cast<std::uint8_t>(i % 512 < 8 ? 0 : (i % 512) * 7);
  std::mt19937 rng(3);
  for (const Shape& shape : shapes) {
    for (const bool expand : {false, true}) {
      const std::size_t scale = expand ? static_cast<std::size_t>(shape.pixelBytes) : 1;
      const std::size_t rowLength = shape.rowBytes / scale + 1;
      for (int content = 0; content < 3; ++content) {
        Bytes data(rowLength * shape.rows);
        for (std::size_t i = 0; i < data.size(); ++i) {
          if (content == 0) data[i] = static_cast<std::uint8_t>(rng());
          if (content == 1) data[i] = i % rowLength == 0 ? 0 : 7;
          // Short random stretches repeated from random distances.
          if (content == 2) {
            const std::size_t back = 1 + rng() % (40000 / scale);
            data[i] = i >= back && rng() % 16 != 0 ? data[i - back]
                                                   : static_cast<std::uint8_t>(rng() % 5);
          }
        }
        for (std::size_t y = 0; y < shape.rows; ++y)
          data[y * rowLength] = static_cast<std::uint8_t>(y % 5);
        Bytes expected = data;
        if (expand) {
          expected.clear();
          for (std::size_t i = 0; i < data.size(); ++i) {
            const std::uint8_t* colour = &palette[4 * std::size_t{data[i]}];
            if (i % rowLength == 0) expected.push_back(data[i]);
            if (i % rowLength != 0) expected.insert(expected.end(), colour, colour + scale);
          }
        }
        const PngRows rows{shape.rowBytes, shape.pixelBytes, shape.rows,
                           [&](std::size_t y, std::uint8_t* out) {
                             std::memcpy(out, &data[y * rowLength], rowLength);
                           },
                           expand ? palette.data() : nullptr};
        for (const DeflateEffort& effort :
             {DeflateEffort{},
              DeflateEffort{.chainLength = 4, .lazyBelow = 258, .blockTokens = 100},
              DeflateEffort{.indexEdge = 1}, DeflateEffort{.lazyBelow = 258, .indexEdge = 3}}) {
          Bytes z;
          ASSERT_TRUE(DeflatePngRows(rows, &z, effort));
          Bytes back(expected.size() + 1);
          uLongf length = back.size();
          const std::string what = std::to_string(shape.rowBytes) + "x" +
                                   std::to_string(shape.rows) + " content " +
                                   std::to_string(content) + (expand ? " expanded" : "");
          ASSERT_EQ(uncompress(back.data(), &length, z.data(), z.size()), Z_OK) << what;
          back.resize(length);
          EXPECT_EQ(back, expected) << what;
        }
      }
    }
  }
  // Shapes that are not whole rows of whole pixels.
  auto none = [](std::size_t, std::uint8_t*) {};
  Bytes z;
  for (const PngRows& bad : {PngRows{0, 1, 1, none}, PngRows{4, 3, 1, none}, PngRows{3, 3, 0, none},
                             PngRows{3, 0, 1, none}, PngRows{3, 3, 1, nullptr},
                             PngRows{5, 5, 1, none, palette.data()}}) {
    EXPECT_FALSE(DeflatePngRows(bad, &z));
  }
  EXPECT_TRUE(z.empty());
}

// Huffman code lengths: counts that would make codes deeper than the limit
// (Fibonacci counts) still give a complete code within it; flat counts give
// equal lengths; one symbol, or a limit too small for the symbols, is refused.
TEST(PngDeflate, HuffmanCodesStayWithinTheirLimit) {
  for (auto [symbols, limit] : {std::pair{30, 15}, {19, 7}, {286, 15}, {16, 4}}) {
    for (bool fibonacci : {true, false}) {
      std::vector<std::uint32_t> freq(symbols, 1000);
      if (fibonacci) {
        freq[0] = freq[1] = 1;
        for (int i = 2; i < symbols; ++i) freq[i] = std::min(freq[i - 1] + freq[i - 2], 1u << 24);
      }
      std::vector<std::uint8_t> lengths(symbols);
      ASSERT_TRUE(HuffmanCodeLengths(freq, limit, lengths)) << symbols << " " << limit;
      double kraft = 0;
      for (std::uint8_t l : lengths) {
        ASSERT_GE(l, 1);
        ASSERT_LE(l, limit);
        kraft += std::ldexp(1.0, -l);
      }
      EXPECT_EQ(kraft, 1.0) << symbols << " symbols, limit " << limit;
      // The most frequent symbol never gets a longer code than a rarer one.
      if (fibonacci) {
        EXPECT_LE(lengths[symbols - 1], lengths[0]);
      }
    }
  }
  std::vector<std::uint8_t> lengths(20);
  std::vector<std::uint32_t> one(20, 0);
  one[3] = 5;
  EXPECT_FALSE(HuffmanCodeLengths(one, 15, lengths));
  EXPECT_FALSE(HuffmanCodeLengths(std::vector<std::uint32_t>(20, 1), 4, lengths));
}

// Through the real executable: a PNG that cannot be written ends the run
// with its message and status 255, and no "done." follows.
TEST(PngExportCli, FailedWriteEndsWithoutDone) {
  ScratchDir dir;
  testing_support::Picture p{16, 16, Bytes(256, 1), Bytes(8, 200)};
  WriteBytes(dir.File("pic.ovk"), testing_support::Ovk1000(p));
  for (const char* mode : {"-p", "-p256"}) {
    testing_support::ProcessResult r = testing_support::RunProcess(
        OVKCONV_PATH, {mode, dir.File("pic.ovk"), dir.File("nodir/out.png")});
    EXPECT_EQ(r.out, dir.File("pic.ovk") + " to " + dir.File("nodir/out.png") +
                         "\npngファイルの作成に失敗しました(" + dir.File("nodir/out.png") + ")\n")
        << mode;
    EXPECT_EQ(r.status, 255) << mode;
  }
}

}  // namespace
