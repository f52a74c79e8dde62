//===- system.cpp - Process, message boxes, text and system, POSIX half -----===//
//
// Only POSIX code here. A message box is its caption and its text on standard
// error, as the terminal shows text (terminal_text.h); a question shows its
// answers, "[y/N]", and reads one line from standard input: only an answer
// that begins with y or Y is Yes (Enter, and the end of input, are No). The
// system directory is "$SystemRoot/system32".
//
//===----------------------------------------------------------------------===//
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

#include "terminal_text.h"
#include "text/code_page.h"
#include "command_line.h"
#include "platform/platform.h"

namespace qd::platform {
namespace {

// The process's command line as the Windows call would give it: set once by
// the entry point, process-wide as the system keeps it for that call.
std::string& StoredCommandLine() {
  static std::string commandLine;
  return commandLine;
}

}  // namespace

void posix::RememberCommandLine(int argc, char** argv) {
  std::string line;
  for (int i = 0; i < argc; ++i) {
    if (i == 0) {
      line = '"' + text::AnsiFromUtf8(argv[0]) + '"';
    } else {
      line += ' ';
      line += text::AnsiFromUtf8(argv[i]);
    }
  }
  StoredCommandLine() = line;
}

std::string posix::ArgumentText(int argc, char** argv) {
  std::string arguments;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) arguments += ' ';
    arguments += text::AnsiFromUtf8(argv[i]);
  }
  return arguments;
}

std::string CommandLine() { return StoredCommandLine(); }

LocalTime LocalTimeNow() {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  tm local{};
  if (!::localtime_r(&now.tv_sec, &local)) return {};
  return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
          static_cast<int>(now.tv_nsec / 1000000)};
}

void InitControls() {}

BoxAnswer ShowMessageBox(std::string_view text, std::string_view caption, BoxStyle style) {
  const std::string codeset = posix::LocaleCodeset();
  std::cerr << posix::DisplayText(caption, codeset) << '\n' << posix::DisplayText(text, codeset);
  if (style != BoxStyle::Question) {
    std::cerr << '\n' << std::flush;
    return BoxAnswer::Ok;
  }
  // The answers, the one that Enter gives in capitals.
  std::cerr << " [y/N] " << std::flush;
  std::string answer;
  const bool answered = static_cast<bool>(std::getline(std::cin, answer));
  // A terminal echoes the line that ends the answer; anything else does not.
  if (!answered || !::isatty(STDIN_FILENO)) std::cerr << '\n' << std::flush;
  if (!answered) return BoxAnswer::No;
  return !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y') ? BoxAnswer::Yes : BoxAnswer::No;
}

// Windows-1252 has one byte for each character: any cut falls between two.
std::string CutToFit(std::string_view text, std::size_t capacity) {
  if (capacity == 0) return {};
  return std::string(text.substr(0, std::min(text.size(), capacity - 1)));
}

std::string SystemDirectory() {
  const char* root = std::getenv("SystemRoot");
  if (!root || *root == '\0') return {};
  std::string directory = text::AnsiFromUtf8(root) + "/system32";
  if (directory.size() > MaxText) return {};
  return directory;
}

}  // namespace qd::platform
