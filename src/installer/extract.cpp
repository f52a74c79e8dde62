//===- extract.cpp - Unpacking a package's items into the work directory ----===//
//
// Each item streams from the package through the decoder into its file, so
// an installer run needs the same little memory for any payload. One reader
// goes through the package from the stub to the last item, reading it in
// large blocks, and what an item unpacks is written in large blocks too: a
// file costs a write for each block, not one for each piece the decoder
// hands over. Where the machine runs several threads, that reader only finds
// where each listed item lies, and the items are decoded on all of them at
// once, each by a reader of its own over just its bytes; they are still
// taken, logged and failed in list order. Names come from the package, so a destination is used only
// when it is a plain file name: nothing is written, or deleted, outside the
// work directory. Every file is created new: a name that is there already
// is never written through.
//
//===----------------------------------------------------------------------===//
#include "installer/extract.h"

#include <cstring>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "package/item_name.h"
#include "package/reader.h"
#include "package/script.h"
#include "package/version.h"
#include "text/text.h"

namespace qd {
namespace {

// Unpacked bytes are written in blocks of this size (the last of a file's
// may be shorter).
constexpr std::size_t WriteBlockSize = std::size_t{1} << 18;

// Gathers the bytes of one item into a block and writes the block to the
// file whenever it is full, and at the end (Flush). Every write is checked:
// after one fails, nothing more is kept.
struct BlockWriter {
  platform::File& file;
  std::span<std::uint8_t> block;
  std::size_t filled = 0;
  bool failed = false;

  bool Add(std::span<const std::uint8_t> bytes) {
    if (failed) return false;
    if (bytes.empty()) return true;
    if (bytes.size() > block.size() - filled) {
      if (!Flush()) return false;
      // A piece as large as a block goes to the file as it is.
      if (bytes.size() >= block.size()) return Write(bytes);
    }
    std::memcpy(block.data() + filled, bytes.data(), bytes.size());
    filled += bytes.size();
    return true;
  }

  // Writes what the block holds; false when a write has failed.
  bool Flush() {
    if (failed) return false;
    const std::size_t held = std::exchange(filled, 0);
    return held == 0 || Write(block.first(held));
  }

