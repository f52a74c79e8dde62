//===- progress_dialog.cpp - The installer's wizard page, its behaviour ------===//
//
// Texts are read from the script each time they are shown, with the "@"
// default: a missing text shows as "@". What a button does follows from the
// state alone, never from a caption: a script whose Msg09 equals its Msg08
// (both missing, say) still runs the work at the first press of Next, and
// only Next in the Done state finishes.
//
//===----------------------------------------------------------------------===//
#include "ui/progress_dialog.h"

#include "package/script.h"
#include "ui/messages.h"

namespace qd {
namespace {

using platform::dialog::CancelButton;
using platform::dialog::NextButton;

constexpr std::string_view ComponentFile = "qd.dll";

// The progress bar at the three points of the work.
constexpr int UnpackingProgress = 25;
constexpr int RunningSetupProgress = 50;
constexpr int DoneProgress = 100;

}  // namespace

bool ComponentInstalled() {
  const std::string directory = platform::SystemDirectory();
  return !directory.empty() && platform::PathExists(directory + "\\" + std::string(ComponentFile));
}

std::string HeadingText(std::string_view greeting, std::string_view title) {
  return platform::CutToFit(std::string(greeting) + " " + std::string(title));
}

ProgressDialog::ProgressDialog(std::string scriptPath, std::string language, DialogWork work)
    : scriptPath_(std::move(scriptPath)), work_(std::move(work)), language_(std::move(language)) {}

std::string ProgressDialog::Text(std::string_view key) const {
  return ReadScriptValue(language_, key, scriptPath_);
}

void ProgressDialog::Start(platform::DialogView& view) {
  componentPresent_ = ComponentInstalled();

  const std::string title = ReadScriptValue(script::CMD, script::Title, scriptPath_);
  view = platform::DialogView{};
  view.caption = title;
  view.heading.text = HeadingText(Text(messages::HeadingKey), title);
  view.intro.text = Text(componentPresent_ ? messages::UpgradeIntroKey : messages::InstallIntroKey);
  view.status.text = Text(messages::PressNextKey);
  view.next.text = Text(messages::NextCaptionKey);
  view.cancel.text = Text(messages::CancelCaptionKey);
  view.back.text = Text(messages::BackCaptionKey);
  view.back.enabled = false;
  view.progressBar.visible = false;
  view.focus = NextButton;
  state_ = DialogState::Ready;
}

std::optional<int> ProgressDialog::Press(int id, platform::DialogView& view, const std::function<void()>& show) {
  // While the work runs, the window still answers (it repaints between the
  // steps), so a press can reach here from inside the work: it does nothing.
  if (state_ == DialogState::Working) return std::nullopt;
  if (id == NextButton && state_ == DialogState::Ready) {
    if (auto done = Work(view, show); !done) {
      failure_ = done.failure();
      return DialogFailed;
    }
    return std::nullopt;
  }
  if (id == NextButton) return DialogFinished;
  // Esc and the window's close box press Cancel too. Before the work it
  // cancels; after it the installation stands, and closing the window
  // finishes it as Finish does.
  if (id == CancelButton) return state_ == DialogState::Ready ? DialogCancelled : DialogFinished;
  return std::nullopt;
}

Outcome<> ProgressDialog::Work(platform::DialogView& view, const std::function<void()>& show) {
  state_ = DialogState::Working;
  view.progressBar.visible = true;
  view.cancel.enabled = false;
  view.next.enabled = false;
  view.progress = UnpackingProgress;
  view.status.text = Text(messages::UnpackingKey);
  show();
  if (auto unpacked = work_.unpack(show); !unpacked) return unpacked.failure();

  view.caption = ReadScriptValue(script::CMD, script::Title, scriptPath_);
  view.progress = RunningSetupProgress;
  view.status.text = Text(messages::RunningSetupKey);
  show();
  const auto end = work_.runSetup(show);
  if (!end) return end.failure();
  if (*end == SetupEnd::Failed) return Failure{.error = error::SetupFailed, .scriptPath = scriptPath_};
  restartRequested_ = *end == SetupEnd::RestartRequested;

  view.progress = DoneProgress;
  view.status.text = Text(componentPresent_ ? messages::UpdatedKey : messages::InstalledKey);
  view.next.text = Text(messages::FinishCaptionKey);
  view.next.enabled = true;
  view.focus = NextButton;
  state_ = DialogState::Done;
  return {};
}

Outcome<DialogOutcome> RunProgressDialog(const std::string& scriptPath, DialogWork work, void* instance) {
  std::string language = ReadScriptValue(script::CMD, script::LANG, scriptPath);
  if (IsAbsent(language)) return Failure{.error = error::Configuration, .scriptPath = scriptPath};
  ProgressDialog dialog(scriptPath, language, std::move(work));
  const int result = platform::ShowProgressDialog(instance, dialog);
  if (dialog.WorkFailure()) return *dialog.WorkFailure();
  return DialogOutcome{result, dialog.RestartRequested(), std::move(language)};
}

}  // namespace qd
