// The parsed command line.
//
//   ovkconv [-na] [-v<n>] [-p[256]] [-b<n>] [-m[<file>]] <image_file> [dest_path]
//   ovkconv -i <file>...
//
// Arguments are read from the first on. One that starts with "-" is an option;
// the first that does not is the image file, and the one after it (whatever it
// looks like) the destination: the single form. Whether the operands (the
// image file and every argument after it) form it or a batch is for
// driver/batch.h to say. "/" starts an absolute path, never an option.
//
// The letter after "-" picks the option, in either case; the rest of the
// argument is its value. Options may repeat; the last one wins.
//   b  block size for packed sections: a decimal number; outside
//      16384..65535 it becomes 65535. An empty value changes nothing.
//   n  "a" or "A" next (anything after it ignored) sets ignoreAlpha; any other
//      value is ignored.
//   p  a PNG in colour; exactly "256" gives an 8-bit palette PNG.
//   v  ovk version: a decimal number; 0..9 means 1000 + n (-v2 is 1002), any
//      other number is taken as it is (-v1004, -v60). Not validated here.
//      An empty value changes nothing.
//   i  print facts about every file named after the options instead of
//      converting; a value is ignored.
//   j  a batch converts up to this many files at once: a decimal number;
//      below 1 (or none) the processors the system reports.
//   m  bring a colour picture to a palette before writing ovk: the value
//      names the file whose palette to use (resolved like the image file);
//      with no value the picture gets a palette of its own.
// Any other letter, or none at all, asks for the usage text.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "pack/pack.h"

// What an ovk file becomes: a BMP file (no -p), a PNG of the colours (-p), or
// a palette PNG that keeps the palette's alpha (-p256).
enum class OutputForm { kBmp, kPngColour, kPngPalette };

// What -m asks of a conversion to ovk.
struct PaletteMapping {
  bool active = false;
  // The file whose palette the picture takes; empty: a palette of its own.
  // Given as a folder (an existing directory, or a name ending in a
  // separator), it is resolved for each input (ReferenceFor, driver/batch.h).
  std::wstring reference;
  // No -v on the command line: an ovk reference of a version the program
  // writes gives the output its version and storage.
  bool takeVersion = false;
};

struct Options {
  std::int32_t version = 1006;
  bool versionGiven = false;  // a -v option was on the command line
  bool ignoreAlpha = false;
  OutputForm output = OutputForm::kBmp;
  std::int32_t blockSize = kDefaultBlockSize;  // always IsBlockSize
  std::wstring destPath;
  // Absent when every argument was an option.
  std::optional<std::wstring> imageFile;
  bool inspect = false;
  PaletteMapping mapping;
  // Every argument after the options, in order: the files of -i, or of a
  // batch (driver/batch.h).
  std::vector<std::wstring> operands;
  // -j: how many files a batch converts at once; 0 for the processors the
  // system reports.
  int jobs = 0;
};

enum class ParseStatus { kOk, kShowUsage };

// Parses the arguments that follow the program name into `options`, which
// should hold the defaults on entry.
ParseStatus ParseOptions(std::span<const std::wstring> args, Options* options);

// Reads a decimal integer the way the C library's string-to-long does:
// leading white space (space, \t, \n, \v, \f, \r) and one sign are allowed,
// reading stops at the first non-digit, no digits at all give 0, and a value
// beyond 32 bits is clamped to the nearest 32-bit limit.
std::int32_t ParseDecimal(const std::wstring& text);
