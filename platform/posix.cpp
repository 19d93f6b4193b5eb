// POSIX implementation of the platform layer.
#include "platform/platform.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdarg>
#include <climits>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <vector>

namespace platform {
namespace {

// Undecodable bytes 0x80..0xFF become U+DC80..U+DCFF.
constexpr wchar_t kEscapeBase = 0xDC00;
bool IsEscapedByte(wchar_t c) { return c >= 0xDC80 && c <= 0xDCFF; }

// Encodes one wide character in the current locale; appends '?' when the
// locale has no encoding for it.
void AppendEncoded(std::string& out, wchar_t c) {
  if (IsEscapedByte(c)) {
    out.push_back(static_cast<char>(c - kEscapeBase));
    return;
  }
  char buf[MB_LEN_MAX];
  std::mbstate_t state{};
  std::size_t n = std::wcrtomb(buf, c, &state);
  if (n == static_cast<std::size_t>(-1)) {
    out.push_back('?');
  } else {
    out.append(buf, n);
  }
}

bool LocaleEncodes(const wchar_t* sample) {
  for (; *sample != 0; ++sample) {
    char buf[MB_LEN_MAX];
    std::mbstate_t state{};
    if (std::wcrtomb(buf, *sample, &state) == static_cast<std::size_t>(-1)) return false;
  }
  return true;
}

// Directory part of a path, with its trailing separator ("" for a bare name).
std::string DirectoryOf(const std::string& path) {
  std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

mode_t CurrentUmask() {
  mode_t mask = umask(0);
  umask(mask);
  return mask;
}

}  // namespace

void SetUserLocale() {
  std::setlocale(LC_ALL, "");
  // A sample of the characters the messages use (katakana, kanji, fullwidth).
  if (!LocaleEncodes(L"ファイル変換？")) {
    std::setlocale(LC_CTYPE, "C.UTF-8");
  }
}

std::wstring BytesToWide(const std::string& bytes) {
  std::wstring out;
  out.reserve(bytes.size());
  std::mbstate_t state{};
  std::size_t i = 0;
  while (i < bytes.size()) {
    wchar_t c = 0;
    std::size_t n = std::mbrtowc(&c, bytes.data() + i, bytes.size() - i, &state);
    if (n == static_cast<std::size_t>(-1) || n == static_cast<std::size_t>(-2) ||
        IsEscapedByte(c)) {
      // Not decodable here (or a decoded character that would be mistaken for
      // an escape): keep the raw byte.
      out.push_back(static_cast<wchar_t>(kEscapeBase + static_cast<unsigned char>(bytes[i])));
      state = std::mbstate_t{};
      ++i;
    } else if (n == 0) {
      out.push_back(L'\0');
      ++i;
    } else {
      out.push_back(c);
      i += n;
    }
  }
  return out;
}

std::string WideToBytes(const std::wstring& wide) {
  std::string out;
  out.reserve(wide.size());
  for (wchar_t c : wide) AppendEncoded(out, c);
  return out;
}

std::wstring ExecutableDirectory() {
  std::vector<char> buf(PATH_MAX + 1);
  ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size() - 1);
  if (n <= 0 || static_cast<std::size_t>(n) >= buf.size() - 1) return std::wstring();
  std::string dir = DirectoryOf(std::string(buf.data(), static_cast<std::size_t>(n)));
  return BytesToWide(dir);
}

bool ChangeDirectory(const std::wstring& dir) { return chdir(WideToBytes(dir).c_str()) == 0; }

bool PathExists(const std::wstring& path) {
  struct stat st;
  return stat(WideToBytes(path).c_str(), &st) == 0;
}

bool IsDirectory(const std::wstring& path) {
  struct stat st;
  return stat(WideToBytes(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void AddTrailingSeparator(std::wstring& path) {
  if (path.empty() || path.back() != kSeparator) path.push_back(kSeparator);
}

std::size_t MaxPathBytes() { return PATH_MAX; }

void Print(const wchar_t* format, ...) {
  // The messages use the Windows convention, where "%s" in a wide format takes
  // a wide string; the C library here wants "%ls" for that.
  std::wstring fmt;
  for (const wchar_t* p = format; *p != 0; ++p) {
    fmt.push_back(*p);
    if (*p == L'%') {
      if (p[1] == L'%') {
        fmt.push_back(*++p);
      } else if (p[1] == L's') {
        fmt.push_back(L'l');
      }
    }
  }
  std::vector<wchar_t> text(256);
  for (;;) {
    va_list args;
    va_start(args, format);
    int n = std::vswprintf(text.data(), text.size(), fmt.c_str(), args);
    va_end(args);
    if (n >= 0) {
      text.resize(static_cast<std::size_t>(n));
      break;
    }
    if (text.size() >= (1u << 24)) return;  // A format error, not a short buffer.
    text.resize(text.size() * 4);
  }
  std::string bytes;
  for (wchar_t c : text) AppendEncoded(bytes, c);
  std::fwrite(bytes.data(), 1, bytes.size(), stdout);
  std::fflush(stdout);
}

int OpenFile(const std::wstring& path, int flags, int* error) {
  int oflags = O_CLOEXEC;
  if (flags & kOpenWrite) {
    oflags |= (flags & kOpenRead) ? O_RDWR : O_WRONLY;
  } else {
    oflags |= O_RDONLY;
  }
  if (flags & kOpenCreate) oflags |= O_CREAT;
  if (flags & kOpenTruncate) oflags |= O_TRUNC;
  int fd;
  do {
    fd = open(WideToBytes(path).c_str(), oflags, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    if (error != nullptr) *error = errno != 0 ? errno : EIO;
    return -1;
  }
  // A directory opens on Linux but is no file to read or replace.
  struct stat st;
  if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    close(fd);
    if (error != nullptr) *error = EISDIR;
    return -1;
  }
  return fd;
}

std::int64_t ReadFile(int fd, void* buffer, std::size_t count) {
  std::size_t done = 0;
  auto* p = static_cast<unsigned char*>(buffer);
  while (done < count) {
    ssize_t n = read(fd, p + done, count - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return static_cast<std::int64_t>(done);
}

bool WriteFile(int fd, const void* buffer, std::size_t count) {
  std::size_t done = 0;
  const auto* p = static_cast<const unsigned char*>(buffer);
  while (done < count) {
    ssize_t n = write(fd, p + done, count - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

std::int64_t SeekFile(int fd, std::int64_t offset, int whence) {
  int w = whence == 0 ? SEEK_SET : whence == 1 ? SEEK_CUR : SEEK_END;
  off_t r = lseek(fd, static_cast<off_t>(offset), w);
  return r < 0 ? -1 : static_cast<std::int64_t>(r);
}

bool CloseFile(int fd) { return close(fd) == 0; }

int CreateTempFile(const std::wstring& finalPath, std::wstring* tempPath, int* error) {
  std::string final = WideToBytes(finalPath);
  std::string dir = DirectoryOf(final);
  std::string base = final.substr(dir.size());
  std::string name = dir + "." + base + ".XXXXXX";
  std::vector<char> buf(name.begin(), name.end());
  buf.push_back('\0');
  int fd = mkostemp(buf.data(), O_CLOEXEC);
  if (fd < 0) {
    if (error != nullptr) *error = errno != 0 ? errno : EIO;
    return -1;
  }
  *tempPath = BytesToWide(std::string(buf.data()));
  return fd;
}

bool SetOutputMode(int fd, const std::wstring& finalPath) {
  struct stat st;
  mode_t mode = stat(WideToBytes(finalPath).c_str(), &st) == 0 ? (st.st_mode & 07777)
                                                               : (0666 & ~CurrentUmask());
  return fchmod(fd, mode) == 0;
}

bool RenameFile(const std::wstring& from, const std::wstring& to) {
  return rename(WideToBytes(from).c_str(), WideToBytes(to).c_str()) == 0;
}

bool RemoveFile(const std::wstring& path) { return unlink(WideToBytes(path).c_str()) == 0; }

bool ExistsButNotWritable(const std::wstring& path) {
  std::string p = WideToBytes(path);
  struct stat st;
  if (stat(p.c_str(), &st) != 0) return false;
  return S_ISDIR(st.st_mode) || access(p.c_str(), W_OK) != 0;
}

std::FILE* StreamFromDescriptor(int fd, const char* mode) { return fdopen(fd, mode); }

int StreamDescriptor(std::FILE* stream) { return fileno(stream); }

std::FILE* OpenStream(const std::wstring& path, const char* mode) {
  return std::fopen(WideToBytes(path).c_str(), mode);
}

}  // namespace platform
