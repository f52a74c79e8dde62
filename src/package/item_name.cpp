//===- item_name.cpp - Which names a package's files may have --------------===//
#include "package/item_name.h"

#include <algorithm>
#include <array>

#include "package/script.h"
#include "text/code_page.h"
#include "text/text.h"

namespace qd {
namespace {

// The longest name a file system of Windows holds.
constexpr std::size_t MaxNameLength = 255;

// The device names, and the stems that take a digit from 1 to 9 (or a
// superscript one, two or three, which Windows counts as digits).
constexpr std::array<std::string_view, 6> Devices = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
constexpr std::array<std::string_view, 2> NumberedDevices = {"COM", "LPT"};

[[nodiscard]] bool IsDeviceName(std::string_view stored) {
  // The part before the first dot, without the blanks before that dot.
  std::string_view stem = stored.substr(0, stored.find('.'));
  while (!stem.empty() && stem.back() == ' ') stem.remove_suffix(1);
  for (std::string_view device : Devices)
    if (text::EqualsIgnoringCase(stem, device)) return true;
  if (stem.size() != 4) return false;
  const auto digit = static_cast<unsigned char>(stem[3]);
  const bool isDigit = (digit >= '1' && digit <= '9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3;
  return isDigit && std::any_of(NumberedDevices.begin(), NumberedDevices.end(), [stem](std::string_view device) {
           return text::EqualsIgnoringCase(stem.substr(0, 3), device);
         });
}

[[nodiscard]] bool HasExtension(std::string_view name) { return name.find('.') != std::string_view::npos; }

}  // namespace

std::string_view DescribeRefusal(NameRefusal refusal) {
  switch (refusal) {
    case NameRefusal::FolderPart: return "is not a plain file name (it has a drive, a root or a folder part)";
    case NameRefusal::ControlCharacter: return "holds a control character";
    case NameRefusal::ReservedCharacter: return "holds a character that Windows does not allow in a file name";
    case NameRefusal::Empty: return "is nothing once Windows drops its trailing dots and blanks";
    case NameRefusal::TooLong: return "is longer than the 255 characters a file name may have";
    case NameRefusal::DeviceName: return "is a device name that Windows reserves";
    case NameRefusal::ScriptName: return "is the name of the installer's own script";
    case NameRefusal::StubCopyName: return "is the name of the installer's copy of its stub";
    case NameRefusal::Duplicate: return "names the same file as an earlier entry";
  }
  return "is refused";
}

std::string_view StoredName(std::string_view name) {
  while (!name.empty() && (name.back() == '.' || name.back() == ' ')) name.remove_suffix(1);
  return name;
}

bool NamesCollide(std::string_view a, std::string_view b) {
  return text::NamesEqualIgnoringCase(text::Utf8FromAnsi(StoredName(a)), text::Utf8FromAnsi(StoredName(b)));
}

std::optional<NameRefusal> CheckItemName(std::string_view name) {
  if (name.find_first_of("\\/:") != std::string_view::npos) return NameRefusal::FolderPart;
  const auto control = [](char c) { return text::IsControlCharacter(static_cast<unsigned char>(c)); };
  if (std::any_of(name.begin(), name.end(), control)) return NameRefusal::ControlCharacter;
  if (name.find_first_of("<>\"|?*") != std::string_view::npos) return NameRefusal::ReservedCharacter;
  const std::string_view stored = StoredName(name);
  if (stored.empty()) return NameRefusal::Empty;
  if (stored.size() > MaxNameLength) return NameRefusal::TooLong;
  if (IsDeviceName(stored)) return NameRefusal::DeviceName;
  if (NamesCollide(stored, ScriptFileName)) return NameRefusal::ScriptName;
  if (NamesCollide(stored, StubCopyFileName)) return NameRefusal::StubCopyName;
  return std::nullopt;
}

std::vector<RefusedName> CheckItemNames(std::span<const std::string> names) {
  std::vector<RefusedName> refused;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (const auto refusal = CheckItemName(names[i])) {
      refused.push_back({i, *refusal, 0});
      continue;
    }
    for (std::size_t earlier = 0; earlier < i; ++earlier) {
      if (!CheckItemName(names[earlier]) && NamesCollide(names[earlier], names[i])) {
        refused.push_back({i, NameRefusal::Duplicate, earlier});
        break;
      }
    }
  }
  return refused;
}

std::string_view SetupProgramPart(std::string_view fileName) { return fileName.substr(0, fileName.find(' ')); }

std::optional<NameRefusal> CheckSetupFileName(std::string_view fileName) {
  return CheckItemName(SetupProgramPart(fileName));
}

std::vector<SetupProgramName> SetupProgramNames(std::string_view fileName) {
  std::vector<SetupProgramName> names;
  for (std::size_t end = fileName.find(' ');; end = fileName.find(' ', end + 1)) {
    const std::string_view stretch = fileName.substr(0, end);
    if (!stretch.empty()) {
      if (!HasExtension(stretch) && !CheckItemName(std::string(stretch) + ".exe"))
        names.push_back({std::string(stretch) + ".exe", stretch.size()});
      if (!CheckItemName(stretch)) names.push_back({std::string(stretch), stretch.size()});
    }
    if (end == std::string_view::npos) break;
  }
  return names;
}

}  // namespace qd
