// The PNG suite as input to the writing side: each file converts (8-bit
// palette, sides multiples of 16) or is refused with the bit count its PNG
// header implies; the damaged files fail cleanly.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/ovk_test_writer.h"
#include "support/run_process.h"
#include "support/test_files.h"

namespace {

using testing_support::Bytes;
using testing_support::Le32;
using testing_support::Picture;
using testing_support::ReadBytes;
using testing_support::WriteInMemory;
using testing_support::WriteRun;

// What the PNG header says, read directly from the IHDR chunk.
struct Header {
  std::int32_t width, height;
  int depth, colourType;
};
Header ReadIhdr(const Bytes& png) {
  return {static_cast<std::int32_t>(testing_support::Be32(png, 16)),
          static_cast<std::int32_t>(testing_support::Be32(png, 20)), png.at(24), png.at(25)};
}

TEST(PngSuiteToOvk, EveryFileConvertsOrIsRefused) {
  int converted = 0;
  int refused = 0;
  for (const std::string& name : testing_support::PngSuiteNames()) {
    if (name[0] == 'x') continue;
    SCOPED_TRACE(name);
    const Bytes png = ReadBytes(testing_support::DataPath("pngsuite/" + name));
    const Header h = ReadIhdr(png);
    const bool convertible =
        h.colourType == 3 && h.depth == 8 && h.width % 16 == 0 && h.height % 16 == 0;
    WriteRun first = WriteInMemory(png, 1000);
    if (!convertible) {
      // The bit count import gives each kind of PNG is PngImport's, the facts
      // a refusal reports WriterInputs' and the golden refusals'.
      EXPECT_EQ(first.source, Fault::kUnsupportedImage);
      ++refused;
      continue;
    }
    ASSERT_EQ(first.source, Fault::kNone);
    const Picture expected = testing_support::PictureFromPng(png);
    for (int version : {1000, 1002, 1004, 1006, 60}) {
      SCOPED_TRACE(version);
      WriteRun run = WriteInMemory(png, version);
      ASSERT_EQ(run.encode, Fault::kNone);
      EXPECT_EQ(run.bytes, testing_support::ExpectedFile(expected, version, run.report));
    }
    ++converted;
  }
  // The suite's 8-bit palette files are all 32 x 32.
  EXPECT_GE(converted, 10);
  EXPECT_GE(refused, 100);
}

TEST(PngSuiteToOvk, DamagedFilesFailCleanlyThroughTheProgram) {
  testing_support::ScratchDir dir;
  int damaged = 0;
  for (const std::string& name : testing_support::PngSuiteNames()) {
    if (name[0] != 'x') continue;
    SCOPED_TRACE(name);
    const std::string path = testing_support::DataPath("pngsuite/" + name);
    WriteRun run = WriteInMemory(ReadBytes(path), 1006);
    EXPECT_NE(run.source, Fault::kNone);
    const std::string out = dir.File(name + ".ovk");
    testing_support::ProcessResult r = testing_support::RunOvkconv({path, out});
    EXPECT_EQ(r.status, 255) << r.out << r.err;
    EXPECT_FALSE(testing_support::FileExists(out));
    if (name == "xcsn0g01.png") {
      // A grey image is refused from its header, before its damaged data.
      EXPECT_EQ(r.out, "未対応の画像ファイルです(" + path + ")\nbitcount=0 width=32 height=32\n");
      EXPECT_EQ(r.err, "");
    } else {
      // The input is named on standard output; if libpng got as far as
      // reading it, its error line ends standard error.
      EXPECT_EQ(r.out, "対応ファイルではありません(" + path + ")\n");
      const std::size_t error = r.err.rfind("libpng error: ");
      EXPECT_TRUE(r.err.empty() ||
                  (error != std::string::npos && r.err.find('\n', error) == r.err.size() - 1))
          << r.err;
    }
    ++damaged;
  }
  EXPECT_GE(damaged, 14);
}

}  // namespace
