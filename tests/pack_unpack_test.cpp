// Decoder of the packed stream: the format's worked examples, both block
// modes, resynchronisation, and safety on short or corrupt input; long damaged
// streams against the plain reference decoder.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "pack/pack.h"
#include "pack/packed_format.h"
#include "pack/unpack.h"
#include "support/reference_packer.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Repeat(std::uint8_t value, std::size_t n) {
  return Bytes(n, value);
}
Bytes Ascii(const std::string& s) {
  return Bytes(s.begin(), s.end());
}
Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

constexpr std::uint8_t kCanary = 0xC5;
constexpr std::size_t kGuard = 64;

// Output of UnpackBlocks with a zero-filled buffer of capacity + 1 bytes
// followed by canary bytes, which must survive.
struct Decoded {
  std::uint32_t position = 0;
  Bytes out;  // capacity + 1 bytes
};
Decoded Unpack(const Bytes& packed, std::uint32_t capacity, std::uint32_t blockCount) {
  Bytes buffer(capacity + 1 + kGuard, kCanary);
  std::fill(buffer.begin(), buffer.begin() + capacity + 1, 0);
  Decoded d;
  d.position = UnpackBlocks(std::span(buffer).first(capacity + 1), capacity, packed, blockCount);
  for (std::size_t g = capacity + 1; g < buffer.size(); ++g) {
    EXPECT_EQ(buffer[g], kCanary) << "write past the output at " << g;
  }
  d.out.assign(buffer.begin(), buffer.begin() + capacity + 1);
  return d;
}

// The content, then the zero byte the decoder may write at `capacity` and
// leaves untouched on a clean stream.
Bytes Padded(Bytes content) {
  content.push_back(0);
  return content;
}

// Blocks taken from the format's worked examples.
const Bytes kAbcBlock = {0x0B, 0x00, 0x00, 0x08, 0x61, 0x62, 0x63, 0x03, 0x7A, 0x00, 0x00, 0x00};
const Bytes kTwentyA = {0x09, 0x00, 0x00, 0x03, 0x01, 0x36, 0x00, 0x41, 0x00, 0x00};
const Bytes kThreeHundredA = {0x0A, 0x00, 0x00, 0x83, 0x01, 0x38, 0x00, 0x1E, 0x41, 0x00, 0x00};

TEST(UnpackGolden, WorkedExamples) {
  EXPECT_EQ(Unpack(kAbcBlock, 12, 1).out, Padded(Ascii("abcabcabcabc")));
  EXPECT_EQ(Unpack(kAbcBlock, 12, 1).position, 12u);
  EXPECT_EQ(Unpack(kTwentyA, 20, 1).out, Padded(Repeat(0x41, 20)));
  // A long run with v = 1, R = 30: 14 + 256 + 30 bytes.
  EXPECT_EQ(Unpack(kThreeHundredA, 300, 1).out, Padded(Repeat(0x41, 300)));
  // Longest run and a run beating a match; a run then a near match of 20.
  const Bytes run5000 = {0x0F, 0x00, 0x00, 0x83, 0x01, 0x3F, 0xC8, 0xF1,
                         0x41, 0x01, 0x7B, 0x41, 0x03, 0x00, 0x00, 0x00};
  EXPECT_EQ(Unpack(run5000, 5000, 1).out, Padded(Repeat(0x41, 5000)));
  const Bytes run4115 = {0x0E, 0x00, 0x00, 0x83, 0x01, 0x1F, 0x18, 0xF1,
                         0x41, 0x01, 0x06, 0x00, 0x00, 0x00, 0x00};
  EXPECT_EQ(Unpack(run4115, 4115, 1).out, Padded(Repeat(0x41, 4115)));
  // One literal whose end code fills the first flag word exactly.
  EXPECT_EQ(Unpack({0x06, 0x00, 0x00, 0x06, 0x5A, 0x00, 0x00}, 1, 1).out, Padded({0x5A}));
}

