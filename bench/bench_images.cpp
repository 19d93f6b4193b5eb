#include "bench_images.h"

#include <png.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace {

BenchImage Load(const std::filesystem::path& path) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) {
    std::fprintf(stderr, "cannot read %s: %s\n", path.c_str(), image.message);
    std::abort();
  }
  image.format = PNG_FORMAT_RGBA_COLORMAP;
  BenchImage out;
  out.name = path.stem().string();
  out.width = static_cast<int>(image.width);
  out.height = static_cast<int>(image.height);
  out.indices.resize(PNG_IMAGE_SIZE(image));
  out.palette.resize(PNG_IMAGE_COLORMAP_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, out.indices.data(), 0, out.palette.data())) {
    std::fprintf(stderr, "cannot decode %s: %s\n", path.c_str(), image.message);
    std::abort();
  }
  out.palette.resize(4u * image.colormap_entries);
  return out;
}

}  // namespace

const std::vector<BenchImage>& BenchImages() {
  static const std::vector<BenchImage> images = [] {
    std::vector<BenchImage> all;
    for (const auto& entry : std::filesystem::directory_iterator(OVK_TEST_DATA "/images")) {
      if (entry.path().extension() == ".png") all.push_back(Load(entry.path()));
    }
    std::sort(all.begin(), all.end(),
              [](const BenchImage& a, const BenchImage& b) { return a.name < b.name; });
    return all;
  }();
  return images;
}
