#include "io/load_file.h"

#include <limits>

#include "io/cfile.h"

Error LoadWholeFile(const std::wstring& path, Cbuffer& out) {
  Cfile file;
  if (file.Open(Cfile::kRead, path) != 0) return {Fault::kOpenFailed};
  const Error noMemory{Fault::kNoMemory, file.size()};
  if (file.size() > std::numeric_limits<std::int32_t>::max()) return noMemory;
  auto n = static_cast<std::int32_t>(file.size());
  if (out.Alloc(n) == nullptr) return noMemory;
  // A file that shrank since it was opened leaves the rest of the zero-filled
  // buffer as zeros. A read error is not taken for such a short file: the
  // bytes would silently be wrong.
  std::int64_t got = platform::ReadFile(file.fd(), out.data(), static_cast<std::size_t>(n));
  file.Close();
  if (got < 0) {
    out.Free();
    return {Fault::kOpenFailed};
  }
  return kNoError;
}

std::size_t LoadFileStart(const std::wstring& path, std::span<std::uint8_t> out) {
  Cfile file;
  if (file.Open(Cfile::kRead, path) != 0) return 0;
  const std::int64_t got = platform::ReadFile(file.fd(), out.data(), out.size());
  return got < 0 ? 0 : static_cast<std::size_t>(got);
}
