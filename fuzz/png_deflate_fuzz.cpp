// The PNG image-data compressor on arbitrary rows: whatever the rows hold and
// however they are shaped, the zlib stream it writes must inflate (with zlib
// itself) to exactly the rows, filter bytes included.
//
// Input: byte 0 the pixel size (1 to 4, bits 0-1) and the pixel starts
// indexed at each end of a match (bits 2-4, 0 for all), byte 1 the row length in pixels
// (1 to 256), byte 2 bit 0 lazy matching on, bits 1-7 the chain length; the
// rest is the row data, repeated with a slowly changing offset until it fills
// a whole number of rows (at least one), so that long matches, the row above
// and distances past the 32 KiB window all occur.
//
// Replay a corpus without fuzzing: png_deflate_fuzz FILE...
#include <zlib.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz/check.h"
#include "raster/png_deflate.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  const int pixelBytes = 1 + data[0] % 4;
  const std::size_t rowBytes = static_cast<std::size_t>(1 + data[1]) * pixelBytes;
  const std::vector<std::uint8_t> content(data + 3, data + size);
  // Up to 64 KiB of rows: enough to cross the window and a block boundary.
  const std::size_t maxRows = std::max<std::size_t>(1, 65536 / (rowBytes + 1));
  const std::size_t rowCount = std::min(maxRows, 1 + content.size() * 16 / (rowBytes + 1));
  std::vector<std::uint8_t> rows(rowCount * (rowBytes + 1));
  for (std::size_t i = 0; i < rows.size(); ++i) {
    rows[i] = static_cast<std::uint8_t>(content[i % content.size()] + i / 4099);
  }
  for (std::size_t y = 0; y < rowCount; ++y) rows[y * (rowBytes + 1)] = 0;  // filter None

  PngRows shape;
  shape.rowBytes = rowBytes;
  shape.pixelBytes = pixelBytes;
  shape.rowCount = rowCount;
  shape.row = [&](std::size_t y, std::uint8_t* out) {
    std::memcpy(out, rows.data() + y * (rowBytes + 1), rowBytes + 1);
  };
  DeflateEffort effort;
  effort.lazyBelow = (data[2] & 1) ? 32 : 0;
  effort.chainLength = 1 + (data[2] >> 1);
  effort.indexEdge = (data[0] >> 2) & 7;
  std::vector<std::uint8_t> z;
  Check(DeflatePngRows(shape, &z, effort));

  std::vector<std::uint8_t> back(rows.size() + 1);
  uLongf backSize = static_cast<uLongf>(back.size());
  Check(uncompress(back.data(), &backSize, z.data(), static_cast<uLong>(z.size())) == Z_OK);
  Check(backSize == rows.size());
  Check(std::memcmp(back.data(), rows.data(), rows.size()) == 0);
  return 0;
}
