// The command line through the real executable: exact output, exit status,
// locale and working-directory behaviour. The conversions themselves are
// tested elsewhere; here a found input shows only as the absence of the
// "not found" message, except for damaged ovk files that claim far more than
// they hold, which must be refused within a memory limit.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/ovk_test_writer.h"
#include "support/run_process.h"
#include "support/test_files.h"

namespace {

using testing_support::ProcessOptions;
using testing_support::ProcessResult;
using testing_support::RunOvkconv;
using testing_support::RunProcess;
using testing_support::ScratchDir;
using testing_support::WriteBytes;
namespace ts = testing_support;

const char kUsage[] =
    "ovk Converter ver.0.3b\n"
    "Usage : ovkconv [-na] [-v<0246>] [-p[256]] <image_file> [dest_path]\n"
    "\t-na        : 透明度情報無視(ovkへの変換用)(省略可)\n"
    "\t-v<0|2|4|6>: ovkバージョンの指定(ovkへの変換用)(省略時=6)\n"
    "\t-p         : png出力(ovkからの変換用)(省略可)\n"
    "\t-p256      : 256色png出力(ovkからの変換用)(省略可)\n"
    "\timage_file : 変換する画像ファイル(bmp/png/ovk自動判別)\n"
    "\tdest_path  : 出力先(省略可)\n";

const char kNotFound[] = "ファイルが見つかりません？(";

std::string NotFoundLine(const std::string& name) {
  return kNotFound + name + ")\n";
}

// A locale-free environment as `env -i` leaves it, or one with a single
// locale setting.
ProcessOptions Env(std::vector<std::string> env) {
  ProcessOptions o;
  o.env = std::move(env);
  return o;
}

TEST(Cli, UsageWithoutArgumentsInAnyLocale) {
  for (const auto& env : std::vector<std::vector<std::string>>{
           {}, {"LANG=C"}, {"LC_ALL=POSIX"}, {"LANG=C.UTF-8"}, {"LANG=xx_XX.UTF-8"}}) {
    ProcessResult r = RunOvkconv({}, Env(env));
    std::string label = env.empty() ? "env -i" : env[0];
    EXPECT_EQ(r.out, kUsage) << label;
    EXPECT_EQ(r.err, "") << label;
    EXPECT_EQ(r.status, 0) << label;
  }
  ProcessResult inherited = RunOvkconv({});
  EXPECT_EQ(inherited.out, kUsage);
  EXPECT_EQ(inherited.status, 0);
}

TEST(Cli, UnknownOrMissingOptionLetterPrintsUsageWithoutLookingFurther) {
  ScratchDir dir;
  std::string existing = dir.File("a.bmp");
  WriteBytes(existing, {'B', 'M'});
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"-x", "a.bmp"}, {"-x", existing}, {"-", "a.bmp"}, {"-p", "-q"}, {"-na", "-"}}) {
    ProcessResult r = RunOvkconv(args);
    EXPECT_EQ(r.out, kUsage) << args[0] << " " << args[1];
    EXPECT_EQ(r.status, 0) << args[0] << " " << args[1];
  }
}

TEST(Cli, MissingInputIsAFailure) {
  ProcessResult r = RunOvkconv({"-p", "no_such_picture.ovk"});
  EXPECT_EQ(r.out, NotFoundLine("no_such_picture.ovk"));
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 255);

  // Every argument an option: there is no name to show.
  r = RunOvkconv({"-p256", "-v2"});
  EXPECT_EQ(r.out, NotFoundLine("(null)"));
  EXPECT_EQ(r.status, 255);

  // Under `env -i` the message still arrives in UTF-8.
  r = RunOvkconv({"nope.bmp"}, Env({}));
  EXPECT_EQ(r.out, NotFoundLine("nope.bmp"));
  EXPECT_EQ(r.status, 255);
}

TEST(Cli, SlashStartsAnAbsolutePathNotAnOption) {
  ScratchDir dir;
  std::string missing = dir.File("pic.bmp");
  ProcessResult r = RunOvkconv({missing});
  EXPECT_EQ(r.out, NotFoundLine(missing));
  EXPECT_EQ(r.status, 255);

  WriteBytes(missing, {'B', 'M'});
  r = RunOvkconv({missing, dir.File("out.ovk")});
  EXPECT_EQ(r.out.find(kNotFound), std::string::npos) << r.out;
  EXPECT_NE(r.out, kUsage);
}

