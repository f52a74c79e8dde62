//===- builder.cpp - The package builder ("/m") -----------------------------===//
//
// One straight pass from a packing list to a package executable: find the
// script, name the package after the version of its first file, copy the
// stub, drop the list entries whose sources are missing (rewriting the
// script), pack the script and every listed file, pad the tail and stamp the
// image checksum. Warnings go to the build log; the first failure ends the
// build and is returned with its log line.
//
// The package is written under a temporary name in its own directory and
// renamed into place once it is complete and sealed: a failed build leaves
// nothing under the package's name, and an earlier package of that name
// stays until the new one is whole. Every write, close and rename is
// checked: a package that could not be written whole is never reported as
// built.
//
// Limits: the version path and the output name must fit the system's
// 260-character buffers, and a longer one is refused with the line of the
// step it belongs to. A log line that would outgrow the buffer has its path
// cut, so that the line keeps its fixed text and its line end. Files whose
// size or compressed capacity does not fit 32 bits are refused as memory
// failures. Files are packed on every core; a large file (above 2 MiB where
// there are several cores, 8 MiB where there is one) is packed in pieces,
// each read and encoded on its own, which join into exactly the stream the
// file packed whole would give, and need not fit in memory.
// Each thread keeps its compressor's state, and each item in flight its
// buffers, for the files after it: a build has its memory once, not per
// file.
//
// No file the build reads is ever replaced by it. Before the package is
// written, its name is compared by file identity (so other spellings, "..",
// and links count) with the script, the stub, the version source, every
// listed source and the log; the same file fails with the output's line,
// every input untouched. The log is not created over a file the build reads
// either: that file keeps its bytes, and the log's lines are lost as when
// the log cannot be created.
//
//===----------------------------------------------------------------------===//
#include "builder/builder.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "codec/codec.h"
#include "package/checksum.h"
#include "package/layout.h"
#include "package/output_name.h"
#include "package/script.h"
#include "package/version.h"
#include "pe/pe_image.h"
#include "platform/platform.h"
#include "text/text.h"

