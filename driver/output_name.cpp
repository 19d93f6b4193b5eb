#include "driver/output_name.h"

// Placeholder: the command-line work replaces this.
bool DeriveOutputName(const std::wstring&, const std::wstring&, const std::wstring&,
                      std::wstring*) {
  return false;
}
