//===- script_check.cpp - A package script checked before it is built -------===//
//
// The script is parsed once, with its lines; every value is then read as
// the builder and the installer read it (the first section of a name, the
// first entry of a key, "@" for absent, quotes dropped, cut to 259
// characters), and each check says what that reading will come to.
//
//===----------------------------------------------------------------------===//
#include "check/script_check.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <span>

#include "package/item_name.h"
#include "package/output_name.h"
#include "package/script.h"
#include "platform/platform.h"
#include "profile/profile.h"
#include "text/code_page.h"
#include "text/text.h"
#include "ui/messages.h"
#include "outcome/outcome.h"

namespace qd::check {
namespace {

using profile::Entry;
using profile::Section;

// A script larger than this is not read: the builder's are a few kilobytes.
constexpr std::uint64_t MaxScriptSize = std::uint64_t{1} << 20;

// The sections the builder and the installer read, as messages spell them.
constexpr std::string_view In = script::In;
constexpr std::string_view Out = script::Out;
constexpr std::string_view Files = script::Files;
constexpr std::string_view Cmd = script::CMD;

std::string Quoted(std::string_view name) { return "[" + std::string(name) + "]"; }

// The edit distance between two names without regard to ASCII case, a
// swap of neighbours counting as one edit.
std::size_t Distance(std::string_view a, std::string_view b) {
  std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
  for (std::size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (std::size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const bool same = text::AsciiLower(a[i - 1]) == text::AsciiLower(b[j - 1]);
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (same ? 0 : 1)});
      if (i > 1 && j > 1 && text::AsciiLower(a[i - 1]) == text::AsciiLower(b[j - 2]) &&
          text::AsciiLower(a[i - 2]) == text::AsciiLower(b[j - 1]))
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
    }
  }
  return d[a.size()][b.size()];
}

// The candidate that `name` most likely misspells: one or two edits away,
// one for a short name.
[[nodiscard]] std::optional<std::string> Nearest(std::string_view name, const std::vector<std::string>& candidates) {
  const std::size_t limit = name.size() <= 4 ? 1 : 2;
  std::optional<std::string> best;
  std::size_t bestDistance = limit + 1;
  for (const std::string& candidate : candidates) {
    const std::size_t gap =
        candidate.size() > name.size() ? candidate.size() - name.size() : name.size() - candidate.size();
    if (gap > limit) continue;
    if (const std::size_t distance = Distance(name, candidate); distance < bestDistance) {
      bestDistance = distance;
      best = candidate;
    }
  }
  return best;
}

[[nodiscard]] bool IsComment(std::string_view name) { return name.starts_with(';'); }

// "File" and a number, however many digits it has.
struct ListKey {
  std::size_t digits = 0;
  int number = 0;  // 1000 for any number above 999
};
[[nodiscard]] std::optional<ListKey> ParseListKey(std::string_view name) {
  if (name.size() <= 4 || !text::EqualsIgnoringCase(name.substr(0, 4), "File")) return std::nullopt;
  const std::string_view digits = name.substr(4);
  if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) return std::nullopt;
  int number = 0;
  for (const char c : digits) number = std::min(number * 10 + (c - '0'), 1000);
  return ListKey{digits.size(), number};
}

// "Msg" or "Err" and two digits: a key of some language section.
[[nodiscard]] bool IsTextKey(std::string_view name) {
  return name.size() == 5 && (text::EqualsIgnoringCase(name.substr(0, 3), "Msg") ||
                              text::EqualsIgnoringCase(name.substr(0, 3), "Err")) &&
         name[3] >= '0' && name[3] <= '9' && name[4] >= '0' && name[4] <= '9';
}

// A value as the builder and the installer read it.
struct Value {
  const Entry* entry = nullptr;        // the entry read, when there is one
  std::optional<std::string> text;     // in the code page; none when absent
};

