//===- dialog.cpp - The progress dialog on a terminal, POSIX half ------------===//
//
// Only POSIX code here. The dialog is drawn on standard error as plain text,
// one frame each time what it shows changes, in the order of the window:
// caption, heading, introduction, status, progress bar (while shown) and the
// buttons with their captions and states. Texts are shown in the locale's
// character set, control characters as "?" (terminal_text.h). Keys come from
// standard input: a terminal is read a key at a time without echo; a pipe
// gives the same bytes, so that tests can drive the dialog.
//
// While a key is awaited, Ctrl-C (SIGINT) presses Cancel, and a signal that
// ends or stops the process gives the terminal its settings back first.
// Keys typed while a press's work runs are dropped once it is done, so that
// they cannot press a button the user has not seen yet.
//
//===----------------------------------------------------------------------===//
#include <poll.h>
#include <pthread.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <iostream>
#include <optional>
#include <string>

#include "terminal_text.h"
#include "platform/platform.h"

namespace qd::platform {
namespace {

constexpr char EscapeKey = '\x1b';
// How long a terminal may take between the bytes of one key's sequence.
constexpr int SequenceGapMs = 50;

// What the signal handlers share with the wait for a key: the handlers can
// be handed nothing else.
volatile std::sig_atomic_t interrupted = 0;
volatile std::sig_atomic_t terminalRaw = 0;
termios terminalSaved{};
termios terminalKeyByKey{};

extern "C" void OnInterrupt(int) { interrupted = 1; }

// A signal that ends the process: the terminal comes back, then the signal
// does what it would have done (it is delivered once the handler returns).
extern "C" void OnEnd(int signal) {
  if (terminalRaw) ::tcsetattr(STDIN_FILENO, TCSANOW, &terminalSaved);
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

// Ctrl-Z: the terminal comes back while the process is stopped, and goes
// key by key again once it continues.
extern "C" void OnStop(int) {
  if (terminalRaw) ::tcsetattr(STDIN_FILENO, TCSANOW, &terminalSaved);
  std::signal(SIGTSTP, SIG_DFL);
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGTSTP);
  ::pthread_sigmask(SIG_UNBLOCK, &stop, nullptr);
  std::raise(SIGTSTP);
  std::signal(SIGTSTP, OnStop);
  if (terminalRaw) ::tcsetattr(STDIN_FILENO, TCSANOW, &terminalKeyByKey);
}

// The wait for one key. A terminal on standard input gives each key as it
// is pressed, without echo; its settings come back before the key is acted
// on, so that the work a key starts, and an error that ends the process
// during it, leave the terminal as it was. SIGINT is held back but within
// the wait (WaitForInput), so that it cannot slip in before the wait starts.
class KeyWait {
 public:
  KeyWait() {
    sigset_t interrupt;
    sigemptyset(&interrupt);
    sigaddset(&interrupt, SIGINT);
    ::pthread_sigmask(SIG_BLOCK, &interrupt, &mask_);
    waitMask_ = mask_;
    sigdelset(&waitMask_, SIGINT);
    interrupted = 0;
    Handle(SIGINT, OnInterrupt);
    if (!::isatty(STDIN_FILENO) || ::tcgetattr(STDIN_FILENO, &terminalSaved) != 0) return;
    terminalKeyByKey = terminalSaved;
    terminalKeyByKey.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    terminalKeyByKey.c_cc[VMIN] = 1;
    terminalKeyByKey.c_cc[VTIME] = 0;
    for (int signal : {SIGTERM, SIGHUP, SIGQUIT}) Handle(signal, OnEnd);
    Handle(SIGTSTP, OnStop);
    terminalRaw = ::tcsetattr(STDIN_FILENO, TCSANOW, &terminalKeyByKey) == 0;
  }
  ~KeyWait() {
    if (terminalRaw) ::tcsetattr(STDIN_FILENO, TCSANOW, &terminalSaved);
    terminalRaw = 0;
    for (std::size_t i = 0; i < handled_; ++i) ::sigaction(signals_[i], &previous_[i], nullptr);
    ::pthread_sigmask(SIG_SETMASK, &mask_, nullptr);
  }
  KeyWait(const KeyWait&) = delete;
  KeyWait& operator=(const KeyWait&) = delete;

