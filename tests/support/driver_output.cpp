//===- driver_output.cpp - What the Windows test driver saw -----------------===//
#include "support/driver_output.h"

#include "support/escape.h"

#include <charconv>

namespace qd::test {
namespace {

template <typename Int>
std::optional<Int> Number(std::string_view text) {
  Int value{};
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::optional<ScreenRect> Rect(const std::vector<std::string_view>& f) {
  if (f.size() != 5) return std::nullopt;
  const auto left = Number<int>(f[1]), top = Number<int>(f[2]), right = Number<int>(f[3]), bottom = Number<int>(f[4]);
  if (!left || !top || !right || !bottom) return std::nullopt;
  return ScreenRect{*left, *top, *right, *bottom};
}

std::optional<std::uint32_t> Colour(std::string_view hex) {
  std::uint32_t value = 0;
  auto [end, error] = std::from_chars(hex.data(), hex.data() + hex.size(), value, 16);
  if (error != std::errc() || end != hex.data() + hex.size() || hex.size() != 6) return std::nullopt;
  return value;
}

}  // namespace

const DriverControl* DriverWindow::Control(int id) const {
  for (const DriverControl& control : controls)
    if (control.id == id) return &control;
  return nullptr;
}

DriverOutput ParseDriverOutput(std::string_view report) {
  DriverOutput output;
  output.raw = report;
  while (!report.empty()) {
    std::size_t end = report.find('\n');
    std::string_view line = report.substr(0, end);
    report.remove_prefix(end == std::string_view::npos ? report.size() : end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) continue;

    std::vector<std::string_view> f = SplitTabs(line);
    bool inWindow = !output.windows.empty();
    bool understood = true;
    if (f[0] == "window" && f.size() == 3) {
      DriverWindow window;
      window.className = Unescape(f[1]);
      window.caption = Unescape(f[2]);
      output.windows.push_back(std::move(window));
    } else if ((f[0] == "frame" || f[0] == "client") && inWindow && Rect(f)) {
      (f[0] == "frame" ? output.windows.back().frame : output.windows.back().client) = Rect(f);
    } else if (f[0] == "colours" && f.size() == 4 && Colour(f[1]) && Colour(f[2]) && Colour(f[3])) {
      output.colours = SystemColours{*Colour(f[1]), *Colour(f[2]), *Colour(f[3])};
    } else if (f[0] == "text" && f.size() == 2 && inWindow) {
      output.windows.back().text = Unescape(f[1]);
    } else if (f[0] == "icon" && f.size() == 2 && inWindow) {
      output.windows.back().icon = f[1];
    } else if (f[0] == "control" && f.size() == 6 && inWindow && Number<int>(f[1])) {
      output.windows.back().controls.push_back(
          {*Number<int>(f[1]), Unescape(f[2]), f[3] == "1", f[4] == "1", Unescape(f[5])});
    } else if (f[0] == "press" && f.size() == 2 && inWindow && Number<int>(f[1])) {
      output.windows.back().pressed = Number<int>(f[1]);
    } else if (f[0] == "busy" && f.size() == 4 && Number<int>(f[1])) {
      output.busy = DriverBusy{*Number<int>(f[1]), f[2] == "1", f[3] == "1"};
    } else if (f[0] == "exit" && f.size() == 2 && Number<std::int32_t>(f[1])) {
      output.exitCode = Number<std::int32_t>(f[1]);
    } else if (f[0] == "timeout" && f.size() == 1) {
      output.timedOut = true;
    } else if (f[0] == "error" && f.size() == 2) {
      output.errors.push_back(Unescape(f[1]));
    } else {
      understood = false;
    }
    if (!understood) output.errors.push_back("unreadable line: " + std::string(line));
  }
  return output;
}

DriverOutput Drive(const std::string& program, const std::vector<std::string>& args,
                   const DriveOptions& options) {
  std::vector<std::string> driverArgs{"--timeout", std::to_string(options.timeoutSeconds)};
  for (int id : options.presses) {
    driverArgs.push_back("--press");
    driverArgs.push_back(std::to_string(id));
  }
  if (!options.hold.empty()) {
    driverArgs.push_back("--hold");
    driverArgs.push_back(WinePath(options.hold));
  }
  if (!options.busy.empty()) {
    driverArgs.push_back("--busy");
    driverArgs.push_back(WinePath(options.busy));
  }
  for (const std::string& setting : options.environment) {
    driverArgs.push_back("--env");
    driverArgs.push_back(setting);
  }
  if (options.glue) driverArgs.push_back("--glue");
  driverArgs.push_back("--");
  driverArgs.push_back(WinePath(program));
  driverArgs.insert(driverArgs.end(), args.begin(), args.end());
  RunResult result = RunWine(QDPACK_WIN64_DIR "/tests/wine/driver.exe", driverArgs, options.run);
  // Now and then, on a busy machine, wine does not start the driver at all,
  // which then says nothing, not even how the program it drives ended: it is
  // started once more. A driver that ran is taken as it reported.
  if (result.out.empty()) result = RunWine(QDPACK_WIN64_DIR "/tests/wine/driver.exe", driverArgs, options.run);
  DriverOutput output = ParseDriverOutput(result.out);
  if (result.exitCode != 0 && !output.timedOut)
    output.errors.push_back("driver exit status " + std::to_string(result.exitCode) + ": " + result.err);
  return output;
}

}  // namespace qd::test
