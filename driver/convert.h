// The two conversions that the driver dispatches to: the application's use of
// the format layer. Each loads its input, runs the pipeline of ovk/ on memory,
// prints its messages (failures the library reports go through ReportError,
// driver/messages.h) and returns 0 for success or -1 for failure.
#pragma once

#include <cstdint>
#include <string>

#include "driver/options.h"
#include "driver/output_check.h"
#include "ovk/decoder.h"

// ovk file -> BMP, or PNG in colour, or an 8-bit palette PNG with tRNS.
// `claim` is what a batch decided about the output (driver/output_check.h).
int ConvertFromOvk(const std::wstring& imageFile, const std::wstring& destPath, OutputForm output,
                   OutputClaim claim = OutputClaim::kFree);

// The pixels the decoder produces for a file of `version` becoming `output`:
// 32-bit for version 1001 with a PNG, and for version 1005 (whose mask makes
// pixels transparent) with a colour PNG; otherwise the file's own depth (16
// for 1001, 8 with a palette for the rest, which the PNG encoder expands for
// a colour PNG).
ovk::PixelForm PixelFormFor(std::uint32_t version, OutputForm output);

// 8-bit palette BMP or PNG -> ovk of `version` (1000, 1002, 1004, 1006, or 60
// for 1006 unpacked). With `mapping` active, a colour picture is brought to a
// palette first (driver/remap.h), and may take the reference's version.
int ConvertToOvk(const std::wstring& imageFile, const std::wstring& destPath, std::int32_t version,
                 bool ignoreAlpha, std::int32_t blockSize, const PaletteMapping& mapping = {},
                 OutputClaim claim = OutputClaim::kFree);
