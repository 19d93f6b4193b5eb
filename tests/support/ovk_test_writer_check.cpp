// The checking half of the test ovk writer (support/ovk_test_writer.h): it
// reports through GoogleTest, so it lives apart from the building half that
// the benchmarks link as well.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "ovk/decoder.h"
#include "ovk/layout.h"
#include "ovk/tile_codec.h"
#include "pack/pack.h"
#include "pack/unpack.h"
#include "raster/png_import.h"
#include "support/ovk_test_writer.h"
#include "support/reference_tile_encoder.h"

namespace testing_support {

// ---------------------------------------------------------------------------
// The program's writer run in memory, the files it should write, and what it
// wrote read back.

WriteRun WriteInMemory(const Bytes& input, std::int32_t versionArgument, bool ignoreAlpha,
                       std::int32_t blockSize) {
  WriteRun run;
  ovk::OvkTarget target;
  if (!TargetForVersion(versionArgument, &target)) {
    ADD_FAILURE() << "not a writable version: " << versionArgument;
    return run;
  }
  target.blockSize = blockSize;
  Cbuffer buffer;
  if (buffer.Alloc(static_cast<std::int32_t>(input.size())) == nullptr) {
    ADD_FAILURE() << "no memory for the input";
    return run;
  }
  std::copy(input.begin(), input.end(), buffer.data());
  SourceImage image;
  run.source = PrepareSource(buffer.span(), target, &image);
  run.bitCount = image.bitCount;
  run.width = image.width;
  run.height = image.height;
  if (run.source != Fault::kNone) return run;
  run.encode = ovk::EncodeOvk(
      image, target, ignoreAlpha,
      [&run](std::span<const std::uint8_t> bytes) {
        run.bytes.insert(run.bytes.end(), bytes.begin(), bytes.end());
        return true;
      },
      &run.report);
  run.inputUnchanged = std::equal(input.begin(), input.end(), buffer.data());
  return run;
}

std::optional<Bytes> TileStream(const Picture& picture, int widthLog2, int heightLog2) {
  Bytes stream = PaletteArea(picture);
  const std::int32_t tw = 1 << widthLog2;
  const std::int32_t th = 1 << heightLog2;
  Bytes tile(TileEncodeBound(tw, th));
  for (std::int32_t j = 0; j < picture.height / th; ++j) {
    for (std::int32_t i = 0; i < picture.width / tw; ++i) {
      const std::int32_t n = ReferenceEncodeTile(&picture.indices[j * th * picture.width + i * tw],
                                                 picture.width, tw, th, tile);
      if (n < 0) return std::nullopt;
      stream.insert(stream.end(), tile.begin(), tile.begin() + n);
    }
  }
  return stream;
}

Picture PictureFromPng(const Bytes& png) {
  Cbuffer bmp;
  const std::int32_t n = PngToBmp(bmp, png);
  EXPECT_GT(n, 0);
  Picture p;
  if (n <= 0) return p;
  const Bytes b(bmp.data(), bmp.data() + n);
  p.width = static_cast<std::int32_t>(Le32(b, 18));
  p.height = static_cast<std::int32_t>(Le32(b, 22));
  const std::uint32_t count = Le32(b, 46) == 0 ? 256 : Le32(b, 46);
  for (std::uint32_t e = 0; e < count; ++e) {
    const std::size_t at = 54 + 4 * e;
    p.palette.insert(p.palette.end(), {b[at + 2], b[at + 1], b[at], b[at + 3]});
  }
  const std::size_t offset = Le32(b, 10);
  for (std::int32_t y = 0; y < p.height; ++y) {
    const std::size_t row = offset + static_cast<std::size_t>(p.height - 1 - y) * p.width;
    p.indices.insert(p.indices.end(), b.begin() + row, b.begin() + row + p.width);
  }
  return p;
}

Bytes Expected1000(const Picture& picture) {
  Bytes out = SmallHeader(1000, picture.width, picture.height);
  Append(out, PaletteArea(picture));
  Append(out, picture.indices);
  return out;
}

Bytes Expected1002(const Picture& picture) {
  Bytes out = SmallHeader(1002, picture.width, picture.height);
  Append(out, PackBlocksSection(picture.palette));
  Append(out, PackBlocksSection(picture.indices));
  return out;
}

Bytes Expected1004(const Picture& picture) {
  Bytes out = LargeHeader(1004, picture.width, picture.height,
                          static_cast<std::uint32_t>(picture.palette.size() / 4));
  Append(out, PackBlocksSection(picture.palette));
  Append(out, PackBlocksSection(BlockOrder(picture)));
  return out;
}

Bytes Expected1006(const Picture& picture, int widthLog2, int heightLog2, bool packed) {
  std::optional<Bytes> stream = TileStream(picture, widthLog2, heightLog2);
  EXPECT_TRUE(stream.has_value()) << "a tile cannot be coded at " << widthLog2 << ", "
                                  << heightLog2;
  if (!stream) return {};
  Bytes out = CcpiHeader(static_cast<std::uint32_t>(stream->size() + 16), 256, widthLog2,
                         heightLog2, static_cast<std::int16_t>(picture.width),
                         static_cast<std::int16_t>(picture.height), packed ? 0x80 : 0x00);
  Append(out, packed ? PackBlocksSection(*stream) : *stream);
  return out;
}

std::optional<Bytes> ReadPackedSection(const Bytes& file, std::size_t* pos) {
  if (file.size() < *pos + 12) {
    ADD_FAILURE() << "packed section header past the end of the file at " << *pos;
    return std::nullopt;
  }
  const std::uint32_t sectionSize = Le32(file, *pos);
  const std::uint32_t unpackedSize = Le32(file, *pos + 4);
  const std::uint32_t blockCount = Le32(file, *pos + 8);
  if (sectionSize < 8 || file.size() - *pos - 4 < sectionSize) {
    ADD_FAILURE() << "packed section of " << sectionSize << " bytes runs past the file";
    return std::nullopt;
  }
  const std::span<const std::uint8_t> packed(file.data() + *pos + 12, sectionSize - 8);
  Bytes out(static_cast<std::size_t>(unpackedSize) + 100, 0);
  const std::uint32_t reached = UnpackBlocks(out, unpackedSize, packed, blockCount);
  if (reached != unpackedSize) {
    ADD_FAILURE() << "section unpacks to " << reached << " bytes, not " << unpackedSize;
    return std::nullopt;
  }
  out.resize(unpackedSize);
  *pos += 4 + static_cast<std::size_t>(sectionSize);
  return out;
}

std::optional<Bytes> DecodeTiles(const Bytes& tileData, std::int32_t width, std::int32_t height,
                                 int widthLog2, int heightLog2) {
  const std::int32_t tw = 1 << widthLog2;
  const std::int32_t th = 1 << heightLog2;
  Bytes plane(static_cast<std::size_t>(width) * height, 0);
  std::size_t pos = 0;
  for (std::int32_t j = 0; j < height / th; ++j) {
    for (std::int32_t i = 0; i < width / tw; ++i) {
      const std::int32_t n = DecodeTile(std::span(tileData).subspan(pos),
                                        &plane[j * th * width + i * tw], tw, th, width);
      if (n < 0) {
        ADD_FAILURE() << "tile " << i << ", " << j << " does not decode";
        return std::nullopt;
      }
      pos += static_cast<std::size_t>(n);
    }
  }
  if (pos != tileData.size()) {
    ADD_FAILURE() << tileData.size() - pos << " bytes follow the last tile";
    return std::nullopt;
  }
  return plane;
}

std::optional<Picture> ReadBackStructurally(const Bytes& file, std::size_t entries) {
  if (file.size() < 24) {
    ADD_FAILURE() << "file of " << file.size() << " bytes";
    return std::nullopt;
  }
  Picture p;
  const std::uint32_t version = Le32(file, 0);
  Bytes palette;
  Bytes plane;
  std::size_t pos = 0;
  if (version == 1000 || version == 1002 || version == 1004) {
    p.width = static_cast<std::int32_t>(Le32(file, 4));
    p.height = static_cast<std::int32_t>(Le32(file, 8));
    const std::size_t pixels = static_cast<std::size_t>(p.width) * p.height;
    pos = version == 1004 ? 16 : 12;
    if (version == 1000) {
      if (file.size() != pos + 1024 + pixels) {
        ADD_FAILURE() << "a 1000 file of " << file.size() << " bytes";
        return std::nullopt;
      }
      palette.assign(file.begin() + 12, file.begin() + 12 + 1024);
      plane.assign(file.begin() + 12 + 1024, file.end());
    } else {
      if (version == 1004) {
        EXPECT_EQ(Le32(file, 12), entries) << "paletteCount";
      }
      std::optional<Bytes> pal = ReadPackedSection(file, &pos);
      std::optional<Bytes> pix = pal ? ReadPackedSection(file, &pos) : std::nullopt;
      if (!pix) return std::nullopt;
      EXPECT_EQ(pal->size(), 4 * entries) << "palette section length";
      EXPECT_EQ(pos, file.size()) << "bytes after the last section";
      palette = *pal;
      plane = *pix;
      if (plane.size() != pixels) {
        ADD_FAILURE() << "index plane of " << plane.size() << " bytes";
        return std::nullopt;
      }
      if (version == 1004) {
        Bytes rows(pixels);
        for (std::int32_t y = 0; y < p.height; ++y) {
          for (std::int32_t x = 0; x < p.width; ++x) {
            rows[y * p.width + x] =
                plane[(y / 8) * 8 * p.width + (x / 16) * 128 + (y % 8) * 16 + x % 16];
          }
        }
        plane = rows;
      }
    }
  } else if (version == 1006) {
    EXPECT_EQ(Bytes(file.begin() + 8, file.begin() + 12), (Bytes{'C', 'C', 'P', 'I'}));
    EXPECT_EQ(Le16(file, 12), 7);
    EXPECT_EQ(Le16(file, 14), 256);
    EXPECT_EQ(file[22], 2);
    const int wlog = file[16];
    const int hlog = file[17];
    p.width = Le16(file, 18);
    p.height = Le16(file, 20);
    const std::uint32_t streamSize = Le32(file, 4);
    Bytes stream;
    if (file[23] == 0x80) {
      pos = 24;
      std::optional<Bytes> s = ReadPackedSection(file, &pos);
      if (!s) return std::nullopt;
      EXPECT_EQ(pos, file.size()) << "bytes after the packed stream";
      stream = *s;
    } else {
      EXPECT_EQ(file[23], 0) << "flags";
      stream.assign(file.begin() + 24, file.end());
    }
    EXPECT_EQ(streamSize, stream.size() + 16) << "streamSize";
    if (stream.size() < 1024) {
      ADD_FAILURE() << "tile stream of " << stream.size() << " bytes";
      return std::nullopt;
    }
    palette.assign(stream.begin(), stream.begin() + 1024);
    std::optional<Bytes> decoded =
        DecodeTiles(Bytes(stream.begin() + 1024, stream.end()), p.width, p.height, wlog, hlog);
    if (!decoded) return std::nullopt;
    plane = *decoded;
  } else {
    ADD_FAILURE() << "version " << version;
    return std::nullopt;
  }
  // Entries past the picture's own must be zero in the fixed palette areas.
  if (palette.size() > 4 * entries) {
    EXPECT_TRUE(std::all_of(palette.begin() + 4 * entries, palette.end(), [](std::uint8_t b) {
      return b == 0;
    })) << "palette area not zero past the entries";
  }
  palette.resize(4 * entries);
  p.palette = palette;
  p.indices = plane;
  return p;
}

std::optional<Picture> DecodeWithReader(const Bytes& file) {
  ovk::OvkHeader header;
  if (ovk::ReadOvkHeader(file, &header) != Fault::kNone) {
    ADD_FAILURE() << "the reader refuses the header";
    return std::nullopt;
  }
  Bytes image(static_cast<std::size_t>(header.imageBytes), 0);
  ovk::OvkSections sections;
  const Error walk = ovk::WalkOvk(file, &sections);
  const Error code = walk.ok() ? ovk::DecodeOvk(image, sections, ovk::PixelForm::kFileDepth) : walk;
  if (!code.ok()) {
    ADD_FAILURE() << "the walk or DecodeOvk gives fault " << static_cast<int>(code.fault);
    return std::nullopt;
  }
  Picture p;
  p.width = static_cast<std::int32_t>(Le32(image, 18));
  p.height = static_cast<std::int32_t>(Le32(image, 22));
  EXPECT_EQ(Le16(image, 28), 8) << "bit count";
  const std::uint32_t entries = Le32(image, 46);
  const std::size_t offset = Le32(image, 10);
  p.palette.assign(image.begin() + 54, image.begin() + 54 + 4 * entries);
  const std::size_t stride = (static_cast<std::size_t>(p.width) + 3) & ~std::size_t{3};
  for (std::int32_t y = 0; y < p.height; ++y) {
    const std::size_t row = offset + (p.height - 1 - y) * stride;
    p.indices.insert(p.indices.end(), image.begin() + row, image.begin() + row + p.width);
  }
  return p;
}

}  // namespace testing_support
