//===- report_error_test.cpp - What the user sees when something fails -----===//
//
// On POSIX a message box is its caption and its text on standard error.
//
//===----------------------------------------------------------------------===//
#include <gtest/gtest.h>

#include <string>

#include "startup/startup.h"
#include "support/files.h"
#include "ui/report_error.h"

namespace qd {
namespace {

std::string Box(const std::string& caption, const std::string& text) { return caption + "\n" + text + "\n"; }

const std::string FallbackText = "Unable to find SetupQd.ini file.  Exiting.";

// What a failure shows in each run mode, and that it always ends with -1.
TEST(ReportFailure, ShowsTheScriptsTextOrTheFallbackBoxInAnInstallWithTheDialogOnly) {
  test::ScratchDir dir;
  const auto script = [&dir](std::string_view name, std::string_view text) {
    test::WriteText(dir.path() / name, text);
    return (dir.path() / name).string();
  };
  const std::string german = script("de.ini", "[CMD]\nLANG=DEU\nTitle=Qd Setup\n[DEU]\nErr04=Falsch konfiguriert.\n");
  const std::string english = script("en.ini", "[Cmd]\nTitle=T\n[ENU]\nErr09=You must be an administrator.\n");
  const std::string untitled = script("untitled.ini", "[ENU]\nErr07=Setup failed.\nErr06=x\nErr04=text\n");
  const std::string emptyLanguage = script("empty.ini", "[CMD]\nLANG=\n[ENU]\nErr05=text\n");
  const std::string at = script("at.ini", "[ENU]\nErr05=@text\n");
  const std::string longPath(400, 'p');

  const struct Case {
    const char* behaviour;
    Failure failure;
    RunMode mode;
    std::string shown;
  } cases[] = {
      {"the script's text under its title", {4, german}, RunMode::UiInstall, Box("Qd Setup", "Falsch konfiguriert.")},
      {"English without a language", {9, english}, RunMode::UiInstall, Box("T", "You must be an administrator.")},
      {"a missing title leaves the caption at @", {7, untitled}, RunMode::UiInstall, Box("@", "Setup failed.")},
      {"no script yet", {5, "SetupQd.ini"}, RunMode::UiInstall, Box("Error Code: 5 (SetupQd.ini)\n", FallbackText)},
      {"an empty language", {5, emptyLanguage}, RunMode::UiInstall,
       Box("Error Code: 5 (" + emptyLanguage + ")\n", FallbackText)},
      {"a text that begins with @", {5, at}, RunMode::UiInstall, Box("Error Code: 5 (" + at + ")\n", FallbackText)},
      {"a key that is missing", {5, untitled}, RunMode::UiInstall,
       Box("Error Code: 5 (" + untitled + ")\n", FallbackText)},
      {"no script at all", {3, std::nullopt}, RunMode::UiInstall, Box("Error Code: 3 ((null))\n", FallbackText)},
      {"a long path cut to the caption's buffer", {2, longPath}, RunMode::UiInstall,
       Box(("Error Code: 2 (" + longPath).substr(0, 259), FallbackText)},
      {"no box in a silent run, one line on the console", {4, untitled}, RunMode::SilentInstall,
       "qdpack: error 4: text\n"},
      {"nothing in a build", {4, untitled}, RunMode::Build, ""},
      {"nothing for a cancel", {6, untitled}, RunMode::UiInstall, ""},
      {"the decoder's box first, in every mode", {.error = 5, .decoderResult = 3}, RunMode::Build,
       Box("Value of uiRep", "3")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.behaviour);
    testing::internal::CaptureStderr();
    const int exitCode = ReportFailure(c.failure, c.mode);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.shown);
    EXPECT_EQ(exitCode, -1);
  }
}

}  // namespace
}  // namespace qd
