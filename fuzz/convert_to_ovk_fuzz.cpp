// Arbitrary bytes as a BMP or PNG input to the writing side. The first byte
// picks the conversion (bits 0-2: version 1000, 1002, 1004, 1006 or 60 for
// 1006 raw; bit 3: ignore alpha; bit 4: the smallest block size); the rest is
// the input file. Whatever the bytes, the input is refused or written, and a
// written file reads back to the picture it came from (header, palette and
// every index), by the layout rules and through DecodeOvk. The sanitizers watch every read and
// write on the way.
//
// Every picture is written, however large. A BMP holds its pixels, so it has
// fewer than L of them for an input of L bytes; a PNG accepted from its
// header (8 bits, sides multiples of 16) has at most 1032 * L / 17 rows of
// at least 17 filtered bytes, so at most 1032 * L pixels. The largest
// allocation is the image that DecodeOvk reads the file back into, 4 bytes a
// pixel and 1078: for L = 4096, 16,909,366 bytes, under the 17 MiB malloc
// limit of fuzz/CMakeLists.txt (the writer's own largest buffer, the 1006
// tile stream, takes 2 * (pixels + 1040)).
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "driver/source.h"
#include "fuzz/check.h"
#include "fuzz/quiet_stderr.h"
#include "ovk/decoder.h"
#include "ovk/layout.h"
#include "ovk/tile_codec.h"
#include "pack/pack.h"
#include "pack/unpack.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

