// The reader's walk over the ovk container (the layout is in ovk/layout.h).
#include "ovk/layout.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "io/byte_reader.h"
#include "ovk/tile_codec.h"
#include "pack/packed_format.h"
#include "raster/bmp_image.h"

namespace ovk {

namespace {

bool IsReadableVersion(std::uint32_t version) {
  return version == kVersion1000 || version == kVersion1001 || version == kVersion1002 ||
         version == kVersion1004 || version == kVersion1005 || version == kVersion1006;
}

// True when the packed data of `s` could produce `bytes` of content.
bool Producible(const Section& s, std::uint64_t bytes) {
  return bytes <= kMaxUnpackRatio * s.data.size();
}

// Takes the packed section at the reader's position and moves past it
// (sectionSize + 4 bytes). False when its header or data runs past the end of
// the file, sectionSize is below 8, or the data could not produce the content
// it claims.
bool TakePackedSection(ByteReader& r, Section* s) {
  std::uint32_t sectionSize = 0;
  if (!r.ReadU32(&sectionSize) || !r.ReadU32(&s->unpackedSize) || !r.ReadU32(&s->blockCount)) {
    return false;
  }
  if (sectionSize < packed::kSectionSizeBias) return false;
  s->packed = true;
  return r.Take(sectionSize - packed::kSectionSizeBias, &s->data) &&
         Producible(*s, s->unpackedSize);
}

// A palette section's content: 1 to 256 entries of 4 bytes.
bool IsPaletteSize(std::uint32_t bytes) {
  return bytes > 0 && bytes <= static_cast<std::uint32_t>(kPaletteAreaBytes) &&
         bytes % kPaletteEntryBytes == 0;
}

// Version 1006: the tiles cover the picture, and `tileData` bytes can hold
// the shortest coding of every tile.
bool TilesBackPicture(const OvkHeader& h, std::uint64_t tileData) {
  // A tile of 2^31 pixels or more on a side is wider than any plane, and a
  // 1 x n tile has no quads.
  if (h.tileWidthLog2 < 1 || h.tileHeightLog2 < 1 || h.tileWidthLog2 > 30 ||
      h.tileHeightLog2 > 30) {
    return false;
  }
  const std::int64_t tileWidth = std::int64_t{1} << h.tileWidthLog2;
  const std::int64_t tileHeight = std::int64_t{1} << h.tileHeightLog2;
  const std::int64_t across = IndexRowStride(h.width) / tileWidth;
  const std::int64_t down = h.height / tileHeight;
  if (across * tileWidth < h.width || down * tileHeight < h.height) return false;
  const std::uint64_t tiles = static_cast<std::uint64_t>(across * down);
  const std::uint64_t quads = static_cast<std::uint64_t>(tileWidth / 2 * (tileHeight / 2));
  // The sides are below 2^15, so a covering tile is at most 2^15 x 2^14
  // pixels and there are fewer than 2^28 tiles: no product here nears 2^64.
  return tiles * ShortestTileBytes(quads) <= tileData;
}

// True when the sections of `s` can back the picture its header describes
// (the rules are listed in ovk/layout.h). Version 1006 is checked by
// TilesBackPicture.
bool PlaneIsBacked(const OvkSections& s) {
  const OvkHeader& h = s.header;
  const std::int32_t stride = IndexRowStride(h.width);
  const std::uint64_t height = static_cast<std::uint64_t>(h.height);
  const std::uint64_t stride8 = static_cast<std::uint64_t>(stride);
  switch (h.version) {
    case kVersion1001:
      return Producible(s.pixels, static_cast<std::uint64_t>(RowStride(h.width, 16)) * height);
    case kVersion1002:
      return Producible(s.pixels, stride8 * height);
    case kVersion1004:
      return Producible(s.pixels, static_cast<std::uint64_t>(BlockOrderBytes(h.height, stride)));
    case kVersion1005: {
      const std::uint64_t blocks = (stride8 / kBlockWidth) * (height / kBlockHeight);
      return blocks > 0 && s.pixels.unpackedSize >= blocks / 2 + 1;
    }
    default:  // 1000: the walk has taken the whole raw plane from the file
      return true;
  }
}

}  // namespace

std::int64_t BlockOrderBytes(std::int32_t height, std::int32_t stride) {
  if (height <= 0 || stride <= 0) return 0;
  return (static_cast<std::int64_t>(height) + 7) / kBlockHeight * kBlockHeight * stride;
}

Error ReadOvkHeader(std::span<const std::uint8_t> file, OvkHeader* h) {
  *h = OvkHeader{};
  ByteReader r(file);
  if (!r.ReadU32(&h->version) || !IsReadableVersion(h->version)) return Error{Fault::kNotOvk};

  if (h->version == kVersion1006) {
    h->headerSize = kCcpiHeaderSize;
    std::span<const std::uint8_t> magic;
    std::uint16_t reserved1 = 0;
    std::int16_t paletteCount = 0, width = 0, height = 0;
    std::uint8_t reserved2 = 0;
    if (!r.ReadU32(&h->streamSize) || !r.Take(4, &magic) || !r.ReadU16(&reserved1) ||
        !r.ReadS16(&paletteCount) || !r.ReadU8(&h->tileWidthLog2) ||
        !r.ReadU8(&h->tileHeightLog2) || !r.ReadS16(&width) || !r.ReadS16(&height) ||
        !r.ReadU8(&reserved2) || !r.ReadU8(&h->flags)) {
      return Error{Fault::kDamaged};
    }
    if (std::memcmp(magic.data(), kCcpiMagic, 4) != 0 || (h->flags & kCcpiFlagsReservedMask) != 0) {
      return Error{Fault::kNotOvk};
    }
    h->paletteCount = paletteCount;
    h->width = width;
    h->height = height;
  } else {
    h->headerSize = (h->version == kVersion1004 || h->version == kVersion1005) ? kLargeHeaderSize
                                                                               : kSmallHeaderSize;
    if (!r.ReadS32(&h->width) || !r.ReadS32(&h->height) ||
        !r.Seek(static_cast<std::size_t>(h->headerSize))) {
      return Error{Fault::kDamaged};
    }
  }

  const std::int64_t pixels = static_cast<std::int64_t>(h->width) * h->height;
  if (pixels == 0) return Error{Fault::kNotOvk};
  if (h->width < 0 || h->height < 0) return Error{Fault::kDamaged};
  // Both sides are below 2^31, so the product fits in 62 bits; the limit is
  // tested by division so that 4 * pixels is never formed out of range.
  constexpr std::int64_t kMaxPixels =
      (std::numeric_limits<std::int32_t>::max() - kImageHeaderRoom) / 4;
  if (pixels > kMaxPixels) return Error{Fault::kDamaged};
  h->imageBytes = static_cast<std::int32_t>(4 * pixels + kImageHeaderRoom);
  return kNoError;
}

Error WalkOvk(std::span<const std::uint8_t> file, OvkSections* out) {
  *out = OvkSections{};
  const Error header = ReadOvkHeader(file, &out->header);
  if (!header.ok()) return header;
  const OvkHeader& h = out->header;
  ByteReader r(file);
  r.Seek(static_cast<std::size_t>(h.headerSize));

  switch (h.version) {
    case kVersion1000: {
      const std::int64_t planeBytes = static_cast<std::int64_t>(IndexRowStride(h.width)) * h.height;
      if (!r.Take(kPaletteAreaBytes, &out->palette.data) ||
          !r.Take(static_cast<std::size_t>(planeBytes), &out->pixels.data)) {
        return Error{Fault::kDamaged};
      }
      return kNoError;
    }
    case kVersion1001:
      return TakePackedSection(r, &out->pixels) && PlaneIsBacked(*out) ? kNoError
                                                                       : Error{Fault::kDamaged};
    case kVersion1002:
    case kVersion1004:
    case kVersion1005: {
      if (!TakePackedSection(r, &out->palette) || !IsPaletteSize(out->palette.unpackedSize)) {
        return Error{Fault::kDamaged};
      }
      if (h.version == kVersion1005 && !r.Skip(k1005SkippedBytes)) return Error{Fault::kDamaged};
      if (!TakePackedSection(r, &out->pixels)) return Error{Fault::kDamaged};
      return PlaneIsBacked(*out) ? kNoError : Error{Fault::kDamaged};
    }
    default:
      break;
  }

  // Version 1006: the tile stream is the palette, then the tile data.
  if (h.paletteCount <= 0 || h.paletteCount > kMaxPaletteEntries) return Error{Fault::kDamaged};
  const std::uint32_t paletteBytes =
      static_cast<std::uint32_t>(h.paletteCount) * kPaletteEntryBytes;
  if (h.flags == kCcpiFlagPacked) {
    if (!TakePackedSection(r, &out->palette) || out->palette.unpackedSize < paletteBytes ||
        !TilesBackPicture(h, out->palette.unpackedSize - paletteBytes)) {
      return Error{Fault::kDamaged};
    }
    return kNoError;
  }
  // Raw: streamSize counts the header bytes after it, the palette and the
  // tile data.
  const std::uint64_t streamSize = h.streamSize;
  if (streamSize < kCcpiStreamSizeBias + static_cast<std::uint64_t>(paletteBytes)) {
    return Error{Fault::kDamaged};
  }
  if (!r.Take(paletteBytes, &out->palette.data) ||
      !r.Take(static_cast<std::size_t>(streamSize - kCcpiStreamSizeBias - paletteBytes),
              &out->pixels.data) ||
      !TilesBackPicture(h, out->pixels.data.size())) {
    return Error{Fault::kDamaged};
  }
  return kNoError;
}

}  // namespace ovk
