#include "driver/dispatch.h"

#include "driver/batch.h"
#include "driver/convert.h"
#include "driver/inspect.h"
#include "driver/output_name.h"
#include "driver/usage.h"
#include "platform/platform.h"

const Converters kProgramConverters = {ConvertFromOvk, ConvertToOvk};

Route ChooseRoute(const std::wstring& imageFile) {
  return HasOvkExtension(imageFile) ? Route::kFromOvk : Route::kToOvk;
}

int ConvertInput(const std::wstring& imageFile, const std::wstring& destPath,
                 const Options& options, const PaletteMapping& mapping, OutputClaim claim,
                 const Converters& converters) {
  // A directory passes here; the conversion then fails to open it.
  if (!platform::PathExists(imageFile)) {
    platform::Print(NameFits(imageFile) ? kNotFoundMessage : kNameTooLongMessage,
                    imageFile.c_str());
    return kExitFailure;
  }
  if (ChooseRoute(imageFile) == Route::kFromOvk) {
    return converters.fromOvk(imageFile, destPath, options.output, claim);
  }
  return converters.toOvk(imageFile, destPath, options.version, options.ignoreAlpha,
                          options.blockSize, mapping, claim);
}

int Dispatch(const Options& options, const Converters& converters) {
  if (options.inspect) {
    std::vector<std::wstring> names;
    for (const BatchInput& input : ExpandInputs(options.operands, platform::ListDirectory)) {
      names.push_back(input.name);
    }
    return InspectFiles(names);
  }
  if (!options.imageFile) {
    platform::Print(kNotFoundMessage, L"(null)");
    return kExitFailure;
  }
  if (const OperandForm form = FormOfOperands(options.operands); form.batch) {
    return RunBatch(form, options, converters);
  }
  const std::wstring& imageFile = *options.imageFile;
  const BatchInput input = ExpandInputs({&imageFile, 1}, platform::ListDirectory).front();
  return ConvertInput(imageFile, options.destPath, options,
                      ReferenceFor(options.mapping, input.below), OutputClaim::kFree, converters);
}

int RunCommandLine(std::span<const std::wstring> args, const Converters& converters) {
  Options options;
  if (args.empty() || ParseOptions(args, &options) == ParseStatus::kShowUsage) {
    PrintUsage();
    return kExitSuccess;
  }
  return Dispatch(options, converters);
}
