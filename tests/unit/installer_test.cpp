//===- installer_test.cpp - The installer's own rules, without a package ------===//
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "installer/extract.h"
#include "installer/installer.h"
#include "installer/run_log.h"
#include "installer/setup_command.h"
#include "startup/startup.h"
#include "support/files.h"
#include "text/text.h"

namespace qd {
namespace {

TEST(OwnFile, IsFoundInTheCommandLineByItsQuotesAndItsExtension) {
  const std::string longSwitches(300, 'x');
  const struct {
    std::string commandLine;
    std::string ownFile;
  } cases[] = {
      {"\"C:\\dir one\\Update2.exe\" /h -x", "C:\\dir one\\Update2.exe"},
      {"C:\\dir\\Update2.exe /h", "C:\\dir\\Update2.exe"},
      {"\"C:\\dir\\Update2\" /h", "C:\\dir\\Update2.exe"},
      {"C:\\dir\\Update2.exe /h x.y", "C:\\dir\\Update2.exe /h x.y"},
      {"\"C:\\dir\\Update2.exe\" " + longSwitches, "C:\\dir\\Update2.exe"},
      {"C:\\" + longSwitches, "C:\\" + longSwitches.substr(0, 256) + ".exe"},
  };
  for (const auto& c : cases) EXPECT_EQ(OwnFileFromCommandLine(c.commandLine), c.ownFile) << c.commandLine;
}

// The switches come from the arguments after the program's own path, in any
// case: a folder name in that path is no switch.
TEST(SetupSwitches, FollowTheArgumentsOfTheOwnCommandLine) {
  const struct {
    const char* line;
    const char* switches;
  } cases[] = {
      {"\"C:\\Update.exe\" /h", " /NOSHARECOUNT"},
      {"C:\\UPDATE.EXE /install", ""},
      {"C:\\UPDATE.EXE -INSTALLNOW", ""},
      {"C:\\-INSTALL\\UPDATE.EXE", " /NOSHARECOUNT"},
      {"\"C:\\x-uninstall\\P.exe\" /h", " /NOSHARECOUNT"},
      {"\"C:\\dir\\P.exe\"/h -Uninstall", " /UNINSTALL"},
      {"C:\\UPDATE.EXE -UNINSTALL /INSTALL", " /UNINSTALL"},
      {"C:\\UPDATE.EXE -VIOLATEVISTALOGO /STARTSERVICE -QDHELPONVISTA",
       " /NOSHARECOUNT /QDHELPONVISTA /STARTSERVICE /VIOLATEVISTALOGO"},
  };
  for (const auto& c : cases) {
    std::string arguments(ArgumentTextOf(c.line));
    for (char& ch : arguments) ch = text::AsciiUpper(ch);
    EXPECT_EQ(SetupSwitches(arguments), c.switches) << c.line;
  }
}

// A log's word is neither a switch nor an argument of the run, wherever it
// stands and whatever its path holds; the last one names the log.
TEST(LogSwitch, FallsAwayFromTheArgumentsAndNamesTheLog) {
  const struct {
    std::string text;
    std::string arguments;
    std::optional<std::string> log;
  } cases[] = {
      {"/h -install", "/h -install", std::nullopt},
      {"/h /log=C:\\logs-UNINSTALL\\qd.log", "/h", "C:\\logs-UNINSTALL\\qd.log"},
      {"/h /LOG=/var/log/qd.log\t-Uninstall", "/h\t-Uninstall", "/var/log/qd.log"},
      {"/h \"/log=C:\\My Logs\\qd.log\" /STARTSERVICE", "/h /STARTSERVICE", "C:\\My Logs\\qd.log"},
      {"/h /log=\"C:\\My Logs\\qd.log\"", "/h", "C:\\My Logs\\qd.log"},
      {"/log=a.log  /x", "/x", "a.log"},
      {"/h /log=first.log /log=second.log", "/h", "second.log"},
      {"/h /log=", "/h", std::nullopt},
      {"/h x/log=y /logfile=z", "/h x/log=y /logfile=z", std::nullopt},
  };
  for (const auto& c : cases) {
    const LogSwitches taken = TakeLogSwitches(c.text);
    EXPECT_EQ(taken.arguments, c.arguments) << c.text;
    EXPECT_EQ(taken.logFile, c.log) << c.text;
  }
}

TEST(SetupCommand, NamesAFileOfTheWorkDirectoryAndFitsItsBuffer) {
  const std::string work = "C:\\Temp Dir\\QD12.tmp\\";
  static const std::vector<std::string>* files = nullptr;
  const auto exists = [](std::string_view path) {
    return std::find(files->begin(), files->end(), std::string(path)) != files->end();
  };
  const struct {
    std::vector<std::string> files;
    std::string fileName;
    std::optional<std::string> program;
    std::string arguments;
  } cases[] = {
      {{"C:\\Temp Dir\\QD12.tmp\\setup.exe"}, "setup.exe -q", "C:\\Temp Dir\\QD12.tmp\\setup.exe", " -q /X"},
      {{"C:\\Temp Dir\\QD12.tmp\\setup.exe"}, "setup -q", "C:\\Temp Dir\\QD12.tmp\\setup.exe", " -q /X"},
      {{"C:\\Temp Dir\\QD12.tmp\\my setup.exe"}, "my setup.exe", "C:\\Temp Dir\\QD12.tmp\\my setup.exe", " /X"},
      {{}, "setup.exe", std::nullopt, ""},
      {{"C:\\Temp Dir\\QD12.tmp\\setup.exe"}, "setup.exe " + std::string(330, 'a'), std::nullopt, ""},
      {{"C:\\Temp Dir\\evil.sh"}, "..\\evil.sh", std::nullopt, ""},
      {{"C:\\Temp Dir\\QD12.tmp\\a ..\\..\\evil.exe"}, "a ..\\..\\evil.exe", std::nullopt, ""},
      {{"C:\\Temp Dir\\QD12.tmp\\temp.exe"}, "temp", std::nullopt, ""},
  };
  for (const auto& c : cases) {
    files = &c.files;
    const auto command = SetupCommandFor(work, c.fileName, " /X", exists);
    ASSERT_EQ(command.has_value(), c.program.has_value()) << c.fileName;
    if (!command) continue;
    EXPECT_EQ(command->program, *c.program);
    EXPECT_EQ(command->line, work + c.fileName + " /X");
    EXPECT_EQ(command->arguments, c.arguments);
  }
}

TEST(WorkFilePath, TakesOnlyPlainNamesThatFit) {
  const std::string work = "/tmp/QD12.tmp/";
  for (const char* name : {"engine.dll", "a,b.txt", "setup.exe "}) EXPECT_EQ(WorkFilePath(work, name), work + name) << name;
  for (const std::string& name : std::vector<std::string>{"", ".", "..", "..\\up.txt", "sub/x", "C:x", "\\root",
                                                          "NUL.txt", std::string(250, 'n')})
    EXPECT_EQ(WorkFilePath(work, name), std::nullopt) << name;
}

// Each event is one line with the local time; a log whose file lies in the
// work directory, however that is reached, is let go of before anything is
// written there.
TEST(RunLog, WritesOneTimedLineAnEventAndNothingIntoTheWorkDirectory) {
  EXPECT_EQ(LogLine({2024, 5, 1, 9, 3, 7, 20}, "Title: a\nb\x1b[31m"), "2024-05-01 09:03:07.020  Title: a?b?[31m\r\n");
  test::ScratchDir dir;
  std::filesystem::create_directories(dir / "work");
  std::filesystem::create_directories(dir / "other");
  const int handle = ::open((dir / "work").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(handle, 0);
  const struct {
    const char* behaviour;
    std::string directory;
    bool written;
  } cases[] = {
      {"elsewhere", (dir / "other/").string(), true},
      {"in the work directory", (dir / "work/").string(), false},
      {"in the work directory, through its handle", "/proc/self/fd/" + std::to_string(handle) + "/", false},
  };
  for (const auto& c : cases) {
    const std::filesystem::path file = dir / "work/qd.log";
    std::filesystem::remove(file);
    RunLog log(file.string(), "");
    log.KeepOutOf(c.directory);
    log.Write("event");
    EXPECT_EQ(std::filesystem::file_size(file) != 0, c.written) << c.behaviour;
  }
  ::close(handle);
}

}  // namespace
}  // namespace qd