  bool Write(std::span<const std::uint8_t> bytes) {
    if (!platform::WriteBytes(file, bytes)) failed = true;
    return !failed;
  }
};

}  // namespace

// The reader's read function is given anew for every item (it lets a window
// answer, or not); between items it is not called.
struct ItemReading {
  ItemReading(std::uint64_t position, std::uint64_t length) : reader({}, position, length) {}
  PackageReader reader;
  std::unique_ptr<std::uint8_t[]> block = std::make_unique_for_overwrite<std::uint8_t[]>(WriteBlockSize);
};

void ItemReadingDeleter::operator()(ItemReading* reading) const { std::default_delete<ItemReading>()(reading); }

namespace {

// What one item unpacked to.
struct UnpackedItem {
  std::uint64_t size = 0;
  std::uint64_t timeStamp = 0;
};

// Takes the piece at `reading`'s position into `output` and closes it; the
// reader then stands on the piece after it.
Outcome<UnpackedItem> UnpackPiece(ItemReading& reading, platform::File output, Unpack unpack,
                                  const Installation& installation) {
  BlockWriter writer{output, std::span(reading.block.get(), WriteBlockSize)};
  const auto sink = [&writer](std::span<const std::uint8_t> bytes) { return writer.Add(bytes); };
  Piece piece = unpack == Unpack::StubImage ? reading.reader.CopyStub(sink) : reading.reader.UnpackItem(sink);
  if (piece.status == PieceStatus::Ok && !writer.Flush()) piece.status = PieceStatus::WriteFailed;
  switch (piece.status) {
    case PieceStatus::Ok: break;
    case PieceStatus::ReadFailed:
    case PieceStatus::WriteFailed: return FailureOf(error::File, installation);
    case PieceStatus::Malformed: {
      Failure failure = FailureOf(error::Package, installation);
      failure.decoderResult = piece.explodeResult;
      return failure;
    }
    case PieceStatus::NoMarker: return FailureOf(error::Package, installation);
  }
  if (unpack == Unpack::Item && !platform::SetFileTimes(output, piece.timeStamp))
    return FailureOf(error::File, installation);
  // A file whose close fails may have lost what was written to it.
  if (!output.Close()) return FailureOf(error::File, installation);
  return UnpackedItem{piece.unpackedSize, piece.timeStamp};
}

void NoteUnpacked(const Installation& installation, std::string_view name, const UnpackedItem& item) {
  installation.log.Note("Unpacked " + std::string(name) + ": " + text::Decimal(static_cast<std::int64_t>(item.size)) +
                        " bytes, time stamp " + text::IsoTime(item.timeStamp));
}

// The package's own reader, standing on its next item and reading through
// `read`; null when the package cannot be read from there.
PackageReader* ReaderAtItem(InstallerPackage& package, PackageReadFn read) {
  // The reader goes on from the item before; reading from anywhere else
  // starts a new one there.
  if (!package.reading || package.reading->reader.Position() != package.itemPosition) {
    package.reading.reset();
    if (!platform::SeekTo(package.file, package.itemPosition)) return nullptr;
    package.reading.reset(std::make_unique<ItemReading>(package.itemPosition, package.readLength).release());
  }
  package.reading->reader.ReadThrough(std::move(read));
  return &package.reading->reader;
}

// One entry of the file list: the file it unpacks to, or the failure its
// turn ends the run with.
struct Destination {
  std::string name;
  std::string path;
  std::optional<Failure> failure;
};

std::vector<Destination> DestinationsOf(const std::vector<std::string>& list, const Installation& installation) {
  std::vector<Destination> destinations;
  for (const std::string& value : list) {
    const auto entry = SplitFileListEntry(value);
    if (!entry) {
      destinations.push_back({.failure = FailureOf(error::Configuration, installation)});
      continue;
    }
    const auto path = WorkFilePath(installation.workDirectory, entry->destination);
    if (!path) {
      destinations.push_back({.name = entry->destination, .failure = FailureOf(error::File, installation)});
      continue;
    }
    destinations.push_back({.name = entry->destination, .path = *path});
  }
  return destinations;
}

// One item after another, through the package's own reader.
Outcome<> UnpackInTurn(Installation& installation, const std::vector<Destination>& destinations,
                       const std::function<void()>& breathe) {
  for (const Destination& destination : destinations) {
    if (destination.failure) return *destination.failure;
    platform::File output = platform::Open(destination.path, platform::OpenMode::CreateNew);
    if (!output.IsOpen()) return FailureOf(error::File, installation);
    if (auto extracted = ExtractItem(installation, destination.name, std::move(output), Unpack::Item, breathe);
        !extracted)
      return extracted;
  }
  return {};
}

// The bytes of one item in the package: from its stream's start to the end
// of its time stamp.
struct ItemSpan {
  std::uint64_t begin = 0;
  std::uint64_t end = 0;
  bool found = false;       // the items before it were passed over
  bool readFailed = false;  // the package could not be read to its end
};

// The items on several threads at once, each read where it lies, decoded
// and written by one worker. Where each lies is found in order, just before its worker
// starts on it: the package's own reader passes over one item after another,
// looking only for markers. The results are taken, and logged, in list
// order, and the first failure in that order ends the run, with the files
// unpacked that one item after another would have unpacked: those of later
// items that were already made are removed. breathe is called between items.
Outcome<> UnpackOnThreads(Installation& installation, const std::vector<Destination>& destinations,
                          const platform::OrderedShape& shape, const std::function<void()>& breathe) {
  InstallerPackage& package = installation.package;
  PackageReader* scan = ReaderAtItem(
      package, [&package](std::span<std::uint8_t> buffer) { return platform::ReadBytes(package.file, buffer); });
  if (!scan) return FailureOf(error::File, installation);

  std::vector<ItemSpan> spans(destinations.size());
  // Past an entry that fails, or an item whose end cannot be found, nothing is
  // looked for: the run ends there. An item without a marker after it
  // reaches to the end of the data, where unpacking it tells what is wrong.
  bool scanEnded = false;
  const auto findSpan = [&](std::size_t i) {
    if (scanEnded || destinations[i].failure) {
      scanEnded = true;
      return;
    }
    const Piece piece = scan->SkipItem();
    spans[i] = {.begin = piece.begin, .end = scan->Position(), .found = true};
    if (piece.status == PieceStatus::Ok) return;
    spans[i].readFailed = piece.status == PieceStatus::ReadFailed;
    spans[i].end = package.readLength;
    scanEnded = true;
  };

  std::vector<std::unique_ptr<ItemReading>> readings(shape.workers);
  std::vector<std::optional<Outcome<UnpackedItem>>> results(destinations.size());
  std::vector<char> made(destinations.size(), 0);  // whether item i's file was made
  std::optional<Failure> failure;
  std::size_t failedItem = 0;
  const auto unpack = [&](std::size_t i, std::size_t worker) -> Outcome<UnpackedItem> {
    const Destination& destination = destinations[i];
    const ItemSpan& span = spans[i];
    if (destination.failure) return *destination.failure;
    if (!span.found || span.readFailed) return FailureOf(error::File, installation);
    platform::File output = platform::Open(destination.path, platform::OpenMode::CreateNew);
    if (!output.IsOpen()) return FailureOf(error::File, installation);
    made[i] = 1;
    auto& reading = readings[worker];
    if (!reading) reading = std::make_unique<ItemReading>(span.begin, span.end);
    reading->reader.Restart(ReadsFrom(package.file, span.begin), span.begin, span.end);
    return UnpackPiece(*reading, std::move(output), Unpack::Item, installation);
  };
  platform::RunOrdered(
      shape, destinations.size(), [&](std::size_t i, std::size_t worker) { results[i] = unpack(i, worker); },
      [&](std::size_t i) {
        if (breathe) breathe();
        const Outcome<UnpackedItem>& result = *results[i];
        if (!result) {
          failure = result.failure();
          failedItem = i;
          return false;
        }
        NoteUnpacked(installation, destinations[i].name, *result);
        results[i].reset();
        return true;
      },
      findSpan);
  package.itemPosition = scan->Position();
  if (!failure) return {};
  // A file that stays behind is only a file too many in the work directory.
  for (std::size_t i = failedItem + 1; i < destinations.size(); ++i)
    if (made[i]) static_cast<void>(platform::RemoveFile(destinations[i].path));
  return *failure;
}

}  // namespace

std::optional<std::string> WorkFilePath(std::string_view workDirectory, std::string_view destination) {
  if (!IsPlainFileName(destination)) return std::nullopt;
  std::string path = std::string(workDirectory) + std::string(destination);
  if (path.size() > platform::MaxText) return std::nullopt;
  return path;
}

Outcome<> ExtractItem(Installation& installation, std::string_view name, platform::File output, Unpack unpack,
                      const std::function<void()>& breathe) {
  InstallerPackage& package = installation.package;
  PackageReader* reader = ReaderAtItem(package, [&package, &breathe](std::span<std::uint8_t> buffer) {
    if (breathe) breathe();
    return platform::ReadBytes(package.file, buffer);
  });
  if (!reader) return FailureOf(error::File, installation);
  const auto unpacked = UnpackPiece(*package.reading, std::move(output), unpack, installation);
  if (!unpacked) return unpacked.failure();
  package.itemPosition = reader->Position();
  if (unpack == Unpack::Item) NoteUnpacked(installation, name, *unpacked);
  return {};
}

Outcome<> ExtractPackageFiles(Installation& installation, const std::function<void()>& breathe) {
  const std::string& scriptPath = installation.scriptPath;
  const std::vector<std::string> list = ReadFileList(scriptPath);
  // A name refused on its own or listed twice stops the run before anything is unpacked.
  std::vector<std::string> names;
  for (const std::string& value : list)
    if (const auto entry = SplitFileListEntry(value)) names.push_back(entry->destination);
  if (const auto refused = CheckItemNames(names); !refused.empty()) {
    installation.log.Note("Refused name: " + names[refused.front().index] + " " +
                          std::string(DescribeRefusal(refused.front().refusal)));
    return FailureOf(error::File, installation);
  }
  // Items are decoded on several threads where the machine has them; a
  // window's thread then only takes their results. Each worker holds about
  // 530 KB of buffers, so there are at most four: the run's memory stays
  // small on a machine of many threads.
  const std::vector<Destination> destinations = DestinationsOf(list, installation);
  const platform::OrderedShape shape = platform::OrderedWorkShape(4);
  const auto unpacked = [&] {
    if constexpr (platform::OrderedWorkOnThreads)
      if (shape.workers > 1 && destinations.size() > 1)
        return UnpackOnThreads(installation, destinations, shape, breathe);
    return UnpackInTurn(installation, destinations, breathe);
  }();
  if (!unpacked) return unpacked;

  // The first file names the package; it must carry a version.
  const std::string firstValue = ReadScriptValue(script::Files, FileListKey(1), scriptPath);
  const auto first = IsAbsent(firstValue) ? std::nullopt : SplitFileListEntry(firstValue);
  if (!first) return FailureOf(error::Configuration, installation);
  const auto firstPath = WorkFilePath(installation.workDirectory, first->destination);
  if (!firstPath || !QueryFileVersion(*firstPath, nullptr, nullptr, nullptr, nullptr))
    return FailureOf(error::File, installation);
  if (IsAbsent(ReadScriptValue(script::Out, script::OutputName, scriptPath)))
    return FailureOf(error::Configuration, installation);
  // The package was only read: its close loses nothing.
  static_cast<void>(installation.package.file.Close());
  installation.package.reading.reset();
  return {};
}

bool HoldsPackage(InstallerPackage& package) {
  const auto size = platform::FileSize(package.file);
  if (!size || !platform::SeekTo(package.file, 0)) return false;
  PackageReader reader([&package](std::span<std::uint8_t> buffer) { return platform::ReadBytes(package.file, buffer); },
                       0, *size);
  return reader.CopyStub([](std::span<const std::uint8_t>) { return true; }).status == PieceStatus::Ok;
}

void DeleteExtractedFiles(const Installation& installation) {
  // A file that stays behind keeps the work directory; nothing else depends
  // on it, so it is only logged.
  std::int64_t removed = 0;
  std::string stays;
  for (const std::string& value : ReadFileList(installation.scriptPath)) {
    const auto entry = SplitFileListEntry(value);
    const auto path = entry ? WorkFilePath(installation.workDirectory, entry->destination) : std::nullopt;
    if (!path) continue;
    if (platform::RemoveFile(*path))
      ++removed;
    else
      stays += (stays.empty() ? "" : ", ") + entry->destination;
  }
  const bool scriptRemoved = platform::RemoveFile(installation.scriptPath);
  installation.log.Note("Clean-up: " + text::Decimal(removed) + " unpacked files removed" +
                        (stays.empty() ? "" : ", " + stays + " stayed") +
                        (scriptRemoved ? ", and the script" : "; the script stayed"));
}

}  // namespace qd
