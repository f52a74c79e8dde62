//===- parity_cases.h - Builds that must end alike on Linux and on Windows -===//
//
// Trees and packing lists a package author may bring from Windows, each with
// the way its build ends: exit code, build log and package. The native
// end-to-end test runs every case with the native builder; the wine test
// runs it with both builders from identical trees and compares every byte
// the two leave. In no case may a file that was there before the build
// change, unless the build succeeded and rewrote the script on purpose.
//
//===----------------------------------------------------------------------===//
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "e2e/builder_support.h"
#include "unit/test_images.h"

namespace qd::test {

struct ParityCase {
  const char* name;
  void (*arrange)(BuildTree&, ScriptParts&);
  int exitCode;
  std::optional<std::string> log;  // nullopt: logfile.txt is a file of the build's, kept as it was
  std::string package = {};        // where a successful build leaves its package
  std::string (*encode)(const std::string&) = nullptr;  // the script's bytes from its text
  std::string script = "SetupQd.ini";
};

// A script's text (ASCII) as a UTF-16 file with its byte-order mark.
inline std::string Utf16Script(const std::string& text) { return Utf16(std::u16string(text.begin(), text.end())); }

// The example engine's version 2.5.7 with another revision, which chooses
// the package name's last character.
inline void EngineWithRevision(BuildTree& tree, std::uint16_t revision) {
  ImageShape shape;
  shape.versionLS = (7u << 16) | revision;
  WriteAll(tree / "build/engine.dll", MakeImage(shape));
}

inline const std::string CreateOutputLine = "Error creating the output file.\r\n";

inline const std::vector<ParityCase>& ParityCases() {
  namespace fs = std::filesystem;
  using namespace std::string_literals;
  static const std::vector<ParityCase> cases = {
      // The output may be no file the build uses, by any name.
      {"the output is a listed source",
       [](BuildTree&, ScriptParts& p) { p.out = {"OutputName=build\\payload.bin"}; }, 255, CreateOutputLine},
      {"the output is a source in other case and through ..",
       [](BuildTree&, ScriptParts& p) { p.out = {"OutputName=OUT\\..\\BUILD\\Payload.BIN"}; }, 255,
       CreateOutputLine},
      {"the output is a link to a source",
       [](BuildTree& t, ScriptParts& p) {
         fs::create_symlink("../build/payload.bin", t / "out/link.exe");
         p.out = {"OutputName=out\\link.exe"};
       },
       255, CreateOutputLine},
      {"the output is a second name of a source",
       [](BuildTree& t, ScriptParts& p) {
         fs::create_hard_link(t / "build/payload.bin", t / "out/hard.exe");
         p.out = {"OutputName=out\\hard.exe"};
       },
       255, CreateOutputLine},
      {"the output is the stub", [](BuildTree&, ScriptParts& p) { p.out = {"OutputName=qdpack.EXE"}; }, 255,
       CreateOutputLine},
      {"the output is the script", [](BuildTree&, ScriptParts& p) { p.out = {"OutputName=.\\setupqd.ini"}; }, 255,
       CreateOutputLine},
      {"the output is the build log", [](BuildTree&, ScriptParts& p) { p.out = {"OutputName=LogFile.txt"}; },
       255, CreateOutputLine},
      {"the output is the version source",
       [](BuildTree& t, ScriptParts& p) {
         fs::copy_file(t / "build/engine.dll", t / "build/version.dll");
         p.out = {"OutputName=build\\version.dll", "VersionFile=v,build\\version.dll"};
       },
       255, CreateOutputLine},
      // Nor is the log created over a file the build reads.
      {"a stub named as the build log",
       [](BuildTree& t, ScriptParts& p) {
         fs::copy_file(t / "QdPack.exe", t / "logfile.txt");
         p.in = {"QdFileName=logfile.txt"};
       },
       0, std::nullopt, "out/Update2_05_07d.exe"},
      {"a script named as the build log", [](BuildTree&, ScriptParts&) {}, 0, std::nullopt,
       "out/Update2_05_07d.exe", nullptr, "logfile.txt"},
      // Paths as Windows resolves them.
      {"Windows spellings of the files",
       [](BuildTree& t, ScriptParts& p) {
         WriteAll(t / "build/setup.exe", corpus::Mixed(3000, 5));
         p.out = {"OutputName=OUT\\Update%s.exe. "};
         p.files = {"engine.dll,BUILD\\Engine.DLL", "payload.bin,build.\\payload.bin. .",
                    "setup.exe,  nothere\\..\\.\\build\\SETUP.exe"};
       },
       0, "", "out/Update2_05_07d.exe"},
      // Output names: what Windows refuses, and bytes of its code page.
      {"revision 27 gives a '|', which Windows refuses",
       [](BuildTree& t, ScriptParts&) { EngineWithRevision(t, 27); }, 255, CreateOutputLine},
      {"revision 100 gives 0xC5, an A with a ring",
       [](BuildTree& t, ScriptParts&) { EngineWithRevision(t, 100); }, 0, "", "out/Update2_05_07\xC3\x85.exe"},
      {"Windows-1252 letters in the pattern",
       [](BuildTree&, ScriptParts& p) { p.out = {"OutputName=out\\\xC9t\xE9%s.exe"}; }, 0, "",
       "out/\xC3\x89t\xC3\xA9" "2_05_07d.exe"},
      {"a quotation mark in the pattern",
       [](BuildTree&, ScriptParts& p) { p.out = {"OutputName=out\\a\"b%s.exe"}; }, 255, CreateOutputLine},
      // Scripts as Windows reads them.
      {"a UTF-16 script with its byte-order mark", [](BuildTree&, ScriptParts&) {}, 0, "",
       "out/Update2_05_07d.exe", Utf16Script},
      {"a NUL ends a value",
       [](BuildTree&, ScriptParts& p) { p.files[1] = "payload.bin,build\\payload.bin\0 and the rest"s; }, 0, "",
       "out/Update2_05_07d.exe"},
  };
  return cases;
}

// A removal pass whose rewrite of the script cannot be written: a script
// with a missing source and a file-size limit that lets the build write its
// output up to the removal pass (`floor` bytes: the stub and a marker).
struct RewriteLimit {
  const char* name;
  ScriptParts parts;
  std::size_t limit;
};

inline std::vector<RewriteLimit> RewriteLimits(std::size_t floor) {
  auto padded = [floor](std::vector<std::string> files) {
    ScriptParts parts;
    parts.files = std::move(files);
    parts.rest += "[Padding]\r\n";
    for (std::size_t i = 0; parts.Text().size() < floor + 4096; ++i)
      parts.rest += "Line" + std::to_string(i) + "=" + std::string(100, 'p') + "\r\n";
    return parts;
  };
  const std::string moved = std::string(150, 'd') + ".bin,build\\payload.bin";
  std::vector<RewriteLimit> limits = {
      {"an entry moves down", padded({"engine.dll,build\\engine.dll", "x,build\\gone.bin", moved}), floor + 1},
      {"the last key is deleted", padded({"engine.dll,build\\engine.dll", moved, "x,build\\gone.bin"}), floor + 1},
      {"the first rewrite is longer than the script, which fits",
       padded({"engine.dll,build\\engine.dll", "x,build\\gone.bin", moved}), 0},
  };
  // The limit falls between the script's length and its first rewrite's,
  // inside a line, so that a writer that cuts the rewrite there leaves half
  // a line.
  RewriteLimit& longer = limits.back();
  ScriptParts rewritten = longer.parts;
  rewritten.files[1] = moved;
  const std::string text = rewritten.Text();
  longer.limit = (longer.parts.Text().size() + text.size()) / 2;
  while (text[longer.limit - 1] == '\n' || text[longer.limit - 1] == '\r') ++longer.limit;
  return limits;
}

// Lays the case out in `tree`.
inline void ArrangeParityCase(BuildTree& tree, const ParityCase& c) {
  ScriptParts parts;
  c.arrange(tree, parts);
  const std::string text = parts.Text();
  WriteText(tree / c.script, c.encode ? c.encode(text) : text);
}

// Every file under the tree (links followed) with its bytes, by its path
// relative to the tree.
inline std::map<std::string, std::vector<std::uint8_t>> TreeFiles(const std::filesystem::path& root) {
  std::map<std::string, std::vector<std::uint8_t>> files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root))
    if (entry.is_regular_file()) files[entry.path().lexically_relative(root).string()] = ReadAll(entry.path());
  return files;
}

}  // namespace qd::test
