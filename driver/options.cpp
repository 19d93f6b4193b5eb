#include "driver/options.h"

#include <limits>

#include "pack/pack.h"
#include "platform/platform.h"

namespace {

// -v0 .. -v9 are shorthands for versions 1000 .. 1009.
constexpr std::int32_t kVersionBase = 1000;

// The C locale's white space, not the user's: iswspace would also skip, say,
// an ideographic space in a Japanese locale, and "-v　2" should not depend on
// the locale it runs in.
bool IsCSpace(wchar_t c) {
  return c == L' ' || (c >= L'\t' && c <= L'\r');
}

}  // namespace

std::int32_t ParseDecimal(const std::wstring& text) {
  std::size_t i = 0;
  while (i < text.size() && IsCSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) negative = text[i++] == L'-';
  // Accumulate the magnitude with a ceiling just past the 32-bit range, so
  // any number of digits clamps instead of overflowing.
  constexpr std::int64_t kCeiling = std::int64_t{1} << 32;
  std::int64_t magnitude = 0;
  for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
    magnitude = magnitude * 10 + (text[i] - L'0');
    if (magnitude > kCeiling) magnitude = kCeiling;
  }
  std::int64_t value = negative ? -magnitude : magnitude;
  if (value > std::numeric_limits<std::int32_t>::max()) {
    return std::numeric_limits<std::int32_t>::max();
  }
  if (value < std::numeric_limits<std::int32_t>::min()) {
    return std::numeric_limits<std::int32_t>::min();
  }
  return static_cast<std::int32_t>(value);
}

ParseStatus ParseOptions(std::span<const std::wstring> args, Options* options) {
  std::size_t i = 0;
  for (; i < args.size(); ++i) {
    const std::wstring& arg = args[i];
    if (arg.empty() || !platform::IsOptionIntroducer(arg[0])) break;
    if (arg.size() < 2) return ParseStatus::kShowUsage;
    const std::wstring value = arg.substr(2);
    switch (arg[1]) {
      case L'b':
      case L'B':
        if (!value.empty()) {
          std::int32_t n = ParseDecimal(value);
          // A size no packed section can use means the default, the largest.
          options->blockSize = IsBlockSize(n) ? n : kDefaultBlockSize;
        }
        break;
      case L'n':
      case L'N':
        if (!value.empty() && (value[0] == L'a' || value[0] == L'A')) options->ignoreAlpha = true;
        break;
      case L'p':
      case L'P':
        options->output = value == L"256" ? OutputForm::kPngPalette : OutputForm::kPngColour;
        break;
      case L'v':
      case L'V':
        if (!value.empty()) {
          std::int32_t n = ParseDecimal(value);
          // Compared as unsigned, so a negative number is not a shorthand.
          options->version = static_cast<std::uint32_t>(n) <= 9 ? kVersionBase + n : n;
        }
        options->versionGiven = true;
        break;
      case L'j':
      case L'J': {
        const std::int32_t n = ParseDecimal(value);
        options->jobs = n < 1 ? 0 : n;
        break;
      }
      case L'i':
      case L'I':
        options->inspect = true;
        break;
      case L'm':
      case L'M':
        options->mapping = {true, value};
        break;
      default:
        return ParseStatus::kShowUsage;
    }
  }
  options->mapping.takeVersion = !options->versionGiven;
  options->operands.assign(args.begin() + static_cast<std::ptrdiff_t>(i), args.end());
  if (i < args.size()) options->imageFile = args[i++];
  if (i < args.size()) options->destPath = args[i];
  return ParseStatus::kOk;
}
