//===- report.h - qdpkg verify's report: one line per check -----------------===//
//
// "ok:", "fault:", "not checked:" when the package leaves nothing to
// compare, or "note:" for what is worth knowing but stops no installer run;
// then the verdict. Lines are text in the code page (names from the
// package), shown in the system's.
//
//===----------------------------------------------------------------------===//
#pragma once

#include <ostream>
#include <string>

#include "package_file.h"

namespace qd::pkg {

struct Report {
  std::ostream& out;
  int faults = 0;

  void Ok(const std::string& line) { out << "ok: " << Shown(line) << '\n'; }
  void Fault(const std::string& line) {
    out << "fault: " << Shown(line) << '\n';
    ++faults;
  }
  void NotChecked(const std::string& line) { out << "not checked: " << Shown(line) << '\n'; }
  void Note(const std::string& line) { out << "note: " << Shown(line) << '\n'; }

  // The verdict; the command's exit status.
  int End() {
    if (faults == 0) {
      out << "verified: every check holds\n";
      return 0;
    }
    out << "not verified: " << faults << (faults == 1 ? " fault\n" : " faults\n");
    return 1;
  }
};

}  // namespace qd::pkg
