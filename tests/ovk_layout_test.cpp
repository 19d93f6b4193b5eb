// The container walk: header checks, where each version's sections lie, and
// the limits that make a file damaged.
#include <gtest/gtest.h>

#include "ovk/layout.h"
#include "support/ovk_test_writer.h"

namespace {

using namespace testing_support;
using ovk::OvkSections;

Picture Sample(int width, int height, int colours = 4) {
  Picture p{width, height, {}, {}};
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x)
      p.indices.push_back(static_cast<std::uint8_t>((x + 3 * y) % colours));
  }
  for (int c = 0; c < colours; ++c) Append(p.palette, {std::uint8_t(c), 10, 20, 255});
  return p;
}

Fault Walk(const Bytes& file, OvkSections* s = nullptr) {
  OvkSections local;
  return ovk::WalkOvk(file, s != nullptr ? s : &local).fault;
}

TEST(OvkHeader, VersionsMagicFlagsAndSizes) {
  ovk::OvkHeader h;
  EXPECT_EQ(ovk::ReadOvkHeader(Bytes{0xE8, 0x03}, &h), Fault::kNotOvk);  // no whole version
  for (std::uint32_t v : {999u, 1003u, 1007u, 0u}) {
    EXPECT_EQ(ovk::ReadOvkHeader(SmallHeader(v, 16, 16), &h), Fault::kNotOvk) << v;
  }
  EXPECT_EQ(ovk::ReadOvkHeader(SmallHeader(1002, 16, 16), &h), Fault::kNone);
  EXPECT_EQ(h.headerSize, 12);
  EXPECT_EQ(h.imageBytes, 4 * 256 + 1078);
  EXPECT_EQ(ovk::ReadOvkHeader(LargeHeader(1005, 16, 8, 0), &h), Fault::kNone);
  EXPECT_EQ(h.headerSize, 16);
  // A 1004 header cut before its fourth field.
  EXPECT_EQ(ovk::ReadOvkHeader(SmallHeader(1004, 16, 16), &h), Fault::kDamaged);

  const Bytes ccpi = CcpiHeader(1040, 256, 4, 3, 32, 16, 0x80);
  ASSERT_EQ(ovk::ReadOvkHeader(ccpi, &h), Fault::kNone);
  EXPECT_EQ(h.width, 32);
  EXPECT_EQ(h.height, 16);
  EXPECT_EQ(h.paletteCount, 256);
  EXPECT_EQ(h.tileWidthLog2, 4);
  EXPECT_EQ(h.tileHeightLog2, 3);
  EXPECT_EQ(h.flags, 0x80);
  EXPECT_EQ(h.headerSize, 24);
  for (std::uint8_t flags : {0x03, 0x83, 0x01, 0x40}) {
    EXPECT_EQ(ovk::ReadOvkHeader(CcpiHeader(1040, 256, 4, 4, 16, 16, flags), &h), Fault::kNotOvk)
        << int(flags);
  }
  Bytes badMagic = ccpi;
  badMagic[11] = 'X';
  EXPECT_EQ(ovk::ReadOvkHeader(badMagic, &h), Fault::kNotOvk);
  EXPECT_EQ(ovk::ReadOvkHeader(Bytes(ccpi.begin(), ccpi.end() - 1), &h), Fault::kDamaged);
}

