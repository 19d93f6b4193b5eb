// The tile codec: byte-exact encodings of hand-built tiles (the format's
// golden vectors), then properties over thousands of tiles built to hit the
// encoder's corners: every tile the encoder accepts decodes to itself with
// the encoded length, and the fast encoder writes exactly what the plain
// linear-search encoder writes, -1 results included.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <random>
#include <vector>

#include "ovk/tile_codec.h"
#include "support/reference_tile_encoder.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using testing_support::Quad;

// A tile inside a plane whose rows are `stride` bytes apart; the padding
// bytes of each row hold noise so that reading past the tile would show.
struct Plane {
  int width, height, stride;
  Bytes bytes;
  std::uint8_t* at(int x, int y) { return &bytes[static_cast<std::size_t>(y) * stride + x]; }
};

enum class Content {
  kFewColours,   // 2 to 16 colours, pixel by pixel
  kManyColours,  // any byte
  kQuadPool,     // runs of quads from a pool of 190..300 under random transforms,
                 // half of them symmetric
  kMirrored,     // halves mirrored left-right and top-bottom
  kSymmetric,    // quads that equal some of their own transforms
  kLongRuns,     // one quad for long stretches, runs crossing rows and 256
};
constexpr Content kAllContents[] = {Content::kFewColours, Content::kManyColours,
                                    Content::kQuadPool,   Content::kMirrored,
                                    Content::kSymmetric,  Content::kLongRuns};

void PutQuad(Plane& p, int qx, int qy, const Quad& q) {
  *p.at(2 * qx, 2 * qy) = q[0];
  *p.at(2 * qx + 1, 2 * qy) = q[1];
  *p.at(2 * qx, 2 * qy + 1) = q[2];
  *p.at(2 * qx + 1, 2 * qy + 1) = q[3];
}

Plane MakeTile(std::mt19937& rng, int width, int height, int stride, Content content) {
  Plane p{width, height, stride, Bytes(static_cast<std::size_t>(stride) * height)};
  for (auto& b : p.bytes) b = static_cast<std::uint8_t>(rng());  // padding noise
  const auto byte = [&rng] { return static_cast<std::uint8_t>(rng()); };
  const int qw = width / 2, qh = height / 2;
  switch (content) {
    case Content::kFewColours:
    case Content::kManyColours: {
      const int colours = content == Content::kManyColours ? 256 : 2 + rng() % 15;
      Bytes palette(colours);
      for (auto& c : palette) c = byte();
      for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) *p.at(x, y) = palette[rng() % colours];
      }
      break;
    }
    case Content::kQuadPool:
    case Content::kLongRuns: {
      const bool longRuns = content == Content::kLongRuns;
      std::vector<Quad> pool(longRuns ? 1 + rng() % 6 : 190 + rng() % 110);
      for (auto& q : pool) {
        // Half of them equal some of their own transforms.
        const std::uint8_t a = byte(), b = byte();
        const Quad shapes[] = {{a, b, byte(), byte()}, {a, a, b, b}, {a, b, a, b}, {a, b, b, a}};
        q = shapes[rng() % 2 ? 0 : 1 + rng() % 3];
      }
      Quad current = pool[0];
      int left = 0;
      for (int qy = 0; qy < qh; ++qy) {
        for (int qx = 0; qx < qw; ++qx) {
          if (left-- <= 0) {
            current =
                testing_support::Place(pool[rng() % pool.size()], static_cast<int>(rng() % 4));
            left = longRuns ? 250 + rng() % 12 : (rng() % 4 == 0 ? rng() % 8 : 0);
          }
          PutQuad(p, qx, qy, current);
        }
      }
      break;
    }
    case Content::kMirrored: {
      const int colours = 2 + rng() % 6;
      for (int y = 0; y < height / 2; ++y) {
        for (int x = 0; x < width / 2; ++x) {
          const auto c = static_cast<std::uint8_t>(rng() % colours);
          *p.at(x, y) = *p.at(width - 1 - x, y) = c;
          *p.at(x, height - 1 - y) = *p.at(width - 1 - x, height - 1 - y) = c;
        }
      }
      break;
    }
    case Content::kSymmetric: {
      for (int qy = 0; qy < qh; ++qy) {
        for (int qx = 0; qx < qw; ++qx) {
          const std::uint8_t a = byte() % 24, b = byte() % 24;
          const Quad shapes[] = {
              {a, a, a, a}, {a, b, a, b}, {a, a, b, b}, {a, b, b, a}, {a, b, b, b}};
          PutQuad(p, qx, qy, shapes[rng() % 5]);
        }
      }
      break;
    }
  }
  return p;
}

