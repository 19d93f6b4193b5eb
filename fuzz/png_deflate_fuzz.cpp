// The PNG image-data compressor on arbitrary rows: whatever the rows hold and
// however they are shaped, the zlib stream it writes must inflate (with zlib
// itself) to exactly the rows, filter bytes included.
//
// Input: byte 0 the pixel size (1 to 4, bits 0-1), the pixel starts indexed
// at each end of a match (bits 2-4, 0 for all) and bit 5 for rows of palette
// indices that are to come out as colours; byte 1 the row length in pixels
// (1 to 256), byte 2 bit 0 lazy matching on, bits 1-7 the chain length; the
// rest is the row data, repeated with a slowly changing offset until it fills
// a whole number of rows (at least one), so that long matches, the row above
// and distances past the 32 KiB window all occur. The palette's colours come
// from the data too, entry 0 all zero like a filter byte.
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
  const bool expand = (data[0] & 0x20) != 0;
  const std::size_t scale = expand ? static_cast<std::size_t>(pixelBytes) : 1;
  const std::size_t rowBytes = static_cast<std::size_t>(1 + data[1]) * pixelBytes;
  const std::size_t rowLength = rowBytes / scale + 1;  // what row() writes
  const std::vector<std::uint8_t> content(data + 3, data + size);
  // Up to 64 KiB of rows: enough to cross the window and a block boundary.
  const std::size_t maxRows = std::max<std::size_t>(1, 65536 / (rowBytes + 1));
  const std::size_t rowCount = std::min(maxRows, 1 + content.size() * 16 / (rowBytes + 1));
  std::vector<std::uint8_t> rows(rowCount * rowLength);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    rows[i] = static_cast<std::uint8_t>(content[i % content.size()] + i / 4099);
  }
  for (std::size_t y = 0; y < rowCount; ++y) rows[y * rowLength] = 0;  // filter None
  std::uint8_t palette[4 * 256] = {};
  for (std::size_t i = 4; i < sizeof palette; ++i) {
    palette[i] = static_cast<std::uint8_t>(content[(i * 7) % content.size()] ^ (i >> 2));
  }
  std::vector<std::uint8_t> expected;
  for (std::size_t i = 0; expand && i < rows.size(); ++i) {
    if (i % rowLength == 0) {
      expected.push_back(rows[i]);
    } else {
      expected.insert(expected.end(), palette + 4 * rows[i], palette + 4 * rows[i] + scale);
    }
  }
  if (!expand) expected = rows;

  PngRows shape;
  shape.rowBytes = rowBytes;
  shape.pixelBytes = pixelBytes;
  shape.rowCount = rowCount;
  shape.row = [&](std::size_t y, std::uint8_t* out) {
    std::memcpy(out, rows.data() + y * rowLength, rowLength);
  };
  shape.palette = expand ? palette : nullptr;
  DeflateEffort effort;
  effort.lazyBelow = (data[2] & 1) ? 32 : 0;
  effort.chainLength = 1 + (data[2] >> 1);
  effort.indexEdge = (data[0] >> 2) & 7;
  std::vector<std::uint8_t> z;
  Check(DeflatePngRows(shape, &z, effort));

  std::vector<std::uint8_t> back(expected.size() + 1);
  uLongf backSize = static_cast<uLongf>(back.size());
  Check(uncompress(back.data(), &backSize, z.data(), static_cast<uLong>(z.size())) == Z_OK);
  Check(backSize == expected.size());
  Check(std::memcmp(back.data(), expected.data(), expected.size()) == 0);
  return 0;
}
