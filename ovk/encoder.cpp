#include "ovk/encoder.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>

#include "io/byte_order.h"
#include "io/cbuffer.h"
#include "ovk/layout.h"
#include "ovk/rows_to_blocks.h"
#include "ovk/tile_codec.h"
#include "pack/pack.h"
#include "pack/packed_format.h"
#include "raster/bmp_image.h"

namespace ovk {

namespace {

constexpr std::int32_t kBmpBitCount = 8;
constexpr std::int32_t kSizeMultiple = 16;

// Version 1006 tile sizes: the exponents start at these caps and, when a tile
// cannot be coded, those above the floor come down by one and every tile is
// coded again.
constexpr int kMaxTileWidthLog2 = 7;
constexpr int kMaxTileHeightLog2 = 6;
constexpr int kRetryFloorLog2 = 5;

// Hands the ovk file's pieces to the sink and keeps the first failure.
class Emitter {
 public:
  Emitter(const OvkSink& sink, std::int32_t blockSize) : sink_(sink), blockSize_(blockSize) {}

  Error status() const { return status_; }
  bool ok() const { return status_.ok(); }

  void Raw(std::span<const std::uint8_t> bytes) {
    if (ok() && !sink_(bytes)) status_ = {Fault::kWriteFailed};
  }

  // A packed section: its 12-byte header, then the packed data.
  void Packed(std::span<const std::uint8_t> content) {
    if (!ok()) return;
    const std::size_t bound = PackBound(content.size());
    Cbuffer packed;
    if (!Allocate(packed, bound)) return;
    std::uint32_t blockCount = 0;
    const std::int64_t n = PackBlocks(content, packed.span(), blockSize_, &blockCount);
    if (n < 0 || static_cast<std::uint64_t>(n) > bound) {
      status_ = {Fault::kInternal};
      return;
    }
    std::uint8_t header[kPackedSectionHeaderSize];
    StoreU32(header + kOffSectionSize, static_cast<std::uint32_t>(n) + packed::kSectionSizeBias);
    StoreU32(header + kOffUnpackedSize, static_cast<std::uint32_t>(content.size()));
    StoreU32(header + kOffBlockCount, blockCount);
    Raw(header);
    Raw(packed.span().first(static_cast<std::size_t>(n)));
  }

  // Allocates `n` zero bytes, or records the failure.
  bool Allocate(Cbuffer& buffer, std::uint64_t n) {
    if (!ok()) return false;
    if (n > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max()) ||
        buffer.Alloc(static_cast<std::int32_t>(n)) == nullptr) {
      status_ = {Fault::kNoMemory, static_cast<std::int64_t>(n)};
      return false;
    }
    return true;
  }

  void Fail(Fault fault) {
    if (ok()) status_ = {fault};
  }

