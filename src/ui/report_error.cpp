//===- report_error.cpp - Showing a failure ------------------------------------===//
//
// Looks the error's text up in the script's language section and shows it
// under the script's title; when the script or the text cannot be found, a
// fixed box names the error number and the script path instead.
//
//===----------------------------------------------------------------------===//
#include "ui/report_error.h"

#include "package/script.h"
#include "platform/platform.h"
#include "text/text.h"
#include "ui/messages.h"

namespace qd {
namespace {

// A value of the script; absent ("@") when there is no script at all.
std::string LookUp(std::string_view section, std::string_view key, std::optional<std::string_view> scriptPath) {
  if (!scriptPath) return std::string(AbsentValue);
  return ReadScriptValue(section, key, *scriptPath);
}

}  // namespace

std::optional<std::string> ErrorTextOf(int errorNumber, std::optional<std::string_view> scriptPath) {
  std::string language = LookUp(script::CMD, script::LANG, scriptPath);
  if (IsAbsent(language)) language = messages::DefaultLanguage;
  std::string text = LookUp(language, messages::ErrorKey(errorNumber), scriptPath);
  if (IsAbsent(text)) return std::nullopt;
  return text;
}

void ShowErrorReport(int errorNumber, std::optional<std::string_view> scriptPath) {
  if (const auto text = ErrorTextOf(errorNumber, scriptPath)) {
    platform::ShowMessageBox(*text, LookUp(script::Cmd, script::Title, scriptPath), platform::BoxStyle::Warning);
    return;
  }
  platform::ShowMessageBox(messages::FallbackErrorText, messages::FallbackCaption(errorNumber, scriptPath),
                           platform::BoxStyle::Plain);
}

void ShowDecoderResult(std::uint32_t explodeResult) {
  platform::ShowMessageBox(text::Decimal(static_cast<std::int32_t>(explodeResult)),
                           messages::DecoderResultCaption, platform::BoxStyle::Plain);
}

}  // namespace qd
