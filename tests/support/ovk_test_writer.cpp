#include "support/ovk_test_writer.h"

#include <algorithm>
#include <stdexcept>

#include "ovk/tile_codec.h"
#include "pack/pack.h"

namespace testing_support {

void Append(Bytes& b, const Bytes& more) {
  b.insert(b.end(), more.begin(), more.end());
}

namespace {

// One bit-flag block: the flag bits travel in firstFlags and in 16-bit words
// placed where the decoder's ensure steps load them.
class FlagBlockWriter {
 public:
  FlagBlockWriter() : block_{0, 0, 0, 0} {}

  void Literal(std::uint8_t b) {
    Ensure(1);
    PutBit(0);
    block_.push_back(b);
  }
  // The end code: 1, 1, 0, 0000, the marker byte, then the trailing byte.
  Bytes Finish(std::uint8_t blocksAfter) {
    Ensure(1);
    Ensure(2);
    Ensure(7);
    for (int bit : {1, 1, 0, 0, 0, 0, 0}) PutBit(bit);
    block_.push_back(0);  // marker
    const std::size_t endOffset = block_.size();
    if (endOffset > 0xFFFF) throw std::length_error("flag block too long");
    PutLe16(block_, 0, static_cast<std::uint16_t>(endOffset));
    block_.push_back(blocksAfter);
    return block_;
  }

 private:
  void Ensure(int k) {
    if (available_ - used_ >= k) return;
    words_.push_back(block_.size());
    block_.push_back(0);
    block_.push_back(0);
    available_ += 16;
  }
  void PutBit(int bit) {
    const int index = used_++;
    if (bit == 0) return;
    if (index < 8) {
      block_[3] |= static_cast<std::uint8_t>(1 << index);
    } else {
      const std::size_t at = words_[(index - 8) / 16];
      const int b = (index - 8) % 16;
      block_[at + b / 8] |= static_cast<std::uint8_t>(1 << (b % 8));
    }
  }

