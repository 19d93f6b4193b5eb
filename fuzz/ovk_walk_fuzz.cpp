// The container walk on arbitrary bytes. The input is read in place, so a
// read past it is a read past libFuzzer's buffer and AddressSanitizer stops
// it. Every section the walk reports must lie inside the input, and an
// accepted header must respect the limits the reader relies on.
//
// Replay a corpus without fuzzing: ovk_walk_fuzz FILE...
#include <cstddef>
#include <cstdint>
#include <span>

#include "ovk/layout.h"

namespace {

void Check(bool ok) {
  if (!ok) __builtin_trap();
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
  const ovk::OvkCheck check = ovk::WalkOvk(file, &s);

  ovk::OvkHeader header;
  const ovk::OvkCheck headerCheck = ovk::ReadOvkHeader(file, &header);
  // The walk never accepts what the header check refuses.
  if (headerCheck != ovk::OvkCheck::kOk) Check(check == headerCheck);
  if (check != ovk::OvkCheck::kOk) return 0;

  const ovk::OvkHeader& h = s.header;
  Check(h.width > 0 && h.height > 0);
  Check(4 * static_cast<std::int64_t>(h.width) * h.height + 1078 == h.imageBytes);
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
