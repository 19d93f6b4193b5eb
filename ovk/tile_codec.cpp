// CCPI tile codec.
//
// The coding itself is described in ovk/tile_codec.h.
//
// Inside this file a quad travels as a 32-bit value with TL in bits 0-7, TR in
// 8-15, BL in 16-23 and BR in 24-31; the transforms are then byte swaps.
#include "ovk/tile_codec.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr int kMaxLiteral = 254;
constexpr std::uint8_t kRepeatMarker = 0xFF;
constexpr int kMaxRun = 256;          // a literal and a repeat count of up to 255
constexpr int kMinShortenedRun = 4;   // shorter runs cost no more as literals
constexpr int kMaxRefinePasses = 10;  // refinement gives up (still appending) after this
constexpr int kTransforms = 4;
constexpr int kQuadBytes = 4;
// With at most this many entries every entry is in reach under every
// transform: 3 * 63 + 62 = 251.
constexpr int kAlwaysInReachEntries = (kMaxLiteral + 1) / kTransforms;

std::uint32_t MirrorLeftRight(std::uint32_t q) {
  return ((q & 0x00FF00FFu) << 8) | ((q >> 8) & 0x00FF00FFu);
}
std::uint32_t MirrorTopBottom(std::uint32_t q) {
  return (q << 16) | (q >> 16);
}
// Transform 3 is both mirrors; applying transform a then b is transform a ^ b.
std::uint32_t Transform(std::uint32_t q, int t) {
  const std::uint32_t lr = MirrorLeftRight(q);
  q = (t & 1) ? lr : q;
  return (t & 2) ? MirrorTopBottom(q) : q;
}

std::uint32_t LoadQuad(const std::uint8_t* row0, const std::uint8_t* row1) {
  return static_cast<std::uint32_t>(row0[0]) | (static_cast<std::uint32_t>(row0[1]) << 8) |
         (static_cast<std::uint32_t>(row1[0]) << 16) | (static_cast<std::uint32_t>(row1[1]) << 24);
}
void StoreEntry(std::uint8_t* p, std::uint32_t q) {
  p[0] = static_cast<std::uint8_t>(q);
  p[1] = static_cast<std::uint8_t>(q >> 8);
  p[2] = static_cast<std::uint8_t>(q >> 16);
  p[3] = static_cast<std::uint8_t>(q >> 24);
}

bool ValidTileShape(std::int32_t tileWidth, std::int32_t tileHeight, std::int32_t stride) {
  return tileWidth > 0 && tileHeight > 0 && tileWidth % 2 == 0 && tileHeight % 2 == 0 &&
         stride >= tileWidth;
}

// A quad under each of the four transforms.
struct QuadForms {
  explicit QuadForms(std::uint32_t q) {
    form[0] = q;
    form[1] = MirrorLeftRight(q);
    form[2] = MirrorTopBottom(q);
    form[3] = MirrorTopBottom(form[1]);
  }
  // The transforms under which `entry` is placed as this quad, one bit each.
  unsigned MatchMask(std::uint32_t entry) const {
    return static_cast<unsigned>(form[0] == entry) |
           (static_cast<unsigned>(form[1] == entry) << 1) |
           (static_cast<unsigned>(form[2] == entry) << 2) |
           (static_cast<unsigned>(form[3] == entry) << 3);
  }
  // One name for the whole orbit: its smallest member.
  std::uint32_t Canonical() const {
    return std::min(std::min(form[0], form[1]), std::min(form[2], form[3]));
  }
  std::uint32_t form[kTransforms];
};

int LowestBit(unsigned mask) {
  return __builtin_ctz(mask);
}
int HighestBit(unsigned mask) {
  return 31 - __builtin_clz(mask);
}