  Bytes block_;  // endOffset, blockMode 0, firstFlags, tokens
  std::vector<std::size_t> words_;
  int available_ = 8;
  int used_ = 0;
};

Bytes FlagBlock(const std::uint8_t* data, std::size_t n, std::uint8_t blocksAfter) {
  FlagBlockWriter w;
  for (std::size_t i = 0; i < n; ++i) w.Literal(data[i]);
  return w.Finish(blocksAfter);
}

// One byte-coded block: runs of 4 or more equal bytes as run codes, the rest
// as literal strings, then the end code. The first code is never 0 (that
// byte would make it a bit-flag block), so the content must not be empty.
Bytes CodedBlock(const std::uint8_t* data, std::size_t n, std::uint8_t blocksAfter) {
  Bytes b = {0, 0};
  std::size_t i = 0;
  while (i < n) {
    std::size_t run = 1;
    while (i + run < n && data[i + run] == data[i] && run < 4099) ++run;
    if (run >= 4) {
      if (run <= 19) {
        b.push_back(static_cast<std::uint8_t>(run + 60));  // 0x40..0x4F: x - 60 bytes
        b.push_back(data[i]);
      } else {
        const std::size_t count = run - 4;
        b.push_back(static_cast<std::uint8_t>(0x50 + (count >> 8)));
        b.push_back(static_cast<std::uint8_t>(count & 0xFF));
        b.push_back(data[i]);
      }
      i += run;
      continue;
    }
    // A literal string up to the next run of 4.
    std::size_t end = i;
    while (end < n && end - i < 8191) {
      std::size_t r = 1;
      while (end + r < n && data[end + r] == data[end] && r < 4) ++r;
      if (r >= 4) break;
      ++end;
    }
    const std::size_t count = end - i;
    if (count <= 0x1F) {
      b.push_back(static_cast<std::uint8_t>(count));
    } else {
      b.push_back(static_cast<std::uint8_t>(0x20 + (count >> 8)));
      b.push_back(static_cast<std::uint8_t>(count & 0xFF));
    }
    b.insert(b.end(), data + i, data + end);
    i = end;
  }
  b.push_back(0);  // end of the block
  const std::size_t endOffset = b.size();
  PutLe16(b, 0, static_cast<std::uint16_t>(endOffset));
  b.push_back(blocksAfter);
  return b;
}

std::int32_t Stride8(std::int32_t width) {
  return (width + 3) & ~3;
}

}  // namespace

Bytes PackedSection(const Bytes& content, Packing packing, std::size_t blockContent) {
  if (packing == Packing::kPacker) {
    Bytes data(PackBound(content.size()));
    std::uint32_t blockCount = 0;
    const std::int64_t n = PackBlocks(content, data, kDefaultBlockSize, &blockCount);
    if (n < 0) throw std::runtime_error("PackBlocks failed");
    Bytes s;
    AppendLe32(s, static_cast<std::uint32_t>(8 + n));
    AppendLe32(s, static_cast<std::uint32_t>(content.size()));
    AppendLe32(s, blockCount);
    s.insert(s.end(), data.begin(), data.begin() + n);
    return s;
  }
  std::vector<Bytes> blocks;
  for (std::size_t at = 0; at < content.size(); at += blockContent) {
    blocks.emplace_back(content.begin() + at,
                        content.begin() + std::min(content.size(), at + blockContent));
  }
  Bytes data;
  for (std::size_t k = 0; k < blocks.size(); ++k) {
    const auto after = static_cast<std::uint8_t>(blocks.size() - 1 - k);
    Append(data, packing == Packing::kByteCoded
                     ? CodedBlock(blocks[k].data(), blocks[k].size(), after)
                     : FlagBlock(blocks[k].data(), blocks[k].size(), after));
  }
  Bytes s;
  AppendLe32(s, static_cast<std::uint32_t>(8 + data.size()));
  AppendLe32(s, static_cast<std::uint32_t>(content.size()));
  AppendLe32(s, static_cast<std::uint32_t>(blocks.size()));
  Append(s, data);
  return s;
}

Bytes ClaimingSection(std::uint32_t packedBytes, std::uint32_t unpackedSize) {
  Bytes s;
  AppendLe32(s, 8 + packedBytes);
  AppendLe32(s, unpackedSize);
  AppendLe32(s, 1);
  s.resize(s.size() + packedBytes, 0);
  return s;
}

Bytes PaddedPlane(const Picture& p) {
  const std::int32_t stride = Stride8(p.width);
  Bytes plane(static_cast<std::size_t>(stride) * p.height, 0);
  for (int y = 0; y < p.height; ++y) {
    for (int x = 0; x < p.width; ++x) plane[static_cast<std::size_t>(y) * stride + x] = p.At(x, y);
  }
  return plane;
}

Bytes BlockOrder(const Picture& p) {
  const std::int32_t stride = Stride8(p.width);
  const Bytes plane = PaddedPlane(p);
  const int bands = (p.height + 7) / 8;
  Bytes out(static_cast<std::size_t>(bands) * 8 * stride, 0);
  for (int y = 0; y < p.height; ++y) {
    for (int x = 0; x < stride / 16 * 16; ++x) {
      out[static_cast<std::size_t>(y / 8) * 8 * stride + (x / 16) * 128 + (y % 8) * 16 + x % 16] =
          plane[static_cast<std::size_t>(y) * stride + x];
    }
  }
  return out;
}

Bytes SmallHeader(std::uint32_t version, std::int32_t width, std::int32_t height) {
  Bytes b;
  AppendLe32(b, version);
  AppendLe32(b, static_cast<std::uint32_t>(width));
  AppendLe32(b, static_cast<std::uint32_t>(height));
  return b;
}

Bytes LargeHeader(std::uint32_t version, std::int32_t width, std::int32_t height,
                  std::uint32_t field12) {
  Bytes b = SmallHeader(version, width, height);
  AppendLe32(b, field12);
  return b;
}

Bytes Ovk1000(const Picture& p) {
  Bytes b = SmallHeader(1000, p.width, p.height);
  Append(b, PaletteArea(p));
  Append(b, PaddedPlane(p));
  return b;
}

Bytes Ovk1001(std::int32_t width, std::int32_t height, const std::vector<std::uint16_t>& pixels,
              Packing packing) {
  const std::int32_t stride = (2 * width + 3) & ~3;
  Bytes plane(static_cast<std::size_t>(stride) * height, 0);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const std::uint16_t v = pixels[static_cast<std::size_t>(y) * width + x];
      PutLe16(plane, static_cast<std::size_t>(y) * stride + 2 * x, v);
    }
  }
  Bytes b = SmallHeader(1001, width, height);
  Append(b, PackedSection(plane, packing));
  return b;
}

