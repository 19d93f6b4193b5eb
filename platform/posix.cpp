// POSIX implementation of the platform layer.
#include "platform/platform.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <clocale>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <vector>

namespace platform {
namespace {

// A byte that the locale cannot decode becomes U+DC00 + byte. Lone surrogates
// never come out of a successful decode, so the whole block U+DC00..U+DCFF is
// free to carry raw bytes (0x80..0xFF in UTF-8; stateful or double-byte
// encodings can also reject a byte below 0x80, which must round-trip too).
constexpr wchar_t kEscapeBase = 0xDC00;
bool IsEscapedByte(wchar_t c) {
  return c >= 0xDC00 && c <= 0xDCFF;
}

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
  const wchar_t* sample = L"ファイル変換？";
  if (LocaleEncodes(sample)) return;
  // The user's locale (often plain C when LANG is unset) has no encoding for
  // the messages. Only the character type changes, so numbers and collation
  // stay the user's. The spellings differ between C libraries.
  for (const char* name : {"C.UTF-8", "C.utf8", "en_US.UTF-8"}) {
    if (std::setlocale(LC_CTYPE, name) != nullptr && LocaleEncodes(sample)) return;
  }
  // Nothing better exists: keep the user's locale; Print writes '?' for what
  // it cannot encode.
  std::setlocale(LC_CTYPE, "");
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

bool ChangeDirectory(const std::wstring& dir) {
  return chdir(WideToBytes(dir).c_str()) == 0;
}

bool PathExists(const std::wstring& path) {
  struct stat st;
  return stat(WideToBytes(path).c_str(), &st) == 0;
}

bool IsDirectory(const std::wstring& path) {
  struct stat st;
  return stat(WideToBytes(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void AddTrailingSeparator(std::wstring& path) {
  // An empty path stays empty: "/" would turn "here" into the root.
  if (!path.empty() && path.back() != kSeparator) path.push_back(kSeparator);
}

std::size_t MaxPathBytes() {
  return PATH_MAX;
}

std::size_t MaxNameBytes() {
  return NAME_MAX;
}

namespace {

// Rewrites a format from the Windows wide-printf convention, where "%s" and
// "%c" in a wide format take wide arguments, to the C library's, which wants
// "%ls" and "%lc" for them. Flags, width and precision are kept as they are.
std::wstring ToLibcWideFormat(const wchar_t* format) {
  std::wstring out;
  for (const wchar_t* p = format; *p != 0;) {
    out.push_back(*p);
    if (*p++ != L'%') continue;
    while (*p != 0 && std::wcschr(L"-+ #0123456789.*", *p) != nullptr) out.push_back(*p++);
    bool sized = false;
    while (*p != 0 && std::wcschr(L"hlLqjzt", *p) != nullptr) {
      out.push_back(*p++);
      sized = true;
    }
    if (*p == 0) break;
    if (!sized && (*p == L's' || *p == L'c')) out.push_back(L'l');
    out.push_back(*p++);
  }
  return out;
}

}  // namespace

void Print(const wchar_t* format, ...) {
  std::wstring fmt = ToLibcWideFormat(format);
  // vswprintf reports a short buffer only as a failure, so grow until the
  // text fits. The bound stops a format error from growing without end.
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
    if (text.size() >= (std::size_t{1} << 24)) {
      // Not a short buffer but a bad format: say so rather than print nothing.
      text.assign(format, format + std::wcslen(format));
      break;
    }
    text.resize(text.size() * 4);
  }
  std::string bytes;
  for (wchar_t c : text) AppendEncoded(bytes, c);
  std::fwrite(bytes.data(), 1, bytes.size(), stdout);
  std::fflush(stdout);
}

int OpenFile(const std::wstring& path, int flags, int* error) {
  // O_NONBLOCK only keeps the open itself from waiting forever on a FIFO with
  // no writer; it is cleared again before any read or write.
  int oflags = O_CLOEXEC | O_NONBLOCK;
  if (flags & kOpenWrite) {
    oflags |= (flags & kOpenRead) ? O_RDWR : O_WRONLY;
  } else {
    oflags |= O_RDONLY;
  }
  if (flags & kOpenCreate) oflags |= O_CREAT;
  if (flags & kOpenTruncate) oflags |= O_TRUNC;
  std::string bytes = WideToBytes(path);
  int fd;
  do {
    fd = open(bytes.c_str(), oflags, 0666);  // The kernel applies the umask.
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    if (error != nullptr) *error = errno != 0 ? errno : EIO;
    return -1;
  }
  // A directory opens on Linux but is no file to read or replace.
  int e = 0;
  struct stat st;
  if (fstat(fd, &st) != 0) {
    e = errno;
  } else if (S_ISDIR(st.st_mode)) {
    e = EISDIR;
  } else {
    int status = fcntl(fd, F_GETFL);
    if (status < 0 || fcntl(fd, F_SETFL, status & ~O_NONBLOCK) != 0) e = errno;
  }
  if (e == 0) return fd;
  close(fd);
  if (error != nullptr) *error = e;
  return -1;
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

bool CloseFile(int fd) {
  return close(fd) == 0;
}

int CreateTempFile(const std::wstring& finalPath, std::wstring* tempPath, int* error) {
  std::string final = WideToBytes(finalPath);
  std::string dir = DirectoryOf(final);
  std::string base = final.substr(dir.size());
  // ".name.XXXXXX" says whose file it is; a name near the length limit gets
  // the short form instead, since 8 more bytes would not fit.
  for (const std::string& name : {dir + "." + base + ".XXXXXX", dir + ".ovkconv.XXXXXX"}) {
    std::vector<char> buf(name.begin(), name.end());
    buf.push_back('\0');
    int fd = mkostemp(buf.data(), O_CLOEXEC);
    if (fd >= 0) {
      *tempPath = BytesToWide(std::string(buf.data()));
      return fd;
    }
    if (errno != ENAMETOOLONG) break;
  }
  if (error != nullptr) *error = errno != 0 ? errno : EIO;
  return -1;
}

bool SetOutputMode(int fd, const std::wstring& finalPath) {
  struct stat st;
  mode_t mode = stat(WideToBytes(finalPath).c_str(), &st) == 0 ? (st.st_mode & 07777)
                                                               : (0666 & ~CurrentUmask());
  return fchmod(fd, mode) == 0;
}

std::wstring ResolveLink(const std::wstring& path) {
  std::string bytes = WideToBytes(path);
  struct stat st;
  if (lstat(bytes.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
  char* real = realpath(bytes.c_str(), nullptr);
  if (real == nullptr) return path;
  std::wstring resolved = BytesToWide(real);
  std::free(real);
  return resolved;
}

bool RenameFile(const std::wstring& from, const std::wstring& to) {
  return rename(WideToBytes(from).c_str(), WideToBytes(to).c_str()) == 0;
}

bool RemoveFile(const std::wstring& path) {
  return unlink(WideToBytes(path).c_str()) == 0;
}

bool ExistsButNotWritable(const std::wstring& path) {
  std::string p = WideToBytes(path);
  struct stat st;
  if (stat(p.c_str(), &st) != 0) return false;
  return S_ISDIR(st.st_mode) || access(p.c_str(), W_OK) != 0;
}

std::FILE* StreamFromDescriptor(int fd, const char* mode) {
  return fdopen(fd, mode);
}

int StreamDescriptor(std::FILE* stream) {
  return fileno(stream);
}

std::FILE* OpenStream(const std::wstring& path, const char* mode) {
  return std::fopen(WideToBytes(path).c_str(), mode);
}

}  // namespace platform
