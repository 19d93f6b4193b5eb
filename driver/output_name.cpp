#include "driver/output_name.h"

#include <string_view>
#include <utility>

#include "platform/platform.h"

namespace {

// Where the last path component starts: just after the last separator.
std::size_t LastComponentStart(const std::wstring& path) {
  std::size_t start = path.size();
  while (start > 0 && !platform::IsSeparator(path[start - 1])) --start;
  return start;
}

void ReplaceExtension(std::wstring& name, const std::wstring& extension) {
  std::size_t dot = name.rfind(L'.');
  if (dot != std::wstring::npos && dot >= LastComponentStart(name)) name.erase(dot);
  name += extension;
}

}  // namespace

bool NameFits(const std::wstring& path) {
  if (platform::NameLength(path) + 1 > platform::MaxPathLength()) return false;
  const std::wstring_view last = std::wstring_view(path).substr(LastComponentStart(path));
  return platform::NameLength(last) <= platform::MaxNameLength();
}

bool DeriveOutputName(const std::wstring& imageFile, const std::wstring& destPath,
                      const std::wstring& extension, std::wstring* out) {
  std::wstring name;
  if (destPath.empty()) {
    name = imageFile;
  } else if (destPath.find(L'.', LastComponentStart(destPath)) != std::wstring::npos &&
             !platform::IsDirectory(destPath)) {
    // A file name: used as given, whatever its extension.
    *out = destPath;
    return NameFits(*out);
  } else {
    // A directory ("out", "out/", or an existing "." or "v1.2").
    name = destPath;
    platform::AddTrailingSeparator(name);
    name.append(imageFile, LastComponentStart(imageFile));
  }
  ReplaceExtension(name, extension);
  *out = std::move(name);
  return NameFits(*out);
}

bool HasOvkExtension(const std::wstring& name) {
  const std::size_t dot = name.rfind(L'.');
  if (dot == std::wstring::npos || name.size() - dot != 4) return false;
  const wchar_t* want = L".ovk";
  for (std::size_t i = 1; i < 4; ++i) {
    wchar_t c = name[dot + i];
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    if (c != want[i]) return false;
  }
  return true;
}
