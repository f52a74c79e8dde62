//===- package_file.h - A package file as qdpkg reads it --------------------===//
//
// What list, verify and extract share: the package file opened with what its
// stub's headers say, a reader over it that walks stub and items front to
// back in one buffer's memory, the script unpacked into a file of its own
// (the profile rules read it there, as in an installer run), and the words
// for what went wrong. Every byte of the package is hostile: sizes and names
// come from it, so names are made safe to print before they reach a terminal.
//
//===----------------------------------------------------------------------===//
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "package/item_name.h"
#include "package/reader.h"
#include "package/script.h"
#include "pe/pe_image.h"
#include "platform/platform.h"
#include "text/code_page.h"
#include "text/text.h"

namespace qd::pkg {

// A script that unpacks to more is not read: the profile rules read a file
// whole, and every script the builder packs is a few kilobytes.
inline constexpr std::uint64_t MaxScriptSize = std::uint64_t{1} << 20;

struct PackageFile {
  std::string path;
  platform::File file;
  std::uint64_t size = 0;
  std::optional<pe::ImageExtent> image;  // what the stub's headers say
  // Items lie before this offset: where a certificate table that the headers
  // name at the end of the file starts; otherwise the file's size.
  std::uint64_t itemsEnd = 0;
};

// Opens the package; nullopt when it cannot be opened or its size read.
std::optional<PackageFile> OpenPackage(std::string_view path);

// Reads up to `buffer.size()` bytes at `offset`; the count read (0 past the
// end or on failure).
std::size_t ReadAt(PackageFile& package, std::uint64_t offset, std::span<std::uint8_t> buffer);

// A reader from the start of the file up to `package.itemsEnd`. It seeks
// before every read, so other reads of the package may come between.
PackageReader ReaderOf(PackageFile& package);

// A temporary file, removed when this goes.
class TemporaryFile {
 public:
  TemporaryFile();
  ~TemporaryFile();
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  const std::string& Path() const { return path_; }
  bool Made() const { return !path_.empty(); }

 private:
  std::string path_;
};

// Where an item's unpacked bytes go: into `file` when it is open, up to
// `limit` bytes; they are counted either way.
struct ItemSink {
  platform::File* file = nullptr;
  std::uint64_t limit = UINT64_MAX;
  std::uint64_t taken = 0;
  bool overLimit = false;
  bool writeFailed = false;

  PieceSinkFn Fn();
};

// The script, item 0, unpacked into `scriptPath`, and its file list.
struct Script {
  Piece piece;
  ItemSink sink;
  std::vector<std::string> list;  // the raw values, when the script was read
};
Script UnpackScript(PackageReader& reader, const std::string& scriptPath);

// One entry of the file list as qdpkg names and places it.
struct ListedFile {
  std::string value;        // the raw value of "FileNN"
  std::string destination;  // the name the installer unpacks it under
  bool hasComma = false;
  // Why the installer refuses the name (package/item_name.h), and for a
  // name listed twice, the index of the earlier entry; an accepted name
  // stays in its directory and reaches no other file of the list.
  std::optional<NameRefusal> refusal;
  std::size_t sameAs = 0;
};
std::vector<ListedFile> ListedFiles(const std::vector<std::string>& list);

// What went wrong with a piece, in words: "does not decode: ...", and so on.
std::string PieceFault(const Piece& piece, const ItemSink& sink);

// A name from the package, safe to print: control characters (and the code
// page's undefined bytes) become \xNN.
using text::Printable;
// Text of the platform's code page (names from the package, paths as the
// platform holds them) in the system's, to be printed.
inline std::string Shown(std::string_view text) { return platform::TextToSystem(text); }
// "File01 (engine.dll)", "the script".
std::string ItemName(std::size_t index, const std::string& destination);

// Time stamps as the installer's log writes them too (ISO 8601, UTC).
using text::IsoTime;

}  // namespace qd::pkg
