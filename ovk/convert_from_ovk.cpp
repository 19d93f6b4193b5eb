#include "ovk/convert.h"

// Placeholder until the reading side lands: converts nothing.
int ConvertFromOvk(const std::wstring&, const std::wstring&, int) { return -1; }