TEST(UnpackGolden, TrailingAndMarkerBytesAreNotRead) {
  Bytes block = kTwentyA;
  block[4] = 0xEE;      // run marker
  block.back() = 0x99;  // blocksAfter
  EXPECT_EQ(Unpack(block, 20, 1).out, Padded(Repeat(0x41, 20)));
  block = kAbcBlock;
  block[10] = 0x77;  // end marker
  EXPECT_EQ(Unpack(block, 12, 1).out, Padded(Ascii("abcabcabcabc")));
}

TEST(UnpackFraming, BlocksFollowWhereReadingStopped) {
  // A block with endOffset 4 holds no tokens; the next one starts 5 bytes on.
  const Bytes empty = {0x04, 0x00, 0x00, 0xFF, 0x00};
  EXPECT_EQ(Unpack(Concat({empty, kAbcBlock, kTwentyA}), 32, 3).out,
            Padded(Concat({Ascii("abcabcabcabc"), Repeat(0x41, 20)})));
  // The output runs on across blocks; blockCount 0 decodes nothing.
  EXPECT_EQ(Unpack(Concat({kAbcBlock, kTwentyA}), 32, 0).position, 0u);
  EXPECT_EQ(Unpack(Concat({kAbcBlock, kTwentyA}), 32, 1).position, 12u);
  // Fewer blocks than blockCount: decoding stops at the end of the data.
  EXPECT_EQ(Unpack(Concat({kAbcBlock, kTwentyA}), 64, 9).position, 32u);

  // endOffset is not used to resynchronise. The run of twenty 0x41 with an
  // endOffset of 6: the run's reading goes past it, to 8; the trailing byte is
  // taken to be at 8 and the next block to start at 9.
  Bytes shortEnd = {0x06, 0x00, 0x00, 0x03, 0x01, 0x36, 0x00, 0x41, 0xEE};
  EXPECT_EQ(Unpack(Concat({shortEnd, kAbcBlock}), 32, 2).out,
            Padded(Concat({Repeat(0x41, 20), Ascii("abcabcabcabc")})));
  // A far match's ensure(2) loads a flag word even when the one bit left
  // holds its whole length code (1: length 2); the block's end then comes
  // after that word. firstFlags 0xC3: 1 1 0 0001 (distance 256 + low 0), 1.
  // (Enough blocks follow, and enough room, for the decoder's fast loop.)
  const Bytes farThenWord = {0x07, 0x00, 0x00, 0xC3, 0x00, 0x00, 0x00, 0xEE};
  Bytes packed = Concat({kThreeHundredA, farThenWord});
  Bytes content = Repeat(0x41, 302);
  for (int k = 0; k < 6; ++k) {
    packed = Concat({packed, kAbcBlock});
    content = Concat({content, Ascii("abcabcabcabc")});
  }
  EXPECT_EQ(Unpack(packed, 1000, 8).out,
            Padded(Concat({content, Repeat(0, 1000 - content.size())})));
  // A byte-coded block that ends with code 0 long before its endOffset.
  Bytes earlyEnd = {0x64, 0x00, 0x01, 0x7A, 0x00, 0xEE};
  EXPECT_EQ(Unpack(Concat({earlyEnd, kAbcBlock}), 13, 2).out,
            Padded(Concat({Ascii("z"), Ascii("abcabcabcabc")})));
}

