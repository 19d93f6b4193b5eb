// From a parsed command line to a conversion: the existence check, the choice
// by extension, and the exit status.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "driver/options.h"
#include "driver/output_check.h"

inline constexpr const wchar_t* kNotFoundMessage = L"ファイルが見つかりません？(%s)\n";

// Exit statuses: a conversion's result is passed through as it is (0 or -1,
// which the shell sees as 255).
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = -1;

enum class Route { kFromOvk, kToOvk };

// Only the name decides: an extension (from the last "." anywhere in the
// path) of ".ovk" in any case goes to ConvertFromOvk, everything else,
// including a name with no "." at all, to ConvertToOvk, which tells BMP from
// PNG by content.
Route ChooseRoute(const std::wstring& imageFile);

// The conversions that Dispatch calls. Tests put recorders here to see what a
// command line asks for without converting anything.
struct Converters {
  int (*fromOvk)(const std::wstring& imageFile, const std::wstring& destPath, OutputForm output,
                 OutputClaim claim);
  int (*toOvk)(const std::wstring& imageFile, const std::wstring& destPath, std::int32_t version,
               bool ignoreAlpha, std::int32_t blockSize, const PaletteMapping& mapping,
               OutputClaim claim);
};
// ConvertFromOvk and ConvertToOvk.
extern const Converters kProgramConverters;

// One input with the options: checks that it exists, then runs the
// conversion its name calls for, with `mapping` for a conversion to ovk.
// Returns the conversion's result, or kExitFailure after printing
// kNotFoundMessage (or kNameTooLongMessage when the name is too long to
// exist).
int ConvertInput(const std::wstring& imageFile, const std::wstring& destPath,
                 const Options& options, const PaletteMapping& mapping, OutputClaim claim,
                 const Converters& converters);

// With -i, prints the facts of every file instead (driver/inspect.h), a
// pattern standing for its matches. Otherwise runs a batch (driver/batch.h),
// or the single form: ConvertInput with the image file and the destination.
// With no image file at all the not-found message shows "(null)".
int Dispatch(const Options& options, const Converters& converters);

// Everything after start-up: the arguments that follow the program name, to
// the exit status. No arguments, an unknown option letter or a bare "-"
// print the usage and give kExitSuccess.
int RunCommandLine(std::span<const std::wstring> args, const Converters& converters);
