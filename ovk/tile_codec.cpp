// CCPI tile codec.
//
// A tile of tileWidth x tileHeight palette indices (both even) is seen as a
// grid of quads, 2 x 2 pixels each. A quad is handled as four bytes: top-left,
// top-right, bottom-left, bottom-right. Quads are visited in quad order: quad
// rows from the top of the tile down, left to right within a quad row.
//
// Encoded tile (no alignment, no padding, no length field):
//
//   offset     size    field
//   0          1       entryCount N (1..254 as written)
//   1          4 * N   quad table: N quads of four bytes (TL, TR, BL, BR)
//   1 + 4 * N  ...     index stream, one item per quad or run of quads
//
// Index stream items, in quad order, covering every quad exactly once:
//   literal  v (0..254): entry v mod N placed under transform v div N
//   repeat   0xFF c (c = 1..255): c further quads equal to the literal that
//            directly precedes the 0xFF. A repeat never opens the stream and
//            never follows another repeat.
// A run of k equal literals, 4 <= k <= 256, is written v 0xFF (k - 1); runs of
// one to three stay literals; longer runs are cut into pieces of 256.
//
// Transforms: a stored quad (e0, e1, e2, e3) lands at TL, TR, BL, BR as
//   0  as stored             e0 e1 e2 e3
//   1  mirrored left-right   e1 e0 e3 e2
//   2  mirrored top-bottom   e2 e3 e0 e1
//   3  half turn             e3 e2 e1 e0
// Each transform is its own inverse, so quad q matches entry e under t exactly
// when e equals q under t.
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

std::uint32_t MirrorLeftRight(std::uint32_t q) {
  return ((q & 0x00FF00FFu) << 8) | ((q >> 8) & 0x00FF00FFu);
}
std::uint32_t MirrorTopBottom(std::uint32_t q) {
  return (q << 16) | (q >> 16);
}
std::uint32_t Transform(std::uint32_t q, int t) {
  switch (t) {
    case 1:
      return MirrorLeftRight(q);
    case 2:
      return MirrorTopBottom(q);
    case 3:
      return MirrorTopBottom(MirrorLeftRight(q));
    default:
      return q;
  }
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

// The encoder, phase by phase. The table search is by hash rather than by a
// scan of the table, but every phase reproduces the first match of a linear
// search exactly, so the bytes are those of the plain search:
//
// - While collecting, a quad is appended only when no member of its orbit
//   (the quad under the four transforms) is in the table yet, so the table
//   holds exactly one member of every orbit seen: the first one to occur. A
//   later quad therefore matches that member and no other entry, and the
//   transforms under which it matches depend only on the quad's value.
// - While refining, every entry is a distinct value (a quad is appended only
//   when it has no exact match), so under each transform a quad matches at
//   most one entry. Its first match is the lowest transform that matches at
//   all; an append can only introduce a lower one, which is kept per value.
//
// So the work is done per distinct quad value ("value id"). A tile that is
// still encodable has at most 254 orbits of at most four values each.
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
  static constexpr int kHashBits = 11;       // 2048 slots: load factor at most 1/2
  static constexpr int kCachedQuads = 2048;  // every tile size the program uses

  bool Collect();
  void Order(std::uint8_t* out);
  bool Refine(std::uint8_t* out);
  std::int32_t WriteIndexStream(std::uint8_t* out) const;

  int Find(std::uint32_t value) const {
    std::uint32_t slot = (value * 0x9E3779B1u) >> hashShift_;
    for (;;) {
      const int id = slots_[slot];
      if (id == 0) return -1;
      if (values_[id - 1] == value) return id - 1;
      slot = (slot + 1) & hashMask_;
    }
  }
  void Insert(std::uint32_t value, int id) {
    std::uint32_t slot = (value * 0x9E3779B1u) >> hashShift_;
    while (slots_[slot] != 0) slot = (slot + 1) & hashMask_;
    slots_[slot] = static_cast<std::uint16_t>(id + 1);
  }
  // Transforms under which `value` is placed as `entry`, one bit each.
  static std::uint8_t MatchMask(std::uint32_t value, std::uint32_t entry) {
    std::uint8_t mask = 0;
    for (int t = 0; t < kTransforms; ++t) {
      if (Transform(value, t) == entry) mask |= static_cast<std::uint8_t>(1u << t);
    }
    return mask;
  }
  // Calls fn(id) for every quad in quad order.
  template <typename Fn>
  void ForEachQuadId(Fn&& fn) const;
  // Appends value `id` to the table in `out` and updates first matches.
  void Append(std::uint8_t* out, int id);

  const std::uint8_t* source_;
  std::int32_t stride_;
  std::int32_t quadsAcross_;
  std::int32_t quadRows_;
  std::int64_t quadCount_;

  int hashShift_ = 0;
  std::uint32_t hashMask_ = 0;
  std::uint16_t slots_[1 << kHashBits];  // value id + 1, 0 when empty

  int valueCount_ = 0;
  std::uint32_t values_[kMaxValues];
  std::uint8_t orbitEntry_[kMaxValues];             // collected entry of the value's orbit
  std::uint8_t matchMask_[kMaxValues];              // transforms matching that entry
  std::uint8_t firstT_[kMaxValues];                 // first match while refining: transform
  std::uint8_t firstPos_[kMaxValues];               // ... and table position
  std::int16_t orbitIds_[kMaxValues][kTransforms];  // id of the value under t, or -1

  int collected_ = 0;  // entries found while collecting
  std::uint32_t collectedEntries_[kMaxTileEntries];
  std::uint8_t usageClass_[kMaxTileEntries];
  int entryCount_ = 0;  // N, also kept in out[0]

  std::uint16_t quadIds_[kCachedQuads];  // value id of each quad, for small tiles
};

