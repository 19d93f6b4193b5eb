// Windows implementation of what the batch form needs of the system: folder
// listings, file identities, making a folder, the processor count, the
// console check and the progress line.
//
// Not built yet: the declarations it implements come with the batch form.
// The build takes it with windows.cpp once they are in platform.h; the
// capture of output (output_capture.h) and the stoppable work then also need
// their hooks in windows.cpp: Print and PrintDiagnostics consult CaptureText
// and CaptureDiagnostics first, and the console control handler, while the
// work is stoppable, records the stop and returns TRUE instead of removing
// the temporary files and letting the process end, FinishOutput refusing
// (EINTR) to put a file in place from then on.
#include "platform/platform.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

namespace platform {
namespace {

// The absolute "\\?\" form of a folder or file name, as windows.cpp makes it
// for every call: any length, both separators, "." and "..".
std::wstring LongForm(const std::wstring& path) {
  const std::wstring name = path.empty() ? std::wstring(L".") : path;
  if (name.rfind(L"\\\\?\\", 0) == 0) return name;
  const DWORD n = GetFullPathNameW(name.c_str(), 0, nullptr, nullptr);
  if (n == 0) return {};
  std::wstring full(n, L'\0');
  const DWORD m = GetFullPathNameW(name.c_str(), n, full.data(), nullptr);
  if (m == 0 || m >= n) return {};
  full.resize(m);
  if (full.rfind(L"\\\\.\\", 0) == 0) return {};  // a device is no folder
  return full.rfind(L"\\\\", 0) == 0 ? L"\\\\?\\UNC\\" + full.substr(2) : L"\\\\?\\" + full;
}

// The attributes of what `path` leads to, through links and junctions.
bool FollowedAttributes(const std::wstring& path, DWORD* attributes) {
  HANDLE h = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info{};
  const bool ok = GetFileType(h) == FILE_TYPE_DISK && GetFileInformationByHandle(h, &info);
  CloseHandle(h);
  if (ok) *attributes = info.dwFileAttributes;
  return ok;
}

DirectoryEntry::Kind KindOf(DWORD attributes) {
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? DirectoryEntry::Kind::kDirectory
                                                      : DirectoryEntry::Kind::kFile;
}

}  // namespace

bool ListDirectory(const std::wstring& dir, std::vector<DirectoryEntry>* entries) {
  const std::wstring base = LongForm(dir);
  if (base.empty()) return false;
  const std::wstring pattern = base + (base.back() == L'\\' ? L"*" : L"\\*");
  WIN32_FIND_DATAW found;
  HANDLE h = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch,
                              nullptr, FIND_FIRST_EX_LARGE_FETCH);
  if (h == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
  do {
    const std::wstring name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    DirectoryEntry entry;
    entry.name = name;
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
        (found.dwReserved0 == IO_REPARSE_TAG_SYMLINK ||
         found.dwReserved0 == IO_REPARSE_TAG_MOUNT_POINT)) {
      entry.link = true;
      DWORD attributes = 0;
      entry.kind = FollowedAttributes(base + L"\\" + name, &attributes)
                       ? KindOf(attributes)
                       : DirectoryEntry::Kind::kOther;  // leads nowhere
    } else if ((found.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) != 0) {
      entry.kind = DirectoryEntry::Kind::kOther;
    } else {
      entry.kind = KindOf(found.dwFileAttributes);
    }
    entries->push_back(std::move(entry));
  } while (FindNextFileW(h, &found));
  const bool complete = GetLastError() == ERROR_NO_MORE_FILES;
  FindClose(h);
  return complete;
}

bool IsRegularFile(const std::wstring& path) {
  const std::wstring name = LongForm(path);
  DWORD attributes = 0;
  return !name.empty() && FollowedAttributes(name, &attributes) &&
         (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool IdentifyFile(const std::wstring& path, FileId* id) {
  const std::wstring name = LongForm(path);
  if (name.empty()) return false;
  HANDLE h = CreateFileW(name.c_str(), FILE_READ_ATTRIBUTES,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  bool ok = false;
  FILE_ID_INFO wide{};
  BY_HANDLE_FILE_INFORMATION info{};
  if (GetFileInformationByHandleEx(h, FileIdInfo, &wide, sizeof wide)) {
    // The 128-bit ID folded to 64 bits: on NTFS its upper half is zero, and
    // ReFS keeps the lower half unique within a volume in practice.
    std::uint64_t halves[2];
    std::memcpy(halves, &wide.FileId, sizeof halves);
    *id = {wide.VolumeSerialNumber, halves[0] ^ (halves[1] * 0x9E3779B97F4A7C15ull)};
    ok = true;
  } else if (GetFileInformationByHandle(h, &info)) {
    *id = {info.dwVolumeSerialNumber,
           (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
    ok = true;
  }
  CloseHandle(h);
  return ok;
}

bool MakeDirectory(const std::wstring& dir) {
  const std::wstring name = LongForm(dir);
  if (name.empty()) return false;
  if (CreateDirectoryW(name.c_str(), nullptr)) return true;
  return GetLastError() == ERROR_ALREADY_EXISTS && IsDirectory(dir);
}

int ProcessorCount() {
  DWORD_PTR process = 0;
  DWORD_PTR system = 0;
  int n = 0;
  if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system)) {
    for (; process != 0; process &= process - 1) ++n;
  }
  if (n > 0) return n;
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  return info.dwNumberOfProcessors > 0 ? static_cast<int>(info.dwNumberOfProcessors) : 1;
}

bool StandardErrorIsTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

void ShowProgress(const std::wstring& line) {
  // Back to the start of the line, the new text, and blanks over what is
  // left of the old one; written as Unicode to the console.
  HANDLE h = GetStdHandle(STD_ERROR_HANDLE);
  DWORD mode = 0;
  if (!GetConsoleMode(h, &mode)) return;
  static std::size_t shown = 0;
  std::wstring text = L"\r" + line;
  if (line.size() < shown) text.append(shown - line.size(), L' ').append(L"\r").append(line);
  shown = line.size();
  DWORD written = 0;
  WriteConsoleW(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

}  // namespace platform
