#include "support/png_reader.h"

#include <cstring>

namespace testing_support {

namespace {

struct MemoryReader {
  const Bytes* data;
  std::size_t pos;
};

void ReadMemory(png_structp png, png_bytep out, std::size_t n) {
  auto* r = static_cast<MemoryReader*>(png_get_io_ptr(png));
  if (n > r->data->size() - r->pos) png_error(png, "short");
  std::memcpy(out, r->data->data() + r->pos, n);
  r->pos += n;
}

// libpng's errors longjmp here; the frame holds no C++ object, only pointers
// to the caller's.
bool ReadRows(png_structp png, png_infop info, const PngReadOptions* options, DecodedPng* out,
              std::vector<png_bytep>* pointers) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_read_info(png, info);
  out->colorType = png_get_color_type(png, info);
  png_colorp plte;
  int n;
  if (png_get_PLTE(png, info, &plte, &n) != 0) out->plte.assign(plte, plte + n);
  // Only a palette's tRNS is a list of alphas; other colour types have one
  // transparent colour and no list.
  png_bytep trns = nullptr;
  if (png_get_tRNS(png, info, &trns, &n, nullptr) != 0 && trns != nullptr) {
    out->trns.assign(trns, trns + n);
  }
  if (options->asImported) {
    if (png_get_bit_depth(png, info) == 16) png_set_strip_16(png);
    double gamma = 0;
    if (png_get_gAMA(png, info, &gamma) != 0) png_set_gamma(png, 2.2, gamma);
    if (options->expandPalette) png_set_palette_to_rgb(png);
    png_set_bgr(png);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
  }
  out->width = png_get_image_width(png, info);
  out->height = png_get_image_height(png, info);
  out->channels = png_get_channels(png, info);
  out->rows.assign(out->height, Bytes(png_get_rowbytes(png, info)));
  for (Bytes& r : out->rows) pointers->push_back(r.data());
  png_read_image(png, pointers->data());
  if (!options->asImported) png_read_end(png, nullptr);
  return true;
}

}  // namespace

DecodedPng DecodePng(const Bytes& file, const PngReadOptions& options) {
  DecodedPng out;
  MemoryReader reader{&file, 0};
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr,
                                           [](png_structp, png_const_charp) {});
  png_infop info = png_create_info_struct(png);
  png_set_read_fn(png, &reader, ReadMemory);
  std::vector<png_bytep> pointers;
  pointers.reserve(1 << 16);
  out.ok = ReadRows(png, info, &options, &out, &pointers);
  png_destroy_read_struct(&png, &info, nullptr);
  return out;
}

Bytes PngRgba(const DecodedPng& png) {
  Bytes out;
  for (const Bytes& row : png.rows) {
    if (png.colorType == PNG_COLOR_TYPE_PALETTE) {
      for (std::uint8_t i : row) {
        out.insert(out.end(), {png.plte[i].red, png.plte[i].green, png.plte[i].blue,
                               std::uint8_t(i < png.trns.size() ? png.trns[i] : 255)});
      }
    } else {
      const std::size_t n = png.colorType == PNG_COLOR_TYPE_RGB_ALPHA ? 4 : 3;
      for (std::size_t x = 0; x + n <= row.size(); x += n) {
        out.insert(out.end(),
                   {row[x], row[x + 1], row[x + 2], std::uint8_t(n == 4 ? row[x + 3] : 255)});
      }
    }
  }
  return out;
}

}  // namespace testing_support
