// The checks that both conversions make once the output is named and before
// anything is written: the output must not be an input, nor a picture of
// another format.
#pragma once

#include <string>

// Two outputs of one batch on the same file, for the later input.
inline constexpr const wchar_t* kDuplicateOutputMessage = L"出力ファイルが重複しています(%s)\n";
// An existing picture of another format; it is never replaced.
inline constexpr const wchar_t* kOtherFormatMessage = L"出力先は別の形式の画像ファイルです(%s)\n";

// What a batch decided about an input's output before converting anything
// (from the names, whatever becomes of the other inputs); a single file's
// output is always kFree.
enum class OutputClaim {
  kFree,
  kTakenEarlier,  // an earlier input of the batch has the same output
  kIsAnInput,     // the output is (through links) an input of the batch
};

enum class PictureFormat { kOvk, kBmp, kPng };

// True when `outputName` may receive the `format` data converted from
// `imageFile`. Otherwise prints why and returns false:
//   入力ファイルと出力ファイルが同じです(output)   the output leads to the
//                                      input, or (kIsAnInput) to another
//   出力ファイルが重複しています(output)  kTakenEarlier
//   出力先は別の形式の画像ファイルです(output)
//                                      an existing regular file of another
//                                      picture format: BMP or PNG data over
//                                      a name ending in ".ovk", ovk data over
//                                      a BMP or PNG file (by content), BMP
//                                      over a PNG, PNG over a BMP
// A new name, or a file of the same format or of no picture format, passes.
bool AcceptOutput(const std::wstring& imageFile, const std::wstring& outputName,
                  PictureFormat format, OutputClaim claim);
