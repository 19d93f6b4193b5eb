// Reading ovk files: DecodeOvk on every version and output form, and
// ConvertFromOvk with its outputs, messages and results.
#include <gtest/gtest.h>
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <random>
#include <string>

#include "driver/convert.h"
#include "io/cbuffer.h"
#include "ovk/decoder.h"
#include "ovk/layout.h"
#include "platform/platform.h"
#include "raster/bmp_image.h"
#include "support/bmp_builder.h"
#include "support/ovk_test_writer.h"
#include "support/png_reader.h"
#include "support/scoped_locale.h"
#include "support/test_files.h"

namespace {

using namespace testing_support;

// ---------------------------------------------------------------------------
// Pictures and the images they should become.

Picture Sample(int width, int height, int colours, std::uint32_t seed = 1) {
  std::mt19937 rng(seed);
  Picture p{width, height, Bytes(static_cast<std::size_t>(width) * height), {}};
  for (std::uint8_t& i : p.indices) i = static_cast<std::uint8_t>(rng() % colours);
  for (int c = 0; c < colours; ++c) {
    Append(p.palette, {std::uint8_t(rng()), std::uint8_t(rng()), std::uint8_t(rng()),
                       std::uint8_t(c % 3 == 0 ? 0 : rng())});
  }
  return p;
}

// The 8-bit BMP of a picture (palette in B,G,R,A order, rows bottom-up);
// `known(x, y)` false gives index 0 (pixels a version does not store).
template <typename Known>
Bytes ExpectedBmp8(Picture p, Known known) {
  for (int y = 0; y < p.height; ++y) {
    for (int x = 0; x < p.width; ++x) {
      if (!known(x, y)) p.indices[static_cast<std::size_t>(y) * p.width + x] = 0;
    }
  }
  return BuildBmp(p);
}
Bytes ExpectedBmp8(const Picture& p) {
  return BuildBmp(p);
}

// What a viewer shows: R,G,B,A per pixel, rows top-down. Indices past the
// palette are transparent black.
template <typename Known>
Bytes ExpectedRgba(const Picture& p, Known known) {
  Bytes out;
  for (int y = 0; y < p.height; ++y) {
    for (int x = 0; x < p.width; ++x) {
      const std::size_t i = known(x, y) ? p.At(x, y) : 0;
      for (int k = 0; k < 4; ++k)
        out.push_back(4 * i + k < p.palette.size() ? p.palette[4 * i + k] : 0);
    }
  }
  return out;
}
Bytes ExpectedRgba(const Picture& p) {
  return ExpectedRgba(p, [](int, int) { return true; });
}

// ---------------------------------------------------------------------------
// DecodeOvk as ConvertFromOvk calls it.

struct Decoded {
  Fault code = Fault::kNotOvk;  // what the walk or the decoder reported
  Bytes image;                  // the first bfSize bytes, palette still as the file stores it
  ovk::DecodeReport report;     // how the packed sections ended
};

// `form` 0 and 2 decode as ovk to BMP and -p256 do, 1 to 32 bits (what -p
// takes for versions 1001 and 1005; a file of any version decodes to it).
// With `swap`, the palette is turned into BMP order as the conversion does.
Decoded Decode(const Bytes& file, int form, bool swap = true) {
  Decoded d;
  ovk::OvkHeader h;
  if (ovk::ReadOvkHeader(file, &h) != Fault::kNone) return d;
  ovk::OvkSections sections;
  d.code = ovk::WalkOvk(file, &sections).fault;
  if (d.code != Fault::kNone) return d;
  Bytes image(h.imageBytes, 0);
  bmp::PutU16(image.data(), bmp::kBfType, bmp::kMagic);
  bmp::PutU32(image.data(), bmp::kBiSize, 40);
  bmp::PutU16(image.data(), bmp::kBiPlanes, 1);
  d.code = ovk::DecodeOvk(image, sections,
                          form == 1 ? ovk::PixelForm::k32Bit
                                    : PixelFormFor(h.version, static_cast<OutputForm>(form)),
                          &d.report)
               .fault;
  if (d.code == Fault::kNone) {
    image.resize(bmp::GetU32(image.data(), bmp::kBfSize));
    if (swap)
      SwapRedBlue(image.data() + 54,
                  static_cast<std::int32_t>(bmp::GetU32(image.data(), bmp::kBiClrUsed)));
  }
  d.image = std::move(image);
  return d;
}

// The 32-bit image's pixels as R,G,B,A rows top-down.
Bytes Rgba32(const Bytes& image) {
  const int w = bmp::GetS32(image.data(), bmp::kBiWidth),
            h = bmp::GetS32(image.data(), bmp::kBiHeight);
  Bytes out;
  for (int y = h - 1; y >= 0; --y) {
    const std::uint8_t* px = image.data() + 54 + static_cast<std::size_t>(y) * 4 * w;
    for (int x = 0; x < w; ++x, px += 4) Append(out, {px[2], px[1], px[0], px[3]});
  }
  return out;
}

// The PNG file at `path` as libpng reads it.
DecodedPng ReadPng(const std::string& path) {
  return DecodePng(ReadBytes(path));
}

// ---------------------------------------------------------------------------
// ConvertFromOvk in a scratch directory, with what it printed.

class OvkRead : public testing::Test {
 protected:
  struct Run {
    int result;
    std::string out;
  };
  Run Convert(const std::string& input, const std::string& dest, int pngMode) {
    testing::internal::CaptureStdout();
    int r = ConvertFromOvk(platform::BytesToWide(dir.File(input)),
                           dest.empty() ? std::wstring() : platform::BytesToWide(dir.File(dest)),
                           static_cast<OutputForm>(pngMode));
    return {r, testing::internal::GetCapturedStdout()};
  }
  std::string Path(const std::string& name) const { return dir.File(name); }
  std::string Converted(const std::string& in, const std::string& out) const {
    return Path(in) + " to " + Path(out) + "\n";
  }

