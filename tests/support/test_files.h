// Small helpers for tests that work with files: scratch directories and
// whole-file reads and writes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

// A fresh empty directory under the system's temporary directory, removed
// with its contents when the object goes away.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::vector<std::uint8_t> ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);
bool FileExists(const std::string& path);
// The names in directory `dir`, sorted.
std::vector<std::string> DirectoryNames(const std::string& dir);

// The directory of bundled test data (tests/data).
std::string DataPath(const std::string& relative);
// The names of the PNG files in tests/data/pngsuite, sorted.
std::vector<std::string> PngSuiteNames();

}  // namespace testing_support
