// The one vocabulary in which the library reports failure: what went wrong,
// and the number its message needs. The application layer turns each one
// into its message and exit status (driver/messages.h).
#pragma once

#include <cstdint>

enum class Fault : std::uint8_t {
  kNone,
  kNoMemory,         // value: the bytes that could not be allocated
  kNoWorkingMemory,  // a decoder's working buffer could not be allocated
  kNotOvk,           // no ovk file of a version this program reads
  kDamaged,          // an ovk file whose header or sections break the container's limits
};

struct [[nodiscard]] Error {
  Fault fault = Fault::kNone;
  std::int64_t value = 0;

  bool ok() const { return fault == Fault::kNone; }
  friend bool operator==(const Error& e, Fault f) { return e.fault == f; }
};

inline constexpr Error kNoError{};
