// The formatting behind platform::Print, shared by both implementations.
#pragma once

#include <cstdarg>
#include <string>

namespace platform {

// Formats `format` with `args` in the program's message convention ("%s" and
// "%c" take wide arguments) through the C library's vswprintf, which wants
// "%ls" and "%lc" for them. A format the library rejects comes back as it is,
// rather than as nothing.
std::wstring FormatWide(const wchar_t* format, va_list args);

}  // namespace platform
