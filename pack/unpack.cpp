// Decoder of the packed stream (layout: pack/packed_format.h).
//
// Safety model: the decoder knows the length of its input and how many output
// bytes it may write (capacity + 1, never more than the span holds). A block's
// tokens are decoded in one of three ways, chosen by how far the positions
// are from the ends:
//
// - Near the end of the input, every read is checked, and a token that would
//   need a byte that is not there stops the section.
// - Otherwise a token cannot need more than kMaxTokenInput bytes, so one check
//   at its start covers all of its reads; output lengths are cut at the limit
//   before anything is copied.
// - Far from both ends (FastTokens), tokens run in a loop that checks its
//   positions once per token: at least kFastInput input bytes and room for
//   the longest token's copies are left. While more than kExactTail input
//   bytes of the block and of the input are left, literals and matches are
//   copied in whole 16-byte moves that may write up to kMaxOverrun bytes past
//   the output position. The tokens in the last kExactTail input bytes are
//   copied exactly: they write at least one byte for every 1.125 input bytes
//   (a literal takes a byte and a flag bit; every other token writes more for
//   its bytes and bits), far more than kMaxOverrun even when the last token
//   copied with moves took 33 of those bytes, so the bytes past the output
//   position are overwritten before the block ends. Only a match that
//   reaches before the start can stop the section before that, and only
//   within the first 8191 bytes of the output (a distance is at most 8191):
//   the block decoder keeps the original bytes of that stretch from before
//   its first moves, and puts back those past the output position when the
//   section stops.
//
// A back-reference that reaches before the start of the output stops the
// section, so nothing is read or written outside the two spans whatever the
// bytes say.
#include "pack/unpack.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "io/byte_order.h"
#include "pack/packed_format.h"

