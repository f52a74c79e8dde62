//===- startup.cpp - Entry work: run modes and the work directory ------------===//
//
// Chooses the run mode from the switch, keeps the mode flags that error
// reporting reads, and gives an installer run a fresh work directory in the
// temporary directory, which it removes afterwards if the run left it empty.
//
//===----------------------------------------------------------------------===//
#include "builder/builder.h"
#include "installer/installer.h"
#include "package/script.h"
#include "platform/platform.h"
#include "startup/run_state.h"
#include "startup/startup.h"
#include "text/text.h"
#include "ui/messages.h"
#include "ui/report_error.h"

namespace qd {
namespace {

// Makes the work directory "QD....tmp" in the temporary directory, fresh: a
// name that exists by then is never reused. Returns whether a directory was
// really created. When none can be made, WorkDirectory stays the temporary
// directory (or empty when there is none) and nothing is removed at the end.
bool CreateWorkDirectory(platform::DirectoryAccess access) {
  WorkDirectory = platform::TemporaryDirectory();
  if (WorkDirectory.empty()) return false;
  std::string name = platform::CreateTemporaryFile(WorkDirectory, "QD");
  if (name.empty() || !platform::RemoveFile(name)) return false;
  // The directory's path and its separator must fit a 260-character buffer.
  if (name.size() + 1 > platform::MaxText) return false;
  if (!platform::MakeDirectory(name, access)) return false;
  WorkDirectory = name + platform::PathSeparator;
  return true;
}

// An installer run's work directory. An administrator's run (packages are
// usually run elevated) gets one that only administrators can write into,
// and without one it stops with error 8 rather than unpack into the shared
// temporary directory, where any program of the user could put files beside
// the setup program. Anyone else's run goes on there, silently.
bool PrepareWorkDirectory() {
  const bool elevated = platform::IsUserAdministrator();
  const bool created = CreateWorkDirectory(elevated ? platform::DirectoryAccess::Administrators
                                                    : platform::DirectoryAccess::Default);
  if (!created && elevated) ReportError(error::WorkDirectory, std::string(ScriptFileName).c_str());
  return created;
}

}  // namespace

RunMode ChooseRunMode(std::string_view argumentText) {
  std::string_view switchText = argumentText.substr(0, 2);
  if (text::EqualsIgnoringCase(switchText, "/?")) return RunMode::Help;
  if (text::EqualsIgnoringCase(switchText, "/m")) return RunMode::Build;
  if (text::EqualsIgnoringCase(switchText, "/h")) return RunMode::SilentInstall;
  return RunMode::UiInstall;
}

int ProgramMain(void* instance, std::string_view argumentText) {
  platform::InitControls();
  BuildMode = 0;
  switch (ChooseRunMode(argumentText)) {
    case RunMode::Help:
      platform::ShowMessageBox(messages::HelpText, messages::HelpCaption,
                               platform::BoxStyle::Information);
      return 0;
    case RunMode::Build:
      BuildMode = 1;
      return BuildPackage(argumentText);
    case RunMode::SilentInstall:
      SilentMode = 1;
      break;
    case RunMode::UiInstall:
      break;
  }
  const bool created = PrepareWorkDirectory();
  int result = RunInstaller(SilentMode, instance);
  if (created) platform::RemoveEmptyDirectory(WorkDirectory);
  return result;
}

}  // namespace qd
