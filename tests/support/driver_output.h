//===- driver_output.h - What the Windows test driver saw -------------------===//
//
// tests/wine/programs/driver.cpp starts a Windows program under wine, reports
// each of its message boxes and dialogs, presses their buttons and reports
// the exit code. Drive() runs it; ParseDriverOutput() reads its report.
//
//===----------------------------------------------------------------------===//
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/process.h"

namespace qd::test {

struct DriverControl {
  int id = 0;
  std::string className;
  bool enabled = false;
  bool visible = false;
  std::string text;
};

// A rectangle on the screen, in pixels: right and bottom lie just outside.
struct ScreenRect {
  int left = 0, top = 0, right = 0, bottom = 0;
};

// One state of a top-level window, as the driver found it before pressing.
struct DriverWindow {
  std::string className;  // "#32770" for message boxes and dialogs
  std::string caption;
  std::optional<ScreenRect> frame;   // the window
  std::optional<ScreenRect> client;  // its client area
  std::optional<std::string> text;  // a message box's text (static control 0xFFFF)
  // A message box's icon: "none", "warning", "information", "question",
  // "error" or "other"; empty when the window has no icon control.
  std::string icon;
  std::vector<DriverControl> controls;
  std::optional<int> pressed;

  // The first control with this id, or null.
  const DriverControl* Control(int id) const;
};

// The system's colours in the driver's session, as 0xRRGGBB.
struct SystemColours {
  std::uint32_t window = 0;
  std::uint32_t buttonFace = 0;
  std::uint32_t buttonText = 0;
};

// What became of input given to a window at work (the driver's --busy).
struct DriverBusy {
  int id = 0;              // the disabled button clicked twice, before Enter was pressed
  bool answered = false;   // the window answered a message within a second
  bool hung = true;        // the system took the window as not responding
};

struct DriverOutput {
  std::optional<SystemColours> colours;
  std::vector<DriverWindow> windows;
  std::optional<DriverBusy> busy;
  std::optional<std::int32_t> exitCode;  // the program's full exit code
  bool timedOut = false;
  std::vector<std::string> errors;  // the driver's own complaints and unreadable lines
  std::string raw;                  // the report as it came, for failure messages
};

DriverOutput ParseDriverOutput(std::string_view report);

struct DriveOptions {
  std::vector<int> presses;  // button ids for the windows in turn; then IDOK
  int timeoutSeconds = 30;
  std::string hold;  // a file of this machine: the driver waits at each window while it exists
  // A file of this machine: once it exists while the window is at work, the
  // driver gives the window a user's input, checks that it answers, and
  // deletes the file (which the program at work waits on).
  std::string busy;
  RunOptions run;  // working directory and environment of the driver
  std::vector<std::string> environment;  // "NAME=value" set for the program inside wine
  bool glue = false;  // the first argument right behind the program's quoted path, with no blank
};

// Runs the 64-bit Windows program at `program` (a path of this machine) with
// `args` under the driver in wine. Needs a display (xvfb-run).
DriverOutput Drive(const std::string& program, const std::vector<std::string>& args,
                   const DriveOptions& options = {});

}  // namespace qd::test
