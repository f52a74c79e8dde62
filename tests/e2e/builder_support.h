//===- builder_support.h - A package source tree and a package reader -------===//
//
// What the builder's end-to-end tests share with its wine tests: a scratch
// tree laid out like examples/ (the real 32-bit QdPack.exe as stub, the
// example engine.dll with file version 2.5.7.3, a payload), a packing list
// made from parts, and a reader that takes a package apart by the marker on
// its own, so that the checks do not lean on the code under test.
//
//===----------------------------------------------------------------------===//
#pragma once

#include <fcntl.h>
#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "support/file_faults.h"
#include "support/files.h"
#include "support/in_process.h"
#include "support/process.h"
#include "support/corpus.h"
#include "support/tools.h"

namespace qd::test {

inline std::string StubSource() { return std::string(QDPACK_WIN32_DIR) + "/src/QdPack.exe"; }
inline std::string EngineSource() { return std::string(QDPACK_WIN32_DIR) + "/examples/engine.dll"; }
inline bool HaveWindowsBuild() {
  return !std::string(QDPACK_WIN32_DIR).empty() && std::filesystem::exists(StubSource()) &&
         std::filesystem::exists(EngineSource());
}

// The name a package built from the example engine (2.5.7.3) gets.
inline constexpr std::string_view EnginePackage = "out/Update2_05_07d.exe";

// A file's last-write time as the platform's file time.
inline std::uint64_t FileTimeOf(const std::filesystem::path& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return 0;
  return (static_cast<std::uint64_t>(info.st_mtim.tv_sec) + 11644473600u) * 10000000u +
         static_cast<std::uint64_t>(info.st_mtim.tv_nsec) / 100;
}

// Gives a file the given whole-second modification time.
inline void SetModificationTime(const std::filesystem::path& path, std::int64_t unixSeconds) {
  timespec times[2] = {{unixSeconds, 0}, {unixSeconds, 0}};
  ::utimensat(AT_FDCWD, path.c_str(), times, 0);
}

// How many entries a directory holds.
inline std::ptrdiff_t EntriesIn(const std::filesystem::path& dir) {
  return std::distance(std::filesystem::directory_iterator(dir), std::filesystem::directory_iterator());
}

// The first run of a sweep: `run` with every call that `fault` matches
// counted and none failed; gives the count.
inline int CountCalls(FileFault fault, const std::function<void()>& run) {
  fault.nth = 0;
  const FileFaultScope counting(fault);
  run();
  return counting.Counted();
}

// A packing list made from its parts; lines end with CR LF as on Windows.
struct ScriptParts {
  std::vector<std::string> in = {"QdFileName=QdPack.exe"};
  std::vector<std::string> out = {"OutputName=out\\Update%s.exe"};
  std::vector<std::string> files = {"engine.dll,build\\engine.dll",
                                    "payload.bin,build\\payload.bin"};
  std::string rest = "[CMD]\r\nFileName=setup.exe\r\nTitle=Qd Engine Setup\r\nLANG=ENU\r\n";

  std::string Text() const {
    std::string text = "[In]\r\n";
    for (const auto& line : in) text += line + "\r\n";
    text += "[Out]\r\n";
    for (const auto& line : out) text += line + "\r\n";
    text += "[Files]\r\n";
    for (std::size_t i = 0; i < files.size(); ++i) {
      char key[32];
      std::snprintf(key, sizeof key, "File%02zu=", i + 1);
      text += key + files[i] + "\r\n";
    }
    return text + rest;
  }
};

// A scratch tree to build in: QdPack.exe, build/engine.dll,
// build/payload.bin, out/, and SetupQd.ini from `parts`.
struct BuildTree {
  ScratchDir dir;

  BuildTree() {
    namespace fs = std::filesystem;
    fs::copy_file(StubSource(), dir / "QdPack.exe");
    fs::create_directories(dir / "build");
    fs::create_directories(dir / "out");
    fs::copy_file(EngineSource(), dir / "build/engine.dll");
    WriteAll(dir / "build/payload.bin", corpus::Mixed(20000, 7));
  }
  std::filesystem::path operator/(std::string_view name) const { return dir / name; }
  void WriteScript(const ScriptParts& parts) const { WriteText(dir / "SetupQd.ini", parts.Text()); }

