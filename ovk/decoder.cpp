// DecodeOvk: an ovk file in memory to a BmpImage in memory.
//
// The caller's walk (WalkOvk, ovk/layout.cpp) has checked the header and found
// every section inside the file; the decoder works from that description. Packed sections are
// unpacked into zero-filled buffers with 100 spare bytes; content that the packed data does not
// produce stays zero. The per-version step fills the target plane: the BmpImage's pixel area in the
// 8- and 16-bit forms, a separate top-down index plane in the 32-bit form of a palette version,
// which is then expanded through the palette and the transparency mask.
#include "ovk/decoder.h"

#include <algorithm>
#include <cstring>

#include "io/byte_order.h"
#include "io/cbuffer.h"
#include "ovk/block1005.h"
#include "ovk/layout.h"
#include "ovk/tile_codec.h"
#include "pack/unpack.h"
#include "raster/bmp_image.h"

namespace ovk {

namespace {

constexpr Error kNoWorkingMemory{Fault::kNoWorkingMemory};
constexpr Error kDamaged{Fault::kDamaged};

// Spare zero bytes behind every unpacked section.
constexpr std::int64_t kUnpackMargin = 100;

std::span<const std::uint8_t> Bytes(const Cbuffer& b, std::size_t n) {
  return {b.data(), n};
}

// Unpacks `s` into `out`. The buffer holds max(unpackedSize, `room`) bytes
// plus the margin, all zero first; `limit` (when not negative) caps the
// decoder's capacity, for content of which only the first `limit` bytes are
// ever read. How the stream ended goes into `report` (when given): the
// content it did not produce stays zero either way. False when the buffer
// cannot be allocated.
bool Unpack(const Section& s, std::int64_t room, std::int64_t limit, Cbuffer& out,
            DecodeReport* report) {
  std::int64_t capacity = s.unpackedSize;
  if (limit >= 0) capacity = std::min(capacity, limit);
  std::int64_t bytes = std::max(capacity, room) + kUnpackMargin;
  if (bytes > INT32_MAX || out.Alloc(static_cast<std::int32_t>(bytes)) == nullptr) return false;
  UnpackEnd end = UnpackEnd::kComplete;
  const std::uint32_t reached =
      UnpackBlocks(out.span(), static_cast<std::uint32_t>(capacity), s.data, s.blockCount, &end);
  if (report != nullptr) {
    ++report->packedSections;
    if (end != UnpackEnd::kComplete) {
      report->worstEnd = std::max(report->worstEnd, end);
      report->missingBytes +=
          static_cast<std::uint64_t>(capacity) -
          std::min<std::uint64_t>(reached, static_cast<std::uint64_t>(capacity));
    }
  }
  return true;
}

// The version-1006 tile loop over the top-down plane `target`. The walk has
// found that the tiles cover the picture; false for tile data that is not
// well-formed.
bool DecodeTiles(const OvkHeader& h, std::span<const std::uint8_t> tiles, std::uint8_t* target,
                 std::int32_t stride) {
  if (h.tileWidthLog2 > 30 || h.tileHeightLog2 > 30) return false;
  const std::int32_t tileWidth = std::int32_t{1} << h.tileWidthLog2;
  const std::int32_t tileHeight = std::int32_t{1} << h.tileHeightLog2;
  const std::int32_t across = stride / tileWidth;
  const std::int32_t down = h.height / tileHeight;
  std::size_t offset = 0;
  for (std::int32_t j = 0; j < down; ++j) {
    for (std::int32_t i = 0; i < across; ++i) {
      std::uint8_t* dest =
          target + static_cast<std::size_t>(j * tileHeight) * static_cast<std::size_t>(stride) +
          static_cast<std::size_t>(i * tileWidth);
      std::int32_t used = DecodeTile(tiles.subspan(offset), dest, tileWidth, tileHeight, stride);
      if (used < 0 || static_cast<std::size_t>(used) > tiles.size() - offset) return false;
      offset += static_cast<std::size_t>(used);
    }
  }
  return true;
}

// The palette as stored, in a 256-entry table preset to zero so that every
// index byte names an entry inside it, and for version 1006 the tile data.
struct PaletteAndTiles {
  std::uint8_t palette[kPaletteAreaBytes] = {};
  std::uint32_t paletteBytes = 0;
  Cbuffer stream;  // version 1006 packed: the whole tile stream
  std::span<const std::uint8_t> tiles;
};

// Reads the palette (and, for 1006, finds the tile data). False when a
// working buffer cannot be allocated.
bool ReadPalette(const OvkSections& s, PaletteAndTiles& out, DecodeReport* report) {
  const std::uint32_t version = s.header.version;
  if (version == kVersion1000 || (version == kVersion1006 && !s.palette.packed)) {
    out.paletteBytes = static_cast<std::uint32_t>(s.palette.data.size());
    std::memcpy(out.palette, s.palette.data.data(), out.paletteBytes);
    if (version == kVersion1006) out.tiles = s.pixels.data;
  } else if (version == kVersion1006) {
    out.paletteBytes = static_cast<std::uint32_t>(s.header.paletteCount) * kPaletteEntryBytes;
    if (!Unpack(s.palette, 0, -1, out.stream, report)) return false;
    std::memcpy(out.palette, out.stream.data(), out.paletteBytes);
    out.tiles = Bytes(out.stream, s.palette.unpackedSize).subspan(out.paletteBytes);
  } else if (version != kVersion1001) {
    Cbuffer packed;
    if (!Unpack(s.palette, 0, -1, packed, report)) return false;
    out.paletteBytes = s.palette.unpackedSize;
    std::memcpy(out.palette, packed.data(), out.paletteBytes);
  }
  return true;
}

// Writes the BMP header fields from bfOffBits on for a picture of `bitCount`
// bits with `paletteBytes` of palette before its pixels, and returns the
// pixel area; empty when it does not fit `image`.
std::span<std::uint8_t> WriteImageHeader(std::span<std::uint8_t> image, const OvkHeader& h,
                                         std::int32_t bitCount, std::uint32_t paletteBytes) {
  std::uint8_t* const img = image.data();
  const std::uint32_t offBits = bmp::kHeadersSize + paletteBytes;
  const std::int32_t stride = RowStride(h.width, bitCount);
  const std::uint32_t sizeImage =
      static_cast<std::uint32_t>(stride) * static_cast<std::uint32_t>(h.height);
  if (static_cast<std::size_t>(offBits) + sizeImage > image.size()) return {};
  if (paletteBytes != 0) bmp::PutU32(img, bmp::kBiClrUsed, paletteBytes / 4);
  bmp::PutU32(img, bmp::kBfOffBits, offBits);
  bmp::PutS32(img, bmp::kBiWidth, h.width);
  bmp::PutS32(img, bmp::kBiHeight, h.height);
  bmp::PutU16(img, bmp::kBiBitCount, static_cast<std::uint16_t>(bitCount));
  bmp::PutU32(img, bmp::kBiSizeImage, sizeImage);
  bmp::PutU32(img, bmp::kBfSize, sizeImage + offBits);
  return image.subspan(offBits, sizeImage);
}

// The planes the pixel step writes: `target` (the pixel area, or the index
// plane that the 32-bit expansion reads), `pixelArea` for version 1001's
// direct 32-bit output, and version 1005's transparency mask.
struct Planes {
  std::span<std::uint8_t> target;
  std::span<std::uint8_t> pixelArea;
  std::span<std::uint8_t> mask;
};

// The per-version pixel step: fills the planes from the pixel section (or
// the 1006 tiles) as rows bottom-up.
Error DecodePixels(const OvkSections& s, const PaletteAndTiles& p, const Planes& planes,
                   bool form32, DecodeReport* report) {
  const OvkHeader& h = s.header;
  const std::int32_t stride8 = IndexRowStride(h.width);
  const std::span<std::uint8_t> target = planes.target;
  switch (h.version) {
    case kVersion1000:
      std::memcpy(target.data(), s.pixels.data.data(),
                  std::min(target.size(), s.pixels.data.size()));
      FlipRows(h.height, stride8, target.data());
      return kNoError;
    case kVersion1001:
    case kVersion1002: {
      const bool direct = h.version == kVersion1001;
      const std::int32_t srcStride = direct ? RowStride(h.width, 16) : stride8;
      const std::int64_t planeBytes = static_cast<std::int64_t>(srcStride) * h.height;
      Cbuffer pixels;
      if (!Unpack(s.pixels, planeBytes, planeBytes, pixels, report)) return kNoWorkingMemory;
      if (direct && form32) {
        Expand16To32(planes.pixelArea, pixels.span(), h.width, h.height);
        return kNoError;
      }
      std::memcpy(target.data(), pixels.data(),
                  std::min<std::size_t>(target.size(), s.pixels.unpackedSize));
      FlipRows(h.height, srcStride, target.data());
      return kNoError;
    }
    case kVersion1004: {
      const std::int64_t blockBytes = BlockOrderBytes(h.height, stride8);
      Cbuffer pixels;
      if (!Unpack(s.pixels, blockBytes, blockBytes, pixels, report)) return kNoWorkingMemory;
      BlocksToRows(h.height, stride8, target, pixels.span());
      return kNoError;
    }
    case kVersion1005: {
      Cbuffer pixels;
      if (!Unpack(s.pixels, 0, -1, pixels, report)) return kNoWorkingMemory;
      if (!DecodeBlocks1005(Bytes(pixels, s.pixels.unpackedSize), target, planes.mask,
                            {p.palette, p.paletteBytes}, h.width, h.height, stride8, form32)) {
        return kDamaged;
      }
      return kNoError;
    }
    default:  // 1006
      if (!DecodeTiles(h, p.tiles, target.data(), stride8)) return kDamaged;
      FlipRows(h.height, stride8, target.data());
      return kNoError;
  }
}

// The 32-bit expansion through the palette and the transparency mask: each
// index picks its 4-byte entry (blue, green, red, alpha) from the 256-entry
// table, whose entries past the palette are zero; a transparent pixel is
// four zero bytes. `mask` (empty when every pixel is opaque) is turned
// bottom-up like the indices.
void ExpandThroughPalette(const OvkHeader& h, const std::uint8_t* palette,
                          std::span<const std::uint8_t> indexPlane, std::span<std::uint8_t> mask,
                          std::span<std::uint8_t> pixelArea) {
  const std::int32_t stride8 = IndexRowStride(h.width);
  std::uint32_t entries[kMaxPaletteEntries];
  std::memcpy(entries, palette, sizeof entries);
  const std::uint8_t* maskRows = nullptr;
  if (!mask.empty()) {
    FlipRows(h.height, stride8, mask.data());
    maskRows = mask.data();
  }
  std::uint8_t* out = pixelArea.data();
  for (std::int32_t y = 0; y < h.height; ++y) {
    const std::size_t row = static_cast<std::size_t>(y) * static_cast<std::size_t>(stride8);
    const std::uint8_t* index = indexPlane.data() + row;
    for (std::int32_t x = 0; x < h.width; ++x, out += 4) {
      const std::uint32_t v =
          (maskRows == nullptr || maskRows[row + static_cast<std::size_t>(x)] != 0)
              ? entries[index[x]]
              : 0;
      std::memcpy(out, &v, 4);
    }
  }
}

}  // namespace

bool BlocksToRows(std::int32_t height, std::int32_t stride, std::span<std::uint8_t> target,
                  std::span<const std::uint8_t> source) {
  if (height < 0 || stride < 0) return false;
  if (target.size() < static_cast<std::size_t>(height) * static_cast<std::size_t>(stride) ||
      source.size() < static_cast<std::size_t>(BlockOrderBytes(height, stride))) {
    return false;
  }
  const std::int32_t bands = (height + 7) / 8;
  const std::int32_t blocksPerBand = stride / kBlockWidth;
  for (std::int32_t b = 0; b < bands; ++b) {
    const std::uint8_t* block = source.data() + static_cast<std::size_t>(b * kBlockHeight) *
                                                    static_cast<std::size_t>(stride);
    // Rows of the last band below the picture are present but carry nothing.
    const std::int32_t rows = std::min(kBlockHeight, height - kBlockHeight * b);
    for (std::int32_t i = 0; i < blocksPerBand; ++i, block += kBlockBytes) {
      for (std::int32_t r = 0; r < rows; ++r) {
        const std::int32_t y = kBlockHeight * b + r;
        std::uint8_t* row = target.data() + static_cast<std::size_t>(height - 1 - y) *
                                                static_cast<std::size_t>(stride);
        std::memcpy(row + kBlockWidth * i, block + r * kBlockWidth, kBlockWidth);
      }
    }
  }
  return true;
}

bool Expand16To32(std::span<std::uint8_t> target, std::span<const std::uint8_t> source,
                  std::int32_t width, std::int32_t height) {
  if (width < 0 || height < 0) return false;
  const std::int32_t srcStride = RowStride(width, 16);
  if (srcStride < 0) return false;
  const std::size_t rowOut = 4 * static_cast<std::size_t>(width);
  if (target.size() < rowOut * static_cast<std::size_t>(height) ||
      source.size() < static_cast<std::size_t>(srcStride) * static_cast<std::size_t>(height)) {
    return false;
  }
  // One rule for every channel: the masked bits shifted down give v, and a
  // channel of w bits scales as ((2^w - 1) / 2 + 255 * v) / (2^w - 1).
  struct Channel {
    std::uint16_t mask;
    int shift;
    std::uint8_t table[32];
  };
  Channel channels[4] = {{0x001F, 0, {}}, {0x03E0, 5, {}}, {0x7C00, 10, {}}, {0x8000, 15, {}}};
  for (Channel& c : channels) {
    const int top = c.mask >> c.shift;  // 2^w - 1
    for (int v = 0; v <= top; ++v)
      c.table[v] = static_cast<std::uint8_t>((top / 2 + 255 * v) / top);
  }
  for (std::int32_t y = 0; y < height; ++y) {
    const std::uint8_t* in = source.data() + static_cast<std::size_t>(height - 1 - y) *
                                                 static_cast<std::size_t>(srcStride);
    std::uint8_t* out = target.data() + static_cast<std::size_t>(y) * rowOut;
    for (std::int32_t x = 0; x < width; ++x, in += 2, out += 4) {
      const std::uint16_t p = LoadU16(in);
      for (int k = 0; k < 4; ++k)
        out[k] = channels[k].table[(p & channels[k].mask) >> channels[k].shift];
    }
  }
  return true;
}

Error DecodeOvk(std::span<std::uint8_t> image, const OvkSections& s, PixelForm form,
                DecodeReport* report) {
  const OvkHeader& h = s.header;
  if (image.size() < static_cast<std::size_t>(h.imageBytes)) return kNoWorkingMemory;
  if (report != nullptr) *report = DecodeReport{};
  const bool form32 = form == PixelForm::k32Bit;
  const bool hasPalette = h.version != kVersion1001;
  const std::size_t plane8 =
      static_cast<std::size_t>(IndexRowStride(h.width)) * static_cast<std::size_t>(h.height);

  PaletteAndTiles p;
  if (!ReadPalette(s, p, report)) return kNoWorkingMemory;
  const std::int32_t bitCount = form32 ? 32 : hasPalette ? 8 : 16;
  const std::span<std::uint8_t> pixelArea =
      WriteImageHeader(image, h, bitCount, form32 ? 0 : p.paletteBytes);
  if (pixelArea.data() == nullptr) return kNoWorkingMemory;

  // Working planes. Only version 1005 ever marks a pixel transparent; for
  // the others the mask would stay all 1 and is not needed.
  Cbuffer mask, indexPlane;
  if (h.version == kVersion1005) {
    if (mask.Alloc(static_cast<std::int32_t>(plane8)) == nullptr) return kNoWorkingMemory;
    std::memset(mask.data(), 1, plane8);
    AccumulatePalette(p.palette, static_cast<std::int32_t>(p.paletteBytes / 4));
  }
  const bool expand = form32 && hasPalette;
  if (expand && indexPlane.Alloc(static_cast<std::int32_t>(plane8)) == nullptr) {
    return kNoWorkingMemory;
  }

  // Palette output: in the image for the 8-bit form, as blue, green, red,
  // alpha for the expansion.
  if (hasPalette) {
    if (form32) {
      SwapRedBlue(p.palette, static_cast<std::int32_t>(p.paletteBytes / 4));
    } else {
      std::memcpy(image.data() + bmp::kPaletteOffset, p.palette, p.paletteBytes);
    }
  }

  const Planes planes{expand ? indexPlane.span() : pixelArea, pixelArea, mask.span()};
  if (const Error e = DecodePixels(s, p, planes, form32, report); !e.ok()) return e;
  if (expand) ExpandThroughPalette(h, p.palette, indexPlane.span(), mask.span(), pixelArea);
  return kNoError;
}

}  // namespace ovk