// The encoder, phase by phase. The table is searched by hash rather than
// scanned, but every phase reproduces the first match of the linear search
// exactly, so the bytes are those of the plain search.
//
// Orbits. The orbit of a quad is the quad under the four transforms. While
// collecting, a quad is appended only when no member of its orbit is in the
// table yet, so the table holds exactly one member of every orbit seen, the
// first to occur: the orbit's entry e. A later quad q matches e and no other
// entry, under the transforms t with q == T_t(e) (several when e is
// symmetric). Transforms compose by exclusive or, T_a(T_b(x)) = T_(a^b)(x),
// and the transforms that leave e unchanged (its stabiliser, always holding 0)
// form a group S; the transforms under which q matches e are then the coset
// a ^ S, where a is the lowest of them.
//
// Values. A distinct quad value is therefore named by its orbit o and that
// lowest transform a: value id 4 * o + a, with q = T_a(e). No table of values
// is needed, only a hash from each orbit's smallest member to the orbit.
//
// Refining. Every entry is a distinct value (a quad is appended only when it
// has no exact match), so a quad's first match, transforms tried 0 to 3, is
// the lowest transform that matches any entry, at that entry's position. It
// starts as (a, position of e). Appending the value T_b(e) at position p gives
// each value T_a(e) of the orbit the new matches a ^ b ^ S at p. For every
// possible S, the lowest members of its cosets are closed under exclusive or,
// so the lowest of these matches is a ^ b; it replaces the first match when it
// is lower.
class TileEncoder {
 public:
  TileEncoder(const std::uint8_t* source, std::int32_t stride, std::int32_t tileWidth,
              std::int32_t tileHeight)
      : source_(source),
        stride_(stride),
        quadsAcross_(tileWidth / 2),
        quadRows_(tileHeight / 2),
        quadCount_(static_cast<std::int64_t>(quadsAcross_) * quadRows_) {}

  std::int32_t Encode(std::uint8_t* out);

 private:
  static constexpr int kMaxValues = kTransforms * kMaxTileEntries;
  static constexpr int kMaxHashBits = 9;     // 512 slots for at most 254 orbits
  static constexpr int kCachedQuads = 2048;  // every tile size the program uses

  bool Collect();
  void Order(std::uint8_t* out);
  bool Refine(std::uint8_t* out);
  std::int32_t WriteIndexStream(std::uint8_t* out) const;

  int FindOrbit(std::uint32_t canonical) const {
    std::uint32_t slot = (canonical * 0x9E3779B1u) >> hashShift_;
    for (;;) {
      const int orbit = slots_[slot] - 1;
      if (orbit < 0 || canonical_[orbit] == canonical) return orbit;
      slot = (slot + 1) & hashMask_;
    }
  }
  void InsertOrbit(std::uint32_t canonical, int orbit) {
    std::uint32_t slot = (canonical * 0x9E3779B1u) >> hashShift_;
    while (slots_[slot] != 0) slot = (slot + 1) & hashMask_;
    slots_[slot] = static_cast<std::uint8_t>(orbit + 1);
  }
  // The value id of a quad whose orbit has been collected.
  int ValueId(std::uint32_t quad) const {
    const QuadForms forms(quad);
    const int orbit = FindOrbit(forms.Canonical());
    return kTransforms * orbit + LowestBit(forms.MatchMask(entry_[orbit]));
  }
  // Calls fn(value id) for every quad in quad order.
  template <typename Fn>
  void ForEachQuadValue(Fn&& fn) const;
  int Literal(int value) const { return firstT_[value] * entryCount_ + firstPos_[value]; }
  void Append(std::uint8_t* out, int value);

  const std::uint8_t* source_;
  std::int32_t stride_;
  std::int32_t quadsAcross_;
  std::int32_t quadRows_;
  std::int64_t quadCount_;

  int hashShift_ = 0;
  std::uint32_t hashMask_ = 0;
  std::uint8_t slots_[1 << kMaxHashBits];  // orbit + 1, 0 when empty

  // Per orbit, in order of collection.
  int orbitCount_ = 0;
  std::uint32_t entry_[kMaxTileEntries];      // the orbit's collected entry e
  std::uint32_t canonical_[kMaxTileEntries];  // its smallest member
  std::uint8_t usage_[kMaxTileEntries];       // usage class

  // Per value id.
  std::uint8_t present_[kMaxValues];   // the value occurs in the tile
  std::uint8_t firstT_[kMaxValues];    // first match while refining: transform
  std::uint8_t firstPos_[kMaxValues];  // ... and table position

  int entryCount_ = 0;  // N, also kept in out[0]

  std::uint16_t quadValues_[kCachedQuads];  // value id of each quad, for small tiles
};

template <typename Fn>
void TileEncoder::ForEachQuadValue(Fn&& fn) const {
  if (quadCount_ <= kCachedQuads) {
    for (std::int64_t i = 0; i < quadCount_; ++i) fn(quadValues_[i]);
    return;
  }
  // Larger tiles than the program uses: classify every quad again.
  for (std::int32_t qy = 0; qy < quadRows_; ++qy) {
    const std::uint8_t* row0 = source_ + static_cast<std::ptrdiff_t>(2 * qy) * stride_;
    const std::uint8_t* row1 = row0 + stride_;
    std::uint32_t previous = 0;
    int previousValue = -1;
    for (std::int32_t qx = 0; qx < quadsAcross_; ++qx) {
      const std::uint32_t quad = LoadQuad(row0 + 2 * qx, row1 + 2 * qx);
      if (previousValue < 0 || quad != previous) previousValue = ValueId(quad);
      previous = quad;
      fn(previousValue);
    }
  }
}

