// An output file that appears whole or not at all.
//
// Open() starts a new file beside the destination; Commit() puts it in place
// of the destination in one step. Until then the destination is untouched,
// and a file that is discarded (or never committed) leaves nothing behind,
// not even when a signal ends the program. The rules for what may be
// replaced and what the new file keeps of the old one are those of
// platform::BeginOutput and platform::FinishOutput.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

#include "platform/platform.h"

class CoutputFile {
 public:
  CoutputFile() = default;
  CoutputFile(const CoutputFile&) = delete;
  CoutputFile& operator=(const CoutputFile&) = delete;
  virtual ~CoutputFile();

  // Prepares `path` for writing. Fails when the name cannot take a new file:
  // a missing directory, a directory, an existing file without write
  // permission, a FIFO, device or socket, a symbolic link that leads nowhere.
  bool Open(const std::wstring& path);
  // Writes all `n` bytes; false on an error or a short write.
  bool Write(const void* data, std::size_t n);
  // The new file as a standard-I/O stream (for libpng). Later writes go
  // through the stream only; Commit() flushes and checks it.
  std::FILE* Stream();
  // Puts the file in place; false (and nothing left behind) on any failure.
  bool Commit();
  // Removes the new file; the destination stays as it was.
  void Discard();

  bool is_open() const { return pending_.file != platform::kNoFile; }

 private:
  platform::PendingOutput pending_;
  std::FILE* stream_ = nullptr;
};
