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

using namespace ovk::messages;

constexpr const wchar_t* kUnsupportedVersion = L"未対応のovkバージョンです(%d)\n";
constexpr const wchar_t* kNoMemory = L"メモリ確保に失敗(%lldbytes)\n";
constexpr const wchar_t* kTileOverflow = L"インデックスがオーバーしました。\n";
constexpr const wchar_t* kRetrying = L"パラメータを変更して再試行します。\n";
constexpr const wchar_t* kCannotConvert = L"%sはこの形式では変換できません。\n";

}  // namespace

int ConvertToOvk(const std::wstring& imageFile, const std::wstring& destPath, std::int32_t version,
                 bool ignoreAlpha, std::int32_t blockSize, const PaletteMapping& mapping) {
  SetBlockSize(blockSize);
  ovk::OvkTarget target;
  if (!TargetForVersion(version, &target)) {
    platform::Print(kUnsupportedVersion, static_cast<int>(version));
    return -1;
  }

  Cbuffer input;
  std::int64_t fileSize = 0;
  switch (LoadWholeFile(imageFile, input, &fileSize)) {
    case LoadResult::kOk:
      break;
    case LoadResult::kOpenFailed:
      platform::Print(kOpenFailed, imageFile.c_str());
      return -1;
    case LoadResult::kNoMemory:
      platform::Print(kNoMemory, static_cast<long long>(fileSize));
      return -1;
  }

  BmpImage decoded;
  BmpImage mapped;
  std::span<const std::uint8_t> picture = input.span();
  if (mapping.active && !RemapPicture(imageFile, input.span(), target, ignoreAlpha, mapping,
                                      &decoded, &mapped, &picture)) {
    return -1;
  }

  SourceImage image;
  switch (PrepareSource(picture, target, &image)) {
    case SourceStatus::kOk:
      break;
    case SourceStatus::kNotImage:
      platform::Print(kNotSupported, imageFile.c_str());
      return -1;
    case SourceStatus::kPngFailed:
      // libpng has said why on standard error; this names the file.
      platform::Print(kNotSupported, imageFile.c_str());
      return -1;
    case SourceStatus::kUnsupported:
      platform::Print(kUnsupportedImage, imageFile.c_str());
      platform::Print(kImageFacts, static_cast<int>(image.bitCount), static_cast<int>(image.width),
                      static_cast<int>(image.height));
      return -1;
  }

  std::wstring outputName;
  if (!DeriveOutputName(imageFile, destPath, L".ovk", &outputName)) {
    platform::Print(kNameTooLongMessage, outputName.c_str());
    return -1;
  }
  // Replacing the input with its own conversion would lose it.
  if (platform::SameFile(imageFile, outputName)) {
    platform::Print(kSameFile, outputName.c_str());
    return -1;
  }
  platform::Print(kConverting, imageFile.c_str(), outputName.c_str());
  // The file appears whole when everything is written, or not at all: a
  // failure leaves any existing file of that name as it was.
  CoutputFile output;
  if (!output.Open(outputName)) {
    platform::Print(kOpenFailed, outputName.c_str());
    return -1;
  }

  ovk::EncodeReport report;
  const ovk::EncodeStatus status = ovk::EncodeOvk(
      image, target, ignoreAlpha,
      [&output](std::span<const std::uint8_t> bytes) {
        return output.Write(bytes.data(), bytes.size());
      },
      &report);

  // Every tile overflow but a final one was followed by a retry.
  const int retries =
      status == ovk::EncodeStatus::kTileOverflow ? report.tileOverflows - 1 : report.tileOverflows;
  for (int i = 0; i < retries; ++i) {
    platform::Print(kTileOverflow);
    platform::Print(kRetrying);
  }
  switch (status) {
    case ovk::EncodeStatus::kOk:
      break;
    case ovk::EncodeStatus::kTileOverflow:
      platform::Print(kTileOverflow);
      platform::Print(kCannotConvert, imageFile.c_str());
      return -1;
    case ovk::EncodeStatus::kNoMemory:
      platform::Print(kNoMemory, static_cast<long long>(report.failedAllocation));
      return -1;
    case ovk::EncodeStatus::kSinkFailed:
    case ovk::EncodeStatus::kInternal:
      platform::Print(kWriteFailed, outputName.c_str());
      return -1;
  }
  if (!output.Commit()) {
    platform::Print(kWriteFailed, outputName.c_str());
    return -1;
  }
  platform::Print(kDone);
  return 0;
}
