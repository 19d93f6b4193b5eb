// Byte-exact encodings of hand-built tiles: the format's golden vectors. Each
// is checked against the fast encoder and the plain reference encoder, and
// decoded back.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

#include "ovk/tile_codec.h"
#include "support/reference_tile_encoder.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Quad = std::array<std::uint8_t, 4>;  // top-left, top-right, bottom-left, bottom-right

struct Tile {
  int width;
  int height;
  Bytes pixels;  // rows top-down, stride = width
};

// A tile whose quads, in quad order, are `quads`.
Tile TileFromQuads(int width, int height, const std::vector<Quad>& quads) {
  EXPECT_EQ(quads.size(), static_cast<std::size_t>(width / 2 * (height / 2)));
  Tile tile{width, height, Bytes(static_cast<std::size_t>(width) * height)};
  for (std::size_t i = 0; i < quads.size(); ++i) {
    const std::size_t qx = i % (width / 2);
    const std::size_t qy = i / (width / 2);
    std::uint8_t* top = &tile.pixels[2 * qy * width + 2 * qx];
    top[0] = quads[i][0];
    top[1] = quads[i][1];
    top[width] = quads[i][2];
    top[width + 1] = quads[i][3];
  }
  return tile;
}

void Repeat(std::vector<Quad>& quads, const Quad& q, int times) {
  quads.insert(quads.end(), times, q);
}

struct Encoded {
  std::int32_t result;
  Bytes bytes;  // the first `result` bytes of the output, when result >= 0
};

// Encodes with both encoders, checks that they agree, and that an accepted
// tile decodes to itself with the same length.
Encoded EncodeChecked(const Tile& tile) {
  const std::size_t bound = TileEncodeBound(tile.width, tile.height);
  Bytes fast(bound, 0xCD);
  Bytes reference(bound, 0xCD);
  const std::int32_t n = EncodeTile(tile.pixels.data(), tile.width, tile.width, tile.height, fast);
  const std::int32_t r = testing_support::ReferenceEncodeTile(tile.pixels.data(), tile.width,
                                                              tile.width, tile.height, reference);
  EXPECT_EQ(n, r) << "fast and reference encoders disagree on the result";
  if (n < 0) return {n, {}};
  fast.resize(n);
  reference.resize(std::max(r, 0));
  EXPECT_EQ(fast, reference);

  Bytes decoded(tile.pixels.size(), 0xEE);
  EXPECT_EQ(DecodeTile(fast, decoded.data(), tile.width, tile.height, tile.width), n);
  EXPECT_EQ(decoded, tile.pixels);
  return {n, fast};
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}
Bytes Times(const Bytes& part, int times) {
  Bytes all;
  for (int i = 0; i < times; ++i) all.insert(all.end(), part.begin(), part.end());
  return all;
}

TEST(TileEncodeGolden, OneColourTilesOfEverySize) {
  const Bytes table = {0x01, 0x05, 0x05, 0x05, 0x05};
  struct Case {
    int width, height;
    Bytes expected;
  };
  const Case cases[] = {
      {16, 16, Concat({table, {0x00, 0xFF, 0x3F}})},
      {32, 32, Concat({table, {0x00, 0xFF, 0xFF}})},
      {64, 64, Concat({table, Times({0x00, 0xFF, 0xFF}, 4)})},
      {128, 64, Concat({table, Times({0x00, 0xFF, 0xFF}, 8)})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.width << "x" << c.height);
    const Tile tile{c.width, c.height, Bytes(static_cast<std::size_t>(c.width) * c.height, 0x05)};
    const Encoded e = EncodeChecked(tile);
    EXPECT_EQ(e.bytes, c.expected);
  }
  // The sizes the format's examples quote.
  EXPECT_EQ(Concat({table, Times({0x00, 0xFF, 0xFF}, 4)}).size(), 17u);
  EXPECT_EQ(Concat({table, Times({0x00, 0xFF, 0xFF}, 8)}).size(), 29u);

  // One colour is the densest coding of all: the reader's floor on tile data,
  // ShortestTileBytes, is exactly its length, short remainders included.
  for (auto [width, height] : {std::pair{2, 2},
                               {4, 2},
                               {6, 2},
                               {4, 4},
                               {16, 16},
                               {32, 32},
                               {128, 64},
                               {514, 2},
                               {516, 2},
                               {1030, 2}}) {
    SCOPED_TRACE(testing::Message() << width << "x" << height);
    const Tile tile{width, height, Bytes(static_cast<std::size_t>(width) * height, 0x05)};
    const Encoded e = EncodeChecked(tile);
    EXPECT_EQ(ShortestTileBytes(static_cast<std::uint64_t>(width / 2 * (height / 2))),
              e.bytes.size());
  }
}

