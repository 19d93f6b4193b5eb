// PNG export: a BmpImage becomes a PNG file.
//
// The PNG's kind follows from the image's bit count alone:
//
//   bit count            colour type     PLTE                  tRNS              samples
//   8                    3 palette       colour count entries  pngMode 2 only:   index
//                        depth 8         (256 when 0)          one per entry
//   32, some alpha != 0  6 RGB + alpha   none                  none              B,G,R,A -> R,G,B,A
//   32, every alpha 0    2 RGB           none                  none              B,G,R,A -> R,G,B
//   24                   2 RGB           none                  none              B,G,R -> R,G,B
//
// Chunks: IHDR (no interlace, default compression and filters), PLTE and
// tRNS as above, IDAT, IEND; nothing else. Pixels are never copied: libpng
// reads the BMP rows in place through a table of row pointers that runs from
// the last row of the bottom-up pixel area to the first, and swaps the
// channels (and drops the unused fourth byte) itself.
//
// libpng reports errors by longjmp. The frame that calls setjmp (WriteImage)
// holds plain locals only; the structures, the output file and the row table
// are owned by objects in WritePng's frame, which the longjmp never leaves.
#include "raster/png_export.h"

#include <memory>
#include <new>

#include "io/checked_math.h"
#include "platform/platform.h"
#include "raster/bmp_image.h"

CPngFile::~CPngFile() {
  Release();
}

bool CPngFile::Open(const std::wstring& path) {
  if (!output_.Open(path)) return false;
  file = output_.Stream();
  return file != nullptr;
}

int CPngFile::Create() {
  png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (png == nullptr) return -1;
  info = png_create_info_struct(png);
  if (info == nullptr) {
    png_destroy_write_struct(&png, nullptr);
    png = nullptr;
    return -1;
  }
  png_init_io(png, file);
  return 0;
}

void CPngFile::Release() {
  if (png != nullptr) png_destroy_write_struct(&png, info != nullptr ? &info : nullptr);
  png = nullptr;
  info = nullptr;
}

bool CPngFile::Commit() {
  Release();
  file = nullptr;
  return output_.Commit();
}

namespace {

// What the image is and how it is to be written, read from the header after
// every field has been checked against the image's length.
struct PngJob {
  std::int32_t width;
  std::int32_t height;
  std::int32_t bitCount;
  std::int32_t stride;
  const std::uint8_t* pixels;  // the first (bottom) row of the pixel area
  int colorType;
  bool dropFourthByte;
  int paletteCount;
  png_color palette[bmp::kMaxPaletteEntries];
  int alphaCount;  // 0: no tRNS chunk
  png_byte alphas[bmp::kMaxPaletteEntries];
  png_bytep* rows;
};

// Reads and checks the header. False for an image that cannot be written:
// shorter than its headers, a bit count other than 8, 24 or 32, a width or
// height <= 0, more than 256 colours, or a palette or pixel rows that run
// past the end of the image.
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

  job->paletteCount = 0;
  if (job->bitCount == 8) {
    int n = colorCount == 0 ? bmp::kMaxPaletteEntries : static_cast<int>(colorCount);
    if (static_cast<std::size_t>(bmp::kPaletteOffset + 4 * n) > image.size()) return false;
    job->paletteCount = n;
  }
  return true;
}

// True when any pixel of a 32-bit image has a non-zero fourth byte. Every
// pixel is looked at, so that no transparency is lost.
bool HasAlpha(const PngJob& job) {
  for (std::int32_t r = 0; r < job.height; ++r) {
    const std::uint8_t* row = job.pixels + static_cast<std::size_t>(r) * job.stride;
    for (std::int32_t x = 0; x < job.width; ++x) {
      if (row[4 * x + 3] != 0) return true;
    }
  }
  return false;
}

// Runs libpng from the header to the end of the file. Returns false after a
// libpng error (printed by libpng's default handler as "libpng error: %s").
// This frame calls setjmp: plain locals only, none changed after setjmp.
bool WriteImage(png_structp png, png_infop info, const PngJob* job) {
  if (setjmp(png_jmpbuf(png))) return false;

  if (job->paletteCount > 0) {
    png_set_PLTE(png, info, job->palette, job->paletteCount);
    if (job->alphaCount > 0) {
      png_set_tRNS(png, info, job->alphas, job->alphaCount, nullptr);
    }
  }
  png_set_IHDR(png, info, static_cast<png_uint_32>(job->width),
               static_cast<png_uint_32>(job->height), 8, job->colorType, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  if (job->bitCount != 8) png_set_bgr(png);
  // On a write structure the filler transformation strips the byte; it needs
  // the colour type that png_write_info has just recorded.
  if (job->dropFourthByte) png_set_filler(png, 0, PNG_FILLER_AFTER);
  png_write_image(png, job->rows);
  png_write_end(png, info);
  return true;
}

std::int32_t Fail(const std::wstring& path) {
  platform::Print(L"pngファイルの作成に失敗しました(%s)\n", path.c_str());
  return -1;
}

}  // namespace

std::int32_t WritePng(const std::wstring& path, std::span<const std::uint8_t> image,
                      std::int32_t pngMode) {
  PngJob job{};
  if (!ReadHeader(image, &job)) return Fail(path);

  if (job.bitCount == 8) {
    job.colorType = PNG_COLOR_TYPE_PALETTE;
    const std::uint8_t* entry = image.data() + bmp::kPaletteOffset;
    for (int i = 0; i < job.paletteCount; ++i, entry += 4) {
      job.palette[i].red = entry[2];
      job.palette[i].green = entry[1];
      job.palette[i].blue = entry[0];
      job.alphas[i] = entry[3];
    }
    // Every alpha goes out, opaque ones at the end included.
    job.alphaCount = pngMode == 2 ? job.paletteCount : 0;
  } else if (job.bitCount == 32 && HasAlpha(job)) {
    job.colorType = PNG_COLOR_TYPE_RGB_ALPHA;
  } else {
    job.colorType = PNG_COLOR_TYPE_RGB;
    job.dropFourthByte = job.bitCount == 32;
  }

  // PNG row i (top first) is BMP row height - 1 - i. libpng only reads
  // through these pointers.
  std::unique_ptr<png_bytep[]> rows(new (std::nothrow) png_bytep[job.height]);
  if (rows == nullptr) return Fail(path);
  for (std::int32_t i = 0; i < job.height; ++i) {
    const std::uint8_t* row =
        job.pixels + static_cast<std::size_t>(job.height - 1 - i) * job.stride;
    rows[i] = const_cast<png_bytep>(row);
  }
  job.rows = rows.get();

  CPngFile out;
  if (!out.Open(path) || out.Create() != 0) return Fail(path);
  if (!WriteImage(out.png, out.info, &job)) return Fail(path);
  if (!out.Commit()) return Fail(path);
  return 0;
}