template <typename Fn>
void TileEncoder::ForEachQuadId(Fn&& fn) const {
  if (quadCount_ <= kCachedQuads) {
    for (std::int64_t i = 0; i < quadCount_; ++i) fn(quadIds_[i]);
    return;
  }
  // Larger tiles than the program uses: look every quad up again.
  for (std::int32_t qy = 0; qy < quadRows_; ++qy) {
    const std::uint8_t* row0 = source_ + static_cast<std::ptrdiff_t>(2 * qy) * stride_;
    const std::uint8_t* row1 = row0 + stride_;
    for (std::int32_t qx = 0; qx < quadsAcross_; ++qx)
      fn(Find(LoadQuad(row0 + 2 * qx, row1 + 2 * qx)));
  }
}

// Phase 1: find one entry per orbit, in order of first occurrence, and the
// highest transform (tried 3, 2, 1, 0) under which a later quad matched it.
bool TileEncoder::Collect() {
  const std::int64_t maxValues = std::min<std::int64_t>(quadCount_, kMaxValues);
  int bits = 2;
  while ((std::int64_t{1} << bits) < 2 * maxValues) ++bits;
  hashShift_ = 32 - bits;
  hashMask_ = (1u << bits) - 1;
  std::memset(slots_, 0, sizeof(slots_[0]) << bits);

  std::int64_t i = 0;
  std::uint32_t previous = 0;
  int previousId = -1;
  for (std::int32_t qy = 0; qy < quadRows_; ++qy) {
    const std::uint8_t* row0 = source_ + static_cast<std::ptrdiff_t>(2 * qy) * stride_;
    const std::uint8_t* row1 = row0 + stride_;
    for (std::int32_t qx = 0; qx < quadsAcross_; ++qx, ++i) {
      const std::uint32_t quad = LoadQuad(row0 + 2 * qx, row1 + 2 * qx);
      int id = (quad == previous && previousId >= 0) ? previousId : Find(quad);
      bool raises = true;
      if (id < 0) {
        // A value not seen before: is another member of its orbit known?
        int entry = -1;
        for (int t = kTransforms - 1; t > 0 && entry < 0; --t) {
          const int other = Find(Transform(quad, t));
          if (other >= 0) entry = orbitEntry_[other];
        }
        if (entry < 0) {
          // A new orbit: this quad becomes an entry and raises nothing.
          if (collected_ == kMaxTileEntries) return false;
          entry = collected_++;
          collectedEntries_[entry] = quad;
          usageClass_[entry] = 0;
          raises = false;
        }
        id = valueCount_++;
        values_[id] = quad;
        orbitEntry_[id] = static_cast<std::uint8_t>(entry);
        matchMask_[id] = MatchMask(quad, collectedEntries_[entry]);
        Insert(quad, id);
      }
      if (raises) {
        // Transforms are tried from 3 down, so the match is the highest one.
        const int t = 31 - __builtin_clz(matchMask_[id]);
        std::uint8_t& usage = usageClass_[orbitEntry_[id]];
        if (usage < t) usage = static_cast<std::uint8_t>(t);
      }
      if (i < kCachedQuads) quadIds_[i] = static_cast<std::uint16_t>(id);
      previous = quad;
      previousId = id;
    }
  }
  return true;
}

