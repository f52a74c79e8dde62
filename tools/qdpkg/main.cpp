//===- main.cpp - qdpkg: a package author's tool on a build server ----------===//
//
// A command-line tool of the native build for package authors:
//
//   qdpkg list [--json] PACKAGE        what the package holds
//   qdpkg verify [--ca FILE] PACKAGE   whether it is whole, installable, and as signed
//   qdpkg extract PACKAGE DIR          its script and files, unpacked, not run
//   qdpkg check SCRIPT                 a script's mistakes, with their lines
//   qdpkg new NAME                     a starter script
//
// --help and --version print to standard output and exit 0; a usage error
// prints one line and where to find help on standard error and exits 2.
//
//===----------------------------------------------------------------------===//
#include <iostream>
#include <new>
#include <optional>
#include <string>

#include "commands.h"
#include "common/command_line.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
  CLI::App app{"Looks inside a package: lists its items, verifies it, or unpacks its files without running them; "
               "checks a package script, or writes a starter script.",
               "qdpkg"};
  qd::tool::AddVersionFlag(app);
  app.require_subcommand(1);
  app.fallthrough();  // --version after a command, too

  std::string package;
  std::string directory;
  bool json = false;
  CLI::App* list = app.add_subcommand("list", "Show the stub's size, then each item: sizes, time stamp (UTC), name");
  list->add_flag("--json", json, "Print one JSON object instead of a table");
  list->add_option("PACKAGE", package, "The package file")->required();
  std::optional<std::string> caFile;
  CLI::App* verify = app.add_subcommand(
      "verify", "Check the checksum, the layout, every item, the script and the signature; exit 0 only when all hold");
  verify->add_option("PACKAGE", package, "The package file")->required();
  verify->add_option("--ca", caFile, "Also check that the signer's certificate leads to a CA in FILE (PEM)")
      ->type_name("FILE");
  CLI::App* extract = app.add_subcommand(
      "extract", "Unpack the script and every listed file into DIR, with their time stamps; run nothing");
  extract->add_option("PACKAGE", package, "The package file")->required();
  extract->add_option("DIR", directory, "The directory to unpack into (made when missing)")->required();

  std::string script;
  CLI::App* check = app.add_subcommand(
      "check", "Check a package script before it is built: SCRIPT:LINE: error/warning; exit 1 on an error");
  check->add_option("SCRIPT", script, "The package script (its files are looked for from the current directory)")
      ->required();
  CLI::App* create = app.add_subcommand("new", "Write a starter script, every text in English, to NAME");
  create->add_option("NAME", script, "The script to write; it must not exist")->required();

  if (const auto exit = qd::tool::ParseCommandLine(app, argc, argv)) return *exit;
  try {
    // Paths from the command line are the system's text; the platform's
    // calls take the code page's, as every name in a package is.
    if (*check) return qd::pkg::Check(qd::platform::TextFromSystem(script), std::cout, std::cerr);
    if (*create) return qd::pkg::New(qd::platform::TextFromSystem(script), std::cout, std::cerr);
    const std::string path = qd::platform::TextFromSystem(package);
    if (*list) return qd::pkg::List(path, json, std::cout, std::cerr);
    if (*verify) return qd::pkg::Verify(path, {.caFile = caFile}, std::cout);
    return qd::pkg::Extract(path, qd::platform::TextFromSystem(directory), std::cout, std::cerr);
  } catch (const std::bad_alloc&) {
    std::cerr << "qdpkg: out of memory\n";
    return qd::tool::ExitFailure;
  }
}