// One entry of the file list as the list is read.
struct ListEntry {
  std::string key;  // "File01"
  std::size_t line = 0;
  std::optional<FileListEntry> parts;  // none without a comma
};

class Checker {
 public:
  explicit Checker(std::string_view bytes) : bytes_(bytes), profile_(profile::Parse(bytes)) {}

  std::vector<Diagnostic> Run() {
    CheckEncoding();
    const std::string language = CheckCommandSection();
    CheckSections(language);
    const std::vector<ListEntry> list = CheckList();
    CheckStub();
    CheckOutput();
    CheckFirstFile(list);
    CheckSetupProgram(list);
    if (!language.empty()) CheckLanguage(language);
    std::stable_sort(diagnostics_.begin(), diagnostics_.end(),
                     [](const Diagnostic& a, const Diagnostic& b) { return a.line < b.line; });
    return std::move(diagnostics_);
  }

 private:
  void Error(std::size_t line, std::string message) {
    diagnostics_.push_back({Severity::Error, line, std::move(message)});
  }
  void Warning(std::size_t line, std::string message) {
    diagnostics_.push_back({Severity::Warning, line, std::move(message)});
  }

  // A name or value of the file's text, in the code page, safe to print.
  std::string Shown(std::string_view fileText) const {
    return text::Printable(profile::FromFileText(profile_, fileText));
  }
  const Section* FindSection(std::string_view name) const {
    return profile::FindSection(profile_, profile::ToFileText(profile_, name));
  }
  std::size_t LineOf(std::string_view section) const {
    const Section* found = FindSection(section);
    return found ? found->line : 0;
  }
  Value Read(std::string_view section, std::string_view key) const {
    Value value;
    if (const Section* found = FindSection(section))
      value.entry = profile::FindEntry(*found, profile::ToFileText(profile_, key));
    if (auto text = profile::Lookup(profile_, section, key, platform::MaxText); text && !IsAbsent(*text))
      value.text = std::move(*text);
    return value;
  }
  // Where a missing value would stand: its entry, else its section's heading.
  std::size_t LineOf(const Value& value, std::string_view section) const {
    return value.entry ? value.entry->line : LineOf(section);
  }
  // "[Out] OutputName is missing", and why, when the section is.
  std::string Missing(std::string_view section, std::string_view key) const {
    return Quoted(section) + " " + std::string(key) + " is missing" +
           (FindSection(section) ? "" : " (the script has no " + Quoted(section) + " section)");
  }

