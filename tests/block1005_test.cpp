// Version-1005 palette differences and block decoding.
#include <gtest/gtest.h>

#include <random>

#include "ovk/block1005.h"
#include "support/ovk_test_writer.h"

namespace {

using testing_support::Append;
using testing_support::Blocks1005;
using testing_support::Bytes;
using testing_support::Picture;

struct Decoded {
  bool ok = false;
  int width = 0, height = 0, stride = 0;
  Bytes target;  // bottom-up, as the decoder leaves it
  Bytes mask;    // top-down
  // The index at (x, y), y counted from the top.
  std::uint8_t At(int x, int y) const { return target[(height - 1 - y) * stride + x]; }
  std::uint8_t MaskAt(int x, int y) const { return mask[y * stride + x]; }
};

Decoded Decode(const Bytes& content, int width, int height, const Bytes& palette = {},
               bool form32 = false) {
  Decoded d;
  d.width = width;
  d.height = height;
  d.stride = (width + 3) & ~3;
  d.target.assign(d.stride * height, 0);
  d.mask.assign(d.stride * height, 1);
  d.ok = ovk::DecodeBlocks1005(content, d.target, d.mask, palette, width, height, d.stride, form32);
  return d;
}

// Sixteen run lists that are all empty: sixteen 0xFF bytes.
Bytes EmptyLists(int n = 16) {
  return Bytes(n, 0xFF);
}

TEST(AccumulatePalette, RunningSumsCarryAcrossBytes) {
  Bytes p = {0x04, 0x03, 0x02, 0x01, 0x01, 0x00, 0x00, 0x00};
  ovk::AccumulatePalette(p.data(), 2);
  EXPECT_EQ(p, (Bytes{0x04, 0x03, 0x02, 0x01, 0x05, 0x03, 0x02, 0x01}));
  p = {0xFF, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00};
  ovk::AccumulatePalette(p.data(), 2);
  EXPECT_EQ(p, (Bytes{0xFF, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00}));
  // Wraps modulo 2^32; a count of 0 or less leaves the entries alone.
  p = {0xFF, 0xFF, 0xFF, 0xFF, 0x02, 0x00, 0x00, 0x00};
  ovk::AccumulatePalette(p.data(), 2);
  EXPECT_EQ(p, (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0x00, 0x00, 0x00}));
  for (int count : {0, -3}) {
    Bytes q = {1, 2, 3, 4, 5, 6, 7, 8};
    ovk::AccumulatePalette(q.data(), count);
    EXPECT_EQ(q, (Bytes{1, 2, 3, 4, 5, 6, 7, 8}));
  }
}

TEST(Block1005, SingleBlockCodeSharesTheFirstTableByte) {
  // 16 x 8: N = 1, no map bytes. Byte 0 (0x15) is both the code (1) and the
  // table's first colour; the table is 0x15, 0x07; mode 0.
  Bytes content = {0x15, 0x07, 0x00};
  Append(content, Bytes(64, 0x01));  // even columns colour 0, odd colour 1
  Decoded d = Decode(content, 16, 8);
  ASSERT_TRUE(d.ok);
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 16; ++x) ASSERT_EQ(d.At(x, y), x % 2 == 0 ? 0x15 : 0x07) << x << "," << y;
  }
}

TEST(Block1005, MapTablesModeByteAndEmptyBlocks) {
  // 32 x 16: four blocks, codes 1, 0, 0, 3. Tables 2 + 4 bytes from byte 2,
  // the mode byte at 8, block data from 9.
  Bytes content = {0x10, 0x03, 10, 11, 20, 21, 22, 23, 0x00};
  Bytes block0(64);
  for (int i = 0; i < 64; ++i)
    block0[i] = (i % 8 == 0) ? 0x10 : 0x00;  // one colour-1 pixel per row
  Bytes block3(64);
  for (int i = 0; i < 64; ++i) block3[i] = static_cast<std::uint8_t>(((i % 4) << 4) | 3);
  Append(content, block0);
  Append(content, block3);
  // Entry 2 is the first one with alpha 0.
  const Bytes palette = {1, 1, 1, 255, 2, 2, 2, 255, 3, 3, 3, 0, 4, 4, 4, 0};
  Decoded d = Decode(content, 32, 16, palette);
  ASSERT_TRUE(d.ok);
  for (int y = 0; y < 8; ++y) {
    EXPECT_EQ(d.At(0, y), 11);
    EXPECT_EQ(d.At(1, y), 10);
    EXPECT_EQ(d.At(15, y), 10);
    // Empty blocks: transparent in the mask, and the first alpha-0 entry.
    EXPECT_EQ(d.At(16, y), 2);
    EXPECT_EQ(d.MaskAt(16, y), 0);
    EXPECT_EQ(d.At(31, y), 2);
    EXPECT_EQ(d.At(0, y + 8), 2);
    EXPECT_EQ(d.MaskAt(0, y + 8), 0);
    EXPECT_EQ(d.MaskAt(0, y), 1);
    // Block 3: the high nibble cycles 0..3 over every 8 bytes, the low is 3.
    for (int j = 0; j < 8; ++j) {
      EXPECT_EQ(d.At(16 + 2 * j, 8 + y), 20 + (j % 4));
      EXPECT_EQ(d.At(17 + 2 * j, 8 + y), 23);
    }
  }
  // In the 32-bit form no fill is made: the mask alone marks them.
  Decoded d32 = Decode(content, 32, 16, palette, true);
  ASSERT_TRUE(d32.ok);
  EXPECT_EQ(d32.At(16, 0), 0);
  EXPECT_EQ(d32.MaskAt(16, 0), 0);
  // Without an alpha-0 entry, empty blocks stay index 0.
  Decoded opaque = Decode(content, 32, 16, Bytes{1, 1, 1, 255, 2, 2, 2, 255});
  ASSERT_TRUE(opaque.ok);
  EXPECT_EQ(opaque.At(16, 0), 0);
}

