#include "io/output_file.h"

#include "platform/platform.h"

CoutputFile::~CoutputFile() {
  Discard();
}

bool CoutputFile::Open(const std::wstring& path) {
  Discard();
  // Through a symbolic link, the file it points to is what gets replaced; the
  // link itself stays.
  std::wstring target = platform::ResolveLink(path);
  if (platform::ExistsButNotWritable(target)) return false;
  int error = 0;
  int fd = platform::CreateTempFile(target, &tempPath_, &error);
  if (fd < 0) return false;
  fd_ = fd;
  path_ = target;
  return true;
}

bool CoutputFile::Write(const void* data, std::size_t n) {
  if (fd_ == -1) return false;
  return platform::WriteFile(fd_, data, n);
}

std::FILE* CoutputFile::Stream() {
  if (stream_ == nullptr && fd_ != -1) {
    stream_ = platform::StreamFromDescriptor(fd_, "wb");
    if (stream_ != nullptr) fd_ = -1;
  }
  return stream_;
}

bool CoutputFile::Commit() {
  if (!is_open()) return false;
  bool ok;
  if (stream_ != nullptr) {
    ok = std::fflush(stream_) == 0 && std::ferror(stream_) == 0;
    ok = platform::SetOutputMode(platform::StreamDescriptor(stream_), path_) && ok;
    ok = std::fclose(stream_) == 0 && ok;
    stream_ = nullptr;
  } else {
    ok = platform::SetOutputMode(fd_, path_);
    ok = platform::CloseFile(fd_) && ok;
    fd_ = -1;
  }
  if (ok) ok = platform::RenameFile(tempPath_, path_);
  if (!ok) platform::RemoveFile(tempPath_);
  tempPath_.clear();
  return ok;
}

void CoutputFile::Discard() {
  if (stream_ != nullptr) std::fclose(stream_);
  if (fd_ != -1) platform::CloseFile(fd_);
  stream_ = nullptr;
  fd_ = -1;
  if (!tempPath_.empty()) platform::RemoveFile(tempPath_);
  tempPath_.clear();
}