namespace {

using namespace packed;

// Most input bytes one bit-flag token can consume: a flag word and the marker
// of a run, a second flag word, then R and F.
constexpr std::size_t kMaxTokenInput = 7;
// FastTokens runs while this many input bytes are left (a literal run reads
// 32 bytes from its start) and this much room is left in the output (a match
// of 269 after up to 22 literals, with its copies' overrun).
constexpr std::size_t kFastInput = 64;
constexpr std::size_t kFastOutput = 400;
// Output bytes after which no match can reach before the start.
constexpr std::size_t kMatchesSafeFrom = kMaxDistance;
// Bytes past the output position that FastTokens' moves may write.
constexpr std::size_t kMaxOverrun = 64;
// Input bytes at the end of a block, or of the input, whose tokens are copied
// exactly (see the safety model).
constexpr std::size_t kExactTail = 192;
// Tokens FastTokens decodes before the way it reads them is chosen again (see
// TokenMix).
constexpr std::uint32_t kChunk = 1024;

constexpr std::uint32_t Reverse4(std::uint64_t bits) {
  return kReverse4[bits & 0xF];
}
constexpr std::uint32_t Reverse3(std::uint64_t bits) {
  return kReverse4[bits & 0x7] >> 1;
}

// A 16-byte move that reads all of its source before writing: correct when
// the regions overlap too.
inline void Copy16(std::uint8_t* dst, const std::uint8_t* src) {
  std::uint8_t t[16];
  std::memcpy(t, src, 16);
  std::memcpy(dst, t, 16);
}

// The high part of a far match's distance, 4096 h + 256 m, from its flag bits
// h m as they lie in the buffer: h in bit 0, m in bits 1 to 4 (most
// significant first).
struct FarHighTable {
  std::uint16_t high[32];
  constexpr FarHighTable() : high() {
    for (unsigned b = 0; b < 32; ++b) {
      const unsigned m =
          ((b >> 1) & 1) << 3 | ((b >> 2) & 1) << 2 | ((b >> 3) & 1) << 1 | ((b >> 4) & 1);
      high[b] = static_cast<std::uint16_t>((b & 1) * kFarHighStep + m * 256);
    }
  }
};
constexpr FarHighTable kFarHigh;

// A length code read through tables, by its first 8 bits as they lie in the
// buffer (first bit lowest): the length it gives (0 when a length byte
// follows). Its bit count comes from its leading zeros z (the code's form).
struct CodeLengthTable {
  std::uint8_t length[256];
  constexpr CodeLengthTable() : length() {
    for (unsigned b = 0; b < 256; ++b) {
      const unsigned zeros = static_cast<unsigned>(std::countr_zero(b | 0x20));
      length[b] = static_cast<std::uint8_t>(zeros < 4    ? kMinMatch + zeros
                                            : zeros == 4 ? 6 + Reverse3(b >> 5)
                                                         : 0);
    }
  }
};
constexpr CodeLengthTable kCodeLength;
// Bits of a length code by its leading zeros z (0 to 5), 4 bits each:
// 1 to 4 bits for z < 4, 8 for the 1 + 3 bit form, 5 before a length byte.
constexpr std::uint32_t kCodeBits = 0x584321;
// One count for a code's form by its leading zeros, in the field of that
// form (short, 1 + 3 bits, length byte) of a packed counter.
constexpr unsigned kFormBits = 21;
constexpr std::uint32_t kFormMask = (1u << kFormBits) - 1;
constexpr std::uint64_t kFormCount[6] = {1, 1, 1, 1, 1ull << kFormBits, 1ull << (2 * kFormBits)};
static_assert(kChunk <= kFormMask);

// Moves 16 kMoves bytes, all loaded before any is stored: correct when the
// bytes that matter are not among those it overwrites.
template <std::size_t kMoves>
inline void MoveLoadsFirst(std::uint8_t* dst, const std::uint8_t* src) {
  std::uint8_t t[kMoves][16];
  for (std::size_t k = 0; k < kMoves; ++k) std::memcpy(t[k], src + 16 * k, 16);
  for (std::size_t k = 0; k < kMoves; ++k) std::memcpy(dst + 16 * k, t[k], 16);
}

// Copies n bytes between regions that do not overlap, with fixed-size moves
// for the short lengths that dominate: a variable-length memcpy costs more to
// start than a short match takes to copy. Two moves that overlap each other
// cover every length of their range exactly, so nothing past n is written.
inline void CopyShort(std::uint8_t* dst, const std::uint8_t* src, std::size_t n) {
  if (n >= 8) {
    if (n <= 16) {
      std::memcpy(dst, src, 8);
      std::memcpy(dst + n - 8, src + n - 8, 8);
    } else if (n <= 32) {
      std::memcpy(dst, src, 16);
      std::memcpy(dst + n - 16, src + n - 16, 16);
    } else {
      std::memcpy(dst, src, n);
    }
  } else if (n >= 4) {
    std::memcpy(dst, src, 4);
    std::memcpy(dst + n - 4, src + n - 4, 4);
  } else if (n > 0) {
    dst[0] = src[0];
    dst[n / 2] = src[n / 2];
    dst[n - 1] = src[n - 1];
  }
}

// Writes `n` bytes that repeat the output from `dist` bytes back, front to
// back, as a byte-by-byte copy would. The caller has checked dist <= the
// bytes already written and n <= the room left.
inline void CopyBack(std::uint8_t* dst, std::size_t dist, std::size_t n) {
  if (dist == 0) {
    // The source is the output position itself: bytes not written yet, which
    // the caller's buffer holds as zero. Write the zeros rather than copying
    // whatever the buffer holds.
    std::memset(dst, 0, n);
    return;
  }
  const std::uint8_t* src = dst - dist;
  if (dist >= n) {
    CopyShort(dst, src, n);
  } else if (dist == 1) {
    std::memset(dst, src[0], n);
  } else if (dist >= 8) {
    // Each 8-byte chunk reads only bytes written before it. The last chunk
    // ends exactly at n and may rewrite bytes of the one before it with the
    // same values.
    std::size_t done = 0;
    while (n - done >= 8) {
      std::memcpy(dst + done, src + done, 8);
      done += 8;
    }
    if (done < n) std::memcpy(dst + n - 8, src + n - 8, 8);
  } else {
    // Period shorter than 8: lay down one period, then double the copied
    // stretch, which stays a whole number of periods until the last step.
    std::memcpy(dst, src, dist);
    std::size_t done = dist;
    while (done < n) {
      std::size_t step = std::min(done, n - done);
      std::memcpy(dst + done, dst, step);
      done += step;
    }
  }
}

#if defined(__SIZEOF_INT128__)
__extension__ using Pattern = unsigned __int128;

// For a period p of 1 to 15 bytes: the multiplier that repeats a value of p
// bytes over 16 bytes, and the bytes of the whole periods that fit in 16.
struct RepeatTable {
  Pattern multiplier[16];
  std::uint8_t step[16];
  constexpr RepeatTable() : multiplier(), step() {
    for (unsigned p = 1; p < 16; ++p) {
      for (unsigned k = 0; k * p < 16; ++k) multiplier[p] |= Pattern{1} << (8 * k * p);
      step[p] = static_cast<std::uint8_t>(16 / p * p);
    }
  }
};
constexpr RepeatTable kRepeat;
#endif

// Writes the `n` bytes at dst of a match from `period` (1 to 15) bytes back
// that is longer than its period: the last `period` bytes, repeated. The
// first 16 bytes of the pattern are made in a register and stored again
// after every whole number of periods that fits in 16 bytes, so no load waits
// for a store just made (moves that read their own output stall until those
// stores reach memory). Writes up to 31 bytes past dst + n, and reads up to
// 15 past dst - period.
inline void RepeatPeriod(std::uint8_t* dst, std::size_t period, std::size_t n) {
#if defined(__SIZEOF_INT128__)
  if constexpr (std::endian::native == std::endian::little) {
    Pattern v;
    std::memcpy(&v, dst - period, 16);
    v &= (Pattern{1} << (8 * period)) - 1;
    const Pattern pattern = v * kRepeat.multiplier[period];
    const std::size_t step = kRepeat.step[period];
    std::memcpy(dst, &pattern, 16);
    std::memcpy(dst + step, &pattern, 16);
    for (std::size_t j = 2 * step; j < n; j += step) std::memcpy(dst + j, &pattern, 16);
    return;
  }
#endif
  CopyBack(dst, period, n);
}

enum class Step { kNext, kEnd, kStop };

// The state of one block's decoding, kept in locals of the block decoder.
struct Cursor {
  const std::uint8_t* in;
  std::size_t size;  // packed length
  std::size_t i;     // input position
  std::uint8_t* out;
  std::size_t limit;  // bytes that may be written
  std::size_t o;      // output position, never above limit
  std::uint64_t buf;  // flag bits, next bit lowest
  unsigned avail;     // flag bits in buf

