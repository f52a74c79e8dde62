//===- native_files_test.cpp - Files as the Windows calls find and share them -===//
//
// The native build finds the file a path names as Windows finds it, and
// shares the files it holds open as Windows shares them, so that a script
// written on Windows names the same files on a Linux build server and a
// build can never read a file it is writing. The builds of
// e2e/parity_cases.h compare whole builds with the Windows build; these pin
// the rules one at a time, and the one Windows cannot show: of several names
// that differ only in case, only the exact one is taken.
//
//===----------------------------------------------------------------------===//
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "support/files.h"

namespace qd {
namespace {

namespace fs = std::filesystem;
using platform::OpenMode;

// The text of the file `path` opens, or nullopt when it opens none.
std::optional<std::string> Opened(const std::string& path) {
  platform::File file = platform::OpenForReading(path);
  if (!file.IsOpen()) return std::nullopt;
  std::vector<std::uint8_t> buffer(64);
  const auto read = platform::ReadBytes(file, buffer);
  return std::string(buffer.begin(), buffer.begin() + read);
}

TEST(NativePaths, NameTheFileWindowsWouldFind) {
  test::ScratchDir dir;
  fs::create_directories(dir / "build");
  fs::create_directories(dir / "data");
  fs::create_directories(dir / "\xC3\x89t\xC3\xA9");  // "Été" in UTF-8
  test::WriteText(dir / "build/engine.dll", "engine");
  test::WriteText(dir / "build/Pay.bin", "mixed");
  test::WriteText(dir / "build/PAY.bin", "upper");
  test::WriteText(dir / "data/Two.txt", "mixed");
  test::WriteText(dir / "data/two.txt", "lower");
  test::WriteText(dir / "\xC3\x89t\xC3\xA9/n.txt", "accented");
  test::WriteText(dir / "build/a|b", "refused");

  struct Case {
    const char* behaviour;
    std::string path;
    std::optional<std::string> content;
  };
  const Case cases[] = {
      {"backslashes separate directories", "build\\engine.dll", "engine"},
      {"a name in another case", "BUILD\\Engine.DLL", "engine"},
      {"'.' and '..' are taken before the disk is asked", "nothere\\..\\build\\.\\engine.dll", "engine"},
      {"a directory's name loses one trailing dot", "build.\\engine.dll", "engine"},
      {"but only one", "build..\\engine.dll", std::nullopt},
      {"and no blank", "build \\engine.dll", std::nullopt},
      {"the last name loses its trailing dots and blanks", "build\\engine.dll. .", "engine"},
      {"names that differ only in case: the exact one", "data\\two.txt", "lower"},
      {"names that differ only in case: none of the others", "build\\pay.bin", std::nullopt},
      {"Windows-1252 text names the UTF-8 file", "\xC9T\xC9\\N.txt", "accented"},
      {"a character Windows refuses names no file", "build\\a|b", std::nullopt},
      {"a wildcard names no file to open", "build\\engine.*", std::nullopt},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Opened(dir.path().string() + "\\" + c.path), c.content) << c.behaviour;

  // A directory search matches wildcards without regard to case.
  EXPECT_TRUE(platform::PathExists(dir.path().string() + "\\BUILD\\*.DLL"));
  EXPECT_FALSE(platform::PathExists(dir.path().string() + "\\build\\pay.bin"));
}

TEST(NativeFiles, FilesHeldOpenAreSharedAsOnWindows) {
  struct Case {
    OpenMode held;
    OpenMode second;
    bool opens;
  };
  const Case cases[] = {
      {OpenMode::Read, OpenMode::Read, true},     {OpenMode::Read, OpenMode::Update, false},
      {OpenMode::Read, OpenMode::Create, false},  {OpenMode::Update, OpenMode::Read, false},
      {OpenMode::Create, OpenMode::Read, false},  {OpenMode::Create, OpenMode::Create, false},
  };
  test::ScratchDir dir;
  const std::string path = (dir / "file.bin").string();
  const std::string otherSpelling = (dir / "sub/../FILE.BIN").string();
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.held) * 10 + static_cast<int>(c.second));
    test::WriteText(path, "content");
    {
      platform::File held = platform::Open(path, c.held);
      ASSERT_TRUE(held.IsOpen());
      EXPECT_EQ(platform::Open(otherSpelling, c.second).IsOpen(), c.opens);
      EXPECT_FALSE(platform::RemoveFile(path)) << "no open shares deletion";
      if (c.held == OpenMode::Read) {
        EXPECT_EQ(test::ReadText(path), "content") << "a refused open empties nothing";
      }
    }
    EXPECT_TRUE(platform::Open(otherSpelling, c.second).IsOpen()) << "closed, the file is free";
  }
  EXPECT_TRUE(platform::RemoveFile(path));
}

// The work directory: a name no one can guess, no one else may enter it, and
// every path made from it reaches it through its handle; a new file is never
// written through a link, nor over a file of its name.
TEST(NativeFiles, AWorkDirectoryIsFreshPrivateAndHeld) {
  test::ScratchDir temp;
  ::setenv("TMPDIR", temp.path().c_str(), 1);
  auto first = platform::MakeWorkDirectory(platform::DirectoryAccess::Default);
  auto second = platform::MakeWorkDirectory(platform::DirectoryAccess::Default);
  ::unsetenv("TMPDIR");
  ASSERT_TRUE(first && second);
  EXPECT_NE(first->Name(), second->Name());
  for (const auto* work : {&*first, &*second}) {
    EXPECT_TRUE(std::regex_match(work->Name(), std::regex("QD[0-9A-V]{10}\\.tmp"))) << work->Name();
    EXPECT_EQ(fs::status(temp / work->Name()).permissions(), fs::perms::owner_all);
    EXPECT_TRUE(work->Path().starts_with("/proc/self/fd/")) << work->Path();
    EXPECT_EQ(platform::ShownPath(work->Path() + "x"), (temp / work->Name() / "x").string());
  }
  // Moved away, it is still where its path leads; what took its name is not.
  fs::rename(temp / first->Name(), temp / "moved");
  fs::create_directory_symlink(temp / "moved", temp / first->Name());
  fs::create_directory(temp / "theirs");
  fs::create_symlink(temp / "theirs/target", temp / "moved/link");
  {
    platform::File made = platform::Open(first->Path() + "made.txt", OpenMode::CreateNew);
    EXPECT_TRUE(made.IsOpen());
    EXPECT_FALSE(platform::Open(first->Path() + "MADE.TXT", OpenMode::CreateNew).IsOpen()) << "a name taken";
    EXPECT_FALSE(platform::Open(first->Path() + "link", OpenMode::CreateNew).IsOpen()) << "a link";
  }
  EXPECT_TRUE(fs::exists(temp / "moved/made.txt"));
  EXPECT_FALSE(fs::exists(temp / "theirs/target"));
  EXPECT_TRUE(fs::remove(temp / "moved/made.txt") && fs::remove(temp / "moved/link"));
  EXPECT_FALSE(platform::RemoveWorkDirectory(*first)) << "another directory stands under its name";
  EXPECT_TRUE(fs::exists(temp / "moved"));
  EXPECT_TRUE(platform::RemoveWorkDirectory(*second));
  EXPECT_FALSE(fs::exists(temp / second->Name()));
}

}  // namespace
}  // namespace qd