  // Text outside ASCII in a code-page script: right if the author wrote
  // Windows-1252, wrong if the editor saved UTF-8 without a mark.
  void CheckEncoding() {
    if (profile_.encoding != profile::Encoding::CodePage) return;
    const auto high =
        std::find_if(bytes_.begin(), bytes_.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
    if (high == bytes_.end()) return;
    std::size_t line = 1;
    for (auto at = bytes_.begin(); at != high; ++at)
      if (*at == '\n' || (*at == '\r' && (at + 1 == bytes_.end() || at[1] != '\n'))) ++line;
    const bool utf8 = text::ValidUtf8(bytes_) == bytes_;
    Warning(line, "text outside ASCII in a script without a byte-order mark is read as Windows-1252" +
                      std::string(utf8 ? "; this looks like UTF-8, which Windows would show as \"f\xC3\xBCr\" for "
                                         "\"f\xFCr\": save the script as UTF-8 with a byte-order mark"
                                       : ": if that is not its encoding, save it as UTF-8 with a byte-order mark"));
  }

  // The sections and keys that no part reads, and those read only once.
  void CheckSections(const std::string& language) {
    std::vector<std::string> sections = {std::string(In), std::string(Out), std::string(Files), std::string(Cmd)};
    if (!language.empty()) sections.push_back(language);
    // Every key of every known section, with the section it belongs to.
    std::map<std::string, std::string> owner;
    const auto own = [&owner](std::string_view section, std::string_view key) {
      owner[text::Printable(std::string(key))] = std::string(section);
    };
    own(In, script::QdFileName);
    own(Out, script::OutputName);
    own(Out, script::VersionFile);
    for (std::string_view key : {script::FileName, script::Title, script::LANG}) own(Cmd, key);

    if (const auto top = std::find_if(profile_.sections[0].entries.begin(), profile_.sections[0].entries.end(),
                                      [](const Entry& e) { return !IsComment(e.name); });
        top != profile_.sections[0].entries.end())
      Warning(top->line, "this line stands before any section heading: no part reads it");

    for (std::size_t index = 1; index < profile_.sections.size(); ++index) {
      const Section& section = profile_.sections[index];
      const std::string name = Shown(section.name);
      const auto known = std::find_if(sections.begin(), sections.end(),
                                      [&name](const std::string& s) { return text::EqualsIgnoringCase(s, name); });
      if (known == sections.end()) {
        const auto isText = [](const Entry& e) { return IsComment(e.name) || IsTextKey(e.name); };
        const bool texts =
            !section.entries.empty() && std::all_of(section.entries.begin(), section.entries.end(), isText);
        if (const auto meant = Nearest(name, sections))
          Warning(section.line, "unknown section " + Quoted(name) + ": did you mean " + Quoted(*meant) + "?");
        else if (!texts)  // the texts of another language are not read, and do no harm
          Warning(section.line, "unknown section " + Quoted(name) + ": no part reads it");
        continue;
      }
      const Section* first = FindSection(*known);
      if (first != &section) {
        Warning(section.line, Quoted(name) + " again: only the first " + Quoted(name) + ", at line " +
                                  std::to_string(first->line) + ", is read, so no key here is");
        continue;
      }
      CheckKeys(section, *known, language, owner);
    }
  }

  void CheckKeys(const Section& section, const std::string& sectionName, const std::string& language,
                 const std::map<std::string, std::string>& owner) {
    const bool isLanguage = sectionName == language;
    std::vector<std::string> keys;
    for (const auto& [key, where] : owner)
      if (where == sectionName) keys.push_back(key);
    if (isLanguage) {
      for (std::string_view key : messages::TextKeys) keys.emplace_back(key);
      for (const int number : ShownErrors) keys.push_back(messages::ErrorKey(number));
    }
    const bool isList = text::EqualsIgnoringCase(sectionName, Files);
    for (const Entry& entry : section.entries) {
      const std::string key = Shown(entry.name);
      if (IsComment(key) || (isList && ParseListKey(key))) continue;  // the list is checked on its own
      const auto known = std::find_if(keys.begin(), keys.end(),
                                      [&key](const std::string& k) { return text::EqualsIgnoringCase(k, key); });
      const std::string where = " in " + Quoted(sectionName);
      if (known == keys.end()) {
        std::vector<std::string> listKeys;
        if (isList)
          for (int i = 1; i <= MaxFileListEntries; ++i) listKeys.push_back(FileListKey(i));
        const auto elsewhere = std::find_if(owner.begin(), owner.end(),
                                            [&key](const auto& k) { return text::EqualsIgnoringCase(k.first, key); });
        if (isLanguage && text::EqualsIgnoringCase(key, messages::ErrorKey(error::Cancel)))
          Warning(entry.line, key + where + " is never shown: a cancel ends without a message");
        else if (elsewhere != owner.end())
          Warning(entry.line, key + " is a key of " + Quoted(elsewhere->second) + ", not of " + Quoted(sectionName) +
                                  ": it is not read here");
        else if (const auto meant = Nearest(key, isList ? listKeys : keys))
          Warning(entry.line, "unknown key " + key + where + ": did you mean " + *meant + "?");
        else
          Warning(entry.line, "unknown key " + key + where + ": no part reads it");
        continue;
      }
      const Entry* first = profile::FindEntry(section, entry.name);
      if (first != &entry) {
        Warning(entry.line, key + " again" + where + ": only the first, at line " + std::to_string(first->line) +
                                ", is read");
        continue;
      }
      CheckValue(entry, key);
    }
  }

  // What a read makes of one value.
  void CheckValue(const Entry& entry, const std::string& key) {
    if (!entry.value) {
      Warning(entry.line, key + " has no \"=\": it is read as absent");
      return;
    }
    const std::string value = profile::AsRead(profile::FromFileText(profile_, *entry.value), platform::TextCapacity);
    if (IsAbsent(value))
      Warning(entry.line, key + "'s value begins with \"@\", so it counts as absent");
    else if (value.size() > platform::MaxText)
      Warning(entry.line, key + "'s value is longer than " + std::to_string(platform::MaxText) +
                              " characters: the rest is cut off");
  }

  // [Files]: the keys the list reads, from File01 up to the first absent
  // one, and what each entry names.
  std::vector<ListEntry> CheckList() {
    const Section* files = FindSection(Files);
    std::map<int, const Entry*> keys;  // the first entry of each well-formed key
    if (files) {
      for (const Entry& entry : files->entries) {
        const std::string key = Shown(entry.name);
        const auto parsed = ParseListKey(key);
        if (!parsed) continue;
        if (parsed->number == 0) {
          Error(entry.line, key + " is never read: the list starts at File01");
        } else if (parsed->number > MaxFileListEntries) {
          Error(entry.line, key + " is never read: the list holds at most 99 entries, File01 to File99");
        } else if (parsed->digits != 2) {
          Error(entry.line, key + " is never read: the list's keys have two digits; did you mean " +
                                FileListKey(parsed->number) + "?");
        } else if (const auto earlier = keys.find(parsed->number); earlier != keys.end()) {
          Error(entry.line, key + " again: only the first, at line " + std::to_string(earlier->second->line) +
                                ", is read, so this file is never packed");
        } else {
          keys[parsed->number] = &entry;
        }
      }
    }

    std::vector<ListEntry> list;
    int end = 0;  // the last key read
    for (int number = 1; number <= MaxFileListEntries; ++number) {
      const auto found = keys.find(number);
      const Value value = Read(Files, FileListKey(number));
      if (found == keys.end() || !value.text) break;
      list.push_back({FileListKey(number), found->second->line, SplitFileListEntry(*value.text)});
      end = number;
    }
    const std::string next = FileListKey(end + 1);
    const auto stop = keys.find(end + 1);
    const std::string why = stop == keys.end() ? ", as " + next + " is missing"
                                               : ", as " + next + "'s value counts as absent (it begins with \"@\" "
                                                                  "or has no \"=\")";
    if (end == 0)
      Error(stop == keys.end() ? LineOf(Files) : stop->second->line,
            "the list of files is empty" + why + ": the builder stops, and so would the installer (error 4)");
    for (const auto& [number, entry] : keys)
      if (number > end + 1)
        Error(entry->line, FileListKey(number) + " is never read: the list ends at " +
                               (end == 0 ? std::string("its start") : FileListKey(end)) + why);
    if (stop != keys.end() && end > 0)
      Error(stop->second->line, "the list ends before " + next + ": its value counts as absent");

    std::vector<std::string> destinations;
    std::vector<std::size_t> entries;  // the list entry of each destination
    for (std::size_t i = 0; i < list.size(); ++i) {
      const ListEntry& entry = list[i];
      if (!entry.parts) {
        Error(entry.line, entry.key + " has no comma between its destination and its source: the builder stops");
        continue;
      }
      destinations.push_back(entry.parts->destination);
      entries.push_back(i);
      if (i > 0 && !platform::PathExists(entry.parts->source))
        Warning(entry.line, entry.key + "'s source " + text::Printable(entry.parts->source) +
                                " is not found (from the current directory): the builder drops the entry");
    }
    for (const RefusedName& refused : CheckItemNames(destinations)) {
      const ListEntry& entry = list[entries[refused.index]];
      const std::string name = entry.key + "'s destination " + text::Printable(entry.parts->destination);
      if (refused.refusal == NameRefusal::Duplicate) {
        const ListEntry& earlier = list[entries[refused.sameAs]];
        Error(entry.line, name + " names the same file as " + earlier.key + " (line " + std::to_string(earlier.line) +
                              "): the installer refuses the package (error 3)");
      } else {
        Error(entry.line, name + " " + std::string(DescribeRefusal(refused.refusal)) +
                              ": the installer refuses the package (error 3)");
      }
    }
    return list;
  }

  void CheckStub() {
    const Value stub = Read(In, script::QdFileName);
    if (!stub.text)
      Error(LineOf(stub, In),
            Missing(In, script::QdFileName) + ": the builder has no stub to put in front of the package");
    else if (!platform::PathExists(*stub.text))
      Error(stub.entry->line, "the stub " + text::Printable(*stub.text) +
                                  " is not found (from the current directory): the builder stops");
  }

  void CheckOutput() {
    const Value output = Read(Out, script::OutputName);
    if (!output.text) {
      Error(LineOf(output, Out), Missing(Out, script::OutputName) +
                                     ": the builder has no name for the package, and the installer stops with error 4");
      return;
    }
    const std::string name = MakeOutputName(*output.text, 1, 0, 0, 0);
    if (name.empty()) {
      Error(output.entry->line, "OutputName " + text::Printable(*output.text) +
                                    " is no name the builder takes: a pattern holds one \"%s\" (and \"%%\" for a "
                                    "percent sign), and the name fits 259 characters");
      return;
    }
    const std::size_t separator = name.find_last_of("\\/");
    if (separator != std::string::npos && separator > 0 && !platform::PathExists(name.substr(0, separator)))
      Error(output.entry->line, "the folder " + text::Printable(name.substr(0, separator)) +
                                    " does not exist (from the current directory): the builder cannot create the "
                                    "package there");
  }

  // The file whose version names the package, and the first file, which
  // must have a version for the installer.
  void CheckFirstFile(const std::vector<ListEntry>& list) {
    // The builder reads VersionFile with an empty fallback: empty is unset.
    const Value versionFile = Read(Out, script::VersionFile);
    const auto versionValue = profile::Lookup(profile_, Out, script::VersionFile, platform::MaxText);
    const bool named = versionValue && !versionValue->empty();
    if (named) {
      const std::size_t line = versionFile.entry->line;
      const auto parts = IsAbsent(*versionValue) ? std::nullopt : SplitFileListEntry(*versionValue);
      if (IsAbsent(*versionValue))
        Error(line, "VersionFile counts as absent (it begins with \"@\"): the builder finds no version for the "
                    "package's name");
      else if (!parts)
        Error(line, "VersionFile has no comma before the file that names the package: the builder stops");
      else
        CheckVersion(line, parts->source, "the file that names the package, ", "the builder cannot name the package");
    }
    if (list.empty() || !list[0].parts) return;
    CheckVersion(list[0].line, list[0].parts->source, "the first file, ",
                 named ? "the installer refuses the package (error 3)"
                                  : "the builder cannot name the package, and the installer refuses it (error 3)");
  }

  void CheckVersion(std::size_t line, const std::string& source, const std::string& what, const std::string& then) {
    const std::string name = text::Printable(source);
    if (!platform::PathExists(source))
      Error(line, what + name + ", is not found (from the current directory): " + then);
    else if (!platform::ReadVersionResource(source))
      Error(line, what + name + ", has no version resource: " + then);
  }

  // [CMD]: the setup program, the title and the language. Returns the
  // language section's name, or empty.
  std::string CheckCommandSection() {
    const Value title = Read(Cmd, script::Title);
    if (!title.text)
      Warning(LineOf(title, Cmd), Missing(Cmd, script::Title) + ": the dialog shows \"@\" for the title");
    const Value language = Read(Cmd, script::LANG);
    if (!language.text) {
      Error(LineOf(language, Cmd),
            Missing(Cmd, script::LANG) + ": an installer run with the dialog stops with error 4");
      return {};
    }
    if (!FindSection(*language.text)) {
      Error(language.entry->line, "LANG names " + Quoted(text::Printable(*language.text)) +
                                      ", which the script does not have: every text of the dialog shows \"@\"");
      return {};
    }
    return *language.text;
  }

  void CheckSetupProgram(const std::vector<ListEntry>& list) {
    const Value fileName = Read(Cmd, script::FileName);
    if (!fileName.text) {
      Error(LineOf(fileName, Cmd),
            Missing(Cmd, script::FileName) + ": the installer has no setup program to run (error 4)");
      return;
    }
    const std::string shown = text::Printable(*fileName.text);
    const std::size_t line = fileName.entry->line;
    if (const auto refusal = CheckSetupFileName(*fileName.text)) {
      Error(line, "FileName " + shown + " names the program " + text::Printable(SetupProgramPart(*fileName.text)) +
                      ", which " + std::string(DescribeRefusal(*refusal)) + ": the installer stops with error 4");
      return;
    }
    for (const SetupProgramName& name : SetupProgramNames(*fileName.text)) {
      const auto listed = std::find_if(list.begin(), list.end(), [&name](const ListEntry& entry) {
        return entry.parts && IsPlainFileName(entry.parts->destination) &&
               NamesCollide(entry.parts->destination, name.name);
      });
      if (listed == list.end()) continue;
      if (listed != list.begin() && !platform::PathExists(listed->parts->source))
        Error(line, "FileName " + shown + " runs " + listed->key + ", whose source is not found: the builder drops "
                                                                    "it, and the installer finds no setup program");
      return;
    }
    Error(line, "FileName " + shown + " names no file of the [Files] list: the installer finds no setup program to "
                                      "run");
  }

  // The dialog's texts and the error texts, in the language section.
  void CheckLanguage(const std::string& language) {
    const std::size_t line = LineOf(language);
    for (std::string_view key : messages::TextKeys)
      if (!Read(language, key).text)
        Warning(line, Quoted(text::Printable(language)) + " has no " + std::string(key) +
                          ": the dialog shows \"@\" in its place");
    for (const int number : ShownErrors)
      if (const std::string key = messages::ErrorKey(number); !Read(language, key).text)
        Warning(line, Quoted(text::Printable(language)) + " has no " + key + ": error " + std::to_string(number) +
                          " shows \"@\"");
  }

  std::string_view bytes_;
  profile::Profile profile_;
  std::vector<Diagnostic> diagnostics_;
};

}  // namespace

std::vector<Diagnostic> CheckScript(std::string_view bytes) { return Checker(bytes).Run(); }

std::optional<std::vector<Diagnostic>> CheckScriptFile(std::string_view path) {
  platform::File file = platform::OpenForReading(path);
  if (!file.IsOpen()) return std::nullopt;
  const auto size = platform::FileSize(file);
  if (!size || *size > MaxScriptSize) return std::nullopt;
  std::string bytes(static_cast<std::size_t>(*size), '\0');
  const std::span buffer(reinterpret_cast<std::uint8_t*>(bytes.data()), bytes.size());
  if (platform::ReadBytes(file, buffer) != static_cast<std::int64_t>(bytes.size())) return std::nullopt;
  return CheckScript(bytes);
}

std::string FormatDiagnostic(std::string_view scriptName, const Diagnostic& diagnostic) {
  std::string line(scriptName);
  if (diagnostic.line != 0) line += ":" + std::to_string(diagnostic.line);
  line += diagnostic.severity == Severity::Error ? ": error: " : ": warning: ";
  return line + diagnostic.message;
}

}  // namespace qd::check
