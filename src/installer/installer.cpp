//===- installer.cpp - The installer run -----------------------------------===//
//
// From the package's own file to the exit code. Until the script's path in
// the work directory is formed, failures are reported against the bare name
// "SetupQd.ini", which finds no texts, so the fallback box shows them;
// nothing is written into the work directory before the checksum has been
// found right.
//
//===----------------------------------------------------------------------===//
#include "installer/installer.h"

#include "installer/setup_command.h"
#include "package/item_name.h"
#include "package/layout.h"
#include "package/script.h"
#include "platform/platform.h"
#include "text/text.h"
#include "ui/messages.h"
#include "ui/progress_dialog.h"

namespace qd {
namespace {

constexpr std::string_view NoTitle = "<No title>";

// The silent branch: unpack, run the setup program, and clean up after a
// success; a failed setup program leaves the files for inspection.
Outcome<int> RunSilently(Installation& installation) {
  if (auto unpacked = ExtractPackageFiles(installation); !unpacked) return unpacked.failure();
  const auto result = RunSetupCommand(installation);
  if (!result) return result.failure();
  if (*result != SetupSucceeded && *result != SetupNeedsRestart) return FailureOf(error::SetupFailed, installation);
  DeleteExtractedFiles(installation);
  return *result;
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
Outcome<int> RunWithDialog(Installation& installation, const std::string& title, void* instance) {
  DialogWork work{.unpack = [&installation](const Breathe& breathe) { return ExtractPackageFiles(installation, breathe); },
                  .runSetup = [&installation](const Breathe& breathe) -> Outcome<SetupEnd> {
                    const auto exitCode = RunSetupCommand(installation, breathe);
                    if (!exitCode) return exitCode.failure();
                    return SetupEndOf(*exitCode);
                  }};
  const auto outcome = RunProgressDialog(installation.scriptPath, std::move(work), instance);
  if (!outcome) return outcome.failure();
  const EventLog& log = installation.log;
  // A dialog that cannot be shown installs nothing, so the run must not end
  // as if it had finished: the package's own program lacks what it needs
  // (its dialog resources, or the memory for them), as with a damaged item.
  if (outcome->result == platform::dialog::NotShown) {
    log.Note("Dialog: it cannot be shown");
    return FailureOf(error::Package, installation);
  }
  if (outcome->result == DialogCancelled) {
    log.Note("Dialog: cancelled");
    return FailureOf(error::Cancel, installation);
  }
  log.Note("Dialog: finished");
  if (!outcome->restartRequested) {
    DeleteExtractedFiles(installation);
    return SetupSucceeded;
  }
  const std::string question =
      ReadScriptValue(outcome->language, messages::RestartQuestionKey, installation.scriptPath);
  const bool restart =
      platform::ShowMessageBox(question, title, platform::BoxStyle::Question) == platform::BoxAnswer::Yes;
  log.Note(restart ? "Restart: agreed to" : "Restart: put off; the unpacked files stay for it");
  if (restart) RestartSystem(installation);
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

void RestartSystem(const Installation& installation) {
  if (platform::IsNtPlatform()) platform::EnableShutdownPrivilege();
  DeleteExtractedFiles(installation);
  platform::RequestRestart();
  installation.log.Note("Restart: requested");
}

Outcome<int> RunInstaller(const InstallerRun& run) {
  Installation installation{.workDirectory = run.workDirectory,
                            .scriptPath = std::string(ScriptFileName),
                            .arguments = run.arguments,
                            .log = run.log};
  const EventLog& log = installation.log;
  InstallerPackage& package = installation.package;
  const std::string& ownFile = run.ownFile;
  package.file = platform::OpenForReading(ownFile);
  if (!package.file.IsOpen()) {
    log.Note("Own file: " + ownFile + " cannot be opened");
    return FailureOf(error::File, installation);
  }
  // Its size is asked for before the checksum only to log it: a checksum
  // that does not match is still the failure reported first.
  const auto size = platform::FileSize(package.file);
  log.Note("Own file: " + ownFile + ", " + (size ? text::Decimal(static_cast<std::int64_t>(*size)) : "?") + " bytes");
  const auto checksum = platform::ComputeImageChecksum(ownFile);
  if (!checksum) {
    log.Note("Image checksum: it cannot be computed");
    return FailureOf(error::Checksum, installation);
  }
  if (checksum->stored != checksum->computed) {
    log.Note("Image checksum: the package holds " + text::Hex(checksum->stored) + ", its bytes sum to " +
             text::Hex(checksum->computed));
    return FailureOf(error::Checksum, installation);
  }
  log.Note("Image checksum " + text::Hex(checksum->computed) + " verified");
  if (!size || *size < TailZeroSize) return FailureOf(error::File, installation);
  package.readLength = *size - TailZeroSize;

  log.Note("Work directory: " + platform::ShownPath(installation.workDirectory));
  installation.scriptPath = installation.workDirectory + std::string(ScriptFileName);
  const std::string stubCopy = installation.workDirectory + std::string(StubCopyFileName);
  if (installation.scriptPath.size() > platform::MaxText) return FailureOf(error::WorkDirectory, installation);
  platform::File stub = platform::Open(stubCopy, platform::OpenMode::CreateNew);
  if (!stub.IsOpen()) return FailureOf(error::WorkDirectory, installation);
  if (auto copied = ExtractItem(installation, StubCopyFileName, std::move(stub), Unpack::StubImage); !copied)
    return copied.failure();
  // The copy only served to find the stub's end; one that stays costs nothing.
  static_cast<void>(platform::RemoveFile(stubCopy));

  platform::File script = platform::Open(installation.scriptPath, platform::OpenMode::CreateNew);
  if (!script.IsOpen()) return FailureOf(error::WorkDirectory, installation);
  if (auto unpacked = ExtractItem(installation, ScriptFileName, std::move(script), Unpack::Item); !unpacked)
    return unpacked.failure();
  const std::string title = ReadScriptValue(script::Cmd, script::Title, installation.scriptPath, NoTitle);
  log.Note("Title: " + title);

  if (!platform::IsUserAdministrator()) {
    if (platform::IsNtPlatform()) {
      log.Note("Rights: not an administrator");
      return FailureOf(error::NotAdministrator, installation);
    }
    log.Note("Rights: not an administrator, which this system does not require");
  } else {
    log.Note("Rights: an administrator");
  }
  if (run.silent) return RunSilently(installation);
  return RunWithDialog(installation, title, run.instance);
}

}  // namespace qd
