//===- run_log.cpp - The log an installer run keeps ("/log=FILE") ----------===//
//
// The file is opened once, before the run makes its work directory, and
// written a whole line at a time at its end, so that runs that share one
// log (one deployment after another, or several at once) keep their lines
// whole. Whatever befalls the file, the run is not told: the log is let go
// of, and its close, like every other result here, ends nothing.
//
//===----------------------------------------------------------------------===//
#include "installer/run_log.h"

#include <cstdint>
#include <span>

#include "text/text.h"

namespace qd {

RunLog::RunLog(const std::optional<std::string>& path, std::string_view ownFile) {
  if (!path || path->empty()) return;
  platform::File file = platform::Open(*path, platform::OpenMode::Append);
  if (!file.IsOpen()) return;
  // Lines appended to the package would change what the run checks and
  // reads next; the file is closed again with nothing written.
  const auto log = platform::IdentityOf(file);
  const auto own = platform::IdentityOf(ownFile);
  if (!log || (own && *own == *log)) return;
  file_ = std::move(file);
  name_ = path->substr(path->find_last_of("\\/") + 1);
}

void RunLog::KeepOutOf(std::string_view directory) {
  if (!file_.IsOpen()) return;
  const auto log = platform::IdentityOf(file_);
  const auto there = platform::IdentityOf(std::string(directory) + name_);
  if (!log || (there && *there == *log)) static_cast<void>(file_.Close());
}

void RunLog::Write(std::string_view event) {
  if (!file_.IsOpen()) return;
  const std::string line = LogLine(platform::LocalTimeNow(), event);
  if (!platform::WriteBytes(file_, std::span(reinterpret_cast<const std::uint8_t*>(line.data()), line.size())))
    static_cast<void>(file_.Close());
}

std::string LogLine(const platform::LocalTime& time, std::string_view event) {
  std::string line = text::Decimal(time.year, 4) + "-" + text::Decimal(time.month, 2) + "-" +
                     text::Decimal(time.day, 2) + " " + text::Decimal(time.hour, 2) + ":" +
                     text::Decimal(time.minute, 2) + ":" + text::Decimal(time.second, 2) + "." +
                     text::Decimal(time.millisecond, 3) + "  ";
  for (const char c : event) line += static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? '?' : c;
  return line + "\r\n";
}

}  // namespace qd
