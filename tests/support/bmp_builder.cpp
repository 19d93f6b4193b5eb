#include "support/bmp_builder.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>

namespace testing_support {

namespace {

void Put16(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t v) {
  out[at] = static_cast<std::uint8_t>(v);
  out[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
void Put32(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t v) {
  Put16(out, at, v & 0xFFFF);
  Put16(out, at + 2, v >> 16);
}

}  // namespace

Picture RandomPicture(std::mt19937& rng, std::int32_t width, std::int32_t height, int entries,
                      int noisePercent) {
  Picture p;
  p.width = width;
  p.height = height;
  p.palette.resize(static_cast<std::size_t>(entries) * 4);
  for (auto& b : p.palette) b = static_cast<std::uint8_t>(rng());
  p.indices.resize(static_cast<std::size_t>(width) * height);
  std::uniform_int_distribution<int> colour(0, entries - 1);
  std::uniform_int_distribution<int> percent(0, 99);
  std::uint8_t current = static_cast<std::uint8_t>(colour(rng));
  for (std::int32_t y = 0; y < height; ++y) {
    for (std::int32_t x = 0; x < width; ++x) {
      std::size_t i = static_cast<std::size_t>(y) * width + x;
      if (percent(rng) < noisePercent) {
        p.indices[i] = static_cast<std::uint8_t>(colour(rng));
      } else if (y > 0 && percent(rng) < 50) {
        p.indices[i] = p.indices[i - width];  // vertical runs as well as horizontal
      } else {
        p.indices[i] = current;
      }
      current = p.indices[i];
    }
  }
  return p;
}

std::vector<std::uint8_t> BuildBmp(const Picture& picture, const BmpOptions& options) {
  const std::size_t entries = picture.palette.size() / 4;
  const std::size_t stride = (static_cast<std::size_t>(picture.width) * 8 + 31) / 32 * 4;
  const std::size_t paletteOffset = 54;
  const std::size_t pixelOffset = paletteOffset + 4 * entries + options.gap;
  const std::size_t imageSize = stride * picture.height;
  std::vector<std::uint8_t> out(pixelOffset + imageSize, 0);
  out[0] = 'B';
  out[1] = 'M';
  Put32(out, 2, static_cast<std::uint32_t>(out.size()));
  Put32(out, 10, static_cast<std::uint32_t>(pixelOffset));
  Put32(out, 14, 40);
  Put32(out, 18, static_cast<std::uint32_t>(picture.width));
  Put32(out, 22, static_cast<std::uint32_t>(options.topDown ? -picture.height : picture.height));
  Put16(out, 26, 1);
  Put16(out, 28, options.bitCount);
  Put32(out, 30, options.compression);
  Put32(out, 34, static_cast<std::uint32_t>(imageSize));
  Put32(
      out, 46,
      static_cast<std::uint32_t>(options.colorCountField < 0 ? entries : options.colorCountField));
  for (std::size_t e = 0; e < entries; ++e) {
    out[paletteOffset + 4 * e + 0] = picture.palette[4 * e + 2];
    out[paletteOffset + 4 * e + 1] = picture.palette[4 * e + 1];
    out[paletteOffset + 4 * e + 2] = picture.palette[4 * e + 0];
    out[paletteOffset + 4 * e + 3] = picture.palette[4 * e + 3];
  }
  for (std::int32_t y = 0; y < picture.height; ++y) {
    const std::size_t stored = options.topDown ? y : picture.height - 1 - y;
    for (std::int32_t x = 0; x < picture.width; ++x) {
      out[pixelOffset + stored * stride + x] = picture.At(x, y);
    }
  }
  return out;
}

std::vector<std::uint8_t> ChunkPng(const PngHeader& header, const std::vector<std::uint8_t>& idat) {
  std::vector<std::uint8_t> file = {0x89, 'P', 'N', 'G', 13, 10, 26, 10};
  auto be32 = [](std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int s = 24; s >= 0; s -= 8) out.push_back(static_cast<std::uint8_t>(v >> s));
  };
  auto chunk = [&](const char* type, const std::vector<std::uint8_t>& data) {
    be32(file, static_cast<std::uint32_t>(data.size()));
    std::vector<std::uint8_t> body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    file.insert(file.end(), body.begin(), body.end());
    be32(file, static_cast<std::uint32_t>(crc32(0, body.data(), static_cast<uInt>(body.size()))));
  };
  std::vector<std::uint8_t> ihdr;
  be32(ihdr, header.width);
  be32(ihdr, header.height);
  ihdr.insert(ihdr.end(), {header.bitDepth, header.colourType, 0, 0, header.interlace});
  chunk("IHDR", ihdr);
  if (header.colourType == 3) chunk("PLTE", std::vector<std::uint8_t>(768));
  chunk("IDAT", idat);
  chunk("IEND", {});
  return file;
}

std::vector<std::uint8_t> ZlibZeros(std::uint64_t count) {
  // After a full flush deflate starts afresh, so every further megabyte of
  // zeros codes to the same bytes: the stream is built by repeating them
  // rather than by compressing every byte.
  constexpr std::size_t kPiece = 1 << 20;
  const std::vector<std::uint8_t> zeros(kPiece, 0);
  z_stream z{};
  EXPECT_EQ(deflateInit(&z, 9), Z_OK);
  auto deflatePiece = [&](std::size_t n) {
    std::vector<std::uint8_t> out(deflateBound(&z, n) + 64);
    z.next_in = const_cast<Bytef*>(zeros.data());
    z.avail_in = static_cast<uInt>(n);
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&z, Z_FULL_FLUSH), Z_OK);
    EXPECT_EQ(z.avail_in, 0u);
    out.resize(out.size() - z.avail_out);
    return out;
  };
  std::vector<std::uint8_t> stream = deflatePiece(std::min<std::uint64_t>(count, kPiece));
  std::uint64_t left = count - std::min<std::uint64_t>(count, kPiece);
  if (left >= kPiece) {
    const std::vector<std::uint8_t> piece = deflatePiece(kPiece);
    EXPECT_EQ(deflatePiece(kPiece), piece) << "a full flush does not repeat";
    for (; left >= kPiece; left -= kPiece) stream.insert(stream.end(), piece.begin(), piece.end());
  }
  if (left > 0) {
    const std::vector<std::uint8_t> rest = deflatePiece(static_cast<std::size_t>(left));
    stream.insert(stream.end(), rest.begin(), rest.end());
  }
  deflateEnd(&z);
  // The last block: empty, fixed codes, final; then the Adler-32 of `count`
  // zeros (the sum of bytes stays 1, the sum of sums grows by 1 a byte).
  const std::uint32_t adler = static_cast<std::uint32_t>((count % 65521) << 16 | 1);
  stream.insert(stream.end(), {0x03, 0x00});
  for (int s = 24; s >= 0; s -= 8) stream.push_back(static_cast<std::uint8_t>(adler >> s));
  return stream;
}

}  // namespace testing_support
