//===- in_process.h - Running the program's start-up inside a test ----------===//
//
// The builder and the installer return their failures to start-up, which
// turns them into an exit code; so a test can run a whole build or install
// in its own process, as the program would, with a double of the platform's
// operations in place. The run sees the command line, current directory,
// environment and standard input that a program started with them would.
//
//===----------------------------------------------------------------------===//
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace qd::test {

struct InProcessOptions {
  std::string argv0;                          // the program's own path, as it is started
  std::filesystem::path workingDirectory;     // empty: the test's own
  std::vector<std::string> environment;       // "NAME=value", set for the run only
  std::string input;                          // standard input; empty: none (its end at once)
};

struct InProcessResult {
  int exitCode = 0;  // as ProgramMain returns it: -1, not 255
  std::string err;   // what the run wrote on standard error
};

// Runs ProgramMain with the argument text that `args` make.
InProcessResult RunInProcess(const std::vector<std::string>& args, const InProcessOptions& options);

}  // namespace qd::test
