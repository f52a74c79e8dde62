//===- outcome.h - Failures as values --------------------------------------===//
//
// No step of a build or of an installer run ends the process. A step that can
// fail returns an Outcome: its value, or the Failure that stopped it, which
// every caller hands up unchanged. Start-up alone turns a Failure into what
// the user sees (the script's message box or the fallback box, the build
// log's line) and into the exit code -1.
//
//===----------------------------------------------------------------------===//
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace qd {

// The error numbers; the script's text for number N is its key "Err%02d".
namespace error {
inline constexpr int Checksum = 2;        // the package's image checksum does not match
inline constexpr int File = 3;            // a file cannot be found, opened, read, created or written
inline constexpr int Configuration = 4;   // the script lacks a value or has one it cannot use
inline constexpr int Package = 5;         // an item does not decode; memory for it cannot be had
inline constexpr int Cancel = 6;          // the user cancelled: nothing is shown
inline constexpr int SetupFailed = 7;     // the setup program failed
inline constexpr int WorkDirectory = 8;   // no work directory, or no file can be created in it
inline constexpr int NotAdministrator = 9;
}  // namespace error

// The error numbers whose script text ("Err%02d") a run may show: all but a
// cancel's.
inline constexpr int ShownErrors[] = {error::Checksum,    error::File,          error::Configuration,   error::Package,
                                      error::SetupFailed, error::WorkDirectory, error::NotAdministrator};

// Why a build or an installer run stopped.
struct Failure {
  int error = 0;
  // The script whose language section holds the message, as the step that
  // failed knew it; nullopt when there is no script at all.
  std::optional<std::string> scriptPath;
  // The build log's line, exactly as the log receives it (a build only).
  std::string logLine;
  // What the failure is about, when the log line does not name it: the
  // file, or the value, that could not be used.
  std::string subject;
  // An item whose stream did not decode: the decoder's result, which is
  // shown before the failure itself.
  std::optional<std::uint32_t> decoderResult;
};

// A step's value, or the Failure that stopped it.
template <class T = void>
class [[nodiscard]] Outcome {
 public:
  Outcome(T value) : state_(std::in_place_index<0>, std::move(value)) {}
  Outcome(Failure failure) : state_(std::in_place_index<1>, std::move(failure)) {}

  explicit operator bool() const { return state_.index() == 0; }
  T& operator*() { return std::get<0>(state_); }
  const T& operator*() const { return std::get<0>(state_); }
  T* operator->() { return &std::get<0>(state_); }
  const T* operator->() const { return &std::get<0>(state_); }
  const Failure& failure() const { return std::get<1>(state_); }

 private:
  std::variant<T, Failure> state_;
};

// A step that gives nothing but success.
template <>
class [[nodiscard]] Outcome<void> {
 public:
  Outcome() = default;
  Outcome(Failure failure) : failure_(std::move(failure)) {}

  explicit operator bool() const { return !failure_; }
  const Failure& failure() const { return *failure_; }

 private:
  std::optional<Failure> failure_;
};

}  // namespace qd
