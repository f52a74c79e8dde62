//===- progress_dialog_test.cpp - The wizard page's behaviour, without a window ===//
//
// Drives the dialog's logic as a window would: Start, then presses, with
// work callbacks that note what the page showed while they ran. The system
// directory is $SystemRoot/system32 on POSIX, so a scratch tree decides
// whether the engine counts as installed.
//
//===----------------------------------------------------------------------===//
#include <gtest/gtest.h>

#include <cstdlib>
#include <ostream>
#include <typeinfo>

#include "support/files.h"
#include "ui/progress_dialog.h"

namespace qd::platform {

// Failures print a view control by control.
void PrintTo(const DialogView& v, std::ostream* out) {
  *out << "\n  \"" << v.caption << "\" progress " << v.progress << " focus " << v.focus;
  for (int id : DialogViewControls) {
    const DialogControl& c = *v.Control(id);
    *out << "\n  " << id << " \"" << c.text << '"' << (c.enabled ? "" : " disabled") << (c.visible ? "" : " hidden");
  }
}

}  // namespace qd::platform

namespace qd {
namespace {

using platform::DialogControl;
using platform::DialogView;
namespace dialog = platform::dialog;

constexpr std::string_view Texts =
    "[CMD]\nLANG=ENU\nTitle=Qd Engine Setup\n"
    "[ENU]\nMsg02=Welcome to\nMsg03=Unpacking\nMsg04=Running setup\nMsg05=Installed\nMsg06=Press Next\n"
    "Msg07=Back\nMsg08=Finish\nMsg09=Next\nMsg10=Cancel\nMsg11=Install intro\nMsg13=Updated\n"
    "Msg14=Upgrade intro\nErr04=Not configured.\nErr07=Setup failed.\n";

class ProgressDialogTest : public ::testing::Test {
 protected:
  void SetUp() override { ::setenv("SystemRoot", (dir_ / "windows").c_str(), 1); }
  void TearDown() override { ::unsetenv("SystemRoot"); }

  std::string Script(std::string_view text) {
    test::WriteText(dir_ / "SetupQd.ini", text);
    return (dir_ / "SetupQd.ini").string();
  }
  void InstallEngine() {
    std::filesystem::create_directories(dir_ / "windows/system32");
    test::WriteText(dir_ / "windows/system32/qd.dll", "engine");
  }