namespace qd {
namespace {

// The build log's lines, each exactly as written to the log.
namespace line {
constexpr std::string_view ScriptNotFound = "Unable to find setupqd.ini file as given on cmd line.\r\n";
constexpr std::string_view VersionNoComma =
    "No comma in input filename directive. Check the .INI syntax at File01.\r\n";
constexpr std::string_view NoBuildNumber = "Unable to get build number from first file in list.\r\n";
constexpr std::string_view NoOutputName =
    "Output filename directive missing. Check the packing list syntax.\r\n";
constexpr std::string_view NoStubName =
    "'In' executable filename directive missing. Check the packing list syntax.\r\n";
constexpr std::string_view CreateOutput = "Error creating the output file.\r\n";
constexpr std::string_view ReadStub = "Error reading the Installer file.\r\n";
constexpr std::string_view EntryNoComma =
    "No comma in input filename directive. Check the .INI syntax.\r\n";
constexpr std::string_view WriteScriptFailed = "Write to  %s failed, exiting.\r\n";
constexpr std::string_view SourceMissing = "Warning: %s not found, removing from .ini file\r\n";
constexpr std::string_view ReadScript = "Error reading the .INI file.\r\n";
constexpr std::string_view CompressScript = "Error compressing ini.";
constexpr std::string_view WriteScriptItem = "Error writing ini to the output file.\r\n";
constexpr std::string_view OpenSource = "\r\nError opening an input file.\r\n";
constexpr std::string_view Allocate = "Error allocating memory.\r\n";
constexpr std::string_view ReadSource = "Error reading the input file.\r\n";
constexpr std::string_view CompressSource = "Error compressing.\r\n";
constexpr std::string_view WriteItem = "Error writing to the output file.\r\n";
constexpr std::string_view NoInputFiles = "No input files. Check the .INF syntax.\r\n";
}  // namespace line

// Error numbers of the builder's failures.
constexpr int FileError = error::File;
constexpr int SyntaxError = error::Configuration;
constexpr int MemoryError = error::Package;

constexpr std::string_view LogFileName = "logfile.txt";
// The prefix of the temporary name the package is written under.
constexpr std::string_view TemporaryPrefix = "QD";

// The package's file while it is written: it goes again unless it took its
// own name.
class TemporaryPackage {
 public:
  TemporaryPackage() = default;
  TemporaryPackage(const TemporaryPackage&) = delete;
  TemporaryPackage& operator=(const TemporaryPackage&) = delete;
  // A file left behind by a failed build is only clutter.
  ~TemporaryPackage() {
    if (!path.empty()) static_cast<void>(platform::RemoveFile(path));
  }
  std::string path;  // empty once it has its name, or before it exists
};

// What a build holds between its steps. The package's file is closed before
// its temporary name goes.
struct Build {
  BuildLog& log;
  std::string scriptPath;  // as the command text gives it, for the log
  std::string scriptFile;  // the file the build reads and rewrites
  TemporaryPackage temporary;
  platform::File output;
};

// `pattern` with its "%s" replaced by `argument`, the argument cut so that the
// whole line fits the log-line buffer.
std::string ComposeLine(std::string_view pattern, std::string_view argument) {
  const std::size_t at = pattern.find("%s");
  const std::size_t fixed = pattern.size() - 2;
  const std::size_t room = platform::MaxText > fixed ? platform::MaxText - fixed : 0;
  std::string text(pattern.substr(0, at));
  text += argument.substr(0, room);
  text += pattern.substr(at + 2);
  return text;
}

// The failure of the build: its log line and error number, reported against
// the script once there is one, about `subject` (the file or value at fault).
Failure Fail(const Build& build, std::string_view line, int errorNumber, std::string_view subject = {}) {
  Failure failure{.error = errorNumber, .logLine = std::string(line), .subject = std::string(subject)};
  if (!build.scriptFile.empty()) failure.scriptPath = build.scriptFile;
  return failure;
}

// The current directory joined with `name` by the platform's separator.
std::string InCurrentDirectory(std::string_view name) {
  std::string path = platform::CurrentDirectory();
  path += platform::PathSeparator;
  path += name;
  return path;
}

[[nodiscard]] bool WriteMarkerAndTime(platform::File& output, std::uint64_t fileTime) {
  return platform::WriteBytes(output, PackageMarker()) &&
         platform::WriteBytes(output, EncodeTimeStamp(fileTime));
}

// Memory kept from item to item, never filled: had once at the size the
// largest item of the build needs (as measured before the work starts), so
// that a build faults pages in once, not for every file.
class ReusedBytes {
 public:
  // Sets how many bytes the largest item needs.
  void Expect(std::size_t largest) { expected_ = largest; }

  // Room for `n` bytes, with an address even for none; what it held is lost
  // when it must grow. Throws std::bad_alloc.
  std::span<std::uint8_t> Room(std::size_t n) {
    if (n > capacity_ || !bytes_) {
      const std::size_t size = std::max({n, expected_, std::size_t{1}});
      bytes_.reset();
      capacity_ = 0;
      bytes_ = std::make_unique_for_overwrite<std::uint8_t[]>(size);
      capacity_ = size;
    }
    return {bytes_.get(), n};
  }

 private:
  std::unique_ptr<std::uint8_t[]> bytes_;
  std::size_t capacity_ = 0;
  std::size_t expected_ = 0;
};

// What a thread that compresses keeps from item to item: the compressor's
// state record, had for its first item and reused (the compressor clears
// what it reads of it).
struct Worker {
  std::unique_ptr<ImplodeState> state;

