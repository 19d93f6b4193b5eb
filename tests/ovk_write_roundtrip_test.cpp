// Every file the writer produces is the one the layout rules give, and reads
// back to exactly its picture through the program's reader: random pictures of many
// sizes, palettes and textures, and the bundled artwork, in every writable
// version.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "support/bmp_builder.h"
#include "support/ovk_test_writer.h"
#include "support/test_files.h"

namespace {

using testing_support::Bytes;
using testing_support::Picture;
using testing_support::WriteInMemory;
using testing_support::WriteRun;

constexpr int kVersions[] = {1000, 1002, 1004, 1006, 60};

// Writes `input` in every version and checks that each file reads back to
// `picture`. A version-1006 conversion may give up only when a tile really
// cannot be coded at the smallest tile size the retries reach.
void CheckRoundTrips(const Bytes& input, const Picture& picture) {
  for (int version : kVersions) {
    SCOPED_TRACE(version);
    WriteRun run = WriteInMemory(input, version);
    ASSERT_EQ(run.source, Fault::kNone);
    if (run.encode == Fault::kTileOverflow) {
      EXPECT_FALSE(
          testing_support::TileStream(picture, run.report.tileWidthLog2, run.report.tileHeightLog2))
          << "gave up on tiles that can be coded";
      continue;
    }
    ASSERT_EQ(run.encode, Fault::kNone);
    EXPECT_TRUE(run.bytes == testing_support::ExpectedFile(picture, version, run.report))
        << "not the file the layout rules give";

    // The program's own reader sees the same picture.
    std::optional<Picture> read = testing_support::DecodeWithReader(run.bytes);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->width, picture.width);
    EXPECT_EQ(read->height, picture.height);
    EXPECT_TRUE(read->indices == picture.indices) << "indices differ through DecodeOvk";
    const std::size_t stored =
        version == 1000 || version == 1006 || version == 60 ? 1024 : picture.palette.size();
    ASSERT_EQ(read->palette.size(), stored);
    EXPECT_TRUE(std::equal(picture.palette.begin(), picture.palette.end(), read->palette.begin()));
    EXPECT_TRUE(std::all_of(read->palette.begin() + picture.palette.size(), read->palette.end(),
                            [](std::uint8_t b) { return b == 0; }));
  }
}

TEST(WriterRoundTrip, RandomPictures) {
  std::mt19937 rng(20261207);
  std::uniform_int_distribution<int> side(1, 20);  // 16 to 320 pixels
  std::uniform_int_distribution<int> entries(1, 256);
  const int noises[] = {0, 1, 5, 20, 60, 100};
  for (int i = 0; i < 40; ++i) {
    const std::int32_t w = 16 * side(rng);
    const std::int32_t h = 16 * side(rng);
    const int n = i < 3 ? 1 + 255 * (i / 2) : entries(rng);  // 1, 1, 256, then random
    const int noise = noises[i % 6];
    SCOPED_TRACE(testing::Message() << w << "x" << h << " entries " << n << " noise " << noise);
    Picture p = testing_support::RandomPicture(rng, w, h, n, noise);
    testing_support::BmpOptions options;
    options.topDown = i % 4 == 3;
    CheckRoundTrips(testing_support::BuildBmp(p, options), p);
  }
}

TEST(WriterRoundTrip, BundledArtwork) {
  int images = 0;
  for (const auto& entry :
       std::filesystem::directory_iterator(testing_support::DataPath("images"))) {
    if (entry.path().extension() != ".png") continue;
    SCOPED_TRACE(entry.path().filename().string());
    const Bytes png = testing_support::ReadBytes(entry.path().string());
    const Picture picture = testing_support::PictureFromPng(png);
    ASSERT_GT(picture.width, 0);
    CheckRoundTrips(png, picture);
    ++images;
  }
  EXPECT_EQ(images, 5);
}

}  // namespace
