// PNG export: a BmpImage becomes a PNG file.
//
// The PNG's kind follows from the image's bit count and, for an 8-bit
// image, from the PaletteOutput asked for:
//
//   image                    colour type    PLTE            tRNS          samples
//   8, kIndices(WithAlpha)   3 palette      colour count    WithAlpha:    index
//                            depth 8        (256 when 0)    every entry
//   8, kColours, a pixel's   6 RGB + alpha  none            none          entry R,G,B,A
//      entry has alpha != 0
//   8, kColours, otherwise   2 RGB          none            none          entry R,G,B
//   32, some alpha != 0      6 RGB + alpha  none            none          B,G,R,A -> R,G,B,A
//   32, every alpha 0        2 RGB          none            none          B,G,R,A -> R,G,B
//   24                       2 RGB          none            none          B,G,R -> R,G,B
//
// A palette image whose pixels use indices past its colour count (a damaged
// ovk file can give one) gets PLTE entries, and with kIndicesWithAlpha tRNS
// entries, of zero up to the largest index used: the file stays valid, and
// such a pixel shows as it does in the 32-bit form, transparent black. With
// kColours it is transparent black too.
//
// File layout, every integer big-endian:
//   8 bytes   signature 89 50 4E 47 0D 0A 1A 0A
//   chunks    length (4), type (4), data (length), CRC-32 of type and data (4):
//             IHDR  width (4), height (4), bit depth 8, colour type, compression
//                   method 0, filter method 0, interlace method 0 (none)
//             PLTE  3 bytes (R, G, B) per entry          palette PNGs only
//             tRNS  1 alpha per PLTE entry              kIndicesWithAlpha
//             IDAT  the zlib stream, in pieces of at most kIdatPiece bytes
//             IEND  empty
// Rows go top first (the last row of the bottom-up BMP pixel area first),
// each as filter type 0 (None) and its samples.
//
// Compression. Each row is stored unfiltered and the rows are compressed by
// DeflatePngRows (png_deflate.h), which looks for matches at pixel starts
// only. Measured on waves_1920x1072 written with -p (RGB, 6.2 MB of rows):
// the size of the zlib data and the CPU time of the compression alone, best
// of five, on the 2-core development machine:
//   libpng's defaults (five filters, adaptive; zlib 6)  358 KB file  ~85 ms
//   filter None, zlib level 6                          245.3 KB      56 ms
//   filter None, zlib level 3                          351.6 KB      23 ms
//   filter None, libdeflate level 6 / 7      269.9 KB 26 ms / 244.4 KB 42 ms
//   filter None, DeflatePngRows on the colour rows     248.9 KB   23-26 ms
//   the same, searching the index rows (kColours)      246.7 KB   17-18 ms
// Filters other than None make these pictures larger: a picture made of
// palette colours repeats exactly, and differences break the repeats. The
// adaptive filter choice is also what made libpng slow here. zlib and
// libdeflate search every byte; a repeat of whole pixels starts at a pixel,
// so searching pixel starts only does the same work on a third of the
// positions, and the distances that pictures repeat at (the row above, the
// last match's) are tried first.
//
// A colour PNG of a palette image (kColours) is searched on its indices, a
// third or a quarter of the bytes, while what is coded is the colours: equal
// indices are equal colours, so every match holds. Inside a match only the
// 4 pixels at each of its ends go on the chains (kExpandedEffort.indexEdge):
// a long repeat inside a match is found again through the row above or the
// last distance, which are tried before the chains. Chains of 16 and 8 gave
// 245.3 KB in 18 ms; with 8 pixels at each end as well, 244.7 KB in 19 ms.
//
// For palette PNGs (indices, one byte a pixel) the search keeps every
// position and uses lazy matching, which pays there: the index rows of waves
// give 190.2 KB in 30 ms, zlib level 6 192.7 KB in 40-49 ms. 24- and 32-bit
// images index 8 pixels at each end of a match (kColourEffort).
#include "raster/png_export.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "io/checked_math.h"
#include "raster/bmp_image.h"
#include "raster/png_deflate.h"

