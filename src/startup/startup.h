//===- startup.h - The entry point's work: run modes ------------------------===//
//
// The platform's entry point hands the argument text to ProgramMain, which
// chooses the run mode from its switch, runs the help box, the builder or
// the installer, and turns what they return into what the user sees and
// the exit code.
//
//===----------------------------------------------------------------------===//
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "outcome/outcome.h"

namespace qd {

enum class RunMode { Help, Build, SilentInstall, UiInstall };

// Only the first two characters of the argument text count, without regard
// to case: "/?" help, "/m" build, "/h" silent install, anything else
// (the empty text included) an install with the dialog.
RunMode ChooseRunMode(std::string_view argumentText);

// The argument text of a command line: what follows the program's name (in
// double quotes up to the closing one, else up to the first blank) and the
// blanks after it. A switch right behind the closing quote counts.
std::string_view ArgumentTextOf(std::string_view commandLine);

// An installer run's argument text without its "/log=FILE" words, and the
// FILE of the last of them (none when it is empty). A word begins at the
// start of the text or after a blank; double quotes hold blanks in it and
// are not part of it, so "/log=C:\My Logs\qd.log" and /log="C:\My Logs\qd.log"
// both name that file. A text without such a word comes back unchanged.
struct LogSwitches {
  std::string arguments;
  std::optional<std::string> logFile;
};
LogSwitches TakeLogSwitches(std::string_view argumentText);

// What a failure shows and ends with, in a run of `mode`: the decoder's box
// first when an item did not decode; then the script's text for the error,
// or the fallback box, in an install with the dialog (no box in a silent
// run or a build, nor for a cancel). A silent run that fails says so on the
// console, where the platform has one: "qdpack: error N: " and the text.
// Returns the exit code, -1.
int ReportFailure(const Failure& failure, RunMode mode);

// What the native build answers before the product's run modes, as a tool
// on a build server: "--help" or "-h" (the usage, exit 0), "--version" (exit
// 0), and a run as an installer whose own file holds no package (the usage,
// exit 2) instead of trying to install itself. nullopt: the product's run
// modes go on, as they always do on Windows.
struct ToolAnswer {
  int exitCode = 0;
  std::string text;
  bool isError = false;  // for standard error
};
[[nodiscard]] std::optional<ToolAnswer> AnswerAsTool(std::string_view argumentText, std::string_view version);

// The entry point's work, after the platform has split off the program name:
// `argumentText` is the command line without the program and the blanks after
// it. Returns the process exit code.
int ProgramMain(void* instance, std::string_view argumentText);

}  // namespace qd
