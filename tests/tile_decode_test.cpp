// DecodeTile on well-formed tiles written by hand, and on everything a
// well-formed tile cannot hold: refused with -1, never a read past the data
// or a write outside the tile.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "ovk/tile_codec.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// One entry (05 06 07 08) and `stream` as the index stream.
Bytes OneEntry(const Bytes& stream) {
  Bytes tile(5 + stream.size());
  const std::uint8_t table[] = {0x01, 0x05, 0x06, 0x07, 0x08};
  std::copy(std::begin(table), std::end(table), tile.begin());
  std::copy(stream.begin(), stream.end(), tile.begin() + 5);
  return tile;
}

std::int32_t Decode(const Bytes& in, int width, int height) {
  Bytes dest(static_cast<std::size_t>(width) * height);
  return DecodeTile(in, dest.data(), width, height, width);
}

TEST(TileDecode, PlacesEntriesUnderEachTransform) {
  // 4 x 4: four quads, literals 0..3 = entry 0 under transforms 0..3.
  const Bytes in = {0x01, 0x01, 0x02, 0x03, 0x04, 0x00, 0x01, 0x02, 0x03};
  Bytes dest(16, 0xEE);
  ASSERT_EQ(DecodeTile(in, dest.data(), 4, 4, 4), 9);
  EXPECT_EQ(dest, (Bytes{1, 2, 2, 1,  //
                         3, 4, 4, 3,  //
                         3, 4, 4, 3,  //
                         1, 2, 2, 1}));
}

TEST(TileDecode, RepeatRunsAcrossQuadRowsAndAcceptsCountFF) {
  // 4 x 4: literal 1 (05 06 07 08 mirrored), then three more of it.
  Bytes dest(16);
  ASSERT_EQ(DecodeTile(OneEntry({0x01, 0xFF, 0x03}), dest.data(), 4, 4, 4), 8);
  for (int row = 0; row < 4; row += 2) {
    EXPECT_EQ(Bytes(dest.begin() + 4 * row, dest.begin() + 4 * row + 8),
              (Bytes{6, 5, 6, 5, 8, 7, 8, 7}));
  }
  // Forms the encoder never writes but that are well formed: a repeat of one,
  // a run of literals, a literal after a repeat.
  EXPECT_EQ(Decode(OneEntry({0x00, 0xFF, 0x01, 0x00, 0x00}), 4, 4), 10);
  EXPECT_EQ(Decode(OneEntry({0x00, 0xFF, 0xFF, 0x02, 0xFF, 0xFF}), 64, 32), 11);
  // Trailing bytes belong to the next tile and are not consumed.
  EXPECT_EQ(Decode(OneEntry({0x00, 0xFF, 0x3F, 0x00, 0x00}), 16, 16), 8);
}

TEST(TileDecode, RefusesWhatAWellFormedTileCannotHold) {
  struct Case {
    const char* what;
    Bytes in;
  };
  // Apart from the fault named, each case covers the tile's 64 quads exactly.
  const Case cases[] = {
      {"no data", {}},
      {"entry count 0", {0x00, 0x00, 0xFF, 0x3F}},
      {"table past the data", {0x02, 0x01, 0x02, 0x03, 0x04, 0x05}},
      {"no index stream", {0x01, 0x05, 0x06, 0x07, 0x08}},
      {"literal 4 * N", OneEntry({0x04, 0xFF, 0x3F})},
      {"literal 4 * N late", OneEntry({0x00, 0xFF, 0x3D, 0x04, 0x00})},
      {"repeat count 0", OneEntry({0x00, 0xFF, 0x00, 0x00, 0xFF, 0x3E})},
      {"repeat opens the stream", OneEntry({0xFF, 0x40})},
      {"repeat after a repeat", OneEntry({0x00, 0xFF, 0x01, 0xFF, 0x3E})},
      {"repeat without its count", OneEntry({0x00, 0xFF})},
      {"repeat past the tile", OneEntry({0x00, 0xFF, 0x40})},
      {"stream ends early", OneEntry({0x00, 0xFF, 0x3E})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Decode(c.in, 16, 16), -1);
  }
  // 2 entries: literals up to 7 are valid, 8 is not.
  const Bytes two = {0x02, 1, 2, 3, 4, 5, 6, 7, 8};
  Bytes ok = two, bad = two;
  ok.insert(ok.end(), {0x07, 0x07, 0x07, 0x07});
  bad.insert(bad.end(), {0x07, 0x08, 0x07, 0x07});
  EXPECT_EQ(Decode(ok, 4, 4), 13);
  EXPECT_EQ(Decode(bad, 4, 4), -1);
  // From 64 entries on every literal up to 254 is in range.
  Bytes big(1 + 4 * 64, 0x00);
  big[0] = 64;
  big.insert(big.end(), {0xFE, 0xFF, 0x03});
  EXPECT_EQ(Decode(big, 4, 4), static_cast<std::int32_t>(big.size()));
}

