//===- item_name_cases.h - Names a package's files may and may not have -----===//
//
// One table for the rule of item names, read by the rule's own test and by
// the end-to-end tests that give the same names to the installer and to
// qdpkg verify: each of the three must accept and refuse alike. Names are
// text in the code page, as a script's values are.
//
//===----------------------------------------------------------------------===//
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "package/item_name.h"

namespace qd::test {

struct ItemNameCase {
  std::string name;
  std::optional<NameRefusal> refusal;  // nullopt: accepted
};

inline std::vector<ItemNameCase> ItemNameCases() {
  using enum NameRefusal;
  return {
      {"engine.dll", std::nullopt},
      {"\xDC" "bersicht.txt", std::nullopt},  // a letter of the code page
      {"a,b.txt", std::nullopt},
      {"readme.txt.", std::nullopt},  // stored as readme.txt
      {" lead.txt", std::nullopt},
      {"console.txt", std::nullopt},
      {"COM10", std::nullopt},
      {"CONOUT.txt", std::nullopt},
      {"SetupQd.ini.bak", std::nullopt},
      {std::string(255, 'n'), std::nullopt},
      {"..\\escaped.txt", FolderPart},
      {"/tmp/rooted.txt", FolderPart},
      {"sub/x.txt", FolderPart},
      {"C:drive.txt", FolderPart},
      {"tab\there.txt", ControlCharacter},
      {"esc\x1b[31m.txt", ControlCharacter},
      {"del\x7F.txt", ControlCharacter},
      {"c1\x9D.txt", ControlCharacter},
      {"what?.txt", ReservedCharacter},
      {"a*b", ReservedCharacter},
      {"pipe|.txt", ReservedCharacter},
      {"<x>", ReservedCharacter},
      {"q\".txt", ReservedCharacter},
      {"", Empty},
      {".", Empty},
      {"..", Empty},
      {"...", Empty},
      {". .", Empty},
      {std::string(256, 'n'), TooLong},
      {"NUL", DeviceName},
      {"con", DeviceName},
      {"aux.txt", DeviceName},
      {"CON.tar.gz", DeviceName},
      {"COM1", DeviceName},
      {"lpt9.log", DeviceName},
      {"COM\xB9", DeviceName},  // COM with a superscript one
      {"CONOUT$", DeviceName},
      {"conin$.txt", DeviceName},
      {"PRN.", DeviceName},
      {"nul .txt", DeviceName},
      {"Com2 ", DeviceName},
      {"SetupQd.ini", ScriptName},
      {"setupqd.INI. ", ScriptName},
      {"TEMP.EXE", StubCopyName},
  };
}

}  // namespace qd::test
