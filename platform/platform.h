// The operating-system layer. Every call into the OS made by ovkconv goes
// through this header; nothing else in the project includes POSIX headers.
//
// Names are wide strings (wchar_t, UTF-32 on Linux). Command-line bytes are
// decoded in the current locale; a byte that the locale cannot decode is kept as
// the code point U+DC00 + byte, so that converting the name back to bytes gives
// the very same path ("surrogate escape"). Every name therefore round-trips.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace platform {

// The path separator recognised in file names.
inline constexpr wchar_t kSeparator = L'/';

// Sets the locale of every category to the user's default. When that locale
// cannot encode the program's messages (C or POSIX, no LANG at all), LC_CTYPE
// falls back to C.UTF-8 so that the Japanese text still reaches the console.
void SetUserLocale();

// Wide string <-> path bytes, surrogate-escaping undecodable bytes.
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

// The longest path, in bytes including the terminator, that the OS accepts.
std::size_t MaxPathBytes();
// The longest single path component (file or directory name), in bytes.
std::size_t MaxNameBytes();

// Formatted wide output on standard output. The format follows the program's
// message convention: "%s" takes a wide string (const wchar_t*) and "%d" an
// int. Undecodable name bytes are printed as the raw bytes they came from.
// Output never stops silently: characters the locale cannot encode are
// written as '?'.
void Print(const wchar_t* format, ...);

// Low-level file access. Descriptors are plain ints; -1 means none.
enum OpenFlags : int {
  kOpenRead = 1,
  kOpenWrite = 2,
  kOpenCreate = 4,
  kOpenTruncate = 8,
};
// Opens `path`; returns the descriptor, or -1 with *error set to errno.
// Files it creates get mode 0666 less the umask. A directory is refused
// (EISDIR), and opening a FIFO never blocks.
int OpenFile(const std::wstring& path, int flags, int* error);
// Reads up to `count` bytes, retrying on interruption and partial reads until
// `count` bytes or end of file; returns the bytes read or -1.
std::int64_t ReadFile(int fd, void* buffer, std::size_t count);
// Writes all `count` bytes, retrying partial writes; returns false on failure.
bool WriteFile(int fd, const void* buffer, std::size_t count);
// Seeks: whence 0 start, 1 current, 2 end. Returns the new offset or -1.
std::int64_t SeekFile(int fd, std::int64_t offset, int whence);
// Closes; returns false when the OS reports an error (a lost write, say).
bool CloseFile(int fd);

// Output files that appear whole or not at all. CreateTempFile makes a new,
// empty file in the directory of `finalPath` and returns its descriptor and
// name. SetOutputMode gives it the mode the final file should have: that of
// the file it replaces, or 0666 less the umask for a new one. RenameFile then
// moves it over `finalPath` in one step.
int CreateTempFile(const std::wstring& finalPath, std::wstring* tempPath, int* error);
bool SetOutputMode(int fd, const std::wstring& finalPath);
bool RenameFile(const std::wstring& from, const std::wstring& to);
// When `path` is a symbolic link to an existing file, the path of that file;
// otherwise `path` itself. Replacing the resolved name updates the file the
// link points to, as writing through the link would, and keeps the link.
std::wstring ResolveLink(const std::wstring& path);
bool RemoveFile(const std::wstring& path);
// True when `path` exists but a create-and-truncate open of it would fail:
// it is a directory, or the process may not write it.
bool ExistsButNotWritable(const std::wstring& path);

// A standard-I/O stream over an open descriptor (for libpng). The stream owns
// the descriptor once this succeeds; StreamDescriptor gives it back.
std::FILE* StreamFromDescriptor(int fd, const char* mode);
int StreamDescriptor(std::FILE* stream);
// Opens a file by name as a standard-I/O stream.
std::FILE* OpenStream(const std::wstring& path, const char* mode);

}  // namespace platform
