//===- process.cpp - Starting programs, rights and restart, POSIX half ------===//
//
// Only POSIX code here. A program starts with posix_spawn from the current
// directory with this process's environment, and is waited for until it
// ends. Rights are the effective user id; a restart is only reported.
//
//===----------------------------------------------------------------------===//
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <iostream>
#include <vector>

#include "text/code_page.h"
#include "native_path.h"
#include "../halves.h"
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
    words.push_back(text::Utf8FromAnsi(text.substr(at, end - at)));
    at = end;
  }
  return words;
}

// Unpacked files carry no execute bit; the owner gets it on a regular file,
// never on a file that a link at the program's name leads to.
void MakeExecutable(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return;
  struct stat info {};
  if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && !(info.st_mode & S_IXUSR))
    static_cast<void>(::fchmod(fd, (info.st_mode & 07777) | S_IXUSR));
  ::close(fd);
}

// A program in a directory reached through a handle of this process
// (/proc/self/fd/N/...): the handle the path goes through, which the program
// must hold too, at the same number, for its path to stay valid in it.
[[nodiscard]] std::optional<int> HandleOfPath(std::string_view path) {
  constexpr std::string_view Prefix = "/proc/self/fd/";
  if (!path.starts_with(Prefix)) return std::nullopt;
  int handle = 0;
  std::size_t at = Prefix.size();
  if (at == path.size() || path[at] < '0' || path[at] > '9') return std::nullopt;
  for (; at < path.size() && path[at] >= '0' && path[at] <= '9' && handle < 1'000'000; ++at)
    handle = handle * 10 + (path[at] - '0');
  return handle;
}

// File actions for the program: the handle its path goes through, kept open
// across the start (a duplication onto itself clears close-on-exec).
class SpawnActions {
 public:
  explicit SpawnActions(const std::string& program) {
    ready_ = ::posix_spawn_file_actions_init(&actions_) == 0;
    if (const auto handle = HandleOfPath(program); ready_ && handle)
      ready_ = ::posix_spawn_file_actions_adddup2(&actions_, *handle, *handle) == 0;
  }
  ~SpawnActions() { ::posix_spawn_file_actions_destroy(&actions_); }
  SpawnActions(const SpawnActions&) = delete;
  SpawnActions& operator=(const SpawnActions&) = delete;

  const posix_spawn_file_actions_t* Get() const { return ready_ ? &actions_ : nullptr; }

 private:
  posix_spawn_file_actions_t actions_{};
  bool ready_ = false;
};

}  // namespace

std::optional<std::uint32_t> native::RunProgram(const ProgramCommand& command, const std::function<void()>&) {
  const std::string program = posix::NativePath(command.program);
  MakeExecutable(program);
  std::vector<std::string> words = {program};
  for (std::string& word : Words(command.arguments)) words.push_back(std::move(word));
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);

  const SpawnActions actions(program);
  if (!actions.Get()) return std::nullopt;
  pid_t child = 0;
  if (::posix_spawn(&child, program.c_str(), actions.Get(), nullptr, argv.data(), environ) != 0)
    return std::nullopt;
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
