#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "raster/bmp_image.h"
#include "raster/png_import.h"
#include "support/bmp_builder.h"
#include "support/png_reader.h"
#include "support/test_files.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using testing_support::DataPath;
using testing_support::ReadBytes;

// A PNG for the test to build chunk by chunk (support/bmp_builder.h).
struct PngDesc {
  int width = 16, height = 2, colorType = PNG_COLOR_TYPE_PALETTE, bitDepth = 8;
  std::vector<Bytes> rows;  // raw PNG row bytes, top first
  std::vector<png_color> plte;
  Bytes trns;
  png_fixed_point gamma = 0;  // 0: no gAMA chunk
};

Bytes Encode(const PngDesc& s) {
  std::vector<testing_support::PngChunk> chunks;
  if (s.gamma != 0) {
    chunks.push_back({"gAMA", {}});
    testing_support::AppendBe32(chunks.back().data, static_cast<std::uint32_t>(s.gamma));
  }
  if (!s.plte.empty()) {
    chunks.push_back({"PLTE", {}});
    for (const png_color& c : s.plte)
      chunks.back().data.insert(chunks.back().data.end(), {c.red, c.green, c.blue});
  }
  if (!s.trns.empty()) chunks.push_back({"tRNS", s.trns});
  return testing_support::ChunkPng(
      {static_cast<std::uint32_t>(s.width), static_cast<std::uint32_t>(s.height),
       static_cast<std::uint8_t>(s.bitDepth), static_cast<std::uint8_t>(s.colorType)},
      testing_support::ZlibRows(s.rows), chunks);
}

// A palette image whose entry i is (i, 255 - i, i / 2) and whose pixel i is
// index i: every 8-bit value appears in the palette.
PngDesc RampPalette(int entries) {
  PngDesc s;
  s.width = 16;
  s.height = (entries + 15) / 16;
  for (int i = 0; i < entries; ++i) {
    s.plte.push_back(
        {static_cast<png_byte>(i), static_cast<png_byte>(255 - i), static_cast<png_byte>(i / 2)});
  }
  for (int y = 0; y < s.height; ++y) {
    Bytes row(16);
    for (int x = 0; x < 16; ++x)
      row[x] = static_cast<std::uint8_t>(std::min(y * 16 + x, entries - 1));
    s.rows.push_back(row);
  }
  return s;
}

// libpng's own decoding of the same file, with the transformations the
// import asks for, and the palette expanded when asked. Rows top first.
testing_support::DecodedPng DecodeWithLibpng(const Bytes& file, bool expandPalette) {
  testing_support::DecodedPng ref =
      testing_support::DecodePng(file, {.asImported = true, .expandPalette = expandPalette});
  EXPECT_TRUE(ref.ok);
  return ref;
}

// Header fields of a BmpImage.
struct Header {
  std::int32_t fileSize, pixelOffset, width, height, bitCount, imageSize, colorCount;
};
Header ReadHeader(const Cbuffer& b) {
  const std::uint8_t* p = b.data();
  return {bmp::GetS32(p, bmp::kBfSize),     bmp::GetS32(p, bmp::kBfOffBits),
          bmp::GetS32(p, bmp::kBiWidth),    bmp::GetS32(p, bmp::kBiHeight),
          bmp::GetU16(p, bmp::kBiBitCount), bmp::GetS32(p, bmp::kBiSizeImage),
          bmp::GetS32(p, bmp::kBiClrUsed)};
}

// BMP row `r` of the picture counted from the top.
const std::uint8_t* RowFromTop(const Cbuffer& b, int r) {
  Header h = ReadHeader(b);
  return b.data() + h.pixelOffset + (h.height - 1 - r) * RowStride(h.width, h.bitCount);
}

