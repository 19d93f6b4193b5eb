#include "support/reference_packer.h"

#include <algorithm>
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
  void Literal(std::uint8_t value) {
    Put(0, 1);
    Bytes({value});
  }
  void Match(std::size_t distance, std::size_t length) {
    if (distance < 256) {
      Put(1, 1);
      Put(0, 1);
      Bytes({static_cast<std::uint8_t>(distance)});
    } else {
      const std::uint32_t h = distance >= 4096 ? 1 : 0;
      Put(1, 1);
      Put(1, 1);
      Put(h, 1);
      Put(static_cast<std::uint32_t>((distance - 4096 * h) / 256), 4);
      Bytes({static_cast<std::uint8_t>(distance & 0xFF)});
    }
    LengthCode(length);
  }
  void Run(std::uint8_t value, std::size_t r) {
    Put(1, 1);
    Put(1, 1);
    Put(0, 1);
    Put(0, 4);
    Bytes({1});
    if (r <= 29) {
      Put(0, 1);
      Put(static_cast<std::uint32_t>(r - 14), 4);
      Bytes({value});
    } else {
      Put(1, 1);
      Put(static_cast<std::uint32_t>((r - 14) >> 8), 4);
      Bytes({static_cast<std::uint8_t>((r - 14) & 0xFF), value});
    }
  }
  // The end code, its marker byte and the trailing byte; returns the block.
  std::vector<std::uint8_t> Finish(std::uint32_t blocksAfter) {
    Put(1, 1);
    Put(1, 1);
    Put(0, 1);
    Put(0, 4);
    if (k >= 16) Close();
    if (k > 0) {
      out[o++] = 0;
      out[w] = static_cast<std::uint8_t>(acc);
      out[w + 1] = static_cast<std::uint8_t>(acc >> 8);
    } else {
      o = w + 1;  // the reserved slot's first byte (still 0) is the marker
    }
    out[0] = static_cast<std::uint8_t>(o);
    out[1] = static_cast<std::uint8_t>(o >> 8);
    out[o] = static_cast<std::uint8_t>(blocksAfter);
    out.resize(o + 1);
    return out;
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
      wr.Run(block[p], r);
      p += r;
      continue;
    } else if (dm == 0) {
      wr.Literal(block[p]);
      p += 1;
      continue;
    } else {
      m = 2;
    }
    wr.Match(dm, m);
    p += m;
  }
  return wr.Finish(blocksAfter);
}

