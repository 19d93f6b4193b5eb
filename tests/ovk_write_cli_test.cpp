// Conversions to ovk through the real executable: exact messages, exit
// statuses and what is left on disk.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "driver/convert.h"
#include "driver/write_png.h"
#include "platform/platform.h"
#include "support/bmp_builder.h"
#include "support/ovk_test_writer.h"
#include "support/run_process.h"
#include "support/test_files.h"

namespace {

using testing_support::BuildBmp;
using testing_support::Bytes;
using testing_support::DirectoryNames;
using testing_support::FileExists;
using testing_support::Noise;
using testing_support::Picture;
using testing_support::ProcessOptions;
using testing_support::ProcessResult;
using testing_support::ReadBytes;
using testing_support::RunOvkconv;
using testing_support::ScratchDir;
using testing_support::WriteBytes;

// Runs the executable under a virtual memory limit of `kib` KiB.
ProcessResult OvkconvLimited(std::uint64_t kib, const std::vector<std::string>& args) {
  testing_support::ProcessOptions options;
  options.addressSpaceKib = kib;
  return RunOvkconv(args, options);
}

std::string Converting(const std::string& in, const std::string& out) {
  return in + " to " + out + "\n";
}

Picture Stripes(std::int32_t width, std::int32_t height, int entries) {
  Picture p;
  p.width = width;
  p.height = height;
  p.palette.resize(static_cast<std::size_t>(entries) * 4);
  for (std::size_t i = 0; i < p.palette.size(); ++i) {
    p.palette[i] = static_cast<std::uint8_t>(i * 13 + 5);
  }
  p.indices.resize(static_cast<std::size_t>(width) * height);
  for (std::int32_t y = 0; y < height; ++y) {
    for (std::int32_t x = 0; x < width; ++x) {
      p.indices[y * width + x] = static_cast<std::uint8_t>((x / 4 + y / 2) % entries);
    }
  }
  return p;
}

// The picture as an 8-bit palette PNG with transparency, through WritePng.
void WritePngFile(const std::string& path, const Picture& p) {
  Bytes bmp = BuildBmp(p);
  ASSERT_EQ(WritePng(platform::BytesToWide(path), bmp, PaletteOutput::kIndicesWithAlpha), 0)
      << path;
}

TEST(ConvertToOvkCli, BmpAndPngBecomeTheFileTheLayoutCallsFor) {
  ScratchDir dir;
  Picture p = Stripes(32, 16, 12);
  // A PNG named .bmp is read as PNG, a BMP named .png as BMP: content decides.
  const std::string bmpNamedPng = dir.File("bmp.png");
  const std::string pngNamedBmp = dir.File("png.bmp");
  WriteBytes(bmpNamedPng, BuildBmp(p));
  WritePngFile(pngNamedBmp, p);
  for (const std::string& in : {bmpNamedPng, pngNamedBmp}) {
    SCOPED_TRACE(in);
    const std::string out = dir.File("out.ovk");
    ProcessResult r = RunOvkconv({"-v0", in, out});
    EXPECT_EQ(r.out, Converting(in, out) + "done.\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(ReadBytes(out), testing_support::Ovk1000(p));
  }
  // Without -v the file is version 1006, packed; without a destination it
  // lands beside the input with its extension replaced.
  ProcessResult r = RunOvkconv({pngNamedBmp});
  const std::string beside = dir.File("png.ovk");
  EXPECT_EQ(r.out, Converting(pngNamedBmp, beside) + "done.\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(ReadBytes(beside), testing_support::Expected1006(p, 5, 4, true));
}

TEST(ConvertToOvkCli, IgnoreAlphaOptionReachesThePalette) {
  ScratchDir dir;
  Picture p = Stripes(16, 16, 4);
  const std::string in = dir.File("p.bmp");
  WriteBytes(in, BuildBmp(p));
  ProcessResult r = RunOvkconv({"-na", "-v0", in, dir.File("o.ovk")});
  ASSERT_EQ(r.status, 0) << r.out;
  Bytes file = ReadBytes(dir.File("o.ovk"));
  ASSERT_EQ(file.size(), 1292u);
  for (int e = 0; e < 4; ++e) {
    EXPECT_EQ(file[12 + 4 * e + 3], 255);
    EXPECT_EQ(file[12 + 4 * e], p.palette[4 * e]);
  }
  EXPECT_EQ(file[12 + 4 * 4 + 3], 0) << "entries past the palette stay zero";
}

TEST(ConvertToOvkCli, RefusalsPrintTheirMessagesAndWriteNothing) {
  ScratchDir dir;
  const std::string out = dir.File("out.ovk");
  const std::string good = dir.File("good.bmp");
  WriteBytes(good, BuildBmp(Stripes(16, 16, 2)));

  // Unsupported versions: checked before the input is even opened.
  for (const auto& [option, shown] : std::vector<std::pair<std::string, std::string>>{
           {"-v1", "1001"}, {"-v5", "1005"}, {"-v3", "1003"}, {"-v61", "61"}}) {
    ProcessResult r = RunOvkconv({option, good, out});
    EXPECT_EQ(r.out, "未対応のovkバージョンです(" + shown + ")\n") << option;
    EXPECT_EQ(r.status, 255) << option;
    EXPECT_FALSE(FileExists(out)) << option;
  }

  // Inputs that are no image or an unsupported one: their messages are the
  // golden refusals' (outputs_test); which inputs are refused, and the facts
  // reported, WriterInputs' and PngSuiteToOvk's.
  // The input exists but cannot be read: a directory.
  const std::string folder = dir.File("folder.bmp");
  std::filesystem::create_directory(folder);
  ProcessResult r = RunOvkconv({folder, out});
  EXPECT_EQ(r.out, "ファイルのオープンに失敗(" + folder + ")\n");
  EXPECT_EQ(r.status, 255);

  EXPECT_FALSE(FileExists(out));
}

// PNG files of 16384 x 16384 whose compressed data holds a sliver of that,
// run with a quarter of a gigabyte of address space: in RGB the picture is
// refused from its header, its data never read; with a palette it fails as
// libpng fails on short data, before the image is allocated.
TEST(ConvertToOvkCli, PngBombsAreRefusedWithinAMemoryLimit) {
  ScratchDir dir;
  const std::string rgb = dir.File("rgb.png");
  const std::string pal = dir.File("pal.png");
  const Bytes data = testing_support::ZlibZeros(1 << 20);
  WriteBytes(rgb, testing_support::ChunkPng({16384, 16384, 8, 2}, data));
  WriteBytes(pal, testing_support::ChunkPng({16384, 16384, 8, 3}, data));
  const std::string out = dir.File("out.ovk");
  ProcessResult r = OvkconvLimited(256 * 1024, {rgb, out});
  EXPECT_EQ(r.out, "未対応の画像ファイルです(" + rgb + ")\nbitcount=24 width=16384 height=16384\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 255);
  r = OvkconvLimited(256 * 1024, {pal, out});
  EXPECT_EQ(r.out, "対応ファイルではありません(" + pal + ")\n");
  EXPECT_EQ(r.err, "libpng error: Not enough image data\n");
  EXPECT_EQ(r.status, 255);
  EXPECT_FALSE(FileExists(out));
}

TEST(ConvertToOvkCli, OutputThatCannotBeOpenedIsNamed) {
  ScratchDir dir;
  const std::string in = dir.File("p.bmp");
  WriteBytes(in, BuildBmp(Stripes(16, 16, 2)));
  const std::string out = dir.File("missing/p.ovk");
  ProcessResult r = RunOvkconv({in, out});
  EXPECT_EQ(r.out, Converting(in, out) + "ファイルのオープンに失敗(" + out + ")\n");
  EXPECT_EQ(r.status, 255);

  // A destination name no file system takes is refused before anything else.
  const std::string tooLong = dir.File(std::string(300, 'a') + ".ovk");
  r = RunOvkconv({in, tooLong});
  EXPECT_EQ(r.out, "ファイル名が長すぎます(" + tooLong + ")\n");
  EXPECT_EQ(r.status, 255);
}

TEST(ConvertToOvkCli, TileOverflowRetriesThenGivesUpLeavingTheOldFile) {
  ScratchDir dir;
  const std::string in = dir.File("noise.bmp");
  WriteBytes(in, BuildBmp(Noise(1, 256, 128)));
  const std::string out = dir.File("noise.ovk");
  const Bytes old = {'o', 'l', 'd'};
  WriteBytes(out, old);
  const std::string overflow = "インデックスがオーバーしました。\n";
  const std::string retry = "パラメータを変更して再試行します。\n";
  ProcessResult r = RunOvkconv({in, out});
  EXPECT_EQ(r.out, Converting(in, out) + overflow + retry + overflow + retry + overflow + in +
                       "はこの形式では変換できません。\n");
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(ReadBytes(out), old);
  std::filesystem::remove(out);
  r = RunOvkconv({"-v60", in, out});
  EXPECT_EQ(r.status, 255);
  EXPECT_FALSE(FileExists(out)) << "a give-up leaves no file behind";
  EXPECT_EQ(DirectoryNames(dir.path()).size(), 1u) << "no temporary file is left either";

  // 48 x 128 succeeds at the second attempt.
  const std::string narrow = dir.File("narrow.bmp");
  Picture p = Noise(2, 48, 128);
  WriteBytes(narrow, BuildBmp(p));
  r = RunOvkconv({"-v60", narrow, out});
  EXPECT_EQ(r.out, Converting(narrow, out) + overflow + retry + "done.\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(ReadBytes(out), testing_support::Expected1006(p, 4, 5, false));
}

// Outputs that must not be written: the input itself, under its own name or
// another, a picture of another format, and what is no regular file. Each is
// refused with nothing changed on disk.
TEST(ConvertToOvkCli, OutputsThatAreTheInputAnotherPictureOrNoFileAreRefused) {
  namespace fs = std::filesystem;
  ScratchDir dir;
  Picture p = Stripes(16, 16, 4);
  const std::string png = dir.File("pic.png");
  const std::string ovk = dir.File("pic.ovk");
  WritePngFile(png, p);
  WriteBytes(ovk, testing_support::Ovk1000(p));
  fs::create_symlink("pic.png", dir.File("link.ovk"));
  fs::create_symlink("pic.ovk", dir.File("link.bmp"));
  fs::create_hard_link(png, dir.File("hard.ovk"));
  ASSERT_EQ(mkfifo(dir.File("fifo.ovk").c_str(), 0644), 0);
  fs::create_symlink("missing.bmp", dir.File("dangling.bmp"));
  // Pictures under names of another format: content decides.
  fs::copy_file(png, dir.File("png.ovk"));
  WriteBytes(dir.File("bmp.ovk"), testing_support::BuildBmp(p));
  fs::copy_file(png, dir.File("png.bmp"));
  fs::copy_file(dir.File("bmp.ovk"), dir.File("bmp.png"));
  const std::vector<std::string> names = DirectoryNames(dir.path());
  const Bytes pngBytes = ReadBytes(png);
  const Bytes ovkBytes = ReadBytes(ovk);

  const auto same = [](const std::string& out) {
    return "入力ファイルと出力ファイルが同じです(" + out + ")\n";
  };
  const auto other = [&dir](const std::string& name) {
    return "出力先は別の形式の画像ファイルです(" + dir.File(name) + ")\n";
  };
  const auto special = [](const std::string& in, const std::string& out) {
    return Converting(in, out) + "ファイルのオープンに失敗(" + out + ")\n";
  };
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{png, png}, same(png)},
      {{png, dir.File("link.ovk")}, same(dir.File("link.ovk"))},
      {{png, dir.File("hard.ovk")}, same(dir.File("hard.ovk"))},
      {{ovk, ovk}, same(ovk)},
      {{ovk, dir.File("link.bmp")}, same(dir.File("link.bmp"))},
      {{png, dir.File("png.ovk")}, other("png.ovk")},
      {{png, dir.File("bmp.ovk")}, other("bmp.ovk")},
      {{ovk, dir.File("png.bmp")}, other("png.bmp")},
      {{"-p", ovk, dir.File("bmp.png")}, other("bmp.png")},
      // One of each way (the kinds of file are CoutputFileKinds').
      {{png, dir.File("fifo.ovk")}, special(png, dir.File("fifo.ovk"))},
      {{ovk, dir.File("dangling.bmp")}, special(ovk, dir.File("dangling.bmp"))},
  };
  for (const auto& [args, expected] : cases) {
    SCOPED_TRACE(args.back());
    ProcessResult r = RunOvkconv(args);
    EXPECT_EQ(r.out, expected);
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(DirectoryNames(dir.path()), names);
    EXPECT_EQ(ReadBytes(png), pngBytes);
    EXPECT_EQ(ReadBytes(ovk), ovkBytes);
  }
  EXPECT_TRUE(fs::is_fifo(dir.File("fifo.ovk")));
}

TEST(ConvertToOvkCli, ReplacedFileKeepsItsModeLessSetIdBitsAndForRootItsOwner) {
  ScratchDir dir;
  const std::string in = dir.File("p.bmp");
  const std::string out = dir.File("p.ovk");
  Picture p = Stripes(16, 16, 4);
  WriteBytes(in, BuildBmp(p));
  WriteBytes(out, {'o', 'l', 'd'});
  // Root keeps the owner and group, which only root can give away. (A change
  // of owner clears the set-ID bits, so it comes first.)
  const bool root = geteuid() == 0;
  if (root) {
    ASSERT_EQ(chown(out.c_str(), 4321, 8765), 0);
  }
  ASSERT_EQ(chmod(out.c_str(), 06755), 0);
  struct stat before;
  ASSERT_EQ(stat(out.c_str(), &before), 0);
  ASSERT_EQ(before.st_mode & 07777, 06755u);
  ASSERT_EQ(RunOvkconv({"-v0", in, out}).status, 0);
  EXPECT_EQ(ReadBytes(out), testing_support::Ovk1000(p));
  struct stat after;
  ASSERT_EQ(stat(out.c_str(), &after), 0);
  EXPECT_NE(after.st_ino, before.st_ino) << "replaced, not rewritten in place";
  EXPECT_EQ(after.st_mode & 07777, 0755u);
  EXPECT_EQ(after.st_uid, root ? 4321u : geteuid());
  EXPECT_EQ(after.st_gid, root ? 8765u : before.st_gid);
}

// The longest path the system takes (PATH_MAX - 1 bytes) works for the
// output, however little of it is left for a temporary name.
TEST(ConvertToOvkCli, LongestOutputPathWorks) {
  ScratchDir dir;
  const std::string in = dir.File("p.bmp");
  Picture p = Stripes(16, 16, 4);
  WriteBytes(in, BuildBmp(p));
  // Folders of 200 bytes until at most 250 bytes are left for the name.
  const std::size_t longest = platform::MaxPathLength() - 1;
  std::string folder = dir.path();
  while (folder.size() + 1 + 250 < longest) folder += "/" + std::string(200, 'd');
  std::filesystem::create_directories(folder);
  const std::size_t left = longest - folder.size() - 1;
  for (const std::string& name :
       {std::string(left - 4, 'n') + ".ovk", std::string(left - 11, 'n') + ".ovk"}) {
    const std::string out = folder + "/" + name;
    SCOPED_TRACE(out.size());
    ProcessResult r = RunOvkconv({"-v0", in, out});
    EXPECT_EQ(r.out, Converting(in, out) + "done.\n");
    EXPECT_EQ(ReadBytes(out), testing_support::Ovk1000(p));
  }
  EXPECT_EQ(DirectoryNames(folder).size(), 2u);
}

// How a conversion that may be interrupted ended: the signal that ended it,
// 0 when it succeeded, -1 when it failed.
using InterruptibleRun = std::function<int(int sig, std::chrono::microseconds after)>;

// Interrupts conversions of a large picture `runs` times with SIGINT, SIGTERM
// or SIGHUP at random moments, half of them over an old output. Each time
// the directory holds the input and, at most, the old output or the whole
// new one: never a part, never a temporary file.
void ExpectInterruptionsLeaveNoPart(const ScratchDir& dir, const std::string& out, int runs,
                                    const InterruptibleRun& run) {
  const std::vector<std::string> inputOnly = DirectoryNames(dir.path());
  // The shorter of two whole runs: the first reads a cold input and is slow
  // on a loaded machine, which would put most moments past the end.
  auto full = std::chrono::steady_clock::duration::max();
  for (int i = 0; i < 2; ++i) {
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(run(0, {}), 0);
    full = std::min(full, std::chrono::steady_clock::now() - start);
  }
  const Bytes whole = ReadBytes(out);
  const Bytes old = {'o', 'l', 'd'};
  std::mt19937 rng(20240611);
  std::uniform_real_distribution<double> moment(0.0, 1.0);
  int interrupted = 0;
  for (int i = 0; i < runs; ++i) {
    const int sig = std::vector<int>{SIGINT, SIGTERM, SIGHUP}[i % 3];
    const bool replacing = i % 2 == 0;
    if (replacing) {
      WriteBytes(out, old);
    } else {
      std::filesystem::remove(out);
    }
    const auto after = std::chrono::duration_cast<std::chrono::microseconds>(full * moment(rng));
    const int ended = run(sig, after);
    SCOPED_TRACE("signal " + std::to_string(sig) + " after " + std::to_string(after.count()) +
                 " us");
    EXPECT_TRUE(ended == 0 || ended == sig) << ended;
    interrupted += ended == sig;
    std::vector<std::string> left = DirectoryNames(dir.path());
    if (!FileExists(out)) {
      EXPECT_FALSE(replacing) << "the old file is gone";
      EXPECT_EQ(left, inputOnly);
      continue;
    }
    EXPECT_EQ(left.size(), inputOnly.size() + 1);
    const Bytes found = ReadBytes(out);
    EXPECT_TRUE(found == whole || (replacing && found == old)) << found.size() << " bytes";
  }
  // Most moments fall inside the conversion.
  EXPECT_GT(interrupted, runs / 3);
}

TEST(ConvertToOvkCli, SignalsLeaveTheOldFileOrTheWholeNewOne) {
  ScratchDir dir;
  const std::string in = dir.File("big.png");
  const std::string out = dir.File("big.ovk");
  std::filesystem::copy_file(testing_support::DataPath("images/emerald_1680x1792.png"), in);
  ExpectInterruptionsLeaveNoPart(dir, out, 30, [&](int sig, std::chrono::microseconds after) {
    ProcessOptions options;
    options.signal = sig;
    options.signalAfter = after;
    ProcessResult r = RunOvkconv({in, out}, options);
    return r.signal != 0 ? r.signal : r.status == 0 ? 0 : -1;
  });
}

// The same with named temporary files, which the signal handlers remove:
// the conversion runs in a child of the test, whose timer sends the signal.
TEST(ConvertToOvkCli, SignalsRemoveNamedTemporaryFiles) {
  ScratchDir dir;
  const std::string in = dir.File("big.png");
  const std::string out = dir.File("big.ovk");
  std::filesystem::copy_file(testing_support::DataPath("images/emerald_1680x1792.png"), in);
  ExpectInterruptionsLeaveNoPart(dir, out, 18, [&](int sig, std::chrono::microseconds after) {
    const pid_t pid = fork();
    if (pid == 0) {
      if (std::freopen("/dev/null", "w", stdout) == nullptr) _exit(2);
      platform::ForceNamedTemporaryFiles(true);
      sigevent event{};
      event.sigev_notify = SIGEV_SIGNAL;
      event.sigev_signo = sig;
      timer_t timer;
      itimerspec when{};
      when.it_value.tv_sec = static_cast<time_t>(after.count() / 1000000);
      when.it_value.tv_nsec = static_cast<long>(after.count() % 1000000 * 1000 + 1);
      if (sig != 0 && (timer_create(CLOCK_MONOTONIC, &event, &timer) != 0 ||
                       timer_settime(timer, 0, &when, nullptr) != 0)) {
        _exit(2);
      }
      _exit(ConvertToOvk(platform::BytesToWide(in), platform::BytesToWide(out), 1006, false,
                         0xFFFF) == 0
                ? 0
                : 1);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid) return -1;
    if (WIFSIGNALED(status)) return WTERMSIG(status);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : -1;
  });
}

// The smallest address space (KiB) under which a tiny conversion runs: the
// program's own needs, found by bisection.
std::uint64_t BaselineKib(const ScratchDir& dir) {
  const std::string tiny = dir.File("tiny.bmp");
  WriteBytes(tiny, BuildBmp(Stripes(16, 16, 2)));
  std::uint64_t low = 1024, high = 1024 * 1024;
  EXPECT_EQ(OvkconvLimited(high, {"-v60", tiny, dir.File("tiny.ovk")}).status, 0);
  while (high - low > 256) {
    const std::uint64_t mid = (low + high) / 2;
    (OvkconvLimited(mid, {"-v60", tiny, dir.File("tiny.ovk")}).status == 0 ? high : low) = mid;
  }
  return high;
}

TEST(ConvertToOvkCli, AllocationFailureAfterLoadingIsReported) {
  if (!testing_support::kAddressSpaceLimitsApply) {
    GTEST_SKIP() << "the address sanitizer needs far more address space than any limit here";
  }
  ScratchDir dir;
  const std::uint64_t high = BaselineKib(dir);
  // A 4096 x 4096 picture: the 16 MiB input loads within 28 MiB more, the
  // 1006 work buffer of 2 * (pixels + 1040) bytes does not.
  const std::string big = dir.File("big.bmp");
  WriteBytes(big, BuildBmp(Stripes(4096, 4096, 2)));
  const std::string out = dir.File("big.ovk");
  ProcessResult r = OvkconvLimited(high + 28 * 1024, {"-v60", big, out});
  EXPECT_EQ(r.out, Converting(big, out) + "メモリ確保に失敗(33556512bytes)\n");
  EXPECT_EQ(r.status, 255);
  EXPECT_FALSE(FileExists(out));
  // With room to spare the same conversion succeeds.
  r = OvkconvLimited(high + 96 * 1024, {"-v60", big, out});
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_TRUE(FileExists(out));
}

// The damaged files of tests/data/bad/ whose one chunk claims far more than
// the file holds (2 GiB; 50 MB in a 41-byte file): converted, inspected and
// taken as the -m reference within 16 MiB of address space beyond the
// program's own needs, each is refused as libpng's reading ends, not after it
// has allocated the claim.
TEST(ConvertToOvkCli, PngChunksClaimingGigabytesAreRefusedWithinSixteenMegabytes) {
  if (!testing_support::kAddressSpaceLimitsApply) {
    GTEST_SKIP() << "the address sanitizer needs far more address space than any limit here";
  }
  ScratchDir dir;
  const std::uint64_t limit = BaselineKib(dir) + 16 * 1024;
  const std::string good = testing_support::DataPath("ok/basn3p08.png");
  const std::string out = dir.File("out.ovk");
  int files = 0;
  for (const std::string& name : DirectoryNames(testing_support::DataPath("bad"))) {
    if (name.rfind("claim_", 0) != 0) continue;
    ++files;
    const std::string in = testing_support::DataPath("bad/" + name);
    const std::string refused = "対応ファイルではありません(" + in + ")\n";
    const std::string err = "libpng warning: " + name.substr(6, 4) +
                            ": chunk data is too large\nlibpng error: Read Error\n";
    const std::vector<std::pair<std::vector<std::string>, std::string>> runs = {
        {{in, out}, refused}, {{"-i", in}, in + ": " + refused}, {{"-m" + in, good, out}, refused}};
    for (const auto& [args, message] : runs) {
      ProcessResult r = OvkconvLimited(limit, args);
      EXPECT_EQ(r.out, message) << args[0];
      EXPECT_EQ(r.err, err) << args[0];
      EXPECT_EQ(r.status, 255) << args[0];
      EXPECT_FALSE(FileExists(out)) << args[0];
    }
  }
  EXPECT_EQ(files, 12);

  // A compressed colour profile whose header claims 7,900,000 bytes, in a
  // file of a few hundred: a damaged ancillary chunk, so the picture still
  // converts, but the claim is refused within 4 MiB, not allocated.
  Bytes profile(132);
  for (std::size_t i = 0; i < profile.size(); ++i) profile[i] = static_cast<std::uint8_t>(i * 37);
  const std::uint8_t claim[] = {0x00, 0x78, 0x8B, 0x60};  // big-endian 7,900,000
  std::copy(std::begin(claim), std::end(claim), profile.begin());
  Bytes iccp = {'x', 0, 0};
  const Bytes packed = testing_support::Zlib(profile);
  iccp.insert(iccp.end(), packed.begin(), packed.end());
  const std::string in = dir.File("profile.png");
  WriteBytes(in, testing_support::ChunkPng(
                     {16, 16, 8, 3}, testing_support::ZlibRows(std::vector<Bytes>(16, Bytes(16))),
                     {{"iCCP", iccp}, {"PLTE", Bytes(12)}}));
  ProcessResult r = OvkconvLimited(limit - 12 * 1024, {in, out});
  EXPECT_EQ(r.out, Converting(in, out) + "done.\n");
  EXPECT_EQ(r.err, "libpng warning: iCCP: profile 'x': 788B60h: exceeds application limits\n");
  EXPECT_EQ(r.status, 0);
}

}  // namespace
