#include "driver/picture_file.h"

#include "driver/messages.h"
#include "driver/output_name.h"
#include "io/load_file.h"
#include "ovk/decoder.h"
#include "platform/platform.h"
#include "raster/png_import.h"

namespace {

using namespace messages;

// Walks and decodes an ovk file in its own depth, then completes the BMP
// headers that the decoder leaves to its caller and puts the palette in BMP
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
  bmp::PutU16(img, bmp::kBfType, bmp::kMagic);
  bmp::PutU32(img, bmp::kBiSize, bmp::kInfoHeaderSize);
  bmp::PutU16(img, bmp::kBiPlanes, 1);
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
  if (HasOvkExtension(name)) {
    out->kind = PictureKind::kOvk;
    if (const Error error = DecodeOvkFile(out); !error.ok()) {
      ReportError(error, name);
      return false;
    }
  } else if (HasBmpSignature(bytes)) {
    out->kind = PictureKind::kBmp;
    out->image = bytes;
    if (!ReadBmpLayout(bytes, &out->layout)) {
      platform::Print(kUnsupportedImage, name.c_str());
      return false;
    }
    out->hasLayout = true;
    return true;
  } else if (HasPngSignature(bytes)) {
    out->kind = PictureKind::kPng;
    std::string messages;
    const std::int32_t n = PngToBmp(out->decoded, bytes, {}, nullptr, &messages);
    platform::PrintDiagnostics(messages);
    if (n <= 0) {
      platform::Print(kNotSupported, name.c_str());
      return false;
    }
    out->image = out->decoded.span().first(static_cast<std::size_t>(n));
  } else {
    platform::Print(kNotSupported, name.c_str());
    return false;
  }
  out->hasLayout = ReadBmpLayout(out->image, &out->layout);
  return true;
}
