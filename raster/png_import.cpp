// PNG import: a PNG file becomes a BmpImage.
//
// What each kind of PNG becomes:
//
//   PNG colour type              bit count   colour count   pixel rows
//   3 palette, depth 1/2/4/8     the depth   PLTE entries   packed indices as stored
//   2 RGB, 8 or 16 bits          24          0              blue, green, red
//   6 RGB + alpha, 8 or 16 bits  32          0              blue, green, red, alpha
//   0 grey, 4 grey + alpha       0           0              none (image size 0)
//
// Palette entry j is blue, green, red of PLTE entry j, and its fourth byte is
// tRNS value j, or 0 past the end of the tRNS chunk (and for every entry when
// there is none). 16-bit samples keep their high byte. When the file states a
// gamma, colours are corrected for a display gamma of 2.2.
//
// libpng reports errors by longjmp. Everything that owns a resource lives in
// ReadSession, in the frame of ReadPng; the frame that calls setjmp
// (DecodePng) holds plain locals only and records what it allocates in the
// session, so a longjmp skips no destructor and leaks nothing.
#include "raster/png_import.h"

#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "io/checked_math.h"
#include "raster/bmp_image.h"

namespace {

// libpng keeps gamma values as fixed-point numbers scaled by this.
constexpr double kGammaUnit = 100000.0;
// The display gamma the colours are corrected for.
constexpr double kScreenGamma = 2.2;

// PNG bytes already in memory, handed to libpng through a read callback.
struct MemorySource {
  const std::uint8_t* data;
  std::size_t size;
  std::size_t pos;
};

void ReadFromMemory(png_structp png, png_bytep out, std::size_t n) {
  auto* src = static_cast<MemorySource*>(png_get_io_ptr(png));
  if (n == 0) return;
  // The same message libpng gives when its own stream reader comes up short.
  if (n > src->size - src->pos) png_error(png, "Read Error");
  std::memcpy(out, src->data + src->pos, n);
  src->pos += n;
}

// Everything DecodePng learns and allocates. Plain data, so that it stays
// valid whatever way DecodePng leaves.
struct Decoded {
  png_uint_32 width;
  png_uint_32 height;
  int bitDepth;  // after the 16-bit strip
  int colorType;
  int channels;
  std::size_t rowBytes;
  std::int32_t bitCount;
  std::int32_t colorCount;
  std::int32_t stride;
  std::int32_t imageSize;
  std::int32_t total;
  std::uint8_t palette[4 * bmp::kMaxPaletteEntries];  // B,G,R,A per entry
  std::uint8_t* pixels;                               // rowBytes * height, top row first
  png_bytep* rows;
};

// Owns the libpng structures and the buffers of one read.
class ReadSession {
 public:
  ReadSession() = default;
  ReadSession(const ReadSession&) = delete;
  ReadSession& operator=(const ReadSession&) = delete;
  virtual ~ReadSession() {
    DestroyStructures();
    std::free(decoded.rows);
    std::free(decoded.pixels);
  }
  void DestroyStructures() {
    if (png != nullptr) png_destroy_read_struct(&png, info != nullptr ? &info : nullptr, nullptr);
    png = nullptr;
    info = nullptr;
  }

