// The operating-system layer. Every call into the OS made by ovkconv goes
// through this header; nothing else in the project includes system headers.
// It has two implementations, posix.cpp and windows.cpp, and the build
// compiles the one for its target.
//
// Names are wide strings. On Linux (wchar_t is UTF-32) command-line bytes are
// decoded in the current locale; a byte that the locale cannot decode is kept
// as the code point U+DC00 + byte, so that converting the name back to bytes
// gives the very same path ("surrogate escape"). On Windows (wchar_t is
// UTF-16) names are the system's own UTF-16 from the command line to every
// system call and never pass through a code page. Every name round-trips.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// True for a character that starts an option: "-", and on Windows "/" too.
bool IsOptionIntroducer(wchar_t c);

// True for a character that separates path components: "/", and on Windows
// "\" too.
bool IsSeparator(wchar_t c);
// The separator that the program itself adds to a path: "/", or "\" on
// Windows.
wchar_t PreferredSeparator();

// Sets the locale of every category to the user's default. When that locale
// cannot encode the program's messages (C or POSIX, no LANG at all), LC_CTYPE
// falls back to C.UTF-8 so that the Japanese text still reaches the console.
void SetUserLocale();

// Wide string <-> bytes: on Linux the path bytes of the locale,
// surrogate-escaping undecodable bytes; on Windows UTF-8 (a lone surrogate,
// which no UTF-8 can hold, comes back as U+FFFD).
std::wstring BytesToWide(const std::string& bytes);
std::string WideToBytes(const std::wstring& wide);

// The directory that holds the running executable, with its trailing
// separator, or an empty string when it cannot be found.
std::wstring ExecutableDirectory();

// Makes `dir` the current directory; returns false on failure.
bool ChangeDirectory(const std::wstring& dir);

// True when `path` names an existing file or directory.
bool PathExists(const std::wstring& path);

// True when `path` names an existing directory.
bool IsDirectory(const std::wstring& path);

// Appends the separator unless the path is empty or already ends in one.
void AddTrailingSeparator(std::wstring& path);

// The length of `name` in the units in which the system counts its limits:
// bytes of the locale's encoding on Linux, UTF-16 code units on Windows.
std::size_t NameLength(std::wstring_view name);
// The longest path, in those units including the terminator, that the OS
// accepts.
std::size_t MaxPathLength();
// The longest single path component (file or directory name), in those units.
std::size_t MaxNameLength();

// Formatted wide output on standard output. The format follows the program's
// message convention: "%s" takes a wide string (const wchar_t*) and "%d" an
// int. Undecodable name bytes are printed as the raw bytes they came from.
// Output never stops silently: characters the locale cannot encode are
// written as '?'.
void Print(const wchar_t* format, ...);

// Writes `text` on standard error: the diagnostics of the libraries the
// program uses, bytes as they are (on Windows, with CRLF line ends when
// standard error is not a console).
void PrintDiagnostics(std::string_view text);

// On Windows, true when the program has a console window of its own (it was
// started from Explorer, or had files dropped on it) and neither standard
// input nor standard output is redirected: the window closes the moment the
// program ends. Always false elsewhere.
bool ConsoleClosesAtExit();
// Waits until a line (Enter) or the end of input arrives on standard input.
void WaitForEnter();

// An open file: a descriptor on Linux, a handle on Windows.
using FileHandle = std::intptr_t;
inline constexpr FileHandle kNoFile = -1;

// Low-level file access.
enum OpenFlags : int {
  kOpenRead = 1,
  kOpenWrite = 2,
  kOpenCreate = 4,
  kOpenTruncate = 8,
};
// Opens `path` in binary; returns the file, or kNoFile with *error set to a
// non-zero errno value. A directory is refused (EISDIR).
// Linux: files it creates get mode 0666 less the umask, and opening a FIFO
// never blocks.
// Windows: others may read the file while it is open but not write it; a
// name that is not a file on disk (a device such as NUL, CON or aux.png, a
// "\\.\" path, a pipe) is refused (EINVAL) before anything is created.
FileHandle OpenFile(const std::wstring& path, int flags, int* error);
// Reads up to `count` bytes, retrying on interruption and partial reads until
// `count` bytes or end of file; returns the bytes read or -1.
std::int64_t ReadFile(FileHandle file, void* buffer, std::size_t count);
// Writes all `count` bytes, retrying partial writes; returns false on failure.
bool WriteFile(FileHandle file, const void* buffer, std::size_t count);
// Seeks: whence 0 start, 1 current, 2 end. Returns the new offset or -1.
std::int64_t SeekFile(FileHandle file, std::int64_t offset, int whence);
// Closes; returns false when the OS reports an error (a lost write, say).
bool CloseFile(FileHandle file);

// True when both names lead to one existing file. Linux: through any
// symbolic links, the same device and inode. Windows: the same volume serial
// number and file ID, so another case of the name, a short 8.3 name and a
// path through a junction are the same file. Hard links to one file are the
// same on both.
bool SameFile(const std::wstring& a, const std::wstring& b);