  ScopedCtype ctype{"C.UTF-8"};
  ScratchDir dir;
};

// ---------------------------------------------------------------------------

TEST_F(OvkRead, EveryVersionGivesTheSameBmpAndPngs) {
  // 32 x 16, seven colours: every version stores every pixel.
  Picture p = Sample(32, 16, 7);
  struct Case {
    const char* name;
    Bytes file;
  };
  const std::vector<Case> cases = {
      {"v1000", Ovk1000(p)},
      {"v1002", Ovk1002(p)},
      {"v1002b", Ovk1002(p, Packing::kByteCoded)},
      {"v1004", Ovk1004(p)},
      {"v1004b", Ovk1004(p, Packing::kByteCoded)},
      {"v1004p", Ovk1004(p, Packing::kPacker)},
      {"v1005p", Ovk1005(p, {false, false, false, false}, 0, Packing::kPacker)},
      {"v1006p", Ovk1006(p, {.packed = true, .packing = Packing::kPacker})},
      {"v1005m0", Ovk1005(p, {false, false, false, false}, 0)},
      {"v1005m2", Ovk1005(p, {false, false, false, false}, 2, Packing::kByteCoded)},
      {"v1006raw", Ovk1006(p, {.tileWidthLog2 = 4, .tileHeightLog2 = 3})},
      {"v1006packed", Ovk1006(p, {.tileWidthLog2 = 5, .tileHeightLog2 = 4, .packed = true})},
      {"v1006coded", Ovk1006(p, {.tileWidthLog2 = 3,
                                 .tileHeightLog2 = 2,
                                 .packed = true,
                                 .packing = Packing::kByteCoded})},
  };
  Bytes bmp8 = ExpectedBmp8(p);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string in = std::string(c.name) + ".ovk";
    WriteBytes(Path(in), c.file);
    Run r = Convert(in, std::string(c.name) + ".bmp", 0);
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(r.out, Converted(in, std::string(c.name) + ".bmp") + "done.\n");
    Bytes got = ReadBytes(Path(std::string(c.name) + ".bmp"));
    const std::string name = c.name;
    if (name == "v1000" || name.rfind("v1006", 0) == 0) {
      // The palette area of these holds 256 entries.
      Picture full = p;
      full.palette.resize(1024, 0);
      EXPECT_EQ(got, ExpectedBmp8(full));
    } else {
      EXPECT_EQ(got, bmp8);
    }

    // -p: colour with alpha (some entries have alpha other than 255).
    r = Convert(in, std::string(c.name) + "_p.png", 1);
    EXPECT_EQ(r.result, 0);
    DecodedPng png = ReadPng(Path(std::string(c.name) + "_p.png"));
    ASSERT_TRUE(png.ok);
    EXPECT_EQ(png.colorType, PNG_COLOR_TYPE_RGB_ALPHA);
    EXPECT_EQ(PngRgba(png), ExpectedRgba(p));

    // -p256: the palette with one alpha per entry, indices unchanged.
    r = Convert(in, std::string(c.name) + "_256.png", 2);
    EXPECT_EQ(r.result, 0);
    png = ReadPng(Path(std::string(c.name) + "_256.png"));
    ASSERT_TRUE(png.ok);
    EXPECT_EQ(png.colorType, PNG_COLOR_TYPE_PALETTE);
    EXPECT_EQ(png.trns.size(), png.plte.size());
    for (int y = 0; y < p.height; ++y) {
      EXPECT_EQ(png.rows[y], Bytes(p.indices.begin() + y * 32, p.indices.begin() + (y + 1) * 32));
    }
    EXPECT_EQ(PngRgba(png), ExpectedRgba(p));
  }
}

