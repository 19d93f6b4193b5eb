// ovkconv: converts between BMP/PNG images and ovk image files.
#include <string>
#include <vector>

#include "driver/dispatch.h"
#include "platform/platform.h"

namespace {

// Printed before the program waits for Enter in a console window of its own.
constexpr const wchar_t* kPressEnterMessage = L"終了するには Enter キーを押してください\n";

int Run(std::vector<std::wstring> args) {
  // Relative names are looked up next to the executable, wherever the program
  // was started from. When the directory cannot be found or entered, the
  // program stays where it was started.
  std::wstring dir = platform::ExecutableDirectory();
  if (!dir.empty()) platform::ChangeDirectory(dir);
  const int status = RunCommandLine(args, kProgramConverters);
  // A window that closes the moment the program ends would take its messages
  // with it: started from Explorer (or with files dropped on it), the program
  // waits until they have been read.
  if (platform::ConsoleClosesAtExit()) {
    platform::Print(kPressEnterMessage);
    platform::WaitForEnter();
  }
  return status;
}

}  // namespace

#ifdef _WIN32
// The C runtime must not expand wildcards in the arguments: the names reach
// the program exactly as they were given.
extern "C" {
int _dowildcard = 0;
}

// The arguments arrive as the system's UTF-16, never through a code page.
int wmain(int argc, wchar_t** argv) {
  platform::SetUserLocale();
  return Run(std::vector<std::wstring>(argv + (argc > 0 ? 1 : 0), argv + argc));
}
#else
int main(int argc, char** argv) {
  // The locale first: it decides how the arguments are decoded and how the
  // messages are encoded.
  platform::SetUserLocale();
  std::vector<std::wstring> args;
  for (int i = 1; i < argc; ++i) args.push_back(platform::BytesToWide(argv[i]));
  return Run(std::move(args));
}
#endif
