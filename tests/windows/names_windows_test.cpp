// Output names and option parsing with the Windows rules: "\\" and "/" both
// separate, the separator the rule adds is "\\", "/" starts an option, and
// the limits are counted in UTF-16 units.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/options.h"
#include "driver/output_name.h"

namespace {

TEST(WindowsNames, DeriveOutputNameWithBothSeparators) {
  struct Case {
    const wchar_t* image;
    const wchar_t* dest;
    const wchar_t* extension;
    const wchar_t* expected;
  };
  const Case cases[] = {
      {L"pic.bmp", L"", L".ovk", L"pic.ovk"},
      {L"C:\\in\\pic.bmp", L"", L".ovk", L"C:\\in\\pic.ovk"},
      {L"pic.bmp", L"out", L".ovk", L"out\\pic.ovk"},
      {L"pic.bmp", L"out\\", L".ovk", L"out\\pic.ovk"},
      {L"pic.bmp", L"out/", L".ovk", L"out/pic.ovk"},
      {L"C:/in/pic.bmp", L"D:\\out", L".ovk", L"D:\\out\\pic.ovk"},
      {L"C:\\in/pic.bmp", L"out", L".png", L"out\\pic.png"},
      // A "." in a folder name is no extension, whichever separator ends it.
      {L"v1.2\\pic", L"", L".ovk", L"v1.2\\pic.ovk"},
      {L"v1.2/pic", L"", L".ovk", L"v1.2/pic.ovk"},
      {L"tex.ovk", L"my.dir\\x", L".png", L"my.dir\\x\\tex.png"},
      {L"tex.ovk", L"my.dir/x", L".png", L"my.dir/x\\tex.png"},
      {L"pic.bmp", L"dir\\x.dat", L".ovk", L"dir\\x.dat"},
      {L"pic.bmp", L"dir/x.dat", L".ovk", L"dir/x.dat"},
  };
  for (const Case& c : cases) {
    std::wstring out;
    EXPECT_TRUE(DeriveOutputName(c.image, c.dest, c.extension, &out)) << c.image << " " << c.dest;
    EXPECT_EQ(out, c.expected) << c.image << " " << c.dest;
  }
}

TEST(WindowsNames, LimitsCountUtf16Units) {
  // 255 units in one component fit, 256 do not; a kanji is one unit.
  EXPECT_TRUE(NameFits(L"C:\\d\\" + std::wstring(255, L'\u753B')));
  EXPECT_FALSE(NameFits(L"C:\\d\\" + std::wstring(256, L'\u753B')));
  EXPECT_FALSE(NameFits(L"C:/d/" + std::wstring(256, L'n')));
  // Far past MAX_PATH is fine, up to the system's 32767.
  std::wstring deep = L"C:";
  while (deep.size() < 32000) deep += L"\\" + std::wstring(200, L'd');
  EXPECT_TRUE(NameFits(deep));
  EXPECT_FALSE(NameFits(deep + std::wstring(767, L'\\')));
}

TEST(WindowsNames, SlashStartsAnOptionAsDashDoes) {
  Options o;
  ASSERT_EQ(ParseOptions(std::vector<std::wstring>{L"/p256", L"/NA", L"/v2", L"/b20000",
                                                   L"C:\\pic.bmp", L"/out"},
                         &o),
            ParseStatus::kOk);
  EXPECT_EQ(o.output, OutputForm::kPngPalette);
  EXPECT_TRUE(o.ignoreAlpha);
  EXPECT_EQ(o.version, 1002);
  EXPECT_EQ(o.blockSize, 20000);
  EXPECT_EQ(o.imageFile, L"C:\\pic.bmp");
  // After the image file nothing is an option.
  EXPECT_EQ(o.destPath, L"/out");
  for (const std::vector<std::wstring>& usage :
       {std::vector<std::wstring>{L"/x", L"a.bmp"}, std::vector<std::wstring>{L"/", L"a.bmp"},
        std::vector<std::wstring>{L"/abs/pic.bmp"}}) {
    Options u;
    EXPECT_EQ(ParseOptions(usage, &u), ParseStatus::kShowUsage) << usage[0];
  }
}

}  // namespace