TEST_F(OvkRead, DecodedHeaderFieldsPerForm) {
  Picture p = Sample(20, 6, 16);  // stride 20
  Decoded d8 = Decode(Ovk1002(p), 0, false);
  ASSERT_EQ(d8.code, Fault::kNone);
  // The 8-bit header fields are checked by the comparison with BuildBmp
  // below. The palette stays as the file stores it (R, G, B, A) until the
  // conversion swaps it.
  EXPECT_EQ(Bytes(d8.image.begin() + 54, d8.image.begin() + 118), p.palette);
  EXPECT_EQ(Decode(Ovk1002(p), 2, false).image, d8.image);
  EXPECT_EQ(Decode(Ovk1002(p), 0).image, ExpectedBmp8(p));

  Decoded d32 = Decode(Ovk1002(p), 1);
  ASSERT_EQ(d32.code, Fault::kNone);
  EXPECT_EQ(bmp::GetU32(d32.image.data(), bmp::kBfOffBits), 54u);
  EXPECT_EQ(bmp::GetU32(d32.image.data(), bmp::kBiClrUsed), 0u);
  EXPECT_EQ(bmp::GetU16(d32.image.data(), bmp::kBiBitCount), 32);
  EXPECT_EQ(bmp::GetU32(d32.image.data(), bmp::kBfSize), 54u + 4 * 120);
  EXPECT_EQ(Rgba32(d32.image), ExpectedRgba(p));
}

