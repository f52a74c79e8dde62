//===- list.cpp - qdpkg list: what a package holds --------------------------===//
//
// A table in the manner of "unzip -l": packed and unpacked size, time stamp
// and name per item, then the totals and how far the items were packed. The
// JSON form carries the same, with each time stamp to the 100 nanoseconds.
// Item streams are decoded only to be counted.
//
//===----------------------------------------------------------------------===//
#include <cstdio>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "commands.h"
#include "package_file.h"

namespace qd::pkg {
namespace {

struct Row {
  std::optional<std::string> name;  // none for an item the list does not name
  Piece piece;
};

struct Listing {
  std::string path;
  std::optional<std::uint64_t> stubSize;
  std::vector<Row> rows;
  std::string fault;  // what stopped the listing
};

// A JSON string of text in the platform's code page: in the system's text
// (UTF-8 on POSIX), with control characters escaped.
std::string JsonString(std::string_view text) {
  std::string out = "\"";
  for (const char c : Shown(text)) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20 || byte == 0x7F) {
      char escaped[7];
      std::snprintf(escaped, sizeof escaped, "\\u%04X", byte);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

// Packed size as a share of unpacked size, "32.1%".
std::string Percent(std::uint64_t packed, std::uint64_t unpacked) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f%%", 100.0 * static_cast<double>(packed) / static_cast<double>(unpacked));
  return text;
}

void PrintTable(const Listing& listing, std::ostream& out) {
  if (!listing.stubSize) return;
  out << "stub: " << *listing.stubSize << " bytes\n";
  out << "    packed    unpacked  time stamp (UTC)      name\n";
  std::uint64_t packed = 0;
  std::uint64_t unpacked = 0;
  char line[64];
  for (const Row& row : listing.rows) {
    packed += row.piece.packedSize;
    unpacked += row.piece.unpackedSize;
    std::snprintf(line, sizeof line, "%10llu  %10llu  ", static_cast<unsigned long long>(row.piece.packedSize),
                  static_cast<unsigned long long>(row.piece.unpackedSize));
    out << line << IsoTime(row.piece.timeStamp, false) << "  "
        << (row.name ? Shown(Printable(*row.name)) : "(an item the list does not name)") << '\n';
  }
  std::snprintf(line, sizeof line, "%10llu  %10llu  ", static_cast<unsigned long long>(packed),
                static_cast<unsigned long long>(unpacked));
  out << "----------  ----------\n" << line << listing.rows.size() << (listing.rows.size() == 1 ? " item" : " items");
  if (unpacked != 0) out << ", packed to " << Percent(packed, unpacked);
  out << '\n';
}

void PrintJson(const Listing& listing, std::ostream& out) {
  std::uint64_t packed = 0;
  std::uint64_t unpacked = 0;
  out << "{\n  \"package\": " << JsonString(listing.path) << ",\n  \"stubSize\": "
      << (listing.stubSize ? std::to_string(*listing.stubSize) : "null")
      << ",\n  \"items\": [";
  const char* separator = "\n";
  for (const Row& row : listing.rows) {
    packed += row.piece.packedSize;
    unpacked += row.piece.unpackedSize;
    out << separator << "    {\"name\": " << (row.name ? JsonString(*row.name) : "null")
        << ", \"packedSize\": " << row.piece.packedSize << ", \"unpackedSize\": " << row.piece.unpackedSize
        << ", \"timeStamp\": \"" << IsoTime(row.piece.timeStamp, true) << "\", \"fileTime\": " << row.piece.timeStamp
        << "}";
    separator = ",\n";
  }
  out << (listing.rows.empty() ? "],\n" : "\n  ],\n");
  out << "  \"packedSize\": " << packed << ",\n  \"unpackedSize\": " << unpacked << ",\n  \"ratio\": ";
  if (unpacked == 0) {
    out << "null";
  } else {
    char ratio[32];
    std::snprintf(ratio, sizeof ratio, "%.4f", static_cast<double>(packed) / static_cast<double>(unpacked));
    out << ratio;
  }
  if (!listing.fault.empty()) out << ",\n  \"error\": " << JsonString(listing.fault);
  out << "\n}\n";
}

// Reads the package's items into `listing` until the last, or a fault.
void ReadListing(PackageFile& package, Listing& listing) {
  PackageReader reader = ReaderOf(package);
  const auto count = [](std::span<const std::uint8_t>) { return true; };
  const Piece stub = reader.CopyStub(count);
  if (stub.status != PieceStatus::Ok) {
    listing.fault = "no package marker follows the stub: this is no package";
    return;
  }
  listing.stubSize = stub.packedSize;

  TemporaryFile scriptFile;
  if (!scriptFile.Made()) {
    listing.fault = "cannot make a temporary file for the script";
    return;
  }
  const Script script = UnpackScript(reader, scriptFile.Path());
  if (script.piece.status != PieceStatus::Ok) {
    listing.fault = "the script " + PieceFault(script.piece, script.sink);
    return;
  }
  listing.rows.push_back({std::string(ScriptFileName), script.piece});

  const std::vector<ListedFile> files = ListedFiles(script.list);
  for (std::size_t i = 0; i < files.size(); ++i) {
    const Piece piece = reader.UnpackItem(count);
    if (piece.status != PieceStatus::Ok) {
      listing.fault = ItemName(i + 1, files[i].destination) + " " + PieceFault(piece, {});
      return;
    }
    listing.rows.push_back({files[i].hasComma ? files[i].destination : files[i].value, piece});
  }
  // Items after the listed ones: an installer never reads them.
  for (;;) {
    const Piece piece = reader.UnpackItem(count);
    if (!piece.complete) return;
    if (piece.status != PieceStatus::Ok) {
      listing.fault = "item " + std::to_string(listing.rows.size()) + " " + PieceFault(piece, {});
      return;
    }
    listing.rows.push_back({std::nullopt, piece});
  }
}

}  // namespace

int List(std::string_view path, bool json, std::ostream& out, std::ostream& err) {
  auto package = OpenPackage(path);
  if (!package) {
    err << Shown("qdpkg: cannot open " + Printable(path)) << '\n';
    return 1;
  }
  Listing listing;
  listing.path = std::string(path);
  ReadListing(*package, listing);
  if (json)
    PrintJson(listing, out);
  else
    PrintTable(listing, out);
  if (listing.fault.empty()) return 0;
  err << Shown("qdpkg: " + Printable(path) + ": " + listing.fault) << '\n';
  return 1;
}

}  // namespace qd::pkg
