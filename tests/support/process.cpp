//===- process.cpp - Running programs from tests ----------------------------===//
#include "support/process.h"

#include "support/files.h"
#include "support/tools.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <utmp.h>

#include <array>
#include <chrono>
#include <csignal>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>

extern char** environ;

namespace qd::test {

std::vector<char*> PointersTo(std::vector<std::string>& words) {
  std::vector<char*> pointers;
  for (std::string& word : words) pointers.push_back(word.data());
  pointers.push_back(nullptr);
  return pointers;
}

RunResult Run(const std::string& program, const std::vector<std::string>& args,
              const RunOptions& options) {
  int in[2], out[2], err[2];
  if (pipe(in) != 0 || pipe(out) != 0 || pipe(err) != 0) throw std::runtime_error("pipe");

  // Standard input is the given text, then its end: a question that finds no
  // answer there is answered No.
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err[1], 2);
  for (int* p : {in, out, err}) {
    posix_spawn_file_actions_addclose(&actions, p[0]);
    posix_spawn_file_actions_addclose(&actions, p[1]);
  }
  if (!options.workingDirectory.empty())
    posix_spawn_file_actions_addchdir_np(&actions, options.workingDirectory.c_str());

  std::vector<std::string> argvText{options.argv0.empty() ? program : options.argv0};
  argvText.insert(argvText.end(), args.begin(), args.end());
  std::vector<char*> argv = PointersTo(argvText);

  std::vector<std::string> envText;
  for (char** e = environ; *e; ++e) envText.emplace_back(*e);
  envText.insert(envText.end(), options.environment.begin(), options.environment.end());
  std::vector<char*> envp = PointersTo(envText);

  pid_t pid = 0;
  int rc = posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(in[0]);
  close(out[1]);
  close(err[1]);
  if (rc != 0) {
    close(in[1]);
    close(out[0]);
    close(err[0]);
    throw std::runtime_error("cannot start " + program + ": " + std::strerror(rc));
  }
  // The input is small: the pipe takes it whole before the program reads. A
  // program that ends without reading it must not end the test with SIGPIPE.
  if (!options.input.empty()) std::signal(SIGPIPE, SIG_IGN);
  for (std::size_t done = 0; done < options.input.size();) {
    const ssize_t n = write(in[1], options.input.data() + done, options.input.size() - done);
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  close(in[1]);

  // Drain both outputs without blocking on either.
  RunResult result;
  std::array<pollfd, 2> fds{pollfd{out[0], POLLIN, 0}, pollfd{err[0], POLLIN, 0}};
  std::array<std::string*, 2> sinks{&result.out, &result.err};
  int open = 2;
  while (open > 0) {
    if (poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR) break;
    for (std::size_t i = 0; i < fds.size(); ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buffer[65536];
      ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<std::size_t>(n));
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }

  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

TerminalRunResult RunOnTerminal(const std::string& program, const std::vector<std::string>& args,
                                const RunOptions& options, const std::vector<TerminalTurn>& turns,
                                int timeoutSeconds) {
  int master = -1, slave = -1;
  if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) throw std::runtime_error("openpty");
  std::vector<std::string> argvText{options.argv0.empty() ? program : options.argv0};
  argvText.insert(argvText.end(), args.begin(), args.end());
  std::vector<char*> argv = PointersTo(argvText);

  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork");
  if (pid == 0) {
    // A new session whose controlling terminal is the slave side.
    close(master);
    if (login_tty(slave) != 0) _exit(127);
    if (!options.workingDirectory.empty() && chdir(options.workingDirectory.c_str()) != 0) _exit(127);
    for (const std::string& setting : options.environment) putenv(const_cast<char*>(setting.c_str()));
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  // The slave stays open here too, to read its settings once the program has ended.
  TerminalRunResult result;
  std::string& out = result.run.out;
  // Whether output came within `milliseconds`; it is appended to `out`.
  const auto readSome = [&](int milliseconds) {
    pollfd output{master, POLLIN, 0};
    char buffer[4096];
    const ssize_t n = poll(&output, 1, milliseconds) > 0 ? read(master, buffer, sizeof buffer) : 0;
    if (n > 0) out.append(buffer, static_cast<std::size_t>(n));
    return n > 0;
  };
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
  std::size_t seen = 0;  // the output up to here was waited for
  std::size_t turn = 0;
  int status = 0;
  bool ended = false;
  while (!ended) {
    while (turn < turns.size()) {
      const std::size_t at = out.find(turns[turn].after, seen);
      if (at == std::string::npos) break;
      seen = at + turns[turn].after.size();
      const std::string& keys = turns[turn].keys;
      if (!keys.empty() && write(master, keys.data(), keys.size()) != static_cast<ssize_t>(keys.size()))
        throw std::runtime_error("cannot type on the terminal");
      if (!turns[turn].remove.empty()) std::filesystem::remove(turns[turn].remove);
      ++turn;
    }
    readSome(50);
    ended = waitpid(pid, &status, WNOHANG) == pid;
    if (!ended && std::chrono::steady_clock::now() > deadline) {
      out += "\n[the test ended the program: no \"" + (turn < turns.size() ? turns[turn].after : "end") + "\"]\n";
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      ended = true;
    }
  }
  while (readSome(0)) {  // what the program wrote last
  }
  termios settings{};
  result.terminalSane = tcgetattr(slave, &settings) == 0 && (settings.c_lflag & ICANON) && (settings.c_lflag & ECHO);
  close(slave);
  close(master);
  result.run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

RunResult RunWine(const std::string& program, const std::vector<std::string>& args,
                  const RunOptions& options) {
  // Wine's own helper processes inherit standard error and hold a pipe open
  // for seconds after the program has ended; a file does not make us wait.
  char errPath[] = "/tmp/qdwine-err.XXXXXX";
  int errFd = mkstemp(errPath);
  if (errFd < 0) throw std::runtime_error("mkstemp");
  close(errFd);

  RunOptions wine = options;
  wine.environment.push_back("WINEPREFIX=" QDPACK_WINEPREFIX);
  wine.environment.push_back("WINEDEBUG=-all");
  std::vector<std::string> shellArgs{"-c", "exec \"$0\" \"$@\" 2>\"$QD_WINE_STDERR\"",
                                     Wine64.path, program};
  shellArgs.insert(shellArgs.end(), args.begin(), args.end());
  wine.environment.push_back(std::string("QD_WINE_STDERR=") + errPath);
  RunResult result = Run("/bin/sh", shellArgs, wine);
  result.err = ReadText(errPath);
  unlink(errPath);
  return result;
}

std::string WinePath(const std::string& posixPath) {
  std::string path = "Z:" + std::filesystem::absolute(posixPath).lexically_normal().string();
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
}

}  // namespace qd::test