// Phase 1: one entry per orbit, in order of first occurrence, and its usage
// class: the highest transform (tried 3, 2, 1, 0) under which any later quad
// matched it.
bool TileEncoder::Collect() {
  const std::int64_t maxOrbits = std::min<std::int64_t>(quadCount_, kMaxTileEntries);
  int bits = 2;
  while ((std::int64_t{1} << bits) < 2 * maxOrbits) ++bits;
  hashShift_ = 32 - bits;
  hashMask_ = (1u << bits) - 1;
  std::memset(slots_, 0, std::size_t{1} << bits);

  std::int64_t i = 0;
  std::uint32_t previous = 0;
  int value = -1;  // of the previous quad
  int raise = 0;   // the usage class a further quad of that value gives
  for (std::int32_t qy = 0; qy < quadRows_; ++qy) {
    const std::uint8_t* row0 = source_ + static_cast<std::ptrdiff_t>(2 * qy) * stride_;
    const std::uint8_t* row1 = row0 + stride_;
    for (std::int32_t qx = 0; qx < quadsAcross_; ++qx, ++i) {
      const std::uint32_t quad = LoadQuad(row0 + 2 * qx, row1 + 2 * qx);
      if (quad != previous || value < 0) {
        const QuadForms forms(quad);
        const std::uint32_t canonical = forms.Canonical();
        int orbit = FindOrbit(canonical);
        if (orbit < 0) {
          // A new orbit: the quad becomes its entry and raises nothing.
          if (orbitCount_ == kMaxTileEntries) return false;
          orbit = orbitCount_++;
          const unsigned stabiliser = forms.MatchMask(quad);
          entry_[orbit] = quad;
          canonical_[orbit] = canonical;
          usage_[orbit] = 0;
          std::memset(present_ + kTransforms * orbit, 0, kTransforms);
          InsertOrbit(canonical, orbit);
          value = kTransforms * orbit;
          raise = HighestBit(stabiliser);
          present_[value] = 1;
          if (i < kCachedQuads) quadValues_[i] = static_cast<std::uint16_t>(value);
          previous = quad;
          continue;
        }
        const unsigned mask = forms.MatchMask(entry_[orbit]);
        value = kTransforms * orbit + LowestBit(mask);
        raise = HighestBit(mask);
        present_[value] = 1;
        previous = quad;
      }
      std::uint8_t& usage = usage_[value / kTransforms];
      if (usage < raise) usage = static_cast<std::uint8_t>(raise);
      if (i < kCachedQuads) quadValues_[i] = static_cast<std::uint16_t>(value);
    }
  }
  return true;
}

// Phase 2: write the entries grouped by usage class 1, 2, 3, 0, keeping the
// order of collection within a group. Each value's first match is then its
// lowest transform at its orbit's new position.
void TileEncoder::Order(std::uint8_t* out) {
  int count[kTransforms] = {};
  for (int o = 0; o < orbitCount_; ++o) ++count[usage_[o]];
  int next[kTransforms];
  next[1] = 0;
  next[2] = next[1] + count[1];
  next[3] = next[2] + count[2];
  next[0] = next[3] + count[3];
  for (int o = 0; o < orbitCount_; ++o) {
    const int position = next[usage_[o]]++;
    StoreEntry(out + 1 + kQuadBytes * position, entry_[o]);
    for (int a = 0; a < kTransforms; ++a) {
      firstT_[kTransforms * o + a] = static_cast<std::uint8_t>(a);
      firstPos_[kTransforms * o + a] = static_cast<std::uint8_t>(position);
    }
  }
  entryCount_ = orbitCount_;
  out[0] = static_cast<std::uint8_t>(entryCount_);
}

void TileEncoder::Append(std::uint8_t* out, int value) {
  const int orbit = value / kTransforms;
  const int b = value % kTransforms;
  const int position = entryCount_;
  StoreEntry(out + 1 + kQuadBytes * position, Transform(entry_[orbit], b));
  out[0] = static_cast<std::uint8_t>(++entryCount_);
  // Only the ids of values that occur are ever read; those have the lowest
  // transform of their coset, and so has a ^ b.
  for (int a = 0; a < kTransforms; ++a) {
    const int v = kTransforms * orbit + a;
    if ((a ^ b) < firstT_[v]) {
      firstT_[v] = static_cast<std::uint8_t>(a ^ b);
      firstPos_[v] = static_cast<std::uint8_t>(position);
    }
  }
}

