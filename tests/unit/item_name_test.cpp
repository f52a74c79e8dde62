//===- item_name_test.cpp - The rule for the names of a package's files -----===//
#include <gtest/gtest.h>

#include "package/item_name.h"
#include "support/item_name_cases.h"

namespace qd {
namespace {

TEST(ItemName, EachNameIsAcceptedOrRefusedForItsReason) {
  for (const test::ItemNameCase& c : test::ItemNameCases()) {
    const auto refusal = CheckItemName(c.name);
    EXPECT_EQ(refusal, c.refusal) << testing::PrintToString(c.name.substr(0, 40))
                                  << (refusal ? DescribeRefusal(*refusal) : "accepted");
    // [Cmd] FileName's program part is judged alike, its arguments not at all.
    if (c.name.find(' ') == std::string::npos) {
      EXPECT_EQ(CheckSetupFileName(c.name + " /q ..\\x"), c.refusal);
    }
  }
}

TEST(ItemName, AListRefusesANameThatReachesTheSameFileAsAnEarlierOne) {
  const struct {
    const char* behaviour;
    std::vector<std::string> names;
    std::vector<std::tuple<std::size_t, NameRefusal, std::size_t>> refused;  // index, refusal, same as
  } cases[] = {
      {"different names", {"a.txt", "b.txt", "a.txt.bak"}, {}},
      {"case does not tell names apart", {"a.txt", "b.txt", "A.TXT"}, {{2, NameRefusal::Duplicate, 0}}},
      {"nor does it for the code page's letters", {"\xC4.txt", "\xE4.TXT"}, {{1, NameRefusal::Duplicate, 0}}},
      {"trailing dots and blanks fall away first", {"x.txt", "x.txt. "}, {{1, NameRefusal::Duplicate, 0}}},
      {"every later copy names the first", {"x", "X", "x."},
       {{1, NameRefusal::Duplicate, 0}, {2, NameRefusal::Duplicate, 0}}},
      {"a name refused on its own is not compared", {"NUL", "nul", "setup.exe"},
       {{0, NameRefusal::DeviceName, 0}, {1, NameRefusal::DeviceName, 0}}},
  };
  for (const auto& c : cases) {
    std::vector<std::tuple<std::size_t, NameRefusal, std::size_t>> refused;
    for (const RefusedName& r : CheckItemNames(c.names)) refused.emplace_back(r.index, r.refusal, r.sameAs);
    EXPECT_EQ(refused, c.refused) << c.behaviour;
  }
}

TEST(ItemName, TheSetupProgramIsLookedForOnlyUnderAcceptedNames) {
  const struct {
    const char* fileName;
    std::vector<std::pair<std::string, std::size_t>> names;  // name, length of the value it takes
  } cases[] = {
      {"setup.exe", {{"setup.exe", 9}}},
      {"setup /q", {{"setup.exe", 5}, {"setup", 5}}},
      {"my setup.exe -x", {{"my.exe", 2}, {"my", 2}, {"my setup.exe", 12}, {"my setup.exe -x", 15}}},
      {"a ..\\..\\..\\evil.sh", {{"a.exe", 1}, {"a", 1}}},
      {"nul x", {{"nul x.exe", 5}, {"nul x", 5}}},
      {"", {}},
  };
  for (const auto& c : cases) {
    std::vector<std::pair<std::string, std::size_t>> names;
    for (const SetupProgramName& name : SetupProgramNames(c.fileName)) names.emplace_back(name.name, name.length);
    EXPECT_EQ(names, c.names) << c.fileName;
  }
}

}  // namespace
}  // namespace qd
