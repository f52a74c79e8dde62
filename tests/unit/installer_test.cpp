//===- installer_test.cpp - The installer's own rules, without a package ------===//
#include <gtest/gtest.h>

#include "installer/extract.h"
#include "installer/installer.h"
#include "installer/setup_command.h"
#include "startup/startup.h"
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
                                                          std::string(250, 'n')})
    EXPECT_EQ(WorkFilePath(work, name), std::nullopt) << name;
}

}  // namespace
}  // namespace qd