  test::ScratchDir dir_;
};

// The Ready state over `Texts`.
DialogView Ready(const std::string& intro) {
  DialogView view;
  view.caption = "Qd Engine Setup";
  view.heading = {"Welcome to Qd Engine Setup"};
  view.intro = {intro};
  view.status = {"Press Next"};
  view.next = {"Next"};
  view.cancel = {"Cancel"};
  view.back = {"Back", false};
  view.progressBar = {"", true, false};
  view.focus = dialog::NextButton;
  return view;
}

TEST_F(ProgressDialogTest, NextWalksFromReadyThroughTheWorkToFinish) {
  struct Case {
    const char* behaviour;
    bool engineInstalled;
    SetupEnd setupEnd;
    std::string intro, done;
  };
  const Case cases[] = {
      {"a first installation", false, SetupEnd::Succeeded, "Install intro", "Installed"},
      {"an upgrade", true, SetupEnd::Succeeded, "Upgrade intro", "Updated"},
      {"a setup program that asks for a restart", false, SetupEnd::RestartRequested, "Install intro", "Installed"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.behaviour);
    if (c.engineInstalled) InstallEngine();
    DialogView view;
    std::vector<DialogView> whileWorking;  // as the screen showed it when each step began
    // The work lets the window breathe with the dialog's own `show`.
    int breathed = 0;
    std::vector<DialogView> shown;
    const auto show = [&] { shown.push_back(view); };
    ProgressDialog logic(Script(Texts), "ENU",
                         {.unpack = [&](const std::function<void()>& breathe) -> Outcome<> {
                            whileWorking.push_back(view);
                            breathed += breathe.target_type() == typeid(show);
                            return {};
                          },
                          .runSetup = [&](const std::function<void()>& breathe) -> Outcome<SetupEnd> {
                            whileWorking.push_back(view);
                            breathed += breathe.target_type() == typeid(show);
                            return c.setupEnd;
                          }});
    logic.Start(view);
    EXPECT_EQ(view, Ready(c.intro));
    EXPECT_EQ(logic.State(), DialogState::Ready);
    EXPECT_EQ(logic.ComponentPresent(), c.engineInstalled);

    EXPECT_EQ(logic.Press(dialog::NextButton, view, show), std::nullopt);
    DialogView working = Ready(c.intro);
    working.next.enabled = working.cancel.enabled = false;
    working.progressBar.visible = true;
    working.progress = 25;
    working.status.text = "Unpacking";
    DialogView setup = working;
    setup.progress = 50;
    setup.status.text = "Running setup";
    EXPECT_EQ(whileWorking, (std::vector{working, setup}));
    EXPECT_EQ(shown, whileWorking) << "each step is on the screen before it runs";
    EXPECT_EQ(breathed, 2) << "each step breathes through the window's own show";

    DialogView done = setup;
    done.progress = 100;
    done.status.text = c.done;
    done.next = {"Finish"};
    EXPECT_EQ(view, done);
    EXPECT_EQ(logic.State(), DialogState::Done);
    EXPECT_EQ(logic.RestartRequested(), c.setupEnd == SetupEnd::RestartRequested);
    EXPECT_EQ(logic.Language(), "ENU");
    EXPECT_EQ(logic.Press(dialog::NextButton, view, show), DialogFinished);
    std::filesystem::remove(dir_ / "windows/system32/qd.dll");
  }
}

TEST_F(ProgressDialogTest, ButtonsDoWhatTheStateAllows) {
  struct Case {
    const char* behaviour;
    std::string texts;
    std::vector<int> presses;
    std::optional<int> result;  // of the last press
    int worked;                 // how many times the work ran
    std::vector<int> duringWork = {};  // pressed from inside the work: each must do nothing
    std::optional<int> failure = std::nullopt;  // the error the dialog holds
    bool unpackFails = false;
    SetupEnd setupEnd = SetupEnd::Succeeded;
  };
  std::string sameCaptions(Texts);
  sameCaptions.replace(sameCaptions.find("Msg09=Next"), 10, "Msg09=Finish");
  const std::vector<int> both = {dialog::NextButton, dialog::CancelButton};
  const Case cases[] = {
      {"Cancel at the start cancels", std::string(Texts), {dialog::CancelButton}, DialogCancelled, 0},
      {"Back does nothing", std::string(Texts), {dialog::BackButton}, std::nullopt, 0},
      {"after the work, closing the window finishes: the installation stands", std::string(Texts), both,
       DialogFinished, 1},
      {"Next captioned as Finish still runs the work first", sameCaptions, {dialog::NextButton}, std::nullopt, 1},
      {"so does Next when Msg09 and Msg08 are both missing; the second press finishes", "[CMD]\nLANG=ENU\n",
       {dialog::NextButton, dialog::NextButton}, DialogFinished, 1},
      {"Next and Cancel pressed while the work runs do nothing", std::string(Texts), {dialog::NextButton},
       std::nullopt, 1, {dialog::NextButton, dialog::NextButton, dialog::CancelButton}},
      {"unpacking that fails ends the dialog, which hands the failure on", std::string(Texts),
       {dialog::NextButton}, DialogFailed, 1, {}, 3, true},
      {"a setup program that fails is error 7", std::string(Texts), {dialog::NextButton}, DialogFailed, 1, {}, 7,
       false, SetupEnd::Failed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.behaviour);
    int worked = 0;
    DialogView view;
    std::optional<ProgressDialog> logic;
    logic.emplace(Script(c.texts), "ENU",
                  DialogWork{.unpack = [&](const std::function<void()>& breathe) -> Outcome<> {
                               ++worked;
                               for (int id : c.duringWork) {
                                 EXPECT_EQ(logic->Press(id, view, breathe), std::nullopt) << id;
                                 EXPECT_EQ(logic->State(), DialogState::Working);
                               }
                               if (c.unpackFails) return Failure{.error = 3};
                               return {};
                             },
                             .runSetup = [&](const std::function<void()>&) -> Outcome<SetupEnd> {
                               return c.setupEnd;
                             }});
    logic->Start(view);
    std::optional<int> result;
    for (int id : c.presses) result = logic->Press(id, view, [] {});
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(worked, c.worked);
    EXPECT_EQ(logic->WorkFailure() ? std::optional(logic->WorkFailure()->error) : std::nullopt, c.failure);
  }
}

TEST_F(ProgressDialogTest, MissingTextsShowAsAt) {
  ProgressDialog logic(Script("[CMD]\nLANG=DEU\n[ENU]\nMsg02=Not this language\n"), "DEU", {});
  DialogView view;
  logic.Start(view);
  for (const std::string* text : {&view.caption, &view.intro.text, &view.status.text, &view.next.text,
                                  &view.cancel.text, &view.back.text})
    EXPECT_EQ(*text, "@");
  EXPECT_EQ(view.heading.text, "@ @");
}

TEST_F(ProgressDialogTest, TheHeadingIsCutToFitItsBuffer) {
  const std::string a258(258, 'a');
  struct Case {
    const char* behaviour;
    std::string greeting, title, heading;
  };
  const Case cases[] = {
      {"259 characters fit", std::string(129, 'g'), std::string(129, 't'),
       std::string(129, 'g') + " " + std::string(129, 't')},
      {"a longer heading is cut at 259", a258, "Title", a258 + " "},
      {"two full values", std::string(259, 'g'), std::string(259, 't'), std::string(259, 'g')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.behaviour);
    EXPECT_EQ(HeadingText(c.greeting, c.title), c.heading);
  }
  // From the script: both values as long as a value can be.
  ProgressDialog logic(Script("[CMD]\nLANG=ENU\nTitle=" + std::string(300, 't') + "\n[ENU]\nMsg02=" +
                              std::string(300, 'g') + "\n"),
                       "ENU", {});
  DialogView view;
  logic.Start(view);
  EXPECT_EQ(view.heading.text, std::string(259, 'g'));
}

}  // namespace
}  // namespace qd
