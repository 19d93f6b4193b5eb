#include "platform/wide_format.h"

#include <algorithm>
#include <cwchar>
#include <vector>

namespace platform {
namespace {

// Rewrites a format from the program's convention, where "%s" and "%c" in a
// wide format take wide arguments, to the C library's, which wants "%ls" and
// "%lc" for them. Flags, width and precision are kept as they are.
std::wstring ToLibcWideFormat(const wchar_t* format) {
  std::wstring out;
  for (const wchar_t* p = format; *p != 0;) {
    out.push_back(*p);
    if (*p++ != L'%') continue;
    while (*p != 0 && std::wcschr(L"-+ #0123456789.*", *p) != nullptr) out.push_back(*p++);
    bool sized = false;
    while (*p != 0 && std::wcschr(L"hlLqjzt", *p) != nullptr) {
      out.push_back(*p++);
      sized = true;
    }
    if (*p == 0) break;
    if (!sized && (*p == L's' || *p == L'c')) out.push_back(L'l');
    out.push_back(*p++);
  }
  return out;
}

}  // namespace

std::wstring FormatWide(const wchar_t* format, va_list args) {
  std::wstring fmt = ToLibcWideFormat(format);
  // vswprintf reports a short buffer only as a failure, so grow until the
  // text fits. The bound stops a format error from growing without end.
  std::vector<wchar_t> text(256);
  for (;;) {
    va_list copy;
    va_copy(copy, args);
    int n = std::vswprintf(text.data(), text.size(), fmt.c_str(), copy);
    va_end(copy);
    // Some C libraries return the length the text needs, like snprintf,
    // rather than failing, when it does not fit: only a length that fits is
    // the text.
    if (n >= 0 && static_cast<std::size_t>(n) < text.size()) {
      return std::wstring(text.data(), static_cast<std::size_t>(n));
    }
    if (text.size() >= (std::size_t{1} << 24)) {
      // Not a short buffer but a bad format: say so rather than print nothing.
      return std::wstring(format);
    }
    text.resize(n > 0 ? std::max(static_cast<std::size_t>(n) + 1, text.size() * 2)
                      : text.size() * 4);
  }
}

}  // namespace platform
