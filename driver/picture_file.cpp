#include "driver/picture_file.h"

#include "driver/messages.h"
#include "driver/output_name.h"
#include "driver/source.h"
#include "io/load_file.h"
#include "ovk/decoder.h"
#include "platform/platform.h"

namespace {

using namespace messages;

// Walks and decodes an ovk file in its own depth and puts the palette in BMP
// order, so that the result reads as any BMP image does.
Error DecodeOvkFile(PictureFile* file) {
  if (const Error walk = ovk::WalkOvk(file->bytes.span(), &file->sections); !walk.ok()) {
    return walk;
  }
  const std::int32_t imageBytes = file->sections.header.imageBytes;
  std::uint8_t* img = file->decoded.Alloc(imageBytes);
  if (img == nullptr) return {Fault::kNoMemory, imageBytes};
  if (const Error decode = ovk::DecodeOvk(file->decoded.span(), file->sections,
                                          ovk::PixelForm::kFileDepth, &file->report);
      !decode.ok()) {
    return decode;
  }
  SwapRedBlue(img + bmp::kPaletteOffset,
              static_cast<std::int32_t>(bmp::GetU32(img, bmp::kBiClrUsed)));
  file->image = file->decoded.span().first(bmp::GetU32(img, bmp::kBfSize));
  return kNoError;
}

}  // namespace

bool LoadPictureFile(const std::wstring& name, PictureFile* out) {
  if (const Error load = LoadWholeFile(name, out->bytes); !load.ok()) {
    ReportError(load, name);
    return false;
  }
  out->fileBytes = out->bytes.size();
  const std::span<const std::uint8_t> bytes = out->bytes.span();
  Error error;
  if (HasOvkExtension(name)) {
    out->kind = PictureKind::kOvk;
    error = DecodeOvkFile(out);
  } else {
    out->kind = HasBmpSignature(bytes) ? PictureKind::kBmp : PictureKind::kPng;
    error = InputAsBmp(bytes, {}, &out->decoded, &out->image);
  }
  if (!error.ok()) {
    ReportError(error, name);
    return false;
  }
  out->hasLayout = ReadBmpLayout(out->image, &out->layout);
  // A BMP file must be one the picture readers take; a decoded ovk or PNG
  // file is one whenever it has pixels (a grey PNG has none).
  if (out->kind == PictureKind::kBmp && !out->hasLayout) {
    platform::Print(kUnsupportedImage, name.c_str());
    return false;
  }
  return true;
}
