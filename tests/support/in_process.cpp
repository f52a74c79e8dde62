//===- in_process.cpp - Running the program's start-up inside a test --------===//
#include "support/in_process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>

#include "platform/posix/command_line.h"
#include "startup/startup.h"
#include "support/process.h"

namespace qd::test {
namespace {

// What a run changes of the process's surroundings: its environment, current
// directory and standard input; put back as they were when it goes.
class Surroundings {
 public:
  explicit Surroundings(const InProcessOptions& options) {
    for (const std::string& assignment : options.environment) {
      const std::string name = assignment.substr(0, assignment.find('='));
      const char* old = std::getenv(name.c_str());
      variables_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
      ::setenv(name.c_str(), assignment.substr(name.size() + 1).c_str(), 1);
    }
    if (!options.workingDirectory.empty()) std::filesystem::current_path(options.workingDirectory);
    char name[] = "/tmp/qd-input-XXXXXX";
    const int fd = ::mkstemp(name);
    ::unlink(name);
    if (!options.input.empty()) static_cast<void>(::write(fd, options.input.data(), options.input.size()));
    ::lseek(fd, 0, SEEK_SET);
    ::dup2(fd, STDIN_FILENO);
    ::close(fd);
  }
  ~Surroundings() {
    ::dup2(input_, STDIN_FILENO);
    ::close(input_);
    std::error_code ignored;
    std::filesystem::current_path(directory_, ignored);
    for (auto variable = variables_.rbegin(); variable != variables_.rend(); ++variable) {
      if (variable->second)
        ::setenv(variable->first.c_str(), variable->second->c_str(), 1);
      else
        ::unsetenv(variable->first.c_str());
    }
  }
  Surroundings(const Surroundings&) = delete;
  Surroundings& operator=(const Surroundings&) = delete;

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> variables_;  // and their old values
  std::filesystem::path directory_ = std::filesystem::current_path();
  int input_ = ::dup(STDIN_FILENO);
};

}  // namespace

InProcessResult RunInProcess(const std::vector<std::string>& args, const InProcessOptions& options) {
  std::vector<std::string> words = {options.argv0};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv = PointersTo(words);
  const int argc = static_cast<int>(words.size());
  platform::posix::RememberCommandLine(argc, argv.data());

  const Surroundings surroundings(options);
  testing::internal::CaptureStderr();
  InProcessResult result;
  result.exitCode = ProgramMain(nullptr, platform::posix::ArgumentText(argc, argv.data()));
  result.err = testing::internal::GetCapturedStderr();
  return result;
}

}  // namespace qd::test
