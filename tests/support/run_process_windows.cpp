// The process runner on Windows: CreateProcessW with both output pipes read
// by threads of their own, so that neither can fill while the other is read.
#include <windows.h>

#include <thread>

#include "platform/platform.h"
#include "support/run_process.h"

namespace testing_support {
namespace {

// One argument quoted as the C runtime splits a command line: backslashes
// are literal except before a quote, where they are doubled.
void AppendQuoted(std::wstring& line, const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
    line += arg;
    return;
  }
  line.push_back(L'"');
  std::size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    line.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    line.push_back(c);
  }
  line.append(backslashes * 2, L'\\');
  line.push_back(L'"');
}

// What the child wrote in the ANSI code page with CRLF line ends, in UTF-8
// with "\n".
std::string Decoded(const std::string& raw) {
  std::string lf;
  for (std::size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') continue;
    lf.push_back(raw[i]);
  }
  if (lf.empty()) return lf;
  const int n = MultiByteToWideChar(CP_ACP, 0, lf.data(), static_cast<int>(lf.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, lf.data(), static_cast<int>(lf.size()), wide.data(), n);
  return platform::WideToBytes(wide);
}

void ReadAll(HANDLE pipe, std::string* sink) {
  char buf[4096];
  DWORD n = 0;
  while (ReadFile(pipe, buf, sizeof buf, &n, nullptr) && n > 0) sink->append(buf, n);
  CloseHandle(pipe);
}

}  // namespace

ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                         const ProcessOptions& options) {
  ProcessResult result;
  const std::wstring wprogram = platform::BytesToWide(program);
  std::wstring line;
  AppendQuoted(line, wprogram);
  for (const std::string& arg : args) {
    line.push_back(L' ');
    AppendQuoted(line, platform::BytesToWide(arg));
  }
  std::wstring environment;
  if (options.env) {
    for (const std::string& entry : *options.env) {
      environment += platform::BytesToWide(entry);
      environment.push_back(L'\0');
    }
    environment.push_back(L'\0');
  }

  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE outRead = nullptr, outWrite = nullptr, errRead = nullptr, errWrite = nullptr;
  if (!CreatePipe(&outRead, &outWrite, &inherit, 0)) return result;
  if (!CreatePipe(&errRead, &errWrite, &inherit, 0)) {
    CloseHandle(outRead);
    CloseHandle(outWrite);
    return result;
  }
  SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);
  HANDLE nul = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                           OPEN_EXISTING, 0, nullptr);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nul;
  startup.hStdOutput = outWrite;
  startup.hStdError = errWrite;
  PROCESS_INFORMATION process{};
  const std::wstring cwd = platform::BytesToWide(options.cwd);
  const BOOL started =
      CreateProcessW(wprogram.c_str(), line.data(), nullptr, nullptr, TRUE,
                     CREATE_UNICODE_ENVIRONMENT, options.env ? environment.data() : nullptr,
                     cwd.empty() ? nullptr : cwd.c_str(), &startup, &process);
  CloseHandle(outWrite);
  CloseHandle(errWrite);
  if (nul != INVALID_HANDLE_VALUE) CloseHandle(nul);
  std::thread errReader(ReadAll, errRead, &result.rawErr);
  ReadAll(outRead, &result.rawOut);
  errReader.join();
  result.out = Decoded(result.rawOut);
  result.err = Decoded(result.rawErr);
  if (!started) return result;
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  if (GetExitCodeProcess(process.hProcess, &code)) {
    result.exitCode = code;
    result.status = static_cast<int>(code & 0xFF);
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return result;
}

ProcessResult RunOvkconv(const std::vector<std::string>& args, const ProcessOptions& options) {
  return RunProcess(OVKCONV_PATH, args, options);
}

}  // namespace testing_support