// Phase 2: write the entries grouped by usage class 1, 2, 3, 0, keeping their
// order within a group, and derive each value's first match (transforms tried
// 0 to 3) from its orbit's new position.
void TileEncoder::Order(std::uint8_t* out) {
  static constexpr std::uint8_t kClassOrder[] = {1, 2, 3, 0};
  std::uint8_t position[kMaxTileEntries];
  int n = 0;
  for (std::uint8_t usage : kClassOrder) {
    for (int e = 0; e < collected_; ++e) {
      if (usageClass_[e] != usage) continue;
      position[e] = static_cast<std::uint8_t>(n);
      StoreEntry(out + 1 + kQuadBytes * n, collectedEntries_[e]);
      ++n;
    }
  }
  entryCount_ = n;
  out[0] = static_cast<std::uint8_t>(n);
  for (int id = 0; id < valueCount_; ++id) {
    firstT_[id] = static_cast<std::uint8_t>(__builtin_ctz(matchMask_[id]));
    firstPos_[id] = position[orbitEntry_[id]];
  }
}

void TileEncoder::Append(std::uint8_t* out, int id) {
  const int position = entryCount_;
  StoreEntry(out + 1 + kQuadBytes * position, values_[id]);
  out[0] = static_cast<std::uint8_t>(++entryCount_);
  // The new entry is the value under t of the value that is this one under t.
  for (int t = 0; t < kTransforms; ++t) {
    const int other = orbitIds_[id][t];
    if (other >= 0 && t < firstT_[other]) {
      firstT_[other] = static_cast<std::uint8_t>(t);
      firstPos_[other] = static_cast<std::uint8_t>(position);
    }
  }
}

