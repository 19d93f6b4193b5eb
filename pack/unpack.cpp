// Decoder of the packed stream (layout: pack/packed_format.h).
//
// Safety model: the decoder knows the length of its input and how many output
// bytes it may write (capacity + 1, never more than the span holds). Every
// token is decoded in one of two modes. Far from the end of the input, a token
// cannot need more than kMaxTokenInput bytes, so one check at its start covers
// all of its reads. Near the end, every read is checked, and a token that
// would need a byte that is not there stops the section. Output lengths are
// cut at the limit before anything is copied, and a back-reference that
// reaches before the start of the output stops the section, so nothing is read
// or written outside the two spans whatever the bytes say.
#include "pack/unpack.h"

#include <algorithm>
#include <cstring>

#include "pack/packed_format.h"

namespace {

using namespace packed;

// Most input bytes one bit-flag token can consume: a flag word and the marker
// of a run, a second flag word, then R and F.
constexpr std::size_t kMaxTokenInput = 7;

// Fields of several flag bits arrive most significant bit first; this turns a
// 4-bit field taken from the buffer into its value.
constexpr std::uint8_t kReverse4[16] = {0x0, 0x8, 0x4, 0xC, 0x2, 0xA, 0x6, 0xE,
                                        0x1, 0x9, 0x5, 0xD, 0x3, 0xB, 0x7, 0xF};

inline std::uint32_t Reverse4(std::uint64_t bits) {
  return kReverse4[bits & 0xF];
}
inline std::uint32_t Reverse3(std::uint64_t bits) {
  return kReverse4[bits & 0x7] >> 1;
}

inline std::uint32_t LoadU16(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8);
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
      std::size_t k = std::min<std::size_t>(__builtin_ctzll(buf | (std::uint64_t{1} << avail)),
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

std::size_t WriteLimit(std::span<std::uint8_t> out, std::uint32_t capacity) {
  return std::min(static_cast<std::size_t>(capacity) + 1, out.size());
}

}  // namespace

int UnpackFlagBlock(std::span<std::uint8_t> out, std::uint32_t capacity,
                    std::span<const std::uint8_t> packed, std::size_t* inPos, std::size_t* outPos) {
  const std::size_t start = *inPos;
  const std::size_t limit = WriteLimit(out, capacity);
  if (start > packed.size() || packed.size() - start < kFlagTokensStart || *outPos > limit) {
    return kUnpackSectionStop;
  }
  const std::size_t end = start + LoadU16(packed.data() + start + kOffEndOffset);
  Cursor c{packed.data(), packed.size(), start + kFlagTokensStart,       out.data(),
           limit,         *outPos,       packed[start + kOffFirstFlags], 8};
  int result = kUnpackBlockDone;
  if (end > start + kFlagTokensStart) {
    for (;;) {
      if (c.o >= c.limit || c.i > c.size) break;
      Step step = c.size - c.i >= kMaxTokenInput ? c.Token<false>(end) : c.Token<true>(end);
      if (step == Step::kStop) {
        result = kUnpackSectionStop;
        break;
      }
      if (step == Step::kEnd || c.i >= end) break;
    }
  }
  *inPos = c.i;
  *outPos = c.o;
  return result;
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
  auto code = [&]() -> bool {
    if (c.i >= size) return stop();
    const std::uint32_t x = in[c.i++];
    if (x == kCodeEnd) return false;
    if (x < kCodeLongLiteral) {
      if (x > size - c.i) return stop();
      c.Literals(in + c.i, x);
      c.i += x;
      return true;
    }
    if (c.i >= size) return stop();
    const std::uint32_t n = in[c.i++];
    if (x < kCodeShortRun) {
      const std::size_t count = (x - kCodeLongLiteral) * 256 + n;
      if (count > size - c.i) return stop();
      c.Literals(in + c.i, count);
      c.i += count;
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
                           std::span<const std::uint8_t> packed, std::uint32_t blockCount) {
  const std::size_t limit = WriteLimit(out, capacity);
  std::size_t i = 0;
  std::size_t o = 0;
  for (std::uint32_t b = 0; b < blockCount; ++b) {
    if (o >= limit || i > packed.size()) break;
    if (packed.size() - i <= kOffBlockMode) break;
    const int result = packed[i + kOffBlockMode] == kFlagBlockMode
                           ? UnpackFlagBlock(out, capacity, packed, &i, &o)
                           : UnpackCodedBlock(out, capacity, packed, &i, &o);
    if (result == kUnpackSectionStop) break;
    ++i;  // the trailing byte, blocksAfter
  }
  return static_cast<std::uint32_t>(std::min<std::size_t>(o, UINT32_MAX));
}
