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

// Pointers to the words' text, then null: an argv or envp made of them.
std::vector<char*> PointersTo(std::vector<std::string>& words);

// Runs `program` with `args` and waits for it.
RunResult Run(const std::string& program, const std::vector<std::string>& args,
              const RunOptions& options = {});

// One turn of a conversation with a program on a terminal: once its output
// shows `after` (behind what the earlier turns waited for), `keys` are typed,
// then the file `remove` (when named) is deleted: what the program waits on.
struct TerminalTurn {
  std::string after;
  std::string keys;
  std::string remove = {};
};

struct TerminalRunResult {
  RunResult run;  // the terminal's output is `out`, standard output and error together
  // The terminal, once the program has ended, reads lines with echo as it
  // did before (canonical mode and echo are on).
  bool terminalSane = false;
};

// Runs `program` with `args` on a terminal of its own (a pseudo-terminal
// that is its controlling terminal, so that Ctrl-C typed there is SIGINT)
// and takes the turns in order. A turn whose text never shows ends the
// program after `timeoutSeconds`, and the result says so in `out`.
TerminalRunResult RunOnTerminal(const std::string& program, const std::vector<std::string>& args,
                                const RunOptions& options, const std::vector<TerminalTurn>& turns,
                                int timeoutSeconds = 60);

// Runs a 64-bit Windows program under wine64 in the test run's own prefix.
RunResult RunWine(const std::string& program, const std::vector<std::string>& args,
                  const RunOptions& options = {});

// The Windows path by which a program under wine sees a file of this machine.
std::string WinePath(const std::string& posixPath);

}  // namespace qd::test
