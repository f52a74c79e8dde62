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

#include "installer/extract.h"
#include "outcome/outcome.h"

namespace qd {

// What start-up hands an installer run.
struct InstallerRun {
  bool silent = false;       // no dialog, no question
  void* instance = nullptr;  // the program's module (Windows), for the dialog
  // The work directory, ending with the separator.
  std::string workDirectory;
  // The package this program is a part of: its own file, as
  // OwnFileFromCommandLine finds it.
  std::string ownFile;
  // The argument text: the command line after the program's own path,
  // where the setup program's switches are looked for.
  std::string arguments;
  // Where each step of the run is logged.
  EventLog log;
};

// Runs the package `run.ownFile`. Returns the exit code: 0 or 3010 (the
// setup program asked for a restart), -1 when the dialog could not be
// finished; or the failure that stopped the run, which leaves the work
// directory and what was unpacked into it as they are. Each step is logged
// as it ends: the own file and its size, the image checksum, the work
// directory, every item unpacked, the title, the rights, the setup program
// and its exit code, the dialog's end and the restart, and the clean-up.
Outcome<int> RunInstaller(const InstallerRun& run);

// The program's own file, found in its command line as the installer finds
// it: cut at the last double quote, begun after the first one, and ended
// three characters after the last dot (so that switches behind the
// extension fall away), or given ".exe" when there is no dot. Only the first
// 259 characters of the command line count.
std::string OwnFileFromCommandLine(std::string_view commandLine);

// What a run that asked for a restart does when the user agrees: enables the
// shutdown privilege (on an NT-family system), deletes the unpacked files,
// and asks the system to restart.
void RestartSystem(const Installation& installation);

}  // namespace qd
