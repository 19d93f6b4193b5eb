// Block compressor: the format's worked examples (for the packer and for the
// reference packer the property tests trust), blocks that would overflow the
// 16-bit endOffset, and output buffers of every size.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "pack/pack.h"
#include "pack/unpack.h"
#include "support/reference_packer.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using testing_support::ReferencePackBlocks;

struct Packed {
  std::int64_t length = -1;
  std::uint32_t blocks = 0;
  Bytes bytes;
};

constexpr std::uint8_t kCanary = 0xA7;

// PackBlocks into a buffer of PackBound bytes, or of `room` bytes when given,
// that is not zero-filled, with a guard of canary bytes behind it.
Packed Pack(const Bytes& in, std::size_t room = SIZE_MAX,
            std::int32_t blockSize = kDefaultBlockSize) {
  if (room == SIZE_MAX) room = PackBound(in.size());
  Bytes buffer(room + 64, kCanary);
  std::fill(buffer.begin(), buffer.begin() + room, 0xEE);
  Packed p;
  p.blocks = 12345;
  p.length = PackBlocks(in, std::span(buffer).first(room), blockSize, &p.blocks);
  for (std::size_t g = room; g < buffer.size(); ++g) {
    EXPECT_EQ(buffer[g], kCanary) << "write past the output at " << g;
  }
  if (p.length >= 0) p.bytes.assign(buffer.begin(), buffer.begin() + p.length);
  return p;
}

// Unpacks into `size` bytes and expects the stream to end as `expectedEnd`.
Bytes Unpack(const Bytes& packed, std::size_t size, std::uint32_t blocks,
             UnpackEnd expectedEnd = UnpackEnd::kComplete) {
  Bytes out(size + 1, 0);
  UnpackEnd end = UnpackEnd::kComplete;
  const std::uint32_t reached =
      UnpackBlocks(out, static_cast<std::uint32_t>(size), packed, blocks, &end);
  EXPECT_EQ(end, expectedEnd) << "reached " << reached << " of " << size;
  out.pop_back();
  return out;
}

Bytes Iota(std::size_t n, std::size_t from = 0) {
  Bytes b(n);
  for (std::size_t k = 0; k < n; ++k) b[k] = static_cast<std::uint8_t>(from + k);
  return b;
}

Bytes Random(std::size_t n, std::uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes b(n);
  for (auto& v : b) v = static_cast<std::uint8_t>(rng());
  return b;
}

struct Golden {
  const char* name;
  Bytes input;
  Bytes packed;
};

std::vector<Golden> GoldenVectors() {
  std::vector<Golden> g;
  const std::string abc = "abcabcabcabc";
  g.push_back({"abc",
               Bytes(abc.begin(), abc.end()),
               {0x0B, 0x00, 0x00, 0x08, 0x61, 0x62, 0x63, 0x03, 0x7A, 0x00, 0x00, 0x00}});
  g.push_back(
      {"twenty", Bytes(20, 0x41), {0x09, 0x00, 0x00, 0x03, 0x01, 0x36, 0x00, 0x41, 0x00, 0x00}});
  g.push_back({"three hundred",
               Bytes(300, 0x41),
               {0x0A, 0x00, 0x00, 0x83, 0x01, 0x38, 0x00, 0x1E, 0x41, 0x00, 0x00}});
  // A run of 4095, then a run of 905 that beats the match of 269 at distance 1.
  g.push_back({"run 5000",
               Bytes(5000, 0x41),
               {0x0F, 0x00, 0x00, 0x83, 0x01, 0x3F, 0xC8, 0xF1, 0x41, 0x01, 0x7B, 0x41, 0x03, 0x00,
                0x00, 0x00}});
  // A run of 4095, then a near match of 20 at distance 1: a run of 20 loses.
  g.push_back(
      {"run 4115",
       Bytes(4115, 0x41),
       {0x0E, 0x00, 0x00, 0x83, 0x01, 0x1F, 0x18, 0xF1, 0x41, 0x01, 0x06, 0x00, 0x00, 0x00, 0x00}});
  g.push_back({"one byte", {0x5A}, {0x06, 0x00, 0x00, 0x06, 0x5A, 0x00, 0x00}});
  g.push_back({"empty", {}, {}});
  return g;
}

