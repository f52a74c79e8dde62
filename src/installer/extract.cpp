//===- extract.cpp - Unpacking a package's items into the work directory ----===//
//
// Each item streams from the package through the decoder into its file, so
// an installer run needs the same little memory for any payload. Names come
// from the package, so a destination is used only when it is a plain file
// name: nothing is written, or deleted, outside the work directory.
//
//===----------------------------------------------------------------------===//
#include "installer/extract.h"

#include "package/reader.h"
#include "package/script.h"
#include "package/version.h"
#include "startup/run_state.h"
#include "ui/report_error.h"

namespace qd {

std::optional<std::string> WorkFilePath(std::string_view destination) {
  if (!IsPlainFileName(destination)) return std::nullopt;
  std::string path = WorkDirectory + std::string(destination);
  if (path.size() > platform::MaxText) return std::nullopt;
  return path;
}

void ExtractItem(InstallerPackage& package, platform::File output, Unpack unpack,
                 const std::string& scriptPath, const std::function<void()>& breathe) {
  if (!platform::SeekTo(package.file, package.itemPosition)) ReportError(error::File, scriptPath.c_str());
  const auto read = [&package, &breathe](std::span<std::uint8_t> buffer) {
    if (breathe) breathe();
    return platform::ReadBytes(package.file, buffer);
  };
  PackageReader reader(read, package.itemPosition, package.readLength);
  const auto sink = [&output](std::span<const std::uint8_t> bytes) { return platform::WriteBytes(output, bytes); };
  const Piece piece = unpack == Unpack::StubImage ? reader.CopyStub(sink) : reader.UnpackItem(sink);
  switch (piece.status) {
    case PieceStatus::Ok: break;
    case PieceStatus::ReadFailed:
    case PieceStatus::WriteFailed: ReportError(error::File, scriptPath.c_str());
    case PieceStatus::Malformed:
      ShowDecoderResult(piece.explodeResult);
      ReportError(error::Package, scriptPath.c_str());
    case PieceStatus::NoMarker: ReportError(error::Package, scriptPath.c_str());
  }
  if (unpack == Unpack::Item) platform::SetFileTimes(output, piece.timeStamp);
  // A file whose close fails may have lost what was written to it.
  if (!output.Close()) ReportError(error::File, scriptPath.c_str());
  package.itemPosition = reader.Position();
}

void ExtractPackageFiles(const std::string& scriptPath, InstallerPackage& package,
                         const std::function<void()>& breathe) {
  for (const std::string& value : ReadFileList(scriptPath)) {
    const auto entry = SplitFileListEntry(value);
    if (!entry) ReportError(error::Configuration, scriptPath.c_str());
    const auto path = WorkFilePath(entry->destination);
    if (!path) ReportError(error::File, scriptPath.c_str());
    platform::File output = platform::CreateAlways(*path);
    if (!output.IsOpen()) ReportError(error::File, scriptPath.c_str());
    ExtractItem(package, std::move(output), Unpack::Item, scriptPath, breathe);
  }

  // The first file names the package; it must carry a version.
  const std::string firstValue = ReadScriptValue(script::Files, FileListKey(1), scriptPath);
  const auto first = IsAbsent(firstValue) ? std::nullopt : SplitFileListEntry(firstValue);
  if (!first) ReportError(error::Configuration, scriptPath.c_str());
  const auto firstPath = WorkFilePath(first->destination);
  if (!firstPath || !QueryFileVersion(*firstPath, nullptr, nullptr, nullptr, nullptr))
    ReportError(error::File, scriptPath.c_str());
  if (IsAbsent(ReadScriptValue(script::Out, script::OutputName, scriptPath)))
    ReportError(error::Configuration, scriptPath.c_str());
  package.file.Close();
}

void DeleteExtractedFiles(const std::string& scriptPath) {
  for (const std::string& value : ReadFileList(scriptPath)) {
    const auto entry = SplitFileListEntry(value);
    const auto path = entry ? WorkFilePath(entry->destination) : std::nullopt;
    if (path) platform::RemoveFile(*path);
  }
  platform::RemoveFile(scriptPath);
}

}  // namespace qd
