// POSIX implementation of the platform layer.
#include "platform/platform.h"
#include "platform/wide_format.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <clocale>
#include <csignal>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <cwchar>
#include <iterator>
#include <mutex>
#include <vector>

#include "platform/output_capture.h"

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

bool IsOptionIntroducer(wchar_t c) {
  return c == L'-';
}

bool IsSeparator(wchar_t c) {
  return c == L'/';
}

wchar_t PreferredSeparator() {
  return L'/';
}

void AddTrailingSeparator(std::wstring& path) {
  // An empty path stays empty: "/" would turn "here" into the root.
  if (!path.empty() && !IsSeparator(path.back())) path.push_back(PreferredSeparator());
}

std::size_t NameLength(std::wstring_view name) {
  std::string bytes;
  for (wchar_t c : name) AppendEncoded(bytes, c);
  return bytes.size();
}

std::size_t MaxPathLength() {
  return PATH_MAX;
}

std::size_t MaxNameLength() {
  return NAME_MAX;
}

void Print(const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  const std::wstring text = FormatWide(format, args);
  va_end(args);
  if (CaptureText(text)) return;
  std::string bytes;
  for (wchar_t c : text) AppendEncoded(bytes, c);
  std::fwrite(bytes.data(), 1, bytes.size(), stdout);
  std::fflush(stdout);
}

bool ConsoleClosesAtExit() {
  return false;
}

void WaitForEnter() {
  for (int c = std::getchar(); c != EOF && c != '\n'; c = std::getchar()) {
  }
}

