//===- startup.cpp - Entry work: run modes, the work directory, the exit -----===//
//
// Chooses the run mode from the switch and hands over to the builder or the
// installer, giving an installer run a fresh work directory in the
// temporary directory, which it removes afterwards if the run left it
// empty. The builder and the installer return their failures; this is the
// one place that turns a failure into what the user sees, the build log's
// line and the exit code.
//
//===----------------------------------------------------------------------===//
#include "startup/startup.h"

#include "builder/builder.h"
#include "installer/installer.h"
#include "package/script.h"
#include "platform/platform.h"
#include "text/text.h"
#include "ui/messages.h"
#include "ui/report_error.h"

namespace qd {
namespace {

constexpr int FailureExitCode = -1;

int RunBuild(std::string_view argumentText) {
  BuildLog log;
  const auto built = BuildPackage(argumentText, log);
  if (built) return 0;
  log.Write(built.failure().logLine);
  return ReportFailure(built.failure(), RunMode::Build);
}

// An installer run in its own work directory, made only for it: packages
// usually run elevated, from folders others can write to, so a run never
// unpacks anywhere else. Without one, error 8.
int RunInstall(RunMode mode, void* instance, std::string_view argumentText) {
  const bool elevated = platform::IsUserAdministrator();
  auto work = platform::MakeWorkDirectory(elevated ? platform::DirectoryAccess::Administrators
                                                   : platform::DirectoryAccess::Default);
  if (!work) return ReportFailure({.error = error::WorkDirectory, .scriptPath = std::string(ScriptFileName)}, mode);
  const auto result = RunInstaller({.silent = mode == RunMode::SilentInstall,
                                    .instance = instance,
                                    .workDirectory = work->Path(),
                                    .arguments = std::string(argumentText)});
  // A failed run leaves its work directory for inspection.
  if (!result) return ReportFailure(result.failure(), mode);
  // Files the setup program left keep the directory; the run is done all the same.
  static_cast<void>(platform::RemoveWorkDirectory(*work));
  return *result;
}

}  // namespace

RunMode ChooseRunMode(std::string_view argumentText) {
  std::string_view switchText = argumentText.substr(0, 2);
  if (text::EqualsIgnoringCase(switchText, "/?")) return RunMode::Help;
  if (text::EqualsIgnoringCase(switchText, "/m")) return RunMode::Build;
  if (text::EqualsIgnoringCase(switchText, "/h")) return RunMode::SilentInstall;
  return RunMode::UiInstall;
}

std::string_view ArgumentTextOf(std::string_view commandLine) {
  std::size_t at = 0;
  if (!commandLine.empty() && commandLine.front() == '"') {
    const std::size_t closing = commandLine.find('"', 1);
    at = closing == std::string_view::npos ? commandLine.size() : closing + 1;
  } else {
    while (at < commandLine.size() && commandLine[at] != ' ' && commandLine[at] != '\t') ++at;
  }
  while (at < commandLine.size() && (commandLine[at] == ' ' || commandLine[at] == '\t')) ++at;
  return commandLine.substr(at);
}

int ReportFailure(const Failure& failure, RunMode mode) {
  if (failure.decoderResult) ShowDecoderResult(*failure.decoderResult);
  // A silent run tells a console why it failed, where there is one.
  if (mode == RunMode::SilentInstall && failure.error != error::Cancel)
    platform::WriteConsoleLine("qdpack: error " + text::Decimal(failure.error) + ": " +
                               ErrorTextOf(failure.error, failure.scriptPath).value_or(
                                   std::string(messages::FallbackErrorText)));
  if (mode == RunMode::UiInstall && failure.error != error::Cancel)
    ShowErrorReport(failure.error, failure.scriptPath);
  return FailureExitCode;
}

std::optional<ToolAnswer> AnswerAsTool(std::string_view argumentText, std::string_view version) {
  if (argumentText == "--help" || argumentText == "-h") return ToolAnswer{0, std::string(messages::ToolUsage)};
  if (argumentText == "--version") return ToolAnswer{0, "qdpack " + std::string(version) + "\n"};
  const RunMode mode = ChooseRunMode(argumentText);
  if (mode != RunMode::SilentInstall && mode != RunMode::UiInstall) return std::nullopt;
  // The stub and the package marker after it: a package, whatever its items.
  InstallerPackage own{.file = platform::OpenForReading(OwnFileFromCommandLine(platform::CommandLine()))};
  if (own.file.IsOpen() && HoldsPackage(own)) return std::nullopt;
  return ToolAnswer{2, "qdpack: this program holds no package to install\n" + std::string(messages::ToolUsage), true};
}

int ProgramMain(void* instance, std::string_view argumentText) {
  platform::InitControls();
  switch (const RunMode mode = ChooseRunMode(argumentText)) {
    case RunMode::Help:
      platform::ShowMessageBox(messages::HelpText, messages::HelpCaption, platform::BoxStyle::Information);
      return 0;
    case RunMode::Build: return RunBuild(argumentText);
    case RunMode::SilentInstall:
    case RunMode::UiInstall: return RunInstall(mode, instance, argumentText);
  }
  return FailureExitCode;
}

}  // namespace qd
