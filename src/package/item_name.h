//===- item_name.h - Which names a package's files may have ----------------===//
//
// Names come from the package: each [Files] destination is the name of a
// file the installer creates in its work directory, and [Cmd] FileName
// names the program it starts there. One rule decides which names are
// accepted, for the installer, the builder, and qdpkg's verify and check
// alike; it takes the strictest view of the two builds, so that a package
// that installs on one installs on the other:
//
//   - a plain file name: no drive, root or folder part ("\", "/", ":");
//   - no control character (nor the C1 controls that the code page's five
//     undefined bytes stand for), and none of < > " | ? *;
//   - not empty once Windows has dropped its trailing dots and blanks, which
//     also refuses ".", ".." and "...";
//   - at most 255 characters, as a file name may have;
//   - not a device name Windows reserves, in any case, with or without an
//     extension, with trailing dots or blanks: CON, PRN, AUX, NUL, COM1 to
//     COM9, LPT1 to LPT9 (also with the superscript digits ¹ ² ³, which
//     Windows takes as digits), CONIN$, CONOUT$;
//   - not the name of the script or of the stub copy that the installer
//     keeps beside the files;
//   - and, in a list, no name twice: two names are one file when they are
//     equal without regard to case once their trailing dots and blanks fall
//     away.
//
// Names are text in the code page, as the script's values are read.
//
//===----------------------------------------------------------------------===//
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qd {

// The name of the stub's copy, which the installer unpacks to find the
// package marker and deletes at once.
inline constexpr std::string_view StubCopyFileName = "temp.exe";

// Why a name is refused.
enum class NameRefusal {
  FolderPart,         // a drive, a root or a folder part
  ControlCharacter,
  ReservedCharacter,  // < > " | ? *
  Empty,              // nothing once trailing dots and blanks fall away
  TooLong,
  DeviceName,
  ScriptName,         // the installer's own script
  StubCopyName,       // the installer's copy of its stub
  Duplicate,          // an earlier name of the list names the same file
};

// Why a name is refused, in words that follow the name: "is a device name
// that Windows reserves", and so on.
std::string_view DescribeRefusal(NameRefusal refusal);

// The refusal of one name on its own; nullopt when it is accepted.
[[nodiscard]] std::optional<NameRefusal> CheckItemName(std::string_view name);
inline bool IsPlainFileName(std::string_view name) { return !CheckItemName(name); }

// The name Windows gives the file: without its trailing dots and blanks.
std::string_view StoredName(std::string_view name);
// True when both names reach the same file of one directory.
[[nodiscard]] bool NamesCollide(std::string_view a, std::string_view b);

// One refused name of a list.
struct RefusedName {
  std::size_t index = 0;  // in the list
  NameRefusal refusal = NameRefusal::FolderPart;
  std::size_t sameAs = 0;  // a Duplicate's earlier entry
};
// Every refused name of a list of destinations, in list order: a name
// refused on its own, or one that names the same file as an earlier,
// accepted name.
std::vector<RefusedName> CheckItemNames(std::span<const std::string> names);

// The setup program's part of a [Cmd] FileName value: the text up to its
// first blank, or all of it; the rest is the program's own arguments. It
// must pass CheckItemName.
std::string_view SetupProgramPart(std::string_view fileName);
[[nodiscard]] std::optional<NameRefusal> CheckSetupFileName(std::string_view fileName);

// The names under which the installer looks for the setup program of a
// [Cmd] FileName value, in order: the text up to each blank, shortest
// first, then the whole value; one without an extension first with ".exe"
// added, then as it stands. Only names that pass CheckItemName are given,
// so that no search leaves the work directory. `length` is how much of the
// value the name takes; what follows it is the program's arguments.
struct SetupProgramName {
  std::string name;
  std::size_t length = 0;
};
std::vector<SetupProgramName> SetupProgramNames(std::string_view fileName);

}  // namespace qd