// Runs are cut at 256 quads; what is left follows the rule for short runs.
TEST(TileEncodeGolden, LongRunsAreSplitAt256) {
  const Quad a = {0x01, 0x02, 0x03, 0x04};
  const Quad b = {0x05, 0x06, 0x07, 0x08};
  const Bytes table = {0x02, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};
  struct Case {
    int runOfA;
    Bytes streamOfA;
  };
  const Case cases[] = {
      {300, {0x00, 0xFF, 0xFF, 0x00, 0xFF, 0x2B}},  // 256 + 44
      {256, {0x00, 0xFF, 0xFF}},
      {257, {0x00, 0xFF, 0xFF, 0x00}},
      {259, {0x00, 0xFF, 0xFF, 0x00, 0x00, 0x00}},
      {260, {0x00, 0xFF, 0xFF, 0x00, 0xFF, 0x03}},
      {512 - 1, {0x00, 0xFF, 0xFF, 0x00, 0xFF, 0xFE}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.runOfA);
    // 64 x 32: 512 quads, A first, then B for the rest.
    std::vector<Quad> quads;
    Repeat(quads, a, c.runOfA);
    Repeat(quads, b, 512 - c.runOfA);
    const int runOfB = 512 - c.runOfA;
    Bytes streamOfB;
    if (runOfB >= 4) {
      streamOfB = {0x01, 0xFF, static_cast<std::uint8_t>(runOfB - 1)};
    } else {
      streamOfB = Bytes(runOfB, 0x01);
    }
    const Encoded e = EncodeChecked(TileFromQuads(64, 32, quads));
    EXPECT_EQ(e.bytes, Concat({table, c.streamOfA, streamOfB}));
  }
}

TEST(TileEncodeGolden, MirroredQuadSharesItsEntry) {
  std::vector<Quad> quads;
  for (int row = 0; row < 8; ++row) {
    Repeat(quads, {0x01, 0x02, 0x03, 0x04}, 4);
    Repeat(quads, {0x02, 0x01, 0x04, 0x03}, 4);
  }
  const Encoded e = EncodeChecked(TileFromQuads(16, 16, quads));
  const Bytes expected =
      Concat({{0x01, 0x01, 0x02, 0x03, 0x04}, Times({0x00, 0xFF, 0x03, 0x01, 0xFF, 0x03}, 8)});
  ASSERT_EQ(expected.size(), 53u);
  EXPECT_EQ(e.bytes, expected);
}

