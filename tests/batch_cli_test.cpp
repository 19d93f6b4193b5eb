// Many files in one run through the real executable: which operands form a
// batch, patterns and the destination folder, outputs that collide, -m with
// a folder of references, -j, and interrupts. Names are absolute: relative
// ones are taken from the executable's directory.
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "driver/pattern.h"
#include "driver/write_png.h"
#include "platform/platform.h"
#include "support/bmp_builder.h"
#include "support/ovk_test_writer.h"
#include "support/run_process.h"
#include "support/test_files.h"

namespace {

namespace fs = std::filesystem;
namespace ts = testing_support;
using ts::Bytes;
using ts::ProcessResult;
using ts::ReadBytes;
using ts::RunOvkconv;
using ts::ScratchDir;
using ts::WriteBytes;

std::string Converted(const std::string& in, const std::string& out) {
  return in + " to " + out + "\ndone.\n";
}

std::string Summary(int inputs, int converted, const std::vector<std::string>& failed = {}) {
  std::string s = std::to_string(inputs) + "件中" + std::to_string(converted) +
                  "件を変換しました(失敗" + std::to_string(inputs - converted) + "件)\n";
  for (const std::string& name : failed) s += "失敗: " + name + "\n";
  return s;
}

ts::Picture Sample(std::uint32_t seed) {
  std::mt19937 rng(seed);
  return ts::RandomPicture(rng, 32, 16, 8, 10);
}

// A folder of pictures written by the program: <name>.ovk for each name,
// from BMP files made of Sample(seed), with the -v option given.
class Pictures {
 public:
  std::string Ovk(const std::string& path, std::uint32_t seed, const std::string& option = "-v0") {
    const std::string bmp = dir.File("src" + std::to_string(seed) + ".bmp");
    WriteBytes(bmp, ts::BuildBmp(Sample(seed)));
    fs::create_directories(fs::path(dir.File(path)).parent_path());
    EXPECT_EQ(RunOvkconv({option, bmp, dir.File(path)}).status, 0) << path;
    fs::remove(bmp);
    return dir.File(path);
  }
  std::string Bmp(const std::string& path, std::uint32_t seed) {
    fs::create_directories(fs::path(dir.File(path)).parent_path());
    WriteBytes(dir.File(path), ts::BuildBmp(Sample(seed)));
    return dir.File(path);
  }
  ScratchDir dir;
};

TEST(BatchCli, ShellExpandedOperandsAreAllInputsAndNoneIsReplaced) {
  Pictures p;
  const std::vector<std::string> ovk = {p.Ovk("o/a.ovk", 1), p.Ovk("o/b.ovk", 2),
                                        p.Ovk("o/c.ovk", 3)};
  const Bytes second = ReadBytes(ovk[1]);
  // ovkconv -p256 *.ovk
  ProcessResult r = RunOvkconv({"-p256", ovk[0], ovk[1], ovk[2]});
  std::string expected;
  for (const std::string& in : ovk) expected += Converted(in, in.substr(0, in.size() - 3) + "png");
  EXPECT_EQ(r.out, expected + Summary(3, 3));
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(ReadBytes(ovk[1]), second);
  // ovkconv *.png, in a folder of PNG files only
  std::vector<std::string> png;
  for (const std::string& in : ovk) {
    png.push_back(p.dir.File("p/" + fs::path(in).stem().string() + ".png"));
    fs::create_directories(p.dir.File("p"));
    fs::rename(in.substr(0, in.size() - 3) + "png", png.back());
  }
  const Bytes secondPng = ReadBytes(png[1]);
  r = RunOvkconv({png[0], png[1], png[2]});
  expected.clear();
  for (const std::string& in : png) expected += Converted(in, in.substr(0, in.size() - 3) + "ovk");
  EXPECT_EQ(r.out, expected + Summary(3, 3));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(ReadBytes(png[1]), secondPng);
  EXPECT_EQ(ts::DirectoryNames(p.dir.File("p")).size(), 6u);
}

// Two operands are two inputs only when the second is an existing input of
// the first's direction; otherwise the second is the destination, as ever.
TEST(BatchCli, TwoOperandsAreABatchOnlyForTwoInputsOfOneDirection) {
  Pictures p;
  const std::string a = p.Ovk("a.ovk", 1);
  const std::string b = p.Ovk("b.OVK", 2);
  const std::string bmp = p.Bmp("c.bmp", 3);
  const std::string named = p.Bmp("d.dat", 4);  // a BMP by content
  const std::string png = p.dir.File("f.png");
  ASSERT_EQ(WritePng(platform::BytesToWide(png), ts::BuildBmp(Sample(5)), PaletteOutput::kColours),
            0);
  const std::string text = p.dir.File("e.txt");
  WriteBytes(text, {'h', 'i'});
  const auto base = [](const std::string& s) { return s.substr(0, s.rfind('.')); };
  const std::vector<std::tuple<std::vector<std::string>, std::string, int>> cases = {
      {{a, b}, Converted(a, base(a) + ".bmp") + Converted(b, base(b) + ".bmp") + Summary(2, 2), 0},
      {{bmp, named},
       Converted(bmp, base(bmp) + ".ovk") + Converted(named, base(named) + ".ovk") + Summary(2, 2),
       0},
      // The same file twice, an input of the other direction (the edited
      // PNG named as the destination, -p forgotten), a file of no picture
      // format, a new name: the single form.
      {{a, a}, "入力ファイルと出力ファイルが同じです(" + a + ")\n", 255},
      {{a, png}, "出力先は別の形式の画像ファイルです(" + png + ")\n", 255},
      {{bmp, text}, Converted(bmp, text), 0},
      {{a, p.dir.File("new.bmp")}, Converted(a, p.dir.File("new.bmp")), 0},
  };
  for (const auto& [args, expected, status] : cases) {
    SCOPED_TRACE(args[1]);
    ProcessResult r = RunOvkconv(args);
    EXPECT_EQ(r.out, expected);
    EXPECT_EQ(r.status, status);
  }
}

// `*`, `?` and `**`, hidden names, folders that look like inputs, a plain
// operand beside patterns, and the folders a destination mirrors.
TEST(BatchCli, PatternsAndTheDestinationFolder) {
  Pictures p;
  const std::string a = p.Ovk("data/a.ovk", 1);
  const std::string b = p.Ovk("data/b.ovk", 2);
  const std::string c = p.Ovk("data/bg/c.ovk", 3);
  const std::string d = p.Ovk("data/bg/deep/dd.ovk", 4);
  p.Ovk("data/.hidden/e.ovk", 5);
  p.Ovk("data/.f.ovk", 6);
  fs::create_directories(p.dir.File("data/folder.ovk"));
  fs::create_directories(p.dir.File("out"));
  const std::string data = p.dir.File("data");
  const std::string out = p.dir.File("out");

  ProcessResult r = RunOvkconv({"-p", data + "/*.ovk", out});
  EXPECT_EQ(r.out, Converted(a, out + "/a.png") + Converted(b, out + "/b.png") + Summary(2, 2));
  EXPECT_EQ(r.status, 0);

  r = RunOvkconv({"-p", data + "/bg/?.ovk", data + "/bg/*/??.ovk", a, out + "/"});
  EXPECT_EQ(r.out, Converted(c, out + "/c.png") + Converted(d, out + "/deep/dd.png") +
                       Converted(a, out + "/a.png") + Summary(3, 3));

  fs::remove_all(out);
  fs::create_directories(out);
  r = RunOvkconv({"-p", data + "/**/*.ovk", out});
  EXPECT_EQ(r.out, Converted(a, out + "/a.png") + Converted(b, out + "/b.png") +
                       Converted(c, out + "/bg/c.png") + Converted(d, out + "/bg/deep/dd.png") +
                       Summary(4, 4));
  EXPECT_TRUE(ts::FileExists(out + "/bg/deep/dd.png"));

  const std::string none = data + "/nothing*.ovk";
  r = RunOvkconv({none});
  EXPECT_EQ(r.out, "ファイルが見つかりません？(" + none + ")\n" + Summary(1, 0, {none}));
  EXPECT_EQ(r.status, 255);
  // -i expands patterns too.
  r = RunOvkconv({"-i", data + "/bg/**/*.ovk", none});
  EXPECT_EQ(r.out.substr(0, c.size() + 2), c + ": ");
  EXPECT_NE(r.out.find("\n" + d + ": version=1000"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\n" + none + ": ファイルが見つかりません？(" + none + ")\n"),
            std::string::npos);
}

TEST(PatternMatch, WildcardsStayWithinOneNameAndSkipHiddenNames) {
  for (const auto& [pattern, name, matches] :
       std::vector<std::tuple<std::wstring, std::wstring, bool>>{{L"*.ovk", L"a.ovk", true},
                                                                 {L"*.ovk", L".a.ovk", false},
                                                                 {L".*", L".a.ovk", true},
                                                                 {L"a?c", L"abc", true},
                                                                 {L"a?c", L"ac", false},
                                                                 {L"*a*b", L"xaab", true},
                                                                 {L"*a*b", L"xaba", false},
                                                                 {L"*", L"", false}}) {
    EXPECT_EQ(MatchComponent(pattern, name), matches) << pattern << " " << name;
  }
}

// Two inputs with one output: the later is refused, whatever becomes of the
// earlier. An output that is another input is refused as the input itself
// would be, and the input stays.
TEST(BatchCli, OutputsThatCollideOrAreInputsAreRefused) {
  Pictures p;
  const std::string bmp = p.Bmp("x.bmp", 1);
  const std::string png = p.dir.File("x.png");
  WriteBytes(png, {'B', 'M'});  // a damaged BMP under a PNG's name
  const std::string ovk = p.Ovk("y.ovk", 2);
  const std::string yBmp = p.Bmp("y.bmp", 3);
  const Bytes yOvk = ReadBytes(ovk);
  ProcessResult r = RunOvkconv({"-v0", png, bmp, yBmp, ovk});
  EXPECT_EQ(r.out, "未対応の画像ファイルです(" + png + ")\nbitcount=0 width=0 height=0\n" +
                       "出力ファイルが重複しています(" + p.dir.File("x.ovk") + ")\n" +
                       "入力ファイルと出力ファイルが同じです(" + ovk + ")\n" +
                       "入力ファイルと出力ファイルが同じです(" + yBmp + ")\n" +
                       Summary(4, 0, {png, bmp, yBmp, ovk}));
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(ReadBytes(ovk), yOvk);
  EXPECT_FALSE(ts::FileExists(p.dir.File("x.ovk")));
}

// Extract a whole folder, edit some pictures, put them all back: unedited
// files come back byte for byte in their own versions, edited ones in their
// version and palette, and -v wins over the reference.
TEST(BatchCli, FolderOfReferencesGivesEachPictureItsVersion) {
  Pictures p;
  const std::vector<std::pair<std::string, std::string>> files = {{"data/a.ovk", "-v0"},
                                                                  {"data/b.ovk", "-v2"},
                                                                  {"data/sub/c.ovk", "-v4"},
                                                                  {"data/sub/d.ovk", "-v6"},
                                                                  {"data/sub/e.ovk", "-v60"}};
  std::vector<Bytes> originals;
  for (std::size_t i = 0; i < files.size(); ++i) {
    originals.push_back(
        ReadBytes(p.Ovk(files[i].first, static_cast<std::uint32_t>(i + 1), files[i].second)));
  }
  const std::string data = p.dir.File("data");
  const std::string png = p.dir.File("png");
  fs::create_directories(png);
  ASSERT_EQ(RunOvkconv({"-p", data + "/**/*.ovk", png + "/"}).status, 0);
  // An edit: other pixels of the same palette.
  ts::Picture edited = Sample(4);
  for (std::uint8_t& index : edited.indices) index = static_cast<std::uint8_t>((index + 1) % 8);
  ASSERT_EQ(WritePng(platform::BytesToWide(png + "/sub/d.png"), ts::BuildBmp(edited),
                     PaletteOutput::kColours),
            0);
  WriteBytes(png + "/extra.png", ReadBytes(png + "/a.png"));

  ProcessResult r = RunOvkconv({"-m" + data + "/", png + "/**/*.png", data});
  EXPECT_NE(r.out.find("ファイルが見つかりません？(" + data + "/extra.ovk)\n"), std::string::npos)
      << r.out;
  EXPECT_EQ(r.out.substr(r.out.find("6件中")), Summary(6, 5, {png + "/extra.png"}));
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (i != 3) {
      EXPECT_EQ(ReadBytes(p.dir.File(files[i].first)), originals[i]) << files[i].first;
    }
  }
  EXPECT_EQ(ReadBytes(data + "/sub/d.ovk"), ts::Expected1006(edited, 5, 4, true));

  // -v wins; a reference that is no ovk file leaves the default.
  ASSERT_EQ(RunOvkconv({"-v0", "-m" + data, png + "/b.png"}).status, 0);
  EXPECT_EQ(ReadBytes(png + "/b.ovk").size(), ReadBytes(data + "/a.ovk").size());
  const std::string bmpRef = p.Bmp("ref.bmp", 2);
  ASSERT_EQ(RunOvkconv({"-m" + bmpRef, png + "/b.png"}).status, 0);
  EXPECT_EQ(ReadBytes(png + "/b.ovk"), ts::Expected1006(Sample(2), 5, 4, true));
}

// -j changes nothing that is printed or written, failures included.
TEST(BatchCli, OneAtATimeAndFourAtOnceGiveTheSameResult) {
  Pictures p;
  std::vector<std::string> args = {"-p256"};
  for (std::uint32_t i = 0; i < 12; ++i) {
    const std::string name = "in/" + std::to_string(10 + i) + ".ovk";
    if (i % 5 == 3) {
      WriteBytes(p.dir.File(name), {1, 2, 3});
    } else {
      p.Ovk(name, i, i % 2 == 0 ? "-v6" : "-v2");
    }
  }
  fs::create_directories(p.dir.File("out"));
  std::vector<std::string> results;
  std::vector<std::vector<Bytes>> outputs;
  for (const char* jobs : {"-j1", "-j4"}) {
    fs::remove_all(p.dir.File("out"));
    fs::create_directories(p.dir.File("out"));
    ProcessResult r = RunOvkconv({jobs, "-p256", p.dir.File("in/*.ovk"), p.dir.File("out")});
    EXPECT_EQ(r.status, 255);
    results.push_back(r.out);
    outputs.emplace_back();
    for (const std::string& name : ts::DirectoryNames(p.dir.File("out"))) {
      outputs.back().push_back(ReadBytes(p.dir.File("out/" + name)));
    }
  }
  EXPECT_EQ(results[0], results[1]);
  EXPECT_EQ(outputs[0], outputs[1]);
  EXPECT_EQ(outputs[0].size(), 10u);
  EXPECT_NE(results[0].find(Summary(12, 10)), std::string::npos) << results[0];
}

// SIGINT in the middle of a long batch: the outputs finished stay whole,
// nothing else is left, the summary of what was attempted is printed, and
// the program ends by the signal.
TEST(BatchCli, InterruptStopsTheBatchAfterTheSummary) {
  ScratchDir dir;
  const std::string in = dir.File("in");
  const std::string out = dir.File("out");
  fs::create_directories(in);
  fs::create_directories(out);
  const std::string picture = ts::DataPath("images/preview_592x336.png");
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(RunOvkconv({picture, out + "/whole.ovk"}).status, 0);
  const auto one = std::chrono::steady_clock::now() - start;
  const Bytes whole = ReadBytes(out + "/whole.ovk");
  fs::remove(out + "/whole.ovk");
  constexpr int kInputs = 200;
  for (int i = 0; i < kInputs; ++i) fs::copy_file(picture, in + "/" + std::to_string(i) + ".png");

  ts::ProcessOptions options;
  options.signal = SIGINT;
  options.signalAfter = std::chrono::duration_cast<std::chrono::microseconds>(one * 20);
  ProcessResult r = RunOvkconv({"-j1", in + "/*.png", out}, options);
  EXPECT_EQ(r.signal, SIGINT);
  const std::string stop = "\n中断しました\n";
  const std::size_t at = r.out.find(stop);
  ASSERT_NE(at, std::string::npos) << r.out;
  // "<attempted>件中<converted>件を変換しました"
  const std::string summary = r.out.substr(at + stop.size());
  const int attempted = std::stoi(summary);
  const int converted =
      std::stoi(summary.substr(summary.find("件中") + std::string("件中").size()));
  EXPECT_GT(converted, 0);
  EXPECT_LT(attempted, kInputs);
  EXPECT_EQ(summary.substr(0, summary.find('\n') + 1), Summary(attempted, converted));
  const std::vector<std::string> left = ts::DirectoryNames(out);
  EXPECT_EQ(static_cast<int>(left.size()), converted);
  for (const std::string& name : left) {
    EXPECT_EQ(ReadBytes(out + "/" + name), whole) << name;
  }
}

}  // namespace