 private:
  const OvkSink& sink_;
  std::int32_t blockSize_;
  Error status_;
};

// The picture's rows in the order wanted: the caller's bytes when they stand
// in that order already, otherwise a reversed copy in `scratch`. An empty
// span after a failed allocation, which `out` records.
std::span<const std::uint8_t> RowsInOrder(const SourceImage& image, bool topDown, Cbuffer& scratch,
                                          Emitter& out) {
  const std::size_t rowBytes = static_cast<std::size_t>(image.width);
  const std::size_t rows = static_cast<std::size_t>(image.height);
  if (image.topDown == topDown) return {image.pixels, rowBytes * rows};
  if (!out.Allocate(scratch, rowBytes * rows)) return {};
  for (std::size_t y = 0; y < rows; ++y) {
    std::memcpy(scratch.data() + y * rowBytes, image.pixels + (rows - 1 - y) * rowBytes, rowBytes);
  }
  return scratch.span();
}

void SmallHeader(std::uint8_t* header, std::uint32_t version, const SourceImage& image) {
  StoreU32(header + kOffVersion, version);
  StoreU32(header + kOffWidth, static_cast<std::uint32_t>(image.width));
  StoreU32(header + kOffHeight, static_cast<std::uint32_t>(image.height));
}

// Codes every tile of the top-down plane `pixels` into `stream` from offset
// kPaletteAreaBytes. Returns the stream's length, -1 when a tile cannot be
// coded, or -2 when the stream has no room left (which its size rules out).
std::int64_t EncodeTiles(const std::uint8_t* pixels, std::int32_t width, std::int32_t height,
                         int widthLog2, int heightLog2, std::span<std::uint8_t> stream) {
  const std::int32_t tileWidth = 1 << widthLog2;
  const std::int32_t tileHeight = 1 << heightLog2;
  const std::size_t bound = TileEncodeBound(tileWidth, tileHeight);
  std::size_t offset = kPaletteAreaBytes;
  for (std::int32_t j = 0; j < height / tileHeight; ++j) {
    for (std::int32_t i = 0; i < width / tileWidth; ++i) {
      if (stream.size() - offset < bound) return -2;
      const std::uint8_t* tile =
          pixels + static_cast<std::size_t>(j * tileHeight) * static_cast<std::size_t>(width) +
          static_cast<std::size_t>(i * tileWidth);
      const std::int32_t n = EncodeTile(tile, width, tileWidth, tileHeight, stream.subspan(offset));
      if (n < 0) return -1;
      offset += static_cast<std::size_t>(n);
    }
  }
  return static_cast<std::int64_t>(offset);
}

void Write1006(const SourceImage& image, const OvkTarget& target,
               const std::uint8_t (&paletteArea)[kPaletteAreaBytes], Emitter& out,
               EncodeReport* report) {
  const std::int32_t width = image.width;
  const std::int32_t height = image.height;
  int widthLog2 = std::min(std::countr_zero(static_cast<std::uint32_t>(width)), kMaxTileWidthLog2);
  int heightLog2 =
      std::min(std::countr_zero(static_cast<std::uint32_t>(height)), kMaxTileHeightLog2);

  // Room for the palette area and every tile at its largest: a tile of Q quads
  // codes in at most 1 + 5Q bytes.
  const std::uint64_t pixelCount =
      std::uint64_t{static_cast<std::uint32_t>(width)} * static_cast<std::uint32_t>(height);
  Cbuffer work;
  if (!out.Allocate(work, 2 * (pixelCount + 1040))) return;
  std::memcpy(work.data(), paletteArea, kPaletteAreaBytes);
  Cbuffer scratch;
  const std::span<const std::uint8_t> pixels = RowsInOrder(image, true, scratch, out);
  if (!out.ok()) return;

  std::int64_t length;
  for (;;) {
    report->tileWidthLog2 = widthLog2;
    report->tileHeightLog2 = heightLog2;
    length = EncodeTiles(pixels.data(), width, height, widthLog2, heightLog2, work.span());
    if (length == -2) {
      out.Fail(Fault::kInternal);
      return;
    }
    if (length >= 0) break;
    ++report->tileOverflows;
    if (widthLog2 <= kRetryFloorLog2 && heightLog2 <= kRetryFloorLog2) {
      out.Fail(Fault::kTileOverflow);
      return;
    }
    if (widthLog2 > kRetryFloorLog2) --widthLog2;
    if (heightLog2 > kRetryFloorLog2) --heightLog2;
  }

  std::uint8_t header[kCcpiHeaderSize] = {};
  StoreU32(header + kOffVersion, kVersion1006);
  StoreU32(header + kCcpiOffStreamSize, static_cast<std::uint32_t>(length) + kCcpiStreamSizeBias);
  std::memcpy(header + kCcpiOffMagic, kCcpiMagic, sizeof kCcpiMagic);
  StoreU16(header + kCcpiOffReserved1, kCcpiReserved1);
  StoreU16(header + kCcpiOffPaletteCount, static_cast<std::uint16_t>(kCcpiPaletteCount));
  header[kCcpiOffTileWidthLog2] = static_cast<std::uint8_t>(widthLog2);
  header[kCcpiOffTileHeightLog2] = static_cast<std::uint8_t>(heightLog2);
  StoreU16(header + kCcpiOffWidth, static_cast<std::uint16_t>(width));
  StoreU16(header + kCcpiOffHeight, static_cast<std::uint16_t>(height));
  header[kCcpiOffReserved2] = kCcpiReserved2;
  header[kCcpiOffFlags] = target.packed ? kCcpiFlagPacked : 0;
  out.Raw(header);
  const auto stream = work.span().first(static_cast<std::size_t>(length));
  if (target.packed) {
    out.Packed(stream);
  } else {
    out.Raw(stream);
  }
}

}  // namespace

bool IsWritableShape(std::int32_t bitCount, std::int32_t width, std::int32_t rows,
                     const OvkTarget& target) {
  if (bitCount != kBmpBitCount || width <= 0 || rows <= 0 || width % kSizeMultiple != 0 ||
      rows % kSizeMultiple != 0) {
    return false;
  }
  return target.version != kVersion1006 || (width <= kMaxCcpiSide && rows <= kMaxCcpiSide);
}

