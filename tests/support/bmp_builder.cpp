#include "support/bmp_builder.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdlib>

namespace testing_support {

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

Picture Noise(std::uint32_t seed, std::int32_t width, std::int32_t height) {
  std::mt19937 rng(seed);
  return RandomPicture(rng, width, height, 256, 100);
}

Bytes BmpFrame(std::int32_t width, std::int32_t height, std::uint16_t bitCount, std::size_t entries,
               std::size_t stride, std::uint32_t gap) {
  const std::size_t paletteOffset = 54;
  const std::size_t pixelOffset = paletteOffset + 4 * entries + gap;
  const std::size_t imageSize = stride * static_cast<std::size_t>(std::abs(height));
  Bytes out(pixelOffset + imageSize, 0);
  out[0] = 'B';
  out[1] = 'M';
  PutLe32(out, 2, static_cast<std::uint32_t>(out.size()));
  PutLe32(out, 10, static_cast<std::uint32_t>(pixelOffset));
  PutLe32(out, 14, 40);
  PutLe32(out, 18, static_cast<std::uint32_t>(width));
  PutLe32(out, 22, static_cast<std::uint32_t>(height));
  PutLe16(out, 26, 1);
  PutLe16(out, 28, bitCount);
  PutLe32(out, 34, static_cast<std::uint32_t>(imageSize));
  PutLe32(out, 46, static_cast<std::uint32_t>(entries));
  return out;
}

std::vector<std::uint8_t> BuildBmp(const Picture& picture, const BmpOptions& options) {
  const std::size_t entries = picture.palette.size() / 4;
  const std::size_t stride = (static_cast<std::size_t>(picture.width) * 8 + 31) / 32 * 4;
  const std::size_t paletteOffset = 54;
  const std::size_t pixelOffset = paletteOffset + 4 * entries + options.gap;
  Bytes out = BmpFrame(picture.width, options.topDown ? -picture.height : picture.height,
                       options.bitCount, entries, stride, options.gap);
  PutLe32(out, 30, options.compression);
  if (options.colorCountField >= 0) {
    PutLe32(out, 46, static_cast<std::uint32_t>(options.colorCountField));
  }
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

Bytes ColourBmp(std::int32_t width, std::int32_t height, std::uint16_t bitCount,
                const std::function<std::uint32_t(int x, int y)>& colour, bool topDown) {
  const std::size_t bytesPerPixel = bitCount / 8;
  const std::size_t stride = (static_cast<std::size_t>(width) * bitCount + 31) / 32 * 4;
  Bytes out = BmpFrame(width, topDown ? -height : height, bitCount, 0, stride);
  for (std::int32_t y = 0; y < height; ++y) {
    const std::size_t stored = static_cast<std::size_t>(topDown ? y : height - 1 - y);
    for (std::int32_t x = 0; x < width; ++x) {
      const std::uint32_t c = colour(x, y);
      for (std::size_t b = 0; b < bytesPerPixel; ++b) {
        out[54 + stored * stride + x * bytesPerPixel + b] = static_cast<std::uint8_t>(c >> (8 * b));
      }
    }
  }
  return out;
}

std::vector<std::uint8_t> ChunkPng(const PngHeader& header, const std::vector<std::uint8_t>& idat) {
  if (header.colourType != 3) return ChunkPng(header, idat, {});
  return ChunkPng(header, idat, {{"PLTE", Bytes(768)}});
}

Bytes ChunkPng(const PngHeader& header, const Bytes& idat, const std::vector<PngChunk>& chunks) {
  Bytes file = {0x89, 'P', 'N', 'G', 13, 10, 26, 10};
  auto chunk = [&](const char* type, const Bytes& data) {
    AppendBe32(file, static_cast<std::uint32_t>(data.size()));
    Bytes body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    file.insert(file.end(), body.begin(), body.end());
    AppendBe32(file,
               static_cast<std::uint32_t>(crc32(0, body.data(), static_cast<uInt>(body.size()))));
  };
  Bytes ihdr;
  AppendBe32(ihdr, header.width);
  AppendBe32(ihdr, header.height);
  ihdr.insert(ihdr.end(), {header.bitDepth, header.colourType, 0, 0, header.interlace});
  chunk("IHDR", ihdr);
  for (const PngChunk& c : chunks) chunk(c.type, c.data);
  chunk("IDAT", idat);
  chunk("IEND", {});
  return file;
}

Bytes Zlib(const Bytes& raw) {
  uLongf length = compressBound(static_cast<uLong>(raw.size()));
  Bytes out(length);
  EXPECT_EQ(compress2(out.data(), &length, raw.data(), static_cast<uLong>(raw.size()), 9), Z_OK);
  out.resize(length);
  return out;
}

Bytes ZlibRows(const std::vector<Bytes>& rows) {
  Bytes raw;
  for (const Bytes& row : rows) {
    raw.push_back(0);
    raw.insert(raw.end(), row.begin(), row.end());
  }
  return Zlib(raw);
}

std::vector<std::uint8_t> ZlibZeros(std::size_t count) {
  return Zlib(Bytes(count, 0));
}

}  // namespace testing_support
