// Colour pictures brought back to a palette: the mapping on memory, then -m
// through the real executable (round trips of the bundled files, refusals).
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "raster/palette_map.h"
#include "support/bmp_builder.h"
#include "support/byte_order.h"
#include "support/ovk_test_writer.h"
#include "support/png_reader.h"
#include "support/run_process.h"
#include "support/test_files.h"

namespace {

namespace ts = testing_support;
using ts::Bytes;
using ts::ProcessResult;
using ts::RunOvkconv;

BmpLayout Layout(const Bytes& bmp) {
  BmpLayout layout;
  EXPECT_TRUE(ReadBmpLayout(bmp, &layout));
  return layout;
}

Palette Entries(std::vector<std::uint32_t> entries) {
  Palette p;
  for (std::uint32_t e : entries) p.entries[static_cast<std::size_t>(p.count++)] = e;
  return p;
}

// The index of pixel (x, y), y from the top, in a bottom-up 8-bit image.
int IndexAt(const BmpImage& image, int x, int y) {
  const std::uint8_t* img = image.data();
  const std::int32_t width = bmp::GetS32(img, bmp::kBiWidth);
  const std::int32_t rows = bmp::GetS32(img, bmp::kBiHeight);
  const std::size_t stride = (static_cast<std::size_t>(width) + 3) & ~std::size_t{3};
  return img[bmp::GetU32(img, bmp::kBfOffBits) + (rows - 1 - y) * stride + x];
}

TEST(PaletteMap, EachPixelTakesTheFirstEntryOfItsColour) {
  // Entries 1 and 3 share red, green and blue; entry 2 repeats entry 1.
  const Palette palette =
      Entries({0xFF000000, 0xFF112233, 0xFF112233, 0x80112233, 0x00445566, 0x12345678});
  // Pixels: (0,0) entry 3's colour, (1,0) entry 1's, (2,0) entry 4's.
  const auto colours = [](int x, int y) -> std::uint32_t {
    if (y != 0) return 0xFF000000;
    return x == 0 ? 0x80112233 : x == 1 ? 0xFF112233 : x == 2 ? 0x00445566 : 0xFF000000;
  };
  struct Case {
    std::uint16_t bitCount;
    bool ignoreAlpha;
    std::vector<int> row0;
  };
  for (const Case& c : std::vector<Case>{{32, false, {3, 1, 4}},  // alpha tells 1 and 3 apart
                                         {32, true, {1, 1, 4}},   // -na compares RGB
                                         {24, false, {1, 1, 4}}}) {
    SCOPED_TRACE(testing::Message() << c.bitCount << " bits, ignoreAlpha " << c.ignoreAlpha);
    const Bytes bmp = ts::ColourBmp(5, 3, c.bitCount, colours);
    BmpImage out;
    MapReport report;
    ASSERT_EQ(MapToPalette(Layout(bmp), palette, c.ignoreAlpha, &out, &report), MapStatus::kOk);
    for (int x = 0; x < 3; ++x) EXPECT_EQ(IndexAt(out, x, 0), c.row0[x]) << x;
    EXPECT_EQ(IndexAt(out, 4, 2), 0);
    EXPECT_EQ(bmp::GetU32(out.data(), bmp::kBiClrUsed), 6u);
  }

  // A 32-bit picture whose alphas are all 0 (a BMP's reserved byte) carries
  // none: it compares as RGB, as does an 8-bit one whose entries have none.
  const Bytes noAlpha = ts::ColourBmp(4, 1, 32, [](int, int) { return 0x00112233u; });
  BmpImage out;
  MapReport report;
  ASSERT_EQ(MapToPalette(Layout(noAlpha), palette, false, &out, &report), MapStatus::kOk);
  EXPECT_EQ(IndexAt(out, 0, 0), 1);
  ts::Picture indexed{4, 1, {1, 0, 1, 0}, {0x11, 0x22, 0x33, 0, 9, 9, 9, 0}};
  const Bytes eightBit = ts::BuildBmp(indexed);
  ASSERT_EQ(MapToPalette(Layout(eightBit), Entries({0xFF090909, 0xFF112233}), false, &out, &report),
            MapStatus::kOk);
  EXPECT_EQ(IndexAt(out, 0, 0), 0);
  EXPECT_EQ(IndexAt(out, 1, 0), 1);
}

TEST(PaletteMap, OwnPaletteInOrderOfFirstAppearanceUpTo256Colours) {
  // Columns of three colours, met from the top row: C, A, B.
  const auto colours = [](int x, int y) -> std::uint32_t {
    if (y == 0) return x < 2 ? 0xFF0000CC : 0xFF0000AA;
    return x == 3 ? 0xFF0000BB : 0xFF0000AA;
  };
  for (bool topDown : {false, true}) {
    const Bytes bmp = ts::ColourBmp(4, 2, 24, colours, topDown);
    BmpImage out;
    MapReport report;
    ASSERT_EQ(MapToOwnPalette(Layout(bmp), false, &out, &report), MapStatus::kOk);
    EXPECT_EQ(bmp::GetU32(out.data(), bmp::kBiClrUsed), 3u);
    // RGB colours get alpha 0.
    EXPECT_EQ(Bytes(out.data() + 54, out.data() + 66),
              (Bytes{0xCC, 0, 0, 0, 0xAA, 0, 0, 0, 0xBB, 0, 0, 0}));
    EXPECT_EQ(IndexAt(out, 0, 0), 0);
    EXPECT_EQ(IndexAt(out, 2, 0), 1);
    EXPECT_EQ(IndexAt(out, 3, 1), 2);
  }

  // Past 256 colours the count is exact; alpha counts at 32 bits (256
  // colours by RGB, 512 with alpha) unless -na is given.
  BmpImage out;
  MapReport report;
  const Bytes alphas = ts::ColourBmp(
      16, 32, 32, [](int x, int y) { return (y % 2 ? 0x80000000u : 0u) | (y / 2 * 16 + x); });
  EXPECT_EQ(MapToOwnPalette(Layout(alphas), false, &out, &report), MapStatus::kTooManyColours);
  EXPECT_EQ(report.distinct, 512);
  EXPECT_EQ(out.data(), nullptr);
  EXPECT_EQ(MapToOwnPalette(Layout(alphas), true, &out, &report), MapStatus::kOk);
  EXPECT_EQ(CountColours(Layout(alphas)), 512);
}

// The loop the README shows: extract with -p, edit, put back with -m and the
// same version. Without an edit the put-back writes the very same file, over
// the reference itself.
void ExpectPutBackGivesTheSameFile(const Bytes& original, const std::string& option) {
  ts::ScratchDir dir;
  const std::string ovk = dir.File("x.ovk");
  const std::string png = dir.File("x.png");
  ts::WriteBytes(ovk, original);
  ProcessResult r = RunOvkconv({"-p", ovk, png});
  ASSERT_EQ(r.status, 0) << r.out;
  r = RunOvkconv({"-m" + ovk, option, png});
  // (Version 1006 may print its tile retries in between.)
  EXPECT_EQ(r.out.rfind(png + " to " + ovk + "\n", 0), 0u) << r.out;
  EXPECT_TRUE(r.out.ends_with("done.\n")) << r.out;
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(ts::ReadBytes(ovk) == original) << "not the same file";
}

const char* const kWriteOptions[] = {"-v0", "-v2", "-v4", "-v6", "-v60"};

// The bundled artwork and the small golden file, in every writable version.
// (The golden basn3p08 files are no candidates: import's gamma correction
// gave their palette duplicate colours, and a put-back takes the first.)
TEST(PaletteMapCli, PutBackOfAnExtractedPictureGivesTheSameFile) {
  for (const std::string option : kWriteOptions) {
    SCOPED_TRACE("v1000_16x16 " + option);
    ExpectPutBackGivesTheSameFile(
        ts::ReadBytes(ts::DataPath("ok/v1000_16x16." + option.substr(1) + ".ovk")), option);
  }
  ts::ScratchDir dir;
  int images = 0;
  for (const auto& entry : std::filesystem::directory_iterator(ts::DataPath("images"))) {
    if (entry.path().extension() != ".png") continue;
    ++images;
    for (const std::string option : kWriteOptions) {
      SCOPED_TRACE(entry.path().filename().string() + " " + option);
      const std::string ovk = dir.File("art" + option + ".ovk");
      ASSERT_EQ(RunOvkconv({option, entry.path().string(), ovk}).status, 0);
      ExpectPutBackGivesTheSameFile(ts::ReadBytes(ovk), option);
    }
  }
  EXPECT_EQ(images, 5);
}

// A picture of 256 colours in RGB gets a palette of its own and comes back
// with the same pixels.
TEST(PaletteMapCli, OwnPaletteKeepsThePixels) {
  ts::ScratchDir dir;
  const std::string first = dir.File("first.ovk");
  const std::string rgb = dir.File("rgb.png");
  const std::string again = dir.File("again.ovk");
  const std::string back = dir.File("back.png");
  ASSERT_EQ(RunOvkconv({ts::DataPath("images/preview_592x336.png"), first}).status, 0);
  ASSERT_EQ(RunOvkconv({"-p", first, rgb}).status, 0);
  ProcessResult r = RunOvkconv({"-m", rgb, again});
  EXPECT_EQ(r.out, rgb + " to " + again + "\ndone.\n");
  ASSERT_EQ(RunOvkconv({"-p", again, back}).status, 0);
  const ts::DecodedPng before = ts::DecodePng(ts::ReadBytes(rgb));
  const ts::DecodedPng after = ts::DecodePng(ts::ReadBytes(back));
  ASSERT_TRUE(before.ok && after.ok);
  EXPECT_EQ(before.colorType, 2);
  EXPECT_TRUE(ts::PngRgba(before) == ts::PngRgba(after));
}

TEST(PaletteMapCli, RefusalsSayWhyAndWriteNothing) {
  ts::ScratchDir dir;
  // A reference of two colours, and a picture with two pixels of others.
  const std::string ref = dir.File("ref.bmp");
  ts::WriteBytes(ref, ts::BuildBmp({16, 16, Bytes(256, 1), {10, 20, 30, 0, 40, 50, 60, 0}}));
  const std::string foreign = dir.File("foreign.bmp");
  ts::WriteBytes(foreign, ts::ColourBmp(
                              16, 16, 24,
                              [](int x, int y) {
                                if ((x == 5 && y == 2) || (x == 7 && y == 9)) return 0xABCDEFu;
                                return x < 8 ? 0x0A141Eu : 0x28323Cu;
                              },
                              /*topDown=*/true));
  const std::string many = dir.File("many.bmp");
  ts::WriteBytes(many, ts::ColourBmp(16, 32, 32, [](int x, int y) {
                   return 0xFF000000u | (x == 0 && y == 31 ? 0xFFFFFFu : (16u * y + x) % 256);
                 }));
  const std::string odd = dir.File("odd.bmp");
  ts::WriteBytes(odd, ts::ColourBmp(20, 16, 24, [](int, int) { return 0u; }));
  const std::string cut = dir.File("cut.bmp");
  Bytes cutBytes = ts::ColourBmp(16, 16, 24, [](int, int) { return 0u; });
  cutBytes.pop_back();  // the last row is a byte short
  ts::WriteBytes(cut, cutBytes);
  const std::string v1001 = ts::DataPath("ok/v1001_8x4.ovk");
  const std::vector<std::string> before = ts::DirectoryNames(dir.path());

  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"-m" + ref, foreign},
       "パレットにない色があります(" + foreign + ")\nx=5 y=2 color=#ABCDEF pixels=2\n"},
      {{"-m", many}, "色数が256を超えています(" + many + ")\ncolors=257\n"},
      {{"-m", odd}, "未対応の画像ファイルです(" + odd + ")\nbitcount=24 width=20 height=16\n"},
      {{"-m", cut}, "未対応の画像ファイルです(" + cut + ")\nbitcount=24 width=16 height=16\n"},
      {{"-m" + v1001, foreign}, "パレットがありません(" + v1001 + ")\n"},
      {{"-mno_such_palette.ovk", foreign}, "ファイルが見つかりません？(no_such_palette.ovk)\n"},
  };
  for (const auto& [args, expected] : cases) {
    SCOPED_TRACE(args[0]);
    ProcessResult r = RunOvkconv(args);
    EXPECT_EQ(r.out, expected);
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(ts::DirectoryNames(dir.path()), before);
  }
  // With every colour in the reference the picture goes through.
  const std::string fitting = dir.File("fitting.bmp");
  ts::WriteBytes(
      fitting, ts::ColourBmp(16, 16, 24, [](int x, int) { return x < 8 ? 0x0A141Eu : 0x28323Cu; }));
  const std::string out = dir.File("fitting.ovk");
  ProcessResult r = RunOvkconv({"-m" + ref, "-v0", fitting, out});
  EXPECT_EQ(r.status, 0) << r.out;
  ts::Picture expected{16, 16, Bytes(256, 0), {10, 20, 30, 0, 40, 50, 60, 0}};
  for (std::size_t i = 0; i < expected.indices.size(); ++i) expected.indices[i] = i % 16 >= 8;
  EXPECT_TRUE(ts::ReadBytes(out) == ts::Ovk1000(expected));
}

}  // namespace
