// Inside the platform layer: the capture of CaptureOutput (platform.h), which
// every implementation of Print and PrintDiagnostics consults first.
#pragma once

#include <string_view>

namespace platform {

// Appends to this thread's capture and returns true, or returns false when
// the thread captures nothing and the caller writes as usual.
bool CaptureText(std::wstring_view text);
bool CaptureDiagnostics(std::string_view bytes);

}  // namespace platform
