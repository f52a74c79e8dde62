//===- command_line.h - How the native tools read their command lines -------===//
//
// Every tool describes its command line to CLI11 and parses it with
// ParseCommandLine, so that all of them answer alike: --help and --version
// print to standard output and exit 0; a usage error prints one short line
// and where to find help on standard error and exits 2. The version is the
// project's own, passed in by CMake as QDPACK_VERSION.
//
//===----------------------------------------------------------------------===//
#pragma once

#include <CLI/CLI.hpp>

#include <iostream>
#include <optional>

namespace qd::tool {

inline constexpr int ExitFailure = 1;
inline constexpr int ExitUsage = 2;

// Gives a tool's parser its --version flag (it has --help already).
inline void AddVersionFlag(CLI::App& app) {
  app.set_version_flag("--version", app.get_name() + " " + QDPACK_VERSION);
}

// Parses the command line: nullopt to go on, else the exit status to end with
// at once (after --help or --version, or a usage error).
inline std::optional<int> ParseCommandLine(CLI::App& app, int argc, const char* const* argv) {
  try {
    app.parse(argc, argv);
    return std::nullopt;
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == static_cast<int>(CLI::ExitCodes::Success)) return app.exit(e);
    std::cerr << app.get_name() << ": " << e.what() << "\n"
              << "Run '" << app.get_name() << " --help' for usage.\n";
    return ExitUsage;
  }
}

}  // namespace qd::tool
