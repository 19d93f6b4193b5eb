#include "io/output_file.h"

CoutputFile::~CoutputFile() {
  Discard();
}

bool CoutputFile::Open(const std::wstring& path) {
  Discard();
  return platform::BeginOutput(path, &pending_) == 0;
}

bool CoutputFile::Write(const void* data, std::size_t n) {
  if (pending_.file == -1) return false;
  return platform::WriteFile(pending_.file, data, n);
}

std::FILE* CoutputFile::Stream() {
  if (stream_ == nullptr && pending_.file != -1) {
    stream_ = platform::StreamFromFile(pending_.file, "wb");
  }
  return stream_;
}

bool CoutputFile::Commit() {
  if (!is_open()) return false;
  if (stream_ != nullptr) {
    bool ok = std::fflush(stream_) == 0 && std::ferror(stream_) == 0;
    ok = std::fclose(stream_) == 0 && ok;
    stream_ = nullptr;
    if (!ok) {
      platform::AbandonOutput(&pending_);
      return false;
    }
  }
  return platform::FinishOutput(&pending_) == 0;
}

void CoutputFile::Discard() {
  if (stream_ != nullptr) std::fclose(stream_);
  stream_ = nullptr;
  platform::AbandonOutput(&pending_);
}