TEST(TileDecode, RefusesBadShapes) {
  const Bytes in = OneEntry({0x00, 0xFF, 0x3F});
  Bytes dest(64 * 64);
  EXPECT_EQ(DecodeTile(in, dest.data(), 15, 16, 16), -1);
  EXPECT_EQ(DecodeTile(in, dest.data(), 16, 0, 16), -1);
  EXPECT_EQ(DecodeTile(in, dest.data(), -16, 16, 16), -1);
  EXPECT_EQ(DecodeTile(in, dest.data(), 16, 16, 8), -1);
  EXPECT_EQ(DecodeTile(in, dest.data(), 16, 16, 16), 8);
}

// Every cut of a valid tile is refused, whether it ends in the table, on a
// literal, between a 0xFF and its count, or one item short.
TEST(TileDecode, EveryTruncationIsRefused) {
  std::mt19937 rng(7);
  for (int trial = 0; trial < 50; ++trial) {
    Bytes pixels(32 * 16);
    for (auto& p : pixels) p = static_cast<std::uint8_t>(rng() % 3);
    if (trial % 2) {
      // Long stretches of one colour so that repeats appear.
      for (std::size_t i = 0; i < pixels.size(); ++i) pixels[i] = (i / 96) % 2 ? pixels[i] : 9;
    }
    Bytes encoded(TileEncodeBound(32, 16));
    const std::int32_t n = EncodeTile(pixels.data(), 32, 32, 16, encoded);
    ASSERT_GT(n, 0);
    encoded.resize(n);
    for (std::int32_t cut = 0; cut < n; ++cut) {
      Bytes dest(32 * 16);
      const Bytes prefix(encoded.begin(), encoded.begin() + cut);
      ASSERT_EQ(DecodeTile(prefix, dest.data(), 32, 16, 32), -1) << "cut at " << cut << " of " << n;
    }
    Bytes dest(32 * 16);
    EXPECT_EQ(DecodeTile(encoded, dest.data(), 32, 16, 32), n);
    EXPECT_EQ(dest, pixels);
  }
}

// Garbage and damaged tiles decoded into the middle of a larger plane: the
// bytes around the tile, and past the end of the input, stay untouched.
TEST(TileDecode, NeverWritesOutsideTheTile) {
  constexpr int kWidth = 32, kHeight = 16, kStride = 48, kMarginRows = 2;
  constexpr std::uint8_t kCanary = 0xA5;
  std::mt19937 rng(11);
  Bytes valid(TileEncodeBound(kWidth, kHeight));
  Bytes source(kWidth * kHeight);
  for (auto& p : source) p = static_cast<std::uint8_t>(rng() % 4);
  const std::int32_t validLength = EncodeTile(source.data(), kWidth, kWidth, kHeight, valid);
  ASSERT_GT(validLength, 0);
  valid.resize(validLength);

  int accepted = 0;
  for (int trial = 0; trial < 3000; ++trial) {
    Bytes in;
    if (trial % 3 == 0) {
      in.resize(rng() % 700);
      for (auto& b : in) b = static_cast<std::uint8_t>(rng());
      if (!in.empty()) in[0] = static_cast<std::uint8_t>(rng() % 8);  // small tables
    } else {
      in = valid;
      for (int k = 0, flips = 1 + rng() % 3; k < flips; ++k) {
        in[rng() % in.size()] = static_cast<std::uint8_t>(rng() % 4 ? rng() : 0xFF);
      }
    }
    Bytes plane(static_cast<std::size_t>(kStride) * (kHeight + 2 * kMarginRows), kCanary);
    std::uint8_t* tile = plane.data() + kMarginRows * kStride + 8;
    const std::int32_t n = DecodeTile(in, tile, kWidth, kHeight, kStride);
    ASSERT_LE(n, static_cast<std::int32_t>(in.size()));
    if (n > 0) ++accepted;
    for (std::size_t i = 0; i < plane.size(); ++i) {
      const std::ptrdiff_t offset = static_cast<std::ptrdiff_t>(i) - (tile - plane.data());
      const bool inTile = offset >= 0 && offset / kStride < kHeight && offset % kStride < kWidth;
      if (!inTile) {
        ASSERT_EQ(plane[i], kCanary) << "byte " << i << " written, trial " << trial;
      }
    }
  }
  // Some damaged tiles remain well formed (a changed table byte, say).
  EXPECT_GT(accepted, 0);
}

}  // namespace
