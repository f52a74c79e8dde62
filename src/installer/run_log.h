//===- run_log.h - The log an installer run keeps ("/log=FILE") ------------===//
//
// Packages are deployed unattended, and a silent run shows nothing: an
// administrator asks a run for a log instead, a plain text file to which
// each run appends one line per event, each with the local time. The log
// only ever looks on. A file that cannot be opened or written loses its
// lines, never the run; and it is kept out of what the run works with: its
// own package, which it must read unchanged, and its work directory, which
// holds only what the run unpacks.
//
//===----------------------------------------------------------------------===//
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "installer/extract.h"
#include "platform/platform.h"

namespace qd {

class RunLog {
 public:
  // Appends to the file at `path`, created when it is not there; no log
  // without a path, or when the file cannot be opened, is no file on a disk
  // (a folder, a device, a pipe), or is the package `ownFile` itself.
  RunLog(const std::optional<std::string>& path, std::string_view ownFile);
  // Its events are handed out by address (Events): it stays where it is made.
  RunLog(const RunLog&) = delete;
  RunLog& operator=(const RunLog&) = delete;

  bool IsOpen() const { return file_.IsOpen(); }

  // Lets go of the log when its file lies in `directory` (ending with the
  // separator), so that nothing is ever written there through it.
  void KeepOutOf(std::string_view directory);

  // Appends one line for the event, with the local time. A line that cannot
  // be written ends the log: a log with a gap would mislead.
  void Write(std::string_view event);

  // A sink that writes to this log for as long as it lives.
  EventLog Events() {
    return {[this](std::string_view event) { Write(event); }};
  }

 private:
  platform::File file_;
  std::string name_;  // the file's own name, the last part of its path
};

// One line of the log: "2024-05-01 14:03:07.120  " and the event, whose
// control characters (a line end in a name, an escape sequence) are each
// written as "?", so that every event stays one line; then CR LF.
std::string LogLine(const platform::LocalTime& time, std::string_view event);

}  // namespace qd
