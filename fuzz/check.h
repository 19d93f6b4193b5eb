// The fuzz targets' assertion: a property that does not hold stops the run
// as a crash, which libFuzzer reports with the input that caused it.
#pragma once

inline void Check(bool ok) {
  if (!ok) __builtin_trap();
}
