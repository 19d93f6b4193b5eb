// ConvertFromOvk: an ovk file to a BMP file, or to a PNG file with -p / -p256.
//
// Messages, in the order they can appear:
//   ファイルのオープンに失敗(input)      the input cannot be read
//   メモリ確保に失敗(Nbytes)             no memory for the file or the image
//   対応ファイルではありません(input)    not ".ovk", not a version read here,
//                                        1006 without "CCPI" or with reserved
//                                        flag bits, a zero width or height
//   ovk変換エラー(code)                  DecodeOvk failed; 5 for a damaged file
//                                        (found by the walk, before the image
//                                        is allocated, where the sections
//                                        cannot back the picture)
//   入力ファイルと出力ファイルが同じです(output)
//                                        the output name leads to the input
//   出力ファイルが重複しています(output), 出力先は別の形式の画像ファイルです(output)
//                                        see driver/output_check.h
//   input to output                      then the output is written
//   ファイルのオープンに失敗(output)     BMP output cannot be created
//   ファイルの書き込みに失敗(output)     BMP output could not be written whole
//   pngファイルの作成に失敗しました(output) PNG output could not be written
//   done.                                after an output written whole
// Outputs appear whole or not at all: a failed conversion leaves no new file
// and an existing file of that name untouched. The output opens as
// CoutputFile allows: a FIFO, a device or a dangling link is no output.
#include "driver/convert.h"
#include "driver/messages.h"
#include "driver/output_name.h"
#include "driver/write_png.h"
#include "io/cbuffer.h"
#include "io/load_file.h"
#include "io/output_file.h"
#include "ovk/decoder.h"
#include "ovk/layout.h"
#include "platform/platform.h"
#include "raster/bmp_image.h"

namespace {

using namespace messages;

// Writes the first bfSize bytes of the image to `outName`, whole or not at all.
int WriteBmp(const std::wstring& outName, const BmpImage& image) {
  CoutputFile out;
  if (!out.Open(outName)) {
    platform::Print(kOpenFailed, outName.c_str());
    return -1;
  }
  const std::uint32_t fileSize = bmp::GetU32(image.data(), bmp::kBfSize);
  if (!out.Write(image.data(), fileSize) || !out.Commit()) {
    platform::Print(kWriteFailed, outName.c_str());
    return -1;
  }
  return 0;
}

}  // namespace

ovk::PixelForm PixelFormFor(std::uint32_t version, OutputForm output) {
  // A colour PNG of a palette picture is made from its indices (the PNG
  // encoder expands them and compares indices, not colours), except for
  // version 1005, whose transparency mask is not in the palette.
  const bool form32 = version == ovk::kVersion1001   ? output != OutputForm::kBmp
                      : version == ovk::kVersion1005 ? output == OutputForm::kPngColour
                                                     : false;
  return form32 ? ovk::PixelForm::k32Bit : ovk::PixelForm::kFileDepth;
}

int ConvertFromOvk(const std::wstring& imageFile, const std::wstring& destPath, OutputForm output,
                   OutputClaim claim) {
  Cbuffer file;
  if (Error load = LoadWholeFile(imageFile, file); !load.ok()) {
    // The reading side has always shown the size as the 32-bit count that
    // the allocation would have taken.
    if (load == Fault::kNoMemory) {
      load.value = static_cast<std::int32_t>(static_cast<std::uint32_t>(load.value));
    }
    return ReportError(load, imageFile);
  }
  if (!HasOvkExtension(imageFile)) return ReportError({Fault::kNotOvk}, imageFile);

  // The whole walk before the image is allocated: a file whose sections
  // cannot back the picture it claims is refused first. The decoder works
  // from the sections the walk found.
  ovk::OvkSections sections;
  if (const Error walk = ovk::WalkOvk(file.span(), &sections); !walk.ok()) {
    return ReportError(walk, imageFile);
  }

  const ovk::OvkHeader& header = sections.header;
  BmpImage image;
  if (image.Alloc(header.imageBytes) == nullptr) {
    return ReportError({Fault::kNoMemory, header.imageBytes}, imageFile);
  }
  if (const Error decode =
          ovk::DecodeOvk(image.span(), sections, PixelFormFor(header.version, output));
      !decode.ok()) {
    return ReportError(decode, imageFile);
  }
  file.Free();

  std::uint8_t* img = image.data();
  // The file's palette entries are red, green, blue, alpha; a BMP's blue,
  // green, red, alpha.
  SwapRedBlue(img + bmp::kPaletteOffset,
              static_cast<std::int32_t>(bmp::GetU32(img, bmp::kBiClrUsed)));

  std::wstring outName;
  if (!DeriveOutputName(imageFile, destPath, output != OutputForm::kBmp ? L".png" : L".bmp",
                        &outName)) {
    platform::Print(kNameTooLongMessage, outName.c_str());
    return -1;
  }
  if (!AcceptOutput(imageFile, outName,
                    output != OutputForm::kBmp ? PictureFormat::kPng : PictureFormat::kBmp,
                    claim)) {
    return -1;
  }
  platform::Print(kConverting, imageFile.c_str(), outName.c_str());

  int result = 0;
  if (output != OutputForm::kBmp) {
    const std::size_t fileBytes = bmp::GetU32(img, bmp::kBfSize);
    result = WritePng(outName, image.span().first(fileBytes),
                      output == OutputForm::kPngPalette ? PaletteOutput::kIndicesWithAlpha
                                                        : PaletteOutput::kColours);
  } else {
    result = WriteBmp(outName, image);
  }
  if (result != 0) return result;
  platform::Print(kDone);
  return 0;
}