Error ReadBmpSource(std::span<const std::uint8_t> bytes, const OvkTarget& target,
                    SourceImage* image) {
  *image = SourceImage{};
  // The headers as far as the file holds them; a field past its end reads 0.
  std::uint8_t headers[bmp::kHeadersSize] = {};
  std::memcpy(headers, bytes.data(), std::min<std::size_t>(bytes.size(), sizeof headers));
  const std::uint32_t headerSize = bmp::GetU32(headers, bmp::kBiSize);
  const std::uint32_t pixelOffset = bmp::GetU32(headers, bmp::kBfOffBits);
  const std::uint32_t compression = bmp::GetU32(headers, bmp::kBiCompression);
  const std::uint32_t colorCount = bmp::GetU32(headers, bmp::kBiClrUsed);
  image->bitCount = bmp::GetU16(headers, bmp::kBiBitCount);
  image->width = bmp::GetS32(headers, bmp::kBiWidth);
  image->height = bmp::GetS32(headers, bmp::kBiHeight);
  const std::int32_t width = image->width;
  const std::int32_t height = image->height;
  const Error unsupported{Fault::kUnsupportedImage, image->bitCount, width, height};

  // A negative height is a top-down file; the most negative one has no
  // positive form.
  if (height == std::numeric_limits<std::int32_t>::min()) return unsupported;
  const bool topDown = height < 0;
  const std::int32_t rows = topDown ? -height : height;
  if (bytes.size() < bmp::kHeadersSize || headerSize != bmp::kInfoHeaderSize ||
      !IsWritableShape(image->bitCount, width, rows, target)) {
    return unsupported;
  }
  // Beyond the shape: pixel data that is run-length coded, and a palette the
  // palette areas cannot hold.
  if (compression != 0 || colorCount > bmp::kMaxPaletteEntries) {
    return unsupported;
  }
  const std::int32_t count =
      colorCount == 0 ? bmp::kMaxPaletteEntries : static_cast<std::int32_t>(colorCount);
  const std::uint64_t paletteEnd =
      bmp::kPaletteOffset + std::uint64_t{4} * static_cast<std::uint32_t>(count);
  const std::uint64_t pixelBytes =
      std::uint64_t{static_cast<std::uint32_t>(width)} * static_cast<std::uint32_t>(rows);
  if (paletteEnd > bytes.size() || pixelOffset > bytes.size() ||
      pixelBytes > bytes.size() - pixelOffset) {
    return unsupported;
  }

  image->count = count;
  image->height = rows;
  image->palette = bytes.data() + bmp::kPaletteOffset;
  image->pixels = bytes.data() + pixelOffset;
  image->topDown = topDown;
  return kNoError;
}

Error EncodeOvk(const SourceImage& image, const OvkTarget& target, bool ignoreAlpha,
                const OvkSink& sink, EncodeReport* report) {
  *report = EncodeReport{};
  Emitter out(sink, target.blockSize);

  // The palette in ovk order (R, G, B, A), padded with zero entries to 256.
  std::uint8_t paletteArea[kPaletteAreaBytes] = {};
  const std::size_t paletteBytes = static_cast<std::size_t>(image.count) * kPaletteEntryBytes;
  std::memcpy(paletteArea, image.palette, paletteBytes);
  SwapRedBlue(paletteArea, image.count);
  if (ignoreAlpha) {
    for (std::int32_t i = 0; i < image.count; ++i) paletteArea[4 * i + 3] = 255;
  }
  const std::span<const std::uint8_t> palette(paletteArea, paletteBytes);
  Cbuffer scratch;

  switch (target.version) {
    case kVersion1000: {
      std::uint8_t header[kSmallHeaderSize];
      SmallHeader(header, kVersion1000, image);
      out.Raw(header);
      out.Raw(paletteArea);
      const std::span<const std::uint8_t> pixels = RowsInOrder(image, true, scratch, out);
      if (out.ok()) out.Raw(pixels);
      break;
    }
    case kVersion1002: {
      std::uint8_t header[kSmallHeaderSize];
      SmallHeader(header, kVersion1002, image);
      out.Raw(header);
      out.Packed(palette);
      const std::span<const std::uint8_t> pixels = RowsInOrder(image, true, scratch, out);
      if (out.ok()) out.Packed(pixels);
      break;
    }
    case kVersion1004: {
      std::uint8_t header[kLargeHeaderSize];
      SmallHeader(header, kVersion1004, image);
      StoreU32(header + kOffPaletteCount, static_cast<std::uint32_t>(image.count));
      out.Raw(header);
      out.Packed(palette);
      // The reordering reads the rows bottom-up.
      const std::span<const std::uint8_t> pixels = RowsInOrder(image, false, scratch, out);
      Cbuffer reordered;
      if (!out.Allocate(reordered, pixels.size())) break;
      if (!RowsToBlocks(pixels, reordered.span(), image.height, image.width)) {
        out.Fail(Fault::kInternal);
        break;
      }
      out.Packed(reordered.span());
      break;
    }
    case kVersion1006:
      Write1006(image, target, paletteArea, out, report);
      break;
    default:
      out.Fail(Fault::kInternal);
      break;
  }
  return out.status();
}

}  // namespace ovk
