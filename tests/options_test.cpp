#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/options.h"

namespace {

// Parses `args` from the defaults; fails the test if the usage is asked for.
Options Parse(std::vector<std::wstring> args) {
  Options o;
  EXPECT_EQ(ParseOptions(args, &o), ParseStatus::kOk);
  return o;
}

TEST(ParseDecimal, ReadsLikeStrtol) {
  EXPECT_EQ(ParseDecimal(L"20000"), 20000);
  EXPECT_EQ(ParseDecimal(L"  \t\n\v\f\r+12"), 12);
  EXPECT_EQ(ParseDecimal(L"-3"), -3);
  EXPECT_EQ(ParseDecimal(L"4x5"), 4);
  EXPECT_EQ(ParseDecimal(L"007"), 7);
  for (const wchar_t* none : {L"x", L"-", L"+-1", L" ", L"- 1", L"\u30002", L"\uFF12"}) {
    EXPECT_EQ(ParseDecimal(none), 0) << none;
  }
  EXPECT_EQ(ParseDecimal(L"2147483647"), 2147483647);
  EXPECT_EQ(ParseDecimal(L"2147483648"), 2147483647);
  EXPECT_EQ(ParseDecimal(L"-2147483648"), -2147483647 - 1);
  EXPECT_EQ(ParseDecimal(L"-99999999999999999999999"), -2147483647 - 1);
  EXPECT_EQ(ParseDecimal(L"4294967297"), 2147483647);
}

TEST(ParseOptions, Defaults) {
  Options o = Parse({L"pic.bmp"});
  EXPECT_EQ(o.version, 1006);
  EXPECT_FALSE(o.ignoreAlpha);
  EXPECT_EQ(o.output, OutputForm::kBmp);
  EXPECT_EQ(o.blockSize, 65535);
  EXPECT_EQ(o.destPath, L"");
  EXPECT_EQ(o.imageFile, L"pic.bmp");
}

TEST(ParseOptions, Version) {
  EXPECT_EQ(Parse({L"-v2"}).version, 1002);
  EXPECT_EQ(Parse({L"-V0"}).version, 1000);
  EXPECT_EQ(Parse({L"-v9"}).version, 1009);
  EXPECT_EQ(Parse({L"-v3"}).version, 1003);
  EXPECT_EQ(Parse({L"-v1004"}).version, 1004);
  EXPECT_EQ(Parse({L"-v60"}).version, 60);
  EXPECT_EQ(Parse({L"-v10"}).version, 10);
  EXPECT_EQ(Parse({L"-v"}).version, 1006);
  EXPECT_EQ(Parse({L"-v2", L"-v"}).version, 1002);  // empty keeps the last value
  EXPECT_EQ(Parse({L"-vx"}).version, 1000);         // no digits: 0, a shorthand
  EXPECT_EQ(Parse({L"-v 4"}).version, 1004);
  EXPECT_EQ(Parse({L"-v+6"}).version, 1006);
  EXPECT_EQ(Parse({L"-v-1"}).version, -1);  // unsigned compare: not a shorthand
  EXPECT_EQ(Parse({L"-v-2147483648"}).version, -2147483647 - 1);
  EXPECT_EQ(Parse({L"-v2", L"-v4"}).version, 1004);
  // Any -v keeps -m from taking the reference's version.
  EXPECT_TRUE(Parse({L"-mref.ovk"}).mapping.takeVersion);
  EXPECT_FALSE(Parse({L"-mref.ovk", L"-v"}).mapping.takeVersion);
}

TEST(ParseOptions, Jobs) {
  EXPECT_EQ(Parse({}).jobs, 0);
  EXPECT_EQ(Parse({L"-j3"}).jobs, 3);
  EXPECT_EQ(Parse({L"-J1"}).jobs, 1);
  for (const wchar_t* fallback : {L"-j", L"-j0", L"-j-2", L"-jx"}) {
    EXPECT_EQ(Parse({L"-j4", fallback}).jobs, 0) << fallback;
  }
}

TEST(ParseOptions, BlockSize) {
  EXPECT_EQ(Parse({L"-b20000"}).blockSize, 20000);
  EXPECT_EQ(Parse({L"-B16384"}).blockSize, 16384);
  EXPECT_EQ(Parse({L"-b65535"}).blockSize, 65535);
  for (const wchar_t* out :
       {L"-b100", L"-b16383", L"-b65536", L"-b70000", L"-b-20000", L"-bx", L"-b99999999999"}) {
    EXPECT_EQ(Parse({out}).blockSize, 65535) << out;
  }
  EXPECT_EQ(Parse({L"-b20000", L"-b"}).blockSize, 20000);
  EXPECT_EQ(Parse({L"-b20000", L"-b30000"}).blockSize, 30000);
  EXPECT_EQ(Parse({L"-b 20000x"}).blockSize, 20000);
}

TEST(ParseOptions, IgnoreAlpha) {
  for (const wchar_t* on : {L"-na", L"-NA", L"-nA", L"-NAx", L"-nab"}) {
    EXPECT_TRUE(Parse({on}).ignoreAlpha) << on;
  }
  for (const wchar_t* off : {L"-n", L"-nb", L"-N", L"-n a", L"-nna"}) {
    EXPECT_FALSE(Parse({off}).ignoreAlpha) << off;
  }
  // Nothing turns it off again.
  EXPECT_TRUE(Parse({L"-na", L"-nb"}).ignoreAlpha);
}

TEST(ParseOptions, PngMode) {
  EXPECT_EQ(Parse({L"-p"}).output, OutputForm::kPngColour);
  EXPECT_EQ(Parse({L"-P256"}).output, OutputForm::kPngPalette);
  for (const wchar_t* one : {L"-p2", L"-px", L"-p2560", L"-p 256", L"-p256 ", L"-p0256"}) {
    EXPECT_EQ(Parse({one}).output, OutputForm::kPngColour) << one;
  }
  EXPECT_EQ(Parse({L"-p256", L"-p"}).output, OutputForm::kPngColour);
  EXPECT_EQ(Parse({L"-p", L"-p256"}).output, OutputForm::kPngPalette);
}

TEST(ParseOptions, FileNames) {
  Options o = Parse({L"-p", L"a.bmp", L"-na", L"extra", L"more"});
  EXPECT_EQ(o.imageFile, L"a.bmp");
  EXPECT_EQ(o.destPath, L"-na");
  EXPECT_FALSE(o.ignoreAlpha);

  o = Parse({L"../pic.bmp", L"../out"});
  EXPECT_EQ(o.imageFile, L"../pic.bmp");
  EXPECT_EQ(o.destPath, L"../out");

  o = Parse({L"-p", L"-v2"});
  EXPECT_FALSE(o.imageFile.has_value());
  EXPECT_EQ(o.destPath, L"");

  EXPECT_EQ(Parse({L""}).imageFile, L"");
  EXPECT_FALSE(Parse({}).imageFile.has_value());
}

TEST(ParseOptions, InspectAndPaletteMapping) {
  Options o = Parse({L"-Ix", L"a.ovk", L"-p", L"c.png"});
  EXPECT_TRUE(o.inspect);
  EXPECT_EQ(o.operands, (std::vector<std::wstring>{L"a.ovk", L"-p", L"c.png"}));
  EXPECT_EQ(o.output, OutputForm::kBmp);
  // The last -m wins: alone it asks for the picture's own palette.
  o = Parse({L"-Mref.ovk", L"-m"});
  EXPECT_TRUE(o.mapping.active);
  EXPECT_EQ(o.mapping.reference, L"");
  EXPECT_FALSE(Parse({L"pic.png", L"-m"}).mapping.active);
}

TEST(ParseOptions, UnknownLetterOrNoLetterAsksForUsage) {
  for (const wchar_t* bad : {L"-", L"-x", L"-a", L"--", L"-?", L"-h", L"-\u30D5"}) {
    Options o;
    EXPECT_EQ(ParseOptions(std::vector<std::wstring>{bad, L"a.bmp"}, &o), ParseStatus::kShowUsage)
        << bad;
  }
  Options o;
  EXPECT_EQ(ParseOptions(std::vector<std::wstring>{L"-p", L"-x"}, &o), ParseStatus::kShowUsage);
  // After the image file nothing is an option.
  EXPECT_EQ(ParseOptions(std::vector<std::wstring>{L"a.bmp", L"-x"}, &o), ParseStatus::kOk);
}

}  // namespace
