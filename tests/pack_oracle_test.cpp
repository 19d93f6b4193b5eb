// The packer against the reference packer: byte-identical packed data and
// block counts over thousands of inputs of many shapes, sizes and block
// sizes, the benchmark's noise pictures among them, and every packed section
// unpacks back to its input.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "ovk/rows_to_blocks.h"
#include "pack/pack.h"
#include "pack/unpack.h"
#include "support/reference_packer.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// Packs `in` with both packers and checks that they agree and that the
// result unpacks to `in`. Returns false on the first mismatch so that a
// failing input is reported once.
bool MatchesReference(const Bytes& in, std::int32_t blockSize, const std::string& what) {
  Bytes out(PackBound(in.size()));
  std::uint32_t blocks = 0;
  const std::int64_t n = PackBlocks(in, out, blockSize, &blocks);
  if (n < 0) {
    ADD_FAILURE() << what << ": PackBlocks failed";
    return false;
  }
  out.resize(static_cast<std::size_t>(n));
  const testing_support::ReferencePacked ref =
      testing_support::ReferencePackBlocks(in, static_cast<std::uint32_t>(blockSize));
  if (out != ref.bytes || blocks != ref.blockCount) {
    std::size_t at = 0;
    while (at < out.size() && at < ref.bytes.size() && out[at] == ref.bytes[at]) ++at;
    ADD_FAILURE() << what << ": differs from the reference at byte " << at << " of " << out.size()
                  << " / " << ref.bytes.size() << ", blocks " << blocks << " / " << ref.blockCount;
    return false;
  }
  Bytes back(in.size() + 1, 0);
  if (UnpackBlocks(back, static_cast<std::uint32_t>(in.size()), out, blocks) != in.size()) {
    ADD_FAILURE() << what << ": unpacks short";
    return false;
  }
  back.pop_back();
  if (back != in) {
    ADD_FAILURE() << what << ": does not unpack to its input";
    return false;
  }
  return true;
}

using Generator = std::function<Bytes(std::mt19937&, std::size_t)>;

// Bytes drawn from a small alphabet: many 2-byte keys repeat, few matches run long.
Bytes Alphabet(std::mt19937& rng, std::size_t n, unsigned symbols) {
  Bytes b(n);
  for (auto& v : b) v = static_cast<std::uint8_t>(rng() % symbols);
  return b;
}

// Runs of random lengths, short ones and ones past 4095.
Bytes Runs(std::mt19937& rng, std::size_t n) {
  Bytes b;
  while (b.size() < n) {
    const std::uint32_t kind = rng() % 8;
    std::size_t len = kind < 5 ? 1 + rng() % 20 : kind < 7 ? 10 + rng() % 120 : 1 + rng() % 5000;
    b.insert(b.end(), std::min(len, n - b.size()), static_cast<std::uint8_t>(rng() % 4));
  }
  return b;
}

// A pattern repeated with a period, with a few bytes changed: matches at the
// period, near and far, that stop at the changed bytes.
Bytes Periodic(std::mt19937& rng, std::size_t n) {
  static const std::size_t periods[] = {1,    2,    3,    7,    255,  256,  257, 300,
                                        4095, 4096, 4097, 8190, 8191, 8192, 8193};
  const std::size_t period = rng() % 3 == 0 ? 1 + rng() % 600 : periods[rng() % std::size(periods)];
  Bytes pattern = Alphabet(rng, period, 1 + rng() % 256);
  Bytes b(n);
  for (std::size_t k = 0; k < n; ++k) b[k] = pattern[k % period];
  const std::size_t changes = rng() % (n / 64 + 2);
  for (std::size_t c = 0; c < changes && n > 0; ++c)
    b[rng() % n] = static_cast<std::uint8_t>(rng());
  return b;
}

// An index plane: rows of horizontal spans, each row often a copy of the one
// above with a few spans changed.
Bytes Plane(std::mt19937& rng, std::size_t n) {
  const std::size_t width = 16 * (1 + rng() % 40);
  Bytes b;
  Bytes row(width);
  while (b.size() < n) {
    if (b.empty() || rng() % 4 == 0) {
      for (std::size_t x = 0; x < width;) {
        const std::size_t span = 1 + rng() % 24;
        const std::uint8_t v = static_cast<std::uint8_t>(rng() % 12);
        for (std::size_t s = 0; s < span && x < width; ++s) row[x++] = v;
      }
    } else {
      for (int e = rng() % 3; e > 0; --e)
        row[rng() % width] = static_cast<std::uint8_t>(rng() % 12);
    }
    b.insert(b.end(), row.begin(), row.end());
  }
  b.resize(n);
  return b;
}

