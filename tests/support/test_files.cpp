#include "support/test_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

namespace testing_support {

ScratchDir::ScratchDir() {
  // A name no directory has yet: create_directory fails on one that exists.
  static std::mt19937_64 random(std::random_device{}());
  const std::filesystem::path base = std::filesystem::temp_directory_path();
  for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
    const std::filesystem::path dir = base / ("ovktest-" + std::to_string(random() % 100000000));
    std::error_code ec;
    if (std::filesystem::create_directory(dir, ec)) path_ = dir.string();
  }
  EXPECT_FALSE(path_.empty());
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  if (!path_.empty()) std::filesystem::remove_all(path_, ec);
}

std::vector<std::uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in),
                                   std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(out.good()) << path;
}

bool FileExists(const std::string& path) {
  return std::filesystem::exists(path);
}

std::vector<std::string> DirectoryNames(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    names.push_back(e.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string DataPath(const std::string& relative) {
  return std::string(OVK_TEST_DATA) + "/" + relative;
}

std::vector<std::string> PngSuiteNames() {
  std::vector<std::string> names;
  for (const std::string& name : DirectoryNames(DataPath("pngsuite"))) {
    if (std::filesystem::path(name).extension() == ".png") names.push_back(name);
  }
  return names;
}

}  // namespace testing_support