// Phase 3: while some quad's first match needs a literal above 254, walk the
// quads and append each such quad as stored, at most ten passes. A pass in
// which no quad needs a literal above 254 would append nothing, so checking
// the values first ends the refinement exactly where a full pass would.
bool TileEncoder::Refine(std::uint8_t* out) {
  const auto literal = [this](int id) { return firstT_[id] * entryCount_ + firstPos_[id]; };
  const auto anyOutOfReach = [&] {
    for (int id = 0; id < valueCount_; ++id) {
      if (literal(id) > kMaxLiteral) return true;
    }
    return false;
  };
  if (!anyOutOfReach()) return true;

  for (int id = 0; id < valueCount_; ++id) {
    for (int t = 0; t < kTransforms; ++t) {
      orbitIds_[id][t] = static_cast<std::int16_t>(Find(Transform(values_[id], t)));
    }
  }
  for (int pass = 0; pass < kMaxRefinePasses; ++pass) {
    if (pass > 0 && !anyOutOfReach()) break;
    bool full = false;
    int previousId = -1;
    ForEachQuadId([&](int id) {
      // A quad equal to the one before it is in reach: that one either was,
      // or was just appended.
      if (full || id == previousId) return;
      previousId = id;
      if (literal(id) <= kMaxLiteral) return;
      if (entryCount_ == kMaxTileEntries) {
        full = true;
        return;
      }
      Append(out, id);
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
  std::uint8_t literals[kMaxValues];
  for (int id = 0; id < valueCount_; ++id) {
    const int literal = firstT_[id] * entryCount_ + firstPos_[id];
    if (literal > kMaxLiteral) return -1;
    literals[id] = static_cast<std::uint8_t>(literal);
  }
  std::uint8_t* const start = out;
  std::uint8_t* w = out + 1 + kQuadBytes * entryCount_;
  const auto flush = [&w](std::uint8_t literal, std::int64_t run) {
    for (; run >= kMinShortenedRun; run -= std::min<std::int64_t>(run, kMaxRun)) {
      *w++ = literal;
      *w++ = kRepeatMarker;
      *w++ = static_cast<std::uint8_t>(std::min<std::int64_t>(run, kMaxRun) - 1);
    }
    for (; run > 0; --run) *w++ = literal;
  };
  int currentId = -1;
  std::int64_t run = 0;
  ForEachQuadId([&](int id) {
    // Values and literals correspond one to one, so runs of ids are runs of
    // literals.
    if (id == currentId) {
      ++run;
      return;
    }
    if (run > 0) flush(literals[currentId], run);
    currentId = id;
    run = 1;
  });
  if (run > 0) flush(literals[currentId], run);
  return static_cast<std::int32_t>(w - start);
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

// Writes `count` copies of `quad` from quad column `qx` on, in one quad row.
inline void FillQuads(std::uint8_t* row0, std::uint8_t* row1, std::int32_t qx, std::int32_t count,
                      std::uint32_t quad) {
  const std::uint8_t tl = static_cast<std::uint8_t>(quad);
  const std::uint8_t tr = static_cast<std::uint8_t>(quad >> 8);
  const std::uint8_t bl = static_cast<std::uint8_t>(quad >> 16);
  const std::uint8_t br = static_cast<std::uint8_t>(quad >> 24);
  std::uint8_t* p0 = row0 + 2 * qx;
  std::uint8_t* p1 = row1 + 2 * qx;
  for (std::int32_t k = 0; k < count; ++k) {
    p0[2 * k] = tl;
    p0[2 * k + 1] = tr;
    p1[2 * k] = bl;
    p1[2 * k + 1] = br;
  }
}

}  // namespace

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
  const std::size_t tableBytes = static_cast<std::size_t>(kQuadBytes) * entries;
  if (tableBytes >= size) return -1;  // the table runs past the data
  const std::uint8_t* const table = data + 1;
  // Literals of 4 * N and up would name a transform above 3.
  const int literalLimit = std::min(kTransforms * entries, kMaxLiteral + 1);

  std::size_t pos = 1 + tableBytes;
  const std::int32_t quadsAcross = tileWidth / 2;
  const std::int32_t quadRows = tileHeight / 2;
  std::uint32_t quad = 0;
  std::int32_t pending = 0;   // quads still owed by the current repeat
  bool afterLiteral = false;  // a repeat may only follow a literal
  for (std::int32_t qy = 0; qy < quadRows; ++qy) {
    std::uint8_t* row0 = dest + static_cast<std::ptrdiff_t>(2 * qy) * stride;
    std::uint8_t* row1 = row0 + stride;
    std::int32_t qx = 0;
    while (qx < quadsAcross) {
      if (pending > 0) {
        const std::int32_t n = std::min(pending, quadsAcross - qx);
        FillQuads(row0, row1, qx, n, quad);
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
      const int j = v - t * entries;
      const std::uint8_t* e = table + kQuadBytes * j;
      quad = Transform(static_cast<std::uint32_t>(e[0]) | (static_cast<std::uint32_t>(e[1]) << 8) |
                           (static_cast<std::uint32_t>(e[2]) << 16) |
                           (static_cast<std::uint32_t>(e[3]) << 24),
                       t);
      FillQuads(row0, row1, qx, 1, quad);
      ++qx;
      ++pos;
      afterLiteral = true;
    }
  }
  // A repeat never reaches into the next tile.
  if (pending > 0) return -1;
  return static_cast<std::int32_t>(pos);
}