TEST(UnpackCoded, EveryCode) {
  // 0x03: three literals; 0xE0 0x03: back-reference at distance 3, 7 bytes.
  const Bytes ref7 = {0x09, 0x00, 0x03, 'a', 'b', 'c', 0xE0, 0x03, 0x00, 0x00};
  EXPECT_EQ(Unpack(ref7, 10, 1).out, Padded(Ascii("abcabcabca")));
  // Extension bytes 0x63 and 0x62 add 3 + 2 bytes: 12 in all.
  const Bytes ref12 = {0x0B, 0x00, 0x03, 'a', 'b', 'c', 0xE0, 0x03, 0x63, 0x62, 0x00, 0x00};
  EXPECT_EQ(Unpack(ref12, 15, 1).out, Padded(Ascii("abcabcabcabcabc")));
  // 0x21 0x02: 258 literals; 0x4F 0x07: 0x07 written 19 times; 0x51 0x02 0x09:
  // 0x09 written 256 + 2 + 4 times; a far reference (distance 0x102) with an
  // extension of 31.
  Bytes literals(258);
  for (std::size_t k = 0; k < literals.size(); ++k) literals[k] = static_cast<std::uint8_t>(k * 7);
  Bytes block = Concat({{0x00, 0x00, 0x21, 0x02},
                        literals,
                        {0x4F, 0x07, 0x51, 0x02, 0x09, 0xE1, 0x02, 0x7F, 0x00, 0x00}});
  block[0] = static_cast<std::uint8_t>(block.size() - 1);
  block[1] = static_cast<std::uint8_t>((block.size() - 1) >> 8);
  Bytes expected = Concat({literals, Repeat(0x07, 19), Repeat(0x09, 262)});
  const std::size_t from = expected.size() - 0x102;
  for (std::size_t k = 0; k < 38; ++k) expected.push_back(expected[from + k]);
  EXPECT_EQ(Unpack(block, static_cast<std::uint32_t>(expected.size()), 1).out, Padded(expected));
}

TEST(UnpackCoded, InvalidCodeStopsTheSection) {
  for (int x = 0x60; x <= 0xDF; x += 0x1F) {
    const Bytes bad = {0x07, 0x00, 0x02, 'h', 'i', static_cast<std::uint8_t>(x), 0x00, 0x00};
    Decoded d = Unpack(Concat({bad, kAbcBlock}), 14, 2);
    EXPECT_EQ(d.position, 2u) << x;
    EXPECT_EQ(d.out, Padded(Concat({Ascii("hi"), Repeat(0, 12)}))) << x;
  }
}

