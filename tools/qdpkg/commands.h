//===- commands.h - qdpkg's commands -----------------------------------------===//
//
// list, verify and extract read one package front to back in bounded
// memory; check and new serve the author of a script before it is built.
// Each returns the tool's exit status: 0 when it did all it was asked, 1
// when the package, the script (or a file it needs) let it down. Usage
// errors are the command line's business (main.cpp) and exit 2.
//
//===----------------------------------------------------------------------===//
#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>

namespace qd::pkg {

// The stub's size, then each item in order (the script, then each listed
// file by its destination, then any item the list does not name) with its
// packed and unpacked size and time stamp, and the totals. `json` gives the
// same as one JSON object. A package that cannot be read to its last item
// gives what was read and a line on `err`.
int List(std::string_view path, bool json, std::ostream& out, std::ostream& err);

// Checks the image checksum, the layout (stub, markers, tail, a certificate
// table after it), that every item decodes and the list names each, the
// script by every rule an installer run would refuse it by (names, setup
// program, language), the first file's version, and the Authenticode
// signature of a signed package; the package's name against the one its
// version gives is a note. One line per check on
// `out`, faults marked; 0 only when every check holds.
struct VerifyOptions {
  // A file of CA certificates (PEM) that the signer's certificate must lead
  // to, as a path in the system's text; without one the chain is not checked.
  std::optional<std::string> caFile;
};
int Verify(std::string_view path, const VerifyOptions& options, std::ostream& out);

// Checks the script at `path` (check/script_check.h) and prints each
// diagnostic, "SCRIPT:LINE: error: ..." or "...: warning: ...", then their
// count; 1 when there is an error, 0 when there are only warnings.
int Check(std::string_view path, std::ostream& out, std::ostream& err);

// Writes a starter script to `path`, which must not exist: the layout of
// the README's example, a comment for each section, every text in English.
int New(std::string_view path, std::ostream& out, std::ostream& err);
// The starter script's text.
std::string StarterScript();

// Unpacks the script and every listed file into `directory` (made when it
// does not exist), each with its time stamp. A name the installer refuses is
// refused: nothing is written outside `directory`, and no file twice.
// Nothing is run.
int Extract(std::string_view path, std::string_view directory, std::ostream& out, std::ostream& err);

}  // namespace qd::pkg
