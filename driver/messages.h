// Messages that both conversions print, in one place so that they stay the
// same. Each conversion keeps the messages that only it prints.
#pragma once

#include <string>

#include "io/error.h"

namespace messages {

inline constexpr const wchar_t* kConverting = L"%s to %s\n";
inline constexpr const wchar_t* kOpenFailed = L"ファイルのオープンに失敗(%s)\n";
inline constexpr const wchar_t* kWriteFailed = L"ファイルの書き込みに失敗(%s)\n";
inline constexpr const wchar_t* kNotSupported = L"対応ファイルではありません(%s)\n";
inline constexpr const wchar_t* kDone = L"done.\n";
inline constexpr const wchar_t* kPngWriteFailed = L"pngファイルの作成に失敗しました(%s)\n";
// The output name leads to the input file itself; printed instead of
// kConverting, and nothing is written.
inline constexpr const wchar_t* kSameFile = L"入力ファイルと出力ファイルが同じです(%s)\n";
// A BMP or PNG picture that cannot be written as ovk, and the line of facts
// that follows it.
inline constexpr const wchar_t* kUnsupportedImage = L"未対応の画像ファイルです(%s)\n";
inline constexpr const wchar_t* kImageFacts = L"bitcount=%d width=%d height=%d\n";
// -m: the picture's colours cannot become a palette image. Each names the
// input and is followed by a line of facts; nothing is written.
inline constexpr const wchar_t* kUnmatchedColours = L"パレットにない色があります(%s)\n";
inline constexpr const wchar_t* kUnmatchedFacts = L"x=%d y=%d color=%s pixels=%lld\n";
inline constexpr const wchar_t* kTooManyColours = L"色数が256を超えています(%s)\n";
inline constexpr const wchar_t* kColourCount = L"colors=%lld\n";
// -m<file>: the file names no palette (a colour picture, version 1001).
inline constexpr const wchar_t* kNoPalette = L"パレットがありません(%s)\n";
// -i: each file's line starts with its name; then its facts, or the message
// that a conversion would print for it.
inline constexpr const wchar_t* kInspectName = L"%s: ";
inline constexpr const wchar_t* kInspectFacts = L"%s\n";

}  // namespace messages

// Prints the message for a failure the library reported while converting
// `imageFile` to `outputName` (empty before the output is named), and returns
// the exit status for it. The one table from the library's faults to the
// program's messages:
//   kOpenFailed        ファイルのオープンに失敗(imageFile)
//   kNoMemory          メモリ確保に失敗(Nbytes)        N: the value
//   kNoWorkingMemory   ovk変換エラー(3)
//   kDamaged           ovk変換エラー(5)
//   kNotOvk, kNotImage, kPngUnreadable
//                      対応ファイルではありません(imageFile)
//   kUnsupportedImage  未対応の画像ファイルです(imageFile)
//                      bitcount=B width=W height=H
//   kTileOverflow      インデックスがオーバーしました。
//                      imageFileはこの形式では変換できません。
//   kWriteFailed, kInternal
//                      ファイルの書き込みに失敗(outputName)
int ReportError(const Error& error, const std::wstring& imageFile,
                const std::wstring& outputName = {});

// The messages of a 1006 tile that could not be coded at one tile size,
// before the writer tried the next: printed once for each retry.
void ReportTileRetry();
