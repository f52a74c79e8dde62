//===- report_error.h - The single failure path -----------------------------===//
//
// Every failure the user must see goes through ReportError: it shows the
// script's text for the error number (or the fallback box when the script or
// the text cannot be found), then ends the process with exit code -1.
// Nothing is shown in a silent run, in build mode, or for error 6 (a cancel).
//
//===----------------------------------------------------------------------===//
#pragma once

namespace qd {

// `scriptPath` may be null: there is no script to read texts from.
[[noreturn]] void ReportError(int errorNumber, const char* scriptPath);

}  // namespace qd