// Imports `png`, checking that nothing is printed; libpng's messages go to
// `messages` when given.
std::int32_t Import(Cbuffer& out, std::span<const std::uint8_t> png,
                    std::string* messages = nullptr) {
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  const Error e = PngToBmp(out, png, {}, nullptr, messages);
  // The image's length, 0 when the file is unreadable, -1 when refused.
  const std::int32_t n = e.ok() ? out.size() : e == Fault::kUnsupportedImage ? -1 : 0;
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  return n;
}

TEST(PngImport, PaletteHeaderEntriesAndRows) {
  PngDesc s = RampPalette(256);
  for (int i = 0; i < 256; ++i) s.trns.push_back(static_cast<std::uint8_t>(255 - i));
  Cbuffer out;
  std::int32_t n = Import(out, Encode(s));
  ASSERT_EQ(n, 1078 + 16 * 16);
  EXPECT_EQ(out.size(), n);
  Header h = ReadHeader(out);
  EXPECT_EQ(h.fileSize, n);
  EXPECT_EQ(h.pixelOffset, 1078);
  EXPECT_EQ(h.bitCount, 8);
  EXPECT_EQ(h.colorCount, 256);
  EXPECT_EQ(h.imageSize, 256);
  EXPECT_EQ(bmp::GetU16(out.data(), bmp::kBfType), bmp::kMagic);
  EXPECT_EQ(bmp::GetU32(out.data(), bmp::kBiSize), 40u);
  EXPECT_EQ(bmp::GetU16(out.data(), bmp::kBiPlanes), 1);
  for (int i = 0; i < 256; ++i) {
    const std::uint8_t* e = out.data() + 54 + 4 * i;
    ASSERT_EQ(Bytes(e, e + 4),
              (Bytes{static_cast<std::uint8_t>(i / 2), static_cast<std::uint8_t>(255 - i),
                     static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(255 - i)}));
  }
  for (int r = 0; r < 16; ++r) {
    EXPECT_EQ(Bytes(RowFromTop(out, r), RowFromTop(out, r) + 16), s.rows[r]) << r;
  }
}

TEST(PngImport, ShortOrMissingTrnsGivesZeroAlpha) {
  for (std::size_t trnsCount : {0u, 3u}) {
    PngDesc s = RampPalette(16);
    s.plte[0] = {10, 20, 30};
    s.trns.assign({7, 8, 9});
    s.trns.resize(trnsCount);
    Cbuffer out;
    ASSERT_GT(Import(out, Encode(s)), 0);
    Header h = ReadHeader(out);
    EXPECT_EQ(h.colorCount, 16);
    EXPECT_EQ(h.pixelOffset, 118);
    EXPECT_EQ(h.bitCount, 8);
    EXPECT_EQ(Bytes(out.data() + 54, out.data() + 57), (Bytes{30, 20, 10}));
    for (int j = 0; j < 16; ++j) {
      int expected = j < static_cast<int>(trnsCount) ? s.trns[j] : 0;
      EXPECT_EQ(out.data()[54 + 4 * j + 3], expected) << j;
    }
  }
}

TEST(PngImport, FourBitRowsKeepTheirPackingAndPadding) {
  PngDesc s;
  s.width = 5;
  s.height = 3;
  s.bitDepth = 4;
  s.plte.assign(16, png_color{1, 2, 3});
  s.rows = {{0x12, 0x34, 0x50}, {0x67, 0x89, 0xA0}, {0xBC, 0xDE, 0xF0}};
  Cbuffer out;
  ASSERT_EQ(Import(out, Encode(s)), 118 + 12);
  EXPECT_EQ(ReadHeader(out).bitCount, 4);
  Bytes pixels(out.data() + 118, out.data() + 130);
  EXPECT_EQ(pixels, (Bytes{0xBC, 0xDE, 0xF0, 0, 0x67, 0x89, 0xA0, 0, 0x12, 0x34, 0x50, 0}));
}