TEST(UnpackCoded, LiteralStringPastTheEndWritesWhatIsThere) {
  // 0x05 wants five literals and 0x20 0x04 four, but the data ends after two:
  // those two are written, as far as the capacity allows.
  const Bytes shortString = {0x08, 0x00, 0x05, 'a', 'b'};
  EXPECT_EQ(Unpack(shortString, 8, 2).out, Padded({'a', 'b', 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(Unpack(shortString, 8, 2).position, 2u);
  const Bytes longString = Concat({kAbcBlock, {0x08, 0x00, 0x20, 0x04, 'x', 'y'}});
  EXPECT_EQ(Unpack(longString, 15, 2).out,
            Padded(Concat({Ascii("abcabcabcabc"), Ascii("xy"), {0}})));
  EXPECT_EQ(Unpack(longString, 15, 2).position, 14u);
  EXPECT_EQ(Unpack(shortString, 0, 1).out, Bytes{'a'});
  EXPECT_EQ(Unpack(shortString, 0, 1).position, 1u);
  EXPECT_EQ(Unpack(Bytes(shortString.begin(), shortString.end() - 2), 8, 1).position, 0u);
}

TEST(UnpackReferences, DistanceZeroWritesZeros) {
  // Literal 'X', near match of 2 at distance 0, end code.
  const Bytes flag = {0x09, 0x00, 0x00, 0x3A, 'X', 0x00, 0x00, 0x00, 0x00, 0x00};
  // The decoder writes zeros even over a buffer that was not zero-filled.
  Bytes out(4, 0xEE);
  EXPECT_EQ(UnpackBlocks(out, 3, flag, 1), 3u);
  EXPECT_EQ(out, (Bytes{'X', 0, 0, 0xEE}));
  const Bytes coded = {0x05, 0x00, 0x01, 'Y', 0xE0, 0x00, 0x00};
  EXPECT_EQ(Unpack(coded, 8, 1).out, Padded({'Y', 0, 0, 0, 0, 0, 0, 0}));
}

TEST(UnpackReferences, BeforeTheStartStopsTheSection) {
  // Near match at distance 2 after one literal.
  const Bytes nearBad = {0x09, 0x00, 0x00, 0x3A, 'X', 0x02, 0x00, 0x00, 0x00, 0x00};
  Decoded d = Unpack(Concat({nearBad, kAbcBlock}), 20, 2);
  EXPECT_EQ(d.position, 1u);
  EXPECT_EQ(d.out, Padded(Concat({Ascii("X"), Repeat(0, 19)})));
  // In a later block the earlier blocks' output counts as history.
  const Bytes nearOk = {0x09, 0x00, 0x00, 0x3A, 'X', 0x05, 0x00, 0x00, 0x00, 0x00};
  EXPECT_EQ(Unpack(Concat({kAbcBlock, nearOk}), 15, 2).out, Padded(Ascii("abcabcabcabcXca")));
  const Bytes codedBad = {0x06, 0x00, 0x01, 'Y', 0xE0, 0x02, 0x00, 0x00};
  d = Unpack(Concat({codedBad, kAbcBlock}), 20, 2);
  EXPECT_EQ(d.position, 1u);
}

TEST(UnpackLimits, CapacityCutsTheOutput) {
  // Every capacity below the content: exactly capacity + 1 bytes come out.
  const Bytes both = Concat({kAbcBlock, kThreeHundredA, kTwentyA});
  const Bytes full = Concat({Ascii("abcabcabcabc"), Repeat(0x41, 320)});
  for (std::uint32_t capacity = 0; capacity < full.size(); ++capacity) {
    Decoded d = Unpack(both, capacity, 3);
    ASSERT_EQ(d.position, capacity + 1);
    ASSERT_TRUE(std::equal(d.out.begin(), d.out.end(), full.begin())) << capacity;
  }
  // An output span shorter than capacity + 1 is never overrun either.
  for (std::size_t room = 0; room <= full.size(); ++room) {
    Bytes buffer(room + kGuard, kCanary);
    std::fill(buffer.begin(), buffer.begin() + room, 0);
    EXPECT_EQ(UnpackBlocks(std::span(buffer).first(room), 4096, both, 3), room);
    EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + room, full.begin()));
    EXPECT_TRUE(std::all_of(buffer.begin() + room, buffer.end(),
                            [](std::uint8_t b) { return b == kCanary; }));
  }
}

TEST(UnpackLimits, ShortInputGivesAPrefix) {
  // Cutting the packed data anywhere yields a prefix of the content, the rest
  // of the buffer zero, and no read past the data (ASan watches the copy).
  const Bytes both = Concat({kAbcBlock,
                             kThreeHundredA,
                             kTwentyA,
                             {0x09, 0x00, 0x03, 'a', 'b', 'c', 0xE0, 0x03, 0x00, 0x00}});
  const Bytes full = Concat({Ascii("abcabcabcabc"), Repeat(0x41, 320), Ascii("abcabcabca")});
  for (std::size_t cut = 0; cut <= both.size(); ++cut) {
    Bytes exact(both.begin(), both.begin() + cut);  // its own allocation
    Decoded d = Unpack(exact, static_cast<std::uint32_t>(full.size()), 4);
    ASSERT_LE(d.position, full.size());
    EXPECT_TRUE(std::equal(d.out.begin(), d.out.begin() + d.position, full.begin())) << cut;
    EXPECT_TRUE(std::all_of(d.out.begin() + d.position, d.out.end(), [](std::uint8_t b) {
      return b == 0;
    })) << cut;
    if (cut == both.size()) {
      EXPECT_EQ(d.position, full.size());
    }
  }
}

TEST(UnpackLimits, CorruptInputNeverEscapes) {
  // Random flips, random bytes and random block headers: the canary behind
  // the output must survive and the position stay within capacity + 1.
  const Bytes base =
      Concat({kAbcBlock,
              kThreeHundredA,
              kTwentyA,
              {0x0B, 0x00, 0x03, 'a', 'b', 'c', 0xE0, 0x03, 0x63, 0x62, 0x00, 0x00}});
  std::mt19937 rng(1234);
  for (int trial = 0; trial < 20000; ++trial) {
    Bytes packed = base;
    if (trial % 3 == 0) {
      packed.resize(rng() % 200);
      for (auto& b : packed) b = static_cast<std::uint8_t>(rng());
    } else {
      const int flips = 1 + static_cast<int>(rng() % 4);
      for (int f = 0; f < flips; ++f) packed[rng() % packed.size()] ^= 1u << (rng() % 8);
    }
    const std::uint32_t capacity = rng() % 512;
    Decoded d = Unpack(packed, capacity, 1 + rng() % 6);
    ASSERT_LE(d.position, capacity + 1);
  }
}

// Packed contents of 9 to 60 KB: rows of spans copied with a few changes,
// bytes of a few values, bytes that repeat one of the last 64 a third of the
// time, or stretches that repeat their first 1 to 15 bytes, so that the
// decoder's fast loop (far from a block's end) runs on long matches, short
// ones, matches that overlap themselves, and many literals, with length codes
// of one form and of many.
Bytes LongContent(std::mt19937& rng) {
  const std::size_t n = 9000 + rng() % 51000;
  Bytes b(n);
  const unsigned kind = rng() % 4;
  if (kind == 3) {
    for (std::size_t k = 0; k < n;) {
      const std::size_t period = 1 + rng() % 15;
      const std::size_t stretch = std::min(n - k, period + rng() % 300);
      for (std::size_t j = 0; j < stretch; ++j, ++k) {
        b[k] = j < period ? static_cast<std::uint8_t>(rng()) : b[k - period];
      }
    }
    return b;
  }
  if (kind == 0) {
    const std::size_t width = 16 * (1 + rng() % 60);
    for (std::size_t k = 0; k < n; ++k) {
      b[k] = k >= width && rng() % 16 != 0 ? b[k - width] : static_cast<std::uint8_t>(rng() % 9);
    }
  } else if (kind == 1) {
    for (std::size_t k = 0; k < n; ++k) {
      b[k] = k >= 64 && rng() % 3 == 0 ? b[k - 1 - rng() % 64] : static_cast<std::uint8_t>(rng());
    }
  } else {
    const unsigned values = 2 + rng() % 6;
    for (auto& v : b) v = static_cast<std::uint8_t>(rng() % values);
  }
  return b;
}

// A section of random tokens written by the reference writer, with what the
// packer never chooses among them (far matches of 2 bytes, distances of 0,
// runs beside matches): length codes of every form or of one, literals rare
// or common, distances under 16, under 256 or anywhere in the window. Half
// of the sections have a match that reaches before the start of the output
// at the first token past a point in the last 64 bytes before 8191, where
// the decoder's copies have written past the output position (*stops tells).
// *size is the length the tokens would decode to.
Bytes TokenSection(std::mt19937& rng, std::uint32_t* blocks, std::size_t* size, bool* stops) {
  using testing_support::ReferenceToken;
  const unsigned lengths = rng() % 3;  // every form, 1 + 3-bit codes, short codes
  const unsigned literalPercent = rng() % 2 == 0 ? 2 : 40;
  *blocks = 1 + rng() % 3;
  *size = 0;
  *stops = false;
  std::size_t stopAt = rng() % 2 == 0 ? packed::kMaxDistance - 1 - rng() % 64 : SIZE_MAX;
  Bytes section;
  for (std::uint32_t b = 0; b < *blocks; ++b) {
    std::vector<ReferenceToken> tokens(2000 + rng() % 4000);
    for (ReferenceToken& t : tokens) {
      const unsigned pick = rng() % 100;
      const std::size_t reach = std::min<std::size_t>(*size, packed::kMaxDistance);
      if (*size >= stopAt && *size < packed::kMaxDistance) {
        const auto distance = static_cast<std::uint32_t>(*size + 1);
        t = {ReferenceToken::Kind::kMatch, 0, distance, 2};
        stopAt = SIZE_MAX;
        *stops = true;
      } else if (reach == 0 || pick < literalPercent) {
        t = {ReferenceToken::Kind::kLiteral, static_cast<std::uint8_t>(rng()), 0, 1};
      } else if (pick < literalPercent + 2) {
        t = {ReferenceToken::Kind::kRun, static_cast<std::uint8_t>(rng()), 0,
             static_cast<std::uint32_t>(14 + rng() % 4096)};
      } else {
        const auto length = static_cast<std::uint32_t>(lengths == 1     ? 6 + rng() % 8
                                                       : lengths == 2   ? 2 + rng() % 4
                                                       : rng() % 4 == 0 ? 14 + rng() % 256
                                                                        : 2 + rng() % 12);
        const unsigned near = rng() % 4;
        const std::size_t span = near == 0   ? std::min<std::size_t>(reach, 15)
                                 : near == 1 ? std::min<std::size_t>(reach, 255)
                                             : reach;
        const std::size_t distance = rng() % 1000 == 0 ? 0 : 1 + rng() % span;
        t = {ReferenceToken::Kind::kMatch, 0, static_cast<std::uint32_t>(distance), length};
      }
      *size += t.length;
    }
    const Bytes block = testing_support::ReferenceWriteBlock(tokens, *blocks - 1 - b);
    section.insert(section.end(), block.begin(), block.end());
  }
  return section;
}

TEST(UnpackLimits, DamagedLongStreamsDecodeAsThePlainDecoderDoes) {
  // Packed contents and written token streams, as they are or with flipped
  // bits, cut or scrambled data, wrong endOffsets, a byte-coded first block,
  // short capacities and output spans, buffers not zero-filled: the bytes
  // written (the canary behind them included) and the position reached are
  // the plain decoder's.
  std::mt19937 rng(515);
  for (int trial = 0; trial < 300; ++trial) {
    Bytes packed;
    std::uint32_t blocks = 0;
    std::size_t size = 0;
    bool stops = false;  // a token section that stops by itself: not damaged further
    if (trial % 5 == 4) {
      packed = TokenSection(rng, &blocks, &size, &stops);
    } else {
      const std::int32_t blockSize = trial % 2 == 0 ? 0x4000 : kDefaultBlockSize;
      const Bytes content = LongContent(rng);
      size = content.size();
      packed.resize(PackBound(content.size()));
      packed.resize(static_cast<std::size_t>(PackBlocks(content, packed, blockSize, &blocks)));
    }
    switch (stops ? 0 : trial % 6) {
      case 1:
        for (int f = 1 + static_cast<int>(rng() % 6); f > 0; --f) {
          packed[rng() % packed.size()] ^= static_cast<std::uint8_t>(1u << (rng() % 8));
        }
        break;
      case 2:
        packed.resize(rng() % packed.size());
        break;
      case 3: {
        const std::size_t at = rng() % packed.size();
        for (std::size_t k = at; k < std::min(packed.size(), at + 40); ++k) {
          packed[k] = static_cast<std::uint8_t>(rng());
        }
        break;
      }
      case 4:
        packed[0] = static_cast<std::uint8_t>(rng());
        packed[1] = static_cast<std::uint8_t>(rng());
        break;
      case 5:
        packed[packed::kOffBlockMode] = static_cast<std::uint8_t>(1 + rng() % 255);
        break;
    }
    const std::uint32_t capacity = rng() % 4 != 0 ? static_cast<std::uint32_t>(size)
                                                  : static_cast<std::uint32_t>(rng() % size);
    // Sometimes less room than the capacity asks for, never less than none.
    const std::uint32_t cut = rng() % 3 == 0 ? static_cast<std::uint32_t>(rng() % 300) : 0;
    const std::uint32_t room = capacity + 1 - std::min(cut, capacity + 1);
    const std::uint8_t fill = rng() % 2 == 0 ? 0 : static_cast<std::uint8_t>(rng());
    Bytes out(room + kGuard, kCanary);
    std::fill(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(room), fill);
    Bytes expected = out;
    const Bytes exact(packed);  // its own allocation
    const std::uint32_t reached = UnpackBlocks(std::span(out).first(room), capacity, exact, blocks);
    const std::uint32_t wanted = testing_support::ReferenceUnpackBlocks(
        std::span(expected).first(room), capacity, exact, blocks);
    ASSERT_EQ(reached, wanted) << "trial " << trial;
    ASSERT_EQ(out, expected) << "trial " << trial;
  }
}

}  // namespace
