//===- installer.h - The installer run ---------------------------------------===//
#pragma once

namespace qd {

// Runs the package this program is a part of: unpacks, installs and cleans
// up. Returns the exit code: 0, 3010 (a restart is needed) or -1.
int RunInstaller(int silentMode, void* instance);

}  // namespace qd
