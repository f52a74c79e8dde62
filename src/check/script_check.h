//===- script_check.h - A package script checked before it is built ---------===//
//
// Reads a script by the profile rules (profile/profile.h) and reports, with
// the line where it stands, what the builder or an installer run would make
// of it:
//
//   errors, which fail the build, refuse or break the install, or drop a
//   file without a word: a required key missing ([In] QdFileName, [Out]
//   OutputName, [Cmd] FileName, [Cmd] LANG, the language section); a [Files]
//   key the list never reads (File2 for File02, File100, a key after a gap);
//   an entry without a comma; a destination the installer refuses
//   (package/item_name.h); a [Cmd] FileName it refuses or that names no
//   listed file; a first file that is missing or has no version; a stub
//   that is missing; an OutputName the builder does not accept, or whose
//   folder does not exist;
//
//   warnings, which build and install but not as meant: unknown sections
//   and keys (with the likely intended one: "[CDM]: did you mean [CMD]?"),
//   a section or key given twice (only the first is read), a value that
//   counts as absent or is cut, a missing source other than the first (the
//   builder drops it), a text of the language section that is missing (the
//   dialog shows "@"), and text outside ASCII in a script without a
//   byte-order mark (it is read as Windows-1252).
//
// Files are looked up as the builder looks them up: relative to the current
// directory. Comment lines (";") are passed over.
//
//===----------------------------------------------------------------------===//
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qd::check {

enum class Severity { Warning, Error };

struct Diagnostic {
  Severity severity = Severity::Error;
  std::size_t line = 0;  // in the script, from 1; 0 for the script as a whole
  std::string message;   // text in the code page, control characters escaped
};

// The diagnostics for a script's bytes, in the order of their lines.
std::vector<Diagnostic> CheckScript(std::string_view bytes);

// Reads the script at `path` and checks it; nullopt when it cannot be read.
std::optional<std::vector<Diagnostic>> CheckScriptFile(std::string_view path);

// "SCRIPT:LINE: error: message", or "SCRIPT: warning: message" for the
// script as a whole.
std::string FormatDiagnostic(std::string_view scriptName, const Diagnostic& diagnostic);

}  // namespace qd::check
