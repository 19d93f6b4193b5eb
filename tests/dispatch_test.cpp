// Dispatch: which conversion a command line reaches, and with what. The
// paths that convert nothing (usage, a missing input) are the Cli tests'.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/dispatch.h"
#include "support/scoped_locale.h"
#include "support/test_files.h"

namespace {

using testing_support::ScratchDir;
using testing_support::WriteBytes;

// What the recording conversions saw. Plain function pointers cannot
// capture, so the record is global and reset by each test.
struct Call {
  int calls = 0;
  Route route = Route::kToOvk;
  std::wstring imageFile;
  std::wstring destPath;
  int output = -1;
  std::int32_t version = -1;
  bool ignoreAlpha = false;
  std::int32_t blockSize = -1;
  PaletteMapping mapping;
  int result = 0;
};
Call g_call;

int RecordFromOvk(const std::wstring& imageFile, const std::wstring& destPath, OutputForm output,
                  OutputClaim) {
  ++g_call.calls;
  g_call.route = Route::kFromOvk;
  g_call.imageFile = imageFile;
  g_call.destPath = destPath;
  g_call.output = static_cast<int>(output);
  return g_call.result;
}

int RecordToOvk(const std::wstring& imageFile, const std::wstring& destPath, std::int32_t version,
                bool ignoreAlpha, std::int32_t blockSize, const PaletteMapping& mapping,
                OutputClaim) {
  ++g_call.calls;
  g_call.route = Route::kToOvk;
  g_call.imageFile = imageFile;
  g_call.destPath = destPath;
  g_call.version = version;
  g_call.ignoreAlpha = ignoreAlpha;
  g_call.blockSize = blockSize;
  g_call.mapping = mapping;
  return g_call.result;
}

const Converters kRecorders = {RecordFromOvk, RecordToOvk};

std::wstring Wide(const std::string& ascii) {
  return std::wstring(ascii.begin(), ascii.end());
}

class DispatchTest : public testing::Test {
 protected:
  void SetUp() override { g_call = Call{}; }

  // Runs the command line with the recorders; returns the status and keeps
  // what was printed.
  int Run(std::vector<std::wstring> args) {
    testing::internal::CaptureStdout();
    int status = RunCommandLine(args, kRecorders);
    printed_ = testing::internal::GetCapturedStdout();
    return status;
  }

  std::wstring Touch(const std::string& name) {
    WriteBytes(dir_.File(name), {0});
    return Wide(dir_.File(name));
  }

  testing_support::ScopedCtype utf8_{"C.UTF-8"};  // as the program sets it up
  ScratchDir dir_;
  std::string printed_;
};

TEST(ChooseRoute, OnlyAFinalOvkExtensionInAnyCaseReadsOvk) {
  for (const wchar_t* name : {L"t.ovk", L"T.OVK", L"x.OvK", L"dir.bmp/a.ovk", L".ovk"}) {
    EXPECT_EQ(ChooseRoute(name), Route::kFromOvk) << name;
  }
  for (const wchar_t* name : {L"t.ovk.bmp", L"noextension", L"a.ovkx", L"a.ov", L"aovk", L"a.ovk/",
                              L"a.o\u212Ak", L"a.png", L""}) {
    EXPECT_EQ(ChooseRoute(name), Route::kToOvk) << name;
  }
  // The last "." anywhere in the path counts, even in a directory name.
  EXPECT_EQ(ChooseRoute(L"maps.ovk/picture"), Route::kToOvk);
  EXPECT_EQ(ChooseRoute(L"x/.ovk"), Route::kFromOvk);
}

TEST_F(DispatchTest, OvkInputGoesToConvertFromOvkWithItsOptions) {
  std::wstring input = Touch("tex.OVK");
  g_call.result = -1;
  EXPECT_EQ(Run({L"-v2", L"-na", L"-p256", input, L"out"}), -1);
  EXPECT_EQ(g_call.calls, 1);
  EXPECT_EQ(g_call.route, Route::kFromOvk);
  EXPECT_EQ(g_call.imageFile, input);
  EXPECT_EQ(g_call.destPath, L"out");
  EXPECT_EQ(g_call.output, static_cast<int>(OutputForm::kPngPalette));
  EXPECT_EQ(printed_, "");
}

TEST_F(DispatchTest, OtherInputGoesToConvertToOvkWithItsOptions) {
  std::wstring input = Touch("pic.ovk.bmp");
  EXPECT_EQ(Run({L"-V4", L"-NA", L"-b20000", L"-p", L"-mref.bmp", input}), 0);
  EXPECT_EQ(g_call.calls, 1);
  EXPECT_EQ(g_call.route, Route::kToOvk);
  EXPECT_EQ(g_call.imageFile, input);
  EXPECT_EQ(g_call.destPath, L"");
  EXPECT_EQ(g_call.version, 1004);
  EXPECT_TRUE(g_call.ignoreAlpha);
  EXPECT_EQ(g_call.blockSize, 20000);
  EXPECT_TRUE(g_call.mapping.active);
  EXPECT_EQ(g_call.mapping.reference, L"ref.bmp");

  // The defaults, and names after the image file, are ParseOptions'.
}

TEST_F(DispatchTest, DirectoryPassesTheExistenceCheck) {
  EXPECT_EQ(Run({Wide(dir_.path())}), 0);
  EXPECT_EQ(g_call.calls, 1);
}

}  // namespace