TEST_F(OvkRead, Version1001SixteenAndThirtyTwoBits) {
  // Width 3: the 16-bit stride is 8 bytes.
  const std::vector<std::uint16_t> px = {0x8000, 0x7FFF, 0x4210, 0x001F, 0x03E0, 0xFC00};
  const Bytes file = Ovk1001(3, 2, px, Packing::kByteCoded);
  Decoded d16 = Decode(file, 0);
  ASSERT_EQ(d16.code, Fault::kNone);
  Bytes want = BmpFrame(3, 2, 16, 0, 8);
  bmp::PutU16(want.data(), 54, 0x001F);  // bottom row first
  bmp::PutU16(want.data(), 56, 0x03E0);
  bmp::PutU16(want.data(), 58, 0xFC00);
  bmp::PutU16(want.data(), 62, 0x8000);
  bmp::PutU16(want.data(), 64, 0x7FFF);
  bmp::PutU16(want.data(), 66, 0x4210);
  EXPECT_EQ(d16.image, want);

  for (int mode : {1, 2}) {
    Decoded d32 = Decode(file, mode);
    ASSERT_EQ(d32.code, Fault::kNone);
    EXPECT_EQ(bmp::GetU16(d32.image.data(), bmp::kBiBitCount), 32);
    EXPECT_EQ(Rgba32(d32.image), (Bytes{0, 0, 0,   255, 255, 255, 255, 0, 132, 132, 132, 0,
                                        0, 0, 255, 0,   0,   255, 0,   0, 255, 0,   0,   255}));
  }
  // Every 5-bit value scales to the nearest of 0..255.
  std::vector<std::uint16_t> ramp;
  for (int v = 0; v < 32; ++v) ramp.push_back(static_cast<std::uint16_t>(v));
  Decoded d = Decode(Ovk1001(32, 1, ramp), 1);
  ASSERT_EQ(d.code, Fault::kNone);
  for (int v = 0; v < 32; ++v) EXPECT_EQ(Rgba32(d.image)[4 * v + 2], (255 * v + 15) / 31) << v;

  // Through the conversion: 16-bit BMP, and a PNG with alpha.
  WriteBytes(Path("c.ovk"), file);
  EXPECT_EQ(Convert("c.ovk", "", 0).result, 0);
  EXPECT_EQ(ReadBytes(Path("c.bmp")), want);
  EXPECT_EQ(Convert("c.ovk", "", 2).result, 0);
  DecodedPng png = ReadPng(Path("c.png"));
  EXPECT_EQ(png.colorType, PNG_COLOR_TYPE_RGB_ALPHA);
  EXPECT_EQ(PngRgba(png)[3], 255);
  EXPECT_EQ(PngRgba(png)[7], 0);
}

TEST_F(OvkRead, Version1004BlockOrder) {
  // 32 x 20: three bands; the third band's blocks carry 4 rows.
  Picture p = Sample(32, 20, 50);
  Bytes blocks = BlockOrder(p);
  EXPECT_EQ(Decode(Ovk1004(p), 0).image, ExpectedBmp8(p));

  // 40 wide: two blocks per band, columns 32..39 not stored.
  Picture wide = Sample(40, 16, 50);
  EXPECT_EQ(Decode(Ovk1004(wide), 0).image, ExpectedBmp8(wide, [](int x, int) { return x < 32; }));

  // BlocksToRows on its own: the skipped rows of the last band are not read
  // into the picture whatever they hold.
  Bytes source = blocks;
  for (int i = 0; i < 2; ++i) {
    for (int k = 4 * 16; k < 128; ++k) source[2 * 8 * 32 + i * 128 + k] = 0xEE;
  }
  Bytes target(32 * 20, 0);
  ASSERT_TRUE(ovk::BlocksToRows(20, 32, target, source));
  for (std::uint8_t v : target) ASSERT_NE(v, 0xEE);
  EXPECT_EQ(target[0], p.At(0, 19));
  EXPECT_FALSE(ovk::BlocksToRows(20, 32, target, Bytes(source.begin(), source.end() - 1)));
}

TEST_F(OvkRead, Version1005TransparencyInEachForm) {
  // 32 x 16 with blocks 1 and 2 empty; entry 5 is the first with alpha 0.
  Picture p = Sample(32, 16, 12, 3);
  for (int e = 0; e < 12; ++e) p.palette[4 * e + 3] = e == 5 || e == 9 ? 0 : 200;
  const Bytes file = Ovk1005(p, {false, true, true, false}, 2);
  auto empty = [](int x, int y) { return (x >= 16) != (y >= 8); };
  Decoded d8 = Decode(file, 0);
  ASSERT_EQ(d8.code, Fault::kNone);
  Picture filled = p;
  for (int y = 0; y < 16; ++y) {
    for (int x = 0; x < 32; ++x) {
      if (empty(x, y)) filled.indices[y * 32 + x] = 5;
    }
  }
  EXPECT_EQ(d8.image, ExpectedBmp8(filled));

  Decoded d32 = Decode(file, 1);
  ASSERT_EQ(d32.code, Fault::kNone);
  Bytes rgba = ExpectedRgba(p);
  for (int y = 0; y < 16; ++y) {
    for (int x = 0; x < 32; ++x) {
      if (empty(x, y)) std::fill_n(rgba.begin() + 4 * (y * 32 + x), 4, 0);
    }
  }
  EXPECT_EQ(Rgba32(d32.image), rgba);
}

