//===- windows_boxes_test.cpp - The boxes the Windows build shows ----------===//
//
// The help box of QdPack.exe and the error boxes start-up shows, read from
// the screen by the driver under wine: caption, text, icon and exit code.
//
//===----------------------------------------------------------------------===//
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "support/driver_output.h"
#include "support/files.h"
#include "support/process.h"

namespace qd::test {
namespace {

const std::string QdPack = QDPACK_WIN64_DIR "/src/QdPack.exe";
const std::string ReportErrorProgram = QDPACK_WIN64_DIR "/tests/wine/report_error.exe";

TEST(WindowsBoxes, HelpSwitchShowsTheHelpBoxAndExitsZero) {
  DriverOutput out = Drive(QdPack, {"/?"});
  ASSERT_TRUE(out.errors.empty()) << out.raw;
  ASSERT_EQ(out.windows.size(), 1u) << out.raw;
  EXPECT_EQ(out.windows[0].caption, "Qd Engine Update Help");
  EXPECT_EQ(out.windows[0].text,
            "\nValid Command line options:\n\n  QdEngineUpdate /h [silent install]\n"
            "  QdEngineUpdate [UI Install]\n");
  EXPECT_EQ(out.windows[0].icon, "information");
  EXPECT_EQ(out.exitCode, 0);
}

const std::string ScriptWithTexts =
    "[CMD]\r\nLANG = ENU\r\nTitle = Qd Engine Setup\r\n\r\n[ENU]\r\n"
    "Err04 = Installer not properly configured. Please try again.\r\nErr05 = @not a text\r\n";

struct BoxCase {
  const char* behaviour;
  std::optional<std::string> script;  // written as SetupQd.ini; nullopt: no such file
  std::vector<std::string> args;      // after the error number and the path
  int errorNumber;
  bool passPath = true;  // false: a null script path
  // The expected box; no caption: no box at all.
  std::optional<std::string> caption;
  std::string text;
  std::string icon;
};

TEST(WindowsBoxes, ReportedErrorsShowTheScriptsTextOrTheFallbackAndExitMinusOne) {
  const std::string fallback = "Unable to find SetupQd.ini file.  Exiting.";
  const std::vector<BoxCase> cases = {
      {"the script's text under its title, as a warning", ScriptWithTexts, {}, 4, true,
       "Qd Engine Setup", "Installer not properly configured. Please try again.", "warning"},
      {"no text for the error: the fallback box names the path", ScriptWithTexts, {}, 3, true,
       "Error Code: 3 (@PATH@)\n", fallback, "none"},
      {"a text starting with @ counts as missing", ScriptWithTexts, {}, 5, true,
       "Error Code: 5 (@PATH@)\n", fallback, "none"},
      {"no LANG: the texts come from ENU", "[Cmd]\r\nTitle=T\r\n[ENU]\r\nErr09=Not an administrator.\r\n", {}, 9,
       true, "T", "Not an administrator.", "warning"},
      {"an empty LANG names no section: the fallback", "[Cmd]\r\nLANG=\r\n[ENU]\r\nErr04=x\r\n", {}, 4, true,
       "Error Code: 4 (@PATH@)\n", fallback, "none"},
      {"no title: the caption is @", "[ENU]\r\nErr07=Setup failed.\r\n", {}, 7, true, "@", "Setup failed.",
       "warning"},
      {"a null script path gives the fallback", std::nullopt, {}, 3, false, "Error Code: 3 ((null))\n", fallback,
       "none"},
      {"silent mode shows nothing", ScriptWithTexts, {"silent"}, 4, true, std::nullopt, "", ""},
      {"build mode shows nothing", ScriptWithTexts, {"build"}, 4, true, std::nullopt, "", ""},
      {"build mode shows no fallback either", std::nullopt, {"build"}, 3, false, std::nullopt, "", ""},
      {"error 6 (a cancel) shows nothing", ScriptWithTexts, {}, 6, true, std::nullopt, "", ""},
  };
  for (const BoxCase& c : cases) {
    ScratchDir dir;
    const auto script = dir / "SetupQd.ini";
    if (c.script) WriteText(script, *c.script);
    const std::string path = WinePath(script.string());
    std::vector<std::string> args{std::to_string(c.errorNumber), c.passPath ? path : "-"};
    args.insert(args.end(), c.args.begin(), c.args.end());

    DriverOutput out = Drive(ReportErrorProgram, args);
    EXPECT_TRUE(out.errors.empty()) << c.behaviour << "\n" << out.raw;
    EXPECT_EQ(out.exitCode, -1) << c.behaviour << "\n" << out.raw;
    if (!c.caption) {
      EXPECT_TRUE(out.windows.empty()) << c.behaviour << "\n" << out.raw;
      continue;
    }
    ASSERT_EQ(out.windows.size(), 1u) << c.behaviour << "\n" << out.raw;
    std::string caption = *c.caption;
    if (auto at = caption.find("@PATH@"); at != std::string::npos) caption.replace(at, 6, path);
    EXPECT_EQ(out.windows[0].caption, caption) << c.behaviour;
    EXPECT_EQ(out.windows[0].text, c.text) << c.behaviour;
    EXPECT_EQ(out.windows[0].icon, c.icon) << c.behaviour;
  }
}

TEST(WindowsBoxes, ChecksumFailureBoxNamesTheBareScriptName) {
  // Before the script is unpacked the installer passes the bare name, which
  // the platform looks up in its own directory and does not find.
  DriverOutput out = Drive(ReportErrorProgram, {"2", "SetupQd.ini"});
  ASSERT_EQ(out.windows.size(), 1u) << out.raw;
  EXPECT_EQ(out.windows[0].caption, "Error Code: 2 (SetupQd.ini)\n");
  EXPECT_EQ(out.windows[0].text, "Unable to find SetupQd.ini file.  Exiting.");
  EXPECT_EQ(out.windows[0].icon, "none");
  EXPECT_EQ(out.exitCode, -1);
}

}  // namespace
}  // namespace qd::test
