#include "driver/output_check.h"

#include <cstdint>
#include <span>

#include "driver/messages.h"
#include "driver/output_name.h"
#include "io/load_file.h"
#include "platform/platform.h"
#include "raster/bmp_image.h"
#include "raster/png_import.h"

namespace {

enum class Content { kNone, kBmp, kPng };

Content ContentOf(const std::wstring& name) {
  std::uint8_t start[8] = {};
  const std::span<const std::uint8_t> bytes(start, LoadFileStart(name, start));
  return HasBmpSignature(bytes)   ? Content::kBmp
         : HasPngSignature(bytes) ? Content::kPng
                                  : Content::kNone;
}

// True when the existing regular file `name` is a picture of another format
// than `format`: a name ending in ".ovk" is ovk, whatever it holds; a BMP or
// PNG is told by content.
bool IsOtherPicture(const std::wstring& name, PictureFormat format) {
  if (!platform::IsRegularFile(name)) return false;
  const Content content = ContentOf(name);
  switch (format) {
    case PictureFormat::kOvk:
      return content != Content::kNone;
    case PictureFormat::kBmp:
      return HasOvkExtension(name) || content == Content::kPng;
    case PictureFormat::kPng:
      return HasOvkExtension(name) || content == Content::kBmp;
  }
  return false;
}

}  // namespace

bool AcceptOutput(const std::wstring& imageFile, const std::wstring& outputName,
                  PictureFormat format, OutputClaim claim) {
  using namespace messages;
  if (claim == OutputClaim::kIsAnInput || platform::SameFile(imageFile, outputName)) {
    platform::Print(kSameFile, outputName.c_str());
    return false;
  }
  if (claim == OutputClaim::kTakenEarlier) {
    platform::Print(kDuplicateOutputMessage, outputName.c_str());
    return false;
  }
  if (IsOtherPicture(outputName, format)) {
    platform::Print(kOtherFormatMessage, outputName.c_str());
    return false;
  }
  return true;
}