std::uint32_t Le32(const Bytes& b, std::size_t at) {
  Check(at + 4 <= b.size());
  return static_cast<std::uint32_t>(b[at]) | (static_cast<std::uint32_t>(b[at + 1]) << 8) |
         (static_cast<std::uint32_t>(b[at + 2]) << 16) |
         (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

// Unpacks the packed section at *pos and moves past it.
Bytes Section(const Bytes& file, std::size_t* pos) {
  const std::uint32_t sectionSize = Le32(file, *pos);
  const std::uint32_t unpackedSize = Le32(file, *pos + 4);
  const std::uint32_t blocks = Le32(file, *pos + 8);
  Check(sectionSize >= 8 && file.size() - *pos - 4 >= sectionSize);
  Bytes out(static_cast<std::size_t>(unpackedSize) + 100, 0);
  const std::uint32_t reached =
      UnpackBlocks(out, unpackedSize, std::span(file).subspan(*pos + 12, sectionSize - 8), blocks);
  Check(reached == unpackedSize);
  out.resize(unpackedSize);
  *pos += 4 + static_cast<std::size_t>(sectionSize);
  return out;
}

// Reads `file` back and compares it with the picture: `plane` top-down,
// `palette` the 1024-byte palette area in ovk order.
void Verify(const Bytes& file, const ovk::OvkTarget& target, std::int32_t width,
            std::int32_t height, std::int32_t count, const Bytes& plane, const Bytes& palette) {
  const std::size_t pixels = plane.size();
  const std::size_t paletteBytes = 4 * static_cast<std::size_t>(count);
  Check(Le32(file, 0) == target.version);
  if (target.version != 1006) {
    Check(Le32(file, 4) == static_cast<std::uint32_t>(width));
    Check(Le32(file, 8) == static_cast<std::uint32_t>(height));
  }
  if (target.version == 1000) {
    Check(file.size() == 12 + 1024 + pixels);
    Check(std::memcmp(&file[12], palette.data(), 1024) == 0);
    Check(std::memcmp(&file[12 + 1024], plane.data(), pixels) == 0);
    return;
  }
  if (target.version == 1002 || target.version == 1004) {
    std::size_t pos = target.version == 1004 ? 16 : 12;
    if (target.version == 1004) Check(Le32(file, 12) == static_cast<std::uint32_t>(count));
    Bytes pal = Section(file, &pos);
    Bytes pix = Section(file, &pos);
    Check(pos == file.size());
    Check(pal.size() == paletteBytes && std::memcmp(pal.data(), palette.data(), paletteBytes) == 0);
    Check(pix.size() == pixels);
    for (std::int32_t y = 0; y < height; ++y) {
      for (std::int32_t x = 0; x < width; ++x) {
        const std::size_t at = target.version == 1002
                                   ? static_cast<std::size_t>(y) * width + x
                                   : (y / 8) * 8 * static_cast<std::size_t>(width) +
                                         (x / 16) * 128 + (y % 8) * 16 + x % 16;
        Check(pix[at] == plane[static_cast<std::size_t>(y) * width + x]);
      }
    }
    return;
  }
  // 1006
  Check(file.size() >= 24 && std::memcmp(&file[8], "CCPI", 4) == 0);
  Check((file[18] | (file[19] << 8)) == width && (file[20] | (file[21] << 8)) == height);
  const int wlog = file[16];
  const int hlog = file[17];
  Check(wlog >= 4 && hlog >= 4 && wlog <= 7 && hlog <= 6);
  Bytes stream;
  if (target.packed) {
    Check(file[23] == 0x80);
    std::size_t pos = 24;
    stream = Section(file, &pos);
    Check(pos == file.size());
  } else {
    Check(file[23] == 0);
    stream.assign(file.begin() + 24, file.end());
  }
  Check(Le32(file, 4) == stream.size() + 16);
  Check(stream.size() >= 1024 && std::memcmp(stream.data(), palette.data(), 1024) == 0);
  const std::int32_t tw = 1 << wlog;
  const std::int32_t th = 1 << hlog;
  Bytes decoded(pixels, 0);
  std::size_t pos = 1024;
  for (std::int32_t j = 0; j < height / th; ++j) {
    for (std::int32_t i = 0; i < width / tw; ++i) {
      const std::int32_t n =
          DecodeTile(std::span(stream).subspan(pos),
                     &decoded[static_cast<std::size_t>(j) * th * width + i * tw], tw, th, width);
      Check(n > 0);
      pos += static_cast<std::size_t>(n);
    }
  }
  Check(pos == stream.size() && decoded == plane);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  return CloseStderrUnlessAsked(argc, argv);
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  static constexpr std::int32_t kVersions[] = {1000, 1002, 1004, 1006, 60, 1006, 60, 1000};
  const std::uint8_t options = data[0];
  ovk::OvkTarget target;
  Check(TargetForVersion(kVersions[options & 7], &target));
  const bool ignoreAlpha = (options & 8) != 0;
  target.blockSize = (options & 16) != 0 ? kMinBlockSize : kDefaultBlockSize;

  Cbuffer input;
  if (input.Alloc(static_cast<std::int32_t>(size - 1)) == nullptr) return 0;
  if (size > 1) std::memcpy(input.data(), data + 1, size - 1);
  SourceImage image;
  const Error status = PrepareSource(input.span(), target, &image);
  if (status != Fault::kNone) return 0;
  const std::int32_t width = image.width;
  const std::int32_t height = image.height;
  Check(width > 0 && height > 0 && width % 16 == 0 && height % 16 == 0);
  Check(image.count >= 1 && image.count <= 256);

  // The picture as the file should hold it: rows top-down.
  Bytes plane(static_cast<std::size_t>(width) * height);
  for (std::int32_t y = 0; y < height; ++y) {
    const std::int32_t from = image.topDown ? y : height - 1 - y;
    std::memcpy(&plane[static_cast<std::size_t>(y) * width],
                image.pixels + static_cast<std::size_t>(from) * width, width);
  }
  Bytes palette(1024, 0);
  for (std::int32_t e = 0; e < image.count; ++e) {
    const std::uint8_t* entry = image.palette + 4 * e;
    palette[4 * e] = entry[2];
    palette[4 * e + 1] = entry[1];
    palette[4 * e + 2] = entry[0];
    palette[4 * e + 3] = ignoreAlpha ? 255 : entry[3];
  }

  Bytes file;
  ovk::EncodeReport report;
  const Error result = ovk::EncodeOvk(
      image, target, ignoreAlpha,
      [&file](std::span<const std::uint8_t> bytes) {
        file.insert(file.end(), bytes.begin(), bytes.end());
        return true;
      },
      &report);
  if (result == Fault::kTileOverflow) {
    Check(target.version == 1006 && file.empty() && report.tileOverflows >= 1);
    return 0;
  }
  Check(result == Fault::kNone);
  Verify(file, target, width, height, image.count, plane, palette);

  // The program's reader sees the same picture.
  ovk::OvkHeader header;
  Check(ovk::ReadOvkHeader(file, &header) == Fault::kNone);
  Bytes decoded(static_cast<std::size_t>(header.imageBytes), 0);
  ovk::OvkSections sections;
  Check(ovk::WalkOvk(file, &sections).ok());
  Check(ovk::DecodeOvk(decoded, sections, ovk::PixelForm::kFileDepth).ok());
  const std::size_t offset = Le32(decoded, 10);
  const std::uint32_t entries = Le32(decoded, 46);
  Check(entries >= static_cast<std::uint32_t>(image.count) && entries <= 256);
  Check(std::memcmp(&decoded[54], palette.data(), 4 * entries) == 0);
  for (std::int32_t y = 0; y < height; ++y) {
    Check(std::memcmp(&decoded[offset + static_cast<std::size_t>(height - 1 - y) * width],
                      &plane[static_cast<std::size_t>(y) * width], width) == 0);
  }
  return 0;
}
