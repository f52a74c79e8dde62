//===- report_error.cpp - Reports one error, for the error-box tests --------===//
//
//   report_error.exe NUMBER (SCRIPT_PATH | -) [silent] [build]
//
// Reports error NUMBER for the script at SCRIPT_PATH ("-" passes no script
// at all) as start-up does in that run mode, and exits with its exit code.
//
//===----------------------------------------------------------------------===//
#include <cstdlib>
#include <string>

#include "startup/startup.h"

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  qd::RunMode mode = qd::RunMode::UiInstall;
  for (int i = 3; i < argc; ++i) {
    const std::string word = argv[i];
    if (word == "silent") mode = qd::RunMode::SilentInstall;
    if (word == "build") mode = qd::RunMode::Build;
  }
  const std::string path = argv[2];
  qd::Failure failure{.error = static_cast<int>(std::strtol(argv[1], nullptr, 10))};
  if (path != "-") failure.scriptPath = path;
  return qd::ReportFailure(failure, mode);
}