namespace {

constexpr std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
constexpr std::uint8_t kColorPalette = 3;
constexpr std::uint8_t kColorRgb = 2;
constexpr std::uint8_t kColorRgba = 6;
constexpr std::size_t kIdatPiece = 65536;
// The largest width or height written: what PNG readers built on libpng
// accept by default.
constexpr std::int32_t kMaxSide = 1000000;

// How hard DeflatePngRows looks, by what it compresses (see the figures
// above): longer chains buy a percent or two of size for a third more time.
constexpr DeflateEffort kIndexEffort{.chainLength = 16, .shortChainLength = 8, .lazyBelow = 258};
constexpr DeflateEffort kColourEffort{.chainLength = 16, .shortChainLength = 8, .indexEdge = 8};
constexpr DeflateEffort kExpandedEffort{.chainLength = 12, .shortChainLength = 6, .indexEdge = 4};

// What the image is and how it is to be written, read from the header after
// every field has been checked against the image's length.
struct PngJob {
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::int32_t bitCount = 0;
  std::int32_t stride = 0;
  const std::uint8_t* pixels = nullptr;  // the first (bottom) row of the pixel area
  std::uint8_t colorType = 0;
  int pixelBytes = 0;  // in the PNG
  int paletteCount = 0;
  const std::uint8_t* palette = nullptr;  // B, G, R, A entries
};

// Reads and checks the header. False for an image that cannot be written:
// shorter than its headers, a bit count other than 8, 24 or 32, a width or
// height <= 0 or over kMaxSide, more than 256 colours, or a palette or pixel
// rows that run past the end of the image.
bool ReadHeader(std::span<const std::uint8_t> image, PngJob* job) {
  if (image.size() < static_cast<std::size_t>(bmp::kHeadersSize)) return false;
  const std::uint8_t* p = image.data();
  job->width = bmp::GetS32(p, bmp::kBiWidth);
  job->height = bmp::GetS32(p, bmp::kBiHeight);
  job->bitCount = bmp::GetU16(p, bmp::kBiBitCount);
  std::uint32_t colorCount = bmp::GetU32(p, bmp::kBiClrUsed);
  std::uint32_t pixelOffset = bmp::GetU32(p, bmp::kBfOffBits);
  if (job->bitCount != 8 && job->bitCount != 24 && job->bitCount != 32) return false;
  if (job->width <= 0 || job->height <= 0) return false;
  if (job->width > kMaxSide || job->height > kMaxSide) return false;
  if (colorCount > static_cast<std::uint32_t>(bmp::kMaxPaletteEntries)) return false;

  job->stride = RowStride(job->width, job->bitCount);
  std::int32_t imageSize = 0;
  std::int32_t end = 0;
  if (job->stride < 0 || pixelOffset > INT32_MAX ||
      !CheckedMul(job->stride, job->height, &imageSize) ||
      !CheckedAdd(static_cast<std::int32_t>(pixelOffset), imageSize, &end) ||
      static_cast<std::size_t>(end) > image.size()) {
    return false;
  }
  job->pixels = p + pixelOffset;

  if (job->bitCount == 8) {
    int n = colorCount == 0 ? bmp::kMaxPaletteEntries : static_cast<int>(colorCount);
    if (static_cast<std::size_t>(bmp::kPaletteOffset + 4 * n) > image.size()) return false;
    job->paletteCount = n;
    job->palette = p + bmp::kPaletteOffset;
  }
  return true;
}

const std::uint8_t* BmpRow(const PngJob& job, std::int32_t pngRow) {
  return job.pixels +
         static_cast<std::size_t>(job.height - 1 - pngRow) * static_cast<std::size_t>(job.stride);
}

// True when any pixel of a 32-bit image has a non-zero fourth byte. Every
// pixel is looked at, so that no transparency is lost.
bool HasAlpha(const PngJob& job) {
  for (std::int32_t r = 0; r < job.height; ++r) {
    const std::uint8_t* row =
        job.pixels + static_cast<std::size_t>(r) * static_cast<std::size_t>(job.stride);
    std::uint32_t any = 0;  // the pixels OR-ed together: a loop without exits
    for (std::int32_t x = 0; x < job.width; ++x) {
      std::uint32_t v;
      std::memcpy(&v, row + 4 * static_cast<std::size_t>(x), 4);
      any |= v;
    }
    if ((any & 0xFF000000u) != 0) return true;
  }
  return false;
}

// True when some pixel of an 8-bit image has an entry of `colours` (R, G, B,
// A) with a non-zero alpha. Only the pixels of such entries are looked for.
bool UsesAlpha(const PngJob& job,
               const std::array<std::uint8_t, 4 * bmp::kMaxPaletteEntries>& colours) {
  std::array<bool, bmp::kMaxPaletteEntries> seeThrough{};
  bool any = false;
  for (std::size_t i = 0; i < seeThrough.size(); ++i)
    any |= seeThrough[i] = colours[4 * i + 3] != 0;
  for (std::int32_t r = 0; any && r < job.height; ++r) {
    const std::uint8_t* row =
        job.pixels + static_cast<std::size_t>(r) * static_cast<std::size_t>(job.stride);
    bool found = false;  // a loop without exits
    for (std::int32_t x = 0; x < job.width; ++x) found |= seeThrough[row[x]];
    if (found) return true;
  }
  return false;
}

// The largest index that a pixel of an 8-bit image uses.
int LargestIndex(const PngJob& job) {
  std::uint8_t largest = 0;
  for (std::int32_t r = 0; r < job.height; ++r) {
    const std::uint8_t* row =
        job.pixels + static_cast<std::size_t>(r) * static_cast<std::size_t>(job.stride);
    largest = std::max(largest, *std::max_element(row, row + job.width));
  }
  return largest;
}

// Writes PNG row y: filter type 0, then the samples in PNG order.
void BuildRow(const PngJob& job, std::size_t y, std::uint8_t* out) {
  const std::uint8_t* in = BmpRow(job, static_cast<std::int32_t>(y));
  out[0] = 0;
  std::uint8_t* o = out + 1;
  const std::int32_t w = job.width;
  if (job.bitCount == 8) {
    std::memcpy(o, in, static_cast<std::size_t>(w));
  } else if (job.bitCount == 24) {
    for (std::int32_t x = 0; x < w; ++x, in += 3, o += 3) o[0] = in[2], o[1] = in[1], o[2] = in[0];
  } else if (job.pixelBytes == 3) {
    // B, G, R, A read as one little-endian word, byte-swapped and shifted:
    // R, G, B, 0, of which the 0 is overwritten by the next pixel. The last
    // pixel goes byte by byte, so that nothing is written past the row.
    for (std::int32_t x = 0; x + 1 < w; ++x, in += 4, o += 3) {
      std::uint32_t v;
      std::memcpy(&v, in, 4);
      v = __builtin_bswap32(v) >> 8;
      std::memcpy(o, &v, 4);
    }
    o[0] = in[2], o[1] = in[1], o[2] = in[0];
  } else {
    for (std::int32_t x = 0; x < w; ++x, in += 4, o += 4) {
      std::uint32_t v;
      std::memcpy(&v, in, 4);
      v = (v & 0xFF00FF00u) | ((v >> 16) & 0xFFu) | ((v & 0xFFu) << 16);
      std::memcpy(o, &v, 4);
    }
  }
}

void PutBe32(std::vector<std::uint8_t>* out, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8)
    out->push_back(static_cast<std::uint8_t>(v >> shift));
}