TEST(TileEncodeGolden, UsageClassesOrderTheTable) {
  const Quad a = {0x01, 0x02, 0x03, 0x04};
  const Quad b = {0x05, 0x06, 0x07, 0x08};
  {
    // B is matched mirrored top to bottom (class 2) and moves before A (class 0).
    std::vector<Quad> quads = {a, b, {0x07, 0x08, 0x05, 0x06}};
    Repeat(quads, a, 61);
    EXPECT_EQ(EncodeChecked(TileFromQuads(16, 16, quads)).bytes,
              (Bytes{0x02, 0x05, 0x06, 0x07, 0x08, 0x01, 0x02, 0x03, 0x04, 0x01, 0x00, 0x04, 0x01,
                     0xFF, 0x3C}));
  }
  {
    // A one-colour quad seen twice reaches class 3; three A stay literals,
    // four one-colour quads become a repeat.
    std::vector<Quad> quads;
    Repeat(quads, a, 3);
    Repeat(quads, {0x09, 0x09, 0x09, 0x09}, 4);
    Repeat(quads, a, 57);
    EXPECT_EQ(EncodeChecked(TileFromQuads(16, 16, quads)).bytes,
              (Bytes{0x02, 0x09, 0x09, 0x09, 0x09, 0x01, 0x02, 0x03, 0x04, 0x01, 0x01, 0x01, 0x00,
                     0xFF, 0x03, 0x01, 0xFF, 0x38}));
  }
  {
    // Classes 1, 2, 3 and 0 all present: C is matched mirrored left to right,
    // B top to bottom, the one-colour quad half turned, A never.
    const Quad c = {0x0A, 0x0B, 0x0C, 0x0D};
    const Quad one = {0x09, 0x09, 0x09, 0x09};
    std::vector<Quad> quads = {
        a, one, b, c, one, {0x07, 0x08, 0x05, 0x06}, {0x0B, 0x0A, 0x0D, 0x0C}};
    Repeat(quads, a, 57);
    const Encoded e = EncodeChecked(TileFromQuads(16, 16, quads));
    ASSERT_GT(e.result, 17);
    EXPECT_EQ(Bytes(e.bytes.begin(), e.bytes.begin() + 17),
              (Bytes{0x04, 0x0A, 0x0B, 0x0C, 0x0D, 0x05, 0x06, 0x07, 0x08, 0x09, 0x09, 0x09, 0x09,
                     0x01, 0x02, 0x03, 0x04}));
  }
}

TEST(TileEncodeGolden, TableFullAt254Entries) {
  std::vector<Quad> quads;
  for (int k = 0; k <= 253; ++k) quads.push_back({static_cast<std::uint8_t>(k), 0x00, 0x00, 0x01});
  std::vector<Quad> fits = quads;
  Repeat(fits, {0x00, 0x00, 0x00, 0x01}, 2);
  const Encoded e = EncodeChecked(TileFromQuads(32, 32, fits));
  ASSERT_EQ(e.result, 1 + 4 * 254 + 256);
  EXPECT_EQ(e.bytes[0], 254);
  for (int k = 0; k <= 253; ++k) {
    EXPECT_EQ(e.bytes[1 + 4 * k], k);
    EXPECT_EQ(e.bytes[1 + 1016 + k], k);
  }
  EXPECT_EQ(e.bytes[1 + 1016 + 254], 0);
  EXPECT_EQ(e.bytes[1 + 1016 + 255], 0);

  std::vector<Quad> overflows = quads;
  overflows.push_back({0xFE, 0x00, 0x00, 0x01});
  overflows.push_back({0xFF, 0x00, 0x00, 0x01});
  EXPECT_EQ(EncodeChecked(TileFromQuads(32, 32, overflows)).result, -1);
}