  // Null when there is no memory for it.
  ImplodeState* State() {
    if (!state) {
      try {
        state = std::make_unique_for_overwrite<ImplodeState>();
      } catch (const std::bad_alloc&) {
        return nullptr;
      }
    }
    return state.get();
  }
};

// A file read whole and compressed (or a piece of one), ready to be written
// as an item: its stream and last-write time, or the log line and error
// number of what went wrong. Made without touching anything shared, so
// several are made at once.
struct PreparedItem {
  std::span<const std::uint8_t> stream;  // in the memory of the slot it was made in
  std::uint64_t fileTime = 0;
  std::uint64_t size = 0;  // of the file, or of the piece's part of it
  std::string_view failure;
  int error = 0;
};

// What an item holds from the moment it is made until it is written, and
// keeps for the items after it: the bytes read (a whole file, or the bytes a
// piece reads), the whole file's stream, a piece's encoded bits.
struct Slot {
  ReusedBytes input;
  ReusedBytes stream;
  std::span<const std::uint8_t> pieceBytes;  // in `input`
  ImplodedPiece piece;
  PreparedItem item;
};

// The log lines of one kind of item: the script's differ from the files'.
struct ItemLines {
  std::string_view open;   // the file cannot be opened
  int openError;
  std::string_view read;   // it cannot be read (or closed)
  std::string_view compress;
  std::string_view write;  // its stream cannot be written
};

// Reads the file at `path` whole into the slot and compresses it there, in
// the worker's state. Its buffers are room for the file's n bytes and for
// the largest stream n bytes can give.
PreparedItem PrepareItem(const std::string& path, const ItemLines& lines, Worker& worker, Slot& slot) {
  PreparedItem item;
  const auto fail = [&item](std::string_view line, int error) {
    item.failure = line;
    item.error = error;
    item.stream = {};
    return item;
  };
  platform::File file = platform::OpenForReading(path);
  if (!file.IsOpen()) return fail(lines.open, lines.openError);
  const auto size = platform::FileSize(file);
  if (!size) return fail(lines.read, FileError);
  item.size = *size;
  constexpr std::uint64_t limit = std::numeric_limits<std::uint32_t>::max();
  if (*size > limit || CompressBound(*size) > limit) return fail(line::Allocate, MemoryError);
  const auto n = static_cast<std::uint32_t>(*size);
  const auto capacity = static_cast<std::uint32_t>(CompressBound(n));
  std::span<std::uint8_t> content;
  std::span<std::uint8_t> stream;
  try {
    content = slot.input.Room(n);
    stream = slot.stream.Room(capacity);
  } catch (const std::bad_alloc&) {
    return fail(line::Allocate, MemoryError);
  }
  if (platform::ReadBytes(file, content) != static_cast<std::int64_t>(n)) return fail(lines.read, FileError);
  const auto fileTime = platform::LastWriteTime(file);
  if (!fileTime) return fail(lines.read, FileError);
  item.fileTime = *fileTime;
  // A source the platform cannot close cleanly may not have been read as it is.
  if (!file.Close()) return fail(lines.read, FileError);
  ImplodeState* state = worker.State();
  if (!state) return fail(lines.compress, MemoryError);
  const std::int32_t length = CompressToMemory(stream.data(), capacity, content.data(), n, *state);
  if (length < 0) return fail(lines.compress, MemoryError);
  item.stream = stream.first(static_cast<std::size_t>(length));
  return item;
}

// Writes a prepared item: its stream, the marker and its time stamp.
Outcome<> WriteItem(Build& build, const PreparedItem& item, const ItemLines& lines, std::string_view source) {
  if (!item.failure.empty()) return Fail(build, item.failure, item.error, source);
  if (!platform::WriteBytes(build.output, item.stream) || !WriteMarkerAndTime(build.output, item.fileTime))
    return Fail(build, lines.write, FileError, build.temporary.path);
  return {};
}

std::string ReadListValue(const Build& build, int index) {
  return ReadScriptValue(script::Files, FileListKey(index), build.scriptFile);
}

// The profile calls look a bare file name up in the system's own directory,
// not in the current directory where the presence check found the script;
// "." and the separator in front make them read and rewrite that file.
std::string ScriptFileOf(const std::string& scriptPath) {
  if (scriptPath.find_first_of("\\/:") != std::string::npos) return scriptPath;
  return std::string(".") + platform::PathSeparator + scriptPath;
}

// The value whose source carries the version: the first list entry, or the
// entry that [Out] VersionFile names in its place.
std::string VersionValue(const std::string& scriptFile) {
  const std::string versionFile = ReadScriptValue(script::Out, script::VersionFile, scriptFile, "");
  if (!versionFile.empty()) return versionFile;
  return ReadScriptValue(script::Files, FileListKey(1), scriptFile);
}

// The identities of the files the script makes a build read: the script,
// the stub, the version source and the listed sources that exist.
std::vector<platform::FileIdentity> InputIdentities(const std::string& scriptFile) {
  std::vector<std::string> paths = {scriptFile, ReadScriptValue(script::In, script::QdFileName, scriptFile)};
  const std::string version = VersionValue(scriptFile);
  if (const auto entry = SplitFileListEntry(version); entry && !IsAbsent(version))
    paths.push_back(InCurrentDirectory(entry->source));
  for (const std::string& value : ReadFileList(scriptFile))
    if (const auto entry = SplitFileListEntry(value)) paths.push_back(entry->source);

  std::vector<platform::FileIdentity> identities;
  for (const std::string& path : paths)
    if (const auto identity = IsAbsent(path) ? std::nullopt : platform::IdentityOf(path))
      identities.push_back(*identity);
  return identities;
}

[[nodiscard]] bool IsOneOf(const std::optional<platform::FileIdentity>& identity,
                           const std::vector<platform::FileIdentity>& files) {
  return identity && std::find(files.begin(), files.end(), *identity) != files.end();
}

// The version numbers of the version source.
struct Version {
  std::uint32_t major = 0, minor = 0, build = 0, revision = 0;
};

Outcome<Version> ReadVersion(const Build& build) {
  const std::string value = VersionValue(build.scriptFile);

  std::string source;
  if (!IsAbsent(value)) {
    const auto entry = SplitFileListEntry(value);
    if (!entry) return Fail(build, line::VersionNoComma, SyntaxError, value);
    source = entry->source;
  }
  // The source is joined to the current directory even when it is absolute
  // (it is then not found); a path longer than the system's buffers is refused.
  // The log has one line for every way this fails; what is said beside it
  // tells them apart.
  const std::string path = InCurrentDirectory(source);
  const auto fail = [&build](std::string_view why) { return Fail(build, line::NoBuildNumber, FileError, why); };
  if (source.empty()) return fail("the list has no first file (File01, or [Out] VersionFile)");
  if (path.size() > platform::MaxText) return fail(source + " (its path is longer than 259 characters)");
  if (!platform::PathExists(path))
    return fail(source + (source.front() == '\\' || source.front() == '/' || source.find(':') != std::string::npos
                              ? " (taken from the current directory, so an absolute path is not found)"
                              : " (not found from the current directory)"));
  Version version;  // a resource without fixed information names the package 0.0.0.0
  if (!QueryFileVersion(path, &version.major, &version.minor, &version.build, &version.revision))
    return fail(source + " (no version resource)");
  return version;
}

// The stub, copied whole, then the package marker. A stub that is no
// Windows image could never be sealed, and no package made from it would
// run: it fails here, before anything is packed.
Outcome<> CopyStub(Build& build, const std::string& stubPath) {
  platform::File stub = platform::OpenForReading(stubPath);
  if (!stub.IsOpen()) return Fail(build, line::ReadStub, FileError, stubPath);
  const auto size = platform::FileSize(stub);
  if (!size || *size > std::numeric_limits<std::uint32_t>::max())
    return Fail(build, line::ReadStub, FileError, stubPath);
  std::vector<std::uint8_t> buffer;
  try {
    buffer.assign(static_cast<std::size_t>(*size), 0);
  } catch (const std::bad_alloc&) {
    return Fail(build, line::Allocate, MemoryError, stubPath);
  }
  if (platform::ReadBytes(stub, buffer) != static_cast<std::int64_t>(buffer.size()) || !stub.Close() ||
      !pe::IsImage(buffer))
    return Fail(build, line::ReadStub, FileError, stubPath);
  if (!platform::WriteBytes(build.output, buffer) || !platform::WriteBytes(build.output, PackageMarker()))
    return Fail(build, line::WriteItem, FileError, build.temporary.path);
  return {};
}

// The removal pass: every entry whose source is missing leaves the list, and the
// entries after it move down one place, in the script file itself.
Outcome<> RemoveMissingEntries(Build& build) {
  int index = 1;
  while (index <= MaxFileListEntries) {
    const std::string value = ReadListValue(build, index);
    if (IsAbsent(value)) return {};
    const auto entry = SplitFileListEntry(value);
    if (!entry) return Fail(build, line::EntryNoComma, SyntaxError, value);
    if (platform::PathExists(entry->source)) {
      ++index;
      continue;
    }
    build.log.Write(ComposeLine(line::SourceMissing, entry->source));
    for (int slot = index;; ++slot) {
      const std::string next =
          slot < MaxFileListEntries ? ReadListValue(build, slot + 1) : std::string(AbsentValue);
      // A deletion that fails is a failed write too: the list would keep an
      // entry the package does not carry, and this pass would never end.
      const auto moved = IsAbsent(next) ? std::nullopt : std::optional<std::string_view>(next);
      if (!platform::WriteProfileString(script::Files, FileListKey(slot), moved, build.scriptFile))
        return Fail(build, ComposeLine(line::WriteScriptFailed, build.scriptPath), SyntaxError, build.scriptPath);
      if (!moved) break;
    }
    // The same index now holds the entry that followed the removed one.
  }
  return {};
}

constexpr ItemLines ScriptLines{line::ReadScript, FileError, line::ReadScript, line::CompressScript,
                                line::WriteScriptItem};
constexpr ItemLines FileLines{line::OpenSource, SyntaxError, line::ReadSource, line::CompressSource,
                              line::WriteItem};

// How long the pieces of a file of `size` bytes are where several threads
// pack (see ImplodePlan). Items are written in order and only so many are
// held at once, so one long item keeps the other threads waiting once they
// have packed the few after it: a file above 2 MiB is packed in pieces of
// 1 to 2 MiB, and one above 4 MiB in pieces of 2 to 4 MiB, since each piece
// costs the work of about 16 KB more. One thread has no one to keep
// waiting, and packs only a file above 8 MiB in pieces (of 4 to 8 MiB),
// which need less memory than the whole file.
std::uint64_t PieceSizeFor(const platform::OrderedShape& shape, std::uint64_t size) {
  constexpr std::uint64_t MiB = std::uint64_t{1} << 20;
  if (shape.workers == 1) return ImplodePieceSize;
  return size < 4 * MiB ? MiB : 2 * MiB;
}

// A file large enough to gain from it is packed in pieces, several at once
// (see ImplodePlan): its plan, left without pieces for a file packed whole.
// Measuring the file can fail as reading it can, and then fails the build.
PreparedItem PlanPieces(const std::string& path, const platform::OrderedShape& shape, ImplodePlan& plan) {
  PreparedItem item;
  platform::File file = platform::OpenForReading(path);
  if (!file.IsOpen()) return {.failure = FileLines.open, .error = FileLines.openError};
  const auto size = platform::FileSize(file);
  if (!size || !file.Close()) return {.failure = FileLines.read, .error = FileError};
  constexpr std::uint64_t limit = std::numeric_limits<std::uint32_t>::max();
  if (*size > limit || CompressBound(*size) > limit) return item;
  plan = PlanImplode(*size, 0, 4096, PieceSizeFor(shape, *size));
  if (plan.pieces.size() < 2) plan.pieces.clear();
  return item;
}

// Reads piece `index` of the file at `path` into the slot and encodes it
// there, in the worker's state, failing as PrepareItem does; the last piece
// also takes the file's time.
PreparedItem PreparePiece(const std::string& path, const ImplodePlan& plan, std::size_t index, Worker& worker,
                          Slot& slot) {
  PreparedItem item;
  const auto fail = [&item](std::string_view line, int error) {
    item.failure = line;
    item.error = error;
    return item;
  };
  const ImplodePiece& part = plan.pieces[index];
  platform::File file = platform::OpenForReading(path);
  if (!file.IsOpen()) return fail(FileLines.open, FileLines.openError);
  if (platform::FileSize(file) != plan.size) return fail(FileLines.read, FileError);
  try {
    const auto bytes = slot.input.Room(static_cast<std::size_t>(part.readEnd - part.readBegin));  // a few MiB
    slot.pieceBytes = bytes;
    if (!platform::SeekTo(file, part.readBegin) ||
        platform::ReadBytes(file, bytes) != static_cast<std::int64_t>(bytes.size()))
      return fail(FileLines.read, FileError);
    if (index + 1 == plan.pieces.size()) {
      const auto fileTime = platform::LastWriteTime(file);
      if (!fileTime) return fail(FileLines.read, FileError);
      item.fileTime = *fileTime;
    }
    if (!file.Close()) return fail(FileLines.read, FileError);
    ImplodeState* state = worker.State();
    if (!state) return fail(line::Allocate, MemoryError);
    if (!ImplodePieceOf(plan, index, bytes, *state, slot.piece)) return fail(FileLines.compress, MemoryError);
  } catch (const std::bad_alloc&) {
    return fail(line::Allocate, MemoryError);
  }
  item.size = part.end - part.begin;
  return item;
}

// Progress for a person watching the build: the file being written and the
// bytes done of all the files'. Shown only where someone can see it.
struct Progress {
  bool shown = platform::ProgressVisible();
  std::uint64_t total = 0;
  std::uint64_t done = 0;