TEST(OvkHeader, ZeroNegativeAndOversizedDimensions) {
  ovk::OvkHeader h;
  // Zero pixels: not an image at all.
  EXPECT_EQ(ovk::ReadOvkHeader(SmallHeader(1000, 0, 16), &h), Fault::kNotOvk);
  EXPECT_EQ(ovk::ReadOvkHeader(SmallHeader(1000, -5, 0), &h), Fault::kNotOvk);
  EXPECT_EQ(ovk::ReadOvkHeader(CcpiHeader(0, 256, 4, 4, 16, 0, 0), &h), Fault::kNotOvk);
  // Negative sizes, even when their product is positive.
  EXPECT_EQ(ovk::ReadOvkHeader(SmallHeader(1000, -16, 16), &h), Fault::kDamaged);
  EXPECT_EQ(ovk::ReadOvkHeader(SmallHeader(1000, -16, -16), &h), Fault::kDamaged);
  EXPECT_EQ(ovk::ReadOvkHeader(CcpiHeader(0, 256, 4, 4, -16, 16, 0), &h), Fault::kDamaged);
  // 65536 x 65536 wraps to 0 in 32 bits; it is far too large, not empty.
  EXPECT_EQ(ovk::ReadOvkHeader(SmallHeader(1000, 65536, 65536), &h), Fault::kDamaged);
  // The largest sides of all: the size test itself must not overflow.
  EXPECT_EQ(ovk::ReadOvkHeader(SmallHeader(1000, 0x7FFFFFFF, 0x7FFFFFFF), &h), Fault::kDamaged);
  // The largest image that fits: 4 * w * h + 1078 <= 2^31 - 1.
  EXPECT_EQ(ovk::ReadOvkHeader(SmallHeader(1000, 1, 536870642), &h), Fault::kNone);
  EXPECT_EQ(h.imageBytes, 2147483646);
  EXPECT_EQ(ovk::ReadOvkHeader(SmallHeader(1000, 1, 536870643), &h), Fault::kDamaged);
  EXPECT_EQ(ovk::ReadOvkHeader(CcpiHeader(0, 256, 4, 4, 32767, 16383, 0), &h), Fault::kNone);
}

TEST(OvkWalk, SectionsOfEveryVersion) {
  const Picture p = Sample(20, 10);  // stride 20
  OvkSections s;

  Bytes v1000 = Ovk1000(p);
  ASSERT_EQ(v1000.size(), 12u + 1024 + 200);
  ASSERT_EQ(Walk(v1000, &s), Fault::kNone);
  EXPECT_FALSE(s.palette.packed);
  EXPECT_EQ(s.palette.data.data(), v1000.data() + 12);
  EXPECT_EQ(s.palette.data.size(), 1024u);
  EXPECT_EQ(s.pixels.data.data(), v1000.data() + 1036);
  EXPECT_EQ(s.pixels.data.size(), 200u);

  ASSERT_EQ(Walk(Ovk1001(4, 2, std::vector<std::uint16_t>(8, 0x8000)), &s), Fault::kNone);
  EXPECT_TRUE(s.pixels.packed);
  EXPECT_EQ(s.pixels.unpackedSize, 16u);
  EXPECT_TRUE(s.palette.data.empty());

  for (Bytes file : {Ovk1002(p), Ovk1004(p), Ovk1005Raw(16, 8, p.palette, Bytes(70, 0))}) {
    ASSERT_EQ(Walk(file, &s), Fault::kNone);
    EXPECT_TRUE(s.palette.packed);
    EXPECT_EQ(s.palette.unpackedSize, 16u);
    const std::size_t header = s.header.version == 1002 ? 12 : 16;
    EXPECT_EQ(s.palette.data.data(), file.data() + header + 12);
    // The pixel section follows the palette section (and, for 1005, 4 bytes).
    const std::size_t next =
        header + (s.palette.data.size() + 12) + (s.header.version == 1005 ? 4 : 0);
    EXPECT_EQ(s.pixels.data.data(), file.data() + next + 12);
    EXPECT_EQ(s.pixels.data.data() + s.pixels.data.size(), file.data() + file.size());
  }

  Bytes raw = Ovk1006(Sample(32, 16), {.tileWidthLog2 = 4, .tileHeightLog2 = 4});
  ASSERT_EQ(Walk(raw, &s), Fault::kNone);
  // streamSize is the file's length less 8.
  EXPECT_EQ(s.header.streamSize, raw.size() - 8);
  EXPECT_EQ(s.palette.data.data(), raw.data() + 24);
  EXPECT_EQ(s.palette.data.size(), 1024u);
  EXPECT_EQ(s.pixels.data.data(), raw.data() + 24 + 1024);
  EXPECT_EQ(s.pixels.data.size(), raw.size() - 24 - 1024);

  Bytes packed = Ovk1006(Sample(32, 16), {.packed = true});
  ASSERT_EQ(Walk(packed, &s), Fault::kNone);
  EXPECT_TRUE(s.palette.packed);
  EXPECT_EQ(s.palette.unpackedSize, raw.size() - 24);
  EXPECT_TRUE(s.pixels.data.empty());
}