TEST(PackGolden, WorkedExamples) {
  for (const Golden& g : GoldenVectors()) {
    Packed p = Pack(g.input);
    EXPECT_EQ(p.bytes, g.packed) << g.name;
    EXPECT_EQ(p.blocks, g.input.empty() ? 0u : 1u) << g.name;
    EXPECT_EQ(p.length, static_cast<std::int64_t>(g.packed.size())) << g.name;
    testing_support::ReferencePacked ref = ReferencePackBlocks(g.input, kDefaultBlockSize);
    EXPECT_EQ(ref.bytes, g.packed) << g.name;
    EXPECT_EQ(ref.blockCount, p.blocks) << g.name;
    EXPECT_EQ(Unpack(p.bytes, g.input.size(), p.blocks), g.input) << g.name;
  }
}

TEST(PackGolden, FarMatchSharesAFlagWordWithLiterals) {
  // 256 literals, then a far match at distance 256 of length 20.
  Bytes in = Iota(256);
  Bytes tail = Iota(20);
  in.insert(in.end(), tail.begin(), tail.end());
  const Bytes ending = {0xFA, 0xFB, 0xFC, 0xFD, 0xFE, 0xFF, 0x00, 0x30, 0x00, 0x06, 0x00, 0x00};
  for (const Bytes& packed : {Pack(in).bytes, ReferencePackBlocks(in, kDefaultBlockSize).bytes}) {
    ASSERT_GE(packed.size(), ending.size());
    EXPECT_TRUE(std::equal(ending.begin(), ending.end(), packed.end() - ending.size()));
    EXPECT_EQ(Unpack(packed, in.size(), 1), in);
  }
}

TEST(PackGolden, BlockBoundaries) {
  // Exactly one block: blocksAfter 0.
  Bytes one = Random(0x4000, 7);
  Packed p = Pack(one, SIZE_MAX, 0x4000);
  EXPECT_EQ(p.blocks, 1u);
  EXPECT_EQ(p.bytes.back(), 0);
  EXPECT_EQ(Unpack(p.bytes, one.size(), p.blocks), one);
  // One byte more: a second block holding the byte as a literal, whose end
  // code fills the first flag word so the marker takes the reserved slot.
  Bytes two = one;
  two.push_back(0xC3);
  p = Pack(two, SIZE_MAX, 0x4000);
  EXPECT_EQ(p.blocks, 2u);
  ASSERT_GT(p.bytes.size(), 7u);
  const std::size_t firstEnd = p.bytes[0] | (p.bytes[1] << 8);
  EXPECT_EQ(p.bytes[firstEnd], 1);
  EXPECT_EQ(Bytes(p.bytes.end() - 7, p.bytes.end()),
            (Bytes{0x06, 0x00, 0x00, 0x06, 0xC3, 0x00, 0x00}));
  EXPECT_EQ(Unpack(p.bytes, two.size(), p.blocks), two);
  // A match never reaches into the previous block: the second block of a
  // repeated pattern starts over with literals.
  Bytes repeated(0x4000 + 64);
  for (std::size_t k = 0; k < repeated.size(); ++k) repeated[k] = static_cast<std::uint8_t>(k % 7);
  p = Pack(repeated, SIZE_MAX, 0x4000);
  EXPECT_EQ(p.bytes, ReferencePackBlocks(repeated, 0x4000).bytes);
  const std::size_t secondAt = (p.bytes[0] | (p.bytes[1] << 8)) + 1;
  ASSERT_GT(p.bytes.size(), secondAt + 9);
  // 16384 mod 7 = 4: the second block starts with the literals 4, 5, 6.
  EXPECT_EQ(p.bytes[secondAt + 4], 4);
  EXPECT_EQ(p.bytes[secondAt + 5], 5);
  EXPECT_EQ(p.bytes[secondAt + 6], 6);
  EXPECT_EQ(Unpack(p.bytes, repeated.size(), p.blocks), repeated);
}

