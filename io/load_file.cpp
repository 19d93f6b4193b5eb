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
  // A file that shrank since it was opened leaves the rest of the zero-filled
  // buffer as zeros. A read error is not taken for such a short file: the
  // bytes would silently be wrong.
  std::int64_t got = platform::ReadFile(file.fd(), out.data(), static_cast<std::size_t>(n));
  file.Close();
  if (got < 0) {
    out.Free();
    return LoadResult::kOpenFailed;
  }
  return LoadResult::kOk;
}