TEST(OvkWalk, NextSectionFollowsSectionSizeNotUnpackedSize) {
  const Picture p = Sample(16, 16);
  Bytes file = Ovk1002(p);
  OvkSections before;
  ASSERT_EQ(Walk(file, &before), Fault::kNone);
  PutLe32(file, 12 + 4, 8);  // the palette claims 8 bytes of content
  OvkSections after;
  ASSERT_EQ(Walk(file, &after), Fault::kNone);
  EXPECT_EQ(after.palette.unpackedSize, 8u);
  EXPECT_EQ(after.pixels.data.data(), before.pixels.data.data());
}

TEST(OvkWalk, EveryTruncationIsDamaged) {
  const Picture p = Sample(16, 16);
  for (Bytes file :
       {Ovk1000(p), Ovk1001(16, 16, std::vector<std::uint16_t>(256, 1)), Ovk1002(p), Ovk1004(p),
        Ovk1005(p, std::vector<bool>(2, false), 0), Ovk1006(p, {}), Ovk1006(p, {.packed = true})}) {
    ASSERT_EQ(Walk(file), Fault::kNone);
    for (std::size_t cut = 4; cut < file.size(); ++cut) {
      ASSERT_EQ(Walk(Bytes(file.begin(), file.begin() + cut)), Fault::kDamaged)
          << "version " << Le16(file, 0) << " cut at " << cut;
    }
  }
}

TEST(OvkWalk, PackedSectionLimits) {
  const Picture p = Sample(16, 16);
  Bytes file = Ovk1002(p);
  Bytes bad = file;
  PutLe32(bad, 12, 7);  // sectionSize below 8
  EXPECT_EQ(Walk(bad), Fault::kDamaged);
  bad = file;
  PutLe32(bad, 12, 0xFFFFFFFF);  // runs past the end; no wrap
  EXPECT_EQ(Walk(bad), Fault::kDamaged);

  // Palettes: empty, not whole entries, more than 256 entries.
  for (std::size_t bytes : {0u, 6u, 1028u}) {
    Picture q = p;
    q.palette.assign(bytes, 0x40);
    EXPECT_EQ(Walk(Ovk1002(q)), Fault::kDamaged) << bytes;
    EXPECT_EQ(Walk(Ovk1004(q)), Fault::kDamaged) << bytes;
  }
  Picture full = p;
  full.palette.assign(1024, 0x40);
  EXPECT_EQ(Walk(Ovk1002(full)), Fault::kNone);

  // A 1005 pixel section that claims more content than its data can produce.
  Bytes v1005 = Ovk1005Raw(16, 8, p.palette, Bytes(70, 0));
  OvkSections s;
  ASSERT_EQ(Walk(v1005, &s), Fault::kNone);
  const std::size_t pixelHeader = s.pixels.data.data() - v1005.data() - 12;
  PutLe32(v1005, pixelHeader + 4, static_cast<std::uint32_t>(4109 * s.pixels.data.size()));
  EXPECT_EQ(Walk(v1005), Fault::kNone);
  PutLe32(v1005, pixelHeader + 4, static_cast<std::uint32_t>(4109 * s.pixels.data.size() + 1));
  EXPECT_EQ(Walk(v1005), Fault::kDamaged);
}

TEST(OvkWalk, CcpiPaletteAndStreamLimits) {
  const Picture p = Sample(16, 16);
  for (std::int16_t count : {std::int16_t{0}, std::int16_t{-1}, std::int16_t{257}}) {
    Bytes raw = CcpiHeader(16 + 64, count, 4, 4, 16, 16, 0);
    raw.resize(raw.size() + 64);
    EXPECT_EQ(Walk(raw), Fault::kDamaged) << count;
  }
  // A raw stream shorter than its palette, and one that runs past the file.
  Bytes raw = Ovk1006(p, {.paletteCount = 16});
  OvkSections s;
  ASSERT_EQ(Walk(raw, &s), Fault::kNone);
  EXPECT_EQ(s.palette.data.size(), 64u);
  PutLe32(raw, 4, 16 + 63);
  EXPECT_EQ(Walk(raw), Fault::kDamaged);
  PutLe32(raw, 4, static_cast<std::uint32_t>(raw.size() - 8 + 1));
  EXPECT_EQ(Walk(raw), Fault::kDamaged);
  PutLe32(raw, 4, 0xFFFFFFF0);
  EXPECT_EQ(Walk(raw), Fault::kDamaged);

  // A packed stream whose content is shorter than the palette, or leaves
  // less than the 8 bytes the one 16 x 16 tile takes at least.
  for (std::size_t content : {60u, 64u + 7, 64u + 8}) {
    Bytes packed = CcpiHeader(0, 16, 4, 4, 16, 16, 0x80);
    Append(packed, PackedSection(Bytes(content, 1)));
    EXPECT_EQ(Walk(packed), content == 64 + 8 ? Fault::kNone : Fault::kDamaged) << content;
  }
}