// How a stream ends tells a short stream from a damaged one: the same
// packed bytes asked for more than they hold, cut inside a block, or with
// the first block's mode byte made an invalid byte code.
TEST(UnpackEnd, TellsShortStreamsFromDamagedOnes) {
  const Bytes in = Random(3000, 11);
  const Packed p = Pack(in);
  ASSERT_GT(p.length, 20);
  EXPECT_EQ(Unpack(p.bytes, in.size(), p.blocks), in);
  const Bytes more = Unpack(p.bytes, in.size() + 10, p.blocks, UnpackEnd::kShort);
  EXPECT_TRUE(std::equal(in.begin(), in.end(), more.begin()));
  Unpack(Bytes(p.bytes.begin(), p.bytes.end() - 10), in.size(), p.blocks, UnpackEnd::kCorrupt);
  // A byte-coded block whose first code is 0x60, which no token uses.
  Unpack(Bytes{0x03, 0x00, 0x60, 0x00}, 4, 1, UnpackEnd::kCorrupt);
  // A section stating more blocks than its data holds is short, not damaged.
  Unpack(p.bytes, in.size() + 10, p.blocks + 1, UnpackEnd::kShort);
}

TEST(PackBlockSize, OnlyUsableSizesArePacked) {
  const Bytes in = Random(100, 5);
  for (std::int32_t size : {0x4000, 0x8000, 0xFFFF}) EXPECT_GT(Pack(in, SIZE_MAX, size).length, 0);
  for (std::int32_t size : {0x3FFF, 0x10000, 0, -1}) {
    const Packed p = Pack(in, SIZE_MAX, size);
    EXPECT_EQ(p.length, -1) << size;
    EXPECT_EQ(p.blocks, 0u) << size;
  }
}

// Checks that `packed` is a chain of `count` blocks, each within 16 bits of
// endOffset, with blocksAfter counting down to 0.
void ExpectBlockChain(const Bytes& packed, std::uint32_t count) {
  std::size_t at = 0;
  for (std::uint32_t b = 0; b < count; ++b) {
    ASSERT_LE(at + 2, packed.size());
    const std::size_t end = packed[at] | (packed[at + 1] << 8);
    ASSERT_LT(at + end, packed.size());
    EXPECT_EQ(packed[at + end], static_cast<std::uint8_t>(count - 1 - b)) << "block " << b;
    at += end + 1;
  }
  EXPECT_EQ(at, packed.size());
}

TEST(PackSplit, BlocksThatOverflowEndOffsetAreHalved) {
  // 65535 bytes without repeats pack to more than 65536 bytes as one block:
  // two blocks of 32768 and 32767 bytes instead.
  const Bytes noise = Random(0xFFFF, 11);
  Packed p = Pack(noise);
  ASSERT_GE(p.length, 0);
  EXPECT_EQ(p.blocks, 2u);
  ExpectBlockChain(p.bytes, p.blocks);
  EXPECT_EQ(Unpack(p.bytes, noise.size(), p.blocks), noise);
  // The halves are packed as blocks of their own.
  Packed firstHalf = Pack(Bytes(noise.begin(), noise.begin() + 32768));
  Packed secondHalf = Pack(Bytes(noise.begin() + 32768, noise.end()));
  ASSERT_EQ(firstHalf.blocks, 1u);
  firstHalf.bytes.back() = 1;
  Bytes joined = firstHalf.bytes;
  joined.insert(joined.end(), secondHalf.bytes.begin(), secondHalf.bytes.end());
  EXPECT_EQ(p.bytes, joined);

  // Split blocks among whole ones: noise, zeros, noise (a fitting block of
  // 58,000 bytes), a short tail; the counts run over all blocks written.
  Bytes mixed = noise;
  mixed.insert(mixed.end(), 0xFFFF, 0);
  Bytes fits = Random(58000, 12);
  mixed.insert(mixed.end(), fits.begin(), fits.end());
  mixed.insert(mixed.end(), 0xFFFF - 58000 + 100, 0x33);
  p = Pack(mixed);
  EXPECT_EQ(p.blocks, 5u);
  ExpectBlockChain(p.bytes, p.blocks);
  EXPECT_EQ(Unpack(p.bytes, mixed.size(), p.blocks), mixed);
  testing_support::ReferencePacked ref = ReferencePackBlocks(mixed, kDefaultBlockSize);
  EXPECT_EQ(ref.blockCount, 5u);
  EXPECT_EQ(p.bytes, ref.bytes);
}

