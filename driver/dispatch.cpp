#include "driver/dispatch.h"

#include "driver/output_name.h"
#include "driver/usage.h"
#include "ovk/convert.h"
#include "platform/platform.h"

const Converters kProgramConverters = {ConvertFromOvk, ConvertToOvk};

Route ChooseRoute(const std::wstring& imageFile) {
  std::size_t dot = imageFile.rfind(L'.');
  if (dot == std::wstring::npos || imageFile.size() - dot != 4) return Route::kToOvk;
  // ASCII case folding only: towlower would depend on the locale.
  for (std::size_t i = 1; i < 4; ++i) {
    wchar_t c = imageFile[dot + i];
    if (c >= L'A' && c <= L'Z') c = c - L'A' + L'a';
    if (c != L".ovk"[i]) return Route::kToOvk;
  }
  return Route::kFromOvk;
}

int Dispatch(const Options& options, const Converters& converters) {
  if (!options.imageFile) {
    platform::Print(kNotFoundMessage, L"(null)");
    return kExitFailure;
  }
  const std::wstring& imageFile = *options.imageFile;
  // A directory passes here; the conversion then fails to open it.
  if (!platform::PathExists(imageFile)) {
    platform::Print(NameFits(imageFile) ? kNotFoundMessage : kNameTooLongMessage,
                    imageFile.c_str());
    return kExitFailure;
  }
  if (ChooseRoute(imageFile) == Route::kFromOvk) {
    return converters.fromOvk(imageFile, options.destPath, options.pngMode);
  }
  return converters.toOvk(imageFile, options.destPath, options.version, options.ignoreAlpha,
                          options.blockSize);
}

int RunCommandLine(std::span<const std::wstring> args, const Converters& converters) {
  Options options;
  if (args.empty() || ParseOptions(args, &options) == ParseStatus::kShowUsage) {
    PrintUsage();
    return kExitSuccess;
  }
  return Dispatch(options, converters);
}