  // Reads the next `n` input bytes only if they are there (checked mode).
  template <bool kChecked>
  bool Has(std::size_t n) const {
    if constexpr (kChecked) return n <= size - i;
    return true;
  }

  template <bool kChecked>
  bool LoadWord() {
    if (!Has<kChecked>(2)) return false;
    buf |= static_cast<std::uint64_t>(LoadU16(in + i)) << avail;
    avail += 16;
    i += 2;
    return true;
  }
  template <bool kChecked>
  bool Ensure(unsigned k) {
    return avail >= k || LoadWord<kChecked>();
  }
  void Take(unsigned k) {
    buf >>= k;
    avail -= k;
  }

  // Copies `len` bytes from `dist` back; false when that reaches before the
  // start of the output.
  [[gnu::always_inline]] bool Copy(std::size_t dist, std::size_t len) {
    if (dist > o) return false;
    std::size_t n = std::min(len, limit - o);
    CopyBack(out + o, dist, n);
    o += n;
    return true;
  }
  void Fill(std::uint8_t value, std::size_t len) {
    std::size_t n = std::min(len, limit - o);
    std::memset(out + o, value, n);
    o += n;
  }
  void Literals(const std::uint8_t* src, std::size_t len) {
    std::size_t n = std::min(len, limit - o);
    std::memcpy(out + o, src, n);
    o += n;
  }

  // Reads a length code. Its bits are loaded one ensure at a time, and no
  // input byte comes between them, so whichever ensure loads the one word the
  // code may need, the word comes from the same place: it is loaded exactly
  // when the code needs more bits than the buffer holds.
  template <bool kChecked>
  bool ReadLength(std::uint32_t* length) {
    std::uint64_t bits = buf;
    unsigned have = avail;
    bool peeked = false;
    if (have < 8 && Has<kChecked>(2)) {
      bits |= static_cast<std::uint64_t>(LoadU16(in + i)) << have;
      have += 16;
      peeked = true;
    }
    unsigned zeros = static_cast<unsigned>(__builtin_ctzll(bits | 0x10));
    unsigned used;
    bool lengthByte = false;
    if (zeros < 4) {
      used = zeros + 1;
      *length = kMinMatch + zeros;
    } else if ((bits >> 4) & 1) {
      used = 8;
      *length = 6 + Reverse3(bits >> 5);
    } else {
      used = 5;
      lengthByte = true;
    }
    if (used > have) return false;  // checked mode only: the word is missing
    if (peeked && used > avail) {
      buf = bits;
      avail = have;
      i += 2;
    }
    Take(used);
    if (lengthByte) {
      if (!Has<kChecked>(1)) return false;
      *length = kLongLengthBase + in[i++];
    }
    return true;
  }

