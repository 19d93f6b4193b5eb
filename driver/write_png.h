// Writing a decoded image as a PNG file: the encoding of raster/png_export.h
// through an output file that appears whole or not at all.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "io/output_file.h"
#include "raster/png_export.h"

// Writes the BMP image held in `image` to `path` as a PNG. The file appears
// whole or not at all. Prints "pngファイルの作成に失敗しました(%s)\n" and
// returns -1 on failure; 0 on success.
[[nodiscard]] std::int32_t WritePng(const std::wstring& path, std::span<const std::uint8_t> image,
                                    PaletteOutput paletteOutput);

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
  [[nodiscard]] bool Open(const std::wstring& path) { return output_.Open(path); }
  // Writes all of `bytes`; false on an error or a short write.
  [[nodiscard]] bool Write(std::span<const std::uint8_t> bytes) {
    return output_.Write(bytes.data(), bytes.size());
  }
  // Closes the file and moves it into place; false when that fails.
  [[nodiscard]] bool Commit() { return output_.Commit(); }

 private:
  CoutputFile output_;
};