TEST_F(OvkRead, ShortSectionsLeaveZeros) {
  // A 1002 pixel section that unpacks to half the plane: the bottom half of
  // the picture is index 0.
  Picture p = Sample(16, 16, 9);
  Bytes file = SmallHeader(1002, 16, 16);
  Append(file, PackedSection(p.palette));
  Bytes half = PackedSection(Bytes(p.indices.begin(), p.indices.begin() + 128));
  bmp::PutU32(half.data(), 4, 256);  // unpackedSize: the whole plane
  Append(file, half);
  const Decoded d8 = Decode(file, 0);
  EXPECT_EQ(d8.image, ExpectedBmp8(p, [](int, int y) { return y < 8; }));
  EXPECT_EQ(Rgba32(Decode(file, 1).image), ExpectedRgba(p, [](int, int y) { return y < 8; }));
  // The decoder knows the plane's stream fell short, not that it was damaged.
  EXPECT_EQ(d8.report.packedSections, 2);
  EXPECT_EQ(d8.report.worstEnd, UnpackEnd::kShort);
  EXPECT_EQ(d8.report.missingBytes, 128u);
  EXPECT_EQ(Decode(Ovk1002(p), 0).report.worstEnd, UnpackEnd::kComplete);
  // A plane whose one block starts with an invalid byte code is damaged; the
  // picture decodes all the same, to index 0.
  Bytes damaged = SmallHeader(1002, 16, 16);
  Append(damaged, PackedSection(p.palette));
  Append(damaged, Bytes{12, 0, 0, 0, 0, 1, 0, 0, 1, 0, 0, 0, 0x03, 0x00, 0x60, 0x00});
  const Decoded bad = Decode(damaged, 0);
  ASSERT_EQ(bad.code, Fault::kNone);
  EXPECT_EQ(bad.report.worstEnd, UnpackEnd::kCorrupt);
  EXPECT_EQ(bad.report.missingBytes, 256u);

  // The same for 1004 and 1001, whose steps read the whole plane.
  file = LargeHeader(1004, 16, 16, 9);
  Append(file, PackedSection(p.palette));
  Append(file, half);
  EXPECT_EQ(Decode(file, 0).image, ExpectedBmp8(p, [](int, int y) { return y < 8; }));
  Bytes v1001 = SmallHeader(1001, 8, 16);
  Append(v1001, half);
  Decoded d = Decode(v1001, 1);
  ASSERT_EQ(d.code, Fault::kNone);
  EXPECT_EQ(Rgba32(d.image)[4 * 8 * 15 + 3], 0);  // bottom rows: 0x0000, transparent black
}

TEST_F(OvkRead, IndicesPastThePaletteAndTilesPastTheStride) {
  // Two palette entries, indices up to 6: in the 32-bit form those pixels are
  // four zero bytes; the 8-bit form keeps the indices.
  Picture p = Sample(16, 8, 7);
  p.palette.resize(8);
  EXPECT_EQ(Rgba32(Decode(Ovk1002(p), 1).image), ExpectedRgba(p));
  EXPECT_EQ(Decode(Ovk1002(p), 0).image, ExpectedBmp8(p));

  // A tile wider than the row stride covers nothing: the file is damaged,
  // however much tile data follows; so are tile sizes of 2^31 and above.
  Picture q = Sample(16, 16, 4);
  Bytes raw = CcpiHeader(16 + 16 + 1000, 4, 5, 4, 16, 16, 0x00);
  Append(raw, Bytes(q.palette.begin(), q.palette.end()));
  raw.resize(raw.size() + 1000, 0);
  EXPECT_EQ(Decode(raw, 1).code, Fault::kDamaged);
  raw[16] = 200;
  EXPECT_EQ(Decode(raw, 0).code, Fault::kDamaged);
}

