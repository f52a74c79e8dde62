//===- report_error_test.cpp - What the user sees when something fails -----===//
//
// ReportError ends the process, so every case runs in a child (death tests).
// On POSIX a message box is its caption and its text on standard error.
//
//===----------------------------------------------------------------------===//
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <regex>
#include <string>

#include "startup/run_state.h"
#include "support/files.h"
#include "ui/report_error.h"

namespace qd {
namespace {

// The exact standard error of a box, as a regular expression.
std::string Box(const std::string& caption, const std::string& text) {
  std::string exact = caption + "\n" + text + "\n";
  std::string pattern = "^";
  for (char c : exact) {
    if (std::string_view("\\^$.|?*+()[]{}").find(c) != std::string_view::npos) pattern += '\\';
    pattern += c;
  }
  return pattern + "$";
}

class ReportErrorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SilentMode = 0;
    BuildMode = 0;
  }
  std::string Script(std::string_view text) {
    auto path = dir_ / "SetupQd.ini";
    test::WriteText(path, text);
    return path.string();
  }
  test::ScratchDir dir_;
};

const auto ExitsWithMinusOne = ::testing::ExitedWithCode(255);

TEST_F(ReportErrorTest, ShowsTheScriptsTextUnderItsTitle) {
  auto script = Script("[CMD]\nLANG=DEU\nTitle=Qd Setup\n[DEU]\nErr04=Falsch konfiguriert.\n");
  EXPECT_EXIT(ReportError(4, script.c_str()), ExitsWithMinusOne, Box("Qd Setup", "Falsch konfiguriert."));
}

TEST_F(ReportErrorTest, FallsBackToEnglishWhenTheScriptNamesNoLanguage) {
  auto script = Script("[Cmd]\nTitle=T\n[ENU]\nErr09=You must be an administrator.\n");
  EXPECT_EXIT(ReportError(9, script.c_str()), ExitsWithMinusOne, Box("T", "You must be an administrator."));
}

TEST_F(ReportErrorTest, AMissingTitleLeavesTheCaptionAt) {
  auto script = Script("[ENU]\nErr07=Setup failed.\n");
  EXPECT_EXIT(ReportError(7, script.c_str()), ExitsWithMinusOne, Box("@", "Setup failed."));
}

TEST_F(ReportErrorTest, ShowsTheFallbackBoxWhenTheTextCannotBeFound) {
  const std::string fallback = "Unable to find SetupQd.ini file.  Exiting.";
  struct Case {
    const char* why;
    std::string script;
  } cases[] = {
      {"no script yet", ""},
      {"empty language", "[CMD]\nLANG=\n[ENU]\nErr05=text\n"},
      {"text begins with @", "[ENU]\nErr05=@text\n"},
      {"key missing", "[ENU]\nErr04=text\n"},
  };
  for (const Case& c : cases) {
    std::string path = c.script.empty() ? "SetupQd.ini" : Script(c.script);
    EXPECT_EXIT(ReportError(5, path.c_str()), ExitsWithMinusOne,
                Box("Error Code: 5 (" + path + ")\n", fallback))
        << c.why;
  }
}

TEST_F(ReportErrorTest, AcceptsANullScriptPath) {
  EXPECT_EXIT(ReportError(3, nullptr), ExitsWithMinusOne,
              Box("Error Code: 3 ((null))\n", "Unable to find SetupQd.ini file.  Exiting."));
}

TEST_F(ReportErrorTest, CutsAFallbackCaptionToItsBuffer) {
  std::string longPath(400, 'p');
  std::string caption = ("Error Code: 2 (" + longPath).substr(0, 259);
  EXPECT_EXIT(ReportError(2, longPath.c_str()), ExitsWithMinusOne,
              Box(caption, "Unable to find SetupQd.ini file.  Exiting."));
}

TEST_F(ReportErrorTest, ShowsNothingInSilentOrBuildModeOrForACancel) {
  auto script = Script("[ENU]\nErr04=text\nErr06=text\n");
  EXPECT_EXIT((SilentMode = 1, ReportError(4, script.c_str())), ExitsWithMinusOne, "^$");
  SilentMode = 0;
  EXPECT_EXIT((BuildMode = 1, ReportError(4, script.c_str())), ExitsWithMinusOne, "^$");
  BuildMode = 0;
  EXPECT_EXIT(ReportError(6, script.c_str()), ExitsWithMinusOne, "^$");
  EXPECT_EXIT(ReportError(4, nullptr), ExitsWithMinusOne, "Error Code: 4");
}

TEST_F(ReportErrorTest, EndsThroughTheNormalExitSoExitHandlersRun) {
  EXPECT_EXIT(
      {
        std::atexit([] { std::fputs("handler ran\n", stderr); });
        SilentMode = 1;
        ReportError(2, nullptr);
      },
      ExitsWithMinusOne, "^handler ran\n$");
}

}  // namespace
}  // namespace qd