  static std::string Megabytes(std::uint64_t bytes) {
    const std::uint64_t tenths = bytes * 10 / (1024 * 1024);
    return text::Decimal(static_cast<std::int64_t>(tenths / 10)) + "." +
           text::Decimal(static_cast<std::int64_t>(tenths % 10)) + " MB";
  }
  void Packed(std::string_view source, std::uint64_t size) {
    done += size;
    if (shown) platform::ShowProgress("Packing " + std::string(source) + ": " + Megabytes(done) + " of " + Megabytes(total));
  }
};

// The packing pass: one item per list entry, written in list order, the
// files read and compressed on several threads, each thread in its own
// state and each item in a slot whose memory the items after it reuse.
// Returns the packed count.
Outcome<int> PackFiles(Build& build) {
  const std::vector<std::string> list = ReadFileList(build.scriptFile);
  std::vector<std::optional<FileListEntry>> entries;
  Progress progress;
  for (const std::string& value : list) {
    entries.push_back(SplitFileListEntry(value));
    if (progress.shown && entries.back())
      if (platform::File file = platform::OpenForReading(entries.back()->source); file.IsOpen())
        progress.total += platform::FileSize(file).value_or(0);
  }

  // The work: each file whole, or each piece of a large one; the pieces of
  // a file join in order into its stream.
  struct Unit {
    std::size_t entry;
    std::size_t piece;
  };
  const platform::OrderedShape shape = platform::OrderedWorkShape();
  std::vector<ImplodePlan> plans(entries.size());
  std::vector<PreparedItem> measured(entries.size());  // a file that could not be measured fails at its turn
  std::vector<Unit> units;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (entries[i]) measured[i] = PlanPieces(entries[i]->source, shape, plans[i]);
    for (std::size_t k = 0; k < std::max<std::size_t>(1, plans[i].pieces.size()); ++k) units.push_back({i, k});
  }

