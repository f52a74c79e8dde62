//===- entry.cpp - Entry point of the native build ---------------------------===//
//
// Only POSIX code here. The argument text is the arguments joined by blanks,
// as the Windows entry receives the command line without the program name,
// in the platform's code page. Standard input, output or error that the
// caller closed is opened on /dev/null first, so that no file the program
// opens takes its number: the dialog would read its keys from that file, and
// messages would be written into it. A write past a file-size limit fails
// as a full disk does, instead of ending the process without a word. As a
// tool on a build server it answers --help and --version, and, run as
// itself with no package in its file, shows its usage instead of trying to
// install itself.
//
//===----------------------------------------------------------------------===//
#include <fcntl.h>
#include <signal.h>

#include <cerrno>
#include <iostream>
#include <string>

#include "builder/builder.h"
#include "check/script_check.h"
#include "platform/platform.h"
#include "platform/posix/command_line.h"
#include "startup/startup.h"

namespace {

// Before a build, the native builder says what the script check finds, as
// warnings with the script's line: mistakes that would build and then fail
// at install are caught on the build server. The Windows product, which has
// no console, carries no checker.
void SayScriptChecks(const std::string& argumentText) {
  const auto scriptPath = qd::ScriptPathOf(argumentText);
  const auto diagnostics = scriptPath ? qd::check::CheckScriptFile(*scriptPath) : std::nullopt;
  if (!diagnostics) return;
  for (const qd::check::Diagnostic& diagnostic : *diagnostics)
    qd::platform::WriteConsoleLine("qdpack: warning: " + *scriptPath +
                                   (diagnostic.line == 0 ? "" : ":" + std::to_string(diagnostic.line)) + ": " +
                                   diagnostic.message);
}

}  // namespace

int main(int argc, char** argv) {
  // open() takes the lowest free number: each closed one in turn.
  for (int standard = 0; standard <= 2; ++standard)
    if (::fcntl(standard, F_GETFD) < 0 && errno == EBADF) ::open("/dev/null", standard == 0 ? O_RDONLY : O_WRONLY);
  ::signal(SIGXFSZ, SIG_IGN);
  qd::platform::posix::RememberCommandLine(argc, argv);
  const std::string argumentText = qd::platform::posix::ArgumentText(argc, argv);
  if (const auto answer = qd::AnswerAsTool(argumentText, QDPACK_VERSION)) {
    (answer->isError ? std::cerr : std::cout) << answer->text << std::flush;
    return answer->exitCode;
  }
  if (qd::ChooseRunMode(argumentText) == qd::RunMode::Build) SayScriptChecks(argumentText);
  return qd::ProgramMain(nullptr, argumentText);
}
