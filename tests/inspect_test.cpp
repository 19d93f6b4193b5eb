// -i through the real executable: one line of facts per file, read from the
// files' own headers here, and the failure of one file among several.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "support/byte_order.h"
#include "support/png_reader.h"
#include "support/run_process.h"
#include "support/test_files.h"

namespace {

namespace ts = testing_support;
using ts::Bytes;
using ts::Le16;
using ts::Le32;

std::string Field(const std::string& key, std::int64_t value) {
  return " " + key + "=" + std::to_string(value);
}

// The line -i prints for an ovk file, from the bytes of its headers.
std::string OvkLine(const std::string& name) {
  const Bytes f = ts::ReadBytes(name);
  const std::uint32_t version = Le32(f, 0);
  std::string line = name + ":" + Field("version", version);
  if (version == 1006) {
    const bool packed = (f.at(23) & 0x80) != 0;
    line += Field("width", static_cast<std::int16_t>(Le16(f, 18))) +
            Field("height", static_cast<std::int16_t>(Le16(f, 20))) +
            Field("colors", static_cast<std::int16_t>(Le16(f, 14))) +
            " storage=" + (packed ? "packed" : "raw") + " tiles=" + std::to_string(1 << f.at(16)) +
            "x" + std::to_string(1 << f.at(17)) + Field("bytes", f.size());
    if (packed) line += Field("blocks", Le32(f, 24 + 8)) + " streams=complete";
    return line + (packed ? " option=-v6\n" : " option=-v60\n");
  }
  line += Field("width", Le32(f, 4)) + Field("height", Le32(f, 8));
  if (version == 1000)
    return line + " colors=256 storage=raw" + Field("bytes", f.size()) + " option=-v0\n";
  if (version == 1001) {
    return line + " colors=0 storage=packed" + Field("bytes", f.size()) +
           Field("blocks", Le32(f, 20)) + " streams=complete\n";
  }
  // A packed palette, then (after 4 more bytes in 1005) the packed pixels.
  const std::size_t palette = version == 1002 ? 12 : 16;
  const std::size_t pixels = palette + Le32(f, palette) + 4 + (version == 1005 ? 4 : 0);
  line += Field("colors", Le32(f, palette + 4) / 4) +
          " storage=" + (version == 1005 ? "blocks" : "packed") + Field("bytes", f.size()) +
          Field("blocks", Le32(f, palette + 8) + Le32(f, pixels + 8)) + " streams=complete";
  if (version == 1005) return line + "\n";
  return line + (version == 1002 ? " option=-v2\n" : " option=-v4\n");
}

TEST(InspectCli, FactsOfEveryVersionComeFromTheFilesHeaders) {
  std::vector<std::string> args = {"-i"};
  std::string expected;
  for (const char* name :
       {"v1000_16x16", "v1001_8x4", "v1002_20x12", "v1004_32x20", "v1005_mode0_32x16",
        "v1005_mode2_16x8", "v1006_packed_32x16", "v1006_raw_16x16", "basn3p08.v60"}) {
    args.push_back(ts::DataPath(std::string("ok/") + name + ".ovk"));
    expected += OvkLine(args.back());
  }
  ts::ProcessResult r = ts::RunOvkconv(args);
  EXPECT_EQ(r.out, expected);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
}

TEST(InspectCli, PicturesAndOneDamagedFileAmongSeveral) {
  const std::string ovk = ts::DataPath("ok/v1002_20x12.ovk");
  const std::string damaged = ts::DataPath("bad/truncated_1002.ovk");
  const std::string palettePng = ts::DataPath("ok/basn3p08.png");
  const std::string rgbPng = ts::DataPath("pngsuite/basn2c08.png");
  const std::string bmp = ts::DataPath("ok/v1000_16x16.bmp");

  // Its colours as the import sees them (its gamma chunk asks for a correction).
  const ts::DecodedPng rgb = ts::DecodePng(ts::ReadBytes(rgbPng), {.asImported = true});
  ASSERT_TRUE(rgb.ok);
  std::set<std::vector<std::uint8_t>> colours;
  for (const Bytes& row : rgb.rows) {
    for (std::size_t x = 0; x + 3 <= row.size(); x += 3)
      colours.insert({row.begin() + x, row.begin() + x + 3});
  }
  const Bytes bmpBytes = ts::ReadBytes(bmp);
  const std::string expected =
      OvkLine(ovk) + damaged + ": ovk変換エラー(5)\n" + palettePng +
      ": format=png bitcount=8 width=32 height=32" +
      Field("colors", ts::DecodePng(ts::ReadBytes(palettePng)).plte.size()) + " ovk=yes" +
      Field("bytes", ts::ReadBytes(palettePng).size()) + "\n" + rgbPng +
      ": format=png bitcount=24 width=32 height=32 colors=0" + Field("distinct", colours.size()) +
      " ovk=no" + Field("bytes", ts::ReadBytes(rgbPng).size()) + "\n" + bmp +
      ": format=bmp bitcount=8" + Field("width", Le32(bmpBytes, 18)) +
      Field("height", Le32(bmpBytes, 22)) + Field("colors", Le32(bmpBytes, 46)) + " ovk=yes" +
      Field("bytes", bmpBytes.size()) + "\n";
  ts::ProcessResult r = ts::RunOvkconv({"-i", ovk, damaged, palettePng, rgbPng, bmp});
  EXPECT_EQ(r.out, expected);
  EXPECT_EQ(r.status, 255);

  // A missing file fails too; with no file at all the name shows as (null).
  r = ts::RunOvkconv({"-i", "no_such_file.ovk", ovk});
  EXPECT_EQ(r.out,
            "no_such_file.ovk: ファイルが見つかりません？(no_such_file.ovk)\n" + OvkLine(ovk));
  EXPECT_EQ(r.status, 255);
  // A palette that claims 10 entries more than its stream holds still
  // decodes; the line says so.
  ts::ScratchDir dir;
  Bytes shortPalette = ts::ReadBytes(ovk);
  ts::PutLe32(shortPalette, 12 + 4, Le32(shortPalette, 12 + 4) + 40);
  ts::WriteBytes(dir.File("short.ovk"), shortPalette);
  r = ts::RunOvkconv({"-i", dir.File("short.ovk")});
  std::string line = OvkLine(dir.File("short.ovk"));
  line.replace(line.find("streams=complete"), 16, "streams=short missing=40");
  EXPECT_EQ(r.out, line);
  EXPECT_EQ(r.status, 0);

  r = ts::RunOvkconv({"-i"});
  EXPECT_EQ(r.out, "ファイルが見つかりません？((null))\n");
  EXPECT_EQ(r.status, 255);
}

}  // namespace