Bytes Ovk1002(const Picture& p, Packing packing) {
  Bytes b = SmallHeader(1002, p.width, p.height);
  Append(b, PackedSection(p.palette, packing));
  Append(b, PackedSection(PaddedPlane(p), packing));
  return b;
}

Bytes Ovk1004(const Picture& p, Packing packing) {
  Bytes b = LargeHeader(1004, p.width, p.height, static_cast<std::uint32_t>(p.palette.size() / 4));
  Append(b, PackedSection(p.palette, packing));
  Append(b, PackedSection(BlockOrder(p), packing));
  return b;
}

Bytes Ovk1005Raw(std::int32_t width, std::int32_t height, const Bytes& palette,
                 const Bytes& pixelContent, Packing packing) {
  // Each entry stored as its difference from the one before, as a u32.
  Bytes diffs;
  std::uint32_t previous = 0;
  for (std::size_t i = 0; i + 3 < palette.size(); i += 4) {
    const std::uint32_t v = Le32(palette, i);
    AppendLe32(diffs, v - previous);
    previous = v;
  }
  Bytes b = LargeHeader(1005, width, height, 0);
  Append(b, PackedSection(diffs, packing));
  AppendLe32(b, 0xA5A5A5A5);  // the four bytes the reader skips
  Append(b, PackedSection(pixelContent, packing));
  return b;
}

Bytes Blocks1005(const Picture& p, const std::vector<bool>& emptyBlocks, int mode) {
  const int across = Stride8(p.width) / 16;
  const int blocks = across * (p.height / 8);
  Bytes map(static_cast<std::size_t>(blocks / 2 + blocks % 2), 0);
  Bytes tables;
  Bytes data;
  for (int n = 0; n < blocks; ++n) {
    const int bx = 16 * (n % across), by = 8 * (n / across);
    auto pixel = [&](int pos) -> std::uint8_t {
      const int x = bx + pos % 16, y = by + pos / 16;
      return x < p.width ? p.At(x, y) : 0;
    };
    std::uint8_t code = 0;
    if (!emptyBlocks[n]) {
      Bytes colours;
      for (int pos = 0; pos < 128; ++pos) {
        if (std::find(colours.begin(), colours.end(), pixel(pos)) == colours.end()) {
          colours.push_back(pixel(pos));
        }
      }
      if (colours.size() > 16) throw std::invalid_argument("more than 16 colours in a block");
      if (colours.size() < 2) colours.push_back(colours[0]);
      code = static_cast<std::uint8_t>(colours.size() - 1);
      Append(tables, colours);
      auto slot = [&](int pos) {
        return static_cast<int>(std::find(colours.begin(), colours.end(), pixel(pos)) -
                                colours.begin());
      };
      if (mode == 0) {
        for (int pos = 0; pos < 128; pos += 2) {
          data.push_back(static_cast<std::uint8_t>(slot(pos) << 4 | slot(pos + 1)));
        }
      } else {
        data.push_back(1);  // kind: run lists follow
        for (int k = 0; k < 16; ++k) {
          int end = 0;  // the position after the list's previous run
          bool first = true;
          for (int pos = 0; pos < 128;) {
            if (k >= static_cast<int>(colours.size()) || slot(pos) != k) {
              ++pos;
              continue;
            }
            int run = 1;
            while (pos + run < 128 && slot(pos + run) == k) ++run;
            data.push_back(static_cast<std::uint8_t>(first ? pos - end : pos - end - 1));
            data.push_back(static_cast<std::uint8_t>(run - 1));
            first = false;
            pos += run;
            end = pos;
          }
          data.push_back(0xFF);
        }
      }
    }
    if (n % 2 == 0) {
      map[n / 2] |= static_cast<std::uint8_t>(code << 4);
    } else {
      map[n / 2] |= code;
    }
  }
  // With N odd the last code is the high nibble of the first table byte (or,
  // with no tables, of the mode byte): the picture must agree.
  Bytes content(map.begin(), map.begin() + blocks / 2);
  if (blocks % 2 == 1) {
    const std::uint8_t shared = tables.empty() ? static_cast<std::uint8_t>(mode) : tables[0];
    if ((shared & 0xF0) != map.back()) {
      throw std::invalid_argument(
          "the last block's code must be the first table byte's high nibble");
    }
  }
  Append(content, tables);
  content.push_back(static_cast<std::uint8_t>(mode));
  Append(content, data);
  return content;
}

