#include "support/reference_tile_encoder.h"

#include <array>
#include <vector>

#include "ovk/tile_codec.h"

namespace testing_support {

Quad Place(const Quad& e, int t) {
  switch (t) {
    case 0:
      return {e[0], e[1], e[2], e[3]};
    case 1:
      return {e[1], e[0], e[3], e[2]};
    case 2:
      return {e[2], e[3], e[0], e[1]};
    default:
      return {e[3], e[2], e[1], e[0]};
  }
}

namespace {

// A quad and the entries it matches: q matches entry e under t when placing
// e under t gives q, that is (each transform being its own inverse) when e is
// q placed under t. placed[t] is that entry.
struct TileQuad {
  Quad q;
  Quad placed[4];
};

bool EntryIs(const std::uint8_t* out, int j, const Quad& e) {
  const std::uint8_t* p = out + 1 + 4 * j;
  return p[0] == e[0] && p[1] == e[1] && p[2] == e[2] && p[3] == e[3];
}

// First match in the table at `out` (transforms 0..3, entries first to last):
// the literal t * N + j, or -1 when nothing matches.
int FirstMatchLiteral(const std::uint8_t* out, int n, const TileQuad& q) {
  for (int t = 0; t < 4; ++t) {
    for (int j = 0; j < n; ++j) {
      if (EntryIs(out, j, q.placed[t])) return t * n + j;
    }
  }
  return -1;
}

}  // namespace

std::int32_t ReferenceEncodeTile(const std::uint8_t* source, std::int32_t stride,
                                 std::int32_t tileWidth, std::int32_t tileHeight,
                                 std::span<std::uint8_t> out) {
  if (tileWidth <= 0 || tileHeight <= 0 || tileWidth % 2 != 0 || tileHeight % 2 != 0 ||
      stride < tileWidth || out.size() < TileEncodeBound(tileWidth, tileHeight)) {
    return -1;
  }
  std::vector<TileQuad> quads;
  for (int qy = 0; qy < tileHeight / 2; ++qy) {
    const std::uint8_t* r0 = source + static_cast<std::ptrdiff_t>(2 * qy) * stride;
    const std::uint8_t* r1 = r0 + stride;
    for (int qx = 0; qx < tileWidth / 2; ++qx) {
      TileQuad tq;
      tq.q = {r0[2 * qx], r0[2 * qx + 1], r1[2 * qx], r1[2 * qx + 1]};
      for (int t = 0; t < 4; ++t) tq.placed[t] = Place(tq.q, t);
      quads.push_back(tq);
    }
  }
  std::uint8_t* const o = out.data();

  // 1. Collect.
  Quad work[256];
  int usage[256] = {};
  int n = 0;
  for (const TileQuad& q : quads) {
    bool found = false;
    for (int t = 3; t >= 0 && !found; --t) {
      for (int j = 0; j < n; ++j) {
        const Quad& e = q.placed[t];
        if (work[j][0] == e[0] && work[j][1] == e[1] && work[j][2] == e[2] && work[j][3] == e[3]) {
          if (usage[j] < t) usage[j] = t;
          found = true;
          break;
        }
      }
    }
    if (found) continue;
    if (n == 254) return -1;
    work[n++] = q.q;
  }

  // 2. Order by usage class 1, 2, 3, 0.
  o[0] = static_cast<std::uint8_t>(n);
  int written = 0;
  for (int cls : {1, 2, 3, 0}) {
    for (int j = 0; j < n; ++j) {
      if (usage[j] != cls) continue;
      for (int b = 0; b < 4; ++b) o[1 + 4 * written + b] = work[j][b];
      ++written;
    }
  }

  // 3. Refine, at most ten passes.
  for (int pass = 0; pass < 10; ++pass) {
    bool appended = false;
    for (const TileQuad& q : quads) {
      const int literal = FirstMatchLiteral(o, n, q);
      if (literal >= 0 && literal <= 254) continue;
      if (n == 254) return -1;
      for (int b = 0; b < 4; ++b) o[1 + 4 * n + b] = q.q[b];
      o[0] = static_cast<std::uint8_t>(++n);
      appended = true;
    }
    if (!appended) break;
  }

  // 4. Index: one byte per quad.
  const int start = 1 + 4 * n;
  int end = start;
  for (const TileQuad& q : quads) {
    const int literal = FirstMatchLiteral(o, n, q);
    if (literal < 0 || literal > 254) return -1;
    o[end++] = static_cast<std::uint8_t>(literal);
  }

  // 5. Shorten runs in place.
  int r = start;
  int w = start;
  while (r < end) {
    int count = 1;
    while (r + count < end && count < 256 && o[r + count] == o[r]) ++count;
    if (count >= 4) {
      const std::uint8_t v = o[r];
      o[w++] = v;
      o[w++] = 0xFF;
      o[w++] = static_cast<std::uint8_t>(count - 1);
      r += count;
    } else {
      o[w++] = o[r++];
    }
  }
  return w;
}

}  // namespace testing_support