std::vector<std::uint8_t> ReferenceWriteBlock(std::span<const ReferenceToken> tokens,
                                              std::uint32_t blocksAfter) {
  // A token takes at most 3 data bytes and 15 flag bits.
  std::vector<std::uint8_t> out(64 + 5 * tokens.size(), 0);
  Writer wr{out};
  for (const ReferenceToken& t : tokens) {
    switch (t.kind) {
      case ReferenceToken::Kind::kLiteral:
        wr.Literal(t.value);
        break;
      case ReferenceToken::Kind::kMatch:
        wr.Match(t.distance, t.length);
        break;
      case ReferenceToken::Kind::kRun:
        wr.Run(t.value, t.length);
        break;
    }
  }
  return wr.Finish(blocksAfter);
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

namespace {

// The decoder's state across the blocks of one section. Every read checks the
// input and every write the output; Stop() ends the section.
struct Reader {
  std::span<std::uint8_t> out;
  std::size_t limit;  // bytes that may be written
  std::span<const std::uint8_t> in;
  std::size_t i = 0;
  std::size_t o = 0;
  bool stopped = false;
  std::uint64_t bits = 0;  // flag bits, the next one lowest
  unsigned avail = 0;

  bool Byte(std::uint32_t* b) {
    if (i >= in.size()) return false;
    *b = in[i++];
    return true;
  }
  void Put(std::uint8_t b) {
    if (o < limit) out[o] = b;
    if (o < limit) ++o;
  }
  // Copies n bytes one at a time from `distance` back; false when that
  // reaches before the start.
  bool Copy(std::size_t distance, std::size_t n) {
    if (distance > o) return false;
    for (std::size_t k = 0; k < n; ++k) Put(distance == 0 ? 0 : out[o - distance]);
    return true;
  }
  bool Ensure(unsigned k) {
    if (avail >= k) return true;
    std::uint32_t lo;
    std::uint32_t hi;
    if (!Byte(&lo) || !Byte(&hi)) return false;
    bits |= static_cast<std::uint64_t>(lo | (hi << 8)) << avail;
    avail += 16;
    return true;
  }
  // Takes one flag bit, after ensure(1).
  bool Bit(std::uint32_t* b) {
    if (!Ensure(1)) return false;
    *b = bits & 1;
    bits >>= 1;
    --avail;
    return true;
  }
  // Takes k bits (already ensured) as a number, most significant first.
  std::uint32_t Field(unsigned k) {
    std::uint32_t v = 0;
    for (unsigned j = 0; j < k; ++j) {
      v = (v << 1) | (bits & 1);
      bits >>= 1;
      --avail;
    }
    return v;
  }
  bool Length(std::uint32_t* length) {
    for (std::uint32_t zeros = 0; zeros < 4; ++zeros) {
      std::uint32_t b;
      if (!Bit(&b)) return false;
      if (b == 1) {
        *length = 2 + zeros;
        return true;
      }
    }
    if (!Ensure(1)) return false;
    if ((bits & 1) == 1) {
      if (!Ensure(4)) return false;
      Field(1);
      *length = 6 + Field(3);
      return true;
    }
    Field(1);
    std::uint32_t e;
    if (!Byte(&e)) return false;
    *length = 14 + e;
    return true;
  }

  void FlagBlock() {
    const std::size_t start = i;
    if (in.size() - start < 4) {
      stopped = true;
      return;
    }
    const std::size_t end = start + (in[start] | (static_cast<std::size_t>(in[start + 1]) << 8));
    bits = in[start + 3];
    avail = 8;
    i = start + 4;
    if (end <= start + 4) return;
    while (o < limit && i <= in.size()) {
      if (!FlagToken(end)) return;
      if (i >= end) return;
    }
  }
  // One token; false when the block is done or the section stops.
  bool FlagToken(std::size_t end) {
    std::uint32_t v;
    std::uint32_t length;
    if (!Ensure(1)) return Stop();
    if ((bits & 1) == 0) {
      Field(1);
      if (!Byte(&v)) return Stop();
      Put(static_cast<std::uint8_t>(v));
      return true;
    }
    if (!Ensure(2)) return Stop();
    if ((bits & 2) == 0) {
      if (!Byte(&v)) return Stop();
      Field(2);
      if (!Length(&length)) return Stop();
      return Copy(v, length) || Stop();
    }
    if (!Ensure(7)) return Stop();
    if (!Byte(&v)) return Stop();
    Field(2);
    const std::uint32_t h = Field(1);
    const std::uint32_t m = Field(4);
    if (h == 0 && m == 0) {
      if (i >= end) return false;  // the end code
      if (!Ensure(5)) return Stop();
      std::uint32_t r;
      if (!Byte(&r)) return Stop();
      const std::uint32_t longRun = Field(1);
      const std::uint32_t count = Field(4);
      std::uint32_t fill = r;
      std::uint32_t n = 14 + count;
      if (longRun == 1) {
        if (!Byte(&fill)) return Stop();
        n = 14 + 256 * count + r;
      }
      for (std::uint32_t k = 0; k < n; ++k) Put(static_cast<std::uint8_t>(fill));
      return true;
    }
    if (!Ensure(2)) return Stop();
    if (!Length(&length)) return Stop();
    return Copy(4096 * h + 256 * m + v, length) || Stop();
  }

  void CodedBlock() {
    const std::size_t start = i;
    if (in.size() - start <= 2) {
      stopped = true;
      return;
    }
    const std::size_t end = start + (in[start] | (static_cast<std::size_t>(in[start + 1]) << 8));
    i = start + 2;
    if (end <= start + 2) return;
    while (o < limit && i <= in.size()) {
      if (!Code()) return;
      if (i >= end) return;
    }
  }
  bool Code() {
    std::uint32_t x;
    std::uint32_t n;
    std::uint32_t f;
    if (!Byte(&x)) return Stop();
    if (x == 0) return false;
    if (x < 0x20) return Literals(x);
    if (!Byte(&n)) return Stop();
    if (x < 0x40) return Literals((x - 0x20) * 256 + n);
    if (x < 0x50) {
      for (std::uint32_t k = 0; k < x - 60; ++k) Put(static_cast<std::uint8_t>(n));
      return true;
    }
    if (x < 0x60) {
      if (!Byte(&f)) return Stop();
      for (std::uint32_t k = 0; k < (x - 0x50) * 256 + n + 4; ++k)
        Put(static_cast<std::uint8_t>(f));
      return true;
    }
    if (x < 0xE0) return Stop();
    const std::size_t distance = (x - 0xE0) * 256 + n;
    if (distance > o) return Stop();
    for (;;) {
      if (i >= in.size()) return Stop();
      if ((in[i] & 0xE0) != 0x60) break;
      Copy(distance, in[i++] & 0x1F);
    }
    Copy(distance, 7);
    return true;
  }
  bool Literals(std::uint32_t count) {
    for (std::uint32_t k = 0; k < count; ++k) {
      std::uint32_t v;
      if (!Byte(&v)) return Stop();
      Put(static_cast<std::uint8_t>(v));
    }
    return true;
  }
  bool Stop() {
    stopped = true;
    return false;
  }
};

}  // namespace

std::uint32_t ReferenceUnpackBlocks(std::span<std::uint8_t> out, std::uint32_t capacity,
                                    std::span<const std::uint8_t> packed,
                                    std::uint32_t blockCount) {
  Reader r{out, std::min<std::size_t>(std::size_t{capacity} + 1, out.size()), packed};
  for (std::uint32_t b = 0; b < blockCount && !r.stopped; ++b) {
    if (r.o >= r.limit || r.i > packed.size() || packed.size() - r.i <= 2) break;
    if (packed[r.i + 2] == 0) {
      r.FlagBlock();
    } else {
      r.CodedBlock();
    }
    ++r.i;  // blocksAfter
  }
  return static_cast<std::uint32_t>(r.o);
}

}  // namespace testing_support
