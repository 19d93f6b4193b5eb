// Version-1005 block decoding (the coding is described in ovk/block1005.h).
#include "ovk/block1005.h"

#include <algorithm>
#include <cstring>

#include "raster/bmp_image.h"

namespace ovk {

namespace {

constexpr int kBlockW = 16;
constexpr int kBlockH = 8;
constexpr int kBlockPixels = kBlockW * kBlockH;
constexpr int kMode0Bytes = 64;
constexpr int kRunLists = 16;
constexpr std::uint8_t kListEnd = 0xFF;
constexpr std::uint8_t kKindRuns = 1;
constexpr int kAlphaByte = 3;

// Where a block's pixels go: its top-left byte in the top-down plane.
std::size_t BlockOrigin(std::size_t n, std::size_t across, std::int32_t stride) {
  return (n / across) * kBlockH * static_cast<std::size_t>(stride) + (n % across) * kBlockW;
}

std::uint8_t Code(std::span<const std::uint8_t> content, std::size_t n) {
  std::uint8_t b = content[n / 2];
  return (n % 2 == 0) ? static_cast<std::uint8_t>(b >> 4) : static_cast<std::uint8_t>(b & 0x0F);
}

// Mode 0: 64 bytes of two nibbles each, nibble t naming table byte t.
bool DecodeMode0(std::span<const std::uint8_t> content, std::size_t data, std::size_t table,
                 std::uint8_t* origin, std::int32_t stride) {
  if (kMode0Bytes > content.size() - data) return false;
  for (int r = 0; r < kBlockH; ++r) {
    std::uint8_t* row = origin + static_cast<std::size_t>(r) * static_cast<std::size_t>(stride);
    for (int j = 0; j < kBlockW / 2; ++j) {
      std::uint8_t b = content[data + static_cast<std::size_t>(r * (kBlockW / 2) + j)];
      std::size_t hi = table + (b >> 4);
      std::size_t lo = table + (b & 0x0F);
      if (hi >= content.size() || lo >= content.size()) return false;
      row[2 * j] = content[hi];
      row[2 * j + 1] = content[lo];
    }
  }
  return true;
}

// The length of a mode-2 block at `data`: up to and including its 16th byte
// 0xFF, the kind byte counting as well. 0 when the content ends first.
std::size_t Mode2Length(std::span<const std::uint8_t> content, std::size_t data) {
  int ends = 0;
  for (std::size_t p = data; p < content.size(); ++p) {
    if (content[p] == kListEnd && ++ends == kRunLists) return p - data + 1;
  }
  return 0;
}

// Mode 2: the block's run lists, painted into a 128-pixel scratch block.
bool DecodeMode2(std::span<const std::uint8_t> content, std::size_t data, std::size_t length,
                 std::size_t table, std::uint8_t* origin, std::int32_t stride) {
  std::uint8_t scratch[kBlockPixels] = {};
  if (content[data] == kKindRuns) {
    const std::size_t end = data + length;
    std::size_t p = data + 1;
    std::size_t colour = 0;
    std::size_t position = 0;
    bool firstPair = true;
    while (p < end) {
      std::uint8_t skip = content[p++];
      if (skip == kListEnd) {
        ++colour;
        position = 0;
        firstPair = true;
        continue;
      }
      // The block ends with a 0xFF, so a skip byte always has a length byte
      // after it inside the block; a list number stays below 16 for the same
      // reason.
      std::uint8_t runLength = content[p++];
      if (table + colour >= content.size()) return false;
      std::uint8_t index = content[table + colour];
      position += firstPair ? skip : skip + 1u;
      firstPair = false;
      for (std::size_t c = 0; c <= runLength; ++c, ++position) {
        if (position < kBlockPixels) scratch[position] = index;
      }
    }
  }
  for (int r = 0; r < kBlockH; ++r) {
    std::memcpy(origin + static_cast<std::size_t>(r) * static_cast<std::size_t>(stride),
                scratch + r * kBlockW, kBlockW);
  }
  return true;
}

}  // namespace

void AccumulatePalette(std::uint8_t* entries, std::int32_t count) {
  std::uint32_t sum = 0;
  for (std::int32_t i = 0; i < count; ++i) {
    std::uint8_t* e = entries + 4 * static_cast<std::size_t>(i);
    sum += bmp::GetU32(e, 0);
    bmp::PutU32(e, 0, sum);
  }
}

bool DecodeBlocks1005(std::span<const std::uint8_t> content, std::span<std::uint8_t> target,
                      std::span<std::uint8_t> mask, std::span<const std::uint8_t> palette,
                      std::int32_t width, std::int32_t height, std::int32_t stride, bool form32) {
  if (width < 0 || height < 0 || stride < width) return false;
  const std::size_t planeBytes =
      static_cast<std::size_t>(stride) * static_cast<std::size_t>(height);
  if (target.size() < planeBytes || mask.size() < planeBytes) return false;

  const std::size_t across = static_cast<std::size_t>(stride) / kBlockW;
  const std::size_t blocks = across * (static_cast<std::size_t>(height) / kBlockH);
  const std::size_t mapBytes = blocks / 2;

  // Map pass: the size of the colour tables, and the empty blocks cleared in
  // the mask.
  std::size_t tableBytes = 0;
  for (std::size_t n = 0; n < blocks; ++n) {
    if (n / 2 >= content.size()) return false;
    std::uint8_t q = Code(content, n);
    if (q != 0) {
      tableBytes += q + 1u;
      continue;
    }
    std::uint8_t* origin = mask.data() + BlockOrigin(n, across, stride);
    for (int r = 0; r < kBlockH; ++r) {
      std::memset(origin + static_cast<std::size_t>(r) * static_cast<std::size_t>(stride), 0,
                  kBlockW);
    }
  }

  const std::size_t modeAt = mapBytes + tableBytes;
  if (modeAt >= content.size()) return false;
  const std::uint8_t mode = content[modeAt];
  if (mode != 0 && mode != 2) return true;  // nothing decoded, no transparent fill

  std::size_t table = mapBytes;
  std::size_t data = modeAt + 1;
  for (std::size_t n = 0; n < blocks; ++n) {
    std::uint8_t q = Code(content, n);
    if (q == 0) continue;
    std::uint8_t* origin = target.data() + BlockOrigin(n, across, stride);
    if (data >= content.size()) return false;
    if (mode == 0) {
      if (!DecodeMode0(content, data, table, origin, stride)) return false;
      data += kMode0Bytes;
    } else {
      std::size_t length = Mode2Length(content, data);
      if (length == 0 || !DecodeMode2(content, data, length, table, origin, stride)) return false;
      data += length;
    }
    table += q + 1u;
  }

  if (!form32) {
    const std::size_t entries = palette.size() / 4;
    for (std::size_t e = 0; e < entries && e <= 0xFF; ++e) {
      if (palette[4 * e + kAlphaByte] != 0) continue;
      for (std::int32_t y = 0; y < height; ++y) {
        const std::size_t row = static_cast<std::size_t>(y) * static_cast<std::size_t>(stride);
        for (std::int32_t x = 0; x < width; ++x) {
          if (mask[row + static_cast<std::size_t>(x)] == 0)
            target[row + static_cast<std::size_t>(x)] = static_cast<std::uint8_t>(e);
        }
      }
      break;
    }
  }
  FlipRows(height, stride, target.data());
  return true;
}

}  // namespace ovk