// Stretches of the earlier content copied from random distances, mixed with
// noise and runs: every token kind and length code.
Bytes Mixed(std::mt19937& rng, std::size_t n) {
  Bytes b;
  while (b.size() < n) {
    const std::uint32_t kind = rng() % 4;
    std::size_t len = 1 + rng() % (rng() % 2 ? 16 : 400);
    len = std::min(len, n - b.size());
    if (kind == 0 || b.empty()) {
      for (std::size_t k = 0; k < len; ++k) b.push_back(static_cast<std::uint8_t>(rng()));
    } else if (kind == 1) {
      b.insert(b.end(), len, static_cast<std::uint8_t>(rng()));
    } else {
      const std::size_t dist = 1 + rng() % std::min<std::size_t>(b.size(), 9000);
      for (std::size_t k = 0; k < len; ++k) b.push_back(b[b.size() - dist]);
    }
  }
  return b;
}

// Noise over two values, then a plane: the packer's chains of longer keys
// come on in the noise and, once the block's window is full, go off again.
Bytes NoiseThenPlane(std::mt19937& rng, std::size_t n) {
  Bytes b = Alphabet(rng, n / 2, 2);
  const Bytes plane = Plane(rng, n - b.size());
  b.insert(b.end(), plane.begin(), plane.end());
  return b;
}

const std::vector<std::pair<const char*, Generator>>& Generators() {
  static const std::vector<std::pair<const char*, Generator>> all = {
      {"noise", [](std::mt19937& r, std::size_t n) { return Alphabet(r, n, 256); }},
      {"two symbols", [](std::mt19937& r, std::size_t n) { return Alphabet(r, n, 2); }},
      {"five symbols", [](std::mt19937& r, std::size_t n) { return Alphabet(r, n, 5); }},
      {"noise then plane", NoiseThenPlane},
      {"runs", Runs},
      {"periodic", Periodic},
      {"plane", Plane},
      {"mixed", Mixed},
  };
  return all;
}

TEST(PackOracle, SmallInputs) {
  // Every length up to 64 and a spread of lengths to a few thousand, every
  // shape: the end-of-block rules (no match in the last two bytes, runs only
  // with 15 left) and the flag-word placement at every phase.
  std::mt19937 rng(20261207);
  int checked = 0;
  for (const auto& [name, generate] : Generators()) {
    for (std::size_t n = 0; n <= 64; ++n) {
      for (int rep = 0; rep < 4; ++rep) {
        ASSERT_TRUE(MatchesReference(generate(rng, n), kDefaultBlockSize,
                                     std::string(name) + " of " + std::to_string(n)));
        ++checked;
      }
    }
    for (int rep = 0; rep < 150; ++rep) {
      const std::size_t n = 65 + rng() % (rep % 10 == 0 ? 12000 : 2500);
      ASSERT_TRUE(MatchesReference(generate(rng, n), kDefaultBlockSize,
                                   std::string(name) + " of " + std::to_string(n)));
      ++checked;
    }
  }
  EXPECT_GT(checked, 2500);
}

TEST(PackOracle, WholeBlocksAndSplits) {
  // Inputs over several blocks of the smallest, an odd and the largest block
  // size, including noise that must be split and long stretches at the
  // window's edge.
  std::mt19937 rng(4242);
  struct Case {
    std::int32_t blockSize;
    std::size_t length;
  };
  const Case cases[] = {{0x4000, 0x4000 * 3 + 77},
                        {0x4000, 0x4000},
                        {0x6123, 0x6123 * 2 + 1},
                        {0xFFFF, 0xFFFF + 300},
                        {0xFFFF, 0xFFFF}};
  for (const Case& c : cases) {
    for (const auto& [name, generate] : Generators()) {
      ASSERT_TRUE(MatchesReference(generate(rng, c.length), c.blockSize,
                                   std::string(name) + " of " + std::to_string(c.length) +
                                       " in blocks of " + std::to_string(c.blockSize)));
    }
  }
}

TEST(PackOracle, NoisePictures) {
  // The top 16 rows of the benchmark's 1920 x 1072 pictures of noise over 2, 3
  // and 4 colours, as index plane and in block order: two blocks of the
  // smallest size each, in which the chains of longer keys come on early and
  // the test of whether they are still needed runs.
  constexpr int kWidth = 1920;
  constexpr int kRows = 16;
  for (unsigned colours = 2; colours <= 4; ++colours) {
    std::mt19937 rng(colours);
    Bytes plane(static_cast<std::size_t>(kWidth) * kRows);
    for (auto& v : plane) v = static_cast<std::uint8_t>(rng() % colours);
    Bytes bottomUp(plane.size());
    for (int y = 0; y < kRows; ++y) {
      std::copy_n(plane.begin() + y * kWidth, kWidth, bottomUp.begin() + (kRows - 1 - y) * kWidth);
    }
    Bytes blocks(plane.size());
    ASSERT_TRUE(RowsToBlocks(bottomUp, blocks, kRows, kWidth));
    const std::string name = "noise over " + std::to_string(colours) + " colours";
    ASSERT_TRUE(MatchesReference(plane, 0x4000, name));
    ASSERT_TRUE(MatchesReference(blocks, 0x4000, name + " in block order"));
  }
}

}  // namespace
