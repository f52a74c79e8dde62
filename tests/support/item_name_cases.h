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
#include <utility>
#include <vector>

#include "package/item_name.h"

namespace qd::test {

struct ItemNameCase {
  std::string name;
  std::optional<NameRefusal> refusal;  // nullopt: accepted
};

inline std::vector<ItemNameCase> ItemNameCases() {
  using enum NameRefusal;
  const std::pair<std::optional<NameRefusal>, std::vector<std::string>> groups[] = {
      // Accepted, among them a letter of the code page and "readme.txt." (stored as readme.txt).
      {std::nullopt,
       {"engine.dll", "\xDC" "bersicht.txt", "a,b.txt", "readme.txt.", " lead.txt", "console.txt", "COM10",
        "CONOUT.txt", "SetupQd.ini.bak", std::string(255, 'n')}},
      {FolderPart, {"..\\escaped.txt", "/tmp/rooted.txt", "sub/x.txt", "C:drive.txt"}},
      {ControlCharacter, {"tab\there.txt", "esc\x1b[31m.txt", "del\x7F.txt", "c1\x9D.txt"}},
      {ReservedCharacter, {"what?.txt", "a*b", "pipe|.txt", "<x>", "q\".txt"}},
      {Empty, {"", ".", "..", "...", ". ."}},
      {TooLong, {std::string(256, 'n')}},
      // "COM\xB9" is COM with a superscript one.
      {DeviceName, {"NUL", "con", "aux.txt", "CON.tar.gz", "COM1", "lpt9.log", "COM\xB9", "CONOUT$", "conin$.txt",
                    "PRN.", "nul .txt", "Com2 "}},
      {ScriptName, {"SetupQd.ini", "setupqd.INI. "}},
      {StubCopyName, {"TEMP.EXE"}},
  };
  std::vector<ItemNameCase> cases;
  for (const auto& [refusal, names] : groups)
    for (const std::string& name : names) cases.push_back({name, refusal});
  return cases;
}

}  // namespace qd::test
