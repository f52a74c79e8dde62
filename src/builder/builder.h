//===- builder.h - The package builder ("/m") -------------------------------===//
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "outcome/outcome.h"
#include "platform/platform.h"

namespace qd {

// The build log "logfile.txt" in the current directory: the warnings of a
// build, and the line of the failure that ends one, without time or level.
// Lines are written as they come; a log that cannot be created or written
// loses them, and the build goes on.
struct BuildLog {
  platform::File file;

  void Write(std::string_view line) {
    if (file.IsOpen())
      static_cast<void>(
          platform::WriteBytes(file, std::span(reinterpret_cast<const std::uint8_t*>(line.data()), line.size())));
  }
};

// What a build wrote.
struct BuiltPackage {
  std::string path;        // the package, as the script names it
  std::uint64_t size = 0;  // its length in bytes
  int files = 0;           // the files packed after the script
};

// The packing list's path: the text after the last blank of the command text
// (so a path cannot hold a blank); nullopt when there is no blank.
[[nodiscard]] std::optional<std::string> ScriptPathOf(std::string_view commandText);

// Builds a package from the packing list named after the last blank of
// `commandText` (the whole argument text, switch included). Warnings go to
// `log`, which the build creates; a failure is returned with the line its
// caller writes there. The package is written under a temporary name beside
// its own and takes its name once it is complete and sealed, so a failed
// build leaves no file under that name (an earlier package of that name
// stays), and none of the files it reads is changed but the script, whose
// list loses the entries whose sources are missing.
Outcome<BuiltPackage> BuildPackage(std::string_view commandText, BuildLog& log);

}  // namespace qd
