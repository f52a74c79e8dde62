//===- check.cpp - qdpkg check: a script's mistakes, before it is built -----===//
//
// The checks are the script checker's (check/script_check.h); this prints
// each diagnostic as a compiler does, "SCRIPT:LINE: error: ...", then a
// count, and sets the exit status: 1 when there is an error, 0 when there
// are only warnings.
//
//===----------------------------------------------------------------------===//
#include <ostream>
#include <string>

#include "check/script_check.h"
#include "commands.h"
#include "package_file.h"

namespace qd::pkg {

int Check(std::string_view path, std::ostream& out, std::ostream& err) {
  const auto diagnostics = check::CheckScriptFile(path);
  const std::string shown = Shown(Printable(path));
  if (!diagnostics) {
    err << "qdpkg: cannot read " << shown << ": it is missing, unreadable, or larger than the 1 MiB a script may be\n";
    return 1;
  }
  std::size_t errors = 0;
  for (const check::Diagnostic& diagnostic : *diagnostics) {
    out << Shown(check::FormatDiagnostic(Printable(path), diagnostic)) << '\n';
    if (diagnostic.severity == check::Severity::Error) ++errors;
  }
  const std::size_t warnings = diagnostics->size() - errors;
  out << shown << ": " << (errors == 0 ? "no" : std::to_string(errors)) << (errors == 1 ? " error, " : " errors, ")
      << (warnings == 0 ? "no" : std::to_string(warnings)) << (warnings == 1 ? " warning\n" : " warnings\n");
  return errors == 0 ? 0 : 1;
}

}  // namespace qd::pkg