// Ek = (k + 2, 00, 00, 01) for k = 0..79, then E0..E19 half turned, then E79.
TEST(TileEncodeGolden, RefinementAppendsOutOfReachQuads) {
  const auto e = [](int k) { return Quad{static_cast<std::uint8_t>(k + 2), 0x00, 0x00, 0x01}; };
  const auto turned = [](int k) {
    return Quad{0x01, 0x00, 0x00, static_cast<std::uint8_t>(k + 2)};
  };
  std::vector<Quad> quads;
  for (int k = 0; k < 80; ++k) quads.push_back(e(k));
  for (int k = 0; k < 20; ++k) quads.push_back(turned(k));
  Repeat(quads, e(79), 156);

  Bytes expected = {100};
  const auto add = [&expected](const Quad& q) {
    expected.insert(expected.end(), q.begin(), q.end());
  };
  for (int k = 0; k < 80; ++k) add(e(k));
  for (int k = 15; k < 20; ++k) add(turned(k));
  for (int k = 0; k < 15; ++k) add(turned(k));
  for (int v = 0x00; v <= 0x4F; ++v) expected.push_back(static_cast<std::uint8_t>(v));
  for (int v = 0x55; v <= 0x63; ++v) expected.push_back(static_cast<std::uint8_t>(v));
  for (int v = 0x50; v <= 0x54; ++v) expected.push_back(static_cast<std::uint8_t>(v));
  expected.insert(expected.end(), {0x4F, 0xFF, 0x9B});
  ASSERT_EQ(expected.size(), 504u);
  EXPECT_EQ(EncodeChecked(TileFromQuads(32, 32, quads)).bytes, expected);
}

// 128 entries that are each their own left-to-right mirror or not, and the
// mirrors of the last few: every pass pushes one more mirror out of reach.
std::vector<Quad> PassLimitQuads(int firstMirrored) {
  const auto entry = [firstMirrored](int k) {
    const auto b = static_cast<std::uint8_t>(k);
    return k < firstMirrored ? Quad{b, b, 0xFA, 0xFA} : Quad{b, 0xC8, 0xC9, 0xCA};
  };
  std::vector<Quad> quads;
  for (int k = 0; k < 128; ++k) quads.push_back(entry(k));
  for (int k = 0; k < firstMirrored; ++k) quads.push_back(entry(k));
  for (int k = firstMirrored; k < 128; ++k) {
    quads.push_back({0xC8, static_cast<std::uint8_t>(k), 0xCA, 0xC9});
  }
  return quads;
}

TEST(TileEncodeGolden, RefinementPassLimit) {
  EXPECT_EQ(EncodeChecked(TileFromQuads(32, 32, PassLimitQuads(117))).result, -1);

  const Encoded tenAppends = EncodeChecked(TileFromQuads(32, 32, PassLimitQuads(118)));
  EXPECT_EQ(tenAppends.result, 809);
  ASSERT_FALSE(tenAppends.bytes.empty());
  EXPECT_EQ(tenAppends.bytes[0], 138);

  const Encoded nineAppends = EncodeChecked(TileFromQuads(32, 32, PassLimitQuads(119)));
  EXPECT_EQ(nineAppends.result, 805);
  ASSERT_FALSE(nineAppends.bytes.empty());
  EXPECT_EQ(nineAppends.bytes[0], 137);
  // The appended mirrors come last, the mirror of E127 first.
  for (int i = 0; i < 9; ++i) {
    const std::uint8_t* entry = &nineAppends.bytes[1 + 4 * (128 + i)];
    EXPECT_EQ(Bytes(entry, entry + 4),
              (Bytes{0xC8, static_cast<std::uint8_t>(127 - i), 0xCA, 0xC9}));
  }
}

TEST(TileEncodeContract, RefusesBadShapesAndShortOutput) {
  Bytes pixels(64 * 64, 0x05);
  Bytes out(TileEncodeBound(16, 16));
  EXPECT_EQ(TileEncodeBound(128, 64), 3065u);
  EXPECT_EQ(TileEncodeBound(16, 16), 1u + 4 * 64 + 64);
  EXPECT_EQ(EncodeTile(pixels.data(), 16, 15, 16, out), -1);
  EXPECT_EQ(EncodeTile(pixels.data(), 16, 16, 0, out), -1);
  EXPECT_EQ(EncodeTile(pixels.data(), 8, 16, 16, out), -1);  // stride below the width
  EXPECT_EQ(EncodeTile(pixels.data(), 16, 16, 16, std::span(out).first(out.size() - 1)), -1);
  EXPECT_EQ(EncodeTile(pixels.data(), 16, 16, 16, out), 8);
}

}  // namespace