TEST(Cli, RelativeNamesAreFoundNextToTheExecutable) {
  ScratchDir dir;
  // The executable's directory name is not valid UTF-8 either.
  std::filesystem::path bin = std::filesystem::path(dir.path()) / "bin\xff";
  std::filesystem::path elsewhere = std::filesystem::path(dir.path()) / "elsewhere";
  std::filesystem::create_directories(bin);
  std::filesystem::create_directories(elsewhere);
  std::filesystem::copy_file(OVKCONV_PATH, bin / "ovkconv");
  WriteBytes((bin / "beside.bmp").string(), {'B', 'M'});
  WriteBytes((elsewhere / "here.bmp").string(), {'B', 'M'});

  ProcessOptions options;
  options.cwd = elsewhere.string();
  ProcessResult r = RunProcess((bin / "ovkconv").string(), {"beside.bmp"}, options);
  EXPECT_EQ(r.out.find(kNotFound), std::string::npos) << r.out;

  // A file in the directory the program was started from is not looked at.
  r = RunProcess((bin / "ovkconv").string(), {"here.bmp"}, options);
  EXPECT_EQ(r.out, NotFoundLine("here.bmp"));
  EXPECT_EQ(r.status, 255);
}

TEST(Cli, NamesInvalidInTheLocaleReachTheFileAndPrintAsTheyAre) {
  ScratchDir dir;
  // Not UTF-8: a lone continuation byte, an invalid lead byte, a truncated
  // three-byte sequence.
  std::string name = dir.File("bad\x80\xff\xe3\x81.bmp");
  for (const auto& env : std::vector<std::vector<std::string>>{{}, {"LANG=C.UTF-8"}}) {
    ProcessResult r = RunOvkconv({name}, Env(env));
    EXPECT_EQ(r.out, NotFoundLine(name));
    EXPECT_EQ(r.status, 255);
  }
  WriteBytes(name, {'B', 'M'});
  ProcessResult r = RunOvkconv({name}, Env({"LANG=C.UTF-8"}));
  EXPECT_EQ(r.out.find(kNotFound), std::string::npos) << r.out;
}

TEST(Cli, NameTooLongToExistSaysSo) {
  std::string name(300, 'n');
  name += ".bmp";
  ProcessResult r = RunOvkconv({name});
  EXPECT_EQ(r.out, "ファイル名が長すぎます(" + name + ")\n");
  EXPECT_EQ(r.status, 255);
}

// Damaged ovk files that claim far more than they hold, among them a 36-byte
// picture of 23168 x 23168 and 1 KB of tiles 2^30 wide: run with a quarter
// of a gigabyte of address space, each is refused before the image is
// allocated, as BMP and as PNG, and nothing is written.
TEST(Cli, OvkFilesClaimingMoreThanTheyHoldAreRefusedWithinAMemoryLimit) {
  ScratchDir dir;
  const ts::Picture p{16, 16, ts::Bytes(256, 1), ts::Bytes(16, 0x80)};
  // The packed section at `at` claims a byte more than its data can produce.
  auto overClaim = [](ts::Bytes f, std::size_t at) {
    ts::PutLe32(f, at + 4, 4109 * (ts::Le16(f, at) - 8u) + 1);
    return f;
  };
  const std::size_t pal = ts::PackedSection(p.palette).size();
  ts::Bytes v1002 = ts::SmallHeader(1002, 23168, 23168);
  ts::Append(v1002, ts::ClaimingSection(0, 1024));
  ts::Append(v1002, ts::ClaimingSection(0, 23168u * 23168u));
  ts::Bytes v1006 = ts::CcpiHeader(16 + 1024, 256, 30, 30, 32000, 16000, 0);
  v1006.resize(24 + 1024);
  const std::vector<ts::Bytes> files = {
      v1002,
      v1006,
      overClaim(ts::Ovk1001(16, 16, std::vector<std::uint16_t>(256, 1)), 12),
      overClaim(ts::Ovk1002(p), 12 + pal),
      overClaim(ts::Ovk1004(p), 16 + pal),
      overClaim(ts::Ovk1005(p, {false, false}, 0), 16 + pal + 4),
      overClaim(ts::Ovk1006(p, {.packed = true}), 24)};
  ts::ProcessOptions limited;
  limited.addressSpaceKib = 256 * 1024;
  for (std::size_t i = 0; i < files.size(); ++i) {
    const std::string in = dir.File(std::to_string(i) + ".ovk");
    WriteBytes(in, files[i]);
    for (const std::vector<std::string>& args : {std::vector{in}, {"-p", in}}) {
      ProcessResult r = RunOvkconv(args, limited);
      EXPECT_EQ(r.out, "ovk変換エラー(5)\n") << i << " " << args[0];
      EXPECT_EQ(r.status, 255);
    }
  }
  EXPECT_EQ(ts::DirectoryNames(dir.path()).size(), files.size());
}

}  // namespace
