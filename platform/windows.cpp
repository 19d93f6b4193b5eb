// Windows implementation of the platform layer.
//
// Names stay UTF-16 from the command line to every system call. Every call
// that takes a file name gets the name's absolute "\\?\" form, so that paths
// longer than MAX_PATH work up to the system's own limit; the manifest built
// into the program (longPathAware) lets the calls that cannot take that form
// go past MAX_PATH too where the system allows it.
#include "platform/output_capture.h"
#include "platform/platform.h"
#include "platform/wide_format.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <clocale>
#include <cstdarg>
#include <cstring>
#include <cwchar>
#include <iterator>
#include <vector>

namespace platform {
namespace {

// The longest path the system takes, in UTF-16 units with the terminator.
constexpr std::size_t kMaxPath = 32767;
// The longest name of one component that NTFS, FAT32 and exFAT take.
constexpr std::size_t kMaxName = 255;

// Largest piece handed to one ReadFile, WriteFile or WriteConsoleW call.
constexpr DWORD kChunk = 1u << 30;

bool StartsWith(std::wstring_view s, std::wstring_view prefix) {
  return s.substr(0, prefix.size()) == prefix;
}

int ErrnoFromWin32(DWORD e) {
  switch (e) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
      return EACCES;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    case ERROR_FILENAME_EXCED_RANGE:
      return ENAMETOOLONG;
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_DIRECTORY:
      return EINVAL;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return ENOMEM;
    default:
      return EIO;
  }
}

int LastErrno() {
  return ErrnoFromWin32(GetLastError());
}

// The names that Windows takes for devices in every folder, with any
// extension ("aux.png" is the device AUX on most versions of Windows), and
// trailing spaces and dots ignored.
bool IsReservedDeviceName(std::wstring_view component) {
  std::wstring base(component.substr(0, component.find(L'.')));
  while (!base.empty() && (base.back() == L' ' || base.back() == L'.')) base.pop_back();
  for (wchar_t& c : base) {
    if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
  }
  static const wchar_t* const kNames[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
  for (const wchar_t* name : kNames) {
    if (base == name) return true;
  }
  // COM1..COM9 and LPT1..LPT9, with the superscript digits ¹ ² ³ as well.
  if (base.size() == 4 && (StartsWith(base, L"COM") || StartsWith(base, L"LPT"))) {
    const wchar_t d = base[3];
    return (d >= L'1' && d <= L'9') || d == L'\u00B9' || d == L'\u00B2' || d == L'\u00B3';
  }
  return false;
}

std::size_t LastComponentStart(std::wstring_view path) {
  std::size_t start = path.size();
  while (start > 0 && !IsSeparator(path[start - 1])) --start;
  return start;
}

// How a name given by the user reaches the system calls.
struct SystemName {
  std::wstring path;    // the absolute "\\?\" form; empty when there is none
  bool device = false;  // a device or a "\\.\" path: not a file on disk
};

// The absolute form of `path`, resolved against the current directory by the
// system's own rules (both separators, "." and ".."), with the "\\?\"
// prefix that lifts MAX_PATH. A name the system takes for a device (NUL,
// "C:\dir\con.txt", "\\.\COM1") is marked as one: with the prefix it would be
// taken for an ordinary file of that name instead.
SystemName ToSystemName(const std::wstring& path) {
  SystemName out;
  if (path.empty() || path.find(L'\0') != std::wstring::npos) return out;
  if (StartsWith(path, L"\\\\?\\")) {
    // Already the system's own form; only its separators are its own.
    out.path = path;
    std::replace(out.path.begin() + 4, out.path.end(), L'/', L'\\');
  } else {
    const DWORD n = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (n == 0) return out;
    std::wstring full(n, L'\0');
    const DWORD m = GetFullPathNameW(path.c_str(), n, full.data(), nullptr);
    if (m == 0 || m >= n) return out;
    full.resize(m);
    if (StartsWith(full, L"\\\\.\\") || StartsWith(full, L"\\\\?\\")) {
      out.device = true;
      out.path = full;
      return out;
    }
    out.path = StartsWith(full, L"\\\\") ? L"\\\\?\\UNC\\" + full.substr(2) : L"\\\\?\\" + full;
  }
  if (StartsWith(out.path, L"\\\\?\\GLOBALROOT\\") || StartsWith(out.path, L"\\\\?\\pipe\\") ||
      IsReservedDeviceName(std::wstring_view(out.path).substr(LastComponentStart(out.path)))) {
    out.device = true;
  }
  return out;
}

// Opens `name` for its attributes and identity only: no access to the data,
// every sharing mode, directories too (FILE_FLAG_BACKUP_SEMANTICS), following
// links and junctions.
HANDLE OpenForQuery(const std::wstring& name) {
  return CreateFileW(name.c_str(), FILE_READ_ATTRIBUTES,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                     FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

HANDLE ToHandle(FileHandle file) {
  return reinterpret_cast<HANDLE>(file);
}

FileHandle FromHandle(HANDLE h) {
  return h == INVALID_HANDLE_VALUE ? kNoFile : reinterpret_cast<FileHandle>(h);
}

// Writes all of `bytes` to `h`; false when the system stops short.
bool WriteAll(HANDLE h, const char* bytes, std::size_t size) {
  while (size > 0) {
    const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(size, kChunk));
    DWORD done = 0;
    if (!::WriteFile(h, bytes, piece, &done, nullptr) || done == 0) return false;
    bytes += done;
    size -= done;
  }
  return true;
}

bool IsConsole(HANDLE h) {
  DWORD mode = 0;
  return h != nullptr && h != INVALID_HANDLE_VALUE && GetConsoleMode(h, &mode) != 0;
}

// `text` in the ANSI code page, "?" for every character it cannot show (a
// lone surrogate included). No best-fit mapping: a character is never shown
// as another one.
std::string ToAnsiCodePage(std::wstring_view text) {
  if (text.empty()) return {};
  const UINT cp = GetACP();
  // UTF-8 and UTF-7 take neither flags nor a default character; UTF-8 shows
  // everything but a lone surrogate, which becomes U+FFFD.
  const bool utf = cp == CP_UTF8 || cp == CP_UTF7;
  const DWORD flags = utf ? 0 : WC_NO_BEST_FIT_CHARS;
  const char* fallback = utf ? nullptr : "?";
  const int n = WideCharToMultiByte(cp, flags, text.data(), static_cast<int>(text.size()), nullptr,
                                    0, fallback, nullptr);
  if (n <= 0) return std::string(text.size(), '?');
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(cp, flags, text.data(), static_cast<int>(text.size()), out.data(), n,
                      fallback, nullptr);
  return out;
}

// Writes text on standard output or standard error: to a console through
// WriteConsoleW, whatever its code page, so that the Japanese messages show
// on every system locale; redirected, in the ANSI code page with CRLF line
// ends, as the C runtime writes text.
void WriteText(DWORD which, std::wstring_view text) {
  HANDLE h = GetStdHandle(which);
  if (h == nullptr || h == INVALID_HANDLE_VALUE) return;
  if (IsConsole(h)) {
    while (!text.empty()) {
      const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(text.size(), 8192));
      DWORD done = 0;
      if (!WriteConsoleW(h, text.data(), piece, &done, nullptr) || done == 0) return;
      text.remove_prefix(done);
    }
    return;
  }
  std::wstring crlf;
  crlf.reserve(text.size() + 8);
  for (wchar_t c : text) {
    if (c == L'\n') crlf.push_back(L'\r');
    crlf.push_back(c);
  }
  const std::string bytes = ToAnsiCodePage(crlf);
  WriteAll(h, bytes.data(), bytes.size());
}

}  // namespace

void SetUserLocale() {
  // The C runtime's locale plays no part in the messages (WriteText encodes
  // them itself), but the runtime is set as the user expects.
  std::setlocale(LC_ALL, "");
}

bool IsOptionIntroducer(wchar_t c) {
  return c == L'-' || c == L'/';
}

bool IsSeparator(wchar_t c) {
  return c == L'\\' || c == L'/';
}

wchar_t PreferredSeparator() {
  return L'\\';
}

std::wstring BytesToWide(const std::string& bytes) {
  if (bytes.empty()) return {};
  const int n =
      MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  if (n <= 0) return {};
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), out.data(), n);
  return out;
}

