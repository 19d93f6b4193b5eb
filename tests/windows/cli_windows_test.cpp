// The Windows program through the real executable: option introducers, both
// separators, names outside every code page, the executable's folder, long
// paths, the same-file rule through other names, device names, read-only and
// hidden destinations, the exit code, and messages in the ANSI code page with
// CRLF line ends when standard output is a pipe. RunOvkconv gives those
// messages back in UTF-8 with "\n"; the raw bytes are checked where they are
// the point.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "support/run_process.h"
#include "support/test_files.h"

namespace {

namespace fs = std::filesystem;
using testing_support::DataPath;
using testing_support::ProcessOptions;
using testing_support::ProcessResult;
using testing_support::ReadBytes;
using testing_support::RunOvkconv;
using testing_support::RunProcess;
using testing_support::ScratchDir;

// Names in the tests are UTF-8; the system gets them as UTF-16.
fs::path Native(const std::string& utf8) {
  return fs::path(platform::BytesToWide(utf8));
}

std::vector<std::uint8_t> Read(const std::string& utf8) {
  std::ifstream in(Native(utf8), std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in),
                                   std::istreambuf_iterator<char>());
}

void Write(const std::string& utf8, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(Native(utf8), std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(out.good()) << utf8;
}

bool Exists(const std::string& utf8) {
  std::error_code ec;
  return fs::exists(Native(utf8), ec);
}

// The names in a folder, as UTF-8, sorted.
std::vector<std::string> Names(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(Native(dir))) {
    names.push_back(platform::WideToBytes(e.path().filename().wstring()));
  }
  std::sort(names.begin(), names.end());
  return names;
}

const std::string kUsage =
    "ovk Converter ver.0.3b\n"
    "Usage : ovkconv [-na] [-v<0246>] [-p[256]] <image_file> [dest_path]\n"
    "\t-na        : 透明度情報無視(ovkへの変換用)(省略可)\n"
    "\t-v<0|2|4|6>: ovkバージョンの指定(ovkへの変換用)(省略時=6)\n"
    "\t-p         : png出力(ovkからの変換用)(省略可)\n"
    "\t-p256      : 256色png出力(ovkからの変換用)(省略可)\n"
    "\timage_file : 変換する画像ファイル(bmp/png/ovk自動判別)\n"
    "\tdest_path  : 出力先(省略可)\n";
const std::string kOpenFailed = "ファイルのオープンに失敗(";
const std::string kNotFound = "ファイルが見つかりません？(";
const std::string kSameFile = "入力ファイルと出力ファイルが同じです(";

const std::vector<std::uint8_t>& SampleBmp() {
  static const std::vector<std::uint8_t> bytes = ReadBytes(DataPath("ok/v1000_16x16.bmp"));
  return bytes;
}

const std::vector<std::uint8_t>& SampleOvk() {
  static const std::vector<std::uint8_t> bytes = ReadBytes(DataPath("ok/v1000_16x16.ovk"));
  return bytes;
}

// The ovk file that the Linux build writes for SampleBmp() with the default
// options, made here by the same program without the Windows names in play.
std::vector<std::uint8_t> ReferenceOvk() {
  ScratchDir dir;
  Write(dir.File("ref.bmp"), SampleBmp());
  ProcessResult r = RunOvkconv({dir.File("ref.bmp")});
  EXPECT_EQ(r.status, 0) << r.out;
  return Read(dir.File("ref.ovk"));
}