FileHandle OpenFile(const std::wstring& path, int flags, int* error) {
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

std::int64_t ReadFile(FileHandle file, void* buffer, std::size_t count) {
  const int fd = static_cast<int>(file);
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

bool WriteFile(FileHandle file, const void* buffer, std::size_t count) {
  const int fd = static_cast<int>(file);
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

std::int64_t SeekFile(FileHandle file, std::int64_t offset, int whence) {
  int w = whence == 0 ? SEEK_SET : whence == 1 ? SEEK_CUR : SEEK_END;
  off_t r = lseek(static_cast<int>(file), static_cast<off_t>(offset), w);
  return r < 0 ? -1 : static_cast<std::int64_t>(r);
}

bool CloseFile(FileHandle file) {
  return close(static_cast<int>(file)) == 0;
}

bool SameFile(const std::wstring& a, const std::wstring& b) {
  struct stat sa;
  struct stat sb;
  return stat(WideToBytes(a).c_str(), &sa) == 0 && stat(WideToBytes(b).c_str(), &sb) == 0 &&
         sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

namespace {

// The signals after which no named temporary file may stay behind.
constexpr int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr int kSignalCount = static_cast<int>(std::size(kCleanupSignals));

// Named temporary files that exist right now, for the signal handler. A slot
// is in use while its dirFd is not -1. Slots change only while the cleanup
// signals are blocked, so the handler never sees one half written.
struct TempSlot {
  volatile std::sig_atomic_t dirFd;
  char name[NAME_MAX + 1];
};
TempSlot g_slots[4] = {{-1, {}}, {-1, {}}, {-1, {}}, {-1, {}}};
int g_slotsInUse = 0;
struct sigaction g_previous[kSignalCount];
bool g_handled[kSignalCount] = {};
bool g_forceNamed = false;
// Slots are claimed and released one thread at a time. The handler takes no
// lock: a thread blocks the signals while it changes a slot, and while
// several threads convert (stoppable work, below) no slot is claimed, so the
// handler is not installed.
std::mutex g_slotMutex;

// Stoppable work (BeginStoppableWork): the interrupts are recorded instead
// of ending the program, and the temporary files go on the ordinary paths.
std::atomic<bool> g_stoppable{false};
std::atomic<int> g_stopSignal{0};
static_assert(std::atomic<int>::is_always_lock_free);
struct sigaction g_beforeStoppable[kSignalCount];
bool g_stopHandled[kSignalCount] = {};

extern "C" void RecordStop(int sig) {
  int none = 0;
  g_stopSignal.compare_exchange_strong(none, sig);
}

extern "C" void RemoveTempFilesAndReraise(int sig) {
  const int savedErrno = errno;
  for (TempSlot& slot : g_slots) {
    if (slot.dirFd != -1) unlinkat(slot.dirFd, slot.name, 0);
  }
  // Whatever was in place before takes over (for the program: the default
  // action, which ends it); the signal is delivered again on return.
  for (int i = 0; i < kSignalCount; ++i) {
    if (kCleanupSignals[i] == sig) sigaction(sig, &g_previous[i], nullptr);
  }
  raise(sig);
  errno = savedErrno;
}

// Installs `handler` (with `flags`) for each cleanup signal that is not
// ignored, keeping what was there in previous[] and which signals it took in
// taken[]. The handler runs with all of them blocked.
void TakeCleanupSignals(void (*handler)(int), int flags, struct sigaction* previous, bool* taken) {
  for (int s = 0; s < kSignalCount; ++s) {
    struct sigaction current;
    taken[s] =
        sigaction(kCleanupSignals[s], nullptr, &current) == 0 && current.sa_handler != SIG_IGN;
    if (!taken[s]) continue;
    previous[s] = current;
    struct sigaction action = {};
    action.sa_handler = handler;
    action.sa_flags = flags;
    sigemptyset(&action.sa_mask);
    for (int other : kCleanupSignals) sigaddset(&action.sa_mask, other);
    sigaction(kCleanupSignals[s], &action, nullptr);
  }
}

// Puts back what TakeCleanupSignals found.
void GiveBackCleanupSignals(const struct sigaction* previous, bool* taken) {
  for (int s = 0; s < kSignalCount; ++s) {
    if (taken[s]) sigaction(kCleanupSignals[s], &previous[s], nullptr);
    taken[s] = false;
  }
}

// Blocks the cleanup signals for one scope on this thread: a signal that
// arrives meanwhile is delivered when the scope ends, after the names have
// been settled. (During stoppable work the handler only records the signal.)
class CleanupSignalsHeld {
 public:
  CleanupSignalsHeld() {
    sigset_t set;
    sigemptyset(&set);
    for (int sig : kCleanupSignals) sigaddset(&set, sig);
    pthread_sigmask(SIG_BLOCK, &set, &saved_);
  }
  ~CleanupSignalsHeld() { pthread_sigmask(SIG_SETMASK, &saved_, nullptr); }
  CleanupSignalsHeld(const CleanupSignalsHeld&) = delete;
  CleanupSignalsHeld& operator=(const CleanupSignalsHeld&) = delete;

 private:
  sigset_t saved_;
};

// Records a named temporary file for the handler, installing the handler
// with the first one. Called with the cleanup signals blocked. Returns the
// slot, or -1 when every slot is taken or the work is stoppable (the file is
// then removed on the ordinary paths only: during stoppable work no
// interrupt ends the program before they run).
int ClaimSlot(int dirFd, const std::string& name) {
  if (g_stoppable) return -1;
  std::lock_guard<std::mutex> lock(g_slotMutex);
  for (int i = 0; i < static_cast<int>(std::size(g_slots)); ++i) {
    if (g_slots[i].dirFd != -1) continue;
    std::memcpy(g_slots[i].name, name.c_str(), name.size() + 1);
    g_slots[i].dirFd = dirFd;
    if (g_slotsInUse++ == 0)
      TakeCleanupSignals(RemoveTempFilesAndReraise, 0, g_previous, g_handled);
    return i;
  }
  return -1;
}

// Called with the cleanup signals blocked, once the name is gone or taken
// by the finished file. The last release puts the previous handlers back.
void ReleaseSlot(int slot) {
  if (slot < 0) return;
  std::lock_guard<std::mutex> lock(g_slotMutex);
  g_slots[slot].dirFd = -1;
  if (--g_slotsInUse > 0) return;
  GiveBackCleanupSignals(g_previous, g_handled);
}

}  // namespace

struct PendingOutput::State {
  int fd = -1;           // the new file, open for reading and writing
  int dirFd = -1;        // the destination's directory
  std::string name;      // the destination's name in that directory
  std::string tempName;  // the new file's temporary name; empty while it has none
  int slot = -1;         // where the signal handlers find tempName; -1: not there
};

PendingOutput::PendingOutput() = default;
PendingOutput::~PendingOutput() = default;
PendingOutput::PendingOutput(PendingOutput&&) noexcept = default;
PendingOutput& PendingOutput::operator=(PendingOutput&&) noexcept = default;

namespace {

// Opens directory `dir` relative to `at` ("" is `at` itself) as a base for
// the *at calls. Only searching it is needed, not reading it.
int OpenDirectory(int at, const std::string& dir) {
#ifdef O_PATH
  const int flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
#else
  const int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#endif
  int fd;
  do {
    fd = openat(at, dir.empty() ? "." : dir.c_str(), flags);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// As many links as the kernel follows in one lookup.
constexpr int kMaxLinks = 40;

// Follows `path` through symbolic links, one link at a time, to the
// directory and the name of the file it ends at. A link's target is read
// relative to the directory that holds the link, so no path is ever built
// longer than the ones given. Sets *exists when that file exists (with *st);
// a missing file is an error (ENOENT) only at the end of a link.
int ResolveOutput(const std::string& path, int* dirFd, std::string* name, struct stat* st,
                  bool* exists) {
  std::string dirPart = DirectoryOf(path);
  int dir = OpenDirectory(AT_FDCWD, dirPart);
  if (dir < 0) return errno;
  std::string base = path.substr(dirPart.size());
  std::vector<char> target(PATH_MAX);
  for (int links = 0;; ++links) {
    int e = 0;
    if (base.empty()) {
      e = EISDIR;  // a name ending in a separator
    } else if (fstatat(dir, base.c_str(), st, AT_SYMLINK_NOFOLLOW) != 0) {
      e = errno;
      if (e == ENOENT && links == 0) {
        *exists = false;
        break;
      }
    } else if (!S_ISLNK(st->st_mode)) {
      *exists = true;
      break;
    } else if (links == kMaxLinks) {
      e = ELOOP;
    } else {
      ssize_t n = readlinkat(dir, base.c_str(), target.data(), target.size());
      if (n < 0 || static_cast<std::size_t>(n) >= target.size()) {
        e = n < 0 ? errno : ENAMETOOLONG;
      } else {
        std::string link(target.data(), static_cast<std::size_t>(n));
        std::string linkDir = DirectoryOf(link);
        if (!linkDir.empty()) {
          // An absolute target ignores `dir`.
          int next = OpenDirectory(dir, linkDir);
          if (next < 0) {
            e = errno;
          } else {
            close(dir);
            dir = next;
          }
        }
        base = link.substr(linkDir.size());
      }
    }
    if (e != 0) {
      close(dir);
      return e;
    }
  }
  *dirFd = dir;
  *name = base;
  return 0;
}

// A temporary name for `name`: ".name.XXXXXX" says whose file it is; a name
// too long for that gets ".ovkconv.XXXXXX". Either is one component of at
// most NAME_MAX bytes.
std::string TempNameFor(const std::string& name) {
  static std::atomic<std::uint64_t> counter{0};
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  std::uint64_t x =
      static_cast<std::uint64_t>(now.tv_nsec) ^ (static_cast<std::uint64_t>(now.tv_sec) << 30) ^
      (static_cast<std::uint64_t>(getpid()) << 40) ^ (++counter * 0x9E3779B97F4A7C15ull);
  // splitmix64's finaliser spreads every input bit over the suffix.
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  x ^= x >> 31;
  static const char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::string suffix = ".";
  for (int i = 0; i < 6; ++i, x /= 62) suffix.push_back(kChars[x % 62]);
  const std::string decorated = "." + name + suffix;
  return decorated.size() <= NAME_MAX ? decorated : ".ovkconv" + suffix;
}

// Gives the open, unnamed file `fd` the name `name` in `dirFd`. Fails with
// EEXIST when the name is taken.
int LinkDescriptor(int fd, int dirFd, const std::string& name) {
  char proc[32];
  std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", fd);
  if (linkat(AT_FDCWD, proc, dirFd, name.c_str(), AT_SYMLINK_FOLLOW) == 0) return 0;
  const int e = errno;
  if (e == EEXIST) return e;
#ifdef AT_EMPTY_PATH
  // Without /proc: allowed to privileged processes only.
  if (linkat(fd, "", dirFd, name.c_str(), AT_EMPTY_PATH) == 0) return 0;
#endif
  return e;
}

// Opens a new file with no name in `dirFd`, or returns -1 with errno set.
// EOPNOTSUPP, EISDIR or EINVAL mean that the system or the file system has no
// such files; the file is also refused when LinkDescriptor could not name it.
int OpenUnnamed(int dirFd) {
#ifdef O_TMPFILE
  if (g_forceNamed) {
    errno = EOPNOTSUPP;
    return -1;
  }
  int fd;
  do {
    fd = openat(dirFd, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return -1;
  char proc[32];
  std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", fd);
  struct stat st;
  if (stat(proc, &st) == 0 || geteuid() == 0) return fd;
  close(fd);
  errno = EOPNOTSUPP;
  return -1;
#else
  (void)dirFd;
  errno = EOPNOTSUPP;
  return -1;
#endif
}

// The state of an output file between BeginOutput and FinishOutput.
using Pending = PendingOutput::State;

// Creates a new file under a fresh temporary name in `out->dirFd`, recorded
// for the signal handlers before any signal can see it.
int OpenNamed(Pending* out) {
  CleanupSignalsHeld held;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string temp = TempNameFor(out->name);
    int fd;
    do {
      fd = openat(out->dirFd, temp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return errno;
    }
    out->fd = fd;
    out->tempName = temp;
    out->slot = ClaimSlot(out->dirFd, temp);
    return 0;
  }
  return EEXIST;
}

// Puts the finished file in place over (or as) `out->name`. Called with the
// cleanup signals blocked, so no temporary name made here can outlive it.
int PutInPlace(Pending* out, bool replaces) {
  const char* name = out->name.c_str();
  if (!out->tempName.empty()) {
    return renameat(out->dirFd, out->tempName.c_str(), out->dirFd, name) == 0 ? 0 : errno;
  }
  // A new name is given directly. A link cannot replace a name, so an
  // existing file is replaced by linking under a temporary name and renaming
  // that over it.
  if (!replaces) {
    const int e = LinkDescriptor(out->fd, out->dirFd, out->name);
    if (e != EEXIST) return e;
  }
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string temp = TempNameFor(out->name);
    const int e = LinkDescriptor(out->fd, out->dirFd, temp);
    if (e == EEXIST) continue;
    if (e != 0) return e;
    if (renameat(out->dirFd, temp.c_str(), out->dirFd, name) == 0) return 0;
    const int renameError = errno;
    unlinkat(out->dirFd, temp.c_str(), 0);
    return renameError;
  }
  return EEXIST;
}

// Closes what `out` holds and removes a temporary name that is still there.
void ReleaseOutput(Pending* out) {
  if (out->fd != -1) close(out->fd);
  if (!out->tempName.empty()) {
    CleanupSignalsHeld held;
    unlinkat(out->dirFd, out->tempName.c_str(), 0);
    ReleaseSlot(out->slot);
  }
  if (out->dirFd != -1) close(out->dirFd);
  *out = Pending{};
}

}  // namespace

int BeginOutput(const std::wstring& path, PendingOutput* pending) {
  AbandonOutput(pending);
  pending->state = std::make_unique<Pending>();
  Pending* out = pending->state.get();
  struct stat st;
  bool exists = false;
  int e = ResolveOutput(WideToBytes(path), &out->dirFd, &out->name, &st, &exists);
  if (e != 0) return e;
  if (exists) {
    if (S_ISDIR(st.st_mode)) {
      e = EISDIR;
    } else if (!S_ISREG(st.st_mode)) {
      e = EINVAL;  // a FIFO, a device or a socket is not replaced by a file
    } else if (faccessat(out->dirFd, out->name.c_str(), W_OK, 0) != 0) {
      e = errno;
    }
  }
  if (e == 0) {
    out->fd = OpenUnnamed(out->dirFd);
    if (out->fd < 0) {
      e = errno;
      if (e == EOPNOTSUPP || e == EISDIR || e == EINVAL) e = OpenNamed(out);
    }
  }
  if (e != 0) ReleaseOutput(out);
  pending->file = out->fd;
  return e;
}

int FinishOutput(PendingOutput* pending) {
  Pending* out = pending->state.get();
  if (out == nullptr || out->fd == -1) return EBADF;
  pending->file = kNoFile;
  struct stat st;
  int e = 0;
  const bool replaces = fstatat(out->dirFd, out->name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
  if (replaces && !S_ISREG(st.st_mode)) {
    e = EINVAL;  // something other than a file took the name meanwhile
  } else if (!replaces && errno != ENOENT) {
    e = errno;
  }
  const mode_t mode = replaces ? (st.st_mode & 01777) : (0666 & ~CurrentUmask());
  if (e == 0 && replaces && geteuid() == 0 && fchown(out->fd, st.st_uid, st.st_gid) != 0) {
    e = errno;
  }
  if (e == 0 && fchmod(out->fd, mode) != 0) e = errno;
  // The data reaches the disk before the name does: after a crash the name
  // holds the old file or the whole new one.
  if (e == 0 && fsync(out->fd) != 0) e = errno;
  if (e == 0) {
    CleanupSignalsHeld held;
    // Once an interrupt has stopped the work, no new file takes a name.
    e = g_stopSignal != 0 ? EINTR : PutInPlace(out, replaces);
    if (e == 0) {
      ReleaseSlot(out->slot);
      out->tempName.clear();
    }
  }
  ReleaseOutput(out);
  return e;
}

void AbandonOutput(PendingOutput* pending) {
  if (pending->state != nullptr) ReleaseOutput(pending->state.get());
  pending->file = kNoFile;
}

void ForceNamedTemporaryFiles(bool on) {
  g_forceNamed = on;
}

void BeginStoppableWork() {
  g_stopSignal = 0;
  g_stoppable = true;
  // Calls in progress go on (SA_RESTART): the work ends by its own checks.
  TakeCleanupSignals(RecordStop, SA_RESTART, g_beforeStoppable, g_stopHandled);
}

bool StopRequested() {
  return g_stopSignal != 0;
}

void EndStoppableWork() {
  GiveBackCleanupSignals(g_beforeStoppable, g_stopHandled);
  g_stoppable = false;
  const int sig = g_stopSignal.exchange(0);
  if (sig == 0) return;
  // Delivered at once, unless this thread blocks it.
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, sig);
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
  raise(sig);
}

std::FILE* StreamFromFile(FileHandle file, const char* mode) {
  int copy = fcntl(static_cast<int>(file), F_DUPFD_CLOEXEC, 0);
  if (copy < 0) return nullptr;
  std::FILE* stream = fdopen(copy, mode);
  if (stream == nullptr) close(copy);
  return stream;
}

void PrintDiagnostics(std::string_view text) {
  if (CaptureDiagnostics(text)) return;
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

}  // namespace platform