  png_structp png = nullptr;
  png_infop info = nullptr;
  Decoded decoded{};
};

// The palette correction libpng applies to its own palette expansion, done
// here on the PLTE entries because libpng leaves those unchanged. The
// arithmetic copies libpng's fixed-point rules step by step, so that the
// entries come out exactly as libpng would expand them:
//   - png_set_gamma takes the file gamma as a fixed-point value, v * 100000
//     rounded (a value of 128 or more is taken as already scaled);
//   - correction happens only when file gamma * screen gamma, rounded to the
//     fixed point, lies outside 1 +- 0.05, and the exponent of the table,
//     1 / (file * screen) rounded to the fixed point, lies outside it too;
//   - entry v becomes floor(255 * (v / 255)^exponent + 0.5); 0 and 255 stay.
void CorrectPaletteGamma(double fileGamma, std::uint8_t* entries, int count) {
  constexpr double kThreshold = PNG_GAMMA_THRESHOLD_FIXED;
  double file = fileGamma;
  if (file > 0 && file < 128) file *= kGammaUnit;
  file = std::floor(file + .5);
  const double screen = std::floor(kScreenGamma * kGammaUnit + .5);
  if (file <= 0) return;

  // Significance of the overall transform (libpng's png_gamma_threshold).
  double product = std::floor(file * screen / kGammaUnit + .5);
  bool fits = product <= 2147483647. && product >= -2147483648.;
  if (fits && product >= kGammaUnit - kThreshold && product <= kGammaUnit + kThreshold) return;

  // The table's exponent (libpng's png_reciprocal2), then its own
  // significance test (png_build_8bit_table).
  double exponent = 1E15 / file;
  exponent /= screen;
  exponent = std::floor(exponent + .5);
  if (exponent > 2147483647.) exponent = 0;  // libpng's overflow result
  if (exponent >= kGammaUnit - kThreshold && exponent <= kGammaUnit + kThreshold) return;

  std::uint8_t table[256];
  for (int v = 0; v < 256; ++v) {
    if (v == 0 || v == 255) {
      table[v] = static_cast<std::uint8_t>(v);
    } else {
      double r = std::floor(255 * std::pow(v / 255., exponent * .00001) + .5);
      table[v] = static_cast<std::uint8_t>(r);
    }
  }
  for (int j = 0; j < count; ++j) {
    for (int c = 0; c < 3; ++c) entries[4 * j + c] = table[entries[4 * j + c]];
  }
}

// What a read is told besides the PNG itself. Plain data, so that the frame
// that calls setjmp may hold a pointer to it.
struct ReadLimits {
  const PngHeaderCheck* accept;  // may refuse the image from its header
  PngHeaderFacts* facts;         // receives the header's facts; may be null
  std::uint64_t sourceBytes;     // the PNG file's length: the most IDAT it holds
};

enum class ReadOutcome { kDecoded, kFailed, kRefused };

// The bytes of filtered image data that the image data must inflate to: every
// row (of every interlace pass) with its filter byte.
std::uint64_t FilteredImageBytes(png_uint_32 width, png_uint_32 height, std::uint64_t pixelBits,
                                 bool interlaced) {
  auto rows = [pixelBits](std::uint64_t columns, std::uint64_t count) -> std::uint64_t {
    return columns == 0 ? 0 : count * (1 + (columns * pixelBits + 7) / 8);
  };
  if (!interlaced) return rows(width, height);
  std::uint64_t total = 0;
  // libpng's pass macros mix its int constants with the unsigned sides.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wsign-conversion"
  for (unsigned pass = 0; pass < 7; ++pass) {
    total += rows(PNG_PASS_COLS(width, pass), PNG_PASS_ROWS(height, pass));
  }
#pragma GCC diagnostic pop
  return total;
}

// Runs libpng from the signature to the end of the file, then allocates the
// BMP in *out. kFailed after any libpng error (already printed by libpng's
// handler as "libpng error: %s"); oversized images, images the file cannot
// hold and a failed allocation are raised as libpng errors too, so that every
// failure is reported the same way. kRefused when limits->accept refuses the
// header; the image data is then never read.
// This frame calls setjmp: it holds no object with a destructor and changes
// no local after setjmp; what it allocates goes into *d at once.
ReadOutcome DecodePng(png_structp png, png_infop info, const ReadLimits* limits, Decoded* d,
                      Cbuffer* out) {
  if (setjmp(png_jmpbuf(png))) return ReadOutcome::kFailed;

  png_read_info(png, info);
  int interlace = 0;
  png_get_IHDR(png, info, &d->width, &d->height, &d->bitDepth, &d->colorType, &interlace, nullptr,
               nullptr);
  // The file's own channels: no transformation requested below changes them.
  d->channels = png_get_channels(png, info);
  if (d->colorType == PNG_COLOR_TYPE_PALETTE) {
    d->bitCount = d->bitDepth;
  } else {
    d->bitCount = d->channels == 3 ? 24 : d->channels == 4 ? 32 : 0;
  }

  // Judged from the header, before anything the image needs is allocated.
  // libpng keeps both sides within 2^31 - 1.
  const PngHeaderFacts facts{d->bitCount, static_cast<std::int32_t>(d->width),
                             static_cast<std::int32_t>(d->height)};
  if (limits->facts != nullptr) *limits->facts = facts;
  if (*limits->accept && !(*limits->accept)(facts)) return ReadOutcome::kRefused;

  d->colorCount = 0;
  if (d->colorType == PNG_COLOR_TYPE_PALETTE) {
    png_colorp plte = nullptr;
    int plteCount = 0;
    if (png_get_PLTE(png, info, &plte, &plteCount) == 0) plteCount = 0;
    png_bytep trns = nullptr;
    int trnsCount = 0;
    if (png_get_tRNS(png, info, &trns, &trnsCount, nullptr) == 0) trnsCount = 0;
    // libpng keeps both within 256 entries; the bound keeps the table safe
    // whatever it hands back.
    if (plteCount < 0 || plte == nullptr) plteCount = 0;
    if (plteCount > bmp::kMaxPaletteEntries) plteCount = bmp::kMaxPaletteEntries;
    if (trnsCount < 0 || trns == nullptr) trnsCount = 0;
    for (int j = 0; j < plteCount; ++j) {
      d->palette[4 * j + 0] = plte[j].blue;
      d->palette[4 * j + 1] = plte[j].green;
      d->palette[4 * j + 2] = plte[j].red;
      d->palette[4 * j + 3] = j < trnsCount ? trns[j] : 0;
    }
    d->colorCount = plteCount;
  }

  const int fileBitDepth = d->bitDepth;
  if (d->bitDepth == 16) {
    png_set_strip_16(png);
    d->bitDepth = 8;
  }
  double fileGamma = 0;
  if (png_get_gAMA(png, info, &fileGamma) != 0) {
    png_set_gamma(png, kScreenGamma, fileGamma);
    // libpng corrects only the palette it expands itself, never the PLTE
    // entries handed out above: apply the same correction to those.
    if (d->colorType == PNG_COLOR_TYPE_PALETTE) {
      CorrectPaletteGamma(fileGamma, d->palette, d->colorCount);
    }
  }

  // Every size the image needs must fit in 31 bits before anything is
  // allocated, libpng's row buffers included: the BMP (its whole file) and
  // the decoded rows.
  const std::uint64_t rowBytes =
      (static_cast<std::uint64_t>(d->width) * static_cast<std::uint64_t>(d->channels) *
           static_cast<std::uint64_t>(d->bitDepth) +
       7) /
      8;
  std::int32_t headers = bmp::kHeadersSize + 4 * d->colorCount;
  std::int32_t decodedSize = 0;
  if (d->width > INT32_MAX || d->height > INT32_MAX || rowBytes > INT32_MAX ||
      !CheckedMul(static_cast<std::int32_t>(rowBytes), static_cast<std::int32_t>(d->height),
                  &decodedSize)) {
    png_error(png, "Image too large to convert");
  }
  d->rowBytes = static_cast<std::size_t>(rowBytes);
  d->stride = RowStride(static_cast<std::int32_t>(d->width), d->bitCount);
  if (d->stride < 0 ||
      !CheckedMul(d->stride, static_cast<std::int32_t>(d->height), &d->imageSize) ||
      !CheckedAdd(headers, d->imageSize, &d->total)) {
    png_error(png, "Image too large to convert");
  }
  // The file must be long enough to hold the image data at the densest
  // deflate coding; otherwise libpng would find the data short only after
  // the allocations below. (The sizes above keep the count far below 2^64.)
  const std::uint64_t pixelBits =
      static_cast<std::uint64_t>(d->channels) * static_cast<std::uint64_t>(fileBitDepth);
  const std::uint64_t filtered =
      FilteredImageBytes(d->width, d->height, pixelBits, interlace != PNG_INTERLACE_NONE);
  if ((filtered + kMaxInflateRatio - 1) / kMaxInflateRatio > limits->sourceBytes) {
    png_error(png, "Not enough image data");
  }

  png_read_update_info(png, info);
  // The rows libpng delivers are those measured above.
  if (png_get_rowbytes(png, info) != d->rowBytes || png_get_channels(png, info) != d->channels ||
      png_get_bit_depth(png, info) != d->bitDepth) {
    png_error(png, "Unexpected row layout");
  }

  // Zero-filled: with interlaced images libpng merges each pass into the
  // row, so bits past the last pixel of a row keep what was there before.
  d->pixels = static_cast<std::uint8_t*>(
      std::calloc(decodedSize == 0 ? 1 : static_cast<std::size_t>(decodedSize), 1));
  d->rows =
      static_cast<png_bytep*>(std::malloc(sizeof(png_bytep) * (d->height == 0 ? 1 : d->height)));
  if (d->pixels == nullptr || d->rows == nullptr) png_error(png, "Out of memory");
  for (png_uint_32 i = 0; i < d->height; ++i) d->rows[i] = d->pixels + i * d->rowBytes;

  // No interlace handling is requested: libpng warns and deinterlaces.
  png_read_image(png, d->rows);
  std::free(d->rows);
  d->rows = nullptr;
  png_read_end(png, nullptr);

  // The whole file has been read. Only this allocation is left to fail, and
  // it releases the caller's old block first.
  if (out->Alloc(d->total) == nullptr) png_error(png, "Out of memory");
  return ReadOutcome::kDecoded;
}

// Writes the BMP headers and palette, then the rows: BMP row r (bottom row
// first) comes from decoded row height - 1 - r, with the colour channels put
// in BMP order in the same pass.
void BuildBmp(const Decoded& d, std::uint8_t* bmpBytes) {
  const std::int32_t pixelOffset = bmp::kHeadersSize + 4 * d.colorCount;
  bmp::PutU16(bmpBytes, bmp::kBfType, bmp::kMagic);
  bmp::PutU32(bmpBytes, bmp::kBfSize, static_cast<std::uint32_t>(d.total));
  bmp::PutU32(bmpBytes, bmp::kBfOffBits, static_cast<std::uint32_t>(pixelOffset));
  bmp::PutU32(bmpBytes, bmp::kBiSize, bmp::kInfoHeaderSize);
  bmp::PutS32(bmpBytes, bmp::kBiWidth, static_cast<std::int32_t>(d.width));
  bmp::PutS32(bmpBytes, bmp::kBiHeight, static_cast<std::int32_t>(d.height));
  bmp::PutU16(bmpBytes, bmp::kBiPlanes, 1);
  bmp::PutU16(bmpBytes, bmp::kBiBitCount, static_cast<std::uint16_t>(d.bitCount));
  bmp::PutU32(bmpBytes, bmp::kBiSizeImage, static_cast<std::uint32_t>(d.imageSize));
  bmp::PutU32(bmpBytes, bmp::kBiClrUsed, static_cast<std::uint32_t>(d.colorCount));
  std::memcpy(bmpBytes + bmp::kPaletteOffset, d.palette,
              4 * static_cast<std::size_t>(d.colorCount));

  if (d.bitCount == 0) return;
  const std::size_t width = d.width;
  for (png_uint_32 r = 0; r < d.height; ++r) {
    const std::uint8_t* src = d.pixels + (d.height - 1 - r) * d.rowBytes;
    std::uint8_t* dst =
        bmpBytes + pixelOffset + static_cast<std::size_t>(r) * static_cast<std::size_t>(d.stride);
    if (d.channels == 1) {
      std::memcpy(dst, src, (width * static_cast<std::size_t>(d.bitDepth) + 7) / 8);
    } else if (d.channels == 3) {
      for (std::size_t x = 0; x < width; ++x, src += 3, dst += 3) {
        dst[0] = src[2];
        dst[1] = src[1];
        dst[2] = src[0];
      }
    } else if (d.channels == 4) {
      for (std::size_t x = 0; x < width; ++x, src += 4, dst += 4) {
        dst[0] = src[2];
        dst[1] = src[1];
        dst[2] = src[0];
        dst[3] = src[3];
      }
    }
  }
}

// libpng's messages, kept as the lines its default handlers would print.
// The error handler must not return: it leaves through libpng's longjmp.
void KeepError(png_structp png, png_const_charp message) {
  if (auto* messages = static_cast<std::string*>(png_get_error_ptr(png))) {
    *messages += "libpng error: ";
    *messages += message;
    *messages += '\n';
  }
  png_longjmp(png, 1);
}

void KeepWarning(png_structp png, png_const_charp message) {
  if (auto* messages = static_cast<std::string*>(png_get_error_ptr(png))) {
    *messages += "libpng warning: ";
    *messages += message;
    *messages += '\n';
  }
}

// Chunks that the conversion has no use for, and whose handlers in libpng
// allocate the length the chunk claims (and clear it) before any of its data
// has been read, or store what they read for no one. libpng skips them as
// unknown chunks: their data is read past in small pieces and its CRC still
// checked, so a claim of gigabytes costs nothing. The colour-space chunks
// (cHRM, sRGB, iCCP) stay handled, because libpng folds them into the gamma
// that png_get_gAMA reports. The list is libpng's: 5-byte entries, each name
// with its terminating zero.
constexpr png_byte kSkippedChunks[] =
    "bKGD\0eXIf\0hIST\0iTXt\0oFFs\0pCAL\0pHYs\0sBIT\0"
    "sCAL\0sPLT\0tEXt\0tIME\0zTXt";
constexpr int kSkippedChunkCount = sizeof kSkippedChunks / 5;

// Bounds what libpng allocates for the chunks it still handles by what the
// file can hold: no chunk's data is longer than the file, and no compressed
// data (an iCCP profile) inflates to more than kMaxInflateRatio bytes a byte.
// libpng's own default limit stays in force below that. A chunk longer than
// the bound runs past the end of the file, so the bound never changes what
// happens to a file that libpng can read.
void LimitChunks(png_structp png, std::uint64_t sourceBytes) {
  png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, kSkippedChunks, kSkippedChunkCount);
  std::uint64_t bound = png_get_chunk_malloc_max(png);
  if (bound == 0 || sourceBytes < bound / kMaxInflateRatio) {
    bound = std::max<std::uint64_t>(sourceBytes, 1) * kMaxInflateRatio;
  }
  png_set_chunk_malloc_max(png, static_cast<png_alloc_size_t>(bound));
}

