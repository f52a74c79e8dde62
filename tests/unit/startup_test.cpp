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

// As a tool on a build server, the native program answers for itself; run
// as itself, it holds no package, and shows how it is used instead of trying
// to install itself: no work directory is made.
TEST(Tool, AnswersHelpAndVersionAndWillNotInstallItself) {
  const struct {
    std::vector<std::string> args;
    int exitCode;
    std::string out, errStart;
  } cases[] = {
      {{"--help"}, 0, std::string(messages::ToolUsage), ""},
      {{"-h"}, 0, std::string(messages::ToolUsage), ""},
      {{"--version"}, 0, "qdpack " QDPACK_VERSION "\n", ""},
      {{}, 2, "", "qdpack: this program holds no package to install\nusage: qdpack /m SCRIPT"},
      {{"/h"}, 2, "", "qdpack: this program holds no package to install\nusage: qdpack /m SCRIPT"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.empty() ? "(none)" : c.args[0]);
    test::ScratchDir temp;
    const auto result = RunWithTemp(c.args, temp.path());
    EXPECT_EQ(result.exitCode, c.exitCode);
    EXPECT_EQ(result.out, c.out);
    EXPECT_TRUE(result.err.starts_with(c.errStart)) << result.err;
    EXPECT_TRUE(std::filesystem::is_empty(temp.path()));
  }
}

}  // namespace
}  // namespace qd
