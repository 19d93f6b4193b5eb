#include "raster/palette_map.h"

#include <algorithm>
#include <limits>
#include <memory>
#include <new>

#include "io/checked_math.h"

namespace {

constexpr std::uint32_t kRgbMask = 0x00FFFFFF;
constexpr std::uint32_t kCompressionNone = 0;

// Colour -> palette index for at most 256 colours: open addressing in four
// times as many slots, so a probe always meets an empty slot soon.
class ColourTable {
 public:
  ColourTable() { slots_.fill(Slot{0, kEmpty}); }

  // The index stored for `key`, or -1.
  int Find(std::uint32_t key) const {
    for (std::size_t i = Hash(key);; i = (i + 1) & kMask) {
      if (slots_[i].index == kEmpty) return -1;
      if (slots_[i].key == key) return slots_[i].index;
    }
  }

  // Stores `index` for `key` unless the key has one already (the first entry
  // of a colour wins). The caller adds at most 256 keys.
  void Add(std::uint32_t key, int index) {
    std::size_t i = Hash(key);
    for (; slots_[i].index != kEmpty; i = (i + 1) & kMask) {
      if (slots_[i].key == key) return;
    }
    slots_[i] = Slot{key, static_cast<std::int16_t>(index)};
  }

 private:
  static constexpr std::size_t kSlots = 1024;
  static constexpr std::size_t kMask = kSlots - 1;
  static constexpr std::int16_t kEmpty = -1;
  struct Slot {
    std::uint32_t key;
    std::int16_t index;
  };
  static std::size_t Hash(std::uint32_t key) { return (key * 2654435761u) >> 22; }
  std::array<Slot, kSlots> slots_;
};

// The colours of a picture's pixels, as 0xAARRGGBB words masked for the
// comparison in use.
class PixelReader {
 public:
  PixelReader(const BmpLayout& picture, std::uint32_t mask) : picture_(picture), mask_(mask) {
    if (picture.bitCount == 8) {
      Palette own;
      PaletteOf(picture, &own);
      table_ = own.entries;  // zero past the picture's entries
    }
  }

  // Row `y`, counted from the top of the picture.
  const std::uint8_t* Row(std::int32_t y) const {
    const std::int32_t stored = picture_.topDown ? y : picture_.rows - 1 - y;
    return picture_.pixels.data() +
           static_cast<std::size_t>(stored) * static_cast<std::size_t>(picture_.stride);
  }

  std::uint32_t Colour(const std::uint8_t* row, std::int32_t x) const {
    const std::size_t at = static_cast<std::size_t>(x);
    switch (picture_.bitCount) {
      case 8:
        return table_[row[at]] & mask_;
      case 24:
        return (row[3 * at] | std::uint32_t{row[3 * at + 1]} << 8 |
                std::uint32_t{row[3 * at + 2]} << 16) &
               mask_;
      default:
        return LoadU32(row + 4 * at) & mask_;
    }
  }

