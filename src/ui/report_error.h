//===- report_error.h - Showing a failure --------------------------------------===//
//
// What the user sees of a failure: the script's text for the error number
// under the script's title, or, when the script or the text cannot be
// found, a fixed box that names the error number and the script path. Which
// runs show it, and the exit code that follows, are start-up's to decide.
//
//===----------------------------------------------------------------------===//
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qd {

// The text the script holds for the error number, in its language section
// (the section that [CMD] LANG names, "ENU" without one); nullopt when there
// is no script, or it holds no such text.
[[nodiscard]] std::optional<std::string> ErrorTextOf(int errorNumber, std::optional<std::string_view> scriptPath);

// Shows the failure's box: the script's text under its title, or the
// fallback box. `scriptPath` is nullopt when there is no script at all.
void ShowErrorReport(int errorNumber, std::optional<std::string_view> scriptPath);

// The box that tells why a packed item could not be decoded: the decoder's
// result (1 to 4) under the caption "Value of uiRep".
void ShowDecoderResult(std::uint32_t explodeResult);

}  // namespace qd
