// Writing a BmpImage (8, 24 or 32 bits) as a PNG file through libpng.
#pragma once

#include <png.h>

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

#include "io/output_file.h"

// Writes the BMP image held in `image` to `path` as a PNG. pngMode 1: a
// palette image gets no tRNS chunk; 2: it gets one alpha per palette entry.
// The file appears whole or not at all. Prints
// "pngファイルの作成に失敗しました(%s)\n" and returns -1 on failure; 0 on success.
std::int32_t WritePng(const std::wstring& path, std::span<const std::uint8_t> image,
                      std::int32_t pngMode);

// The output stream and the libpng write structures of one WritePng call.
// The stream belongs to a temporary file beside the destination; Commit()
// puts it in place. Whatever is left when the object goes away (structures,
// an uncommitted file) is released, and the destination stays as it was.
class CPngFile {
 public:
  CPngFile() = default;
  CPngFile(const CPngFile&) = delete;
  CPngFile& operator=(const CPngFile&) = delete;
  virtual ~CPngFile();

  // Opens the output for `path` and sets `file`; false when it cannot be
  // created.
  bool Open(const std::wstring& path);
  // Creates the write and info structures, with libpng's default error and
  // warning handlers, and attaches `file` to them. Returns 0 or -1.
  int Create();
  // Destroys the structures (if any).
  void Release();
  // Releases the structures, then closes the file and moves it into place.
  // False when a write, the close or the rename fails.
  bool Commit();

  std::FILE* file = nullptr;
  png_structp png = nullptr;
  png_infop info = nullptr;

 private:
  CoutputFile output_;
};
