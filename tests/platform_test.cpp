#include <gtest/gtest.h>

#include <random>
#include <string>

#include "platform/platform.h"
#include "support/scoped_locale.h"
#include "support/test_files.h"

namespace {

using testing_support::ScopedCtype;

std::string Printed(void (*print)()) {
  testing::internal::CaptureStdout();
  print();
  return testing::internal::GetCapturedStdout();
}

// Any byte string survives bytes -> wide -> bytes, in a locale where some
// bytes decode and in one where none above 0x7F does.
TEST(PathBytes, EveryByteStringRoundTrips) {
  std::mt19937 rng(12345);
  for (const char* locale : {"C", "C.UTF-8"}) {
    ScopedCtype ctype(locale);
    for (int round = 0; round < 2000; ++round) {
      std::string bytes(rng() % 24, '\0');
      for (char& b : bytes) b = static_cast<char>(rng() % 255 + 1);  // no NUL in a path
      // Every other round, mostly valid UTF-8 with damage here and there.
      if (round % 2 == 0) bytes += "ファイル\xe3\x83" + bytes + "\xef\xbc\x9f";
      EXPECT_EQ(platform::WideToBytes(platform::BytesToWide(bytes)), bytes) << locale;
    }
  }
}

TEST(PathBytes, ValidTextDecodesAndInvalidBytesAreKeptOneByOne) {
  ScopedCtype ctype("C.UTF-8");
  EXPECT_EQ(platform::BytesToWide("pic\xe3\x83\x95.bmp"), L"pic\u30D5.bmp");
  // A truncated sequence: each of its bytes is kept on its own and the text
  // after it decodes again.
  EXPECT_EQ(platform::BytesToWide("a\xe3\x83"
                                  "b\xff"),
            L"a\xDCE3\xDC83"
            L"b\xDCFF");
  // An encoded surrogate (ED B0 80) is not valid UTF-8 either.
  EXPECT_EQ(platform::WideToBytes(platform::BytesToWide("\xed\xb0\x80")), "\xed\xb0\x80");
}

TEST(Print, WindowsFormatConventionAndRawNameBytes) {
  ScopedCtype ctype("C.UTF-8");
  EXPECT_EQ(Printed([] { platform::Print(L"%s to %s\n", L"a.ovk", L"\u30D5.png"); }),
            "a.ovk to \xe3\x83\x95.png\n");
  EXPECT_EQ(Printed([] {
              platform::Print(L"%d|%dbytes|%%s|%5s|%-3s|%ls|%c", -7, 2147483647, L"ab", L"c", L"w",
                              L'\u30D5');
            }),
            "-7|2147483647bytes|%s|   ab|c  |w|\xe3\x83\x95");
  // Bytes that came in undecodable go out exactly as they came.
  std::wstring name = platform::BytesToWide("bad\x80\xff.bmp");
  testing::internal::CaptureStdout();
  platform::Print(L"(%s)\n", name.c_str());
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "(bad\x80\xff.bmp)\n");
}

TEST(Print, LongTextIsNotCutAndUnencodableTextIsNotDropped) {
  static std::wstring long_text;
  long_text.assign(100000, L'x');
  long_text.back() = L'y';
  std::string out = Printed([] { platform::Print(L"[%s]", long_text.c_str()); });
  EXPECT_EQ(out, "[" + std::string(99999, 'x') + "y]");

  // In the plain C locale nothing beyond ASCII can be encoded; every
  // character still shows, as '?'.
  ScopedCtype ctype("C");
  EXPECT_EQ(Printed([] { platform::Print(L"\u30D5\u30A1(%s)\n", L"a\u30D5"); }),
            "??"
            "(a?)\n");
}

TEST(Paths, ExistenceSeparatorAndOwnDirectory) {
  testing_support::ScratchDir dir;
  std::wstring wdir(dir.path().begin(), dir.path().end());
  EXPECT_TRUE(platform::PathExists(wdir));
  EXPECT_TRUE(platform::IsDirectory(wdir));
  EXPECT_FALSE(platform::PathExists(wdir + L"/missing"));
  EXPECT_FALSE(platform::PathExists(L""));
  testing_support::WriteBytes(dir.File("f"), {1});
  EXPECT_TRUE(platform::PathExists(wdir + L"/f"));
  EXPECT_FALSE(platform::IsDirectory(wdir + L"/f"));

  std::wstring p = L"out";
  platform::AddTrailingSeparator(p);
  EXPECT_EQ(p, L"out/");
  platform::AddTrailingSeparator(p);
  EXPECT_EQ(p, L"out/");
  p.clear();
  platform::AddTrailingSeparator(p);
  EXPECT_EQ(p, L"");
  // Only "/" separates and only "-" starts an option: "/abs/pic.bmp" is a
  // file name, "a\\b" one component.
  EXPECT_TRUE(platform::IsSeparator(L'/'));
  EXPECT_FALSE(platform::IsSeparator(L'\\'));
  EXPECT_TRUE(platform::IsOptionIntroducer(L'-'));
  EXPECT_FALSE(platform::IsOptionIntroducer(L'/'));

  std::wstring exe = platform::ExecutableDirectory();
  ASSERT_FALSE(exe.empty());
  EXPECT_EQ(exe.front(), L'/');
  EXPECT_EQ(exe.back(), L'/');
  EXPECT_TRUE(platform::PathExists(exe + L"ovk_tests"));
}

}  // namespace