TEST(Block1005, FillUsesTheFirstTransparentEntryOfMany) {
  // Two empty blocks of 32 x 8 (map byte 0x00), mode 0; entry 5 is the first
  // with alpha 0.
  Bytes palette;
  for (int e = 0; e < 8; ++e)
    Append(palette, {std::uint8_t(e), 0, 0, std::uint8_t(e >= 5 ? 0 : 255)});
  Decoded d = Decode(Bytes{0x00, 0x00}, 30, 8, palette);
  ASSERT_TRUE(d.ok);
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 30; ++x) ASSERT_EQ(d.At(x, y), 5);
    // Padding columns past the width are not filled.
    EXPECT_EQ(d.At(30, y), 0);
  }
}

TEST(Block1005, Mode2RunLists) {
  // Code 1 in the shared byte 0x10, table 0x10, 0x22; mode 2; kind 1.
  Bytes head = {0x10, 0x22, 0x02, 0x01};
  // Colour 0: skip 0, length 15 -> the top row. Then fifteen empty lists.
  Bytes content = head;
  Append(content, {0x00, 0x0F, 0xFF});
  Append(content, EmptyLists(15));
  Decoded d = Decode(content, 16, 8);
  ASSERT_TRUE(d.ok);
  for (int x = 0; x < 16; ++x) {
    EXPECT_EQ(d.At(x, 0), 0x10);
    EXPECT_EQ(d.At(x, 1), 0);
  }

  // A second pair in one list counts from the pixel after the first run,
  // plus one: 00 00 02 00 colours positions 0 and 4. Colour 1 then covers 2.
  content = head;
  Append(content, {0x00, 0x00, 0x02, 0x00, 0xFF, 0x02, 0x00, 0xFF});
  Append(content, EmptyLists(14));
  d = Decode(content, 16, 8);
  ASSERT_TRUE(d.ok);
  EXPECT_EQ(d.At(0, 0), 0x10);
  EXPECT_EQ(d.At(1, 0), 0);
  EXPECT_EQ(d.At(2, 0), 0x22);
  EXPECT_EQ(d.At(3, 0), 0);
  EXPECT_EQ(d.At(4, 0), 0x10);
  EXPECT_EQ(d.At(5, 0), 0);

  // Later runs overwrite earlier ones; runs past position 127 are dropped.
  content = head;
  Append(content,
         {0x00, 0xFE, 0xFF, 0x7E, 0x05, 0xFF});  // colour 0 everywhere; colour 1 at 126..127
  Append(content, EmptyLists(14));
  d = Decode(content, 16, 8);
  ASSERT_TRUE(d.ok);
  EXPECT_EQ(d.At(13, 7), 0x10);
  EXPECT_EQ(d.At(14, 7), 0x22);
  EXPECT_EQ(d.At(15, 7), 0x22);
}

TEST(Block1005, Mode2BlockLengthHoldsWhateverTheKindByte) {
  // 32 x 8: two blocks, codes 1 and 1. Block 0 has kind 0 (all index 0) but
  // still spans its bytes up to the 16th 0xFF; block 1 follows after them.
  Bytes content = {0x11, 0x30, 0x31, 0x40, 0x41, 0x02};
  Append(content, {0x00, 0x05, 0x07});  // kind 0, then bytes that are not lists
  Append(content, EmptyLists());
  Append(content, {0x01, 0x00, 0x7F, 0xFF});  // block 1: colour 0 everywhere
  Append(content, EmptyLists(15));
  Decoded d = Decode(content, 32, 8);
  ASSERT_TRUE(d.ok);
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 16; ++x) {
      ASSERT_EQ(d.At(x, y), 0);
      ASSERT_EQ(d.At(16 + x, y), 0x40);
    }
  }
}

