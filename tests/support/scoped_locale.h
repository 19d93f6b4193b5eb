// Sets the character-type locale for the life of a test scope; the test
// process otherwise runs in the C locale, where no byte above 0x7F decodes.
#pragma once

#include <gtest/gtest.h>

#include <clocale>
#include <string>

namespace testing_support {

class ScopedCtype {
 public:
  explicit ScopedCtype(const char* name) : saved_(std::setlocale(LC_CTYPE, nullptr)) {
    EXPECT_NE(std::setlocale(LC_CTYPE, name), nullptr) << name;
  }
  ~ScopedCtype() { std::setlocale(LC_CTYPE, saved_.c_str()); }
  ScopedCtype(const ScopedCtype&) = delete;
  ScopedCtype& operator=(const ScopedCtype&) = delete;

 private:
  std::string saved_;
};

}  // namespace testing_support