struct Encoded {
  std::int32_t result;
  Bytes bytes;  // the first `result` bytes of the output, when result >= 0
};

// Encodes with both encoders and checks that they agree; when the tile is
// accepted, decodes it into a fresh plane of the same shape, which must give
// the tile back, padding untouched, with the encoded length.
Encoded CheckTile(const Plane& tile) {
  const std::size_t bound = TileEncodeBound(tile.width, tile.height);
  Bytes fast(bound), reference(bound);
  const std::int32_t n = EncodeTile(tile.bytes.data(), tile.stride, tile.width, tile.height, fast);
  const std::int32_t r = testing_support::ReferenceEncodeTile(tile.bytes.data(), tile.stride,
                                                              tile.width, tile.height, reference);
  EXPECT_EQ(n, r) << "fast and reference encoders disagree on the result";
  if (n < 0 || n != r) return {n, {}};
  EXPECT_LE(static_cast<std::size_t>(n), bound);
  fast.resize(static_cast<std::size_t>(n));
  reference.resize(static_cast<std::size_t>(n));
  EXPECT_EQ(fast, reference) << "fast and reference bytes differ";

  Bytes padded = fast;
  padded.push_back(0x00);  // the next tile's bytes are not consumed
  Bytes dest(tile.bytes.size(), 0x5A);
  EXPECT_EQ(DecodeTile(padded, dest.data(), tile.width, tile.height, tile.stride), n);
  for (int y = 0; y < tile.height; ++y) {
    for (int x = 0; x < tile.stride; ++x) {
      const std::size_t i = static_cast<std::size_t>(y) * tile.stride + x;
      if (x < tile.width) {
        EXPECT_EQ(dest[i], tile.bytes[i]) << "pixel " << x << "," << y;
      } else {
        EXPECT_EQ(dest[i], 0x5A) << "padding " << x << "," << y << " written";
      }
      if (testing::Test::HasFailure()) return {n, fast};
    }
  }
  return {n, fast};
}

// A tile (stride = width) whose quads, in quad order, are `quads`.
Plane TileFromQuads(int width, int height, const std::vector<Quad>& quads) {
  EXPECT_EQ(quads.size(), static_cast<std::size_t>(width / 2 * (height / 2)));
  Plane tile{width, height, width, Bytes(static_cast<std::size_t>(width) * height)};
  for (std::size_t i = 0; i < quads.size(); ++i) {
    PutQuad(tile, static_cast<int>(i % (width / 2)), static_cast<int>(i / (width / 2)), quads[i]);
  }
  return tile;
}

// A tile of one colour, 0x05.
Plane Flat(int width, int height) {
  return {width, height, width, Bytes(static_cast<std::size_t>(width) * height, 0x05)};
}

void Repeat(std::vector<Quad>& quads, const Quad& q, int times) {
  quads.insert(quads.end(), times, q);
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
    const Plane tile = Flat(c.width, c.height);
    const Encoded e = CheckTile(tile);
    EXPECT_EQ(e.bytes, c.expected);
  }
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
    const Plane tile = Flat(width, height);
    const Encoded e = CheckTile(tile);
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
    const Encoded e = CheckTile(TileFromQuads(64, 32, quads));
    EXPECT_EQ(e.bytes, Concat({table, c.streamOfA, streamOfB}));
  }
}

