//===- installer.h - The installer run ------------------------------------------===//
//
// What a package does when it runs: it checks its own file, unpacks its
// script into the work directory, checks the user's rights, then unpacks the
// listed files, runs the setup program and cleans up, silently or through
// the progress dialog, which may end in the question whether to restart.
//
//===----------------------------------------------------------------------===//
#pragma once

#include <string>
#include <string_view>

namespace qd {

// Runs the package this program is a part of. Returns the exit code: 0,
// 3010 (the setup program asked for a restart) or -1. Reported failures end
// the process with -1 instead of returning.
int RunInstaller(int silentMode, void* instance);

// The program's own file, found in its command line as the installer finds
// it: cut at the last double quote, begun after the first one, and ended
// three characters after the last dot (so that switches behind the
// extension fall away), or given ".exe" when there is no dot. Only the first
// 259 characters of the command line count.
std::string OwnFileFromCommandLine(std::string_view commandLine);

// What a run that asked for a restart does when the user agrees: enables the
// shutdown privilege (on an NT-family system), deletes the unpacked files,
// and asks the system to restart.
void RestartSystem(const std::string& scriptPath);

}  // namespace qd