// Phase 3: while some quad's first match needs a literal above 254, walk the
// quads and append each such quad as stored, at most ten passes. A pass in
// which no quad needs a literal above 254 appends nothing, so checking the
// values first ends the refinement exactly where a full pass would.
bool TileEncoder::Refine(std::uint8_t* out) {
  if (entryCount_ <= kAlwaysInReachEntries) return true;
  const auto anyOutOfReach = [this] {
    for (int v = 0; v < kTransforms * orbitCount_; ++v) {
      if (present_[v] && Literal(v) > kMaxLiteral) return true;
    }
    return false;
  };
  for (int pass = 0; pass < kMaxRefinePasses && anyOutOfReach(); ++pass) {
    bool full = false;
    int previous = -1;
    ForEachQuadValue([&](int value) {
      // A quad equal to the one before it is in reach: that one either was,
      // or has just been appended.
      if (full || value == previous) return;
      previous = value;
      if (Literal(value) <= kMaxLiteral) return;
      if (entryCount_ == kMaxTileEntries) {
        full = true;
        return;
      }
      Append(out, value);
    });
    if (full) return false;
  }
  return true;
}

// Phases 4 and 5: one literal per quad, with runs of four or more equal
// literals written as literal, 0xFF, count - 1 (runs cut at 256). Writing the
// shortened form directly gives the same bytes as shortening in place.
// Returns the encoded length, or -1 when a quad is still out of reach.
std::int32_t TileEncoder::WriteIndexStream(std::uint8_t* out) const {
  std::uint8_t* w = out + 1 + kQuadBytes * entryCount_;
  const auto flush = [&w](std::uint8_t literal, std::int64_t run) {
    for (; run >= kMinShortenedRun; run -= std::min<std::int64_t>(run, kMaxRun)) {
      *w++ = literal;
      *w++ = kRepeatMarker;
      *w++ = static_cast<std::uint8_t>(std::min<std::int64_t>(run, kMaxRun) - 1);
    }
    for (; run > 0; --run) *w++ = literal;
  };
  // Values and literals correspond one to one, so runs of values are runs of
  // literals.
  int current = -1;
  int literal = 0;
  std::int64_t run = 0;
  bool outOfReach = false;
  ForEachQuadValue([&](int value) {
    if (value == current) {
      ++run;
      return;
    }
    if (run > 0) flush(static_cast<std::uint8_t>(literal), run);
    current = value;
    literal = Literal(value);
    outOfReach |= literal > kMaxLiteral;
    run = 1;
  });
  if (outOfReach) return -1;
  if (run > 0) flush(static_cast<std::uint8_t>(literal), run);
  return static_cast<std::int32_t>(w - out);
}

std::int32_t TileEncoder::Encode(std::uint8_t* out) {
  if (!Collect()) return -1;
  Order(out);
  if (!Refine(out)) return -1;
  return WriteIndexStream(out);
}

}  // namespace

std::size_t TileEncodeBound(std::int32_t tileWidth, std::int32_t tileHeight) {
  if (tileWidth <= 0 || tileHeight <= 0) return 0;
  const std::size_t quads =
      static_cast<std::size_t>(tileWidth / 2) * static_cast<std::size_t>(tileHeight / 2);
  return 1 + kQuadBytes * std::min<std::size_t>(kMaxTileEntries, quads) + quads;
}

std::int32_t EncodeTile(const std::uint8_t* source, std::int32_t stride, std::int32_t tileWidth,
                        std::int32_t tileHeight, std::span<std::uint8_t> out) {
  if (!ValidTileShape(tileWidth, tileHeight, stride)) return -1;
  // The result is a 32-bit length, which bounds the tile.
  const std::size_t bound = TileEncodeBound(tileWidth, tileHeight);
  if (bound > static_cast<std::size_t>(INT32_MAX) || out.size() < bound) return -1;
  TileEncoder encoder(source, stride, tileWidth, tileHeight);
  return encoder.Encode(out.data());
}

