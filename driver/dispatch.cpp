#include "driver/dispatch.h"

#include "driver/convert.h"
#include "driver/inspect.h"
#include "driver/output_name.h"
#include "driver/usage.h"
#include "platform/platform.h"

const Converters kProgramConverters = {ConvertFromOvk, ConvertToOvk};

Route ChooseRoute(const std::wstring& imageFile) {
  return HasOvkExtension(imageFile) ? Route::kFromOvk : Route::kToOvk;
}

int Dispatch(const Options& options, const Converters& converters) {
  if (options.inspect) return InspectFiles(options.operands);
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
    return converters.fromOvk(imageFile, options.destPath, options.output);
  }
  return converters.toOvk(imageFile, options.destPath, options.version, options.ignoreAlpha,
                          options.blockSize, options.mapping);
}

int RunCommandLine(std::span<const std::wstring> args, const Converters& converters) {
  Options options;
  if (args.empty() || ParseOptions(args, &options) == ParseStatus::kShowUsage) {
    PrintUsage();
    return kExitSuccess;
  }
  return Dispatch(options, converters);
}