void AppendChunk(std::vector<std::uint8_t>* out, const char (&type)[5], const std::uint8_t* data,
                 std::size_t n) {
  PutBe32(out, static_cast<std::uint32_t>(n));
  const std::size_t typeAt = out->size();
  out->insert(out->end(), type, type + 4);
  if (n != 0) out->insert(out->end(), data, data + n);
  const std::uint32_t crc =
      static_cast<std::uint32_t>(crc32(0L, out->data() + typeAt, static_cast<uInt>(4 + n)));
  PutBe32(out, crc);
}

}  // namespace

bool EncodePng(std::span<const std::uint8_t> image, PaletteOutput paletteOutput,
               std::vector<std::uint8_t>* png) {
  png->clear();
  PngJob job;
  if (!ReadHeader(image, &job)) return false;
  // With kColours, an 8-bit image's pixels are its entries' R, G, B, A.
  const bool expand = job.bitCount == 8 && paletteOutput == PaletteOutput::kColours;
  std::array<std::uint8_t, 4 * bmp::kMaxPaletteEntries> colours{};
  if (expand) {
    for (int i = 0; i < job.paletteCount; ++i) {
      const std::uint8_t* entry = job.palette + 4 * i;
      std::uint8_t* c = &colours[4 * static_cast<std::size_t>(i)];
      c[0] = entry[2], c[1] = entry[1], c[2] = entry[0], c[3] = entry[3];
    }
    const bool alpha = UsesAlpha(job, colours);
    job.colorType = alpha ? kColorRgba : kColorRgb;
    job.pixelBytes = alpha ? 4 : 3;
  } else if (job.bitCount == 8) {
    job.colorType = kColorPalette;
    job.pixelBytes = 1;
  } else if (job.bitCount == 32 && HasAlpha(job)) {
    job.colorType = kColorRgba;
    job.pixelBytes = 4;
  } else {
    job.colorType = kColorRgb;
    job.pixelBytes = 3;
  }

  // The zlib stream of the rows, made as the compressor reaches them.
  std::vector<std::uint8_t> zlib;
  const PngRows rows{static_cast<std::size_t>(job.width) * static_cast<std::size_t>(job.pixelBytes),
                     job.pixelBytes, static_cast<std::size_t>(job.height),
                     [&job](std::size_t y, std::uint8_t* out) { BuildRow(job, y, out); },
                     expand ? colours.data() : nullptr};
  if (!DeflatePngRows(rows, &zlib,
                      expand                ? kExpandedEffort
                      : job.pixelBytes == 1 ? kIndexEffort
                                            : kColourEffort)) {
    return false;
  }

  png->reserve(zlib.size() + zlib.size() / kIdatPiece * 12 + 2048);
  png->insert(png->end(), kSignature, kSignature + 8);
  std::uint8_t ihdr[13] = {};
  for (int i = 0; i < 4; ++i) {
    ihdr[i] = static_cast<std::uint8_t>(job.width >> (24 - 8 * i));
    ihdr[4 + i] = static_cast<std::uint8_t>(job.height >> (24 - 8 * i));
  }
  ihdr[8] = 8;
  ihdr[9] = job.colorType;
  AppendChunk(png, "IHDR", ihdr, sizeof ihdr);
  if (job.colorType == kColorPalette) {
    const int entries = std::max(job.paletteCount, LargestIndex(job) + 1);
    std::uint8_t plte[3 * bmp::kMaxPaletteEntries] = {};
    std::uint8_t trns[bmp::kMaxPaletteEntries] = {};
    for (int i = 0; i < job.paletteCount; ++i) {
      const std::uint8_t* entry = job.palette + 4 * i;
      plte[3 * i] = entry[2];
      plte[3 * i + 1] = entry[1];
      plte[3 * i + 2] = entry[0];
      trns[i] = entry[3];
    }
    AppendChunk(png, "PLTE", plte, 3 * static_cast<std::size_t>(entries));
    // Every alpha goes out, opaque ones at the end included.
    if (paletteOutput == PaletteOutput::kIndicesWithAlpha)
      AppendChunk(png, "tRNS", trns, static_cast<std::size_t>(entries));
  }
  for (std::size_t at = 0; at < zlib.size(); at += kIdatPiece) {
    AppendChunk(png, "IDAT", zlib.data() + at, std::min(kIdatPiece, zlib.size() - at));
  }
  AppendChunk(png, "IEND", nullptr, 0);
  return true;
}
