#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "driver/output_name.h"
#include "support/scoped_locale.h"
#include "support/test_files.h"

namespace {

std::wstring Derive(const std::wstring& image, const std::wstring& dest, const std::wstring& ext) {
  std::wstring out = L"untouched";
  EXPECT_TRUE(DeriveOutputName(image, dest, ext, &out)) << image << " " << dest;
  return out;
}

std::wstring Wide(const std::string& ascii) {
  return std::wstring(ascii.begin(), ascii.end());
}

TEST(DeriveOutputName, WithoutDestinationReplacesTheExtension) {
  EXPECT_EQ(Derive(L"pic.bmp", L"", L".ovk"), L"pic.ovk");
  EXPECT_EQ(Derive(L"tex.ovk", L"", L".png"), L"tex.png");
  EXPECT_EQ(Derive(L"tex.ovk", L"", L".bmp"), L"tex.bmp");
  EXPECT_EQ(Derive(L"a.b.c", L"", L".ovk"), L"a.b.ovk");
  EXPECT_EQ(Derive(L"noext", L"", L".ovk"), L"noext.ovk");
  EXPECT_EQ(Derive(L"/abs/dir/pic.png", L"", L".ovk"), L"/abs/dir/pic.ovk");
  // A "." in a directory name is no extension.
  EXPECT_EQ(Derive(L"../images/pic", L"", L".ovk"), L"../images/pic.ovk");
  EXPECT_EQ(Derive(L"v1.2/pic", L"", L".ovk"), L"v1.2/pic.ovk");
  EXPECT_EQ(Derive(L"pic.", L"", L".ovk"), L"pic.ovk");
  EXPECT_EQ(Derive(L".hidden", L"", L".ovk"), L".ovk");
}

TEST(DeriveOutputName, DestinationWithoutDotIsADirectory) {
  EXPECT_EQ(Derive(L"pic.bmp", L"out", L".ovk"), L"out/pic.ovk");
  EXPECT_EQ(Derive(L"pic.bmp", L"out/", L".ovk"), L"out/pic.ovk");
  EXPECT_EQ(Derive(L"/in/dir/pic.bmp", L"/out/sub", L".ovk"), L"/out/sub/pic.ovk");
  EXPECT_EQ(Derive(L"a.bmp", L"-p", L".ovk"), L"-p/a.ovk");
  EXPECT_EQ(Derive(L"in.d/pic", L"my.dir/sub", L".png"), L"my.dir/sub/pic.png");
  EXPECT_EQ(Derive(L"tex.ovk", L"out.d/", L".png"), L"out.d/tex.png");
}

TEST(DeriveOutputName, DestinationWithDotIsTheOutputUnlessItIsADirectory) {
  EXPECT_EQ(Derive(L"pic.bmp", L"x.dat", L".ovk"), L"x.dat");
  EXPECT_EQ(Derive(L"pic.bmp", L"dir/x.dat", L".ovk"), L"dir/x.dat");
  EXPECT_EQ(Derive(L"tex.ovk", L"x", L".png"), L"x/tex.png");

  testing_support::ScratchDir scratch;
  std::string versioned = scratch.File("v1.2");
  std::filesystem::create_directory(versioned);
  EXPECT_EQ(Derive(L"pic.bmp", Wide(versioned), L".ovk"), Wide(versioned + "/pic.ovk"));
  EXPECT_EQ(Derive(L"pic.bmp", Wide(scratch.path() + "/."), L".ovk"),
            Wide(scratch.path() + "/./pic.ovk"));
  EXPECT_EQ(Derive(L"pic.bmp", Wide(versioned + "/.."), L".ovk"), Wide(versioned + "/../pic.ovk"));
}

TEST(DeriveOutputName, RefusesNamesBeyondThePlatformLimits) {
  std::wstring out;
  // Path: 4095 bytes plus the terminator fit in 4096; one more does not.
  std::wstring dir = L"/" + std::wstring(200, L'd');
  std::wstring fits;
  while (fits.size() + dir.size() <= 4095 - 8) fits += dir;
  fits += std::wstring(4095 - 8 - fits.size(), L'e');  // + "/pic.ovk" = 4095
  ASSERT_TRUE(DeriveOutputName(L"pic.bmp", fits, L".ovk", &out));
  EXPECT_EQ(out.size(), 4095u);
  EXPECT_FALSE(DeriveOutputName(L"pic.bmp", fits + L"e", L".ovk", &out));
  EXPECT_EQ(out, fits + L"e/pic.ovk");  // the refused name, for the message

  // Component: 255 bytes fit; appending the extension to a 252-byte name
  // makes 256.
  std::wstring name(251, L'n');
  EXPECT_TRUE(DeriveOutputName(name, L"", L".ovk", &out));
  EXPECT_FALSE(DeriveOutputName(name + L"n", L"", L".ovk", &out));
  EXPECT_EQ(out, name + L"n.ovk");
  // Bytes count, not characters: each katakana is three bytes in UTF-8.
  testing_support::ScopedCtype utf8("C.UTF-8");
  EXPECT_TRUE(NameFits(L"/tmp/" + std::wstring(85, L'\u30D5')));
  EXPECT_FALSE(NameFits(L"/tmp/" + std::wstring(86, L'\u30D5')));
}

}  // namespace
