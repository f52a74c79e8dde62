//===- process.h - Running programs from tests ------------------------------===//
#pragma once

#include <string>
#include <vector>

namespace qd::test {

struct RunResult {
  int exitCode = -1;  // the 8-bit POSIX exit status, or -1 when killed
  std::string out;
  std::string err;
};

struct RunOptions {
  std::string workingDirectory;           // empty: the test's own
  std::vector<std::string> environment;   // "NAME=value" added to the test's own
  std::string argv0;                      // the name the program sees itself run by; empty: `program`
  std::string input;                      // standard input (empty: none)
};

// Runs `program` with `args` and waits for it.
RunResult Run(const std::string& program, const std::vector<std::string>& args,
              const RunOptions& options = {});

// Runs a 64-bit Windows program under wine64 in the test run's own prefix.
RunResult RunWine(const std::string& program, const std::vector<std::string>& args,
                  const RunOptions& options = {});

// The Windows path by which a program under wine sees a file of this machine.
std::string WinePath(const std::string& posixPath);

}  // namespace qd::test
