// The one vocabulary in which the library reports failure: what went wrong,
// and the numbers its message needs. The application layer turns each one
// into its message and exit status (ReportError, driver/messages.h).
// Codecs below the conversions report byte counts as their results and have
// no faults of their own: their callers say what a short count means.
#pragma once

#include <cstdint>

enum class Fault : std::uint8_t {
  kNone,
  kOpenFailed,        // the input file could not be opened or read
  kNoMemory,          // value: the bytes that could not be allocated
  kNoWorkingMemory,   // a decoder's working buffer could not be allocated
  kNotOvk,            // no ovk file of a version this program reads
  kDamaged,           // an ovk file whose header or sections break the container's limits
  kNotImage,          // neither a BMP nor a PNG file
  kPngUnreadable,     // a PNG file that libpng could not read
  kUnsupportedImage,  // not a picture the writer takes; value: bit count, and width, height
  kTileOverflow,      // version 1006: a tile cannot be coded even at the smallest tile size
  kWriteFailed,       // the output refused the bytes
  kInternal,          // a size bound that always holds did not; nothing more was written
};

struct [[nodiscard]] Error {
  Fault fault = Fault::kNone;
  std::int64_t value = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;

  bool ok() const { return fault == Fault::kNone; }
  friend bool operator==(const Error& e, Fault f) { return e.fault == f; }
};

inline constexpr Error kNoError{};