namespace {

// The decoder moves pixels two at a time: the top or bottom pair of a quad as
// one 16-bit unit in memory order. Swapping its bytes mirrors it left to
// right, whatever the machine's byte order.
using PixelPair = std::uint16_t;

PixelPair LoadPair(const std::uint8_t* p) {
  PixelPair v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
void StorePair(std::uint8_t* p, PixelPair v) {
  std::memcpy(p, &v, sizeof v);
}
PixelPair SwapPair(PixelPair v) {
  return static_cast<PixelPair>((v >> 8) | (v << 8));
}

// Writes `count` copies of the pair from p on.
inline void FillPairs(std::uint8_t* p, std::int32_t count, PixelPair pair) {
  if (count < 4) {
    for (std::int32_t k = 0; k < count; ++k) StorePair(p + 2 * k, pair);
    return;
  }
  // Four pairs per word; the last, partial word overlaps the one before it
  // at an even offset, so the pattern stays in phase.
  const std::uint64_t word = pair * 0x0001000100010001u;
  const std::size_t bytes = 2 * static_cast<std::size_t>(count);
  std::size_t k = 0;
  for (; k + 8 <= bytes; k += 8) std::memcpy(p + k, &word, sizeof word);
  if (k < bytes) std::memcpy(p + bytes - 8, &word, sizeof word);
}

}  // namespace

std::uint64_t ShortestTileBytes(std::uint64_t quads) {
  constexpr std::uint64_t kRunBytes = 3;  // a literal, 0xFF and the count
  return 1 + kQuadBytes + kRunBytes * (quads / kMaxRun) +
         std::min<std::uint64_t>(quads % kMaxRun, kRunBytes);
}

std::int32_t DecodeTile(std::span<const std::uint8_t> in, std::uint8_t* dest,
                        std::int32_t tileWidth, std::int32_t tileHeight, std::int32_t stride) {
  if (!ValidTileShape(tileWidth, tileHeight, stride) || in.empty()) return -1;
  // The result is a 32-bit length: a tile consumes at most 1 + 4 * 254 bytes
  // of table and 2 bytes per quad.
  const std::int64_t quadCount = std::int64_t{tileWidth / 2} * (tileHeight / 2);
  if (quadCount > (INT32_MAX - 1 - kQuadBytes * kMaxTileEntries) / 2) return -1;
  const std::size_t size = in.size();
  const std::uint8_t* const data = in.data();
  const int entries = data[0];
  if (entries == 0) return -1;  // every tile has at least one quad to decode
  const std::size_t tableBytes =
      static_cast<std::size_t>(kQuadBytes) * static_cast<std::size_t>(entries);
  if (tableBytes >= size) return -1;  // the table runs past the data
  const std::uint8_t* const table = data + 1;
  // Literals of 4 * N and up would name a transform above 3.
  const int literalLimit = std::min(kTransforms * entries, kMaxLiteral + 1);

  std::size_t pos = 1 + tableBytes;
  const std::int32_t quadsAcross = tileWidth / 2;
  const std::int32_t quadRows = tileHeight / 2;
  PixelPair top = 0, bottom = 0;  // the quad of the last literal
  std::int32_t pending = 0;       // quads still owed by the current repeat
  bool afterLiteral = false;      // a repeat may only follow a literal
  for (std::int32_t qy = 0; qy < quadRows; ++qy) {
    std::uint8_t* row0 = dest + static_cast<std::ptrdiff_t>(2 * qy) * stride;
    std::uint8_t* row1 = row0 + stride;
    std::int32_t qx = 0;
    while (qx < quadsAcross) {
      if (pending > 0) {
        const std::int32_t n = std::min(pending, quadsAcross - qx);
        FillPairs(row0 + 2 * qx, n, top);
        FillPairs(row1 + 2 * qx, n, bottom);
        qx += n;
        pending -= n;
        continue;
      }
      if (pos >= size) return -1;
      const int v = data[pos];
      if (v == kRepeatMarker) {
        if (!afterLiteral || size - pos < 2) return -1;
        pending = data[pos + 1];
        if (pending == 0) return -1;
        pos += 2;
        afterLiteral = false;
        continue;
      }
      if (v >= literalLimit) return -1;
      const int t = (v >= entries) + (v >= 2 * entries) + (v >= 3 * entries);
      const std::uint8_t* e = table + kQuadBytes * (v - t * entries);
      // Transform 2 exchanges the pairs, transform 1 mirrors each; 3 does both.
      const int flip = t & 2;
      top = LoadPair(e + flip);
      bottom = LoadPair(e + 2 - flip);
      if (t & 1) {
        top = SwapPair(top);
        bottom = SwapPair(bottom);
      }
      StorePair(row0 + 2 * qx, top);
      StorePair(row1 + 2 * qx, bottom);
      ++qx;
      ++pos;
      afterLiteral = true;
    }
  }
  // A repeat never reaches into the next tile.
  if (pending > 0) return -1;
  return static_cast<std::int32_t>(pos);
}