TEST(PngImport, ColourSamplesBecomeBgrWithStrippedHighBytes) {
  // 16-bit RGB, width 5: 24 bits, stride 16 with one zero byte of padding.
  PngDesc rgb;
  rgb.colorType = PNG_COLOR_TYPE_RGB;
  rgb.bitDepth = 16;
  rgb.width = 5;
  rgb.height = 1;
  rgb.rows.push_back(Bytes(30));
  for (int i = 0; i < 30; ++i) rgb.rows[0][i] = static_cast<std::uint8_t>(i % 2 ? 0xEE : i);
  Cbuffer out;
  ASSERT_EQ(Import(out, Encode(rgb)), 54 + 16);
  EXPECT_EQ(ReadHeader(out).bitCount, 24);
  EXPECT_EQ(ReadHeader(out).colorCount, 0);
  EXPECT_EQ(Bytes(out.data() + 54, out.data() + 70),
            (Bytes{4, 2, 0, 10, 8, 6, 16, 14, 12, 22, 20, 18, 28, 26, 24, 0}));

  // RGBA width 3: 32 bits, stride 12, alpha in the fourth byte.
  PngDesc rgba;
  rgba.colorType = PNG_COLOR_TYPE_RGB_ALPHA;
  rgba.width = 3;
  rgba.height = 2;
  rgba.rows = {{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12},
               {13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24}};
  ASSERT_EQ(Import(out, Encode(rgba)), 54 + 24);
  EXPECT_EQ(ReadHeader(out).bitCount, 32);
  EXPECT_EQ(Bytes(out.data() + 54, out.data() + 78),
            (Bytes{15, 14, 13, 16, 19, 18, 17, 20, 23, 22, 21, 24,  // bottom row first
                   3,  2,  1,  4,  7,  6,  5,  8,  11, 10, 9,  12}));
}

TEST(PngImport, GreyGivesAHeaderWithoutPixels) {
  for (const char* name :
       {"basn0g01", "basn0g02", "basn0g04", "basn0g08", "basn0g16", "basn4a08", "basn4a16"}) {
    Cbuffer out;
    ASSERT_EQ(Import(out, ReadBytes(DataPath("pngsuite/") + name + ".png")), 54) << name;
    Header h = ReadHeader(out);
    EXPECT_EQ(h.bitCount, 0);
    EXPECT_EQ(h.imageSize, 0);
    EXPECT_EQ(h.fileSize, 54);
    EXPECT_EQ(h.width, 32);
  }
}

TEST(PngImport, InterlacedFilesReadLikeTheirPlainTwins) {
  int pairs = 0;
  for (const std::string& name : testing_support::PngSuiteNames()) {
    if (name[3] != 'i' || name[0] == 'x') continue;
    const std::string path = DataPath("pngsuite/" + name);
    std::string twin = name;
    twin[3] = 'n';
    if (!std::filesystem::exists(DataPath("pngsuite/" + twin))) continue;
    Cbuffer a, b;
    std::string messages;
    ASSERT_GT(Import(a, ReadBytes(path), &messages), 0) << name;
    EXPECT_EQ(messages,
              "libpng warning: Interlace handling should be turned on when using "
              "png_read_image\n");
    ASSERT_GT(Import(b, ReadBytes(DataPath("pngsuite/" + twin))), 0) << twin;
    EXPECT_EQ(Bytes(a.data(), a.data() + a.size()), Bytes(b.data(), b.data() + b.size())) << name;
    ++pairs;
  }
  EXPECT_GE(pairs, 30);
}