TEST(Block1005, PartialBandAndOtherModes) {
  // Height 20: two bands of blocks; rows 16..19 stay index 0 with mask 1.
  Picture p{16, 20, Bytes(16 * 20, 7), {}};
  Decoded d = Decode(Blocks1005(p, {false, false}, 0), 16, 20, Bytes{0, 0, 0, 0});
  ASSERT_TRUE(d.ok);
  EXPECT_EQ(d.At(3, 15), 7);
  EXPECT_EQ(d.At(3, 16), 0);
  EXPECT_EQ(d.MaskAt(3, 19), 1);

  // A mode byte of 1: nothing decoded, no fill, though the mask is cleared.
  Bytes content = {0x10, 0x05, 0x06, 0x01};
  Append(content, Bytes(64, 0x11));
  d = Decode(content, 32, 8, Bytes{0, 0, 0, 0});
  ASSERT_TRUE(d.ok);
  for (int x = 0; x < 32; ++x) EXPECT_EQ(d.At(x, 0), 0);
  EXPECT_EQ(d.MaskAt(20, 0), 0);
}

TEST(Block1005, WriterRoundTripInBothModes) {
  std::mt19937 rng(7);
  for (int mode : {0, 2}) {
    for (auto [w, h] : {std::pair{32, 16}, {48, 24}, {36, 17}, {64, 8}}) {
      Picture p{w, h, Bytes(w * h), {}};
      // Sixteen colours at most per block: indices 0..15, shifted per block row.
      for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x)
          p.indices[y * w + x] = static_cast<std::uint8_t>(rng() % 16 + 32 * (y / 8));
      }
      const int blocks = ((w + 3) & ~3) / 16 * (h / 8);
      std::vector<bool> empty(blocks);
      for (int n = 0; n < blocks; ++n) empty[n] = rng() % 4 == 0;
      if (blocks % 2 == 1) {
        // The last code (0) is the high nibble of the first table byte: the
        // first block's colours are below 16.
        empty[blocks - 1] = true;
        empty[0] = false;
      }
      Bytes palette(256 * 4, 255);
      palette[9 * 4 + 3] = 0;
      Decoded d = Decode(Blocks1005(p, empty, mode), w, h, palette);
      ASSERT_TRUE(d.ok) << mode << " " << w << "x" << h;
      const int across = ((w + 3) & ~3) / 16;
      for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
          const bool coded = x < across * 16 && y < h / 8 * 8;
          const bool isEmpty = coded && empty[(y / 8) * across + x / 16];
          const int want = !coded ? 0 : isEmpty ? 9 : p.At(x, y);
          ASSERT_EQ(d.At(x, y), want)
              << "mode " << mode << " " << w << "x" << h << " at " << x << "," << y;
        }
      }
    }
  }
}

TEST(Block1005, DamagedContentIsRefused) {
  Picture p{32, 16, Bytes(32 * 16), {}};
  for (std::size_t i = 0; i < p.indices.size(); ++i)
    p.indices[i] = static_cast<std::uint8_t>(i % 5);
  for (int mode : {0, 2}) {
    const Bytes whole = Blocks1005(p, {false, true, false, false}, mode);
    ASSERT_TRUE(Decode(whole, 32, 16).ok);
    // Every cut: the map, a table, the mode byte, block data or a run list
    // runs past the end.
    for (std::size_t cut = 0; cut < whole.size(); ++cut) {
      ASSERT_FALSE(Decode(Bytes(whole.begin(), whole.begin() + cut), 32, 16).ok)
          << mode << " " << cut;
    }
  }
  // Planes smaller than the picture, or a stride below the width.
  Bytes content = {0x10, 0x01, 0x00};
  Append(content, Bytes(64, 0xF0));
  ASSERT_TRUE(Decode(content, 16, 8).ok);
  Decoded small;
  small.target.assign(10, 0);
  small.mask.assign(10, 1);
  EXPECT_FALSE(ovk::DecodeBlocks1005(content, small.target, small.mask, {}, 16, 8, 16, false));
  EXPECT_FALSE(ovk::DecodeBlocks1005(content, small.target, small.mask, {}, 16, 8, 12, false));
}

}  // namespace