  RunResult Build(const std::vector<std::string>& args = {"/m", "SetupQd.ini"}) const {
    RunOptions options;
    options.workingDirectory = dir.path().string();
    return Run(QDPACK_NATIVE_EXE, args, options);
  }
  // The builder under a resource limit ("--fsize=N", "--as=N"); a write past
  // the file-size limit fails, since the program ignores the signal that
  // would end it. Needs Prlimit.
  RunResult BuildLimited(const std::string& limit) const {
    RunOptions options;
    options.workingDirectory = dir.path().string();
    const std::string command =
        "exec '" + std::string(Prlimit.path) + "' " + limit + " -- '" QDPACK_NATIVE_EXE "' /m SetupQd.ini";
    return Run("/bin/sh", {"-c", command}, options);
  }
  // The same build in this process, as start-up runs it.
  InProcessResult BuildInProcess() const {
    return RunInProcess({"/m", "SetupQd.ini"}, {.argv0 = QDPACK_NATIVE_EXE, .workingDirectory = dir.path()});
  }
  std::string Log() const { return ReadText(dir / "logfile.txt"); }
};

// A package taken apart by the marker.
struct PackageItem {
  std::size_t begin = 0;  // the stream
  std::size_t end = 0;
  std::uint64_t timeStamp = 0;
};
struct PackageView {
  std::vector<std::uint8_t> bytes;
  std::vector<std::size_t> markers;  // every offset at which the marker text stands
  std::size_t stubSize = 0;
  std::vector<PackageItem> items;    // the script first
  std::size_t tailBegin = 0;
};

inline constexpr std::string_view MarkerText = "<iiiiiiiiiii>";

inline std::vector<std::size_t> FindMarkers(const std::vector<std::uint8_t>& bytes) {
  std::vector<std::size_t> found;
  const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  for (std::size_t at = text.find(MarkerText); at != std::string_view::npos;
       at = text.find(MarkerText, at + 1))
    found.push_back(at);
  return found;
}

inline PackageView ReadPackageBytes(std::vector<std::uint8_t> bytes) {
  PackageView view;
  view.bytes = std::move(bytes);
  view.markers = FindMarkers(view.bytes);
  if (view.markers.size() < 2) return view;
  view.stubSize = view.markers[1];
  std::size_t begin = view.stubSize + MarkerText.size();
  for (std::size_t m = 2; m < view.markers.size(); ++m) {
    PackageItem item;
    item.begin = begin;
    item.end = view.markers[m];
    const std::size_t stamp = item.end + MarkerText.size();
    for (std::size_t i = 0; i < 8 && stamp + i < view.bytes.size(); ++i)
      item.timeStamp |= std::uint64_t{view.bytes[stamp + i]} << (8 * i);
    view.items.push_back(item);
    begin = stamp + 8;
  }
  view.tailBegin = begin;
  return view;
}

inline PackageView ReadPackage(const std::filesystem::path& path) { return ReadPackageBytes(ReadAll(path)); }

// The PE image checksum, computed here from the rule: 16-bit little-endian
// words with the carry folded in, the CheckSum field counted as zero, plus the
// file length. `stored` receives the field's value.
inline std::uint32_t ImageChecksum(std::vector<std::uint8_t> bytes, std::uint32_t& stored) {
  stored = 0;
  if (bytes.size() < 64) return 0;
  std::size_t header = 0;
  for (std::size_t i = 0; i < 4; ++i) header |= std::size_t{bytes[60 + i]} << (8 * i);
  const std::size_t field = header + 88;
  if (field + 4 > bytes.size()) return 0;
  for (std::size_t i = 0; i < 4; ++i) {
    stored |= std::uint32_t{bytes[field + i]} << (8 * i);
    bytes[field + i] = 0;
  }
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < bytes.size(); i += 2) {
    sum += bytes[i];
    if (i + 1 < bytes.size()) sum += std::uint32_t{bytes[i + 1]} << 8;
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  return static_cast<std::uint32_t>(sum + bytes.size());
}

}  // namespace qd::test
