#include "driver/messages.h"

#include <cstdint>

#include "driver/dispatch.h"
#include "platform/platform.h"

namespace {

constexpr const wchar_t* kNoMemory = L"メモリ確保に失敗(%dbytes)\n";
constexpr const wchar_t* kDecodeError = L"ovk変換エラー(%d)\n";

// The numbers that the decode error message has always shown.
constexpr int kDecodeNoMemoryCode = 3;
constexpr int kDecodeDamagedCode = 5;

}  // namespace

int ReportError(const Error& error, const std::wstring& imageFile) {
  switch (error.fault) {
    case Fault::kNone:
      return kExitSuccess;
    case Fault::kNoMemory:
      // The size as a 32-bit count, as the allocation would have taken it.
      platform::Print(kNoMemory, static_cast<int>(static_cast<std::uint32_t>(error.value)));
      break;
    case Fault::kNoWorkingMemory:
      platform::Print(kDecodeError, kDecodeNoMemoryCode);
      break;
    case Fault::kNotOvk:
      platform::Print(messages::kNotSupported, imageFile.c_str());
      break;
    case Fault::kDamaged:
      platform::Print(kDecodeError, kDecodeDamagedCode);
      break;
  }
  return kExitFailure;
}