// A palette section claims at most 4109 bytes of content per byte of its
// data (for the pixel sections see the Cli tests), and the picture must be
// within what the pixel section can produce whatever unpackedSize says:
// 4 packed bytes stand for 16436 bytes at most.
TEST(OvkWalk, SectionsMustBackTheirClaimsAndThePicture) {
  struct Case {
    std::uint32_t version;
    std::int32_t width, height;
    Bytes palette;
    std::uint32_t packedBytes, unpackedSize;
    Fault want;
  };
  const Bytes pal = PackedSection(Bytes(16, 7));
  const Case cases[] = {
      {1002, 16, 16, ClaimingSection(0, 4), 4, 0, Fault::kDamaged},  // palette from nothing
      {1004, 16, 16, ClaimingSection(1, 4), 4, 0, Fault::kNone},
      {1002, 4, 4109, pal, 4, 0, Fault::kNone},  // a short plane is allowed
      {1002, 4, 4110, pal, 4, 0, Fault::kDamaged},
      {1001, 2, 4110, {}, 4, 0, Fault::kDamaged},  // 16-bit stride 4
      {1004, 4, 4104, pal, 4, 0, Fault::kNone},    // whole bands of 8 rows
      {1004, 4, 4105, pal, 4, 0, Fault::kDamaged},
      // 1005: a whole block across and down, the map (a nibble a block) and
      // the mode byte.
      {1005, 48, 15, pal, 1, 2, Fault::kNone},
      {1005, 48, 15, pal, 1, 1, Fault::kDamaged},
      {1005, 12, 40000000, pal, 1, 1, Fault::kDamaged},
      {1005, 16, 7, pal, 1, 1, Fault::kDamaged},
  };
  for (const Case& c : cases) {
    Bytes file = c.version <= 1002 ? SmallHeader(c.version, c.width, c.height)
                                   : LargeHeader(c.version, c.width, c.height, 4);
    Append(file, c.palette);
    if (c.version == 1005) AppendLe32(file, 0);
    Append(file, ClaimingSection(c.packedBytes, c.unpackedSize));
    EXPECT_EQ(Walk(file), c.want) << c.version << " " << c.width << "x" << c.height << " claiming "
                                  << c.unpackedSize;
  }
}

// Version 1006: the tiles cover the picture, and the tile data holds at
// least the shortest coding of every tile.
TEST(OvkWalk, TilesMustCoverThePictureAndFitTheirData) {
  struct Case {
    std::int16_t width, height;
    int widthLog2, heightLog2;
    std::uint32_t tileBytes;
    Fault want;
  };
  const Case cases[] = {
      {16, 16, 4, 4, 8, Fault::kNone},        {16, 16, 4, 4, 7, Fault::kDamaged},
      {30, 16, 4, 4, 16, Fault::kNone},       {30, 16, 4, 4, 15, Fault::kDamaged},
      {64, 64, 6, 6, 17, Fault::kNone},       {64, 64, 6, 6, 16, Fault::kDamaged},
      {16, 16, 5, 4, 999, Fault::kDamaged},  // wider than the stride
      {16, 24, 4, 4, 999, Fault::kDamaged},  // the last 8 rows uncovered
      {16, 16, 0, 4, 999, Fault::kDamaged},  // 1 pixel wide: no quads
      {16, 16, 31, 30, 999, Fault::kDamaged},
  };
  for (const Case& c : cases) {
    Bytes raw =
        CcpiHeader(16 + 4 + c.tileBytes, 1, c.widthLog2, c.heightLog2, c.width, c.height, 0);
    raw.resize(raw.size() + 4 + c.tileBytes, 0);
    EXPECT_EQ(Walk(raw), c.want) << c.width << "x" << c.height << " tiles 2^" << c.widthLog2
                                 << " x 2^" << c.heightLog2 << ", " << c.tileBytes << " bytes";
  }
}

}  // namespace