  // The most any item reads and writes: a whole file, or a piece's bytes.
  std::size_t largestInput = 0;
  std::size_t largestStream = 0;
  for (const ImplodePlan& plan : plans) {
    if (plan.pieces.empty()) {
      largestInput = std::max(largestInput, static_cast<std::size_t>(plan.size));
      largestStream = std::max(largestStream, static_cast<std::size_t>(CompressBound(plan.size)));
    }
    for (const ImplodePiece& piece : plan.pieces)
      largestInput = std::max(largestInput, static_cast<std::size_t>(piece.readEnd - piece.readBegin));
  }
  std::vector<Worker> workers(shape.workers);
  std::vector<Slot> slots(shape.held);
  for (Slot& slot : slots) {
    slot.input.Expect(largestInput);
    slot.stream.Expect(largestStream);
  }

  // An entry without a comma fails when its turn comes, as if read then.
  ImplodeJoin join;
  std::optional<Failure> failure;
  platform::RunOrdered(
      shape, units.size(),
      [&](std::size_t u, std::size_t worker) {
        const auto& [i, k] = units[u];
        Slot& slot = slots[u % slots.size()];
        if (!entries[i] || !measured[i].failure.empty()) {
          slot.item = measured[i];
          return;
        }
        slot.item = plans[i].pieces.empty() ? PrepareItem(entries[i]->source, FileLines, workers[worker], slot)
                                            : PreparePiece(entries[i]->source, plans[i], k, workers[worker], slot);
      },
      [&](std::size_t u) {
        const auto& [i, k] = units[u];
        if (!entries[i]) {
          failure = Fail(build, line::EntryNoComma, SyntaxError, list[i]);
          return false;
        }
        Slot& slot = slots[u % slots.size()];
        PreparedItem& item = slot.item;
        const bool whole = plans[i].pieces.empty() || !item.failure.empty();
        if (!whole) {
          try {
            if (!JoinImplodePiece(join, plans[i], k, slot.piece, slot.pieceBytes))
              item = {.failure = FileLines.compress, .error = MemoryError};
          } catch (const std::bad_alloc&) {
            item = {.failure = line::Allocate, .error = MemoryError};
          }
          progress.Packed(entries[i]->source, item.size);
          if (item.failure.empty() && k + 1 < plans[i].pieces.size()) return true;
          if (item.failure.empty()) item.stream = join.stream;
        }
        if (auto written = WriteItem(build, item, FileLines, entries[i]->source); !written) {
          failure = written.failure();
          return false;
        }
        if (whole) progress.Packed(entries[i]->source, item.size);
        item = {};
        return true;
      });
  if (progress.shown) platform::ShowProgress("");
  if (failure) return *failure;
  return static_cast<int>(list.size());
}

// The tail: zero bytes up to a multiple of 4, then four more; the length
// the package then has.
Outcome<std::uint64_t> WriteTail(Build& build) {
  const auto length = platform::FileSize(build.output);
  if (!length) return Fail(build, line::WriteItem, FileError, build.temporary.path);
  const std::vector<std::uint8_t> zeros(TailLength(*length), 0);
  if (!platform::WriteBytes(build.output, zeros)) return Fail(build, line::WriteItem, FileError, build.temporary.path);
  return *length + zeros.size();
}

// The directory a path names its file in, ending with its separator; "."
// and a separator for a bare name.
std::string DirectoryOf(std::string_view path) {
  const std::size_t end = path.find_last_of("\\/:");
  if (end == std::string_view::npos) return std::string(".") + platform::PathSeparator;
  return std::string(path.substr(0, end + 1));
}

}  // namespace

