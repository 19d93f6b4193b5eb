#include "driver/messages.h"

#include <cstdint>

#include "driver/dispatch.h"
#include "platform/platform.h"

namespace {

constexpr const wchar_t* kNoMemory = L"メモリ確保に失敗(%lldbytes)\n";
constexpr const wchar_t* kDecodeError = L"ovk変換エラー(%d)\n";
constexpr const wchar_t* kTileOverflow = L"インデックスがオーバーしました。\n";
constexpr const wchar_t* kRetrying = L"パラメータを変更して再試行します。\n";
constexpr const wchar_t* kCannotConvert = L"%sはこの形式では変換できません。\n";

// The numbers that the decode error message has always shown.
constexpr int kDecodeNoMemoryCode = 3;
constexpr int kDecodeDamagedCode = 5;

}  // namespace

int ReportError(const Error& error, const std::wstring& imageFile, const std::wstring& outputName) {
  using namespace messages;
  switch (error.fault) {
    case Fault::kNone:
      return kExitSuccess;
    case Fault::kOpenFailed:
      platform::Print(kOpenFailed, imageFile.c_str());
      break;
    case Fault::kNoMemory:
      platform::Print(kNoMemory, static_cast<long long>(error.value));
      break;
    case Fault::kNoWorkingMemory:
      platform::Print(kDecodeError, kDecodeNoMemoryCode);
      break;
    case Fault::kDamaged:
      platform::Print(kDecodeError, kDecodeDamagedCode);
      break;
    case Fault::kNotOvk:
    case Fault::kNotImage:
    case Fault::kPngUnreadable:  // libpng has said why on standard error
      platform::Print(kNotSupported, imageFile.c_str());
      break;
    case Fault::kUnsupportedImage:
      platform::Print(kUnsupportedImage, imageFile.c_str());
      platform::Print(kImageFacts, static_cast<int>(error.value), static_cast<int>(error.width),
                      static_cast<int>(error.height));
      break;
    case Fault::kTileOverflow:
      platform::Print(kTileOverflow);
      platform::Print(kCannotConvert, imageFile.c_str());
      break;
    case Fault::kWriteFailed:
    case Fault::kInternal:
      platform::Print(kWriteFailed, outputName.c_str());
      break;
  }
  return kExitFailure;
}

void ReportTileRetry() {
  platform::Print(kTileOverflow);
  platform::Print(kRetrying);
}
