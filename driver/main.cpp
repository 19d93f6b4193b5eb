// ovkconv: converts between BMP/PNG images and ovk image files.
#include <string>
#include <vector>

#include "driver/dispatch.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
  // The locale first: it decides how the arguments are decoded and how the
  // messages are encoded.
  platform::SetUserLocale();
  // Relative names are looked up next to the executable, wherever the program
  // was started from. When the directory cannot be found or entered, the
  // program stays where it was started.
  std::wstring dir = platform::ExecutableDirectory();
  if (!dir.empty()) platform::ChangeDirectory(dir);

  std::vector<std::wstring> args;
  for (int i = 1; i < argc; ++i) args.push_back(platform::BytesToWide(argv[i]));
  return RunCommandLine(args, kProgramConverters);
}
