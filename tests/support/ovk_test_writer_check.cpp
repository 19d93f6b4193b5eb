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

namespace {

// The picture of an 8-bit bottom-up BMP image (rows padded to 4 bytes):
// `entries` palette entries, B, G, R, A turned to R, G, B, A when `swap`.
Picture PictureFromBmp(const Bytes& b, std::uint32_t entries, bool swap) {
  Picture p;
  p.width = static_cast<std::int32_t>(Le32(b, 18));
  p.height = static_cast<std::int32_t>(Le32(b, 22));
  for (std::uint32_t e = 0; e < entries; ++e) {
    const std::size_t at = 54 + 4 * e;
    p.palette.insert(p.palette.end(),
                     {b[at + (swap ? 2 : 0)], b[at + 1], b[at + (swap ? 0 : 2)], b[at + 3]});
  }
  const std::size_t offset = Le32(b, 10);
  const std::size_t stride = (static_cast<std::size_t>(p.width) + 3) & ~std::size_t{3};
  for (std::int32_t y = 0; y < p.height; ++y) {
    const std::size_t row = offset + static_cast<std::size_t>(p.height - 1 - y) * stride;
    p.indices.insert(p.indices.end(), b.begin() + row, b.begin() + row + p.width);
  }
  return p;
}

}  // namespace

Picture PictureFromPng(const Bytes& png) {
  Cbuffer bmp;
  const Error e = PngToBmp(bmp, png);
  EXPECT_TRUE(e.ok());
  if (!e.ok()) return {};
  const Bytes b(bmp.data(), bmp.data() + bmp.size());
  return PictureFromBmp(b, Le32(b, 46) == 0 ? 256 : Le32(b, 46), true);
}

Bytes Expected1006(const Picture& picture, int widthLog2, int heightLog2, bool packed) {
  std::optional<Bytes> stream = TileStream(picture, widthLog2, heightLog2);
  EXPECT_TRUE(stream.has_value()) << "a tile cannot be coded at " << widthLog2 << ", "
                                  << heightLog2;
  if (!stream) return {};
  Bytes out = CcpiHeader(static_cast<std::uint32_t>(stream->size() + 16), 256, widthLog2,
                         heightLog2, static_cast<std::int16_t>(picture.width),
                         static_cast<std::int16_t>(picture.height), packed ? 0x80 : 0x00);
  Append(out, packed ? PackedSection(*stream, Packing::kPacker) : *stream);
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

Bytes ExpectedFile(const Picture& picture, std::int32_t versionArgument,
                   const ovk::EncodeReport& report) {
  switch (versionArgument) {
    case 1000:
      return Ovk1000(picture);
    case 1002:
      return Ovk1002(picture, Packing::kPacker);
    case 1004:
      return Ovk1004(picture, Packing::kPacker);
    default:
      return Expected1006(picture, report.tileWidthLog2, report.tileHeightLog2,
                          versionArgument == 1006);
  }
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
  EXPECT_EQ(Le16(image, 28), 8) << "bit count";
  return PictureFromBmp(image, Le32(image, 46), false);
}

}  // namespace testing_support