 private:
  const BmpLayout& picture_;
  std::uint32_t mask_;
  std::array<std::uint32_t, 256> table_{};
};

bool IsColourPicture(const BmpLayout& p) {
  return p.bitCount == 24 || p.bitCount == 32;
}

std::uint32_t MaskFor(const BmpLayout& picture, bool ignoreAlpha) {
  return ColourMatchFor(picture, ignoreAlpha) == ColourMatch::kRgba ? 0xFFFFFFFF : kRgbMask;
}

// Allocates an 8-bit BMP image of the picture's sides with `palette`, and
// points *pixels at its first stored (bottom) row.
bool AllocIndexImage(std::int32_t width, std::int32_t rows, const Palette& palette, BmpImage* out,
                     MapReport* report) {
  const std::int32_t stride = RowStride(width, 8);
  const std::int32_t head = bmp::kHeadersSize + 4 * palette.count;
  std::int32_t imageSize = 0;
  std::int32_t total = 0;
  if (stride < 0 || !CheckedMul(stride, rows, &imageSize) || !CheckedAdd(head, imageSize, &total)) {
    report->failedAllocation = std::int64_t{head} + std::int64_t{stride} * rows;
    return false;
  }
  std::uint8_t* image = out->Alloc(total);
  if (image == nullptr) {
    report->failedAllocation = total;
    return false;
  }
  bmp::PutU16(image, bmp::kBfType, bmp::kMagic);
  bmp::PutU32(image, bmp::kBfSize, static_cast<std::uint32_t>(total));
  bmp::PutU32(image, bmp::kBfOffBits, static_cast<std::uint32_t>(head));
  bmp::PutU32(image, bmp::kBiSize, bmp::kInfoHeaderSize);
  bmp::PutS32(image, bmp::kBiWidth, width);
  bmp::PutS32(image, bmp::kBiHeight, rows);
  bmp::PutU16(image, bmp::kBiPlanes, 1);
  bmp::PutU16(image, bmp::kBiBitCount, 8);
  bmp::PutU32(image, bmp::kBiSizeImage, static_cast<std::uint32_t>(imageSize));
  bmp::PutU32(image, bmp::kBiClrUsed, static_cast<std::uint32_t>(palette.count));
  for (std::int32_t i = 0; i < palette.count; ++i) {
    StoreU32(image + bmp::kPaletteOffset + 4 * i, palette.entries[static_cast<std::size_t>(i)]);
  }
  return true;
}

// Fills the rows of an image from AllocIndexImage with each pixel's index in
// `table`; pixels whose colour is not there get 0 and are counted, the first
// one reported. Returns the count.
std::int64_t FillIndices(const BmpLayout& picture, std::uint32_t mask, const ColourTable& table,
                         BmpImage* out, MapReport* report) {
  const PixelReader reader(picture, mask);
  const std::int32_t stride = RowStride(picture.width, 8);
  std::uint8_t* first = out->data() + bmp::GetU32(out->data(), bmp::kBfOffBits);
  std::int64_t unmatched = 0;
  for (std::int32_t y = 0; y < picture.rows; ++y) {
    const std::uint8_t* in = reader.Row(y);
    std::uint8_t* row =
        first + static_cast<std::size_t>(picture.rows - 1 - y) * static_cast<std::size_t>(stride);
    for (std::int32_t x = 0; x < picture.width; ++x) {
      const std::uint32_t colour = reader.Colour(in, x);
      const int index = table.Find(colour);
      if (index < 0) {
        if (unmatched++ == 0) {
          report->x = x;
          report->y = y;
          report->colour = colour;
        }
        continue;
      }
      row[x] = static_cast<std::uint8_t>(index);
    }
  }
  return unmatched;
}

std::int64_t CountDistinct(const BmpLayout& picture, std::uint32_t mask) {
  const std::size_t n =
      static_cast<std::size_t>(picture.width) * static_cast<std::size_t>(picture.rows);
  std::unique_ptr<std::uint32_t[]> colours(new (std::nothrow) std::uint32_t[n]);
  if (!colours) return -1;
  const PixelReader reader(picture, mask);
  std::size_t k = 0;
  for (std::int32_t y = 0; y < picture.rows; ++y) {
    const std::uint8_t* row = reader.Row(y);
    for (std::int32_t x = 0; x < picture.width; ++x) colours[k++] = reader.Colour(row, x);
  }
  std::sort(colours.get(), colours.get() + n);
  return std::unique(colours.get(), colours.get() + n) - colours.get();
}

}  // namespace

bool ReadBmpLayout(std::span<const std::uint8_t> bytes, BmpLayout* layout) {
  *layout = BmpLayout{};
  if (bytes.size() < bmp::kHeadersSize || !HasBmpSignature(bytes)) return false;
  const std::uint8_t* b = bytes.data();
  const std::uint32_t headerSize = bmp::GetU32(b, bmp::kBiSize);
  const std::int32_t bitCount = bmp::GetU16(b, bmp::kBiBitCount);
  const std::int32_t width = bmp::GetS32(b, bmp::kBiWidth);
  const std::int32_t height = bmp::GetS32(b, bmp::kBiHeight);
  const std::uint32_t colorCount = bmp::GetU32(b, bmp::kBiClrUsed);
  const std::uint32_t pixelOffset = bmp::GetU32(b, bmp::kBfOffBits);
  if (headerSize < bmp::kInfoHeaderSize ||
      bmp::GetU32(b, bmp::kBiCompression) != kCompressionNone) {
    return false;
  }
  switch (bitCount) {
    case 1:
    case 2:
    case 4:
    case 8:
    case 16:
    case 24:
    case 32:
      break;
    default:
      return false;
  }
  if (width <= 0 || height == 0 || height == std::numeric_limits<std::int32_t>::min()) {
    return false;
  }
  const std::int32_t rows = height < 0 ? -height : height;
  const std::int32_t stride = RowStride(width, bitCount);
  if (stride < 0) return false;
  std::int64_t colors = 0;
  if (bitCount <= 8) colors = colorCount == 0 ? std::int64_t{1} << bitCount : colorCount;
  if (colors > bmp::kMaxPaletteEntries) return false;
  const std::uint64_t paletteStart = bmp::kFileHeaderSize + std::uint64_t{headerSize};
  const std::uint64_t paletteBytes = 4 * static_cast<std::uint64_t>(colors);
  const std::uint64_t pixelBytes =
      std::uint64_t{static_cast<std::uint32_t>(stride)} * static_cast<std::uint32_t>(rows);
  if (paletteStart > bytes.size() || paletteBytes > bytes.size() - paletteStart ||
      pixelOffset > bytes.size() || pixelBytes > bytes.size() - pixelOffset) {
    return false;
  }
  layout->bitCount = bitCount;
  layout->width = width;
  layout->rows = rows;
  layout->topDown = height < 0;
  layout->colors = static_cast<std::int32_t>(colors);
  layout->stride = stride;
  layout->palette = bytes.subspan(paletteStart, paletteBytes);
  layout->pixels = bytes.subspan(pixelOffset, pixelBytes);
  return true;
}