TEST(WindowsCli, APipeGetsTheAnsiCodePageWithCrlf) {
  // The tests run in a Japanese locale: wine's code page is then 932.
  ASSERT_EQ(GetACP(), 932u) << "run the Windows tests with LANG=ja_JP.UTF-8";
  ProcessResult usage = RunOvkconv({});
  EXPECT_EQ(usage.out, kUsage);
  EXPECT_EQ(usage.err, "");
  EXPECT_EQ(usage.exitCode, 0u);
  // Every line ends in CRLF, and no "\n" stands alone.
  std::string lf = usage.rawOut;
  std::size_t crlf = 0;
  for (std::size_t at = lf.find("\r\n"); at != std::string::npos; at = lf.find("\r\n", at + 2)) {
    ++crlf;
  }
  EXPECT_EQ(crlf, 8u);
  EXPECT_EQ(std::count(lf.begin(), lf.end(), '\n'), 8);

  // In Shift-JIS, byte for byte.
  ProcessResult missing = RunOvkconv({"C:\\no\\such.bmp"});
  EXPECT_EQ(missing.rawOut,
            "\x83\x74\x83\x40\x83\x43\x83\x8B\x82\xAA\x8C\xA9\x82\xC2\x82\xA9\x82\xE8"
            "\x82\xDC\x82\xB9\x82\xF1\x81\x48(C:\\no\\such.bmp)\r\n");
  // libpng's messages take the same way on standard error.
  ProcessResult damaged = RunOvkconv({DataPath("pngsuite/xc1n0g08.png"), "C:\\no\\out.ovk"});
  EXPECT_EQ(damaged.rawErr,
            "libpng warning: Invalid color type in IHDR\r\nlibpng error: Invalid IHDR data\r\n");
  // The Western code page is checked by the windows_western_code_page test:
  // a child started from here keeps the tests' code page whatever its
  // environment says.
}

TEST(WindowsCli, SlashIntroducesOptionsAsDashDoes) {
  ScratchDir dir;
  Write(dir.File("t.ovk"), SampleOvk());
  int n = 0;
  for (const char* option : {"-p", "/p", "/P"}) {
    const std::string out = dir.File("out" + std::to_string(++n));
    ASSERT_TRUE(fs::create_directory(Native(out)));
    ProcessResult r = RunOvkconv({option, dir.File("t.ovk"), out});
    EXPECT_EQ(r.exitCode, 0u) << option << r.out;
    const std::vector<std::uint8_t> png = Read(out + "\\t.png");
    ASSERT_GE(png.size(), 8u) << option;
    EXPECT_EQ(png[1], 'P') << option;
  }
  // An unknown letter after "/" shows the usage, as after "-".
  ProcessResult unknown = RunOvkconv({"/x", dir.File("t.ovk")});
  EXPECT_EQ(unknown.out, kUsage);
  EXPECT_EQ(unknown.exitCode, 0u);
}

TEST(WindowsCli, BothSeparatorsSplitNamesAndTheAddedOneIsABackslash) {
  const std::vector<std::uint8_t> reference = ReferenceOvk();
  struct Case {
    const char* input;  // under the scratch folder
    const char* dest;
    const char* printedOutput;  // the output name after the scratch folder
  };
  const Case cases[] = {
      {"\\in\\pic.bmp", "\\out", "\\out\\pic.ovk"},
      {"\\in\\pic.bmp", "\\out\\", "\\out\\pic.ovk"},
      {"/in/pic.bmp", "/out", "/out\\pic.ovk"},
      {"/in/pic.bmp", "/out/", "/out/pic.ovk"},
      {"\\in/pic.bmp", "\\out/x.dat", "\\out/x.dat"},
  };
  for (const Case& c : cases) {
    ScratchDir dir;
    ASSERT_TRUE(fs::create_directory(Native(dir.path() + "\\in")));
    ASSERT_TRUE(fs::create_directory(Native(dir.path() + "\\out")));
    Write(dir.path() + "\\in\\pic.bmp", SampleBmp());
    const std::string input = dir.path() + c.input;
    const std::string output = dir.path() + c.printedOutput;
    ProcessResult r = RunOvkconv({input, dir.path() + c.dest});
    EXPECT_EQ(r.out, input + " to " + output + "\ndone.\n") << c.dest;
    EXPECT_EQ(r.exitCode, 0u) << c.dest;
    EXPECT_EQ(Read(output), reference) << c.dest;
  }
}