  // Decodes one token of a bit-flag block whose trailing byte is at `end`.
  template <bool kChecked>
  Step Token(std::size_t end) {
    if (!Ensure<kChecked>(1)) return Step::kStop;
    if ((buf & 1) == 0) {
      // A literal. The zero bits below the next set bit are literals too, and
      // no flag word is loaded between them (the buffer holds their bits), so
      // they are copied together: as many as the buffer's bits, the block,
      // the input and the output room allow. Each one would otherwise be a
      // token of its own with the same checks.
      std::size_t k = std::min<std::size_t>(
          static_cast<std::size_t>(__builtin_ctzll(buf | (std::uint64_t{1} << avail))),
          end > i ? end - i : 1);
      k = std::min({k, size - i, limit - o});
      if (k == 0) return Step::kStop;  // checked mode only: no byte left
      CopyShort(out + o, in + i, k);
      Take(static_cast<unsigned>(k));
      i += k;
      o += k;
      return Step::kNext;
    }
    if (!Ensure<kChecked>(2)) return Step::kStop;
    std::uint32_t length;
    if ((buf & 2) == 0) {
      if (!Has<kChecked>(1)) return Step::kStop;
      std::uint32_t dist = in[i++];
      Take(2);
      if (!ReadLength<kChecked>(&length)) return Step::kStop;
      return Copy(dist, length) ? Step::kNext : Step::kStop;
    }
    if (!Ensure<kChecked>(7)) return Step::kStop;
    if (!Has<kChecked>(1)) return Step::kStop;
    std::uint32_t low = in[i++];
    std::uint32_t high = static_cast<std::uint32_t>((buf >> 2) & 1);
    std::uint32_t mid = Reverse4(buf >> 3);
    Take(7);
    if (high == 0 && mid == 0) {
      // The marker byte just read ends the block when it is its last byte.
      if (i >= end) return Step::kEnd;
      if (!Ensure<kChecked>(5)) return Step::kStop;
      if (!Has<kChecked>(1)) return Step::kStop;
      std::uint32_t r = in[i++];
      std::uint32_t longRun = static_cast<std::uint32_t>(buf & 1);
      std::uint32_t v = Reverse4(buf >> 1);
      Take(5);
      if (longRun == 0) {
        Fill(static_cast<std::uint8_t>(r), kMinRun + v);
      } else {
        if (!Has<kChecked>(1)) return Step::kStop;
        Fill(in[i++], kMinRun + 256 * v + r);
      }
      return Step::kNext;
    }
    std::uint32_t dist = kFarHighStep * high + 256 * mid + low;
    if (!Ensure<kChecked>(2)) return Step::kStop;
    if (!ReadLength<kChecked>(&length)) return Step::kStop;
    return Copy(dist, length) ? Step::kNext : Step::kStop;
  }
};

// What the tokens decoded so far were like, which chooses how the fast loop
// reads the next chunk of them:
// - when literals are common, every token goes through the literal step,
//   without a branch;
// - when no form of length code (short, 1 + 3 bits, length byte) makes up
//   60% of the codes, codes are read through tables. Branches on the form
//   are then mispredicted often enough to cost more than the tables (about
//   a tenth of the decoding time of photograph-like pictures in block
//   order); when one form dominates, as in noise, they are predicted and
//   are the faster way (the tables cost noise a fifth more). Only
//   the table reader counts forms, so a stream read with branches is sampled
//   with the tables every 16th chunk.
struct TokenMix {
  std::uint32_t tokens = 0;
  std::uint32_t literalRuns = 0;
  std::uint32_t forms[3] = {};  // length codes: short, 1 + 3 bits, length byte
  std::uint32_t chunksWithBranches = 0;