bool PaletteOf(const BmpLayout& layout, Palette* palette) {
  *palette = Palette{};
  if (layout.bitCount > 8) return false;
  palette->count = layout.colors;
  for (std::int32_t i = 0; i < layout.colors; ++i) {
    palette->entries[static_cast<std::size_t>(i)] =
        LoadU32(layout.palette.data() + 4 * static_cast<std::size_t>(i));
  }
  return true;
}

ColourMatch ColourMatchFor(const BmpLayout& layout, bool ignoreAlpha) {
  if (ignoreAlpha) return ColourMatch::kRgb;
  const auto hasAlpha = [](std::span<const std::uint8_t> words) {
    for (std::size_t i = 3; i < words.size(); i += 4) {
      if (words[i] != 0) return true;
    }
    return false;
  };
  if (layout.bitCount <= 8)
    return hasAlpha(layout.palette) ? ColourMatch::kRgba : ColourMatch::kRgb;
  if (layout.bitCount != 32) return ColourMatch::kRgb;
  // Rows of 32-bit pixels have no padding: the pixel bytes are whole words.
  return hasAlpha(layout.pixels) ? ColourMatch::kRgba : ColourMatch::kRgb;
}

MapStatus MapToPalette(const BmpLayout& picture, const Palette& palette, bool ignoreAlpha,
                       BmpImage* out, MapReport* report) {
  *report = MapReport{};
  out->Free();
  if (picture.bitCount != 8 && !IsColourPicture(picture)) return MapStatus::kNotColour;
  const std::uint32_t mask = MaskFor(picture, ignoreAlpha);
  ColourTable table;
  for (std::int32_t i = 0; i < palette.count; ++i) {
    table.Add(palette.entries[static_cast<std::size_t>(i)] & mask, i);
  }
  if (!AllocIndexImage(picture.width, picture.rows, palette, out, report)) {
    return MapStatus::kNoMemory;
  }
  report->unmatched = FillIndices(picture, mask, table, out, report);
  if (report->unmatched != 0) {
    out->Free();
    return MapStatus::kUnmatched;
  }
  return MapStatus::kOk;
}

MapStatus MapToOwnPalette(const BmpLayout& picture, bool ignoreAlpha, BmpImage* out,
                          MapReport* report) {
  *report = MapReport{};
  out->Free();
  if (!IsColourPicture(picture)) return MapStatus::kNotColour;
  const std::uint32_t mask = MaskFor(picture, ignoreAlpha);
  ColourTable table;
  Palette own;
  const PixelReader reader(picture, mask);
  for (std::int32_t y = 0; y < picture.rows; ++y) {
    const std::uint8_t* row = reader.Row(y);
    for (std::int32_t x = 0; x < picture.width; ++x) {
      const std::uint32_t colour = reader.Colour(row, x);
      if (table.Find(colour) >= 0) continue;
      if (own.count == bmp::kMaxPaletteEntries) {
        report->distinct = CountDistinct(picture, mask);
        if (report->distinct < 0) {
          report->failedAllocation = std::int64_t{4} * picture.width * picture.rows;
          return MapStatus::kNoMemory;
        }
        return MapStatus::kTooManyColours;
      }
      table.Add(colour, own.count);
      own.entries[static_cast<std::size_t>(own.count++)] = colour;
    }
  }
  if (!AllocIndexImage(picture.width, picture.rows, own, out, report)) return MapStatus::kNoMemory;
  FillIndices(picture, mask, table, out, report);
  return MapStatus::kOk;
}

std::int64_t CountColours(const BmpLayout& picture) {
  if (!IsColourPicture(picture)) return -1;
  return CountDistinct(picture, MaskFor(picture, false));
}
