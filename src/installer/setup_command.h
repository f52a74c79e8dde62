//===- setup_command.h - Running the package's setup program -----------------===//
//
// Once the listed files are unpacked, the installer runs the setup program
// that the script names ([Cmd] FileName), from the work directory, with
// switches taken from its own command line, and waits for it to end.
//
//===----------------------------------------------------------------------===//
#pragma once

#include <cstdint>
#include <functional>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "installer/extract.h"
#include "outcome/outcome.h"
#include "platform/platform.h"

namespace qd {

// Exit codes of a setup program that mean success.
inline constexpr std::int32_t SetupSucceeded = 0;
inline constexpr std::int32_t SetupNeedsRestart = 3010;
// What RunSetupCommand returns when the program could not be started: a
// failure like any exit code but those two.
inline constexpr std::int32_t SetupNotStarted = -1;

// The switches passed on, for the installer's arguments (the command line
// after its own path) in upper case: " /UNINSTALL" when they hold
// "/UNINSTALL" or "-UNINSTALL"; else nothing when they hold "/INSTALL" or
// "-INSTALL"; else " /NOSHARECOUNT"; then each of " /QDHELPONVISTA",
// " /STARTSERVICE" and " /VIOLATEVISTALOGO" whose text stands in them with
// either sign. Plain substring tests; the program's own path is not
// searched, since a folder name is no switch.
std::string SetupSwitches(std::string_view upperArguments);

// The command for [Cmd] FileName `fileName` in the work directory, with
// `switches` appended; `exists` tells whether a path names a file. The
// program is the shortest stretch of the name up to a blank (or all of it)
// that names a file in the work directory, ".exe" added when that stretch
// has no extension, as the system would search for it, but only there and
// only under names the item-name rule accepts (package/item_name.h,
// SetupProgramNames). nullopt when no such file exists or the command line
// would be longer than its 360-character buffer holds.
[[nodiscard]] std::optional<platform::ProgramCommand> SetupCommandFor(std::string_view workDirectory,
                                                                       std::string_view fileName,
                                                                       std::string_view switches,
                                                                       bool (*exists)(std::string_view path));

// Runs the setup program and returns its exit code, unchanged (3010
// included), or SetupNotStarted. A script without [Cmd] FileName, or whose
// program is not a plain file name, is error 4: nothing is started. While
// the program runs, `whileWaiting` lets a window answer (see
// platform::RunProgram).
Outcome<std::int32_t> RunSetupCommand(const Installation& installation,
                                      const std::function<void()>& whileWaiting = {});

}  // namespace qd
