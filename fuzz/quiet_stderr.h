// libpng prints a line on standard error for nearly every damaged PNG. Fuzz
// targets that reach libpng call this from LLVMFuzzerInitialize: unless the
// command line says otherwise, it asks libFuzzer to close standard error
// during the runs (libFuzzer keeps its own reports, and the sanitizers', on a
// copy).
#pragma once

#include <cstring>
#include <vector>

inline int CloseStderrUnlessAsked(int* argc, char*** argv) {
  for (int i = 1; i < *argc; ++i) {
    if (std::strncmp((*argv)[i], "-close_fd_mask=", 15) == 0) return 0;
  }
  static std::vector<char*> args;
  static char closeStderr[] = "-close_fd_mask=2";
  args.assign(*argv, *argv + *argc);
  args.insert(args.begin() + 1, closeStderr);
  args.push_back(nullptr);
  *argc += 1;
  *argv = args.data();
  return 0;
}
