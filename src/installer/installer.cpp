//===- installer.cpp - The installer run -----------------------------------===//
//
// From the package's own file to the exit code. Until the script is
// unpacked, failures are reported against the bare name "SetupQd.ini", which
// finds no texts, so the fallback box shows them; nothing is written into the
// work directory before the checksum has been found right.
//
//===----------------------------------------------------------------------===//
#include "installer/installer.h"

#include "installer/extract.h"
#include "installer/setup_command.h"
#include "package/checksum.h"
#include "package/layout.h"
#include "package/script.h"
#include "platform/platform.h"
#include "startup/run_state.h"
#include "ui/messages.h"
#include "ui/progress_dialog.h"
#include "ui/report_error.h"

namespace qd {
namespace {

constexpr std::string_view StubCopyName = "temp.exe";
constexpr std::string_view NoTitle = "<No title>";

[[noreturn]] void Fail(int errorNumber, const std::string& scriptPath) {
  ReportError(errorNumber, scriptPath.c_str());
}

// The silent branch: unpack, run the setup program, and clean up after a
// success; a failed setup program leaves the files for inspection.
int RunSilently(InstallerPackage& package, const std::string& scriptPath) {
  ExtractPackageFiles(scriptPath, package);
  const std::int32_t result = RunSetupCommand(scriptPath);
  if (result != SetupSucceeded && result != SetupNeedsRestart) return -1;
  DeleteExtractedFiles(scriptPath);
  return result;
}

// What a setup program's exit code means to the dialog: 0 and 3010 succeed.
SetupEnd SetupEndOf(std::int32_t exitCode) {
  if (exitCode == SetupSucceeded) return SetupEnd::Succeeded;
  if (exitCode == SetupNeedsRestart) return SetupEnd::RestartRequested;
  return SetupEnd::Failed;
}

// The branch with the dialog: the dialog unpacks and runs the setup program
// when the user says so; afterwards the unpacked files are removed, unless
// the setup program asked for a restart and the user puts it off, in which
// case they stay for it.
int RunWithDialog(InstallerPackage& package, const std::string& scriptPath, const std::string& title,
                  void* instance) {
  DialogWork work{.unpack = [&](const Breathe& breathe) { ExtractPackageFiles(scriptPath, package, breathe); },
                  .runSetup = [&](const Breathe& breathe) { return SetupEndOf(RunSetupCommand(scriptPath, breathe)); }};
  const DialogOutcome outcome = RunProgressDialog(scriptPath, std::move(work), instance);
  // A dialog that cannot be shown installs nothing, so the run must not end
  // as if it had finished: the package's own program lacks what it needs
  // (its dialog resources, or the memory for them), as with a damaged item.
  if (outcome.result == platform::dialog::NotShown) Fail(error::Package, scriptPath);
  if (outcome.result == DialogCancelled) Fail(error::Cancel, scriptPath);
  if (!outcome.restartRequested) {
    DeleteExtractedFiles(scriptPath);
    return SetupSucceeded;
  }
  const std::string question = ReadScriptValue(outcome.language, messages::RestartQuestionKey, scriptPath);
  if (platform::ShowMessageBox(question, title, platform::BoxStyle::Question) == platform::BoxAnswer::Yes)
    RestartSystem(scriptPath);
  return SetupNeedsRestart;
}

}  // namespace

std::string OwnFileFromCommandLine(std::string_view commandLine) {
  std::string path(commandLine.substr(0, platform::MaxText));
  if (const std::size_t quote = path.rfind('"'); quote != std::string::npos) {
    path.resize(quote);
    if (const std::size_t first = path.find('"'); first != std::string::npos) path.erase(0, first + 1);
  }
  if (const std::size_t dot = path.rfind('.'); dot != std::string::npos) {
    if (dot + 4 < path.size()) path.resize(dot + 4);
  } else {
    path += ".exe";
  }
  return path;
}

void RestartSystem(const std::string& scriptPath) {
  if (platform::IsNtPlatform()) platform::EnableShutdownPrivilege();
  DeleteExtractedFiles(scriptPath);
  platform::RequestRestart();
}

int RunInstaller(int silentMode, void* instance) {
  std::string scriptPath(ScriptFileName);
  const std::string ownFile = OwnFileFromCommandLine(platform::CommandLine());

  InstallerPackage package;
  package.file = platform::OpenForReading(ownFile);
  if (!package.file.IsOpen()) Fail(error::File, scriptPath);
  if (!CheckImageChecksum(ownFile, Stamp::No)) Fail(error::Checksum, scriptPath);
  const auto size = platform::FileSize(package.file);
  if (!size || *size < TailZeroSize) Fail(error::File, scriptPath);
  package.readLength = *size - TailZeroSize;

  scriptPath = WorkDirectory + std::string(ScriptFileName);
  const std::string stubCopy = WorkDirectory + std::string(StubCopyName);
  if (scriptPath.size() > platform::MaxText) Fail(error::WorkDirectory, scriptPath);
  platform::File stub = platform::CreateAlways(stubCopy);
  if (!stub.IsOpen()) Fail(error::WorkDirectory, scriptPath);
  ExtractItem(package, std::move(stub), Unpack::StubImage, scriptPath);
  platform::RemoveFile(stubCopy);

  platform::File script = platform::CreateAlways(scriptPath);
  if (!script.IsOpen()) Fail(error::WorkDirectory, scriptPath);
  ScriptPath = scriptPath;
  ExtractItem(package, std::move(script), Unpack::Item, scriptPath);
  const std::string title = ReadScriptValue(script::Cmd, script::Title, scriptPath, NoTitle);

  if (!platform::IsUserAdministrator() && platform::IsNtPlatform()) Fail(error::NotAdministrator, scriptPath);
  if (silentMode != 0) return RunSilently(package, scriptPath);
  return RunWithDialog(package, scriptPath, title, instance);
}

}  // namespace qd