Bytes Ovk1005(const Picture& p, const std::vector<bool>& emptyBlocks, int mode, Packing packing) {
  return Ovk1005Raw(p.width, p.height, p.palette, Blocks1005(p, emptyBlocks, mode), packing);
}

Bytes CcpiHeader(std::uint32_t streamSize, std::int16_t paletteCount, int tileWidthLog2,
                 int tileHeightLog2, std::int16_t width, std::int16_t height, std::uint8_t flags) {
  Bytes b;
  AppendLe32(b, 1006);
  AppendLe32(b, streamSize);
  Append(b, {'C', 'C', 'P', 'I'});
  AppendLe16(b, 7);
  AppendLe16(b, static_cast<std::uint16_t>(paletteCount));
  b.push_back(static_cast<std::uint8_t>(tileWidthLog2));
  b.push_back(static_cast<std::uint8_t>(tileHeightLog2));
  AppendLe16(b, static_cast<std::uint16_t>(width));
  AppendLe16(b, static_cast<std::uint16_t>(height));
  b.push_back(2);
  b.push_back(flags);
  return b;
}

Bytes Ovk1006(const Picture& p, const CcpiOptions& o) {
  const std::int32_t stride = Stride8(p.width);
  const int tw = 1 << o.tileWidthLog2, th = 1 << o.tileHeightLog2;
  const Bytes plane = PaddedPlane(p);
  Bytes stream(static_cast<std::size_t>(o.paletteCount) * 4, 0);
  std::copy(p.palette.begin(), p.palette.begin() + std::min(p.palette.size(), stream.size()),
            stream.begin());
  Bytes tile(TileEncodeBound(tw, th));
  for (int j = 0; j < p.height / th; ++j) {
    for (int i = 0; i < stride / tw; ++i) {
      const std::int32_t n = EncodeTile(
          plane.data() + static_cast<std::size_t>(j) * th * stride + i * tw, stride, tw, th, tile);
      if (n < 0) throw std::runtime_error("tile cannot be encoded");
      stream.insert(stream.end(), tile.begin(), tile.begin() + n);
    }
  }
  Bytes b = CcpiHeader(static_cast<std::uint32_t>(16 + stream.size()), o.paletteCount,
                       o.tileWidthLog2, o.tileHeightLog2, static_cast<std::int16_t>(p.width),
                       static_cast<std::int16_t>(p.height), o.packed ? 0x80 : 0x00);
  if (o.packed) {
    Append(b, PackedSection(stream, o.packing));
  } else {
    Append(b, stream);
  }
  return b;
}

Bytes PaletteArea(const Picture& picture) {
  Bytes area(1024, 0);
  std::copy(picture.palette.begin(),
            picture.palette.begin() + std::min<std::size_t>(picture.palette.size(), 1024),
            area.begin());
  return area;
}

}  // namespace testing_support