// The palette gamma correction must give exactly what libpng's own palette
// expansion gives, for every 8-bit value and for gammas on both sides of
// libpng's thresholds (a transform within 1 +- 0.05 is left alone, and so is
// one whose exponent lands within that band: 47750 corrects nothing).
TEST(PngImport, PaletteGammaMatchesLibpngExpansion) {
  auto check = [](const Bytes& file, const std::string& what) {
    Cbuffer out;
    std::string warnings;  // interlaced files warn
    std::int32_t n = Import(out, file, &warnings);
    ASSERT_GT(n, 0) << what;
    testing_support::DecodedPng ref = DecodeWithLibpng(file, true);
    Header h = ReadHeader(out);
    for (std::uint32_t y = 0; y < ref.height; ++y) {
      const std::uint8_t* indices = RowFromTop(out, static_cast<int>(y));
      for (std::uint32_t x = 0; x < ref.width; ++x) {
        int shift = 8 - h.bitCount - static_cast<int>(x * h.bitCount % 8);
        int index = (indices[x * h.bitCount / 8] >> shift) & ((1 << h.bitCount) - 1);
        if (index >= h.colorCount) continue;
        const std::uint8_t* entry = out.data() + 54 + 4 * index;
        const std::uint8_t* expanded = ref.rows[y].data() + ref.channels * x;
        ASSERT_EQ(Bytes(entry, entry + 3), Bytes(expanded, expanded + 3))
            << what << " pixel " << x << "," << y << " index " << index;
      }
    }
  };
  for (png_fixed_point gamma :
       {16, 35000, 45000, 45455, 47500, 47750, 48000, 55000, 100000, 250000, 12800000, 625000000}) {
    PngDesc s = RampPalette(256);
    s.gamma = gamma;
    check(Encode(s), "gamma " + std::to_string(gamma));
  }
  int files = 0;
  for (const std::string& name : testing_support::PngSuiteNames()) {
    if (name[0] == 'x' || name[4] != '3') continue;
    check(ReadBytes(DataPath("pngsuite/" + name)), name);
    ++files;
  }
  EXPECT_GE(files, 50);
}

TEST(PngImport, GammaOfOneIsCorrectedAndOneOverTwoPointTwoIsNot) {
  for (png_fixed_point gamma : {45455, 100000}) {
    PngDesc s = RampPalette(256);
    s.gamma = gamma;
    Cbuffer out;
    ASSERT_GT(Import(out, Encode(s)), 0);
    int changed = 0;
    for (int i = 0; i < 256; ++i) changed += out.data()[54 + 4 * i + 2] != i;
    if (gamma == 45455) {
      EXPECT_EQ(changed, 0);
    } else {
      EXPECT_GT(changed, 200);
      EXPECT_EQ(out.data()[54 + 2], 0);  // the ends stay
      EXPECT_EQ(out.data()[54 + 4 * 255 + 2], 255);
      EXPECT_EQ(out.data()[54 + 4 * 128 + 2], 186);  // 255 * (128/255)^(1/2.2), rounded
    }
  }
}

TEST(PngImport, EverySuiteFileConvertsOrFailsCleanly) {
  int converted = 0, refused = 0;
  for (const std::string& name : testing_support::PngSuiteNames()) {
    Bytes file = ReadBytes(DataPath("pngsuite/" + name));
    Cbuffer out;
    out.Alloc(3)[0] = 0x5A;
    std::string err;
    std::int32_t n = Import(out, file, &err);
    if (name[0] == 'x') {
      EXPECT_EQ(n, 0) << name;
      EXPECT_EQ(out.size(), 3) << name;
      EXPECT_EQ(out.data()[0], 0x5A) << name;
      EXPECT_NE(err.find("libpng error: "), std::string::npos) << name;
      ++refused;
      continue;
    }
    ASSERT_GT(n, 0) << name << err;
    ASSERT_EQ(out.size(), n);
    Header h = ReadHeader(out);
    int colourType = name[4] - '0', depth = std::stoi(name.substr(6, 2));
    int expectedBits[] = {0, 0, 24, depth, 0, 0, 32};
    EXPECT_EQ(h.bitCount, expectedBits[colourType]) << name;
    EXPECT_EQ(h.colorCount == 0, colourType != 3) << name;
    EXPECT_LE(h.colorCount, 1 << depth) << name;
    EXPECT_EQ(h.pixelOffset, 54 + 4 * h.colorCount);
    EXPECT_EQ(h.imageSize, RowStride(h.width, h.bitCount) * h.height);
    EXPECT_EQ(h.fileSize, n);

    // Pixels against libpng's own decoding with the same transformations.
    if (h.bitCount != 0) {
      testing_support::DecodedPng ref = DecodeWithLibpng(file, false);
      ASSERT_EQ(static_cast<png_uint_32>(h.width), ref.width);
      ASSERT_EQ(static_cast<png_uint_32>(h.height), ref.height);
      std::size_t rowBytes = (static_cast<std::size_t>(h.width) * h.bitCount + 7) / 8;
      for (int y = 0; y < h.height; ++y) {
        ASSERT_EQ(Bytes(RowFromTop(out, y), RowFromTop(out, y) + rowBytes),
                  Bytes(ref.rows[y].begin(), ref.rows[y].begin() + rowBytes))
            << name << " row " << y;
      }
    }
    ++converted;
  }
  EXPECT_EQ(converted, 161);
  EXPECT_EQ(refused, 14);
}

