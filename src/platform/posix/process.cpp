//===- process.cpp - Starting programs, rights and restart, POSIX half ------===//
//
// Only POSIX code here. A program starts with posix_spawn from the current
// directory with this process's environment, and is waited for until it
// ends. Rights are the effective user id; a restart is only reported.
//
//===----------------------------------------------------------------------===//
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <iostream>
#include <vector>

#include "code_page.h"
#include "native_path.h"
#include "platform/platform.h"

extern char** environ;

namespace qd::platform {
namespace {

// An exit status is 8 bits wide; this is 3010's low byte.
constexpr std::uint32_t RestartStatus = 3010 & 0xFF;

// The blank-separated words of `text`, as the system takes them (UTF-8).
std::vector<std::string> Words(std::string_view text) {
  std::vector<std::string> words;
  std::size_t at = 0;
  while ((at = text.find_first_not_of(" \t", at)) != std::string_view::npos) {
    const std::size_t end = std::min(text.find_first_of(" \t", at), text.size());
    words.push_back(posix::Utf8FromAnsi(text.substr(at, end - at)));
    at = end;
  }
  return words;
}

// Unpacked files carry no execute bit; the owner gets it on a regular file.
void MakeExecutable(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && !(info.st_mode & S_IXUSR))
    ::chmod(path.c_str(), (info.st_mode & 07777) | S_IXUSR);
}

}  // namespace

std::optional<std::uint32_t> RunProgram(const ProgramCommand& command, const std::function<void()>&) {
  const std::string program = posix::NativePath(command.program);
  MakeExecutable(program);
  std::vector<std::string> words = Words(command.arguments);
  words.insert(words.begin(), program);
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);

  pid_t child = 0;
  if (::posix_spawn(&child, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0) return std::nullopt;
  int status = 0;
  while (::waitpid(child, &status, 0) < 0)
    if (errno != EINTR) return std::nullopt;
  if (WIFSIGNALED(status)) return 128u + static_cast<std::uint32_t>(WTERMSIG(status));
  const auto code = static_cast<std::uint32_t>(WEXITSTATUS(status));
  return code == RestartStatus ? 3010u : code;
}

bool IsUserAdministrator() { return ::geteuid() == 0; }

bool IsNtPlatform() { return true; }

void EnableShutdownPrivilege() {}

void RequestRestart() {
  std::cerr << "The setup program asked for a restart; this platform does not restart the system.\n"
            << std::flush;
}

}  // namespace qd::platform
