//===- setup_command.cpp - Running the package's setup program ---------------===//
#include "installer/setup_command.h"

#include <array>

#include "package/item_name.h"
#include "package/script.h"
#include "text/text.h"

namespace qd {
namespace {

// The command buffer's size: the work directory, the name and the switches.
constexpr std::size_t CommandCapacity = 360;

[[nodiscard]] bool HoldsSwitch(std::string_view line, std::string_view name) {
  const std::string slash = std::string("/").append(name);
  const std::string dash = std::string("-").append(name);
  return line.find(slash) != std::string_view::npos || line.find(dash) != std::string_view::npos;
}

}  // namespace

std::string SetupSwitches(std::string_view upperArguments) {
  std::string switches;
  if (HoldsSwitch(upperArguments, "UNINSTALL"))
    switches += " /UNINSTALL";
  else if (!HoldsSwitch(upperArguments, "INSTALL"))
    switches += " /NOSHARECOUNT";
  for (std::string_view name : {"QDHELPONVISTA", "STARTSERVICE", "VIOLATEVISTALOGO"})
    if (HoldsSwitch(upperArguments, name)) switches += " /" + std::string(name);
  return switches;
}

std::optional<platform::ProgramCommand> SetupCommandFor(std::string_view workDirectory, std::string_view fileName,
                                                         std::string_view switches,
                                                         bool (*exists)(std::string_view path)) {
  const std::string directory(workDirectory);
  platform::ProgramCommand command;
  command.line = directory + std::string(fileName) + std::string(switches);
  if (command.line.size() >= CommandCapacity) return std::nullopt;
  for (const SetupProgramName& name : SetupProgramNames(fileName)) {
    std::string program = directory + name.name;
    if (!exists(program)) continue;
    command.program = std::move(program);
    command.arguments = std::string(fileName.substr(name.length)) + std::string(switches);
    return command;
  }
  return std::nullopt;
}

Outcome<std::int32_t> RunSetupCommand(const Installation& installation, const std::function<void()>& whileWaiting) {
  const std::string fileName = ReadScriptValue(script::Cmd, script::FileName, installation.scriptPath);
  // The program must be a file of the work directory: its name, the text up
  // to the first blank, is a plain file name.
  if (IsAbsent(fileName) || CheckSetupFileName(fileName)) {
    installation.log.Note(IsAbsent(fileName) ? "Setup program: the script names none ([Cmd] FileName)"
                                             : "Setup program: " + fileName + " is no file of the work directory");
    return FailureOf(error::Configuration, installation);
  }
  std::string arguments = installation.arguments.substr(0, platform::MaxText);
  for (char& c : arguments) c = text::AsciiUpper(c);
  const auto command =
      SetupCommandFor(installation.workDirectory, fileName, SetupSwitches(arguments), platform::PathExists);
  if (!command) {
    installation.log.Note("Setup program: " + fileName + " is not in the work directory");
    return SetupNotStarted;
  }
  installation.log.Note("Setup program: " + platform::ShownPath(command->line));
  const auto exitCode = platform::RunProgram(*command, whileWaiting);
  if (!exitCode) {
    installation.log.Note("Setup program could not be started");
    return SetupNotStarted;
  }
  installation.log.Note("Setup program ended with exit code " + text::Decimal(static_cast<std::int32_t>(*exitCode)));
  return static_cast<std::int32_t>(*exitCode);
}

}  // namespace qd
