#include "io/load_file.h"

#include <limits>

#include "io/cfile.h"

LoadResult LoadWholeFile(const std::wstring& path, Cbuffer& out, std::int64_t* fileSize) {
  Cfile file;
  *fileSize = 0;
  if (file.Open(Cfile::kRead, path) != 0) return LoadResult::kOpenFailed;
  *fileSize = file.size();
  if (file.size() > std::numeric_limits<std::int32_t>::max()) return LoadResult::kNoMemory;
  auto n = static_cast<std::int32_t>(file.size());
  if (out.Alloc(n) == nullptr) return LoadResult::kNoMemory;
  // A short read leaves the rest of the zero-filled buffer as zeros.
  platform::ReadFile(file.fd(), out.data(), static_cast<std::size_t>(n));
  file.Close();
  return LoadResult::kOk;
}
