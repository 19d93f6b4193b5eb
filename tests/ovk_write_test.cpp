// The writing side in memory: every version's bytes, the 1004 reordering,
// the 1006 tile size and its retries, and which inputs are taken or refused.
#include <gtest/gtest.h>

#include <random>

#include "ovk/decoder.h"
#include "ovk/rows_to_blocks.h"
#include "pack/pack.h"
#include "support/bmp_builder.h"
#include "support/ovk_test_writer.h"

namespace {

using testing_support::BmpOptions;
using testing_support::BuildBmp;
using testing_support::Bytes;
using testing_support::Le16;
using testing_support::Le32;
using testing_support::Noise;
using testing_support::Picture;
using testing_support::RandomPicture;
using testing_support::WriteInMemory;
using testing_support::WriteRun;

// A picture of one index everywhere, with `entries` palette entries whose
// bytes are 1, 2, 3, ... (so that a swap or a shift shows).
Picture Flat(std::int32_t width, std::int32_t height, std::uint8_t index, int entries) {
  Picture p;
  p.width = width;
  p.height = height;
  p.indices.assign(static_cast<std::size_t>(width) * height, index);
  p.palette.resize(static_cast<std::size_t>(entries) * 4);
  for (std::size_t i = 0; i < p.palette.size(); ++i)
    p.palette[i] = static_cast<std::uint8_t>(i + 1);
  return p;
}

// Every pixel different from its neighbours: x + 16y over a 256-entry palette.
Picture Gradient(std::int32_t width, std::int32_t height) {
  Picture p = Flat(width, height, 0, 256);
  for (std::int32_t y = 0; y < height; ++y) {
    for (std::int32_t x = 0; x < width; ++x) {
      p.indices[y * width + x] = static_cast<std::uint8_t>(x + 16 * y);
    }
  }
  return p;
}

class WriterTest : public ::testing::Test {};

// --- RowsToBlocks ---------------------------------------------------------

// Rows stored bottom-up, each byte naming its picture position: row y from
// the top (stored at height - 1 - y), column x -> (y * 7 + x) & 0xFF.
Bytes StoredRows(std::int32_t height, std::int32_t stride) {
  Bytes rows(static_cast<std::size_t>(height) * stride);
  for (std::int32_t y = 0; y < height; ++y) {
    for (std::int32_t x = 0; x < stride; ++x) {
      rows[(height - 1 - y) * stride + x] = static_cast<std::uint8_t>(y * 7 + x);
    }
  }
  return rows;
}

TEST(RowsToBlocks, FullBandsFollowThePixelMapping) {
  const std::int32_t height = 16, stride = 48;
  Bytes rows = StoredRows(height, stride);
  Bytes dest(ovk::BlockOrderBytes(height, stride), 0xEE);
  ASSERT_EQ(dest.size(), static_cast<std::size_t>(height * stride));
  ASSERT_TRUE(RowsToBlocks(rows, dest, height, stride));
  for (std::int32_t y = 0; y < height; ++y) {
    for (std::int32_t x = 0; x < stride; ++x) {
      const std::size_t at = (y / 8) * 8 * stride + (x / 16) * 128 + (y % 8) * 16 + x % 16;
      ASSERT_EQ(dest[at], static_cast<std::uint8_t>(y * 7 + x)) << x << "," << y;
    }
  }
}

TEST(RowsToBlocks, PartialBandAndUnstoredColumnsKeepTheDestination) {
  // 32 x 20: the third band carries 4 rows; its other 4 block rows are skipped.
  {
    const std::int32_t height = 20, stride = 32;
    Bytes rows = StoredRows(height, stride);
    Bytes dest(2 * 8 * 32 + 2 * 128, 0xEE);
    ASSERT_TRUE(RowsToBlocks(rows, dest, height, stride));
    EXPECT_EQ(dest[2 * 8 * 32 + 3 * 16 + 5], static_cast<std::uint8_t>(19 * 7 + 5));
    EXPECT_EQ(dest[2 * 8 * 32 + 4 * 16], 0xEE);  // row 20 does not exist
    EXPECT_EQ(dest[2 * 8 * 32 + 128 + 3 * 16 + 15], static_cast<std::uint8_t>(19 * 7 + 31));
    EXPECT_EQ(dest.back(), 0xEE);
  }
  // Stride 40: two blocks per band; columns 32..39 are not stored and the
  // last 64 bytes of each band's area stay untouched.
  {
    const std::int32_t height = 8, stride = 40;
    Bytes rows = StoredRows(height, stride);
    Bytes dest(ovk::BlockOrderBytes(height, stride), 0xEE);
    ASSERT_TRUE(RowsToBlocks(rows, dest, height, stride));
    EXPECT_EQ(dest[128 + 7 * 16 + 15], static_cast<std::uint8_t>(7 * 7 + 31));
    for (std::size_t i = 256; i < 320; ++i) EXPECT_EQ(dest[i], 0xEE) << i;
  }
}

TEST(RowsToBlocks, RefusesShortBuffersAndNegativeSizes) {
  Bytes rows(32 * 20, 1);
  Bytes shortDest(ovk::BlockOrderBytes(20, 32) - 1, 0xEE);
  EXPECT_FALSE(RowsToBlocks(rows, shortDest, 20, 32));
  EXPECT_TRUE(std::all_of(shortDest.begin(), shortDest.end(), [](auto b) { return b == 0xEE; }));
  Bytes dest(ovk::BlockOrderBytes(20, 32));
  EXPECT_FALSE(RowsToBlocks(std::span(rows).first(rows.size() - 1), dest, 20, 32));
  EXPECT_FALSE(RowsToBlocks(rows, dest, -8, 32));
  EXPECT_FALSE(RowsToBlocks(rows, dest, 8, -16));
  EXPECT_TRUE(RowsToBlocks(rows, dest, 0, 32));  // no bands: nothing to do
}

// --- Each version, byte for byte -----------------------------------------

// Against the test writer's file: the palette area turned from B, G, R, A
// to R, G, B, A and padded with zeros, the rows top-down.
TEST_F(WriterTest, Version1000IsThePaletteAreaAndTheRowsTopDown) {
  Picture full = Gradient(16, 16);
  Picture small = Flat(16, 16, 9, 16);
  for (std::int32_t i = 0; i < 16; ++i) small.indices[i * 17] = static_cast<std::uint8_t>(i);
  BmpOptions gap;
  gap.gap = 37;  // pixels found through the pixel offset
  for (const auto& [p, options] : {std::pair{full, BmpOptions{}}, std::pair{small, BmpOptions{}},
                                   std::pair{Gradient(16, 32), gap}}) {
    WriteRun run = WriteInMemory(BuildBmp(p, options), 1000);
    ASSERT_EQ(run.source, Fault::kNone);
    ASSERT_EQ(run.encode, Fault::kNone);
    EXPECT_EQ(run.bytes, testing_support::Ovk1000(p));
  }
}

TEST_F(WriterTest, Version1006RawSixteenBySixteenIsExactly1056Bytes) {
  Picture p = Flat(16, 16, 5, 256);
  std::fill(p.palette.begin(), p.palette.end(), 0);
  WriteRun run = WriteInMemory(BuildBmp(p), 60);
  ASSERT_EQ(run.encode, Fault::kNone);
  Bytes expected = {0xEE, 0x03, 0, 0, 0x18, 0x04, 0,  0, 'C', 'C', 'P', 'I',
                    7,    0,    0, 1, 4,    4,    16, 0, 16,  0,   2,   0};
  expected.resize(24 + 1024, 0);
  for (std::uint8_t b : {0x01, 0x05, 0x05, 0x05, 0x05, 0x00, 0xFF, 0x3F}) expected.push_back(b);
  EXPECT_EQ(run.bytes, expected);
}

TEST_F(WriterTest, PackedVersionsMatchTheirLayout) {
  std::mt19937 rng(7);
  for (int entries : {1, 2, 17, 256}) {
    Picture p = RandomPicture(rng, 64, 48, entries, 20);
    Bytes bmp = BuildBmp(p);
    for (int version : {1002, 1004, 1006, 60}) {
      SCOPED_TRACE(testing::Message() << entries << " entries, version " << version);
      WriteRun run = WriteInMemory(bmp, version);
      ASSERT_EQ(run.encode, Fault::kNone);
      EXPECT_EQ(run.bytes, testing_support::ExpectedFile(p, version, run.report));
      if (version == 1006 || version == 60) {
        // 64 x 48 starts at 64 x 16 tiles: the width gives 2^6, the height 2^4.
        EXPECT_EQ(run.report.tileWidthLog2, 6);
        EXPECT_EQ(run.report.tileHeightLog2, 4);
      }
    }
  }
}

TEST_F(WriterTest, BlockSizeSetsTheBlocksOfEachSection) {
  Picture p = Gradient(256, 128);  // a 32768-byte index plane
  Bytes bmp = BuildBmp(p);
  WriteRun small = WriteInMemory(bmp, 1002, false, 16384);
  WriteRun large = WriteInMemory(bmp, 1002);
  ASSERT_EQ(small.encode, Fault::kNone);
  ASSERT_EQ(large.encode, Fault::kNone);
  const std::size_t pixelSection = 12 + 4 + Le32(small.bytes, 12);
  EXPECT_EQ(Le32(small.bytes, pixelSection + 8), 2u);
  EXPECT_EQ(Le32(large.bytes, 12 + 4 + Le32(large.bytes, 12) + 8), 1u);
  std::size_t pos = 12;
  ASSERT_TRUE(testing_support::ReadPackedSection(small.bytes, &pos));
  std::optional<Bytes> plane = testing_support::ReadPackedSection(small.bytes, &pos);
  ASSERT_TRUE(plane);
  EXPECT_EQ(*plane, p.indices);
}

TEST_F(WriterTest, IgnoreAlphaMakesEveryEntryOpaque) {
  Picture p = Flat(32, 16, 3, 40);
  for (std::size_t e = 0; e < 40; ++e) p.palette[4 * e + 3] = static_cast<std::uint8_t>(e);
  Picture opaque = p;
  for (std::size_t e = 0; e < 40; ++e) opaque.palette[4 * e + 3] = 255;
  Bytes bmp = BuildBmp(p);
  for (int version : {1000, 1002, 1004, 1006, 60}) {
    SCOPED_TRACE(version);
    WriteRun kept = WriteInMemory(bmp, version, false);
    WriteRun made = WriteInMemory(bmp, version, true);
    EXPECT_EQ(kept.bytes, testing_support::ExpectedFile(p, version, kept.report));
    EXPECT_EQ(made.bytes, testing_support::ExpectedFile(opaque, version, made.report));
  }
}

TEST_F(WriterTest, TopDownBmpWritesTheSameFileAsItsBottomUpTwin) {
  std::mt19937 rng(11);
  Picture p = RandomPicture(rng, 48, 32, 30, 40);
  BmpOptions topDown;
  topDown.topDown = true;
  for (int version : {1000, 1002, 1004, 1006, 60}) {
    SCOPED_TRACE(version);
    WriteRun a = WriteInMemory(BuildBmp(p), version);
    WriteRun b = WriteInMemory(BuildBmp(p, topDown), version);
    ASSERT_EQ(b.source, Fault::kNone);
    ASSERT_EQ(b.encode, Fault::kNone);
    EXPECT_EQ(a.bytes, b.bytes);
    // The writer reads the picture; it never reorders the caller's rows.
    EXPECT_TRUE(a.inputUnchanged);
    EXPECT_TRUE(b.inputUnchanged);
  }
}

// --- Version 1006 tile sizes and retries ---------------------------------

TEST_F(WriterTest, TileSizeFollowsTheTrailingZeroBitsOfEachSide) {
  struct Case {
    std::int32_t width, height;
    int wlog, hlog;
  };
  for (const Case& c : {Case{256, 128, 7, 6}, Case{48, 32, 4, 5}, Case{16, 16, 4, 4},
                        Case{384, 192, 7, 6}, Case{96, 80, 5, 4}}) {
    SCOPED_TRACE(testing::Message() << c.width << "x" << c.height);
    // Two colours make at most 16 different quads: every tile fits at once.
    std::mt19937 rng(c.width);
    Picture p = RandomPicture(rng, c.width, c.height, 2, 30);
    WriteRun run = WriteInMemory(BuildBmp(p), 60);
    ASSERT_EQ(run.encode, Fault::kNone);
    EXPECT_EQ(run.report.tileOverflows, 0);
    EXPECT_EQ(run.bytes[16], c.wlog);
    EXPECT_EQ(run.bytes[17], c.hlog);
    EXPECT_EQ(run.bytes, testing_support::Expected1006(p, c.wlog, c.hlog, false));
  }
}

// The retries' messages, and what is left on disk, are ConvertToOvkCli's.
TEST_F(WriterTest, NoiseRetriesSmallerTilesThenGivesUp) {
  WriteRun run = WriteInMemory(BuildBmp(Noise(1, 256, 128)), 1006);
  EXPECT_EQ(run.encode, Fault::kTileOverflow);
  EXPECT_EQ(run.report.tileOverflows, 3);  // (7, 6), (6, 5), (5, 5)
  EXPECT_EQ(run.report.tileWidthLog2, 5);
  EXPECT_EQ(run.report.tileHeightLog2, 5);
  EXPECT_TRUE(run.bytes.empty()) << "nothing is written before the last tile";
  // 48 x 128 succeeds at the second attempt, with 16 x 32 tiles.
  Picture p = Noise(2, 48, 128);
  run = WriteInMemory(BuildBmp(p), 60);
  ASSERT_EQ(run.encode, Fault::kNone);
  EXPECT_EQ(run.report.tileOverflows, 1);
  EXPECT_EQ(run.bytes, testing_support::Expected1006(p, 4, 5, false));
  // A 16 x 16 noise tile has 64 quads and always fits.
  run = WriteInMemory(BuildBmp(Noise(3, 16, 16)), 60);
  EXPECT_EQ(run.encode, Fault::kNone);
  EXPECT_EQ(run.report.tileOverflows, 0);
}

TEST_F(WriterTest, SinkFailureStopsTheWriting) {
  Bytes bmp = BuildBmp(Gradient(32, 32));
  for (int version : {1000, 1002, 1004, 1006, 60}) {
    Cbuffer input;
    ASSERT_NE(input.Alloc(static_cast<std::int32_t>(bmp.size())), nullptr);
    std::copy(bmp.begin(), bmp.end(), input.data());
    ovk::OvkTarget target;
    ASSERT_TRUE(TargetForVersion(version, &target));
    SourceImage image;
    ASSERT_EQ(PrepareSource(input.span(), target, &image), Fault::kNone);
    int calls = 0;
    ovk::EncodeReport report;
    EXPECT_EQ(ovk::EncodeOvk(
                  image, target, false,
                  [&calls](std::span<const std::uint8_t>) {
                    ++calls;
                    return false;
                  },
                  &report),
              Fault::kWriteFailed)
        << version;
    EXPECT_EQ(calls, 1) << "no piece is offered after a refusal; version " << version;
  }
}

// --- Which inputs are taken ------------------------------------------------

TEST(WriterVersions, OnlyTheWritableVersionsAreTargets) {
  ovk::OvkTarget t;
  ASSERT_TRUE(TargetForVersion(60, &t));
  EXPECT_EQ(t.version, 1006u);
  EXPECT_FALSE(t.packed);
  ASSERT_TRUE(TargetForVersion(1006, &t));
  EXPECT_TRUE(t.packed);
  for (int v : {1000, 1002, 1004}) {
    ASSERT_TRUE(TargetForVersion(v, &t));
    EXPECT_EQ(t.version, static_cast<std::uint32_t>(v));
  }
  for (int v : {1001, 1003, 1005, 1007, 0, 6, 61, -1006, 2006}) {
    EXPECT_FALSE(TargetForVersion(v, &t)) << v;
  }
}

struct Refusal {
  const char* what;
  Bytes bytes;
  int version;
  Fault status;
  std::int32_t bitCount, width, height;  // as reported, for kUnsupportedImage
};

void CheckRefusals(const std::vector<Refusal>& cases) {
  for (const Refusal& r : cases) {
    SCOPED_TRACE(r.what);
    WriteRun run = WriteInMemory(r.bytes, r.version);
    EXPECT_EQ(run.source, r.status);
    if (r.status == Fault::kUnsupportedImage) {
      EXPECT_EQ(run.bitCount, r.bitCount);
      EXPECT_EQ(run.width, r.width);
      EXPECT_EQ(run.height, r.height);
      // The error carries the same facts for its message.
      EXPECT_EQ(run.source.value, r.bitCount);
      EXPECT_EQ(run.source.width, r.width);
      EXPECT_EQ(run.source.height, r.height);
    }
    EXPECT_TRUE(run.bytes.empty());
  }
}

Bytes WithField32(Bytes b, std::size_t at, std::uint32_t v) {
  if (b.size() < 4 || at > b.size() - 4) throw std::out_of_range("field past the end");
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
  return b;
}

TEST(WriterInputs, RefusedAsTheHeadersDescribeThem) {
  Picture p = Gradient(32, 16);
  const Bytes good = BuildBmp(p);
  BmpOptions o24;
  o24.bitCount = 24;
  BmpOptions rle;
  rle.compression = 1;
  BmpOptions many;
  many.colorCountField = 257;
  Picture wide = Gradient(40, 16);
  Picture tall = Gradient(16, 24);
  CheckRefusals({
      {"24 bits", BuildBmp(p, o24), 1006, Fault::kUnsupportedImage, 24, 32, 16},
      {"12-byte header", WithField32(good, 14, 12), 1006, Fault::kUnsupportedImage, 8, 32, 16},
      {"width 40", BuildBmp(wide), 1006, Fault::kUnsupportedImage, 8, 40, 16},
      {"height 24", BuildBmp(tall), 1000, Fault::kUnsupportedImage, 8, 16, 24},
      {"run-length coded", BuildBmp(p, rle), 1000, Fault::kUnsupportedImage, 8, 32, 16},
      {"257 colours", BuildBmp(p, many), 1000, Fault::kUnsupportedImage, 8, 32, 16},
      {"width 0", WithField32(good, 18, 0), 1000, Fault::kUnsupportedImage, 8, 0, 16},
      {"width -32", WithField32(good, 18, static_cast<std::uint32_t>(-32)), 1000,
       Fault::kUnsupportedImage, 8, -32, 16},
      {"height 0", WithField32(good, 22, 0), 1000, Fault::kUnsupportedImage, 8, 32, 0},
      {"height INT_MIN", WithField32(good, 22, 0x80000000u), 1000, Fault::kUnsupportedImage, 8, 32,
       INT32_MIN},
  });
}

TEST(WriterInputs, TruncatedFilesAreRefusedWithoutReadingPastThem) {
  Picture p = Gradient(32, 16);
  const Bytes good = BuildBmp(p);
  ASSERT_EQ(WriteInMemory(good, 1000).source, Fault::kNone);
  const Bytes oneShort(good.begin(), good.end() - 1);
  const Bytes headersOnly(good.begin(), good.begin() + 54);
  const Bytes halfHeader(good.begin(), good.begin() + 30);  // bit count at 28 is present
  CheckRefusals({
      {"last pixel missing", oneShort, 1000, Fault::kUnsupportedImage, 8, 32, 16},
      {"palette missing", headersOnly, 1002, Fault::kUnsupportedImage, 8, 32, 16},
      {"half a header", halfHeader, 1004, Fault::kUnsupportedImage, 8, 32, 16},
      {"just BM", Bytes{'B', 'M'}, 1006, Fault::kUnsupportedImage, 0, 0, 0},
      {"pixel offset past the end", WithField32(good, 10, 0xFFFFFFF0u), 1000,
       Fault::kUnsupportedImage, 8, 32, 16},
      {"pixel offset leaves too few rows", WithField32(good, 10, 54 + 1024 + 1), 1000,
       Fault::kUnsupportedImage, 8, 32, 16},
  });
  // The same bytes with a 16-entry colour count need only 64 palette bytes.
  Bytes small = WithField32(good, 46, 16);
  EXPECT_EQ(WriteInMemory(small, 1000).source, Fault::kNone);
}

TEST(WriterInputs, ContentNotNameDecidesAndOthersAreNotImages) {
  CheckRefusals({
      {"empty", Bytes{}, 1006, Fault::kNotImage, 0, 0, 0},
      {"one B", Bytes{'B'}, 1006, Fault::kNotImage, 0, 0, 0},
      {"text", Bytes{'h', 'e', 'l', 'l', 'o', '\n'}, 1006, Fault::kNotImage, 0, 0, 0},
      {"seven signature bytes", Bytes{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A}, 1006,
       Fault::kNotImage, 0, 0, 0},
      {"signature then nothing", Bytes{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}, 1006,
       Fault::kPngUnreadable, 0, 0, 0},
  });
}

TEST(WriterInputs, Version1006RefusesSidesOf32768) {
  // 32768 x 16: accepted by the versions with 32-bit sizes only.
  Picture wide = Flat(32768, 16, 1, 2);
  Bytes bmp = BuildBmp(wide);
  EXPECT_EQ(WriteInMemory(bmp, 1000).source, Fault::kNone);
  WriteRun refused = WriteInMemory(bmp, 1006);
  EXPECT_EQ(refused.source, Fault::kUnsupportedImage);
  EXPECT_EQ(refused.width, 32768);
  EXPECT_EQ(WriteInMemory(bmp, 60).source, Fault::kUnsupportedImage);
  Picture tall = Flat(16, 32768, 1, 2);
  EXPECT_EQ(WriteInMemory(BuildBmp(tall), 60).source, Fault::kUnsupportedImage);
  // 32752 is the largest multiple of 16 that fits.
  Picture largest = Flat(32752, 16, 1, 2);
  WriteRun ok = WriteInMemory(BuildBmp(largest), 60);
  ASSERT_EQ(ok.encode, Fault::kNone);
  EXPECT_EQ(Le16(ok.bytes, 18), 32752);
  EXPECT_EQ(ok.bytes[16], 4);  // 32752 = 16 * 2047
}

}  // namespace