TEST_F(OvkRead, DamagedFilesGiveCodes) {
  Picture p = Sample(16, 16, 4);
  // A CCPI file with reserved flag bits is no file the walk hands on.
  Bytes flags = Ovk1006(p, {});
  flags[23] = 0x83;
  ovk::OvkSections flagged;
  EXPECT_EQ(ovk::WalkOvk(flags, &flagged), Fault::kNotOvk);
  // Tile data that no encoder writes: entry count 0.
  Bytes raw = CcpiHeader(16 + 16 + 8, 4, 4, 4, 16, 16, 0x00);
  Append(raw, Bytes(16 + 8, 0));
  EXPECT_EQ(Decode(raw, 0).code, Fault::kDamaged);
  // Tile data that ends too soon.
  Bytes good = Ovk1006(p, {.paletteCount = 4});
  EXPECT_EQ(Decode(good, 0).code, Fault::kNone);
  Bytes cut(good.begin(), good.end() - 1);
  bmp::PutU32(cut.data(), 4, static_cast<std::uint32_t>(cut.size() - 8));
  EXPECT_EQ(Decode(cut, 0).code, Fault::kDamaged);
  // A tile of width 1 is no tile.
  Bytes thin = good;
  thin[16] = 0;
  EXPECT_EQ(Decode(thin, 0).code, Fault::kDamaged);
  // 1005 block data that runs past its section.
  Bytes v1005 = Ovk1005Raw(16, 8, p.palette, Bytes{0x10, 0x01, 0x00, 0x11});
  EXPECT_EQ(Decode(v1005, 0).code, Fault::kDamaged);
  // An image buffer smaller than the header asks for.
  Bytes tiny(100, 0);
  const Bytes v1000 = Ovk1000(p);
  ovk::OvkSections s1000;
  ASSERT_EQ(ovk::WalkOvk(v1000, &s1000), Fault::kNone);
  EXPECT_EQ(ovk::DecodeOvk(tiny, s1000, ovk::PixelForm::kFileDepth), Fault::kNoWorkingMemory);
}

TEST_F(OvkRead, RefusedFilesPrintTheirMessageAndWriteNothing) {
  Picture p = Sample(16, 16, 4);
  const std::string notOvk = "対応ファイルではありません(";
  struct Case {
    std::string name;
    Bytes file;
    std::string message;  // the input's path is appended, then ")\n"
  };
  Bytes v1003 = Ovk1000(p);
  v1003[0] = 0xEB;  // 1003
  Bytes flags83 = Ovk1006(p, {});
  flags83[23] = 0x83;
  // One refusal from the header and one from the walk (the header checks
  // themselves are OvkHeader's), and the extension rule.
  const std::vector<Case> cases = {
      {"v1003.ovk", v1003, notOvk},
      {"f83.ovk", flags83, notOvk},
      {"picture.bmp.x", Ovk1000(p), notOvk},
      {"noext", Ovk1000(p), notOvk},
  };
  for (const Case& c : cases) {
    WriteBytes(Path(c.name), c.file);
    Run r = Convert(c.name, "", 0);
    EXPECT_EQ(r.result, -1) << c.name;
    EXPECT_EQ(r.out, c.message + Path(c.name) + ")\n") << c.name;
  }
  // The extension is matched in any case.
  WriteBytes(Path("upper.OvK"), Ovk1000(p));
  EXPECT_EQ(Convert("upper.OvK", "", 0).result, 0);

  // Damaged files, found by the walk or by the decoder, in every output
  // form: only the error line, never the output name. (Which files are
  // damaged is OvkHeader's and OvkWalk's.)
  Bytes truncated = Ovk1002(p);
  truncated.pop_back();
  Bytes badTiles = CcpiHeader(16 + 16 + 8, 4, 4, 4, 16, 16, 0x00);
  Append(badTiles, Bytes(16 + 8, 0));
  for (const Bytes& file : {truncated, badTiles}) {
    WriteBytes(Path("bad.ovk"), file);
    for (int mode : {0, 1, 2}) {
      Run r = Convert("bad.ovk", "", mode);
      EXPECT_EQ(r.result, -1);
      EXPECT_EQ(r.out, "ovk変換エラー(5)\n");
    }
  }
  // The input that cannot be read.
  Run r = Convert("missing.ovk", "", 0);
  EXPECT_EQ(r.result, -1);
  EXPECT_EQ(r.out, "ファイルのオープンに失敗(" + Path("missing.ovk") + ")\n");
  std::vector<std::string> want = {"bad.ovk",   "f83.ovk",   "noext",    "picture.bmp.x",
                                   "upper.OvK", "upper.bmp", "v1003.ovk"};
  EXPECT_EQ(DirectoryNames(dir.path()), want);
}

