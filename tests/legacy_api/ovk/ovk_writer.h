// Old path of the writer: the typed target, the source picture and the
// encoder under their old unqualified names.
#pragma once

#include "driver/source.h"
#include "ovk/encoder.h"

using ovk::EncodeReport;
using ovk::EncodeStatus;
using ovk::OvkTarget;

// The input as a whole buffer.
inline SourceStatus PrepareSource(const Cbuffer& input, const ovk::OvkTarget& target,
                                  SourceImage* image) {
  return PrepareSource(std::span<const std::uint8_t>(input.span()), target, image);
}
