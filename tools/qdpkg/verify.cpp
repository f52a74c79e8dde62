//===- verify.cpp - qdpkg verify: is a package whole and as it was built ----===//
//
// The checks run in the order of the file: the image checksum over all of
// it, the stub (its headers, and the marker text once inside it), the script
// and its list, every item, the first file's version against the package's
// name, then the tail and what follows it, and the signature of a signed
// package (signature.h). Each check prints one line: "ok:",
// "fault:", "not checked:" when the package leaves nothing to compare, or
// "note:" for what is worth knowing but does not stop an installer run.
// The script is held to every rule by which an installer run would refuse
// the package: its names (package/item_name.h), its setup program and its
// language.
// A fault that leaves the items unfindable (a stub with the marker text
// twice, a package cut inside an item) ends the walk there; the lines for
// what could not be reached are not printed, as they would say nothing new.
//
//===----------------------------------------------------------------------===//
#include <algorithm>
#include <array>
#include <ostream>
#include <string>
#include <vector>

#include "package/output_name.h"
#include "commands.h"
#include "package/layout.h"
#include "package_file.h"
#include "report.h"
#include "signature.h"
#include "text/text.h"

namespace qd::pkg {
namespace {

using text::Hex;

// The last part of a path, after a slash or a backslash.
std::string_view FileNameOf(std::string_view path) {
  const std::size_t separator = path.find_last_of("\\/");
  return separator == std::string_view::npos ? path : path.substr(separator + 1);
}

std::string Plural(std::size_t count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

void CheckChecksum(const PackageFile& package, Report& report) {
  const auto sums = platform::ComputeImageChecksum(package.path);
  if (!sums)
    report.Fault("the image checksum cannot be computed: the file is empty, larger than 4 GiB or unreadable");
  else if (sums->stored != sums->computed)
    report.Fault("image checksum: the header holds " + Hex(sums->stored) + ", the file sums to " +
                 Hex(sums->computed) + "; the package was changed after it was sealed, or never sealed");
  else
    report.Ok("image checksum " + Hex(sums->computed) + " matches the whole file");
}

// The offsets of the marker texts that begin before `end`.
std::vector<std::uint64_t> MarkersBefore(PackageFile& package, std::uint64_t end) {
  std::vector<std::uint64_t> found;
  std::vector<std::uint8_t> chunk(std::size_t{1} << 16);
  const std::uint64_t scanEnd = std::min(package.size, end + PackageMarkerSize - 1);
  for (std::uint64_t offset = 0; offset < scanEnd;) {
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(chunk.size(), scanEnd - offset));
    const std::size_t got = ReadAt(package, offset, std::span(chunk).first(want));
    const std::span<const std::uint8_t> data(chunk.data(), got);
    for (auto at = FindMarker(data, 0); at; at = FindMarker(data, *at + 1))
      if (offset + *at < end) found.push_back(offset + *at);
    // A marker that begins in the last bytes is found by the next read.
    if (got < want || got < PackageMarkerSize) break;
    offset += got - (PackageMarkerSize - 1);
  }
  return found;
}

// The stub's headers and the marker text inside it: true when the items can
// be found after it.
[[nodiscard]] bool CheckStub(PackageFile& package, const Piece& stub, Report& report) {
  if (!package.image) {
    report.Fault("the file has no PE headers: it is no executable, so no package");
    return false;
  }
  const std::vector<std::uint64_t> inStub = MarkersBefore(package, package.image->end);
  if (inStub.empty()) {
    report.Fault("the stub does not hold the marker text: readers would take the package marker for the stub's own");
    return false;
  }
  if (inStub.size() > 1) {
    std::string offsets;
    for (const std::uint64_t offset : inStub) offsets += (offsets.empty() ? "" : ", ") + std::to_string(offset);
    report.Fault("the stub holds the marker text " + std::to_string(inStub.size()) + " times (at offsets " +
                 offsets + "); readers take the second for the end of the stub, so no item can be found");
    return false;
  }
  if (stub.status != PieceStatus::Ok) {
    report.Fault("no package marker follows the stub: the file holds no package");
    return false;
  }
  const bool pe32 = package.image->magic == pe::Pe32Magic;
  report.Ok(std::string("stub: a ") + (pe32 ? "32-bit" : "64-bit") + " image of " + std::to_string(stub.packedSize) +
            " bytes that holds the marker text once, followed by the package marker");
  return true;
}

// The list as the installer reads it: a comma in every entry, names it
// accepts, and an output name.
void CheckList(const std::vector<ListedFile>& files, const std::string& scriptPath, Report& report) {
  if (files.empty()) report.Fault("the script lists no files ([Files] File01 is absent): the installer stops with error 4");
  for (std::size_t i = 0; i < files.size(); ++i) {
    const ListedFile& file = files[i];
    const std::string key = FileListKey(static_cast<int>(i + 1));
    if (!file.hasComma)
      report.Fault(key + "=" + Printable(file.value) + " has no comma: the installer stops with error 4");
    else if (file.refusal == NameRefusal::Duplicate)
      report.Fault(ItemName(i + 1, file.destination) + " names the same file as " +
                   ItemName(file.sameAs + 1, files[file.sameAs].destination) +
                   ": the installer refuses the package (error 3)");
    else if (file.refusal)
      report.Fault(key + " names " + Printable(file.destination) + ", which " +
                   std::string(DescribeRefusal(*file.refusal)) + ": the installer refuses the package (error 3)");
  }
  if (IsAbsent(ReadScriptValue(script::Out, script::OutputName, scriptPath)))
    report.Fault("the script has no [Out] OutputName: the installer stops with error 4");
}

// The setup program, found as the installer finds it among the unpacked
// files, and the language of the dialog's texts.
void CheckCommand(const std::vector<ListedFile>& files, const std::string& scriptPath, Report& report) {
  const std::string fileName = ReadScriptValue(script::Cmd, script::FileName, scriptPath);
  if (IsAbsent(fileName)) {
    report.Fault("the script has no [Cmd] FileName: the installer stops with error 4");
  } else if (const auto refusal = CheckSetupFileName(fileName)) {
    report.Fault("[Cmd] FileName " + Printable(fileName) + " names the program " +
                 Printable(SetupProgramPart(fileName)) + ", which " + std::string(DescribeRefusal(*refusal)) +
                 ": the installer stops with error 4");
  } else {
    const auto listed = [&files](const std::string& name) {
      return std::find_if(files.begin(), files.end(), [&name](const ListedFile& file) {
        return file.hasComma && !file.refusal && NamesCollide(file.destination, name);
      });
    };
    const std::vector<SetupProgramName> names = SetupProgramNames(fileName);
    const auto found = std::find_if(names.begin(), names.end(),
                                    [&](const SetupProgramName& name) { return listed(name.name) != files.end(); });
    if (found == names.end()) {
      report.Fault("[Cmd] FileName " + Printable(fileName) +
                   " names no file of the list: the installer finds no setup program to start, and the install fails");
    } else {
      const auto file = listed(found->name);
      report.Ok("setup program: [Cmd] FileName " + Printable(fileName) + " runs " +
                ItemName(static_cast<std::size_t>(file - files.begin()) + 1, file->destination));
    }
  }
  if (IsAbsent(ReadScriptValue(script::Cmd, script::LANG, scriptPath)))
    report.Fault("the script has no [Cmd] LANG: an installer run with the dialog stops with error 4");
}

// The first file's version, and the package's name against the one the
// script's naming pattern gives for it.
void CheckVersion(const PackageFile& package, const ListedFile& first, const std::string& firstPath,
                  const std::string& scriptPath, Report& report) {
  const std::string name = Printable(first.destination);
  const auto version = platform::ReadVersionResource(firstPath);
  if (!version) {
    report.Fault("the first file, " + name + ", has no version resource: the installer stops with error 3");
    return;
  }
  // The builder names a package whose version resource holds no file
  // version after 0.0.0.0.
  const std::uint32_t ms = version->hasFixedInfo ? version->fileVersionMS : 0;
  const std::uint32_t ls = version->hasFixedInfo ? version->fileVersionLS : 0;
  const std::uint32_t major = ms >> 16;
  const std::uint32_t minor = ms & 0xFFFF;
  const std::uint32_t build = ls >> 16;
  const std::uint32_t revision = ls & 0xFFFF;
  const std::string numbers = std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(build) +
                              "." + std::to_string(revision);
  if (version->hasFixedInfo)
    report.Ok("the first file, " + name + ", has file version " + numbers);
  else
    report.Ok("the first file, " + name + ", has a version resource without a file version, which names " +
              "a package as 0.0.0.0");

  if (!ReadScriptValue(script::Out, script::VersionFile, scriptPath, "").empty()) {
    report.NotChecked("the package's name: [Out] VersionFile names the file whose version named it");
    return;
  }
  const std::string outputName = ReadScriptValue(script::Out, script::OutputName, scriptPath);
  if (IsAbsent(outputName)) return;  // a fault of the list already
  const std::string pattern = Printable(outputName);
  if (outputName.find('%') == std::string::npos) {
    report.NotChecked("the package's name: OutputName " + pattern + " holds no pattern, so no name carries the version");
    return;
  }
  const std::string expected = MakeOutputName(outputName, major, minor, build, revision);
  if (expected.empty()) {
    report.NotChecked("the package's name: OutputName " + pattern + " is no pattern the builder accepts");
    return;
  }
  const std::string_view actual = FileNameOf(package.path);
  const std::string_view wanted = FileNameOf(expected);
  // A renamed package installs all the same: signed into a new file, or
  // saved by a browser under another name.
  if (text::EqualsIgnoringCase(actual, wanted))
    report.Ok("the name " + Printable(actual) + " is what OutputName " + pattern + " gives for " + numbers);
  else
    report.Note("the name " + Printable(actual) + " is not " + Printable(wanted) + ", the name OutputName " +
                pattern + " gives for " + numbers + "; the package was renamed, which the installer does not mind");
}

// The zero tail after the last item at `itemsEnd`, and what follows it: the
// end of the file, or a certificate table to the end of the file, which is
// returned when it holds a whole entry.
[[nodiscard]] std::optional<pe::FileRange> CheckTail(PackageFile& package, std::uint64_t itemsEnd, Report& report) {
  const std::size_t tailSize = TailLength(itemsEnd);
  std::array<std::uint8_t, 8> tail{};
  const std::size_t got = ReadAt(package, itemsEnd, std::span(tail).first(tailSize));
  if (got < tailSize) {
    report.Fault("the file ends " + Plural(got, "byte", "bytes") + " after the last item, without its tail of " +
                 std::to_string(tailSize) + " zero bytes; the installer reads all but the last 4 bytes of a " +
                 "package, so it would not find the end of the last item");
    return std::nullopt;
  }
  if (std::any_of(tail.begin(), tail.begin() + static_cast<std::ptrdiff_t>(tailSize), [](auto b) { return b != 0; })) {
    report.Fault("the " + std::to_string(tailSize) + " bytes after the last item are not the zero tail");
    return std::nullopt;
  }
  report.Ok("tail: " + std::to_string(tailSize) + " zero bytes after the last item");

  const std::uint64_t tailEnd = itemsEnd + tailSize;
  const auto table = package.image ? package.image->certificateTable : std::nullopt;
  if (!table) {
    if (tailEnd == package.size)
      report.Ok("no certificate table: the tail ends the file");
    else
      report.Fault(std::to_string(package.size - tailEnd) +
                   " bytes follow the tail, and the headers name no certificate table that holds them");
    return std::nullopt;
  }
  const std::string where = std::to_string(table->size) + " bytes at offset " + std::to_string(table->offset);
  // A signing step pads the file with zeros to a multiple of 8 first.
  bool placed = table->offset >= tailEnd && table->offset - tailEnd < 8 && table->offset % 8 == 0 &&
                table->offset <= package.size && table->size == package.size - table->offset;
  std::array<std::uint8_t, 8> padding{};
  if (placed) {
    const auto gap = static_cast<std::size_t>(table->offset - tailEnd);
    placed = ReadAt(package, tailEnd, std::span(padding).first(gap)) == gap &&
             std::all_of(padding.begin(), padding.begin() + static_cast<std::ptrdiff_t>(gap), [](auto b) { return b == 0; });
  }
  if (!placed) {
    report.Fault("the certificate table the headers name (" + where +
                 ") does not follow the tail to the end of the file");
    return std::nullopt;
  }
  // Its first entry: a 32-bit length, a 16-bit revision, a 16-bit type.
  std::array<std::uint8_t, 8> entry{};
  const bool read = ReadAt(package, table->offset, entry) == entry.size();
  const std::uint32_t length = *pe::LoadU32(entry, 0);
  const std::uint16_t type = *pe::LoadU16(entry, 6);
  if (!read || length < entry.size() || length > table->size) {
    report.Fault("the certificate table (" + where + ") does not hold a whole certificate entry");
    return std::nullopt;
  }
  report.Ok("certificate table: " + where + ", after the tail" +
            (type == 2 ? ", holding signed data (PKCS #7)" : ", of certificate type " + std::to_string(type)));
  return table;
}

}  // namespace

int Verify(std::string_view path, const VerifyOptions& options, std::ostream& out) {
  Report report{out};
  auto opened = OpenPackage(path);
  if (!opened) {
    report.Fault("cannot open " + Printable(path));
    return report.End();
  }
  PackageFile& package = *opened;
  CheckChecksum(package, report);

  PackageReader reader = ReaderOf(package);
  const auto count = [](std::span<const std::uint8_t>) { return true; };
  const Piece stub = reader.CopyStub(count);
  if (!CheckStub(package, stub, report)) return report.End();

  TemporaryFile scriptFile;
  TemporaryFile firstFile;
  if (!scriptFile.Made() || !firstFile.Made()) {
    report.Fault("cannot make a temporary file to unpack into");
    return report.End();
  }
  const Script script = UnpackScript(reader, scriptFile.Path());
  const bool scriptRead = script.piece.status == PieceStatus::Ok;
  if (!scriptRead) report.Fault("the script " + PieceFault(script.piece, script.sink));
  if (!script.piece.complete) return report.End();
  const std::vector<ListedFile> files = ListedFiles(script.list);
  if (scriptRead) {
    CheckList(files, scriptFile.Path(), report);
    CheckCommand(files, scriptFile.Path(), report);
  }

  // The listed files, then whatever items follow them.
  std::uint64_t itemsEnd = reader.Position();
  std::size_t items = 1;
  bool allDecode = scriptRead;
  bool firstRead = false;
  for (;; ++items) {
    const bool listed = items <= files.size();
    platform::File output;
    if (items == 1 && listed) output = platform::CreateAlways(firstFile.Path());
    ItemSink sink;
    sink.file = output.IsOpen() ? &output : nullptr;
    const Piece piece = reader.UnpackItem(sink.Fn());
    if (!piece.complete && !listed) break;
    const std::string name = listed       ? ItemName(items, files[items - 1].destination)
                             : scriptRead ? "item " + std::to_string(items) + " (after the listed files)"
                                          : "item " + std::to_string(items);
    if (!piece.complete) {
      report.Fault(name + " " + PieceFault(piece, sink) + "; the script lists " +
                   Plural(files.size(), "file", "files") + ", the package holds " +
                   Plural(items - 1, "whole file item", "whole file items"));
      return report.End();
    }
    itemsEnd = reader.Position();
    if (piece.status != PieceStatus::Ok) {
      report.Fault(name + " " + PieceFault(piece, sink));
      allDecode = false;
    }
    if (items == 1 && listed) firstRead = output.Close() && piece.status == PieceStatus::Ok;
  }
  const std::size_t fileItems = items - 1;
  if (allDecode)
    report.Ok("items: the script and " + Plural(fileItems, "file", "files") + ", and each decodes");
  if (scriptRead && fileItems == files.size())
    report.Ok("list: the script lists " + Plural(files.size(), "file", "files") + ", one for each item after it");
  else if (scriptRead && fileItems > files.size())
    report.Fault(Plural(fileItems - files.size(), "item follows", "items follow") + " the " +
                 Plural(files.size(), "file", "files") + " the script lists: an installer never reads them");
  else if (!scriptRead)
    report.NotChecked("the list against the items: the script cannot be read");

  if (firstRead && files[0].hasComma)
    CheckVersion(package, files[0], firstFile.Path(), scriptFile.Path(), report);
  if (const auto table = CheckTail(package, itemsEnd, report))
    CheckSignature(package, *table, options.caFile, report);
  else if (options.caFile)
    report.Fault("signature: --ca asks for the signer's chain, and the package holds no signature");
  return report.End();
}

}  // namespace qd::pkg
