//===- script_check_fuzz.cpp - The script checker on arbitrary scripts -------===//
//
// A script is text from anyone, and the native builder may check every
// script it is given: any bytes must give diagnostics in the order of their
// lines, each naming a line the script has, and never a crash or a read out
// of bounds. The seeds are scripts the profile reader's fuzzer starts from.
//
//===----------------------------------------------------------------------===//
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "check/script_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view script(reinterpret_cast<const char*>(data), size);
  const auto diagnostics = qd::check::CheckScript(script);
  // A line number never exceeds the count of line ends, plus one.
  const auto lineEnd = [](char c) { return c == '\r' || c == '\n'; };
  const auto ends = static_cast<std::size_t>(std::count_if(script.begin(), script.end(), lineEnd));
  std::size_t previous = 0;
  for (const qd::check::Diagnostic& diagnostic : diagnostics) {
    if (diagnostic.line < previous || diagnostic.line > ends + 1 || diagnostic.message.empty()) std::abort();
    previous = diagnostic.line;
  }
  return 0;
}