std::optional<std::string> ScriptPathOf(std::string_view commandText) {
  const std::size_t blank = commandText.rfind(' ');
  if (blank == std::string_view::npos) return std::nullopt;
  return std::string(commandText.substr(blank + 1));
}

Outcome<BuiltPackage> BuildPackage(std::string_view commandText, BuildLog& log) {
  Build build{.log = log};
  // A command text without a blank names no script.
  const auto scriptPath = ScriptPathOf(commandText);
  if (scriptPath) build.scriptPath = *scriptPath;
  const bool scriptFound = scriptPath && platform::PathExists(build.scriptPath);
  const std::string scriptFile = scriptFound ? ScriptFileOf(build.scriptPath) : std::string();

  const std::string logPath = InCurrentDirectory(LogFileName);
  const auto earlierLog = platform::IdentityOf(logPath);
  if (!scriptFound || !earlierLog || !IsOneOf(earlierLog, InputIdentities(scriptFile)))
    log.file = platform::CreateAlways(logPath);
  if (!scriptFound)
    return Fail(build, line::ScriptNotFound, FileError,
                scriptPath ? build.scriptPath + " (the text after the last blank)" : "no packing list after a blank");
  build.scriptFile = scriptFile;
  // A script that cannot be made writable fails when its list is rewritten.
  static_cast<void>(platform::SetNormalAttributes(build.scriptFile));

  const auto version = ReadVersion(build);
  if (!version) return version.failure();

  const std::string outputValue = ReadScriptValue(script::Out, script::OutputName, build.scriptFile);
  if (IsAbsent(outputValue)) return Fail(build, line::NoOutputName, SyntaxError);
  const std::string outputName =
      MakeOutputName(outputValue, version->major, version->minor, version->build, version->revision);

  const std::string stubPath = ReadScriptValue(script::In, script::QdFileName, build.scriptFile);
  if (IsAbsent(stubPath)) return Fail(build, line::NoStubName, SyntaxError);

  // A name that would not fit the system's buffers, or a pattern with another
  // conversion than one "%s", comes back empty: it names no file to create.
  if (outputName.empty() || outputName.size() > platform::MaxText)
    return Fail(build, line::CreateOutput, FileError, outputValue);
  // The package takes the name's place: it may be no file the build uses.
  std::vector<platform::FileIdentity> used = InputIdentities(build.scriptFile);
  if (const auto logIdentity = platform::IdentityOf(log.file)) used.push_back(*logIdentity);
  if (IsOneOf(platform::IdentityOf(outputName), used)) return Fail(build, line::CreateOutput, FileError, outputName);
  build.temporary.path = platform::CreateTemporaryFile(DirectoryOf(outputName), TemporaryPrefix);
  if (build.temporary.path.empty()) return Fail(build, line::CreateOutput, FileError, outputName);
  build.output = platform::OpenForUpdate(build.temporary.path);
  if (!build.output.IsOpen()) return Fail(build, line::CreateOutput, FileError, outputName);

  if (auto copied = CopyStub(build, stubPath); !copied) return copied.failure();
  if (auto removed = RemoveMissingEntries(build); !removed) return removed.failure();
  // The script as item 0, read from the file the removal pass rewrote.
  Worker worker;
  Slot slot;
  if (auto written = WriteItem(build, PrepareItem(build.scriptFile, ScriptLines, worker, slot), ScriptLines,
                               build.scriptPath);
      !written)
    return written.failure();
  const auto packed = PackFiles(build);
  if (!packed) return packed.failure();
  if (*packed == 0) return Fail(build, line::NoInputFiles, SyntaxError);
  const auto length = WriteTail(build);
  if (!length) return length.failure();
  if (!build.output.Close()) return Fail(build, line::WriteItem, FileError, build.temporary.path);

  // Sealed, then named: the package appears under its name whole, or not at all.
  if (!CheckImageChecksum(build.temporary.path, Stamp::Yes))
    return Fail(build, line::WriteItem, FileError, build.temporary.path);
  if (!platform::RenameFile(build.temporary.path, outputName))
    return Fail(build, line::CreateOutput, FileError, outputName);
  build.temporary.path.clear();
  return BuiltPackage{outputName, *length, *packed};
}

}  // namespace qd