std::string WideToBytes(const std::wstring& wide) {
  if (wide.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr,
                                    0, nullptr, nullptr);
  if (n <= 0) return {};
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n,
                      nullptr, nullptr);
  return out;
}

std::wstring ExecutableDirectory() {
  // Any length: the buffer grows until the whole path fits.
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) {
      path.resize(n);
      break;
    }
    if (path.size() >= kMaxPath) return {};
    path.resize(std::min(path.size() * 2, kMaxPath));
  }
  const std::size_t start = LastComponentStart(path);
  return start == 0 ? std::wstring() : path.substr(0, start);
}

bool ChangeDirectory(const std::wstring& dir) {
  return SetCurrentDirectoryW(dir.c_str()) != 0;
}

bool PathExists(const std::wstring& path) {
  const SystemName name = ToSystemName(path);
  if (name.path.empty()) return false;
  // A device "exists" for the conversion to refuse it with its own message.
  if (name.device) return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
  return GetFileAttributesW(name.path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool IsDirectory(const std::wstring& path) {
  const SystemName name = ToSystemName(path);
  if (name.path.empty() || name.device) return false;
  const DWORD attributes = GetFileAttributesW(name.path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

void AddTrailingSeparator(std::wstring& path) {
  if (!path.empty() && !IsSeparator(path.back())) path.push_back(PreferredSeparator());
}

std::size_t NameLength(std::wstring_view name) {
  return name.size();
}

std::size_t MaxPathLength() {
  return kMaxPath;
}

std::size_t MaxNameLength() {
  return kMaxName;
}

void Print(const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  const std::wstring text = FormatWide(format, args);
  va_end(args);
  if (CaptureText(text)) return;
  WriteText(STD_OUTPUT_HANDLE, text);
}

void PrintDiagnostics(std::string_view text) {
  if (CaptureDiagnostics(text)) return;
  // The libraries' messages are ASCII; as text they take the same way as the
  // program's own.
  std::wstring wide;
  wide.reserve(text.size());
  for (char c : text) wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
  WriteText(STD_ERROR_HANDLE, wide);
}

bool ConsoleClosesAtExit() {
  // A console that only this process is attached to was made for it: cmd,
  // PowerShell or a terminal would be attached too.
  DWORD processes[2];
  if (GetConsoleProcessList(processes, 2) != 1) return false;
  return IsConsole(GetStdHandle(STD_INPUT_HANDLE)) && IsConsole(GetStdHandle(STD_OUTPUT_HANDLE));
}

void WaitForEnter() {
  HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
  if (in == nullptr || in == INVALID_HANDLE_VALUE) return;
  if (IsConsole(in)) {
    wchar_t c = 0;
    DWORD n = 0;
    while (ReadConsoleW(in, &c, 1, &n, nullptr) && n == 1 && c != L'\r' && c != L'\n') {
    }
    return;
  }
  char c = 0;
  DWORD n = 0;
  while (::ReadFile(in, &c, 1, &n, nullptr) && n == 1 && c != '\n') {
  }
}

FileHandle OpenFile(const std::wstring& path, int flags, int* error) {
  int e = 0;
  const SystemName name = ToSystemName(path);
  if (name.path.empty()) {
    e = ENOENT;
  } else if (name.device) {
    e = EINVAL;
  }
  HANDLE h = INVALID_HANDLE_VALUE;
  if (e == 0) {
    const bool write = (flags & kOpenWrite) != 0;
    DWORD access = write ? GENERIC_WRITE : GENERIC_READ;
    if (write && (flags & kOpenRead)) access |= GENERIC_READ;
    DWORD disposition = OPEN_EXISTING;
    if (flags & kOpenCreate) {
      disposition = (flags & kOpenTruncate) ? CREATE_ALWAYS : OPEN_ALWAYS;
    } else if (flags & kOpenTruncate) {
      disposition = TRUNCATE_EXISTING;
    }
    // Others may read the file meanwhile, never write it.
    h = CreateFileW(name.path.c_str(), access, FILE_SHARE_READ, nullptr, disposition,
                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      const DWORD w = GetLastError();
      const DWORD attributes = GetFileAttributesW(name.path.c_str());
      e = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0
              ? EISDIR
              : ErrnoFromWin32(w);
    } else if (GetFileType(h) != FILE_TYPE_DISK) {
      // A name the system took for a device or a pipe after all.
      CloseHandle(h);
      h = INVALID_HANDLE_VALUE;
      e = EINVAL;
    }
  }
  if (e != 0 && error != nullptr) *error = e;
  return FromHandle(h);
}

std::int64_t ReadFile(FileHandle file, void* buffer, std::size_t count) {
  auto* p = static_cast<char*>(buffer);
  std::size_t done = 0;
  while (done < count) {
    const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(count - done, kChunk));
    DWORD n = 0;
    if (!::ReadFile(ToHandle(file), p + done, piece, &n, nullptr)) return -1;
    if (n == 0) break;
    done += n;
  }
  return static_cast<std::int64_t>(done);
}

bool WriteFile(FileHandle file, const void* buffer, std::size_t count) {
  return WriteAll(ToHandle(file), static_cast<const char*>(buffer), count);
}

std::int64_t SeekFile(FileHandle file, std::int64_t offset, int whence) {
  const DWORD method = whence == 0 ? FILE_BEGIN : whence == 1 ? FILE_CURRENT : FILE_END;
  LARGE_INTEGER distance;
  distance.QuadPart = offset;
  LARGE_INTEGER position;
  if (!SetFilePointerEx(ToHandle(file), distance, &position, method)) return -1;
  return position.QuadPart;
}

bool CloseFile(FileHandle file) {
  return CloseHandle(ToHandle(file)) != 0;
}

namespace {

// What makes a file the file it is: its volume and its ID on the volume.
struct FileIdentity {
  std::uint64_t volume = 0;
  std::uint8_t id[16] = {};
  bool wide = false;  // the 128-bit ID of FileIdInfo, not the 64-bit index
};

bool Identify(const std::wstring& path, FileIdentity* out) {
  const SystemName name = ToSystemName(path);
  if (name.path.empty() || name.device) return false;
  HANDLE h = OpenForQuery(name.path);
  if (h == INVALID_HANDLE_VALUE) return false;
  bool ok = false;
  FILE_ID_INFO info{};
  if (GetFileInformationByHandleEx(h, FileIdInfo, &info, sizeof info)) {
    out->volume = info.VolumeSerialNumber;
    std::memcpy(out->id, &info.FileId, sizeof out->id);
    out->wide = true;
    ok = true;
  } else {
    BY_HANDLE_FILE_INFORMATION byHandle{};
    if (GetFileInformationByHandle(h, &byHandle)) {
      out->volume = byHandle.dwVolumeSerialNumber;
      const std::uint64_t index =
          (static_cast<std::uint64_t>(byHandle.nFileIndexHigh) << 32) | byHandle.nFileIndexLow;
      std::memcpy(out->id, &index, sizeof index);
      out->wide = false;
      ok = true;
    }
  }
  CloseHandle(h);
  return ok;
}

}  // namespace

bool SameFile(const std::wstring& a, const std::wstring& b) {
  FileIdentity ia;
  FileIdentity ib;
  if (!Identify(a, &ia) || !Identify(b, &ib)) return false;
  if (ia.wide != ib.wide) {
    // One volume answered with the long form, the other not: compare what
    // both have, the volume serial's low half and the 64-bit index.
    ia.volume &= 0xFFFFFFFFu;
    ib.volume &= 0xFFFFFFFFu;
    std::memset(ia.id + 8, 0, 8);
    std::memset(ib.id + 8, 0, 8);
  }
  return ia.volume == ib.volume && std::memcmp(ia.id, ib.id, sizeof ia.id) == 0;
}

// Output files.

struct PendingOutput::State {
  std::wstring target;  // the destination, in its system form
  std::wstring temp;    // the new file's name, in its system form
  HANDLE file = INVALID_HANDLE_VALUE;
  int slot = -1;  // where the console control handler finds `temp`
};

PendingOutput::PendingOutput() = default;
PendingOutput::~PendingOutput() = default;
PendingOutput::PendingOutput(PendingOutput&&) noexcept = default;
PendingOutput& PendingOutput::operator=(PendingOutput&&) noexcept = default;

namespace {

// Temporary files that exist right now, for the console control handler,
// which runs on a thread of its own: the lock keeps it from seeing a name
// half made, and a name from being put in place while it removes it.
SRWLOCK g_lock = SRWLOCK_INIT;
std::wstring g_slots[4];
bool g_handlerInstalled = false;
bool g_ending = false;  // the handler ran: no new temporary file is made

// Stopping a batch: while the work is stoppable, Ctrl-C and Ctrl-Break are
// recorded instead of ending the program; FinishOutput then refuses.
std::atomic<bool> g_stoppable{false};
std::atomic<bool> g_stopRequested{false};

BOOL WINAPI RemoveTempFilesOnControl(DWORD event) {
  if (g_stoppable && (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT)) {
    g_stopRequested = true;
    return TRUE;
  }
  // Closing the console, logging off or shutting down ends the process
  // whatever a handler returns: the temporary files go first.
  AcquireSRWLockExclusive(&g_lock);
  g_ending = true;
  // The file is open with FILE_SHARE_DELETE: it goes when its last handle
  // does, at the latest when the process ends.
  for (std::wstring& temp : g_slots) {
    if (!temp.empty()) DeleteFileW(temp.c_str());
    temp.clear();
  }
  ReleaseSRWLockExclusive(&g_lock);
  // The default handler then ends the process.
  return FALSE;
}

class LockHeld {
 public:
  LockHeld() { AcquireSRWLockExclusive(&g_lock); }
  ~LockHeld() { ReleaseSRWLockExclusive(&g_lock); }
  LockHeld(const LockHeld&) = delete;
  LockHeld& operator=(const LockHeld&) = delete;
};

// A name that no file has yet, for a temporary file beside `target`:
// "~name.XXXXXX.tmp" says whose file it is, "~ovkconv.XXXXXX.tmp" stands in
// for a name too long for that.
std::wstring TempNameFor(const std::wstring& target) {
  static std::uint64_t counter = 0;
  LARGE_INTEGER now{};
  QueryPerformanceCounter(&now);
  std::uint64_t x = static_cast<std::uint64_t>(now.QuadPart) ^
                    (static_cast<std::uint64_t>(GetCurrentProcessId()) << 40) ^
                    (++counter * 0x9E3779B97F4A7C15ull);
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  x ^= x >> 31;
  static const wchar_t kChars[] = L"abcdefghijklmnopqrstuvwxyz0123456789";
  std::wstring suffix = L".";
  for (int i = 0; i < 6; ++i, x /= 36) suffix.push_back(kChars[x % 36]);
  suffix += L".tmp";
  const std::size_t start = LastComponentStart(target);
  const std::wstring dir = target.substr(0, start);
  const std::wstring name = target.substr(start);
  if (name.size() + suffix.size() + 1 <= kMaxName) return dir + L"~" + name + suffix;
  return dir + L"~ovkconv" + suffix;
}

// Creates the temporary file and records it for the handler.
int OpenTemp(PendingOutput::State* out) {
  LockHeld held;
  if (g_ending) return EINTR;
  int slot = -1;
  for (int i = 0; i < static_cast<int>(std::size(g_slots)); ++i) {
    if (g_slots[i].empty()) {
      slot = i;
      break;
    }
  }
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::wstring temp = TempNameFor(out->target);
    HANDLE h = CreateFileW(temp.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                           FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      const DWORD e = GetLastError();
      if (e == ERROR_FILE_EXISTS || e == ERROR_ALREADY_EXISTS) continue;
      return ErrnoFromWin32(e);
    }
    out->file = h;
    out->temp = std::move(temp);
    out->slot = slot;
    if (slot >= 0) g_slots[slot] = out->temp;
    if (!g_handlerInstalled) {
      g_handlerInstalled = SetConsoleCtrlHandler(RemoveTempFilesOnControl, TRUE) != 0;
    }
    return 0;
  }
  return EEXIST;
}

// Closes what `out` holds and removes a temporary file that is still there.
void Release(PendingOutput::State* out) {
  if (out->file != INVALID_HANDLE_VALUE) CloseHandle(out->file);
  out->file = INVALID_HANDLE_VALUE;
  if (!out->temp.empty()) {
    LockHeld held;
    DeleteFileW(out->temp.c_str());
    if (out->slot >= 0) g_slots[out->slot].clear();
  }
  out->temp.clear();
  out->slot = -1;
}

// Why an existing `target` cannot be replaced, or 0.
int CheckReplaceable(const std::wstring& target, DWORD attributes) {
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return EISDIR;
  if (attributes & FILE_ATTRIBUTE_READONLY) return EACCES;
  HANDLE h = OpenForQuery(target);
  if (h == INVALID_HANDLE_VALUE) return LastErrno();
  const DWORD type = GetFileType(h);
  CloseHandle(h);
  return type == FILE_TYPE_DISK ? 0 : EINVAL;
}

}  // namespace

int BeginOutput(const std::wstring& path, PendingOutput* pending) {
  AbandonOutput(pending);
  const SystemName name = ToSystemName(path);
  if (name.path.empty()) return ENOENT;
  if (name.device) return EINVAL;
  if (IsSeparator(path.back())) return EISDIR;
  pending->state = std::make_unique<PendingOutput::State>();
  PendingOutput::State* out = pending->state.get();
  out->target = name.path;
  int e = 0;
  const DWORD attributes = GetFileAttributesW(out->target.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    e = CheckReplaceable(out->target, attributes);
  } else if (GetLastError() != ERROR_FILE_NOT_FOUND) {
    e = LastErrno();  // no such folder, no access, a name the system refuses
  }
  if (e == 0) e = OpenTemp(out);
  if (e != 0) {
    Release(out);
    return e;
  }
  pending->file = FromHandle(out->file);
  return 0;
}

int FinishOutput(PendingOutput* pending) {
  PendingOutput::State* out = pending->state.get();
  if (out == nullptr || out->file == INVALID_HANDLE_VALUE) return EBADF;
  pending->file = kNoFile;
  // The data reaches the disk before the name does: after a crash the name
  // holds the old file or the whole new one.
  int e = FlushFileBuffers(out->file) ? 0 : LastErrno();
  if (!CloseHandle(out->file) && e == 0) e = LastErrno();
  out->file = INVALID_HANDLE_VALUE;
  if (e == 0) {
    LockHeld held;
    if (g_ending || g_stopRequested) {
      e = EINTR;
    } else {
      const DWORD attributes = GetFileAttributesW(out->target.c_str());
      bool placed = false;
      if (attributes == INVALID_FILE_ATTRIBUTES) {
        // A new file; if one appeared meanwhile, it is replaced below.
        placed = MoveFileExW(out->temp.c_str(), out->target.c_str(), MOVEFILE_WRITE_THROUGH) != 0;
        if (!placed && GetLastError() != ERROR_ALREADY_EXISTS &&
            GetLastError() != ERROR_FILE_EXISTS) {
          e = LastErrno();
        }
      } else {
        e = CheckReplaceable(out->target, attributes);
      }
      if (e == 0 && !placed) {
        // The replaced file's attributes, security descriptor, creation time
        // and short name go to the new one.
        if (ReplaceFileW(out->target.c_str(), out->temp.c_str(), nullptr,
                         REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)) {
          placed = true;
          // Not every implementation carries the attributes over (wine's
          // does not): the ones a program may set are put back.
          constexpr DWORD kSettable = FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN |
                                      FILE_ATTRIBUTE_NOT_CONTENT_INDEXED | FILE_ATTRIBUTE_SYSTEM;
          const DWORD now = GetFileAttributesW(out->target.c_str());
          if (attributes != INVALID_FILE_ATTRIBUTES && now != INVALID_FILE_ATTRIBUTES &&
              (now & kSettable) != (attributes & kSettable)) {
            SetFileAttributesW(out->target.c_str(), (now & ~kSettable) | (attributes & kSettable));
          }
        } else {
          e = LastErrno();
        }
      }
      if (placed) {
        if (out->slot >= 0) g_slots[out->slot].clear();
        out->temp.clear();
      }
    }
  }
  Release(out);
  pending->state.reset();
  return e;
}

void BeginStoppableWork() {
  g_stopRequested = false;
  g_stoppable = true;
  LockHeld held;
  if (!g_handlerInstalled) {
    g_handlerInstalled = SetConsoleCtrlHandler(RemoveTempFilesOnControl, TRUE) != 0;
  }
}

bool StopRequested() {
  return g_stopRequested;
}

void EndStoppableWork() {
  g_stoppable = false;
  // Ends as the Ctrl-C would have ended it: the console's own exit status.
  constexpr UINT kControlCExit = 0xC000013A;
  if (g_stopRequested.exchange(false)) ExitProcess(kControlCExit);
}

void AbandonOutput(PendingOutput* pending) {
  if (pending->state != nullptr) Release(pending->state.get());
  pending->state.reset();
  pending->file = kNoFile;
}

void ForceNamedTemporaryFiles(bool) {
  // Temporary files always have names here.
}

std::FILE* StreamFromFile(FileHandle file, const char* mode) {
  HANDLE copy = INVALID_HANDLE_VALUE;
  HANDLE self = GetCurrentProcess();
  if (!DuplicateHandle(self, ToHandle(file), self, &copy, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
    return nullptr;
  }
  const bool reads = std::strchr(mode, 'r') != nullptr && std::strchr(mode, '+') == nullptr;
  const int fd =
      _open_osfhandle(reinterpret_cast<std::intptr_t>(copy), _O_BINARY | (reads ? _O_RDONLY : 0));
  if (fd < 0) {
    CloseHandle(copy);
    return nullptr;
  }
  std::FILE* stream = _fdopen(fd, mode);
  if (stream == nullptr) _close(fd);
  return stream;
}

}  // namespace platform
