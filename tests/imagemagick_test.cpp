// Our BMP and PNG outputs as a reader that nobody here wrote sees them:
// ImageMagick's convert dumps each file as raw RGBA, which must be the
// picture the ovk file holds.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <random>
#include <sstream>
#include <string>

#include "ovk/convert.h"
#include "platform/platform.h"
#include "support/ovk_test_writer.h"
#include "support/run_process.h"
#include "support/scoped_locale.h"
#include "support/test_files.h"

namespace {

using namespace testing_support;

// ImageMagick's convert: the system's own copy first, else the first on PATH.
std::string FindConvert() {
  if (access("/usr/bin/convert", X_OK) == 0) return "/usr/bin/convert";
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path != nullptr ? path : "");
  for (std::string dir; std::getline(dirs, dir, ':');) {
    const std::string candidate = dir + "/convert";
    if (!dir.empty() && access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return "";
}

class ImageMagick : public testing::Test {
 protected:
  void SetUp() override {
    tool = FindConvert();
    if (tool.empty()) GTEST_SKIP() << "ImageMagick's convert is not installed";
    ProcessResult version = RunProcess(tool, {"-version"});
    if (version.status != 0 || version.out.find("ImageMagick") == std::string::npos) {
      GTEST_SKIP() << tool << " is not ImageMagick";
    }
  }

  // Converts `ovk` (written as in.ovk) with `pngMode` and returns the output
  // as ImageMagick decodes it: R, G, B, A bytes, rows top-down.
  Bytes Seen(const Bytes& ovk, int pngMode, const std::string& out) {
    WriteBytes(dir.File("in.ovk"), ovk);
    testing::internal::CaptureStdout();
    int r = ConvertFromOvk(platform::BytesToWide(dir.File("in.ovk")),
                           platform::BytesToWide(dir.File(out)), pngMode);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(r, 0) << out;
    ProcessResult dump = RunProcess(tool, {dir.File(out), "-depth", "8", "rgba:-"});
    EXPECT_EQ(dump.status, 0) << dump.err;
    return Bytes(dump.out.begin(), dump.out.end());
  }

  std::string tool;
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

TEST_F(ImageMagick, OpaquePictureAsRgbPng) {
  Picture p = Sample(16, 16, 5);
  for (std::size_t e = 0; e < p.palette.size(); e += 4) p.palette[e + 3] = 0;  // no alpha at all
  Bytes seen = Seen(Ovk1002(p), 1, "rgb.png");
  // Written as RGB: every pixel opaque, colours intact.
  EXPECT_EQ(seen, Rgba(p, true));
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