TEST_F(OvkRead, FailedConversionKeepsTheExistingOutput) {
  Picture p = Sample(16, 16, 4);
  Bytes bad = Ovk1002(p);
  bad.resize(bad.size() - 3);
  WriteBytes(Path("pic.ovk"), bad);
  WriteBytes(Path("pic.bmp"), {'o', 'l', 'd'});
  WriteBytes(Path("pic.png"), {'o', 'l', 'd'});
  EXPECT_EQ(Convert("pic.ovk", "", 0).result, -1);
  EXPECT_EQ(Convert("pic.ovk", "", 1).result, -1);
  EXPECT_EQ(ReadBytes(Path("pic.bmp")), (Bytes{'o', 'l', 'd'}));
  EXPECT_EQ(ReadBytes(Path("pic.png")), (Bytes{'o', 'l', 'd'}));
  // A good file replaces it whole.
  WriteBytes(Path("pic.ovk"), Ovk1002(p));
  EXPECT_EQ(Convert("pic.ovk", "", 0).result, 0);
  EXPECT_EQ(ReadBytes(Path("pic.bmp")), ExpectedBmp8(p));
  EXPECT_EQ(DirectoryNames(dir.path()),
            (std::vector<std::string>{"pic.bmp", "pic.ovk", "pic.png"}));
}

TEST_F(OvkRead, OutputsThatCannotBeWritten) {
  Picture p = Sample(16, 16, 4);
  WriteBytes(Path("pic.ovk"), Ovk1000(p));
  // A missing directory: each path reports its failure and stops, with no
  // "done." after it.
  Run r = Convert("pic.ovk", "nodir/out.bmp", 0);
  EXPECT_EQ(r.result, -1);
  EXPECT_EQ(r.out, Converted("pic.ovk", "nodir/out.bmp") + "ファイルのオープンに失敗(" +
                       Path("nodir/out.bmp") + ")\n");
  r = Convert("pic.ovk", "nodir/out.png", 1);
  EXPECT_EQ(r.result, -1);
  EXPECT_EQ(r.out, Converted("pic.ovk", "nodir/out.png") + "pngファイルの作成に失敗しました(" +
                       Path("nodir/out.png") + ")\n");
  // Into a directory given as the destination: the input's name, new extension.
  std::filesystem::create_directory(Path("outdir"));
  r = Convert("pic.ovk", "outdir", 2);
  EXPECT_EQ(r.result, 0);
  EXPECT_EQ(r.out, Converted("pic.ovk", "outdir/pic.png") + "done.\n");
  EXPECT_TRUE(FileExists(Path("outdir/pic.png")));
}

TEST_F(OvkRead, ReadOnlyOutputIsRefused) {
  if (geteuid() == 0) GTEST_SKIP() << "permissions do not bind the superuser";
  Picture p = Sample(16, 16, 4);
  WriteBytes(Path("pic.ovk"), Ovk1000(p));
  WriteBytes(Path("pic.bmp"), {'o', 'l', 'd'});
  chmod(Path("pic.bmp").c_str(), 0444);
  Run r = Convert("pic.ovk", "", 0);
  EXPECT_EQ(r.result, -1);
  EXPECT_EQ(r.out, Converted("pic.ovk", "pic.bmp") + "ファイルのオープンに失敗(" + Path("pic.bmp") +
                       ")\n");
  EXPECT_EQ(ReadBytes(Path("pic.bmp")), (Bytes{'o', 'l', 'd'}));
}

}  // namespace
