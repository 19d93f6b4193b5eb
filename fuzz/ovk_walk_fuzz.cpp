// The container walk on arbitrary bytes. The input is read in place, so a
// read past it is a read past libFuzzer's buffer and AddressSanitizer stops
// it. Every section the walk reports must lie inside the input, an accepted
// header must respect the limits the reader relies on, and the image an
// accepted file asks for must stay within a fixed multiple of the file's
// length. The walk allocates nothing: the run's malloc limit
// (fuzz/CMakeLists.txt) makes any allocation of a megabyte a finding.
//
// Replay a corpus without fuzzing: ovk_walk_fuzz FILE...
#include <cstddef>
#include <cstdint>
#include <span>

#include "fuzz/check.h"
#include "ovk/layout.h"

namespace {

// The most image bytes (4 per pixel) per byte of file that an accepted file
// can ask for, worked out from the format rather than from the walk: a packed
// byte stands for at most 4109 bytes of content; a 1005 map nibble covers a
// 16 x 8 block, and the blocks leave fewer than 16 columns and 8 rows
// uncovered (at most 28 x 15 pixels a block); a 1006 tile of Q quads takes at
// least 5 + 3 * (Q / 256) + min(Q % 256, 3) bytes, so at most 86 quads of 4
// pixels a byte.
std::uint64_t MaxImageBytesPerFileByte(const ovk::OvkHeader& h) {
  constexpr std::uint64_t kRatio = 4109;
  switch (h.version) {
    case 1000:
      return 4;
    case 1001:
      return 4 * kRatio / 2;  // two bytes of plane a pixel
    case 1002:
    case 1004:
      return 4 * kRatio;
    case 1005:
      return 4 * 28 * 15 * 2 * kRatio;
    default:
      return 4 * 4 * 86 * (h.flags == 0 ? 1 : kRatio);
  }
}

void CheckInside(const ovk::Section& s, std::span<const std::uint8_t> file) {
  if (s.data.empty()) return;
  Check(s.data.data() >= file.data());
  Check(s.data.data() + s.data.size() <= file.data() + file.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> file(data, size);
  ovk::OvkSections s;
  const Error check = ovk::WalkOvk(file, &s);

  ovk::OvkHeader header;
  const Error headerCheck = ovk::ReadOvkHeader(file, &header);
  // The walk never accepts what the header check refuses.
  if (!headerCheck.ok()) Check(check.fault == headerCheck.fault);
  if (!check.ok()) return 0;

  const ovk::OvkHeader& h = s.header;
  Check(h.width > 0 && h.height > 0);
  Check(4 * static_cast<std::int64_t>(h.width) * h.height + 1078 == h.imageBytes);
  Check(static_cast<std::uint64_t>(h.imageBytes - 1078) <= MaxImageBytesPerFileByte(h) * size);
  CheckInside(s.palette, file);
  CheckInside(s.pixels, file);
  if (h.version != ovk::kVersion1001 && !(h.version == ovk::kVersion1006 && s.palette.packed)) {
    const std::uint32_t paletteBytes = s.palette.ContentSize();
    Check(paletteBytes > 0 && paletteBytes <= 1024 && paletteBytes % 4 == 0);
  }
  if (s.palette.packed || s.pixels.packed) {
    const ovk::Section& last = s.pixels.packed ? s.pixels : s.palette;
    // Nothing of the section lies past the end of the file.
    Check(static_cast<std::size_t>(last.data.data() + last.data.size() - data) <= size);
  }
  return 0;
}
