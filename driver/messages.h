// Messages that both conversions print, in one place so that they stay the
// same. Each conversion keeps the messages that only it prints.
#pragma once

namespace ovk::messages {

inline constexpr const wchar_t* kConverting = L"%s to %s\n";
inline constexpr const wchar_t* kOpenFailed = L"ファイルのオープンに失敗(%s)\n";
inline constexpr const wchar_t* kWriteFailed = L"ファイルの書き込みに失敗(%s)\n";
inline constexpr const wchar_t* kNotSupported = L"対応ファイルではありません(%s)\n";
inline constexpr const wchar_t* kDone = L"done.\n";
// The output name leads to the input file itself; printed instead of
// kConverting, and nothing is written.
inline constexpr const wchar_t* kSameFile = L"入力ファイルと出力ファイルが同じです(%s)\n";

}  // namespace ovk::messages
