//===- package_file.cpp - A package file as qdpkg reads it ------------------===//
//
// The reader is the installer's own (package/reader.h), so qdpkg finds the
// same pieces an installer run finds; the script is read with the same
// profile rules, from a file.
//
//===----------------------------------------------------------------------===//
#include "package_file.h"


#include "codec/codec.h"
#include "text/text.h"

namespace qd::pkg {

std::optional<PackageFile> OpenPackage(std::string_view path) {
  PackageFile package;
  package.path = std::string(path);
  package.file = platform::OpenForReading(path);
  if (!package.file.IsOpen()) return std::nullopt;
  const auto size = platform::FileSize(package.file);
  if (!size) return std::nullopt;
  package.size = *size;
  package.image = pe::FindImageExtent([&package](std::uint64_t offset, std::span<std::uint8_t> buffer) {
    return ReadAt(package, offset, buffer);
  });
  // A signing step appends its table at the end of the file; one that ends
  // elsewhere (a signed stub's own) is no boundary of the items.
  package.itemsEnd = package.size;
  if (package.image && package.image->certificateTable) {
    const pe::FileRange table = *package.image->certificateTable;
    if (table.offset <= package.size && table.size == package.size - table.offset) package.itemsEnd = table.offset;
  }
  return package;
}

std::size_t ReadAt(PackageFile& package, std::uint64_t offset, std::span<std::uint8_t> buffer) {
  return offset < package.size ? platform::ReadAt(package.file, offset, buffer).value_or(0) : 0;
}

PackageReader ReaderOf(PackageFile& package) { return PackageReader(ReadsFrom(package.file, 0), 0, package.itemsEnd); }

TemporaryFile::TemporaryFile() : path_(platform::CreateTemporaryFile(platform::TemporaryDirectory(), "qdk")) {}

TemporaryFile::~TemporaryFile() {
  if (Made()) static_cast<void>(platform::RemoveFile(path_));
}

PieceSinkFn ItemSink::Fn() {
  return [this](std::span<const std::uint8_t> bytes) {
    if (bytes.size() > limit - taken) {
      overLimit = true;
      return false;
    }
    taken += bytes.size();
    if (file && !platform::WriteBytes(*file, bytes)) {
      writeFailed = true;
      return false;
    }
    return true;
  };
}

Script UnpackScript(PackageReader& reader, const std::string& scriptPath) {
  Script script;
  platform::File file = platform::CreateAlways(scriptPath);
  if (!file.IsOpen()) {
    script.piece.status = PieceStatus::WriteFailed;
    script.sink.writeFailed = true;
    return script;
  }
  script.sink.file = &file;
  script.sink.limit = MaxScriptSize;
  script.piece = reader.UnpackItem(script.sink.Fn());
  script.sink.file = nullptr;
  if (!file.Close() && script.piece.status == PieceStatus::Ok) {
    script.piece.status = PieceStatus::WriteFailed;
    script.sink.writeFailed = true;
  }
  if (script.piece.status == PieceStatus::Ok) {
    // The script's time stamp, as the installer gives it.
    platform::File stamped = platform::OpenForUpdate(scriptPath);
    if (!stamped.IsOpen() || !platform::SetFileTimes(stamped, script.piece.timeStamp) || !stamped.Close()) {
      script.piece.status = PieceStatus::WriteFailed;
      script.sink.writeFailed = true;
    }
    script.list = ReadFileList(scriptPath);
  }
  return script;
}

std::vector<ListedFile> ListedFiles(const std::vector<std::string>& list) {
  std::vector<ListedFile> files;
  std::vector<std::string> destinations;
  std::vector<std::size_t> entries;  // the file of each destination
  for (const std::string& value : list) {
    ListedFile file;
    file.value = value;
    if (const auto entry = SplitFileListEntry(value)) {
      file.hasComma = true;
      file.destination = entry->destination;
      destinations.push_back(entry->destination);
      entries.push_back(files.size());
    }
    files.push_back(std::move(file));
  }
  for (const RefusedName& refused : CheckItemNames(destinations)) {
    ListedFile& file = files[entries[refused.index]];
    file.refusal = refused.refusal;
    file.sameAs = entries[refused.sameAs];
  }
  return files;
}

namespace {

std::string_view ExplodeFault(std::uint32_t result) {
  switch (result) {
    case ExplodeBadDictionary: return "its dictionary-size byte is not 4, 5 or 6";
    case ExplodeBadLiteralMode: return "its literal-mode byte is not 0 or 1";
    case ExplodeTooShort: return "it is too short to be a stream";
    case ExplodeTruncated: return "it ends before its end-of-stream code";
    default: return "it cannot be decoded";
  }
}

}  // namespace

std::string PieceFault(const Piece& piece, const ItemSink& sink) {
  switch (piece.status) {
    case PieceStatus::Ok: return {};
    case PieceStatus::ReadFailed: return "cannot be read: the package file gives a read error";
    case PieceStatus::WriteFailed:
      if (sink.overLimit)
        return "unpacks to more than " + std::to_string(sink.limit) + " bytes, more than qdpkg reads";
      return "cannot be written";
    case PieceStatus::Malformed:
      // A stream that the end of the file cut is cut short first of all.
      if (!piece.complete) return PieceFault({.status = PieceStatus::NoMarker}, sink);
      return "does not decode: " + std::string(ExplodeFault(piece.explodeResult)) + " (result " +
             std::to_string(piece.explodeResult) + ")";
    case PieceStatus::NoMarker:
      return "is cut short: the package ends before the marker and time stamp that end it";
  }
  return {};
}

std::string ItemName(std::size_t index, const std::string& destination) {
  if (index == 0) return "the script";
  return FileListKey(static_cast<int>(index)) + " (" + Printable(destination) + ")";
}

}  // namespace qd::pkg
