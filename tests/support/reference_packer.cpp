#include "support/reference_packer.h"

#include <cstddef>

namespace testing_support {
namespace {

constexpr std::size_t kWindow = 8191;
constexpr std::size_t kLengthCap = 269;
constexpr std::size_t kRunCap = 4095;
constexpr std::size_t kRunProbe = 14;  // equal bytes that start a run
constexpr std::size_t kRunBeatsMatch = 64;
constexpr std::size_t kMaxBlockBytes = 0x10000;

// The bit writer, one step per rule: flag bits go into acc at bit k upward,
// a field most significant bit first; full words are stored into the slot
// reserved for them, and the next slot is reserved at the output position.
struct Writer {
  std::vector<std::uint8_t>& out;  // zero-filled, large enough
  std::size_t o = 4;
  std::size_t w = 2;
  std::uint64_t acc = 0;
  unsigned k = 8;

  void Put(std::uint32_t v, unsigned b) {
    for (unsigned j = b; j-- > 0;) {
      acc |= static_cast<std::uint64_t>((v >> j) & 1) << k;
      ++k;
    }
  }
  void Close() {
    out[w] = static_cast<std::uint8_t>(acc);
    out[w + 1] = static_cast<std::uint8_t>(acc >> 8);
    acc >>= 16;
    k -= 16;
    w = o;
    o += 2;
  }
  void Bytes(std::initializer_list<std::uint8_t> values) {
    if (k > 16) Close();
    for (std::uint8_t v : values) out[o++] = v;
    if (k == 16) Close();
  }
  void EndToken() {
    if (k >= 16) Close();
  }
  void LengthCode(std::size_t l) {
    if (l <= 5) {
      Put(0, static_cast<unsigned>(l - 2));
      Put(1, 1);
      EndToken();
    } else if (l <= 13) {
      Put(0, 4);
      Put(1, 1);
      Put(static_cast<std::uint32_t>(l - 6), 3);
      EndToken();
    } else {
      Put(0, 5);
      Bytes({static_cast<std::uint8_t>(l - 14)});
    }
  }
};

}  // namespace

std::vector<std::uint8_t> ReferencePackBlock(std::span<const std::uint8_t> block,
                                             std::uint32_t blocksAfter) {
  const std::size_t L = block.size();
  std::vector<std::uint8_t> out(2 * L + 64, 0);
  Writer wr{out};
  std::size_t p = 0;
  while (p < L) {
    // Run detection, with at least 15 bytes left.
    std::size_t r = 0;
    if (p + 14 < L) {
      bool run = true;
      for (std::size_t t = 1; t < kRunProbe; ++t) run = run && block[p + t] == block[p];
      if (run) {
        while (p + r < L && r < kRunCap && block[p + r] == block[p]) ++r;
      }
    }
    // Exhaustive match search, with at least 3 bytes left.
    std::size_t m = 0;
    std::size_t dm = 0;
    if (p + 2 < L) {
      for (std::size_t d = 1; d <= kWindow && d <= p; ++d) {
        if (block[p] != block[p - d] || block[p + 1] != block[p + 1 - d]) continue;
        std::size_t len = 0;
        while (p + len < L && len < kLengthCap && block[p + len] == block[p + len - d]) ++len;
        if (len > m) {
          m = len;
          dm = d;
        }
      }
    }
    if (dm != 0 && m >= 3 && r < kRunBeatsMatch) {
      // match (m, dm), below
    } else if (r >= kRunProbe) {
      wr.Put(1, 1);
      wr.Put(1, 1);
      wr.Put(0, 1);
      wr.Put(0, 4);
      wr.Bytes({1});
      if (r <= 29) {
        wr.Put(0, 1);
        wr.Put(static_cast<std::uint32_t>(r - 14), 4);
        wr.Bytes({block[p]});
      } else {
        wr.Put(1, 1);
        wr.Put(static_cast<std::uint32_t>((r - 14) >> 8), 4);
        wr.Bytes({static_cast<std::uint8_t>((r - 14) & 0xFF), block[p]});
      }
      p += r;
      continue;
    } else if (dm == 0) {
      wr.Put(0, 1);
      wr.Bytes({block[p]});
      p += 1;
      continue;
    } else {
      m = 2;
    }
    if (dm < 256) {
      wr.Put(1, 1);
      wr.Put(0, 1);
      wr.Bytes({static_cast<std::uint8_t>(dm)});
    } else {
      const std::uint32_t h = dm >= 4096 ? 1 : 0;
      wr.Put(1, 1);
      wr.Put(1, 1);
      wr.Put(h, 1);
      wr.Put(static_cast<std::uint32_t>((dm - 4096 * h) / 256), 4);
      wr.Bytes({static_cast<std::uint8_t>(dm & 0xFF)});
    }
    wr.LengthCode(m);
    p += m;
  }
  // End code and its marker byte.
  wr.Put(1, 1);
  wr.Put(1, 1);
  wr.Put(0, 1);
  wr.Put(0, 4);
  if (wr.k >= 16) wr.Close();
  if (wr.k > 0) {
    out[wr.o++] = 0;
    out[wr.w] = static_cast<std::uint8_t>(wr.acc);
    out[wr.w + 1] = static_cast<std::uint8_t>(wr.acc >> 8);
  } else {
    wr.o = wr.w + 1;  // the reserved slot's first byte (still 0) is the marker
  }
  out[0] = static_cast<std::uint8_t>(wr.o);
  out[1] = static_cast<std::uint8_t>(wr.o >> 8);
  out[wr.o] = static_cast<std::uint8_t>(blocksAfter);
  out.resize(wr.o + 1);
  return out;
}

namespace {

void PackPieces(std::span<const std::uint8_t> piece,
                std::vector<std::vector<std::uint8_t>>* blocks) {
  std::vector<std::uint8_t> packed = ReferencePackBlock(piece, 0);
  if (packed.size() <= kMaxBlockBytes) {
    blocks->push_back(std::move(packed));
    return;
  }
  const std::size_t first = (piece.size() + 1) / 2;
  PackPieces(piece.first(first), blocks);
  PackPieces(piece.subspan(first), blocks);
}

}  // namespace

ReferencePacked ReferencePackBlocks(std::span<const std::uint8_t> in, std::uint32_t blockSize) {
  std::vector<std::vector<std::uint8_t>> blocks;
  for (std::size_t start = 0; start < in.size(); start += blockSize) {
    const std::size_t len = in.size() - start < blockSize ? in.size() - start : blockSize;
    PackPieces(in.subspan(start, len), &blocks);
  }
  ReferencePacked result;
  result.blockCount = static_cast<std::uint32_t>(blocks.size());
  for (std::size_t j = 0; j < blocks.size(); ++j) {
    blocks[j].back() = static_cast<std::uint8_t>(blocks.size() - 1 - j);
    result.bytes.insert(result.bytes.end(), blocks[j].begin(), blocks[j].end());
  }
  return result;
}

}  // namespace testing_support
