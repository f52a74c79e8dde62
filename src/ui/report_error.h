//===- report_error.h - The single failure path -----------------------------===//
//
// Every failure the user must see goes through ReportError: it shows the
// script's text for the error number (or the fallback box when the script or
// the text cannot be found), then ends the process with exit code -1.
// Nothing is shown in a silent run, in build mode, or for error 6 (a cancel).
//
//===----------------------------------------------------------------------===//
#pragma once

#include <cstdint>

namespace qd {

// `scriptPath` may be null: there is no script to read texts from.
[[noreturn]] void ReportError(int errorNumber, const char* scriptPath);

// The box that tells why a packed item could not be decoded: the decoder's
// result (1 to 4) under the caption "Value of uiRep". Shown in every run mode,
// before the caller reports the failure itself.
void ShowDecoderResult(std::uint32_t explodeResult);

}  // namespace qd