  bool LiteralsCommon() const { return literalRuns * 10 > tokens; }
  bool CodeTable() {
    const std::uint32_t all = forms[0] + forms[1] + forms[2];
    if (all == 0 || std::max({forms[0], forms[1], forms[2]}) * 5 < all * 3) return true;
    return ++chunksWithBranches % 16 == 0;
  }
  // Adds a chunk's counts; `moreForms` packs the three form counts in fields
  // of 21 bits (a chunk has at most kChunk tokens).
  void Add(std::uint32_t moreTokens, std::uint32_t moreRuns, std::uint64_t moreForms) {
    tokens += moreTokens;
    literalRuns += moreRuns;
    for (unsigned f = 0; f < 3; ++f) {
      forms[f] += static_cast<std::uint32_t>(moreForms >> (kFormBits * f)) & kFormMask;
    }
    if (tokens > 8192) {
      // Recent tokens count the most.
      tokens /= 2;
      literalRuns /= 2;
      for (auto& f : forms) f /= 2;
    }
  }
};

// Decodes the tokens of a bit-flag block whose trailing byte is at `end`
// while at least kFastInput input bytes and kFastOutput bytes of room are
// left, the input position is below ipStop and the output position is at
// most opStop, for at most kChunk tokens. Returns kNext when it stops for
// one of those reasons. With kOverrun, literals and matches are copied in
// whole 16-byte moves (see the safety model at the top); otherwise exactly.
// With kEveryToken every token starts with the literal step, which copies
// none when the token is not a literal. With kCodeTable length codes are read
// through tables (see TokenMix).
//
// The flag words are loaded exactly where ensure(k) would load them; two
// shortcuts keep the same places. Near and far matches share one path, as
// both read one byte after their first flag bits (2 or 7 of them), so the bit
// that tells them apart needs no branch. A length code's bits are read from
// the buffer with the next word placed above them: no byte is read between
// the code's ensure steps, so when the code is longer than the bits left,
// that word is the one its ensure would load (as it is the one a far match's
// ensure(2) before the code loads when fewer than 2 bits are left).
template <bool kOverrun, bool kEveryToken, bool kCodeTable>
[[gnu::noinline]] Step FastTokens(Cursor& c, std::size_t end, const std::uint8_t* ipStop,
                                  std::uint8_t* opStop, TokenMix& mix) {
  const std::uint8_t* const in = c.in;
  const std::uint8_t* ip = in + c.i;
  const std::uint8_t* const blockEnd = in + end;
  std::uint8_t* const out = c.out;
  std::uint8_t* op = out + c.o;
  std::uint64_t buf = c.buf;
  unsigned avail = c.avail;
  Step result = Step::kNext;
  std::uint32_t left = kChunk;
  std::uint32_t literalRuns = 0;
  std::uint64_t forms = 0;
  for (;;) {
    if (ip >= ipStop || op > opStop || left == 0) [[unlikely]] {
      if (ip >= blockEnd) result = Step::kEnd;
      break;
    }
    --left;
    if (avail == 0) [[unlikely]] {
      buf = LoadU16(ip);
      ip += 2;
      avail = 16;
    }
    if (kEveryToken || (buf & 1) == 0) {
      // Literals: the zero bits below the next set bit are literals too, and
      // no flag word is loaded between them (the buffer holds their bits), so
      // they are copied together, as many as the buffer's bits and the block
      // allow (at most 22; the block is done after the literal that reaches
      // its end).
      std::size_t k = static_cast<std::size_t>(std::countr_zero(buf | (std::uint64_t{1} << avail)));
      if constexpr (kOverrun) {
        // Far from the block's end (more than kExactTail bytes before it).
        Copy16(op, ip);
        if (k > 16) [[unlikely]]
          Copy16(op + 16, ip + 16);
      } else {
        // The flag word just loaded may reach the block's end: one literal.
        k = std::min(k, ip < blockEnd ? static_cast<std::size_t>(blockEnd - ip) : 1);
        CopyShort(op, ip, k);
      }
      literalRuns += k != 0;
      op += k;
      ip += k;
      buf >>= k;
      avail -= static_cast<unsigned>(k);
      // A set bit ended them: a match or run follows, unless the bits ran out.
      if (avail == 0 || (!kOverrun && ip >= blockEnd)) [[unlikely]]
        continue;
    }
    if (avail < 2) [[unlikely]] {
      buf |= static_cast<std::uint64_t>(LoadU16(ip)) << avail;
      ip += 2;
      avail += 16;
    }
    const unsigned far = static_cast<unsigned>(buf >> 1) & 1;
    const unsigned prefix = 2 + 5 * far;  // 1 0, or 1 1 h mmmm
    if (avail < prefix) [[unlikely]] {
      buf |= static_cast<std::uint64_t>(LoadU16(ip)) << avail;
      ip += 2;
      avail += 16;
    }
    if (((buf >> 1) & 0x3F) == 1) [[unlikely]] {
      // 1 1 0 0000: a run, or the end code when the marker byte is the
      // block's last.
      ++ip;
      buf >>= 7;
      avail -= 7;
      if (ip >= blockEnd) {
        result = Step::kEnd;
        break;
      }
      if (avail < 5) {
        buf |= static_cast<std::uint64_t>(LoadU16(ip)) << avail;
        ip += 2;
        avail += 16;
      }
      const std::uint32_t r = *ip++;
      const std::uint32_t v = Reverse4(buf >> 1);
      std::size_t count = kMinRun + v;
      std::uint8_t value = static_cast<std::uint8_t>(r);
      if ((buf & 1) != 0) {
        count = kMinRun + 256 * v + r;
        value = *ip++;
      }
      buf >>= 5;
      avail -= 5;
      count = std::min(count, static_cast<std::size_t>(out + c.limit - op));
      std::memset(op, value, count);
      op += count;
      continue;
    }
    const unsigned hm = static_cast<unsigned>(buf >> 2) & (31u & (0u - far));
    const std::size_t dist = kFarHigh.high[hm] + *ip++;
    buf >>= prefix;
    avail -= prefix;
    // The length code: z zeros then a 1 (z < 4) is 2 + z; four zeros, a 1
    // and three bits x is 6 + x; five zeros, 14 + the length byte.
    const std::uint64_t peek = buf | static_cast<std::uint64_t>(LoadU16(ip)) << avail;
    unsigned used;
    std::size_t length;
    bool byteFollows;
    // The word is loaded when the code needs more bits than are left, or,
    // for a far match, by its ensure(2) before the code.
    if constexpr (kCodeTable) {
      // Codes of mixed forms, on whose form a branch would often be
      // mispredicted: the code's length and bit count come from tables, and
      // the word is taken or not without a branch. z counts the code's
      // leading zeros up to 5.
      const unsigned z = static_cast<unsigned>(std::countr_zero(peek | 0x20));
      forms += kFormCount[z];
      used = (kCodeBits >> (4 * z)) & 0xF;
      length = kCodeLength.length[peek & 0xFF];
      byteFollows = z == 5;
      const bool load = (used > avail) | ((avail < 2) & (far != 0));
      buf = (load ? peek : buf) >> used;
      avail = avail + 16 * load - used;
      ip += 2 * load;
    } else {
      const unsigned zeros = static_cast<unsigned>(std::countr_zero(peek | 0x10));
      const bool shortCode = zeros < 4;
      const bool midCode = ((peek >> 4) & 1) != 0;
      used = shortCode ? zeros + 1 : midCode ? 8 : 5;
      length = shortCode ? kMinMatch + zeros : midCode ? 6 + Reverse3(peek >> 5) : 0;
      byteFollows = length == 0;
      if ((used > avail) | ((avail < 2) & (far != 0))) [[unlikely]] {
        buf = peek;
        avail += 16;
        ip += 2;
      }
      buf >>= used;
      avail -= used;
    }
    {
      const std::size_t lengthByte = *ip;
      length = byteFollows ? kLongLengthBase + lengthByte : length;
      ip += byteFollows;
    }
    // Distance 0, or (within the first 8191 output bytes) before the start.
    if (dist - 1 >= static_cast<std::size_t>(op - out)) [[unlikely]] {
      c.i = static_cast<std::size_t>(ip - in);
      c.o = static_cast<std::size_t>(op - out);
      if (!c.Copy(dist, length)) {
        result = Step::kStop;
        break;
      }
      op = out + c.o;
      continue;
    }
    const std::uint8_t* src = op - dist;
    if constexpr (kOverrun) {
      constexpr std::size_t kCovered = kEveryToken ? 32 : 64;
      if (dist >= length && length <= kCovered) [[likely]] {
        // The source ends before the match starts, so no byte of the match
        // is read after being written: every load goes before the stores,
        // and none waits for a store of this match to reach memory.
        MoveLoadsFirst<kCovered / 16>(op, src);
      } else if (dist >= 16 || dist >= length) {
        // Each move reads bytes written before it, or, at a short distance,
        // bytes past the match's end that go past its end again.
        Copy16(op, src);
        Copy16(op + 16, src + 16);
        // Few literals come with longer matches: two more moves cover most.
        if constexpr (!kEveryToken) {
          Copy16(op + 32, src + 32);
          Copy16(op + 48, src + 48);
        }
        if (length > kCovered) [[unlikely]] {
          std::size_t j = kCovered;
          if (dist >= 32) {
            do {
              Copy16(op + j, src + j);
              Copy16(op + j + 16, src + j + 16);
              j += 32;
            } while (j < length);
          } else {
            do {
              Copy16(op + j, src + j);
              j += 16;
            } while (j < length);
          }
        }
      } else {
        // A distance under 16, shorter than the match.
        RepeatPeriod(op, dist, length);
      }
    } else {
      CopyBack(op, dist, length);
    }
    op += length;
  }
  c.i = static_cast<std::size_t>(ip - in);
  c.o = static_cast<std::size_t>(op - out);
  c.buf = buf;
  c.avail = avail;
  mix.Add(kChunk - left, literalRuns, forms);
  return result;
}

std::size_t WriteLimit(std::span<std::uint8_t> out, std::uint32_t capacity) {
  return std::min(static_cast<std::size_t>(capacity) + 1, out.size());
}

}  // namespace

