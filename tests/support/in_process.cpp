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

// Sets an environment variable for as long as it lives.
class ScopedVariable {
 public:
  explicit ScopedVariable(const std::string& assignment) : name_(assignment.substr(0, assignment.find('='))) {
    if (const char* old = std::getenv(name_.c_str())) old_ = old;
    ::setenv(name_.c_str(), assignment.substr(name_.size() + 1).c_str(), 1);
  }
  ~ScopedVariable() {
    if (old_)
      ::setenv(name_.c_str(), old_->c_str(), 1);
    else
      ::unsetenv(name_.c_str());
  }
  ScopedVariable(const ScopedVariable&) = delete;
  ScopedVariable& operator=(const ScopedVariable&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

// Standard input from a file holding `text`, for as long as it lives.
class ScopedInput {
 public:
  explicit ScopedInput(const std::string& text) : saved_(::dup(STDIN_FILENO)) {
    char name[] = "/tmp/qd-input-XXXXXX";
    const int fd = ::mkstemp(name);
    ::unlink(name);
    if (!text.empty()) static_cast<void>(::write(fd, text.data(), text.size()));
    ::lseek(fd, 0, SEEK_SET);
    ::dup2(fd, STDIN_FILENO);
    ::close(fd);
  }
  ~ScopedInput() {
    ::dup2(saved_, STDIN_FILENO);
    ::close(saved_);
  }
  ScopedInput(const ScopedInput&) = delete;
  ScopedInput& operator=(const ScopedInput&) = delete;

 private:
  int saved_;
};

}  // namespace

InProcessResult RunInProcess(const std::vector<std::string>& args, const InProcessOptions& options) {
  std::vector<std::string> words = {options.argv0};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv = PointersTo(words);
  const int argc = static_cast<int>(words.size());
  platform::posix::RememberCommandLine(argc, argv.data());

  std::vector<std::unique_ptr<ScopedVariable>> variables;
  for (const std::string& assignment : options.environment)
    variables.push_back(std::make_unique<ScopedVariable>(assignment));
  const std::filesystem::path before = std::filesystem::current_path();
  if (!options.workingDirectory.empty()) std::filesystem::current_path(options.workingDirectory);
  const ScopedInput input(options.input);

  testing::internal::CaptureStderr();
  InProcessResult result;
  result.exitCode = ProgramMain(nullptr, platform::posix::ArgumentText(argc, argv.data()));
  result.err = testing::internal::GetCapturedStderr();
  std::filesystem::current_path(before);
  return result;
}

}  // namespace qd::test
