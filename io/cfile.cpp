#include "io/cfile.h"

#include <cerrno>

Cfile::~Cfile() {
  Close();
}

int Cfile::Open(int flags, const std::wstring& path) {
  Close();
  int error = 0;
  platform::FileHandle fd = platform::OpenFile(path, flags, &error);
  if (fd == platform::kNoFile) return error != 0 ? error : EIO;
  std::int64_t end = platform::SeekFile(fd, 0, 2);
  if (end < 0 || platform::SeekFile(fd, 0, 0) != 0) {
    // Not a seekable file (a directory on some systems, a pipe): refuse it
    // rather than report a wrong size.
    platform::CloseFile(fd);
    return EINVAL;
  }
  fd_ = fd;
  size_ = end;
  return 0;
}

void Cfile::Close() {
  if (fd_ != platform::kNoFile) platform::CloseFile(fd_);
  fd_ = platform::kNoFile;
  size_ = 0;
}
