//===- dialog.cpp - The progress dialog on a terminal, POSIX half ------------===//
//
// Only POSIX code here. The dialog is drawn on standard error as plain text,
// one frame each time what it shows changes, in the order of the window:
// caption, heading, introduction, status, progress bar (while shown) and the
// buttons with their captions and states. Keys come from standard input: a
// terminal is read a key at a time without echo; a pipe gives the same
// bytes, so that tests can drive the dialog.
//
//===----------------------------------------------------------------------===//
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <iostream>
#include <optional>
#include <string>

#include "platform/platform.h"

namespace qd::platform {
namespace {

constexpr char EscapeKey = '\x1b';
// How long a terminal may take between the bytes of one key's sequence.
constexpr int SequenceGapMs = 50;

// A terminal on standard input gives each key as it is pressed, without
// echo, while the dialog waits for one; its settings come back before the
// key is acted on, so that the work a key starts, and an error that ends the
// process during it, leave the terminal as it was.
class KeyByKey {
 public:
  KeyByKey() {
    if (!::isatty(STDIN_FILENO) || ::tcgetattr(STDIN_FILENO, &saved_) != 0) return;
    termios raw = saved_;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    active_ = ::tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0;
  }
  ~KeyByKey() {
    if (active_) ::tcsetattr(STDIN_FILENO, TCSANOW, &saved_);
  }
  KeyByKey(const KeyByKey&) = delete;
  KeyByKey& operator=(const KeyByKey&) = delete;

 private:
  termios saved_{};
  bool active_ = false;
};

enum class Key { Default, Cancel, End };

// The keys of standard input. A cursor or function key arrives as Esc and
// more bytes at once; such a sequence is skipped, so that only Esc on its
// own cancels. A carriage return and the line feed after it are one Enter.
class Keys {
 public:
  Key Next() {
    for (;;) {
      const int c = Take();
      if (c == EndOfInput) return Key::End;
      if (c == '\n') return Key::Default;
      if (c == '\r') {
        SkipFollowing('\n');
        return Key::Default;
      }
      if (c == 'c' || c == 'C') return Key::Cancel;
      if (c == EscapeKey && !SkipSequence()) return Key::Cancel;
    }
  }

 private:
  static constexpr int EndOfInput = -1;
  static constexpr int Nothing = -2;

  // The next byte, or EndOfInput.
  static int Read() {
    unsigned char c = 0;
    for (;;) {
      const ssize_t n = ::read(STDIN_FILENO, &c, 1);
      if (n == 1) return c;
      if (n < 0 && errno == EINTR) continue;
      return EndOfInput;
    }
  }

  static bool ByteFollows() {
    pollfd input{STDIN_FILENO, POLLIN, 0};
    return ::poll(&input, 1, SequenceGapMs) > 0 && (input.revents & POLLIN) != 0;
  }

  int Take() {
    const int c = pending_ != Nothing ? pending_ : Read();
    pending_ = Nothing;
    return c;
  }

  void SkipFollowing(int expected) {
    if (!ByteFollows()) return;
    const int c = Read();
    if (c != expected) pending_ = c;
  }

  // After Esc: true when the bytes of a key's sequence followed (Esc [ ...
  // or Esc O ..., up to the final byte), now skipped.
  bool SkipSequence() {
    if (!ByteFollows()) return false;
    const int c = Read();
    if (c != '[' && c != 'O') {
      pending_ = c;
      return false;
    }
    for (int d = Read(); d != EndOfInput; d = Read())
      if (d >= 0x40 && d <= 0x7E) break;
    return true;
  }

  int pending_ = Nothing;
};

// A button's caption as the terminal shows it: each "&" that marks the
// next character as the button's shortcut is dropped; "&&" is one "&".
std::string Label(const std::string& caption) {
  std::string label;
  for (std::size_t i = 0; i < caption.size(); ++i) {
    if (caption[i] == '&' && i + 1 < caption.size()) ++i;
    label += caption[i];
  }
  return label;
}

std::string ProgressLine(int position) {
  constexpr int Cells = 20;
  const int filled = position <= 0 ? 0 : position >= 100 ? Cells : position * Cells / 100;
  return "[" + std::string(static_cast<std::size_t>(filled), '#') +
         std::string(static_cast<std::size_t>(Cells - filled), '-') + "] " + std::to_string(position) + "%";
}

std::string ButtonLine(const DialogView& view) {
  struct Button {
    const DialogControl& control;
    const char* key;  // what presses it, while it is enabled
  };
  // In their places on the window, from left to right.
  const Button buttons[] = {{view.back, nullptr}, {view.next, "Enter"}, {view.cancel, "Esc or c"}};
  std::string line = "Buttons:";
  const char* separator = " ";
  for (const Button& button : buttons) {
    if (!button.control.visible) continue;
    line += separator + Label(button.control.text);
    if (!button.control.enabled)
      line += " (disabled)";
    else if (button.key)
      line += std::string(" (") + button.key + ")";
    separator = " | ";
  }
  return line;
}

void Render(const DialogView& view) {
  std::string frame = "\n=== " + view.caption + " ===\n";
  for (const DialogControl* text : {&view.heading, &view.intro, &view.status})
    if (text->visible) frame += text->text + "\n";
  if (view.progressBar.visible) frame += ProgressLine(view.progress) + "\n";
  frame += ButtonLine(view) + "\n";
  std::cerr << frame << std::flush;
}

}  // namespace

int ShowProgressDialog(void*, DialogLogic& logic) {
  DialogView view;
  logic.Start(view);
  Keys keys;
  // A frame for each change; a press that changes nothing draws none.
  std::optional<DialogView> shown;
  const auto show = [&view, &shown] {
    if (shown == view) return;
    Render(view);
    shown = view;
  };
  show();
  for (;;) {
    const Key key = [&keys] {
      const KeyByKey keyByKey;
      return keys.Next();
    }();
    int id = key == Key::Default ? dialog::NextButton : dialog::CancelButton;
    // Without input the dialog is closed: cancelled while it can be, else
    // finished by its default button.
    if (key == Key::End && !view.cancel.enabled) id = dialog::NextButton;
    if (const std::optional<int> result = logic.Press(id, view, show)) return *result;
    if (key == Key::End) return dialog::NotShown;
    show();
  }
}

}  // namespace qd::platform