TEST(TileEncodeGolden, MirroredQuadSharesItsEntry) {
  std::vector<Quad> quads;
  for (int row = 0; row < 8; ++row) {
    Repeat(quads, {0x01, 0x02, 0x03, 0x04}, 4);
    Repeat(quads, {0x02, 0x01, 0x04, 0x03}, 4);
  }
  const Encoded e = CheckTile(TileFromQuads(16, 16, quads));
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
    EXPECT_EQ(CheckTile(TileFromQuads(16, 16, quads)).bytes,
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
    EXPECT_EQ(CheckTile(TileFromQuads(16, 16, quads)).bytes,
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
    const Encoded e = CheckTile(TileFromQuads(16, 16, quads));
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
  const Encoded e = CheckTile(TileFromQuads(32, 32, fits));
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
  EXPECT_EQ(CheckTile(TileFromQuads(32, 32, overflows)).result, -1);
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
  EXPECT_EQ(CheckTile(TileFromQuads(32, 32, quads)).bytes, expected);
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
  EXPECT_EQ(CheckTile(TileFromQuads(32, 32, PassLimitQuads(117))).result, -1);

  const Encoded tenAppends = CheckTile(TileFromQuads(32, 32, PassLimitQuads(118)));
  EXPECT_EQ(tenAppends.result, 809);
  ASSERT_FALSE(tenAppends.bytes.empty());
  EXPECT_EQ(tenAppends.bytes[0], 138);

  const Encoded nineAppends = CheckTile(TileFromQuads(32, 32, PassLimitQuads(119)));
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

// Every tile size the program uses, at the width's own stride and at strides
// that leave padding (one odd).
TEST(TileRoundTrip, EveryProgramTileSize) {
  std::mt19937 rng(1006);
  for (int width : {16, 32, 64, 128}) {
    for (int height : {16, 32, 64}) {
      for (int stride : {width, width + 7, width + 16}) {
        for (Content content : kAllContents) {
          SCOPED_TRACE(testing::Message() << width << "x" << height << " stride " << stride
                                          << " content " << static_cast<int>(content));
          CheckTile(MakeTile(rng, width, height, stride, content));
          if (HasFailure()) return;
        }
      }
    }
  }
}

// Small and lopsided even shapes, down to a single quad.
TEST(TileRoundTrip, SmallAndOddShapes) {
  std::mt19937 rng(2);
  for (int width : {2, 4, 6, 10, 18, 34}) {
    for (int height : {2, 4, 8, 14, 30}) {
      for (Content content : kAllContents) {
        SCOPED_TRACE(testing::Message() << width << "x" << height);
        CheckTile(MakeTile(rng, width, height, width + (width % 4), content));
        if (HasFailure()) return;
      }
    }
  }
}

// The fast encoder against the reference on thousands of tiles. The pools of
// 190 to 300 quads give tables on both sides of 254 entries and exercise the
// refinement passes; the counts show the test reaches those cases.
TEST(TileRoundTrip, FastEncoderMatchesReference) {
  std::mt19937 rng(3065);
  const int shapes[][2] = {{16, 16}, {32, 16}, {16, 32}, {32, 32}, {64, 16}};
  int accepted = 0, refused = 0, bigTables = 0;
  for (int trial = 0; trial < 3000; ++trial) {
    const auto& shape = shapes[trial % 5];
    const Content content = kAllContents[(trial / 5) % 6];
    const Plane tile = MakeTile(rng, shape[0], shape[1], shape[0], content);
    const Encoded e = CheckTile(tile);
    if (HasFailure()) {
      ADD_FAILURE() << "trial " << trial;
      return;
    }
    if (e.result < 0) {
      ++refused;
    } else {
      ++accepted;
      // Entry count above 63: some transformed uses are out of reach.
      if (e.bytes[0] > 63) ++bigTables;
    }
  }
  EXPECT_GT(accepted, 1000);
  EXPECT_GT(refused, 50);
  EXPECT_GT(bigTables, 100);
}

// The largest tile the program uses, with the pools that overflow or nearly
// overflow the table.
TEST(TileRoundTrip, LargestTileNearTheTableLimit) {
  std::mt19937 rng(128);
  for (int trial = 0; trial < 40; ++trial) {
    CheckTile(MakeTile(rng, 128, 64, 128, trial % 2 ? Content::kQuadPool : Content::kSymmetric));
    if (HasFailure()) return;
  }
}

// Tiles larger than any the program uses take the encoder's other path (quads
// looked up again instead of remembered).
TEST(TileRoundTrip, TilesLargerThanTheProgramUses) {
  std::mt19937 rng(4096);
  for (Content content : {Content::kFewColours, Content::kLongRuns, Content::kSymmetric}) {
    CheckTile(MakeTile(rng, 256, 64, 256, content));
    CheckTile(MakeTile(rng, 128, 130, 136, content));
    if (HasFailure()) return;
  }
}

}  // namespace
