// An open low-level file (a descriptor, or a handle on Windows) that knows
// the file's size.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"

class Cfile {
 public:
  // The two ways the program opens files.
  static constexpr int kRead = platform::kOpenRead;
  static constexpr int kWriteCreateTruncate =
      platform::kOpenWrite | platform::kOpenCreate | platform::kOpenTruncate;

  Cfile() = default;
  Cfile(const Cfile&) = delete;
  Cfile& operator=(const Cfile&) = delete;
  virtual ~Cfile();

  // Closes any open file, then opens `path`. Returns 0, or the OS error code
  // (non-zero) with fd() left at -1. On success size() is the file's length.
  int Open(int flags, const std::wstring& path);
  void Close();

  platform::FileHandle fd() const { return fd_; }
  std::int64_t size() const { return size_; }

 private:
  platform::FileHandle fd_ = platform::kNoFile;
  std::int64_t size_ = 0;
};
