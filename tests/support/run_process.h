// Runs a program as a child process and captures what it prints, for tests
// that drive the real executable.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace testing_support {

struct ProcessResult {
  std::string out;  // standard output, raw bytes
  std::string err;  // standard error, raw bytes
  // The exit status (0..255), or -1 when the child did not exit normally
  // (killed by a signal, or it could not be started).
  int status = -1;
  int signal = 0;  // the signal that ended the child; 0 when none did
  // Windows: the whole 32-bit exit code (status holds its low byte), and the
  // bytes as the child wrote them. `out` and `err` hold those decoded from
  // the ANSI code page into UTF-8 with CRLF as "\n", as the same messages
  // are written on Linux.
  std::uint32_t exitCode = 0;
  std::string rawOut;
  std::string rawErr;
};

struct ProcessOptions {
  // The whole environment of the child ("NAME=value" entries). Unset: the
  // test's own environment. An empty list is a run under `env -i`.
  std::optional<std::vector<std::string>> env;
  // The directory the child starts in; empty: the test's own.
  std::string cwd;
  // When not 0, this signal is sent to the child once `signalAfter` has
  // passed since it was started, unless it has finished by then.
  int signal = 0;
  std::chrono::microseconds signalAfter{0};
  // A limit on the child's address space in KiB (setrlimit RLIMIT_AS); 0 for
  // none. Not applied when kAddressSpaceLimitsApply is false.
  std::uint64_t addressSpaceKib = 0;
};

// False in builds under the address sanitizer, whose shadow memory needs far
// more address space than any limit a test would set.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kAddressSpaceLimitsApply = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kAddressSpaceLimitsApply = false;
#else
inline constexpr bool kAddressSpaceLimitsApply = true;
#endif
#else
inline constexpr bool kAddressSpaceLimitsApply = true;
#endif

// Runs `program` with `args` (not counting argv[0], which is `program`).
// Standard input is /dev/null (NUL on Windows, where the names and arguments
// are UTF-8 and `signal` and `addressSpaceKib` do not apply).
ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                         const ProcessOptions& options = {});

// Runs the program under test (the ovkconv executable of this build).
ProcessResult RunOvkconv(const std::vector<std::string>& args, const ProcessOptions& options = {});

}  // namespace testing_support
