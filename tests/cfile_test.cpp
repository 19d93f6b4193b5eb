// Cfile, whole-file loading and all-or-nothing output files.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "io/cfile.h"
#include "io/load_file.h"
#include "io/output_file.h"
#include "platform/platform.h"
#include "support/scoped_locale.h"
#include "support/test_files.h"

namespace {

namespace fs = std::filesystem;
using testing_support::ReadBytes;
using testing_support::ScratchDir;
using testing_support::WriteBytes;

std::wstring Wide(const std::string& path) {
  return platform::BytesToWide(path);
}

int OpenDescriptors() {
  int n = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd")) ++n;
  return n;
}

unsigned Mode(const std::string& path) {
  return static_cast<unsigned>(fs::status(path).permissions());
}

// Sets the umask for one scope.
class ScopedUmask {
 public:
  explicit ScopedUmask(mode_t mask) : saved_(umask(mask)) {}
  ~ScopedUmask() { umask(saved_); }

 private:
  mode_t saved_;
};

TEST(Cfile, OpenReportsSizeAndFailures) {
  ScratchDir dir;
  Cfile f;
  EXPECT_EQ(f.fd(), -1);
  EXPECT_EQ(f.size(), 0);
  EXPECT_NE(f.Open(Cfile::kRead, Wide(dir.File("missing"))), 0);
  EXPECT_EQ(f.fd(), -1);
  EXPECT_EQ(f.size(), 0);

  WriteBytes(dir.File("empty"), {});
  EXPECT_EQ(f.Open(Cfile::kRead, Wide(dir.File("empty"))), 0);
  EXPECT_NE(f.fd(), -1);
  EXPECT_EQ(f.size(), 0);

  WriteBytes(dir.File("data"), std::vector<std::uint8_t>(12345, 7));
  ASSERT_EQ(f.Open(Cfile::kRead, Wide(dir.File("data"))), 0);
  EXPECT_EQ(f.size(), 12345);
  // Positioned at the start after measuring.
  std::uint8_t first = 0;
  EXPECT_EQ(platform::ReadFile(f.fd(), &first, 1), 1);
  EXPECT_EQ(first, 7);

  // A directory is no file, and a failed Open leaves nothing open.
  EXPECT_NE(f.Open(Cfile::kRead, Wide(dir.path())), 0);
  EXPECT_EQ(f.fd(), -1);
  EXPECT_EQ(f.size(), 0);
  EXPECT_NE(f.Open(Cfile::kWriteCreateTruncate, Wide(dir.path())), 0);
  // A FIFO with no writer is refused at once instead of blocking.
  // Should it block after all, the alarm ends the test in seconds.
  ASSERT_EQ(mkfifo(dir.File("fifo").c_str(), 0600), 0);
  alarm(10);
  EXPECT_NE(f.Open(Cfile::kRead, Wide(dir.File("fifo"))), 0);
  alarm(0);
  EXPECT_EQ(f.fd(), -1);
}

TEST(Cfile, ReopenAndCloseReleaseTheDescriptor) {
  ScratchDir dir;
  WriteBytes(dir.File("a"), {1, 2});
  WriteBytes(dir.File("b"), {1, 2, 3});
  int before = OpenDescriptors();
  {
    Cfile f;
    ASSERT_EQ(f.Open(Cfile::kRead, Wide(dir.File("a"))), 0);
    ASSERT_EQ(f.Open(Cfile::kRead, Wide(dir.File("b"))), 0);
    EXPECT_EQ(f.size(), 3);
    EXPECT_EQ(OpenDescriptors(), before + 1);
    f.Close();
    EXPECT_EQ(f.fd(), -1);
    EXPECT_EQ(f.size(), 0);
    EXPECT_EQ(OpenDescriptors(), before);
    f.Close();
    ASSERT_EQ(f.Open(Cfile::kRead, Wide(dir.File("a"))), 0);
  }
  EXPECT_EQ(OpenDescriptors(), before);  // the destructor closed it
}

TEST(Cfile, WriteCreatesWithUmaskAndTruncates) {
  ScratchDir dir;
  for (mode_t mask : {022, 027, 077}) {
    ScopedUmask scoped(mask);
    std::string path = dir.File("new" + std::to_string(mask));
    Cfile f;
    ASSERT_EQ(f.Open(Cfile::kWriteCreateTruncate, Wide(path)), 0);
    EXPECT_EQ(Mode(path), 0666u & ~mask);
  }
  std::string path = dir.File("old");
  WriteBytes(path, std::vector<std::uint8_t>(100, 9));
  Cfile f;
  ASSERT_EQ(f.Open(Cfile::kWriteCreateTruncate, Wide(path)), 0);
  EXPECT_EQ(f.size(), 0);
  ASSERT_TRUE(platform::WriteFile(f.fd(), "abc", 3));
  f.Close();
  EXPECT_EQ(ReadBytes(path), (std::vector<std::uint8_t>{'a', 'b', 'c'}));
}

TEST(LoadWholeFile, ReadsEveryByteOrReportsWhy) {
  ScratchDir dir;
  std::vector<std::uint8_t> content(70000);
  for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<std::uint8_t>(i * 31);
  WriteBytes(dir.File("in"), content);
  Cbuffer b;
  ASSERT_EQ(LoadWholeFile(Wide(dir.File("in")), b), Fault::kNone);
  EXPECT_EQ(std::vector<std::uint8_t>(b.data(), b.data() + b.size()), content);

  EXPECT_EQ(LoadWholeFile(Wide(dir.File("none")), b), Fault::kOpenFailed);
  EXPECT_EQ(LoadWholeFile(Wide(dir.path()), b), Fault::kOpenFailed);
}

TEST(LoadWholeFile, NameBytesInvalidInTheLocaleReachTheSameFile) {
  ScratchDir dir;
  std::string path = dir.File("bad\xff\x80name");
  WriteBytes(path, {4, 5, 6});
  for (const char* locale : {"C", "C.UTF-8"}) {
    testing_support::ScopedCtype ctype(locale);
    Cbuffer b;
    ASSERT_EQ(LoadWholeFile(platform::BytesToWide(path), b), Fault::kNone) << locale;
    EXPECT_EQ(b.size(), 3);
  }
}

// No temporary file may stay behind in `dir`, whatever happened.
void ExpectOnly(const ScratchDir& dir, std::vector<std::string> names) {
  std::sort(names.begin(), names.end());
  EXPECT_EQ(testing_support::DirectoryNames(dir.path()), names);
}

// Named temporary files, as where the file system has no unnamed ones, for
// one scope.
class ScopedNamedTemporaryFiles {
 public:
  explicit ScopedNamedTemporaryFiles(bool on) { platform::ForceNamedTemporaryFiles(on); }
  ~ScopedNamedTemporaryFiles() { platform::ForceNamedTemporaryFiles(false); }
};

class CoutputFileKinds : public testing::TestWithParam<bool> {};
INSTANTIATE_TEST_SUITE_P(UnnamedAndNamed, CoutputFileKinds, testing::Bool());

TEST_P(CoutputFileKinds, AppearsWholeOnCommitOnly) {
  ScopedNamedTemporaryFiles named(GetParam());
  ScratchDir dir;
  ScopedUmask scoped(027);
  std::string path = dir.File("out.ovk");
  {
    CoutputFile out;
    ASSERT_TRUE(out.Open(Wide(path)));
    ASSERT_TRUE(out.Write("abc", 3));
    EXPECT_FALSE(fs::exists(path));
    // The file being written has a name of its own only when it must.
    std::vector<std::string> names = testing_support::DirectoryNames(dir.path());
    ASSERT_EQ(names.size(), GetParam() ? 1u : 0u);
    if (GetParam()) {
      EXPECT_EQ(names[0].rfind(".out.ovk.", 0), 0u) << names[0];
    }
    ASSERT_TRUE(out.Commit());
  }
  EXPECT_EQ(ReadBytes(path), (std::vector<std::uint8_t>{'a', 'b', 'c'}));
  EXPECT_EQ(Mode(path), 0640u);

  // A replacement that is dropped (explicitly or by the destructor) leaves
  // the user's file as it was.
  fs::permissions(path, fs::perms(0604));
  {
    CoutputFile out;
    ASSERT_TRUE(out.Open(Wide(path)));
    ASSERT_TRUE(out.Write("x", 1));
    out.Discard();
    ASSERT_TRUE(out.Open(Wide(path)));
    ASSERT_TRUE(out.Write("y", 1));
  }
  EXPECT_EQ(ReadBytes(path), (std::vector<std::uint8_t>{'a', 'b', 'c'}));
  // A committed replacement keeps the replaced file's mode.
  {
    CoutputFile out;
    ASSERT_TRUE(out.Open(Wide(path)));
    std::FILE* stream = out.Stream();
    ASSERT_NE(stream, nullptr);
    std::fputs("zz", stream);
    ASSERT_TRUE(out.Commit());
  }
  EXPECT_EQ(ReadBytes(path), (std::vector<std::uint8_t>{'z', 'z'}));
  EXPECT_EQ(Mode(path), 0604u);
  ExpectOnly(dir, {"out.ovk"});

  CoutputFile out;
  EXPECT_FALSE(out.Open(Wide(dir.File("no/such/dir.ovk"))));
  EXPECT_FALSE(out.Open(Wide(dir.path())));
}

TEST_P(CoutputFileKinds, ReplacesTheTargetOfALinkAndHandlesLongNames) {
  ScopedNamedTemporaryFiles named(GetParam());
  ScratchDir dir;
  // A chain of links, each target relative to the link's own directory.
  fs::create_directories(dir.File("a/b"));
  WriteBytes(dir.File("a/b/real.bmp"), {1});
  fs::create_symlink("b/real.bmp", dir.File("a/hop"));
  fs::create_symlink("a/hop", dir.File("link.bmp"));
  CoutputFile out;
  ASSERT_TRUE(out.Open(Wide(dir.File("link.bmp"))));
  ASSERT_TRUE(out.Write("\2", 1));
  ASSERT_TRUE(out.Commit());
  EXPECT_TRUE(fs::is_symlink(dir.File("link.bmp")));
  EXPECT_TRUE(fs::is_symlink(dir.File("a/hop")));
  EXPECT_EQ(ReadBytes(dir.File("a/b/real.bmp")), std::vector<std::uint8_t>{2});
  EXPECT_EQ(testing_support::DirectoryNames(dir.File("a/b")), std::vector<std::string>{"real.bmp"});

  // A name at the component limit leaves no room for a decorated temporary
  // name beside it.
  std::string longName(platform::MaxNameLength(), 'L');
  ASSERT_TRUE(out.Open(Wide(dir.File(longName))));
  ASSERT_TRUE(out.Write("\3", 1));
  ASSERT_TRUE(out.Commit());
  EXPECT_EQ(ReadBytes(dir.File(longName)), std::vector<std::uint8_t>{3});
  ExpectOnly(dir, {"a", "link.bmp", longName});
}

TEST_P(CoutputFileKinds, WhatIsNoRegularFileIsNeitherReplacedNorCreated) {
  ScopedNamedTemporaryFiles named(GetParam());
  ScratchDir dir;
  ASSERT_EQ(mkfifo(dir.File("fifo").c_str(), 0644), 0);
  fs::create_symlink("fifo", dir.File("to_fifo"));
  fs::create_symlink("missing", dir.File("dangling"));
  fs::create_symlink("nodir/missing", dir.File("dangling_dir"));
  fs::create_symlink("loop", dir.File("loop"));
  const std::vector<std::string> names = testing_support::DirectoryNames(dir.path());
  for (const std::string& name : names) {
    CoutputFile out;
    EXPECT_FALSE(out.Open(Wide(dir.File(name)))) << name;
    EXPECT_FALSE(out.is_open()) << name;
  }
  EXPECT_EQ(testing_support::DirectoryNames(dir.path()), names);
  EXPECT_TRUE(fs::is_fifo(dir.File("fifo")));
  EXPECT_FALSE(fs::exists(dir.File("missing")));
}

}  // namespace