// The one reading path: `memory` is read through ReadFromMemory.
Error ReadPng(Cbuffer& out, MemorySource* memory, const ReadLimits& limits, std::string* messages) {
  constexpr Error kUnreadable{Fault::kPngUnreadable};
  ReadSession session;
  session.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, messages, KeepError, KeepWarning);
  if (session.png == nullptr) return kUnreadable;
  session.info = png_create_info_struct(session.png);
  if (session.info == nullptr) return kUnreadable;
  png_set_read_fn(session.png, memory, ReadFromMemory);
  LimitChunks(session.png, limits.sourceBytes);

  Decoded& d = session.decoded;
  switch (DecodePng(session.png, session.info, &limits, &d, &out)) {
    case ReadOutcome::kFailed:
      return kUnreadable;
    case ReadOutcome::kRefused:
      return {Fault::kUnsupportedImage, d.bitCount, static_cast<std::int32_t>(d.width),
              static_cast<std::int32_t>(d.height)};
    case ReadOutcome::kDecoded:
      break;
  }
  session.DestroyStructures();
  BuildBmp(d, out.data());
  return kNoError;
}

}  // namespace

bool HasPngSignature(std::span<const std::uint8_t> bytes) {
  constexpr std::size_t kSignatureBytes = 8;
  if (bytes.size() < kSignatureBytes) return false;
  // png_sig_cmp takes a non-const pointer but only reads.
  return png_sig_cmp(const_cast<std::uint8_t*>(bytes.data()), 0, kSignatureBytes) == 0;
}

Error PngToBmp(Cbuffer& out, std::span<const std::uint8_t> png, const PngHeaderCheck& accept,
               PngHeaderFacts* facts, std::string* messages) {
  MemorySource source{png.data(), png.size(), 0};
  return ReadPng(out, &source, {&accept, facts, png.size()}, messages);
}
