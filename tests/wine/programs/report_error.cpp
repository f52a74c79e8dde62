//===- report_error.cpp - Reports one error, for the error-box tests --------===//
//
//   report_error.exe NUMBER (SCRIPT_PATH | -) [silent] [build]
//
// Sets the run modes, then reports error NUMBER for the script at SCRIPT_PATH
// ("-" passes no script at all). Never returns normally.
//
//===----------------------------------------------------------------------===//
#include <cstdlib>
#include <string>

#include "startup/run_state.h"
#include "ui/report_error.h"

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  for (int i = 3; i < argc; ++i) {
    std::string mode = argv[i];
    if (mode == "silent") qd::SilentMode = 1;
    if (mode == "build") qd::BuildMode = 1;
  }
  std::string path = argv[2];
  qd::ReportError(static_cast<int>(std::strtol(argv[1], nullptr, 10)),
                  path == "-" ? nullptr : argv[2]);
}
