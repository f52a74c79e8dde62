//===- installer.cpp - The installer run --------------------------------------===//
//
// The installer run is not built yet: this build can make packages and show
// its help, and says so plainly when it is run as a package.
//
//===----------------------------------------------------------------------===//
#include "installer/installer.h"

#include "platform/platform.h"

namespace qd {

int RunInstaller(int silentMode, void*) {
  if (silentMode == 0) {
    platform::ShowMessageBox("The installer is not built yet.", "Qd Engine Update",
                             platform::BoxStyle::Plain);
  }
  return -1;
}

}  // namespace qd
