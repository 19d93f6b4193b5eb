// An output file that appears whole or not at all.
//
// Open() creates a temporary file beside the destination; Commit() moves it
// over the destination name in one rename. Until then the destination is
// untouched, and a file that is discarded (or never committed) leaves nothing
// behind. This is how a failed conversion keeps the user's existing file.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

class CoutputFile {
 public:
  CoutputFile() = default;
  CoutputFile(const CoutputFile&) = delete;
  CoutputFile& operator=(const CoutputFile&) = delete;
  virtual ~CoutputFile();

  // Prepares `path` for writing. Fails where a create-and-truncate open of the
  // name would fail: a missing directory, a name that is a directory, an
  // existing file without write permission.
  bool Open(const std::wstring& path);
  // Writes all `n` bytes; false on an error or a short write.
  bool Write(const void* data, std::size_t n);
  // The temporary file as a standard-I/O stream (for libpng). Later writes go
  // through the stream only; Commit() flushes and checks it.
  std::FILE* Stream();
  // Closes the file and renames it into place; false (and nothing left
  // behind) on any failure.
  bool Commit();
  // Removes the temporary file; the destination stays as it was.
  void Discard();

  bool is_open() const { return fd_ != -1 || stream_ != nullptr; }

 private:
  int fd_ = -1;
  std::FILE* stream_ = nullptr;
  std::wstring path_;
  std::wstring tempPath_;
};
