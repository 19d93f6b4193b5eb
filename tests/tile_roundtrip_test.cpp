// Property tests of the tile codec: every tile the encoder accepts decodes to
// itself with the encoded length, and the fast encoder writes exactly what the
// plain linear-search encoder writes, -1 results included, over thousands of
// tiles built to hit the encoder's corners.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <random>
#include <vector>

#include "ovk/tile_codec.h"
#include "support/reference_tile_encoder.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Quad = std::array<std::uint8_t, 4>;

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

Quad Transformed(const Quad& e, int t) {
  switch (t) {
    case 1:
      return {e[1], e[0], e[3], e[2]};
    case 2:
      return {e[2], e[3], e[0], e[1]};
    case 3:
      return {e[3], e[2], e[1], e[0]};
    default:
      return e;
  }
}

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
            current = Transformed(pool[rng() % pool.size()], rng() % 4);
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

// Encodes with both encoders and, when the tile is accepted, decodes it into
// a fresh plane of the same shape. Returns the encoded length.
std::int32_t CheckTile(const Plane& tile) {
  const std::size_t bound = TileEncodeBound(tile.width, tile.height);
  Bytes fast(bound), reference(bound);
  const std::int32_t n = EncodeTile(tile.bytes.data(), tile.stride, tile.width, tile.height, fast);
  const std::int32_t r = testing_support::ReferenceEncodeTile(tile.bytes.data(), tile.stride,
                                                              tile.width, tile.height, reference);
  EXPECT_EQ(n, r);
  if (n < 0 || n != r) return n;
  EXPECT_LE(static_cast<std::size_t>(n), bound);
  EXPECT_TRUE(std::equal(fast.begin(), fast.begin() + n, reference.begin()))
      << "fast and reference bytes differ";

  Bytes padded(fast.begin(), fast.begin() + n);
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
      if (testing::Test::HasFailure()) return n;
    }
  }
  return n;
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
    const std::int32_t n = CheckTile(tile);
    if (HasFailure()) {
      ADD_FAILURE() << "trial " << trial;
      return;
    }
    if (n < 0) {
      ++refused;
    } else {
      ++accepted;
      // Entry count above 63: some transformed uses are out of reach.
      Bytes out(TileEncodeBound(tile.width, tile.height));
      EncodeTile(tile.bytes.data(), tile.stride, tile.width, tile.height, out);
      if (out[0] > 63) ++bigTables;
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
