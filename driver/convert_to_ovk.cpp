// BMP or PNG file -> ovk file: the file handling and the messages around the
// in-memory writer of ovk/encoder.h.
#include <cstdint>
#include <string>

#include "driver/convert.h"
#include "driver/messages.h"
#include "driver/output_name.h"
#include "driver/remap.h"
#include "driver/source.h"
#include "io/load_file.h"
#include "io/output_file.h"
#include "pack/pack.h"
#include "platform/platform.h"

namespace {

using namespace messages;

constexpr const wchar_t* kUnsupportedVersion = L"未対応のovkバージョンです(%d)\n";

}  // namespace

int ConvertToOvk(const std::wstring& imageFile, const std::wstring& destPath, std::int32_t version,
                 bool ignoreAlpha, std::int32_t blockSize, const PaletteMapping& mapping,
                 OutputClaim claim) {
  ovk::OvkTarget target;
  if (!TargetForVersion(version, &target)) {
    platform::Print(kUnsupportedVersion, static_cast<int>(version));
    return -1;
  }
  target.blockSize = blockSize;

  Cbuffer input;
  if (const Error load = LoadWholeFile(imageFile, input); !load.ok()) {
    return ReportError(load, imageFile);
  }

  BmpImage decoded;
  BmpImage mapped;
  std::span<const std::uint8_t> picture = input.span();
  if (mapping.active && !RemapPicture(imageFile, input.span(), &target, ignoreAlpha, mapping,
                                      &decoded, &mapped, &picture)) {
    return -1;
  }

  SourceImage image;
  if (const Error source = PrepareSource(picture, target, &image); !source.ok()) {
    return ReportError(source, imageFile);
  }

  std::wstring outputName;
  if (!DeriveOutputName(imageFile, destPath, L".ovk", &outputName)) {
    platform::Print(kNameTooLongMessage, outputName.c_str());
    return -1;
  }
  // Replacing the input (or another picture) with this conversion would lose it.
  if (!AcceptOutput(imageFile, outputName, PictureFormat::kOvk, claim)) return -1;
  platform::Print(kConverting, imageFile.c_str(), outputName.c_str());
  // The file appears whole when everything is written, or not at all: a
  // failure leaves any existing file of that name as it was.
  CoutputFile output;
  if (!output.Open(outputName)) {
    platform::Print(kOpenFailed, outputName.c_str());
    return -1;
  }

  ovk::EncodeReport report;
  const Error encoded = ovk::EncodeOvk(
      image, target, ignoreAlpha,
      [&output](std::span<const std::uint8_t> bytes) {
        return output.Write(bytes.data(), bytes.size());
      },
      &report);

  // Every tile overflow but a final one was followed by a retry.
  const int retries =
      encoded == Fault::kTileOverflow ? report.tileOverflows - 1 : report.tileOverflows;
  for (int i = 0; i < retries; ++i) ReportTileRetry();
  if (!encoded.ok()) return ReportError(encoded, imageFile, outputName);
  if (!output.Commit()) {
    platform::Print(kWriteFailed, outputName.c_str());
    return -1;
  }
  platform::Print(kDone);
  return 0;
}
