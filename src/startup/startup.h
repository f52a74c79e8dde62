//===- startup.h - The entry point's work: run modes ------------------------===//
//
// The platform's entry point hands the argument text to ProgramMain, which
// chooses the run mode from its switch and runs the help box, the builder or
// the installer.
//
//===----------------------------------------------------------------------===//
#pragma once

#include <string_view>

namespace qd {

enum class RunMode { Help, Build, SilentInstall, UiInstall };

// Only the first two characters of the argument text count, without regard
// to case: "/?" help, "/m" build, "/h" silent install, anything else
// (the empty text included) an install with the dialog.
RunMode ChooseRunMode(std::string_view argumentText);

// The entry point's work, after the platform has split off the program name:
// `argumentText` is the command line without the program and the blanks after
// it. Returns the process exit code.
int ProgramMain(void* instance, std::string_view argumentText);

}  // namespace qd
