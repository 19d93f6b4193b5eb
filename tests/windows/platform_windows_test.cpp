// The Windows platform layer below the program: sharing of open inputs,
// files that are not on disk, file identity, names counted in UTF-16 units,
// and output files that appear whole or not at all.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "io/cfile.h"
#include "io/output_file.h"
#include "platform/platform.h"
#include "support/test_files.h"

namespace {

using testing_support::ReadBytes;
using testing_support::ScratchDir;
using testing_support::WriteBytes;

std::wstring Wide(const std::string& utf8) {
  return platform::BytesToWide(utf8);
}

TEST(WindowsPlatform, SeparatorsOptionsAndNameLengths) {
  EXPECT_TRUE(platform::IsSeparator(L'\\'));
  EXPECT_TRUE(platform::IsSeparator(L'/'));
  EXPECT_FALSE(platform::IsSeparator(L':'));
  EXPECT_EQ(platform::PreferredSeparator(), L'\\');
  EXPECT_TRUE(platform::IsOptionIntroducer(L'/'));
  EXPECT_TRUE(platform::IsOptionIntroducer(L'-'));
  std::wstring dir = L"out/";
  platform::AddTrailingSeparator(dir);
  EXPECT_EQ(dir, L"out/");
  dir = L"out";
  platform::AddTrailingSeparator(dir);
  EXPECT_EQ(dir, L"out\\");
  // UTF-16 units: a character outside the BMP counts twice, a kanji once.
  EXPECT_EQ(platform::NameLength(L"\u753B\U0001F600"), 3u);
  EXPECT_GT(platform::MaxPathLength(), 260u);
}

TEST(WindowsPlatform, AnOpenInputMayBeReadByOthersButNotWritten) {
  ScratchDir dir;
  WriteBytes(dir.File("in.bmp"), {1, 2, 3});
  Cfile file;
  ASSERT_EQ(file.Open(Cfile::kRead, Wide(dir.File("in.bmp"))), 0);
  EXPECT_EQ(file.size(), 3);
  const std::wstring name = Wide(dir.File("in.bmp"));
  HANDLE writer = CreateFileW(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_EQ(writer, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
  HANDLE reader = CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(reader, INVALID_HANDLE_VALUE);
  if (reader != INVALID_HANDLE_VALUE) CloseHandle(reader);
}

TEST(WindowsPlatform, OnlyFilesOnDiskOpen) {
  ScratchDir dir;
  for (const std::string& name : {std::string("NUL"), std::string("CON"), dir.File("aux.png"),
                                  dir.File("nul.txt"), std::string("\\\\.\\nul"), dir.path()}) {
    Cfile file;
    EXPECT_NE(file.Open(Cfile::kRead, Wide(name)), 0) << name;
    EXPECT_EQ(file.fd(), platform::kNoFile) << name;
    CoutputFile out;
    EXPECT_FALSE(out.Open(Wide(name))) << name;
  }
  EXPECT_TRUE(testing_support::DirectoryNames(dir.path()).empty());
}

TEST(WindowsPlatform, SameFileByVolumeAndFileId) {
  ScratchDir dir;
  WriteBytes(dir.File("a.bmp"), {1});
  WriteBytes(dir.File("b.bmp"), {1});
  ASSERT_TRUE(CreateHardLinkW(Wide(dir.File("link.bmp")).c_str(), Wide(dir.File("a.bmp")).c_str(),
                              nullptr));
  EXPECT_TRUE(platform::SameFile(Wide(dir.File("a.bmp")), Wide(dir.File("link.bmp"))));
  EXPECT_TRUE(platform::SameFile(Wide(dir.File("a.bmp")), Wide(dir.File("A.BMP"))));
  EXPECT_TRUE(platform::SameFile(Wide(dir.File("a.bmp")), Wide(dir.path() + "\\.\\x\\..\\a.bmp")));
  EXPECT_FALSE(platform::SameFile(Wide(dir.File("a.bmp")), Wide(dir.File("b.bmp"))));
  EXPECT_FALSE(platform::SameFile(Wide(dir.File("a.bmp")), Wide(dir.File("missing.bmp"))));
}

TEST(WindowsPlatform, AnOutputAppearsOnlyWhenCommitted) {
  ScratchDir dir;
  const std::string target = dir.File("out.ovk");
  {
    CoutputFile out;
    ASSERT_TRUE(out.Open(Wide(target)));
    ASSERT_TRUE(out.Write("new", 3));
    // Only the temporary file exists meanwhile, beside the destination.
    const std::vector<std::string> names = testing_support::DirectoryNames(dir.path());
    ASSERT_EQ(names.size(), 1u);
    EXPECT_NE(names[0], "out.ovk");
    out.Discard();
  }
  EXPECT_TRUE(testing_support::DirectoryNames(dir.path()).empty());
  {
    CoutputFile out;
    ASSERT_TRUE(out.Open(Wide(target)));
    std::FILE* stream = out.Stream();
    ASSERT_NE(stream, nullptr);
    ASSERT_EQ(std::fwrite("a\nb", 1, 3, stream), 3u);
    ASSERT_TRUE(out.Commit());
  }
  // Written in binary: no CR before the LF.
  EXPECT_EQ(ReadBytes(target), (std::vector<std::uint8_t>{'a', '\n', 'b'}));
  EXPECT_EQ(testing_support::DirectoryNames(dir.path()), std::vector<std::string>{"out.ovk"});
}

TEST(WindowsPlatform, ReplacingKeepsTheOldFilesAttributes) {
  ScratchDir dir;
  const std::string target = dir.File("out.ovk");
  WriteBytes(target, {'o', 'l', 'd'});
  const std::wstring name = Wide(target);
  ASSERT_TRUE(SetFileAttributesW(name.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));
  CoutputFile out;
  ASSERT_TRUE(out.Open(name));
  ASSERT_TRUE(out.Write("new", 3));
  ASSERT_TRUE(out.Commit());
  EXPECT_EQ(ReadBytes(target), (std::vector<std::uint8_t>{'n', 'e', 'w'}));
  EXPECT_NE(GetFileAttributesW(name.c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);
  // A read-only file is not replaced.
  ASSERT_TRUE(SetFileAttributesW(name.c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_FALSE(out.Open(name));
  SetFileAttributesW(name.c_str(), FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(ReadBytes(target), (std::vector<std::uint8_t>{'n', 'e', 'w'}));
  EXPECT_EQ(testing_support::DirectoryNames(dir.path()), std::vector<std::string>{"out.ovk"});
}

}  // namespace