namespace {

// UnpackFlagBlock, with the mix of the tokens of the blocks before.
int FlagBlock(std::span<std::uint8_t> out, std::uint32_t capacity,
              std::span<const std::uint8_t> packed, std::size_t* inPos, std::size_t* outPos,
              TokenMix& mix) {
  const std::size_t start = *inPos;
  const std::size_t limit = WriteLimit(out, capacity);
  if (start > packed.size() || packed.size() - start < kFlagTokensStart || *outPos > limit) {
    return kUnpackSectionStop;
  }
  const std::size_t end = start + LoadU16(packed.data() + start + kOffEndOffset);
  Cursor c{packed.data(), packed.size(), start + kFlagTokensStart,       out.data(),
           limit,         *outPos,       packed[start + kOffFirstFlags], 8};
  int result = kUnpackBlockDone;
  // The output from c.o to savedTo as it was before the first moves that may
  // write past the output position, while a match can still stop the section
  // (within its first 8191 bytes). Nothing lies past the output position when
  // a block starts: the block before it ended with exact copies.
  std::uint8_t saved[kMatchesSafeFrom + kMaxOverrun];
  std::size_t savedFrom = 0;
  std::size_t savedTo = 0;
  if (end > start + kFlagTokensStart) {
    // Where the tokens stop being copied with overruns.
    const std::size_t tail = std::min(end, c.size);
    const std::size_t exactFrom = tail > kExactTail ? tail - kExactTail : 0;
    for (;;) {
      if (c.o >= c.limit || c.i > c.size) break;
      Step step;
      if (c.size - c.i >= kFastInput && c.limit - c.o >= kFastOutput) {
        const std::uint8_t* const ipFast = c.in + std::min(end, c.size - kFastInput + 1);
        std::uint8_t* const opFast = c.out + (c.limit - kFastOutput);
        if (c.i < exactFrom) {
          if (c.o < kMatchesSafeFrom && savedTo == 0) {
            savedFrom = c.o;
            savedTo = std::min(c.limit, kMatchesSafeFrom + kMaxOverrun);
            std::memcpy(saved, c.out + savedFrom, savedTo - savedFrom);
          }
          const std::uint8_t* const ipStop = std::min(ipFast, c.in + exactFrom);
          if (mix.CodeTable()) {
            step = mix.LiteralsCommon()
                       ? FastTokens<true, true, true>(c, end, ipStop, opFast, mix)
                       : FastTokens<true, false, true>(c, end, ipStop, opFast, mix);
          } else {
            step = mix.LiteralsCommon()
                       ? FastTokens<true, true, false>(c, end, ipStop, opFast, mix)
                       : FastTokens<true, false, false>(c, end, ipStop, opFast, mix);
          }
        } else {
          step = FastTokens<false, false, false>(c, end, ipFast, opFast, mix);
        }
        if (step == Step::kNext) continue;
      } else {
        step = c.size - c.i >= kMaxTokenInput ? c.Token<false>(end) : c.Token<true>(end);
      }
      if (step == Step::kStop) {
        result = kUnpackSectionStop;
        break;
      }
      if (step == Step::kEnd || c.i >= end) break;
    }
  }
  if (result == kUnpackSectionStop && c.o < savedTo) {
    std::memcpy(c.out + c.o, saved + (c.o - savedFrom), savedTo - c.o);
  }
  *inPos = c.i;
  *outPos = c.o;
  return result;
}

}  // namespace

