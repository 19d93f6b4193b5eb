// Every output kind through the real executable: the golden files of
// tests/data/ok/ made again byte for byte, the damaged files of
// tests/data/bad/ refused with their exact messages, and a write that the
// file system cuts short, which must keep an old file and leave no new one.
#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "support/bmp_builder.h"
#include "support/ovk_test_writer.h"
#include "support/run_process.h"
#include "support/test_files.h"

namespace {

namespace ts = testing_support;
using ts::Bytes;
using ts::ProcessResult;
using ts::ScratchDir;

// The arguments of one conversion: the option (if any), input, output.
std::vector<std::string> Args(const std::string& option, const std::string& in,
                              const std::string& out) {
  std::vector<std::string> args;
  if (!option.empty()) args.push_back(option);
  args.push_back(in);
  args.push_back(out);
  return args;
}

// ---------------------------------------------------------------------------
// Golden files: the option, the input and the expected output, all in ok/.

struct Golden {
  const char* option;
  const char* input;
  const char* expected;
};

const Golden kGolden[] = {
    {"", "v1000_16x16.ovk", "v1000_16x16.bmp"},
    {"", "v1001_8x4.ovk", "v1001_8x4.bmp"},
    {"", "v1002_20x12.ovk", "v1002_20x12.bmp"},
    {"", "v1004_32x20.ovk", "v1004_32x20.bmp"},
    {"", "v1005_mode0_32x16.ovk", "v1005_mode0_32x16.bmp"},
    {"", "v1005_mode2_16x8.ovk", "v1005_mode2_16x8.bmp"},
    {"", "v1006_packed_32x16.ovk", "v1006_packed_32x16.bmp"},
    {"", "v1006_raw_16x16.ovk", "v1006_raw_16x16.bmp"},
    {"-p", "v1006_packed_32x16.ovk", "v1006_packed_32x16.png"},
    {"-p256", "v1006_packed_32x16.ovk", "v1006_packed_32x16.p256.png"},
    {"-v0", "v1000_16x16.bmp", "v1000_16x16.v0.ovk"},
    {"-v2", "v1000_16x16.bmp", "v1000_16x16.v2.ovk"},
    {"-v4", "v1000_16x16.bmp", "v1000_16x16.v4.ovk"},
    {"-v6", "v1000_16x16.bmp", "v1000_16x16.v6.ovk"},
    {"-v60", "v1000_16x16.bmp", "v1000_16x16.v60.ovk"},
    {"-v0", "basn3p08.png", "basn3p08.v0.ovk"},
    {"-v2", "basn3p08.png", "basn3p08.v2.ovk"},
    {"-v4", "basn3p08.png", "basn3p08.v4.ovk"},
    {"-v6", "basn3p08.png", "basn3p08.v6.ovk"},
    {"-v60", "basn3p08.png", "basn3p08.v60.ovk"},
};

TEST(Golden, OkFilesConvertToTheirExpectedOutputExactly) {
  ScratchDir dir;
  for (const Golden& g : kGolden) {
    const std::string in = ts::DataPath(std::string("ok/") + g.input);
    const std::string out = dir.File(g.expected);
    ProcessResult r = ts::RunOvkconv(Args(g.option, in, out));
    const std::string label = std::string(g.option) + " " + g.input;
    EXPECT_EQ(r.out, in + " to " + out + "\ndone.\n") << label;
    EXPECT_EQ(r.err, "") << label;
    EXPECT_EQ(r.status, 0) << label;
    EXPECT_EQ(ts::ReadBytes(out), ts::ReadBytes(ts::DataPath(std::string("ok/") + g.expected)))
        << label;
  }
  // Every file in ok/ is an input or an expected output of the table.
  for (const std::string& name : ts::DirectoryNames(ts::DataPath("ok"))) {
    if (name == "README.md") continue;
    bool used = false;
    for (const Golden& g : kGolden) used = used || name == g.input || name == g.expected;
    EXPECT_TRUE(used) << name << " is in no row";
  }
}

// Damaged files: the message printed before and after the input's path, and
// what libpng says on standard error.
struct Refused {
  const char* input;
  const char* before;
  const char* after;
  const char* err;
};

const char kNotOvk[] = "対応ファイルではありません(";
const char kUnsupported[] = "未対応の画像ファイルです(";

const Refused kRefused[] = {
    {"truncated_1000_pixels.ovk", nullptr, "ovk変換エラー(5)\n", ""},
    {"truncated_1002.ovk", nullptr, "ovk変換エラー(5)\n", ""},
    {"truncated_1006_tiles.ovk", nullptr, "ovk変換エラー(5)\n", ""},
    {"tiles_garbled_1006.ovk", nullptr, "ovk変換エラー(5)\n", ""},
    {"version_1007.ovk", kNotOvk, ")\n", ""},
    {"zero_width_1002.ovk", kNotOvk, ")\n", ""},
    {"no_ccpi_1006.ovk", kNotOvk, ")\n", ""},
    {"truncated_16x16.bmp", kUnsupported, ")\nbitcount=8 width=16 height=16\n", ""},
    {"bits16_8x4.bmp", kUnsupported, ")\nbitcount=16 width=8 height=4\n", ""},
    {"rgb_basn2c08.png", kUnsupported, ")\nbitcount=24 width=32 height=32\n", ""},
    {"xcrn0g04.png", kNotOvk, ")\n", ""},
    {"xd0n2c08.png", kNotOvk, ")\n",
     "libpng warning: Invalid bit depth in IHDR\n"
     "libpng warning: Invalid color type/bit depth combination in IHDR\n"
     "libpng error: Invalid IHDR data\n"},
// A chunk claiming 2 GiB (50 MB in the 41-byte file) that the file does
// not hold: libpng says so and stops where the data ends.
#define CLAIM(file, chunk)                                                               \
  {                                                                                      \
    file, kNotOvk, ")\n",                                                                \
        "libpng warning: " chunk ": chunk data is too large\nlibpng error: Read Error\n" \
  }
    CLAIM("claim_IDAT.png", "IDAT"),
    CLAIM("claim_PLTE.png", "PLTE"),
    CLAIM("claim_eXIf.png", "eXIf"),
    CLAIM("claim_iCCP.png", "iCCP"),
    CLAIM("claim_iTXt.png", "iTXt"),
    CLAIM("claim_pCAL.png", "pCAL"),
    CLAIM("claim_prVt.png", "prVt"),
    CLAIM("claim_sCAL.png", "sCAL"),
    CLAIM("claim_sPLT.png", "sPLT"),
    CLAIM("claim_sPLT_41.png", "sPLT"),
    CLAIM("claim_tEXt.png", "tEXt"),
    CLAIM("claim_zTXt.png", "zTXt"),
#undef CLAIM
};

TEST(Golden, BadFilesAreRefusedWithTheirMessageAndNoOutput) {
  ScratchDir dir;
  for (const Refused& f : kRefused) {
    const std::string in = ts::DataPath(std::string("bad/") + f.input);
    const std::string out = dir.File("out");
    ProcessResult r = ts::RunOvkconv({in, out});
    const std::string message = f.before == nullptr ? f.after : f.before + in + f.after;
    EXPECT_EQ(r.out, message) << f.input;
    EXPECT_EQ(r.err, f.err) << f.input;
    EXPECT_EQ(r.status, 255) << f.input;
    EXPECT_TRUE(ts::DirectoryNames(dir.path()).empty()) << f.input;
  }
  std::vector<std::string> listed;
  for (const Refused& f : kRefused) listed.push_back(f.input);
  listed.push_back("README.md");
  std::sort(listed.begin(), listed.end());
  EXPECT_EQ(ts::DirectoryNames(ts::DataPath("bad")), listed) << "every file has one row";
}

// ---------------------------------------------------------------------------
// A write cut short by a file size limit of one block (SIGXFSZ ignored, so
// the write fails instead of killing): the conversion reports it and exits
// with 255; an old file of the output's name stays as it was, and without one
// nothing is left.

struct OutputKind {
  const char* option;
  bool fromOvk;         // the input is an ovk file (else a BMP)
  const char* failure;  // the message after "in to out", before the output's name
};

std::ostream& operator<<(std::ostream& os, const OutputKind& k) {
  return os << (*k.option != 0 ? k.option : "bmp");
}

class ShortWrite : public testing::TestWithParam<OutputKind> {};

const char kWriteFailed[] = "ファイルの書き込みに失敗(";

INSTANTIATE_TEST_SUITE_P(
    EveryOutput, ShortWrite,
    testing::Values(OutputKind{"-v0", false, kWriteFailed}, OutputKind{"-v2", false, kWriteFailed},
                    OutputKind{"-v4", false, kWriteFailed}, OutputKind{"-v6", false, kWriteFailed},
                    OutputKind{"-v60", false, kWriteFailed}, OutputKind{"", true, kWriteFailed},
                    OutputKind{"-p", true, "pngファイルの作成に失敗しました("},
                    OutputKind{"-p256", true, "pngファイルの作成に失敗しました("}),
    [](const testing::TestParamInfo<OutputKind>& info) {
      std::string name = *info.param.option != 0 ? info.param.option + 1 : "bmp";
      return name;
    });

// 32 x 160 in 16 colours, flat areas with one pixel in ten at random: every
// output kind takes several KiB of it, and every tile codes at the first
// attempt.
ts::Picture ShortWritePicture() {
  std::mt19937 rng(5);
  return ts::RandomPicture(rng, 32, 160, 16, 10);
}

TEST_P(ShortWrite, FailsAndKeepsTheOldFileOrLeavesNone) {
  const OutputKind& kind = GetParam();
  ScratchDir dir;
  const ts::Picture picture = ShortWritePicture();
  const std::string in = dir.File(kind.fromOvk ? "in.ovk" : "in.bmp");
  ts::WriteBytes(in, kind.fromOvk ? ts::Ovk1000(picture) : ts::BuildBmp(picture));
  const std::string out = dir.File(!kind.fromOvk       ? "out.ovk"
                                   : *kind.option != 0 ? "out.png"
                                                       : "out.bmp");
  std::vector<std::string> args = {"-c", "trap '' XFSZ; ulimit -f 1; exec \"$0\" \"$@\"",
                                   OVKCONV_PATH};
  for (const std::string& a : Args(kind.option, in, out)) args.push_back(a);
  const std::string expected = in + " to " + out + "\n" + kind.failure + out + ")\n";

  for (bool old : {false, true}) {
    const Bytes oldBytes = {'o', 'l', 'd'};
    if (old) ts::WriteBytes(out, oldBytes);
    ProcessResult r = ts::RunProcess("/bin/sh", args);
    EXPECT_EQ(r.out, expected) << "old file: " << old;
    EXPECT_EQ(r.err, "") << "old file: " << old;
    EXPECT_EQ(r.status, 255) << "old file: " << old;
    EXPECT_EQ(ts::FileExists(out), old);
    if (old) {
      EXPECT_EQ(ts::ReadBytes(out), oldBytes);
    }
    EXPECT_EQ(ts::DirectoryNames(dir.path()).size(), old ? 2u : 1u) << "no temporary is left";
  }
  // Without the limit the same conversion succeeds: the limit is what failed it.
  ProcessResult free = ts::RunOvkconv(Args(kind.option, in, out));
  EXPECT_EQ(free.status, 0);
  EXPECT_GT(ts::ReadBytes(out).size(), 512u);
}

}  // namespace
