// Compressor of the packed stream (layout: pack/packed_format.h).
//
// A greedy LZ77 packer: at every position it takes the longest match within
// 8191 bytes back inside the block (capped at 269 bytes, the nearest among
// equally long ones), unless a run of one byte is long enough to beat it, and
// writes bit-flag blocks only. The match finder keeps, for every 2-byte key,
// a chain of the block's earlier positions with that key, newest first, so it
// visits exactly the candidates that a plain backward search over every
// distance would accept, in the same nearest-first order, and picks the same
// match.
//
// Safety model: the writer checks before every token that the output can take
// the most bytes one token adds, so nothing is written outside the block's
// output span. A block whose packed form would not fit the 16-bit endOffset
// is never written: it is packed as two blocks of ceil(L/2) and floor(L/2)
// bytes instead, recursively. An output too small for the whole section makes
// PackBlocks fail rather than write a cut block.
#include "pack/pack.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "pack/packed_format.h"

namespace {

using namespace packed;

std::int32_t g_blockSize = kDefaultBlockSize;

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

// A bound on one block's packed form, with room for the writer's check. The
// worst case is all literals: 9 bits per byte plus the block's framing.
constexpr std::size_t BlockBound(std::size_t length) {
  return length + length / 4 + 64;
}

constexpr std::uint8_t kReverse4[16] = {0x0, 0x8, 0x4, 0xC, 0x2, 0xA, 0x6, 0xE,
                                        0x1, 0x9, 0x5, 0xD, 0x3, 0xB, 0x7, 0xF};

inline void StoreU16(std::uint8_t* p, std::uint64_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}

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
      StoreU16(out_ + w_, acc_);
    } else {
      // The slot just reserved is given up; its first byte is the marker.
      out_[w_] = kEndMarker;
      o_ = w_ + 1;
    }
    return o_;
  }

 private:
  void Close() {
    StoreU16(out_ + w_, acc_);
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

// Chains of earlier positions of a block by their first two bytes. Positions
// fit 16 bits (a block is at most 65535 bytes); kNone ends a chain.
class MatchFinder {
 public:
  static constexpr std::uint16_t kNone = 0xFFFF;

  MatchFinder() : head_(0x10000, kNone), prev_(kMaxBlockBytes) {}

  // Starts a block: forgets the previous block's positions.
  void Reset(const std::uint8_t* block, std::size_t length) {
    for (std::size_t q = 0; q < inserted_; ++q) head_[Key(q)] = kNone;
    block_ = block;
    length_ = length;
    inserted_ = 0;
  }

  // The longest match for position p (at least 3 bytes left), capped at 269
  // bytes and at the block's end, the nearest among equally long ones. Sets
  // *distance to 0 when no earlier position within reach shares p's first two
  // bytes.
  std::size_t Find(std::size_t p, std::size_t* distance) {
    while (inserted_ < p) Insert(inserted_++);
    const std::uint8_t* cur = block_ + p;
    const std::size_t maxLength = std::min<std::size_t>(kMaxMatch, length_ - p);
    std::size_t best = 1;  // every candidate shares 2 bytes
    std::size_t bestDistance = 0;
    for (std::size_t c = head_[Key(p)]; c != kNone && p - c <= kMaxDistance; c = prev_[c]) {
      const std::uint8_t* cand = block_ + c;
      // Only a candidate that also matches at `best` can be longer.
      if (cand[best] != cur[best]) continue;
      const std::size_t length = MatchLength(cand, cur, maxLength);
      if (length > best) {
        best = length;
        bestDistance = p - c;
        if (best == maxLength) break;
      }
    }
    *distance = bestDistance;
    return bestDistance != 0 ? best : 0;
  }

 private:
  std::size_t Key(std::size_t q) const {
    return block_[q] | (static_cast<std::size_t>(block_[q + 1]) << 8);
  }
  void Insert(std::size_t q) {
    const std::size_t key = Key(q);
    prev_[q] = head_[key];
    head_[key] = static_cast<std::uint16_t>(q);
  }
  // Equal bytes from the start, up to `limit` (all inside the block).
  static std::size_t MatchLength(const std::uint8_t* a, const std::uint8_t* b, std::size_t limit) {
    std::size_t t = 0;
    while (t + 8 <= limit) {
      const std::uint64_t diff = LoadU64(a + t) ^ LoadU64(b + t);
      if (diff != 0) return t + static_cast<std::size_t>(__builtin_ctzll(diff)) / 8;
      t += 8;
    }
    while (t < limit && a[t] == b[t]) ++t;
    return t;
  }

  std::vector<std::uint16_t> head_;
  std::vector<std::uint16_t> prev_;
  const std::uint8_t* block_ = nullptr;
  std::size_t length_ = 0;
  std::size_t inserted_ = 0;
};

// The run at p: the count of bytes equal to the byte at p (at most 4095), when
// at least 15 bytes are left and the first 14 are equal; 0 otherwise.
std::size_t RunAt(const std::uint8_t* block, std::size_t length, std::size_t p) {
  if (p + kRunProbe >= length) return 0;
  const std::uint8_t v = block[p];
  if (block[p + kRunProbe - 1] != v) return 0;
  const std::size_t limit = std::min(length - p, kMaxRun);
  std::size_t r = 1;
  while (r < limit && block[p + r] == v) ++r;
  return r >= kRunProbe ? r : 0;
}

// Packs one block into out[0, capacity) with blocksAfter as its trailing
// byte. Returns the bytes written, or kNoRoom when the output cannot take
// them; nothing is written at or past capacity.
std::int64_t PackOneBlock(MatchFinder& finder, std::uint8_t* out, std::size_t capacity,
                          const std::uint8_t* block, std::size_t length,
                          std::uint32_t blocksAfter) {
  if (capacity < kFlagTokensStart + kMaxTokenBytes) return kNoRoom;
  finder.Reset(block, length);
  FlagWriter wr(out);
  std::size_t p = 0;
  while (p < length) {
    if (wr.Position() + kMaxTokenBytes > capacity) return kNoRoom;
    const std::size_t run = RunAt(block, length, p);
    std::size_t match = 0;
    std::size_t distance = 0;
    // A run of 64 or more wins whatever the search finds.
    if (p + 2 < length && run < kRunBeatsMatch) match = finder.Find(p, &distance);

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
  StoreU16(out + kOffEndOffset, end);
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
  std::int64_t n =
      PackOneBlock(finder, out.data(), capacity, block.data(), block.size(), blocksAfter);
  if (n == kNoRoom && capacity < kAttemptCap) {
    scratch.resize(kAttemptCap);
    n = PackOneBlock(finder, scratch.data(), kAttemptCap, block.data(), block.size(), blocksAfter);
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

void SetBlockSize(std::int32_t blockSize) {
  g_blockSize =
      blockSize >= kMinBlockSize && blockSize <= kMaxBlockSize ? blockSize : kDefaultBlockSize;
}

std::int32_t GetBlockSize() {
  return g_blockSize;
}

std::size_t PackBound(std::size_t n) {
  // Every block within BlockBound of its length, and at most two pieces per
  // block of the smallest size.
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
                        std::uint32_t* blockCount) {
  if (blockCount != nullptr) *blockCount = 0;
  const std::size_t blockSize = static_cast<std::size_t>(g_blockSize);
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