TEST(PngImport, TruncatedFilesFailWithLibpngsMessage) {
  for (const char* name : {"basn3p08", "basi6a16", "tbbn3p08"}) {
    Bytes file = ReadBytes(DataPath("pngsuite/") + name + ".png");
    for (std::size_t len = 0; len < file.size(); len += 1 + len / 50) {
      Cbuffer out;
      std::string err;
      std::int32_t n = Import(out, std::span(file.data(), len), &err);
      ASSERT_EQ(n, 0) << name << " " << len;
      EXPECT_EQ(out.data(), nullptr);
      EXPECT_NE(err.find("libpng error: "), std::string::npos) << name << " " << len;
    }
  }
}

// A valid header and an image-data chunk, with dimensions that libpng accepts
// but whose BMP would not fit in 31 bits: refused before any allocation.
TEST(PngImport, OversizedImagesAreRefusedBeforeAllocating) {
  for (auto [w, h, type] : {std::tuple{1000000u, 1000000u, 6},
                            {46341u, 46341u, 3},
                            {30000u, 30000u, 2},
                            {1000000u, 8000u, 0},
                            {2145u, 1000000u, 3}}) {
    const Bytes file = testing_support::ChunkPng({w, h, 8, static_cast<std::uint8_t>(type)},
                                                 {0x78, 0x9C, 0x03, 0x00, 0x00, 0x00, 0x00, 0x01});
    Cbuffer out;
    std::string err;
    EXPECT_EQ(Import(out, file, &err), 0) << w << "x" << h;
    EXPECT_EQ(err, "libpng error: Image too large to convert\n");
  }
}

// Image data inflates to at most 1032 bytes per byte of the file: the
// densest data zlib writes passes; sides the file cannot fill fail before
// anything is allocated, as libpng fails on data that runs out.
TEST(PngImport, ImageDataMustFitInTheFile) {
  const Bytes zeros = testing_support::ZlibZeros(2048u * (1 + 2048));
  Cbuffer out;
  ASSERT_EQ(Import(out, testing_support::ChunkPng({2048, 2048, 8, 3}, zeros)), 1078 + 2048 * 2048);
  EXPECT_EQ(std::count(out.data() + 1078, out.data() + out.size(), 0), 2048 * 2048);
  for (std::uint8_t interlace : {0, 1}) {
    std::string err;
    EXPECT_EQ(Import(out, testing_support::ChunkPng({2896, 2896, 8, 3, interlace}, zeros), &err),
              0);
    EXPECT_EQ(err, "libpng error: Not enough image data\n");
  }
}

TEST(PngImport, DataThatEndsEarlyIsAReadError) {
  const Bytes file = ReadBytes(DataPath("images/swirl_480x448.png"));
  Cbuffer out;
  ASSERT_GT(Import(out, file), 0);
  const std::int32_t n = static_cast<std::int32_t>(out.size());
  std::string err;
  EXPECT_EQ(Import(out, std::span(file).first(file.size() / 2), &err), 0);
  EXPECT_EQ(err, "libpng error: Read Error\n");
  EXPECT_EQ(out.size(), n);
}

}  // namespace