TEST(PackSplit, OneBlockThatCannotFitIsRefused) {
  const Bytes noise = Random(0xFFFF, 13);
  Bytes out(PackBound(noise.size()));
  EXPECT_EQ(PackBlock(out, noise, 0), -1);
  // One that fits, with blocksAfter taken mod 256.
  const Bytes half(noise.begin(), noise.begin() + 30000);
  const std::int64_t n = PackBlock(out, half, 300);
  ASSERT_GT(n, 0);
  EXPECT_EQ(out[n - 1], 300 % 256);
  EXPECT_EQ(Unpack(Bytes(out.begin(), out.begin() + n), half.size(), 1), half);
  const Bytes tooBig(0x10000, 0);
  EXPECT_EQ(PackBlock(out, tooBig, 0), -1);
}

TEST(PackCapacity, NeverWritesPastTheOutput) {
  // Short contents (palettes of one or two entries) and longer ones: with
  // exactly the room they need they pack as with plenty; one byte less fails
  // cleanly, and the canary behind the output survives either way.
  std::vector<Bytes> inputs;
  for (std::size_t n = 1; n <= 9; ++n) inputs.push_back(Random(n, static_cast<std::uint32_t>(n)));
  inputs.push_back(Bytes(4, 0));
  inputs.push_back(Bytes(100, 7));
  inputs.push_back(Random(1000, 5));
  inputs.push_back(Random(0xFFFF, 6));  // split in two
  for (const Bytes& in : inputs) {
    const Packed full = Pack(in);
    ASSERT_GE(full.length, 0) << in.size();
    EXPECT_LE(static_cast<std::size_t>(full.length), PackBound(in.size()));
    EXPECT_EQ(Unpack(full.bytes, in.size(), full.blocks), in);
    const Packed exact = Pack(in, static_cast<std::size_t>(full.length));
    EXPECT_EQ(exact.bytes, full.bytes) << in.size();
    EXPECT_EQ(exact.blocks, full.blocks);
    const std::size_t shortRooms[] = {static_cast<std::size_t>(full.length) - 1, 0, 4,
                                      static_cast<std::size_t>(full.length) / 2};
    for (std::size_t room : shortRooms) {
      const Packed cut = Pack(in, room);
      EXPECT_EQ(cut.length, -1) << in.size() << " in " << room;
      EXPECT_EQ(cut.blocks, 0u);
    }
  }
  // Twice the input length is too little below 8 bytes, never above.
  for (std::size_t n = 8; n < 64; ++n) {
    const Bytes in = Random(n, static_cast<std::uint32_t>(100 + n));
    EXPECT_GE(Pack(in, 2 * n).length, 0) << n;
  }
}

TEST(PackCapacity, BoundCoversEveryBlockSize) {
  for (std::int32_t size : {0x4000, 0x5A5A, 0xFFFF}) {
    for (std::size_t n :
         {std::size_t{1}, std::size_t{0x4000}, std::size_t{0x4001}, std::size_t{3 * 0xFFFF + 5}}) {
      const Bytes in = Random(n, static_cast<std::uint32_t>(n + size));
      const Packed p = Pack(in, SIZE_MAX, size);
      ASSERT_GE(p.length, 0) << size << " " << n;
      EXPECT_EQ(Unpack(p.bytes, in.size(), p.blocks), in);
      ExpectBlockChain(p.bytes, p.blocks);
    }
  }
}

}  // namespace