// Output files that appear whole or not at all.
//
// BeginOutput refuses a destination that is not a regular file the process
// may write, and then opens a new, empty file in the destination's directory.
// FinishOutput puts it in place in one step, after its data has reached the
// disk; AbandonOutput removes it, leaving the destination as it was. Both
// release everything; the result of BeginOutput and FinishOutput is 0 or an
// errno value.
//
// Linux: BeginOutput follows `path` through symbolic links (the links stay;
// the file they end at is what gets replaced) and refuses a directory, a
// FIFO, a device, a socket, a link that leads nowhere. Where the file system
// allows it the new file has no name until FinishOutput gives it one, so
// nothing is left behind however the process ends (but for the instant in
// which a name it was just given is moved over an existing file). Elsewhere
// it has a temporary name, which handlers for SIGINT, SIGTERM and SIGHUP
// remove before letting the signal take its course (a signal that is ignored
// stays ignored). All names are used relative to the destination's
// directory: any path the system accepts works, and a temporary name is a
// single short component that never lengthens it. FinishOutput gives the new
// file the permission bits of the file it replaces less set-user-ID and
// set-group-ID (and, when running as root, its owner and group), or 0666 less
// the umask when there is none.
//
// Windows: a directory, a read-only file, a device name and anything else
// that is not a file on disk are refused. The new file has a temporary name
// beside the destination, which a console control handler removes on Ctrl-C,
// Ctrl-Break, closing the console window, logging off and shutting down.
// FinishOutput flushes it (FlushFileBuffers); an existing file is replaced
// with ReplaceFileW, which keeps its attributes and security descriptor, and
// a new one is moved into place with write-through.
struct PendingOutput {
  PendingOutput();
  ~PendingOutput();
  PendingOutput(PendingOutput&&) noexcept;
  PendingOutput& operator=(PendingOutput&&) noexcept;

  FileHandle file = kNoFile;  // the new file, open for reading and writing
  struct State;               // what the implementation needs to finish it
  std::unique_ptr<State> state;
};
int BeginOutput(const std::wstring& path, PendingOutput* out);
int FinishOutput(PendingOutput* out);
void AbandonOutput(PendingOutput* out);
// For tests: true makes BeginOutput use named temporary files even where
// unnamed ones work, so that both kinds can be exercised on one machine
// (Windows has named ones only).
void ForceNamedTemporaryFiles(bool on);

// A binary standard-I/O stream over a duplicate of `file` (for libpng).
// Closing the stream closes the duplicate only; `file` stays open and shares
// the position.
std::FILE* StreamFromFile(FileHandle file, const char* mode);

// ---------------------------------------------------------------------------
// Many files in one run: what the batch form needs of the system.
//
// Every implementation of the platform layer provides these too. None of them
// is needed by a run that converts a single file.
// ---------------------------------------------------------------------------

// One entry of a directory listing, its kind taken after symbolic links.
struct DirectoryEntry {
  enum class Kind { kFile, kDirectory, kOther };
  std::wstring name;  // one component; never "." or ".."
  Kind kind = Kind::kOther;
  bool link = false;  // the entry itself is a symbolic link (or junction)
};
// The entries of directory `dir` ("" is the current directory), in no
// particular order. False when it cannot be read.
bool ListDirectory(const std::wstring& dir, std::vector<DirectoryEntry>* entries);

// True when `path` names, through any symbolic links, a regular file.
bool IsRegularFile(const std::wstring& path);

// Who a file is: equal for two names of one existing file (hard links and
// symbolic links included), different for different files.
struct FileId {
  std::uint64_t volume = 0;
  std::uint64_t index = 0;
  friend bool operator==(const FileId&, const FileId&) = default;
  friend auto operator<=>(const FileId&, const FileId&) = default;
};
// The identity of the file or directory `path` leads to; false when there is
// none.
bool IdentifyFile(const std::wstring& path, FileId* id);

// Creates directory `dir` (its parent must exist); true when it exists
// afterwards, made now or before.
bool MakeDirectory(const std::wstring& dir);

// The processors this process may run on (at least 1).
int ProcessorCount();

// True when standard error is a terminal (a console).
bool StandardErrorIsTerminal();
// Rewrites the line of progress on standard error in place: `line` replaces
// what the last call showed; an empty line clears it.
void ShowProgress(const std::wstring& line);

// Output of a thread kept back: while a thread has a capture set, Print
// appends its text to capture->text and PrintDiagnostics its bytes to
// capture->diagnostics, instead of writing them. Null ends the capture.
// WriteCaptured writes a capture out (the diagnostics on standard error
// first, then the text on standard output) as Print and PrintDiagnostics
// would have.
struct CapturedOutput {
  std::wstring text;
  std::string diagnostics;
};
void CaptureOutput(CapturedOutput* capture);
void WriteCaptured(const CapturedOutput& capture);

// Stopping a batch. Between BeginStoppableWork and EndStoppableWork an
// interrupt (SIGINT, SIGTERM or SIGHUP; a signal that was ignored stays
// ignored) no longer ends the program: StopRequested turns true, and from
// then on FinishOutput refuses (EINTR) to put a new file in place, so an
// output in progress is abandoned and leaves nothing behind. Called on the
// thread that starts the workers, before it starts them.
void BeginStoppableWork();
bool StopRequested();
// Puts back what the interrupts did before. When one came meanwhile, ends
// the program by it as it would have ended then (and returns only when it
// does not, as for a signal whose handler returns).
void EndStoppableWork();

}  // namespace platform
