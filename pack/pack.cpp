// Compressor of the packed stream (layout: pack/packed_format.h).
//
// A greedy LZ77 packer: at every position it takes the longest match within
// 8191 bytes back inside the block (capped at 269 bytes, the nearest among
// equally long ones), unless a run of one byte is long enough to beat it, and
// writes bit-flag blocks only. The match finder (MatchFinder, below) does not
// try every distance: it walks chains of the earlier positions that can match
// at all, nearest first, and picks the match that a plain backward search over
// every distance would pick; its cost stays bounded on data of few byte
// values, where chains of short keys grow long.
//
// Safety model: the writer checks before every token that the output can take
// the most bytes one token adds, so nothing is written outside the block's
// output span. A block whose packed form would not fit the 16-bit endOffset
// is never written: it is packed as two blocks of ceil(L/2) and floor(L/2)
// bytes instead, recursively. An output too small for the whole section makes
// PackBlocks fail rather than write a cut block.
#include "pack/pack.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>
#include <vector>

#include "io/byte_order.h"
#include "pack/packed_format.h"

namespace {

using namespace packed;

// Most bytes one token, or the end code with the trailing byte, adds to the
// output, reserved flag-word slots included (a long run adds at most 11).
constexpr std::size_t kMaxTokenBytes = 16;
// A block whose writer gets past this many bytes cannot end with an endOffset
// that fits 16 bits: the end code can take back at most one reserved byte.
constexpr std::size_t kAttemptCap = kMaxBlockBytes + kMaxTokenBytes + 2;
constexpr std::int64_t kNoRoom = -1;

constexpr std::size_t kRunProbe = 14;  // equal bytes that start a run
constexpr std::size_t kMaxRun = 4095;
constexpr std::size_t kRunBeatsMatch = 64;

// MatchLength finds the first differing byte as the lowest differing bits.
static_assert(std::endian::native == std::endian::little);

inline std::uint64_t LoadU64(const std::uint8_t* p) {
  std::uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// Writes flag bits and data bytes. Flag bits gather in acc from bit k up; a
// full word is stored into the slot w reserved for it, and the next word's
// slot is reserved at the output position at that moment, which is where the
// decoder's ensure steps will look for it.
class FlagWriter {
 public:
  explicit FlagWriter(std::uint8_t* out) : out_(out) {}

  std::size_t Position() const { return o_; }

  // Appends `count` flag bits; `bits` holds them in the order they are used,
  // the first in bit 0 (multi-bit fields already reversed).
  void Put(std::uint32_t bits, unsigned count) {
    acc_ |= static_cast<std::uint64_t>(bits) << k_;
    k_ += count;
  }
  void Byte(std::uint8_t v) {
    if (k_ > 16) Close();
    out_[o_++] = v;
    if (k_ == 16) Close();
  }
  void Bytes2(std::uint8_t a, std::uint8_t b) {
    if (k_ > 16) Close();
    out_[o_++] = a;
    out_[o_++] = b;
    if (k_ == 16) Close();
  }
  void EndToken() {
    if (k_ >= 16) Close();
  }

  void LengthCode(std::size_t length) {
    if (length <= 5) {
      // length - 2 zeros, then a 1.
      Put(1u << (length - 2), static_cast<unsigned>(length - 1));
      EndToken();
    } else if (length <= kMaxShortLength) {
      // 0000 1 xxx
      Put(0x10u | (static_cast<std::uint32_t>(kReverse4[length - 6] >> 1) << 5), 8);
      EndToken();
    } else {
      Put(0, 5);
      Byte(static_cast<std::uint8_t>(length - kLongLengthBase));
    }
  }

  // The end code (1 1 0 0000) and its marker byte; returns the offset of the
  // trailing byte, where endOffset points.
  std::size_t End() {
    Put(0x03, 7);
    if (k_ >= 16) Close();
    if (k_ > 0) {
      out_[o_++] = kEndMarker;
      StoreU16(out_ + w_, static_cast<std::uint16_t>(acc_));
    } else {
      // The slot just reserved is given up; its first byte is the marker.
      out_[w_] = kEndMarker;
      o_ = w_ + 1;
    }
    return o_;
  }

 private:
  void Close() {
    StoreU16(out_ + w_, static_cast<std::uint16_t>(acc_));
    acc_ >>= 16;
    k_ -= 16;
    w_ = o_;
    o_ += 2;
  }

  std::uint8_t* out_;
  std::size_t o_ = kFlagTokensStart;
  std::size_t w_ = kOffBlockMode;  // the first word's low byte is blockMode 0
  std::uint64_t acc_ = 0;
  unsigned k_ = 8;
};

inline std::uint32_t LoadU32(const std::uint8_t* p) {
  std::uint32_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// The number of bytes from s on that equal s[0], at most `limit`. Reads up to
// 7 bytes past s + limit.
inline std::size_t EqualCount(const std::uint8_t* s, std::size_t limit) {
  const std::uint64_t pattern = s[0] * 0x0101010101010101ull;
  std::size_t t = 1;
  while (t < limit) {
    const std::uint64_t diff = LoadU64(s + t) ^ pattern;
    if (diff != 0) return std::min(limit, t + static_cast<std::size_t>(std::countr_zero(diff)) / 8);
    t += 8;
  }
  return limit;
}

// The number of equal bytes at the starts of a and b, at most `limit`. Reads
// up to 7 bytes past a + limit and b + limit.
inline std::size_t MatchLength(const std::uint8_t* a, const std::uint8_t* b, std::size_t limit) {
  std::size_t t = 0;
  while (t < limit) {
    const std::uint64_t diff = LoadU64(a + t) ^ LoadU64(b + t);
    if (diff != 0) return std::min(limit, t + static_cast<std::size_t>(std::countr_zero(diff)) / 8);
    t += 8;
  }
  return limit;
}

// Storage for arrays whose elements are always written before they are read
// (chain links, run lengths): it grows without being cleared, so memory is
// touched only where it is used.
template <typename T>
class Scratch {
 public:
  Scratch() = default;
  explicit Scratch(std::size_t n) { Reserve(n); }
  void Reserve(std::size_t n) {
    if (n > size_) {
      data_.reset(new T[n]);
      size_ = n;
    }
  }
  T* data() const { return data_.get(); }
  T& operator[](std::size_t k) const { return data_[k]; }

 private:
  std::unique_ptr<T[]> data_;
  std::size_t size_ = 0;
};

// Finds, for a position p of a block, the match a plain backward search over
// every distance would pick: the longest within 8191 bytes back (capped at
// 269 bytes and at the block's end), the nearest among equally long ones.
// Positions are entered into its structures in order, each before any search
// from a later position; positions and chain links fit 16 bits (a block holds
// at most 65535 bytes, kNone ends a chain). A candidate c of p "shares k
// bytes" when the first k bytes at c and at p are equal.
//
// Every candidate that shares at least 3 bytes with p lies on one chain that
// the search walks nearest first, keeping a candidate only when it is
// strictly longer than the best so far; so among equally long candidates the
// nearest stays, and the walk stops early only at the cap. Which chain that
// is depends on how many copies c of p's first byte v start p:
//
// - c < 3: the chain of a hash of p's first three bytes. Positions that start
//   with three equal bytes never share 3 bytes with such a p and stay off it.
// - c >= 3: a candidate longer than c starts c bytes before the end of an
//   earlier run of v that is c or more long and is followed by p's byte w
//   after the copies. Runs of three or more are chained by their end, keyed by
//   v and the byte after the run, with their length, so one entry stands for
//   every position of a run. (Positions searched have c < 64: a run of 64 or
//   more beats any match.)
//
// When nothing longer than 2 (or than c) exists, the answer needs no walk:
// the nearest position with p's first two bytes, or the nearest run of v that
// gives the most copies (per byte value, a stack of runs whose lengths grow
// going back, each the nearest run at least that long).
//
// On data of few byte values (noise over two to four colours) the chains of
// 3-byte hashes hold hundreds of positions each, and nearly every one shares 3
// bytes. When the walks of the last 1024 positions have visited more than 8
// candidates per byte, two chains of longer keys are kept as well (key
// lengths from the byte statistics, such that the longer key leaves about 3
// candidates within reach and the shorter about 30). A candidate sharing k
// bytes lies on p's chain of every key of at most k bytes, so the search walks
// the longer key's chain first: if it holds a candidate of at least that key's
// length, every match that long is on it and the shorter chains are not
// needed; otherwise the next chain down is walked, and the 3-byte chain only
// when both come up empty. Once a block's window is full the finder tests,
// 256 bytes long, whether the 3-byte chains have become short again, and
// drops the longer keys if so.
class MatchFinder {
 public:
  // Copies `block` (length bytes) into the finder's buffer, which has zero
  // bytes past the end for the 8-byte loads, forgets the previous block, and
  // returns the copy.
  const std::uint8_t* Start(const std::uint8_t* block, std::size_t length) {
    buffer_.resize(length + kPadding);
    std::memcpy(buffer_.data(), block, length);
    std::memset(buffer_.data() + length, 0, kPadding);
    block_ = buffer_.data();
    length_ = length;
    prev3_.Reserve(length);
    prevEnd_.Reserve(length);
    runLength_.Reserve(length);
    hashBits_ = std::clamp<std::size_t>(std::bit_width(length), 10, kMaxHashBits);
    head3_.assign(std::size_t{1} << hashBits_, kNone);
    headEnd_.assign(kEndHashSize, kNone);
    std::fill(std::begin(stackSize_), std::end(stackSize_), 0);
    inserted_ = 0;
    runEnd_ = 0;
    visits_ = 0;
    spanStart_ = 0;
    checkAt_ = kCheckSpan;
    probing_ = false;
    if (levels_) ClearLongKeys();
    return block_;
  }

  // The best match for position p, which has at least 3 bytes left and
  // starts with `equal` (at most 63) copies of its first byte. Returns its
  // length and sets *distance, or returns 0 and sets *distance to 0 when no
  // earlier position within reach shares 2 bytes with p.
  std::size_t Find(std::size_t p, std::size_t equal, std::size_t* distance) {
    *distance = 0;
    if (p == 0) return 0;
    if (p >= checkAt_) Check(p);
    InsertUpTo(p);
    const std::uint8_t* cur = block_ + p;
    Best best{cur, std::min<std::size_t>(kMaxMatch, length_ - p), 0, 0};
    nearest_ = p > kMaxDistance ? p - kMaxDistance : 0;
    const std::size_t copies = std::min(equal, best.maxLength);
    // The 3-byte chain or the run ends hold every candidate that shares
    // `shared` bytes; a longer key is worth a walk only above that.
    const std::size_t shared = copies < 3 ? 3 : copies + 1;
    if (levels_ && !probing_) {
      for (int j = 1; j >= 0; --j) {
        const std::size_t k = keyLength_[j];
        if (k <= shared || k > best.maxLength) continue;
        best.length = k - 1;
        WalkLongKey(j, p, best);
        if (best.distance != 0) break;
      }
    }
    if (best.distance == 0) {
      if (copies < 3) {
        best.length = 2;
        Walk3(p, best);
        if (best.distance == 0) {
          const std::size_t q = NearestPair(cur[0], cur[1]);
          if (q != kNone) best.distance = p - q;
        }
      } else {
        if (copies < best.maxLength) WalkRunEnds(p, copies, best);
        if (best.distance == 0) NearestRun(p, copies, best);
      }
    }
    *distance = best.distance;
    return best.distance != 0 ? best.length : 0;
  }

 private:
  static constexpr std::uint16_t kNone = 0xFFFF;
  static constexpr std::size_t kPadding = 16;
  static constexpr std::size_t kMaxHashBits = 15;
  // The longer keys take few values on the data that needs them; a small
  // table stays in the first-level cache.
  static constexpr std::size_t kLongHashBits = 13;
  static constexpr std::size_t kEndHashSize = 0x1000;
  static constexpr std::size_t kMaxSearchedCopies = 63;
  static constexpr std::size_t kStackRoom = kMaxSearchedCopies;  // lengths 3 to 64
  static constexpr std::size_t kMinLongKey = 4;
  static constexpr std::size_t kMaxLongKey = 16;
  static constexpr std::size_t kCheckSpan = 1024;
  static constexpr std::size_t kProbeSpan = 256;
  static constexpr std::size_t kVisitsPerByte = 8;  // above: chains are long
  static constexpr std::uint64_t kMul = 0x9E3779B97F4A7C15ull;
  static constexpr std::uint64_t kMul2 = 0xC2B2AE3D27D4EB4Full;

  // The best match so far: strictly longer candidates replace it.
  struct Best {
    const std::uint8_t* cur;
    std::size_t maxLength;
    std::size_t length;
    std::size_t distance;

    // Keeps a candidate `back` bytes before p whose match is `n` long when it
    // is longer than the best so far; true when it reaches maxLength and the
    // search can stop.
    bool Take(std::size_t n, std::size_t back) {
      if (n <= length) return false;
      length = n;
      distance = back;
      return n == maxLength;
    }
  };
  struct Run {
    std::uint16_t end;     // the position after the run
    std::uint16_t copies;  // its length, counted up to 64
  };

  std::size_t Hash3(std::uint32_t v) const {
    return ((v & 0xFFFFFF) * 2654435761u) >> (32 - hashBits_);
  }
  static std::size_t EndHash(std::uint32_t v, std::uint32_t next) {
    return ((v | (next << 8)) * 2654435761u) >> (32 - std::bit_width(kEndHashSize - 1));
  }
  // A hash of the first k bytes at s (4 <= k <= 16).
  static std::size_t HashLong(const std::uint8_t* s, std::size_t k) {
    std::uint64_t w = LoadU64(s);
    if (k < 8) w &= (std::uint64_t{1} << (8 * k)) - 1;
    std::uint64_t h = w * kMul;
    if (k > 8) h += LoadU64(s + k - 8) * kMul2;
    return static_cast<std::size_t>(h >> (64 - kLongHashBits));
  }
  static void Chain(std::uint16_t* head, std::uint16_t* prev, std::size_t h, std::size_t q) {
    prev[q] = head[h];
    head[h] = static_cast<std::uint16_t>(q);
  }

  // The nearest earlier position whose first two bytes are a b, or kNone.
  // head2_ is not cleared between blocks: an entry counts only when it is a
  // position entered in this block that holds the pair, and then it is this
  // block's nearest (the entry of the pair was set when that position was
  // entered, and only nearer positions of the pair replace it).
  std::size_t NearestPair(std::uint8_t a, std::uint8_t b) const {
    const std::size_t q = head2_[a | (static_cast<std::size_t>(b) << 8)];
    if (q < inserted_ && q >= nearest_ && block_[q] == a && block_[q + 1] == b) return q;
    return kNone;
  }

  // Every 1024 bytes: turns the longer keys on when the walks of the span
  // just searched visited more than 8 candidates per byte; and once per block
  // whose window is full, searches 256 bytes by 3-byte chains alone (the
  // longer keys still kept) and drops the longer keys if those walks were
  // short.
  void Check(std::size_t p) {
    const std::size_t span = p - spanStart_;
    if (probing_) {
      probing_ = false;
      if (visits_ <= kVisitsPerByte * span) levels_ = false;
    } else if (!levels_) {
      if (visits_ > kVisitsPerByte * span) EnableLongKeys(p);
    } else if (!probed_ && p > kMaxDistance && p + kProbeSpan < length_) {
      probed_ = true;
      probing_ = true;
    }
    visits_ = 0;
    spanStart_ = p;
    checkAt_ = p + (probing_ ? kProbeSpan : kCheckSpan);
  }

  // Chooses the key lengths from the counts of the byte values within reach
  // (for bytes drawn independently, a key of k bytes leaves about
  // 8191 * sum(f^2)^k of the positions within reach on p's chain, f being
  // the values' frequencies), clears their chains and enters the positions
  // within reach.
  void EnableLongKeys(std::size_t p) {
    const std::size_t from = p > kMaxDistance ? p - kMaxDistance : 0;
    std::uint32_t counts[256] = {};
    for (std::size_t q = from; q < p; ++q) ++counts[block_[q]];
    double collide = 0;
    for (std::uint32_t c : counts) collide += static_cast<double>(c) * c;
    collide /= static_cast<double>(p - from) * static_cast<double>(p - from);
    std::size_t k = kMinLongKey;
    double within = kMaxDistance * collide * collide * collide * collide;
    while (k < kMaxLongKey - 1 && within > 30) {
      ++k;
      within *= collide;
    }
    keyLength_[0] = k;
    while (k < kMaxLongKey && within > 3) {
      ++k;
      within *= collide;
    }
    keyLength_[1] = std::max(k, keyLength_[0] + 1);
    levels_ = true;
    ClearLongKeys();
    probed_ = p > kMaxDistance;
    InsertLongKeysFrom(from);
  }
  void ClearLongKeys() {
    for (auto& head : headLong_) head.assign(std::size_t{1} << kLongHashBits, kNone);
    for (auto& prev : prevLong_) prev.Reserve(length_);
    probed_ = false;
  }
  void InsertLongKeysFrom(std::size_t from) {
    for (std::size_t q = from; q < inserted_; ++q) {
      // A position inside a long run is entered only when its key is not all
      // copies of one byte, as when it is entered in order.
      InsertLongKeys(q, EqualCount(block_ + q, std::min(length_ - q, kMaxLongKey + 1)));
    }
  }

  // Position q, which starts with `copies` equal bytes, on the chains of the
  // longer keys whose first bytes are not all equal (such a key would chain
  // every position of a run, and p with that many copies searches by runs).
  void InsertLongKeys(std::size_t q, std::size_t copies) {
    for (int j = 0; j < 2; ++j) {
      const std::size_t k = keyLength_[j];
      if (copies < k && q + k <= length_) {
        Chain(headLong_[j].data(), prevLong_[j].data(), HashLong(block_ + q, k), q);
      }
    }
  }

  void InsertUpTo(std::size_t p) {
    const std::size_t stop = std::min(p, length_ - 2);
    if (levels_) {
      InsertRange<true>(stop);
    } else {
      InsertRange<false>(stop);
    }
  }
  template <bool kLongKeys>
  void InsertRange(std::size_t stop) {
    std::size_t q = inserted_;
    std::uint16_t* const head3 = head3_.data();
    std::uint16_t* const prev3 = prev3_.data();
    while (q < stop) {
      if (q + 2 < runEnd_) {
        // Inside a run of three or more: its positions with three equal
        // bytes are found through the run's end, and the last of them is the
        // nearest with the pair v v.
        const std::size_t last = std::min(runEnd_ - 3, stop - 1);
        head2_[LoadU32(block_ + q) & 0xFFFF] = static_cast<std::uint16_t>(last);
        if constexpr (kLongKeys) {
          for (std::size_t r = std::max(q, runEnd_ - std::min(runEnd_, kMaxLongKey)); r <= last;
               ++r) {
            InsertLongKeys(r, runEnd_ - r);
          }
        }
        q = last + 1;
        continue;
      }
      const std::uint8_t* s = block_ + q;
      const std::uint32_t x = LoadU32(s);
      if (((x ^ (x >> 8)) & 0xFFFF) == 0 && (q == 0 || s[-1] != s[0])) {
        StartRun(q);
        continue;
      }
      head2_[x & 0xFFFF] = static_cast<std::uint16_t>(q);
      Chain(head3, prev3, Hash3(x), q);
      if constexpr (kLongKeys) {
        if (q + keyLength_[1] <= length_) {
          Chain(headLong_[0].data(), prevLong_[0].data(), HashLong(s, keyLength_[0]), q);
          Chain(headLong_[1].data(), prevLong_[1].data(), HashLong(s, keyLength_[1]), q);
        } else {
          InsertLongKeys(q, 1);
        }
      }
      ++q;
    }
    inserted_ = std::max(inserted_, stop);
  }

  // A run of three or more copies of v starts at q: notes its end and length.
  void StartRun(std::size_t q) {
    const std::uint8_t v = block_[q];
    const std::size_t copies = EqualCount(block_ + q, length_ - q);
    const std::size_t end = q + copies;
    if (end < length_) {
      const std::size_t h = EndHash(v, block_[end]);
      prevEnd_[end] = headEnd_[h];
      headEnd_[h] = static_cast<std::uint16_t>(end);
      runLength_[end] = static_cast<std::uint8_t>(std::min(copies, kMaxSearchedCopies + 1));
    }
    // The runs of v kept on the stack grow in length going back: this one
    // hides every earlier one that is no longer.
    const std::uint16_t counted =
        static_cast<std::uint16_t>(std::min(copies, kMaxSearchedCopies + 1));
    Run* stack = stacks_.data() + v * kStackRoom;
    std::size_t n = stackSize_[v];
    while (n > 0 && stack[n - 1].copies <= counted) --n;
    stack[n++] = {static_cast<std::uint16_t>(end), counted};
    stackSize_[v] = static_cast<std::uint8_t>(n);
    runEnd_ = end;
  }

  // The chain of a longer key from p. Most candidates on it share far more
  // than the best length so far, so there is no quick test first.
  void WalkLongKey(int j, std::size_t p, Best& best) {
    const std::uint16_t* prev = prevLong_[j].data();
    std::size_t x = headLong_[j][HashLong(best.cur, keyLength_[j])];
    std::size_t visits = 0;
    while (x != kNone && x >= nearest_) {
      ++visits;
      if (best.Take(MatchLength(block_ + x, best.cur, best.maxLength), p - x)) break;
      x = prev[x];
    }
    visits_ += visits;
  }

  // The chain of p's 3-byte hash.
  void Walk3(std::size_t p, Best& best) {
    const std::uint8_t* cur = best.cur;
    const std::uint16_t* prev = prev3_.data();
    std::size_t x = head3_[Hash3(LoadU32(cur))];
    std::size_t visits = 0;
    while (x != kNone && x >= nearest_) {
      ++visits;
      const std::uint8_t* cand = block_ + x;
      const std::size_t length = best.length;
      // Only a candidate that also matches up to `length` can be longer:
      // test the last bytes of that stretch first.
      if (cand[length] == cur[length] &&
          (length < 8 || LoadU64(cand + length - 8) == LoadU64(cur + length - 8)) &&
          best.Take(MatchLength(cand, cur, best.maxLength), p - x)) {
        break;
      }
      x = prev[x];
    }
    visits_ += visits;
  }

  // p starts with `copies` (3 to 63, fewer than the cap) copies of v, then a
  // byte w: the earlier runs of v followed by w, nearest first.
  void WalkRunEnds(std::size_t p, std::size_t copies, Best& best) {
    const std::uint8_t* cur = best.cur;
    best.length = copies;
    std::size_t end = headEnd_[EndHash(cur[0], cur[copies])];
    std::size_t visits = 0;
    while (end != kNone && end >= nearest_ + copies) {
      ++visits;
      const std::size_t q = end - copies;
      // The run that holds p itself ends copies bytes after p.
      if (q < p && runLength_[end] >= copies) {
        const std::uint8_t* cand = block_ + q;
        const std::size_t length = best.length;
        if (cand[length] == cur[length] &&
            best.Take(MatchLength(cand, cur, best.maxLength), p - q)) {
          break;
        }
      }
      end = prevEnd_[end];
    }
    visits_ += visits;
  }

  // p starts with `copies` (3 or more) copies of v and no candidate matches
  // more: the nearest of those that match most. A position that starts with
  // k copies of v matches min(k, copies).
  void NearestRun(std::size_t p, std::size_t copies, Best& best) {
    const std::uint8_t v = best.cur[0];
    if (block_[p - 1] == v) {
      best.length = copies;
      best.distance = 1;
      return;
    }
    best.length = 2;
    const Run* stack = stacks_.data() + v * kStackRoom;
    for (std::size_t n = stackSize_[v]; n-- > 0;) {
      // This run's best position, copies bytes before its end or its start,
      // matches `length`: more than any nearer run on the stack.
      const std::size_t end = stack[n].end;
      const std::size_t length = std::min<std::size_t>(stack[n].copies, copies);
      if (end - length < nearest_) {
        // Only the run's tail lies within reach; runs further back are
        // shorter there still.
        if (end > nearest_ + best.length) {
          best.length = end - nearest_;
          best.distance = p - nearest_;
        }
        break;
      }
      best.length = length;
      best.distance = p - (end - length);
      if (length == copies) return;
    }
    if (best.distance == 0) {
      // No run of three within reach: the nearest pair v v, if any.
      const std::size_t q = NearestPair(v, v);
      if (q != kNone) best.distance = p - q;
    }
  }

  std::vector<std::uint8_t> buffer_;
  const std::uint8_t* block_ = nullptr;
  std::size_t length_ = 0;
  std::size_t hashBits_ = kMaxHashBits;
  std::vector<std::uint16_t> head2_ = std::vector<std::uint16_t>(0x10000, kNone);
  std::vector<std::uint16_t> head3_;
  Scratch<std::uint16_t> prev3_;
  std::vector<std::uint16_t> headEnd_;
  Scratch<std::uint16_t> prevEnd_;
  Scratch<std::uint8_t> runLength_;  // by a run's end
  // The stack of the runs of byte value v at v * kStackRoom.
  Scratch<Run> stacks_{256 * kStackRoom};
  std::uint8_t stackSize_[256] = {};
  std::vector<std::uint16_t> headLong_[2];
  Scratch<std::uint16_t> prevLong_[2];
  std::size_t keyLength_[2] = {};
  std::size_t inserted_ = 0;  // positions below are entered
  std::size_t runEnd_ = 0;    // end of the last run of three or more
  std::size_t nearest_ = 0;   // the farthest position within reach
  bool levels_ = false;       // the longer keys are kept
  bool probed_ = false;       // this block has tested whether they still must be
  bool probing_ = false;      // searches use the 3-byte chains only
  std::size_t visits_ = 0;    // candidates visited since spanStart_
  std::size_t spanStart_ = 0;
  std::size_t checkAt_ = 0;
};

// Packs one block into out[0, capacity) with blocksAfter as its trailing
// byte. Returns the bytes written, or kNoRoom when the output cannot take
// them; nothing is written at or past capacity.
std::int64_t PackOneBlock(MatchFinder& finder, std::uint8_t* out, std::size_t capacity,
                          std::span<const std::uint8_t> input, std::uint32_t blocksAfter) {
  if (capacity < kFlagTokensStart + kMaxTokenBytes) return kNoRoom;
  const std::size_t length = input.size();
  const std::uint8_t* block = finder.Start(input.data(), length);
  FlagWriter wr(out);
  std::size_t p = 0;
  while (p < length) {
    if (wr.Position() + kMaxTokenBytes > capacity) return kNoRoom;
    // A run needs at least 15 bytes left and 14 equal ones.
    const std::size_t equal = EqualCount(block + p, std::min(length - p, kMaxRun));
    const std::size_t run = p + kRunProbe < length && equal >= kRunProbe ? equal : 0;
    std::size_t match = 0;
    std::size_t distance = 0;
    // A run of 64 or more wins whatever the search finds.
    if (p + 2 < length && run < kRunBeatsMatch) match = finder.Find(p, equal, &distance);

    if (distance != 0 && (match >= 3 || run < kMinRun)) {
      if (distance <= kMaxNearDistance) {
        wr.Put(0x1, 2);  // 1 0
        wr.Byte(static_cast<std::uint8_t>(distance));
      } else {
        const std::uint32_t high = distance >= kFarHighStep ? 1 : 0;
        const std::size_t mid = (distance - kFarHighStep * high) / 256;
        wr.Put(0x3u | (high << 2) | (static_cast<std::uint32_t>(kReverse4[mid]) << 3), 7);
        wr.Byte(static_cast<std::uint8_t>(distance & 0xFF));
      }
      wr.LengthCode(match);
      p += match;
    } else if (run >= kMinRun) {
      wr.Put(0x03, 7);  // 1 1 0 0000
      wr.Byte(static_cast<std::uint8_t>(kRunMarker));
      const std::size_t count = run - kMinRun;
      if (run <= kMaxShortRun) {
        wr.Put(static_cast<std::uint32_t>(kReverse4[count]) << 1, 5);  // 0 vvvv
        wr.Byte(block[p]);
      } else {
        wr.Put(0x1u | (static_cast<std::uint32_t>(kReverse4[count >> 8]) << 1), 5);  // 1 vvvv
        wr.Bytes2(static_cast<std::uint8_t>(count & 0xFF), block[p]);
      }
      p += run;
    } else {
      wr.Put(0, 1);
      wr.Byte(block[p]);
      p += 1;
    }
  }
  if (wr.Position() + kMaxTokenBytes > capacity) return kNoRoom;
  const std::size_t end = wr.End();
  StoreU16(out + kOffEndOffset, static_cast<std::uint16_t>(end));
  out[end] = static_cast<std::uint8_t>(blocksAfter);
  return static_cast<std::int64_t>(end + 1);
}

// What PackFitted reports besides a byte count.
constexpr std::int64_t kTooLong = -2;  // endOffset would not fit 16 bits

// Packs `block` at the start of `out` as one block. Returns the bytes written,
// kTooLong when the block's packed form would not fit the 16-bit endOffset,
// or kNoRoom when it fits that but not `out`. Which of these it is depends
// only on the block, never on the room left in `out`: an output too tight to
// tell is packed into `scratch` first.
std::int64_t PackFitted(MatchFinder& finder, std::vector<std::uint8_t>& scratch,
                        std::span<const std::uint8_t> block, std::span<std::uint8_t> out,
                        std::uint32_t blocksAfter) {
  const std::size_t capacity = std::min(out.size(), kAttemptCap);
  std::int64_t n = PackOneBlock(finder, out.data(), capacity, block, blocksAfter);
  if (n == kNoRoom && capacity < kAttemptCap) {
    scratch.resize(kAttemptCap);
    n = PackOneBlock(finder, scratch.data(), kAttemptCap, block, blocksAfter);
    if (n != kNoRoom && static_cast<std::size_t>(n) <= kMaxBlockBytes) {
      if (static_cast<std::size_t>(n) > out.size()) return kNoRoom;
      std::memcpy(out.data(), scratch.data(), static_cast<std::size_t>(n));
    }
  }
  // With kAttemptCap bytes to write into, running out of room means that the
  // block cannot end within 16 bits of offset.
  if (n == kNoRoom || static_cast<std::size_t>(n) > kMaxBlockBytes) return kTooLong;
  return n;
}

struct PackState {
  MatchFinder finder;
  std::vector<std::uint8_t> scratch;
  std::uint32_t blocks = 0;
};

// Packs `block` at the start of `out` as one block, or, when it does not fit
// the 16-bit endOffset, as two blocks of ceil(L/2) and floor(L/2) bytes,
// recursively. Returns the bytes written, or kNoRoom. blocksAfter is left 0.
std::int64_t PackPiece(PackState& state, std::span<const std::uint8_t> block,
                       std::span<std::uint8_t> out) {
  const std::int64_t n = PackFitted(state.finder, state.scratch, block, out, 0);
  if (n != kTooLong) {
    if (n != kNoRoom) ++state.blocks;
    return n;
  }
  const std::size_t first = (block.size() + 1) / 2;
  const std::int64_t a = PackPiece(state, block.first(first), out);
  if (a == kNoRoom) return kNoRoom;
  const std::int64_t b =
      PackPiece(state, block.subspan(first), out.subspan(static_cast<std::size_t>(a)));
  if (b == kNoRoom) return kNoRoom;
  return a + b;
}

}  // namespace

std::size_t PackBound(std::size_t n) {
  // A block packs to at most 9 bits per byte (all literals) plus a few bytes
  // of framing, and a block of the smallest size is never split, so a quarter
  // more and 64 bytes per piece always leave the writer room to spare.
  const std::size_t pieces = 2 * (n / kMinBlockSize + 1);
  const std::size_t extra = n / 4 + 64 * pieces;
  return n > SIZE_MAX - extra ? SIZE_MAX : n + extra;
}

std::int64_t PackBlock(std::span<std::uint8_t> out, std::span<const std::uint8_t> block,
                       std::uint32_t blocksAfter) {
  if (block.size() > static_cast<std::size_t>(kMaxBlockSize)) return -1;
  MatchFinder finder;
  std::vector<std::uint8_t> scratch;
  const std::int64_t n = PackFitted(finder, scratch, block, out, blocksAfter);
  return n >= 0 ? n : -1;
}

std::int64_t PackBlocks(std::span<const std::uint8_t> in, std::span<std::uint8_t> out,
                        std::int32_t blockSizeSetting, std::uint32_t* blockCount) {
  if (blockCount != nullptr) *blockCount = 0;
  if (!IsBlockSize(blockSizeSetting)) return -1;
  const std::size_t blockSize = static_cast<std::size_t>(blockSizeSetting);
  PackState state;
  std::size_t total = 0;
  for (std::size_t start = 0; start < in.size(); start += blockSize) {
    const std::size_t length = std::min(blockSize, in.size() - start);
    const std::int64_t n = PackPiece(state, in.subspan(start, length), out.subspan(total));
    if (n == kNoRoom) return -1;
    total += static_cast<std::size_t>(n);
  }
  // blocksAfter counts the blocks actually written, splits included, so it
  // is filled in once their number is known: each block's endOffset leads to
  // its trailing byte.
  std::size_t at = 0;
  for (std::uint32_t b = 0; b < state.blocks; ++b) {
    const std::size_t end = out[at] | (static_cast<std::size_t>(out[at + 1]) << 8);
    out[at + end] = static_cast<std::uint8_t>(state.blocks - 1 - b);
    at += end + 1;
  }
  if (blockCount != nullptr) *blockCount = state.blocks;
  return static_cast<std::int64_t>(total);
}