int UnpackFlagBlock(std::span<std::uint8_t> out, std::uint32_t capacity,
                    std::span<const std::uint8_t> packed, std::size_t* inPos, std::size_t* outPos) {
  TokenMix mix;
  return FlagBlock(out, capacity, packed, inPos, outPos, mix);
}

int UnpackCodedBlock(std::span<std::uint8_t> out, std::uint32_t capacity,
                     std::span<const std::uint8_t> packed, std::size_t* inPos,
                     std::size_t* outPos) {
  const std::size_t start = *inPos;
  const std::size_t limit = WriteLimit(out, capacity);
  if (start > packed.size() || packed.size() - start <= kCodedStart || *outPos > limit) {
    return kUnpackSectionStop;
  }
  const std::uint8_t* in = packed.data();
  const std::size_t size = packed.size();
  const std::size_t end = start + LoadU16(in + start + kOffEndOffset);
  Cursor c{in, size, start + kCodedStart, out.data(), limit, *outPos, 0, 0};
  int result = kUnpackBlockDone;
  auto stop = [&] {
    result = kUnpackSectionStop;
    return false;
  };
  // Decodes one byte code; false when the block is done or the section stops.
  // A literal string writes the bytes that are there, as a decoder reading
  // one byte at a time would; when the packed data ends inside it, the
  // section stops after them.
  auto literals = [&](std::size_t count) -> bool {
    const std::size_t there = std::min(count, size - c.i);
    c.Literals(in + c.i, there);
    c.i += there;
    return there == count || stop();
  };
  auto code = [&]() -> bool {
    if (c.i >= size) return stop();
    const std::uint32_t x = in[c.i++];
    if (x == kCodeEnd) return false;
    if (x < kCodeLongLiteral) return literals(x);
    if (c.i >= size) return stop();
    const std::uint32_t n = in[c.i++];
    if (x < kCodeShortRun) {
      if (!literals((x - kCodeLongLiteral) * 256 + n)) return false;
    } else if (x < kCodeLongRun) {
      c.Fill(static_cast<std::uint8_t>(n), x - kShortRunBias);
    } else if (x < kCodeInvalid) {
      if (c.i >= size) return stop();
      c.Fill(in[c.i++], (x - kCodeLongRun) * 256 + n + kLongRunBias);
    } else if (x < kCodeReference) {
      return stop();
    } else {
      const std::size_t dist = (x - kCodeReference) * 256 + n;
      if (dist > c.o) return stop();
      for (;;) {
        if (c.i >= size) return stop();
        const std::uint8_t next = in[c.i];
        if ((next & 0xE0) != kCodeExtension) break;
        ++c.i;
        c.Copy(dist, next & 0x1F);
      }
      c.Copy(dist, kReferenceTail);
    }
    return true;
  };
  if (end > start + kCodedStart) {
    for (;;) {
      if (c.o >= c.limit || c.i > size) break;
      if (!code() || c.i >= end) break;
    }
  }
  *inPos = c.i;
  *outPos = c.o;
  return result;
}

std::uint32_t UnpackBlocks(std::span<std::uint8_t> out, std::uint32_t capacity,
                           std::span<const std::uint8_t> packed, std::uint32_t blockCount,
                           UnpackEnd* end) {
  const std::size_t limit = WriteLimit(out, capacity);
  std::size_t i = 0;
  std::size_t o = 0;
  TokenMix mix;
  bool stopped = false;
  for (std::uint32_t b = 0; b < blockCount; ++b) {
    if (o >= limit || i > packed.size()) break;
    if (packed.size() - i <= kOffBlockMode) break;
    const int result = packed[i + kOffBlockMode] == kFlagBlockMode
                           ? FlagBlock(out, capacity, packed, &i, &o, mix)
                           : UnpackCodedBlock(out, capacity, packed, &i, &o);
    if (result == kUnpackSectionStop) {
      stopped = true;
      break;
    }
    ++i;  // the trailing byte, blocksAfter
  }
  if (end != nullptr) {
    *end = o >= capacity ? UnpackEnd::kComplete : stopped ? UnpackEnd::kCorrupt : UnpackEnd::kShort;
  }
  return static_cast<std::uint32_t>(std::min<std::size_t>(o, UINT32_MAX));
}
