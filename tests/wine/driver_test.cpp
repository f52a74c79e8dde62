//===- driver_test.cpp - The Windows test driver reads and presses boxes ----===//
//
// Every Windows-side test relies on the driver; these check it against
// message boxes whose contents the test chooses.
//
//===----------------------------------------------------------------------===//
#include <gtest/gtest.h>

#include "support/driver_output.h"

namespace qd::test {
namespace {

const std::string MessageBoxProgram = QDPACK_WIN64_DIR "/tests/wine/message_box.exe";

TEST(Driver, ReadsABoxAndPressesOk) {
  DriverOutput out = Drive(MessageBoxProgram, {"--exit", "-1", "Caption\\n", "Line one\\nline two"});
  ASSERT_TRUE(out.errors.empty()) << out.raw;
  ASSERT_EQ(out.windows.size(), 1u) << out.raw;
  const DriverWindow& box = out.windows[0];
  EXPECT_EQ(box.className, "#32770");
  EXPECT_EQ(box.caption, "Caption\n");
  EXPECT_EQ(box.text, "Line one\nline two");
  EXPECT_EQ(box.icon, "information");
  ASSERT_NE(box.Control(1), nullptr) << out.raw;
  EXPECT_EQ(box.Control(1)->text, "OK");
  EXPECT_TRUE(box.Control(1)->enabled);
  EXPECT_EQ(box.pressed, 1);
  EXPECT_EQ(out.exitCode, -1) << "the full 32-bit exit code";
}

TEST(Driver, PressesTheChosenButtonOfEachBoxInTurn) {
  DriveOptions options;
  options.presses = {7, 6};
  DriverOutput out =
      Drive(MessageBoxProgram, {"--yesno", "First", "One?", "Second", "Two?"}, options);
  ASSERT_EQ(out.windows.size(), 2u) << out.raw;
  EXPECT_EQ(out.windows[0].caption, "First");
  EXPECT_EQ(out.windows[0].pressed, 7);
  EXPECT_EQ(out.windows[1].text, "Two?");
  EXPECT_EQ(out.windows[1].icon, "question");
  ASSERT_NE(out.windows[1].Control(6), nullptr) << out.raw;
  EXPECT_EQ(out.windows[1].Control(6)->text, "&Yes");
  EXPECT_EQ(out.exitCode, 6) << "the answer to the last box";
}

TEST(Driver, ReportsExitCodesBeyondEightBits) {
  DriverOutput out = Drive(MessageBoxProgram, {"--exit", "3010", "c", "t"});
  EXPECT_EQ(out.exitCode, 3010) << out.raw;
}

const std::string BusyWindowProgram = QDPACK_WIN64_DIR "/tests/wine/busy_window.exe";

TEST(Driver, FollowsAWindowThroughItsStatesWithoutInterruptingItsWork) {
  DriveOptions options;
  options.presses = {100, 100};
  DriverOutput out = Drive(BusyWindowProgram, {}, options);
  ASSERT_TRUE(out.errors.empty()) << out.raw;
  ASSERT_EQ(out.windows.size(), 2u) << "the busy state is never reported\n" << out.raw;
  const DriverWindow& ready = out.windows[0];
  EXPECT_EQ(ready.caption, "Busy Setup");
  EXPECT_FALSE(ready.text) << "not a message box";
  ASSERT_NE(ready.Control(103), nullptr) << out.raw;
  EXPECT_EQ(ready.Control(103)->text, "Ready");
  ASSERT_NE(ready.Control(102), nullptr) << out.raw;
  EXPECT_FALSE(ready.Control(102)->enabled);
  EXPECT_TRUE(ready.Control(102)->visible);
  EXPECT_EQ(ready.Control(100)->text, "&Next >");
  const DriverWindow& done = out.windows[1];
  ASSERT_NE(done.Control(100), nullptr) << out.raw;
  EXPECT_EQ(done.Control(100)->text, "Finish");
  EXPECT_EQ(done.Control(103)->text, "Done");
  EXPECT_EQ(out.exitCode, 0);
}

TEST(Driver, PressesCancelOfAWindow) {
  DriveOptions options;
  options.presses = {2};
  DriverOutput out = Drive(BusyWindowProgram, {}, options);
  ASSERT_EQ(out.windows.size(), 1u) << out.raw;
  EXPECT_EQ(out.exitCode, 6) << out.raw;
}

TEST(Driver, EndsAProgramThatDoesNotFinish) {
  DriveOptions options;
  options.presses = {0x4242};  // no such button: the box stays
  options.timeoutSeconds = 3;
  DriverOutput out = Drive(MessageBoxProgram, {"c", "t"}, options);
  EXPECT_TRUE(out.timedOut) << out.raw;
  EXPECT_FALSE(out.exitCode);
}

TEST(DriverOutputParser, ReadsEscapedFieldsAndFlagsUnreadableLines) {
  DriverOutput out = ParseDriverOutput(
      "window\t#32770\tA\\tB\\\\\r\n"
      "text\tx\\ny\r\n"
      "icon\twarning\r\n"
      "control\t65535\tStatic\t0\t1\tx\\ny\r\n"
      "press\t2\r\n"
      "garbage\r\n"
      "exit\t-1\r\n");
  ASSERT_EQ(out.windows.size(), 1u);
  EXPECT_EQ(out.windows[0].caption, "A\tB\\");
  EXPECT_EQ(out.windows[0].text, "x\ny");
  EXPECT_EQ(out.windows[0].icon, "warning");
  ASSERT_EQ(out.windows[0].controls.size(), 1u);
  EXPECT_FALSE(out.windows[0].controls[0].enabled);
  EXPECT_TRUE(out.windows[0].controls[0].visible);
  EXPECT_EQ(out.windows[0].pressed, 2);
  EXPECT_EQ(out.exitCode, -1);
  EXPECT_EQ(out.errors.size(), 1u);
}

}  // namespace
}  // namespace qd::test
