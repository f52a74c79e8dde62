//===- run_mode.h - The run mode chosen by the command line -----------------===//
#pragma once

#include <string_view>

namespace qd {

enum class RunMode { Help, Build, SilentInstall, UiInstall };

// Only the first two characters of the argument text count, without regard
// to case: "/?" help, "/m" build, "/h" silent install, anything else
// (the empty text included) an install with the dialog.
RunMode ChooseRunMode(std::string_view argumentText);

}  // namespace qd
