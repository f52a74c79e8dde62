//===- extract.cpp - qdpkg extract: a package's files, unpacked and not run --===//
//
// What an installer run unpacks, unpacked into a directory of the user's
// choice: the script as SetupQd.ini, then each listed file under its
// destination, every one with its time stamp. Names come from the package,
// so only the names the installer accepts are used (its own rule): any
// other name, or one that names an earlier file again, is refused and its
// item passed over. An item that does not decode
// leaves no file; the items after it are still unpacked, since the markers
// delimit every item on its own. A package cut short ends the run there.
//
//===----------------------------------------------------------------------===//
#include <filesystem>
#include <ostream>
#include <string>
#include <system_error>

#include "commands.h"
#include "package_file.h"

namespace qd::pkg {
namespace {

// Makes `directory` (in the code page) when it does not exist; false when
// it is not there after.
bool MakeDirectory(const std::string& directory) {
  const std::filesystem::path path = platform::TextToSystem(directory);
  std::error_code error;
  std::filesystem::create_directory(path, error);
  return std::filesystem::is_directory(path, error);
}

}  // namespace

int Extract(std::string_view path, std::string_view directory, std::ostream& out, std::ostream& err) {
  const std::string dir(directory);
  const auto fail = [&err, &path](const std::string& what) {
    err << Shown("qdpkg: " + Printable(path) + ": " + what) << '\n';
    return 1;
  };
  auto package = OpenPackage(path);
  if (!package) {
    err << Shown("qdpkg: cannot open " + Printable(path)) << '\n';
    return 1;
  }
  if (!MakeDirectory(dir)) {
    err << Shown("qdpkg: cannot make the directory " + Printable(dir)) << '\n';
    return 1;
  }

  PackageReader reader = ReaderOf(*package);
  const auto pass = [](std::span<const std::uint8_t>) { return true; };
  if (reader.CopyStub(pass).status != PieceStatus::Ok)
    return fail("no package marker follows the stub: this is no package");
  const std::string scriptPath = dir + "/" + std::string(ScriptFileName);
  const Script script = UnpackScript(reader, scriptPath);
  if (script.piece.status != PieceStatus::Ok) {
    static_cast<void>(platform::RemoveFile(scriptPath));
    return fail("the script " + PieceFault(script.piece, script.sink));
  }
  out << "unpacked " << ScriptFileName << '\n';

  int status = 0;
  const std::vector<ListedFile> files = ListedFiles(script.list);
  for (std::size_t i = 0; i < files.size(); ++i) {
    const ListedFile& file = files[i];
    const std::string name = ItemName(i + 1, file.hasComma ? file.destination : file.value);
    platform::File output;
    std::string target;
    if (!file.hasComma) {
      status = fail(name + " has no comma, so no name: its item is passed over");
    } else if (file.refusal == NameRefusal::Duplicate) {
      status = fail("refused " + name + ": it names the same file as " +
                    ItemName(file.sameAs + 1, files[file.sameAs].destination));
    } else if (file.refusal) {
      status = fail("refused " + name + ": it " + std::string(DescribeRefusal(*file.refusal)));
    } else {
      target = dir + "/" + file.destination;
      output = platform::CreateAlways(target);
      if (!output.IsOpen()) status = fail("cannot create " + Printable(target));
    }
    ItemSink sink;
    sink.file = output.IsOpen() ? &output : nullptr;
    const Piece piece = reader.UnpackItem(sink.Fn());
    if (piece.status == PieceStatus::Ok && output.IsOpen()) {
      const bool stamped = platform::SetFileTimes(output, piece.timeStamp);
      if (output.Close() && stamped) {
        out << Shown("unpacked " + Printable(file.destination)) << '\n';
      } else {
        status = fail("cannot write " + Printable(target));
        static_cast<void>(platform::RemoveFile(target));
      }
    } else if (piece.status != PieceStatus::Ok) {
      status = fail(name + " " + PieceFault(piece, sink));
      if (output.IsOpen()) {
        static_cast<void>(output.Close());
        static_cast<void>(platform::RemoveFile(target));
      }
    }
    if (!piece.complete) break;
  }
  return status;
}

}  // namespace qd::pkg