TEST(WindowsCli, NamesOutsideTheCodePageReachTheSystemIntact) {
  const std::vector<std::uint8_t> reference = ReferenceOvk();
  ScratchDir dir;
  // Hangul is in no Japanese code page.
  const std::string input = dir.File("画像_한글.bmp");
  Write(input, SampleBmp());
  ProcessResult r = RunOvkconv({input});
  // The message cannot show those characters: a "?" each, nothing dropped.
  EXPECT_EQ(r.out, dir.File("画像_??.bmp") + " to " + dir.File("画像_??.ovk") + "\ndone.\n");
  EXPECT_EQ(r.exitCode, 0u);
  EXPECT_EQ(Read(dir.File("画像_한글.ovk")), reference);
  EXPECT_EQ(Names(dir.path()), (std::vector<std::string>{"画像_한글.bmp", "画像_한글.ovk"}));
}

TEST(WindowsCli, WildcardsAreNotExpanded) {
  ScratchDir dir;
  Write(dir.File("a.bmp"), SampleBmp());
  for (const std::string& pattern : {dir.File("*.bmp"), dir.File("a.bm?")}) {
    ProcessResult r = RunOvkconv({pattern});
    EXPECT_EQ(r.out, kNotFound + pattern + ")\n");
    EXPECT_EQ(r.exitCode, 0xFFFFFFFFu);
  }
  EXPECT_EQ(Names(dir.path()), std::vector<std::string>{"a.bmp"});
}

TEST(WindowsCli, AFailedConversionExitsWithMinusOne) {
  ScratchDir dir;
  Write(dir.File("bad.ovk"), {'X', 'Y', 'Z'});
  ProcessResult r = RunOvkconv({dir.File("bad.ovk")});
  EXPECT_EQ(r.exitCode, 0xFFFFFFFFu) << r.out;
  EXPECT_EQ(Names(dir.path()), std::vector<std::string>{"bad.ovk"});
}

TEST(WindowsCli, RelativeNamesAreFoundInTheExecutablesFolder) {
  ScratchDir dir;
  const std::string bin = dir.File("bin");
  ASSERT_TRUE(fs::create_directory(Native(bin)));
  fs::copy_file(Native(OVKCONV_PATH), Native(bin + "\\ovkconv.exe"));
  Write(bin + "\\pic.bmp", SampleBmp());
  ProcessOptions elsewhere;
  elsewhere.cwd = dir.path();
  ProcessResult r = RunProcess(bin + "\\ovkconv.exe", {"pic.bmp"}, elsewhere);
  EXPECT_EQ(r.out, "pic.bmp to pic.ovk\ndone.\n");
  EXPECT_TRUE(Exists(bin + "\\pic.ovk"));
  EXPECT_FALSE(Exists(dir.File("pic.ovk")));
}

TEST(WindowsCli, PathsLongerThanMaxPathWork) {
  const std::vector<std::uint8_t> reference = ReferenceOvk();
  ScratchDir dir;
  // The test makes and removes the folders through the "\\?\" form itself.
  std::vector<std::wstring> folders;
  std::string deep = dir.path();
  while (deep.size() < 300) {
    deep += "\\" + std::string(40, 'd');
    folders.push_back(platform::BytesToWide("\\\\?\\" + deep));
    ASSERT_TRUE(CreateDirectoryW(folders.back().c_str(), nullptr));
  }
  Write("\\\\?\\" + deep + "\\pic.bmp", SampleBmp());
  ProcessResult r = RunOvkconv({deep + "\\pic.bmp", deep + "\\out.ovk"});
  EXPECT_EQ(r.out, deep + "\\pic.bmp to " + deep + "\\out.ovk\ndone.\n");
  EXPECT_EQ(Read("\\\\?\\" + deep + "\\out.ovk"), reference);
  for (const char* name : {"\\pic.bmp", "\\out.ovk"}) {
    DeleteFileW((folders.back() + platform::BytesToWide(name)).c_str());
  }
  for (auto f = folders.rbegin(); f != folders.rend(); ++f)
    EXPECT_TRUE(RemoveDirectoryW(f->c_str()));
}

