//===- progress_dialog.h - The installer's wizard page, its behaviour --------===//
//
// An installer run with a user interface shows one wizard page: a heading,
// an introduction that tells a first installation from an upgrade, a status
// line, a progress bar, and the buttons Back (never enabled), Next and
// Cancel. Every text comes from the package script's language section. The
// page goes through three states:
//
//   Ready    Next and Cancel enabled, the progress bar hidden. Next starts
//            the work; Cancel ends the dialog with DialogCancelled.
//   Working  both disabled while the files are unpacked (progress 25) and
//            the setup program runs (50); a failure ends the dialog with
//            DialogFailed, and the dialog hands the failure on. The window
//            still answers meanwhile, but takes no press.
//   Done     progress 100, Next captioned Finish (Msg08) and enabled,
//            Cancel disabled. Finish ends the dialog with DialogFinished,
//            and so does closing the window (Esc, the close box). Only here
//            does Next finish, whatever its caption reads.
//
// This is the behaviour, written once for every platform: the work is the
// installer's, handed in as callbacks, and the window is the platform's
// (platform::ShowProgressDialog), which reports the buttons pressed.
//
//===----------------------------------------------------------------------===//
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "outcome/outcome.h"
#include "platform/platform.h"

namespace qd {

// How the setup program ended, as far as the dialog is concerned.
enum class SetupEnd { Succeeded, RestartRequested, Failed };

// The installer's work, run when Next is pressed in the Ready state. Each
// step is handed `breathe`, to call between blocks of its work and whenever
// the system has news for the window while it waits: the dialog then shows
// what changed and answers the system (it repaints, and input meant for its
// disabled buttons is dropped), so that it never looks hung.
using Breathe = std::function<void()>;
struct DialogWork {
  std::function<Outcome<>(const Breathe& breathe)> unpack;          // unpacks the listed files
  std::function<Outcome<SetupEnd>(const Breathe& breathe)> runSetup;  // runs the setup program
};

enum class DialogState { Ready, Working, Done };

// The results that end the dialog.
inline constexpr int DialogFinished = 0;
inline constexpr int DialogCancelled = 6;
// The work failed; the dialog holds the failure.
inline constexpr int DialogFailed = -2;

// The dialog over one unpacked package script, whose texts are in the
// section `language`.
class ProgressDialog final : public platform::DialogLogic {
 public:
  ProgressDialog(std::string scriptPath, std::string language, DialogWork work);

  // Tells an upgrade from a first installation, and fills in every text:
  // the Ready state.
  void Start(platform::DialogView& view) override;
  // Next: in the Ready state runs the work, ending in the Done state, or
  // ending the dialog with DialogFailed when the work fails (error 7 when
  // the setup program fails); in the Done state ends the dialog with
  // DialogFinished, whatever the captions read. Cancel (also Esc and the
  // close box): ends the dialog with DialogCancelled in the Ready state;
  // once the work is done there is nothing left to cancel, and it finishes
  // the dialog as Finish does. While the work runs, and for any other
  // button, a press does nothing.
  std::optional<int> Press(int id, platform::DialogView& view, const std::function<void()>& show) override;

  DialogState State() const { return state_; }
  // The language section of the script's texts, as read at start.
  const std::string& Language() const { return language_; }
  // The engine was found installed at start: the texts are the upgrade's.
  bool ComponentPresent() const { return componentPresent_; }
  // The setup program asked for a restart.
  bool RestartRequested() const { return restartRequested_; }
  // Why the work failed, once it has.
  const std::optional<Failure>& WorkFailure() const { return failure_; }

 private:
  std::string Text(std::string_view key) const;
  // The work; a failure, which ends the dialog.
  Outcome<> Work(platform::DialogView& view, const std::function<void()>& show);

  std::string scriptPath_;
  DialogWork work_;
  DialogState state_ = DialogState::Ready;
  std::string language_;
  bool componentPresent_ = false;
  bool restartRequested_ = false;
  std::optional<Failure> failure_;
};

// How a shown dialog ended.
struct DialogOutcome {
  // DialogFinished, DialogCancelled, or platform::dialog::NotShown.
  int result = platform::dialog::NotShown;
  bool restartRequested = false;
  std::string language;
};

// Shows the dialog over the script at `scriptPath` until the user ends it.
// A script without [CMD] LANG is error 4, before anything is shown; a
// failure of the work is the run's failure.
Outcome<DialogOutcome> RunProgressDialog(const std::string& scriptPath, DialogWork work, void* instance);

// True when "qd.dll" lies in the system directory: the engine is installed
// already, and this run is an upgrade.
[[nodiscard]] bool ComponentInstalled();

// The heading: `greeting` (Msg02), one blank and `title`, cut where a
// 260-character text buffer ends.
std::string HeadingText(std::string_view greeting, std::string_view title);

}  // namespace qd
