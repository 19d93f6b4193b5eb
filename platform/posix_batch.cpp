// POSIX implementation of what the batch form needs (the end of platform.h);
// the stoppable work is in posix.cpp, beside the temporary files' handlers.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <thread>

#include "platform/platform.h"

namespace platform {

bool ListDirectory(const std::wstring& dir, std::vector<DirectoryEntry>* entries) {
  const std::string base = dir.empty() ? std::string(".") : WideToBytes(dir);
  DIR* d = opendir(base.c_str());
  if (d == nullptr) return false;
  const int dirFd = dirfd(d);
  while (const dirent* e = readdir(d)) {
    const std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    DirectoryEntry entry;
    entry.name = BytesToWide(name);
    struct stat st;
    if (fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode)) {
      entry.link = true;
      if (fstatat(dirFd, name.c_str(), &st, 0) != 0) st.st_mode = 0;  // leads nowhere
    }
    entry.kind = S_ISREG(st.st_mode)   ? DirectoryEntry::Kind::kFile
                 : S_ISDIR(st.st_mode) ? DirectoryEntry::Kind::kDirectory
                                       : DirectoryEntry::Kind::kOther;
    entries->push_back(std::move(entry));
  }
  closedir(d);
  return true;
}

bool IsRegularFile(const std::wstring& path) {
  struct stat st;
  return stat(WideToBytes(path).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool IdentifyFile(const std::wstring& path, FileId* id) {
  struct stat st;
  if (stat(WideToBytes(path).c_str(), &st) != 0) return false;
  *id = {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
  return true;
}

bool MakeDirectory(const std::wstring& dir) {
  const std::string bytes = WideToBytes(dir);
  // The mode is 0777 less the umask, as for mkdir(1).
  if (mkdir(bytes.c_str(), 0777) == 0) return true;
  return errno == EEXIST && IsDirectory(dir);
}

int ProcessorCount() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) return CPU_COUNT(&set);
  const unsigned n = std::thread::hardware_concurrency();
  return n > 0 ? static_cast<int>(n) : 1;
}

bool StandardErrorIsTerminal() {
  return isatty(STDERR_FILENO) == 1;
}

void ShowProgress(const std::wstring& line) {
  // Back to the start of the line, the new text, then erase what is left of
  // the old one.
  std::string bytes = "\r";
  bytes += WideToBytes(line);
  bytes += "\x1b[K";
  std::fwrite(bytes.data(), 1, bytes.size(), stderr);
  std::fflush(stderr);
}

}  // namespace platform