TEST(WindowsCli, OtherNamesOfTheInputAreTheSameFile) {
  ScratchDir dir;
  Write(dir.File("tex.ovk"), SampleOvk());
  ASSERT_TRUE(CreateHardLinkW(platform::BytesToWide(dir.File("link.bmp")).c_str(),
                              platform::BytesToWide(dir.File("tex.ovk")).c_str(), nullptr));
  for (const std::string& dest : {dir.File("link.bmp"), dir.File("TEX.OVK"), dir.File("Tex.ovk")}) {
    ProcessResult r = RunOvkconv({dir.File("tex.ovk"), dest});
    EXPECT_EQ(r.out, kSameFile + dest + ")\n") << dest;
    EXPECT_EQ(r.exitCode, 0xFFFFFFFFu) << dest;
    EXPECT_EQ(Read(dir.File("tex.ovk")), SampleOvk()) << dest;
  }
}

TEST(WindowsCli, DevicesAreNeverWritten) {
  ScratchDir dir;
  Write(dir.File("pic.bmp"), SampleBmp());
  for (const std::string& dest :
       {dir.File("aux.png"), dir.File("nul.ovk"), dir.File("COM1.ovk"), dir.File("con"),
        std::string("\\\\.\\nul.ovk"), std::string("\\\\.\\pipe\\ovkconv-test.ovk")}) {
    ProcessResult r = RunOvkconv({dir.File("pic.bmp"), dest});
    EXPECT_NE(r.out.find(kOpenFailed), std::string::npos) << dest << ": " << r.out;
    EXPECT_EQ(r.out.find("done."), std::string::npos) << dest;
    EXPECT_EQ(r.exitCode, 0xFFFFFFFFu) << dest;
  }
  EXPECT_EQ(Names(dir.path()), std::vector<std::string>{"pic.bmp"});
}

TEST(WindowsCli, AReadOnlyDestinationIsRefusedAndKept) {
  ScratchDir dir;
  Write(dir.File("pic.bmp"), SampleBmp());
  Write(dir.File("pic.ovk"), {'o', 'l', 'd'});
  const std::wstring dest = platform::BytesToWide(dir.File("pic.ovk"));
  ASSERT_TRUE(SetFileAttributesW(dest.c_str(), FILE_ATTRIBUTE_READONLY));
  ProcessResult r = RunOvkconv({dir.File("pic.bmp")});
  EXPECT_EQ(r.out, dir.File("pic.bmp") + " to " + dir.File("pic.ovk") + "\n" + kOpenFailed +
                       dir.File("pic.ovk") + ")\n");
  EXPECT_EQ(r.exitCode, 0xFFFFFFFFu);
  SetFileAttributesW(dest.c_str(), FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(Read(dir.File("pic.ovk")), (std::vector<std::uint8_t>{'o', 'l', 'd'}));
  EXPECT_EQ(Names(dir.path()), (std::vector<std::string>{"pic.bmp", "pic.ovk"}));
}

TEST(WindowsCli, AReplacedFileKeepsItsAttributesAndNothingIsLeftBeside) {
  const std::vector<std::uint8_t> reference = ReferenceOvk();
  ScratchDir dir;
  Write(dir.File("pic.bmp"), SampleBmp());
  Write(dir.File("pic.ovk"), {'o', 'l', 'd'});
  const std::wstring dest = platform::BytesToWide(dir.File("pic.ovk"));
  ASSERT_TRUE(SetFileAttributesW(dest.c_str(), FILE_ATTRIBUTE_HIDDEN));
  ProcessResult r = RunOvkconv({dir.File("pic.bmp")});
  EXPECT_EQ(r.exitCode, 0u) << r.out;
  EXPECT_EQ(Read(dir.File("pic.ovk")), reference);
  const DWORD attributes = GetFileAttributesW(dest.c_str());
  EXPECT_NE(attributes & FILE_ATTRIBUTE_HIDDEN, 0u);
  EXPECT_EQ(Names(dir.path()), (std::vector<std::string>{"pic.bmp", "pic.ovk"}));
}

}  // namespace
