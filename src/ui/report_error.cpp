//===- report_error.cpp - The single failure path ---------------------------===//
//
// Looks the error's text up in the script's language section and shows it
// under the script's title; when the script or the text cannot be found, a
// fixed box names the error number and the script path instead. Then the
// process ends with -1 through the normal exit, so exit handlers run.
//
//===----------------------------------------------------------------------===//
#include "ui/report_error.h"

#include "package/script.h"
#include "platform/platform.h"
#include "startup/run_state.h"
#include "text/text.h"
#include "ui/messages.h"

namespace qd {
namespace {

// A value of the script; absent ("@") when there is no script at all.
std::string LookUp(std::string_view section, std::string_view key, const char* scriptPath) {
  if (!scriptPath) return std::string(AbsentValue);
  return ReadScriptValue(section, key, scriptPath);
}

void ShowReport(int errorNumber, const char* scriptPath) {
  std::string key = messages::ErrorKey(errorNumber);
  std::string language = LookUp(script::CMD, script::LANG, scriptPath);
  if (IsAbsent(language)) language = messages::DefaultLanguage;
  ErrorText = LookUp(language, key, scriptPath);

  if (!IsAbsent(ErrorText)) {
    std::string caption = LookUp(script::Cmd, script::Title, scriptPath);
    if (BuildMode != 1)
      platform::ShowMessageBox(ErrorText, caption, platform::BoxStyle::Warning);
  } else if (BuildMode != 1) {
    platform::ShowMessageBox(messages::FallbackErrorText,
                             messages::FallbackCaption(errorNumber, scriptPath),
                             platform::BoxStyle::Plain);
  }
}

}  // namespace

void ShowDecoderResult(std::uint32_t explodeResult) {
  platform::ShowMessageBox(text::Decimal(static_cast<std::int32_t>(explodeResult)),
                           messages::DecoderResultCaption, platform::BoxStyle::Plain);
}

void ReportError(int errorNumber, const char* scriptPath) {
  if (SilentMode == 0 && errorNumber != error::Cancel) ShowReport(errorNumber, scriptPath);
  platform::EndProcess(-1);
}

}  // namespace qd
