// Old path of ovk/decoder.h: the decoder on a whole file, with the output
// form as its old number (0 BMP, 1 colour PNG, 2 palette PNG) and its old
// result codes, and the old name of the walk's results.
#pragma once

#include <cstdint>
#include <span>

#include "driver/convert.h"
#include "ovk/decoder.h"
#include "ovk/layout.h"

namespace ovk {

enum class OvkCheck { kOk, kNotOvk, kDamaged };

inline bool operator==(const Error& e, OvkCheck c) {
  switch (c) {
    case OvkCheck::kOk:
      return e.ok();
    case OvkCheck::kNotOvk:
      return e.fault == Fault::kNotOvk;
    case OvkCheck::kDamaged:
      return e.fault == Fault::kDamaged;
  }
  return false;
}

inline constexpr int kDecodeOk = 0;
inline constexpr int kDecodeNoMemory = 3;
inline constexpr int kDecodeDamaged = 5;

inline int DecodeOvk(std::span<std::uint8_t> image, std::span<const std::uint8_t> file,
                     int pngMode) {
  OvkSections sections;
  if (!WalkOvk(file, &sections).ok()) return kDecodeDamaged;
  const Error e = DecodeOvk(
      image, sections, PixelFormFor(sections.header.version, static_cast<OutputForm>(pngMode)));
  if (e.ok()) return kDecodeOk;
  return e.fault == Fault::kNoWorkingMemory ? kDecodeNoMemory : kDecodeDamaged;
}

}  // namespace ovk