  // Waits until standard input has something (a byte, or its end): true;
  // false when SIGINT came first.
  bool WaitForInput() const {
    for (;;) {
      pollfd input{STDIN_FILENO, POLLIN, 0};
      if (::ppoll(&input, 1, nullptr, &waitMask_) >= 0) return true;
      if (errno != EINTR) return true;  // the read that follows tells
      if (interrupted) return false;
    }
  }

 private:
  void Handle(int signal, void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    signals_[handled_] = signal;
    ::sigaction(signal, &action, &previous_[handled_++]);
  }

  sigset_t mask_{};
  sigset_t waitMask_{};
  int signals_[5] = {};
  struct sigaction previous_[5] = {};
  std::size_t handled_ = 0;
};

enum class Key { Default, Cancel, End };

// The keys of standard input. A cursor or function key arrives as Esc and
// more bytes at once; such a sequence is skipped, so that only Esc on its
// own cancels. A carriage return and the line feed after it are one Enter.
// Ctrl-C is Cancel, whether the terminal sends it as SIGINT or a pipe as
// its byte.
class Keys {
 public:
  Key Next(const KeyWait& wait) {
    wait_ = &wait;
    for (;;) {
      const int c = Take();
      if (c == EndOfInput) return Key::End;
      if (c == '\n') return Key::Default;
      if (c == '\r') {
        SkipFollowing('\n');
        return Key::Default;
      }
      if (c == 'c' || c == 'C' || c == Interrupt || c == CtrlC) return Key::Cancel;
      if (c == EscapeKey && !SkipSequence()) return Key::Cancel;
    }
  }

  // Forgets the keys typed so far and not yet read (a terminal's; a pipe's
  // bytes were all given at once, and each stays meant for its turn).
  void Discard() {
    pending_ = Nothing;
    if (::isatty(STDIN_FILENO)) ::tcflush(STDIN_FILENO, TCIFLUSH);
  }

 private:
  static constexpr int EndOfInput = -1;
  static constexpr int Nothing = -2;
  static constexpr int Interrupt = -3;
  static constexpr int CtrlC = 0x03;

  // The next byte, EndOfInput, or Interrupt when SIGINT came first.
  int Read() const {
    unsigned char c = 0;
    for (;;) {
      if (!wait_->WaitForInput()) return Interrupt;
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
    for (int d = Read(); d != EndOfInput; d = Read()) {
      if (d == Interrupt) pending_ = d;
      if (d == Interrupt || (d >= 0x40 && d <= 0x7E)) break;
    }
    return true;
  }

  const KeyWait* wait_ = nullptr;
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
  std::string line = "[";
  line.append(static_cast<std::size_t>(filled), '#').append(static_cast<std::size_t>(Cells - filled), '-');
  return line.append("] ").append(std::to_string(position)).append("%");
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

void Render(const DialogView& view, std::string_view codeset) {
  const auto shown = [codeset](std::string_view text) { return posix::DisplayText(text, codeset); };
  std::string frame = "\n=== " + shown(view.caption) + " ===\n";
  for (const DialogControl* text : {&view.heading, &view.intro, &view.status})
    if (text->visible) frame += shown(text->text) + "\n";
  if (view.progressBar.visible) frame += ProgressLine(view.progress) + "\n";
  frame += shown(ButtonLine(view)) + "\n";
  std::cerr << frame << std::flush;
}

}  // namespace

int ShowProgressDialog(void*, DialogLogic& logic) {
  DialogView view;
  logic.Start(view);
  Keys keys;
  const std::string codeset = posix::LocaleCodeset();
  // A frame for each change; a press that changes nothing draws none.
  std::optional<DialogView> shown;
  const auto show = [&view, &shown, &codeset] {
    if (shown == view) return;
    Render(view, codeset);
    shown = view;
  };
  for (bool pressed = false;; pressed = true) {
    // The wait is ready before the frame shows, so that a key the frame
    // prompts, Ctrl-C included, finds it; keys typed before the frame
    // (while a press's work ran) are dropped.
    const Key key = [&] {
      const KeyWait wait;
      if (pressed) keys.Discard();
      show();
      return keys.Next(wait);
    }();
    int id = key == Key::Default ? dialog::NextButton : dialog::CancelButton;
    // Without input the dialog is closed: cancelled while it can be, else
    // finished by its default button.
    if (key == Key::End && !view.cancel.enabled) id = dialog::NextButton;
    if (const std::optional<int> result = logic.Press(id, view, show)) return *result;
    if (key == Key::End) return dialog::NotShown;
  }
}

}  // namespace qd::platform
