//===- startup.cpp - Entry work: run modes, the work directory, the exit -----===//
//
// Chooses the run mode from the switch and hands over to the builder or the
// installer, giving an installer run a fresh work directory in the
// temporary directory, which it removes afterwards if the run left it
// empty, and keeping the run's log when "/log=FILE" asks for one. The
// builder and the installer return their failures; this is the one place
// that turns a failure into what the user sees, the build log's line, the
// run log's last line and the exit code.
//
//===----------------------------------------------------------------------===//
#include "startup/startup.h"

#include "builder/builder.h"
#include "installer/installer.h"
#include "installer/run_log.h"
#include "package/script.h"
#include "platform/platform.h"
#include "text/text.h"
#include "ui/messages.h"
#include "ui/report_error.h"

namespace qd {
namespace {

constexpr int FailureExitCode = -1;

// The line of the build log, without the line ends around it.
std::string_view Unframed(std::string_view line) {
  const std::size_t begin = line.find_first_not_of("\r\n");
  if (begin == std::string_view::npos) return {};
  return line.substr(begin, line.find_last_not_of("\r\n") - begin + 1);
}

// A build, and what a console hears of it: the package written, or the
// failure with the file it is about. The build log and the exit code are
// the product's, whatever is said here.
int RunBuild(std::string_view argumentText) {
  BuildLog log;
  const auto built = BuildPackage(argumentText, log);
  if (built) {
    platform::WriteConsoleLine("qdpack: built " + built->path + ", " + text::Decimal(static_cast<std::int64_t>(built->size)) +
                                   " bytes, " + text::Decimal(built->files) + (built->files == 1 ? " file" : " files"),
                               platform::ConsoleStream::Output);
    return 0;
  }
  const Failure& failure = built.failure();
  log.Write(failure.logLine);
  const std::string subject = !failure.subject.empty() ? failure.subject : ScriptPathOf(argumentText).value_or("");
  platform::WriteConsoleLine("qdpack: error: " + (subject.empty() ? std::string() : subject + ": ") +
                             std::string(Unframed(failure.logLine)));
  return ReportFailure(failure, RunMode::Build);
}

// The text the user would have been shown for a failure: the script's, or
// the fallback box's.
std::string FailureText(const Failure& failure) {
  return ErrorTextOf(failure.error, failure.scriptPath).value_or(std::string(messages::FallbackErrorText));
}

// The package's own file, found on the program's command line without the
// log's words: a log's path holds a dot, and may be quoted, and the program
// path is cut behind the last quote or the last dot of the line.
std::string OwnFile() {
  const std::string line = platform::CommandLine();
  const std::string_view arguments = ArgumentTextOf(line);
  return OwnFileFromCommandLine(line.substr(0, line.size() - arguments.size()) + TakeLogSwitches(arguments).arguments);
}

// The last line of a run's log: its exit code and, for a failure, the error
// and the text the dialog would have shown (a cancel shows none).
std::string EndOf(const Outcome<int>& outcome) {
  if (outcome) return "End: exit code " + text::Decimal(*outcome);
  const Failure& failure = outcome.failure();
  std::string end = "End: exit code " + text::Decimal(FailureExitCode) + ", error " + text::Decimal(failure.error);
  if (failure.decoderResult) end += " (decoder result " + text::Decimal(*failure.decoderResult) + ")";
  if (failure.error == error::Cancel) return end + ": cancelled, nothing is shown";
  return end + ": " + FailureText(failure);
}

// An installer run in the work directory made for it, which it removes
// when the run left it empty; a failed run leaves it for inspection.
Outcome<int> InstallIn(platform::WorkDirectory& work, InstallerRun run, RunLog& log) {
  log.KeepOutOf(work.Path());
  run.workDirectory = work.Path();
  const auto result = RunInstaller(run);
  if (!result) return result;
  // Files the setup program left keep the directory; the run is done all the same.
  log.Write(platform::RemoveWorkDirectory(work) ? "Work directory removed"
                                                : "Work directory kept: something is left in it");
  return result;
}

// An installer run in its own work directory, made only for it: packages
// usually run elevated, from folders others can write to, so a run never
// unpacks anywhere else. Without one, error 8. The run is logged where
// "/log=FILE" says; the log's words are no argument of the run.
int RunInstall(RunMode mode, void* instance, std::string_view argumentText) {
  LogSwitches taken = TakeLogSwitches(argumentText);
  const std::string ownFile = OwnFile();
  RunLog log(taken.logFile, ownFile);
  const bool silent = mode == RunMode::SilentInstall;
  log.Write(std::string(silent ? "Start: silent install" : "Start: install with the dialog") +
            (taken.arguments.empty() ? "" : ", arguments: " + taken.arguments));
  const bool elevated = platform::IsUserAdministrator();
  // Held until the failure has been reported: the script's texts are read through it.
  auto work = platform::MakeWorkDirectory(elevated ? platform::DirectoryAccess::Administrators
                                                   : platform::DirectoryAccess::Default);
  if (!work) log.Write("Work directory: none can be made in " + platform::TemporaryDirectory());
  const Outcome<int> outcome =
      work ? InstallIn(*work,
                       {.silent = silent,
                        .instance = instance,
                        .ownFile = ownFile,
                        .arguments = std::move(taken.arguments),
                        .log = log.Events()},
                       log)
           : Outcome<int>(Failure{.error = error::WorkDirectory, .scriptPath = std::string(ScriptFileName)});
  // Logged before a box is shown: a box left open loses no line.
  log.Write(EndOf(outcome));
  if (!outcome) return ReportFailure(outcome.failure(), mode);
  return *outcome;
}

}  // namespace

RunMode ChooseRunMode(std::string_view argumentText) {
  std::string_view switchText = argumentText.substr(0, 2);
  if (text::EqualsIgnoringCase(switchText, "/?")) return RunMode::Help;
  if (text::EqualsIgnoringCase(switchText, "/m")) return RunMode::Build;
  if (text::EqualsIgnoringCase(switchText, "/h")) return RunMode::SilentInstall;
  return RunMode::UiInstall;
}

LogSwitches TakeLogSwitches(std::string_view argumentText) {
  constexpr std::string_view Switch = "/log=";
  const auto blank = [](char c) { return c == ' ' || c == '\t'; };
  LogSwitches taken;
  bool found = false;
  std::string kept;  // each word that stays, with the blanks before it
  for (std::size_t at = 0; at < argumentText.size();) {
    const std::size_t gap = at;
    while (at < argumentText.size() && blank(argumentText[at])) ++at;
    std::string word;
    for (bool quoted = false; at < argumentText.size() && (quoted || !blank(argumentText[at])); ++at) {
      if (argumentText[at] == '"')
        quoted = !quoted;
      else
        word += argumentText[at];
    }
    if (text::EqualsIgnoringCase(std::string_view(word).substr(0, Switch.size()), Switch)) {
      found = true;
      taken.logFile = word.substr(Switch.size());
      continue;
    }
    kept += argumentText.substr(gap, at - gap);
  }
  if (!found) {
    taken.arguments = std::string(argumentText);
    return taken;
  }
  // A log word first leaves the blanks after it first.
  kept.erase(0, std::min(kept.size(), kept.find_first_not_of(" \t")));
  taken.arguments = std::move(kept);
  if (taken.logFile->empty()) taken.logFile.reset();
  return taken;
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
    platform::WriteConsoleLine("qdpack: error " + text::Decimal(failure.error) + ": " + FailureText(failure));
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
  InstallerPackage own{.file = platform::OpenForReading(OwnFile())};
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
