// Our BMP and PNG outputs as readers that nobody here wrote see them: the
// real executable converts, pngcheck must pass every PNG, and ImageMagick's
// convert dumps each file as raw RGBA, which must be the picture the ovk file
// holds.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <random>
#include <sstream>
#include <string>

#include "support/ovk_test_writer.h"
#include "support/run_process.h"
#include "support/scoped_locale.h"
#include "support/test_files.h"

namespace {

using namespace testing_support;

// A tool: the system's own copy first, else the first on PATH.
std::string FindTool(const std::string& name) {
  if (access(("/usr/bin/" + name).c_str(), X_OK) == 0) return "/usr/bin/" + name;
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path != nullptr ? path : "");
  for (std::string dir; std::getline(dirs, dir, ':');) {
    const std::string candidate = dir + "/" + name;
    if (!dir.empty() && access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return "";
}

class ImageMagick : public testing::Test {
 protected:
  void SetUp() override {
    tool = FindTool("convert");
    pngcheck = FindTool("pngcheck");
    if (tool.empty()) GTEST_SKIP() << "ImageMagick's convert is not installed";
    if (pngcheck.empty()) GTEST_SKIP() << "pngcheck is not installed";
    ProcessResult version = RunProcess(tool, {"-version"});
    if (version.status != 0 || version.out.find("ImageMagick") == std::string::npos) {
      GTEST_SKIP() << tool << " is not ImageMagick";
    }
  }

  // Converts `ovk` (written as in.ovk) with ovkconv and `pngMode` and returns
  // the output as ImageMagick decodes it: R, G, B, A bytes, rows top-down.
  Bytes Seen(const Bytes& ovk, int pngMode, const std::string& out) {
    WriteBytes(dir.File("in.ovk"), ovk);
    std::vector<std::string> args = {dir.File("in.ovk"), dir.File(out)};
    if (pngMode != 0) args.insert(args.begin(), pngMode == 1 ? "-p" : "-p256");
    ProcessResult run = RunProcess(OVKCONV_PATH, args);
    EXPECT_EQ(run.status, 0) << out << ": " << run.out;
    EXPECT_EQ(run.out, dir.File("in.ovk") + " to " + dir.File(out) + "\ndone.\n");
    if (pngMode != 0) {
      ProcessResult check = RunProcess(pngcheck, {dir.File(out)});
      EXPECT_EQ(check.status, 0) << check.out;
    }
    ProcessResult dump = RunProcess(tool, {dir.File(out), "-depth", "8", "rgba:-"});
    EXPECT_EQ(dump.status, 0) << dump.err;
    return Bytes(dump.out.begin(), dump.out.end());
  }

  std::string tool;
  std::string pngcheck;
  ScopedCtype ctype{"C.UTF-8"};
  ScratchDir dir;
};

Picture Sample(int width, int height, int colours) {
  std::mt19937 rng(99);
  Picture p{width, height, Bytes(static_cast<std::size_t>(width) * height), {}};
  for (std::uint8_t& i : p.indices) i = static_cast<std::uint8_t>(rng() % colours);
  for (int c = 0; c < colours; ++c) {
    Append(p.palette, {std::uint8_t(rng()), std::uint8_t(rng()), std::uint8_t(rng()),
                       std::uint8_t(c % 4 == 0 ? 0 : 128 + c)});
  }
  return p;
}

// The picture as R, G, B, A; with `opaque`, every alpha is 255 (a BMP
// carries no alpha for other readers).
Bytes Rgba(const Picture& p, bool opaque) {
  Bytes out;
  for (std::uint8_t i : p.indices) {
    Append(out, {p.palette[4 * i], p.palette[4 * i + 1], p.palette[4 * i + 2],
                 std::uint8_t(opaque ? 255 : p.palette[4 * i + 3])});
  }
  return out;
}

TEST_F(ImageMagick, PaletteVersionsAsBmpAndPng) {
  // Width 20: rows padded to 20 bytes at 8 bits; 1004 and 1005 need widths
  // of whole blocks, so they get 32.
  const Picture narrow = Sample(20, 12, 11);
  const Picture wide = Sample(32, 16, 11);
  struct Case {
    const char* name;
    Bytes file;
    const Picture* picture;
  };
  const std::vector<Case> cases = {
      {"1000", Ovk1000(narrow), &narrow},
      {"1002", Ovk1002(narrow, Packing::kByteCoded), &narrow},
      {"1004", Ovk1004(wide), &wide},
      {"1005", Ovk1005(wide, {false, false, false, false}, 2), &wide},
      {"1006", Ovk1006(wide, {.tileWidthLog2 = 3, .tileHeightLog2 = 3, .packed = true}), &wide},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Seen(c.file, 0, "out.bmp"), Rgba(*c.picture, true));
    EXPECT_EQ(Seen(c.file, 1, "out.png"), Rgba(*c.picture, false));
    EXPECT_EQ(Seen(c.file, 2, "out256.png"), Rgba(*c.picture, false));
  }
}

// A damaged file whose pixels use indices past its 6-entry palette: -p256
// extends the palette with transparent black, which is what -p shows there.
TEST_F(ImageMagick, IndicesPastThePaletteShowAsInThirtyTwoBits) {
  Picture p = Sample(32, 16, 6);
  for (std::size_t i = 0; i < p.indices.size(); i += 7)
    p.indices[i] = static_cast<std::uint8_t>(6 + i % 9);
  p.palette[3] = 255;  // some alpha, so that -p writes RGBA
  Picture shown = p;   // the same picture with the extension spelled out
  shown.palette.resize(4 * 15, 0);
  const Bytes file = Ovk1002(p);
  const Bytes rgba = Seen(file, 1, "out.png");
  EXPECT_EQ(rgba, Rgba(shown, false));
  EXPECT_EQ(Seen(file, 2, "out256.png"), rgba);
}

// A picture large enough for long matches, matches across rows and farther
// back than the compressor's window, every one of the forms.
TEST_F(ImageMagick, LargePatternedPicture) {
  Picture p = Sample(400, 240, 40);
  for (int y = 0; y < p.height; ++y) {
    for (int x = 0; x < p.width; ++x) {
      const int v = (x / 7 + y / 5 + (x * y) / 97) % 40;
      if ((x + 3 * y) % 11 != 0) p.indices[static_cast<std::size_t>(y) * p.width + x] = v;
    }
  }
  for (std::size_t e = 3; e < p.palette.size(); e += 8) p.palette[e] = 0;
  const Bytes file = Ovk1002(p);
  EXPECT_EQ(Seen(file, 1, "big.png"), Rgba(p, false));
  EXPECT_EQ(Seen(file, 2, "big256.png"), Rgba(p, false));
  // No alpha at all: -p writes RGB, every pixel opaque, colours intact.
  for (std::size_t e = 3; e < p.palette.size(); e += 4) p.palette[e] = 0;
  EXPECT_EQ(Seen(Ovk1002(p), 1, "bigrgb.png"), Rgba(p, true));
}

TEST_F(ImageMagick, SixteenBitPictureAsBmpAndPng) {
  std::mt19937 rng(5);
  const int w = 7, h = 5;  // 14 bytes a row, padded to 16
  std::vector<std::uint16_t> px(w * h);
  for (std::uint16_t& v : px) v = static_cast<std::uint16_t>(rng());
  const Bytes file = Ovk1001(w, h, px);
  const Bytes bmp = Seen(file, 0, "out.bmp");
  const Bytes png = Seen(file, 1, "out.png");
  ASSERT_EQ(bmp.size(), 4u * w * h);
  ASSERT_EQ(png.size(), 4u * w * h);
  for (int i = 0; i < w * h; ++i) {
    const int v[3] = {(px[i] >> 10) & 31, (px[i] >> 5) & 31, px[i] & 31};
    for (int k = 0; k < 3; ++k) {
      const int want = (15 + 255 * v[k]) / 31;
      EXPECT_EQ(png[4 * i + k], want) << i;
      // A 5-bit channel may be widened by bit replication: within 1 of the
      // nearest value.
      EXPECT_LE(std::abs(bmp[4 * i + k] - want), 1) << i;
    }
    EXPECT_EQ(png[4 * i + 3], (px[i] & 0x8000) ? 255 : 0) << i;
  }
}

}  // namespace
