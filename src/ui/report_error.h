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

// The error numbers; the script's text for number N is its key "Err%02d".
namespace error {
inline constexpr int Checksum = 2;        // the package's image checksum does not match
inline constexpr int File = 3;            // a file cannot be found, opened, read, created or written
inline constexpr int Configuration = 4;   // the script lacks a value or has one it cannot use
inline constexpr int Package = 5;         // an item does not decode; memory for it cannot be had
inline constexpr int Cancel = 6;          // the user cancelled: nothing is shown
inline constexpr int SetupFailed = 7;     // the setup program failed
inline constexpr int WorkDirectory = 8;   // a file cannot be created in the work directory
inline constexpr int NotAdministrator = 9;
}  // namespace error

// `scriptPath` may be null: there is no script to read texts from.
[[noreturn]] void ReportError(int errorNumber, const char* scriptPath);

// The box that tells why a packed item could not be decoded: the decoder's
// result (1 to 4) under the caption "Value of uiRep". Shown in every run mode,
// before the caller reports the failure itself.
void ShowDecoderResult(std::uint32_t explodeResult);

}  // namespace qd
