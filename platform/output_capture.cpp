// The capture of a thread's output, the same on every system.
#include "platform/output_capture.h"

#include "platform/platform.h"

namespace platform {
namespace {

thread_local CapturedOutput* t_capture = nullptr;

}  // namespace

bool CaptureText(std::wstring_view text) {
  if (t_capture == nullptr) return false;
  t_capture->text.append(text);
  return true;
}

bool CaptureDiagnostics(std::string_view bytes) {
  if (t_capture == nullptr) return false;
  t_capture->diagnostics.append(bytes);
  return true;
}

void CaptureOutput(CapturedOutput* capture) {
  t_capture = capture;
}

void WriteCaptured(const CapturedOutput& capture) {
  CapturedOutput* const kept = t_capture;
  t_capture = nullptr;
  if (!capture.diagnostics.empty()) PrintDiagnostics(capture.diagnostics);
  // A text holds no terminator: Print writes it whole.
  if (!capture.text.empty()) Print(L"%s", capture.text.c_str());
  t_capture = kept;
}

}  // namespace platform
