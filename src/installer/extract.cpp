//===- extract.cpp - Unpacking a package's items into the work directory ----===//
//
// Each item streams from the package through the decoder into its file, so
// an installer run needs the same little memory for any payload. One reader
// goes through the package from the stub to the last item, reading it in
// large blocks, and what an item unpacks is written in large blocks too: a
// file costs a write for each block, not one for each piece the decoder
// hands over. Names come from the package, so a destination is used only
// when it is a plain file name: nothing is written, or deleted, outside the
// work directory. Every file is created new: a name that is there already
// is never written through.
//
//===----------------------------------------------------------------------===//
#include "installer/extract.h"

#include <cstring>
#include <utility>

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

std::optional<std::string> WorkFilePath(std::string_view workDirectory, std::string_view destination) {
  if (!IsPlainFileName(destination)) return std::nullopt;
  std::string path = std::string(workDirectory) + std::string(destination);
  if (path.size() > platform::MaxText) return std::nullopt;
  return path;
}

Outcome<> ExtractItem(Installation& installation, std::string_view name, platform::File output, Unpack unpack,
                      const std::function<void()>& breathe) {
  InstallerPackage& package = installation.package;
  // The reader goes on from the item before; reading from anywhere else
  // starts a new one there.
  if (!package.reading || package.reading->reader.Position() != package.itemPosition) {
    package.reading.reset();
    if (!platform::SeekTo(package.file, package.itemPosition)) return FailureOf(error::File, installation);
    package.reading.reset(std::make_unique<ItemReading>(package.itemPosition, package.readLength).release());
  }
  PackageReader& reader = package.reading->reader;
  reader.ReadThrough([&package, &breathe](std::span<std::uint8_t> buffer) {
    if (breathe) breathe();
    return platform::ReadBytes(package.file, buffer);
  });
  BlockWriter writer{output, std::span(package.reading->block.get(), WriteBlockSize)};
  const auto sink = [&writer](std::span<const std::uint8_t> bytes) { return writer.Add(bytes); };
  Piece piece = unpack == Unpack::StubImage ? reader.CopyStub(sink) : reader.UnpackItem(sink);
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
  package.itemPosition = reader.Position();
  if (unpack == Unpack::Item)
    installation.log.Note("Unpacked " + std::string(name) + ": " +
                          text::Decimal(static_cast<std::int64_t>(piece.unpackedSize)) + " bytes, time stamp " +
                          text::IsoTime(piece.timeStamp));
  return {};
}

Outcome<> ExtractPackageFiles(Installation& installation, const std::function<void()>& breathe) {
  const std::string& scriptPath = installation.scriptPath;
  const std::vector<std::string> list = ReadFileList(scriptPath);
  // A name refused on its own or listed twice stops the run before anything is unpacked.
  std::vector<std::string> destinations;
  for (const std::string& value : list)
    if (const auto entry = SplitFileListEntry(value)) destinations.push_back(entry->destination);
  if (const auto refused = CheckItemNames(destinations); !refused.empty()) {
    installation.log.Note("Refused name: " + destinations[refused.front().index] + " " +
                          std::string(DescribeRefusal(refused.front().refusal)));
    return FailureOf(error::File, installation);
  }
  for (const std::string& value : list) {
    const auto entry = SplitFileListEntry(value);
    if (!entry) return FailureOf(error::Configuration, installation);
    const auto path = WorkFilePath(installation.workDirectory, entry->destination);
    if (!path) return FailureOf(error::File, installation);
    platform::File output = platform::Open(*path, platform::OpenMode::CreateNew);
    if (!output.IsOpen()) return FailureOf(error::File, installation);
    if (auto extracted = ExtractItem(installation, entry->destination, std::move(output), Unpack::Item, breathe);
        !extracted)
      return extracted;
  }

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
