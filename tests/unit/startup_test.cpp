//===- startup_test.cpp - Run modes and the help --------------------------===//
#include <gtest/gtest.h>

#include <filesystem>

#include "startup/startup.h"
#include "support/files.h"
#include "support/process.h"
#include "ui/messages.h"

namespace qd {
namespace {

// Runs the native program with its temporary directory at `temp`.
test::RunResult RunWithTemp(const std::vector<std::string>& args, const std::filesystem::path& temp) {
  test::RunOptions options;
  options.environment = {"TMPDIR=" + temp.string()};
  return test::Run(QDPACK_NATIVE_EXE, args, options);
}

TEST(RunMode, OnlyTheFirstTwoCharactersChooseTheMode) {
  struct Case {
    const char* argumentText;
    RunMode mode;
  } cases[] = {
      {"", RunMode::UiInstall},          {"/?", RunMode::Help},
      {"/?more", RunMode::Help},         {"/h", RunMode::SilentInstall},
      {"/H", RunMode::SilentInstall},    {"/help", RunMode::SilentInstall},
      {"/m script.ini", RunMode::Build}, {"/M", RunMode::Build},
      {"/Mx y", RunMode::Build},         {"-h", RunMode::UiInstall},
      {"h", RunMode::UiInstall},         {"/", RunMode::UiInstall},
      {"/x", RunMode::UiInstall},        {" /h", RunMode::UiInstall},
      {"-m a.ini", RunMode::UiInstall},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ChooseRunMode(c.argumentText), c.mode) << '"' << c.argumentText << '"';
}

// What WinMain's argument text would be, taken from the command line itself:
// a switch right behind the closing quote counts.
TEST(RunMode, TheArgumentTextFollowsTheProgramNameAndItsBlanks) {
  const struct {
    const char* commandLine;
    const char* argumentText;
  } cases[] = {
      {"\"C:\\path\\Pkg.exe\"/h", "/h"},       {"\"C:\\a b\\Pkg.exe\"  /h x", "/h x"},
      {"C:\\Pkg.exe\t/m a.ini", "/m a.ini"}, {"Pkg.exe", ""},
      {"\"unterminated /h", ""},               {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(ArgumentTextOf(c.commandLine), c.argumentText) << c.commandLine;
}

TEST(Help, ShowsTheOptionsAndExitsWithZero) {
  test::ScratchDir temp;
  auto result = RunWithTemp({"/?"}, temp.path());
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.err, std::string(messages::HelpCaption) + "\n" + std::string(messages::HelpText) + "\n");
  EXPECT_TRUE(std::filesystem::is_empty(temp.path())) << "help made no work directory";
}

// The program run as itself is no package: its own file "qdpack.exe" is not
// found, error 3, and the work directory stays as the error left it.
TEST(InstallerRun, ARunThatEndsInAnErrorLeavesItsWorkDirectory) {
  test::ScratchDir temp;
  auto result = RunWithTemp({"/h"}, temp.path());
  EXPECT_EQ(result.exitCode, 255);
  ASSERT_EQ(std::distance(std::filesystem::directory_iterator(temp.path()), {}), 1);
  EXPECT_TRUE(std::filesystem::is_empty(std::filesystem::directory_iterator(temp.path())->path()));
}


}  // namespace
}  // namespace qd
