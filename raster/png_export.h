// Writing a BmpImage (8, 24 or 32 bits) as a PNG file.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "io/output_file.h"

// Writes the BMP image held in `image` to `path` as a PNG. pngMode 1: a
// palette image gets no tRNS chunk; 2: it gets one alpha per palette entry.
// The file appears whole or not at all. Prints
// "pngファイルの作成に失敗しました(%s)\n" and returns -1 on failure; 0 on success.
std::int32_t WritePng(const std::wstring& path, std::span<const std::uint8_t> image,
                      std::int32_t pngMode);

// The PNG file that WritePng writes, built in memory: replaces `png` with
// its bytes. False (and nothing printed) for an image that cannot be written.
bool EncodePng(std::span<const std::uint8_t> image, std::int32_t pngMode,
               std::vector<std::uint8_t>* png);

// The output file of one WritePng call: a temporary file beside the
// destination that Commit() puts in place. A file that is not committed when
// the object goes away is removed, and the destination stays as it was.
class CPngFile {
 public:
  CPngFile() = default;
  CPngFile(const CPngFile&) = delete;
  CPngFile& operator=(const CPngFile&) = delete;
  virtual ~CPngFile() = default;

  // Opens the output for `path`; false when it cannot be created.
  bool Open(const std::wstring& path) { return output_.Open(path); }
  // Writes all of `bytes`; false on an error or a short write.
  bool Write(std::span<const std::uint8_t> bytes) {
    return output_.Write(bytes.data(), bytes.size());
  }
  // Closes the file and moves it into place; false when that fails.
  bool Commit() { return output_.Commit(); }

 private:
  CoutputFile output_;
};
