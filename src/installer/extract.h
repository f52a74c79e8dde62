//===- extract.h - Unpacking a package's items into the work directory ------===//
//
// The installer reads its own file front to back: the stub (copied, and
// thrown away), the script, then one item for each entry of the script's
// file list, each unpacked under its destination name directly in the work
// directory and given the time stamp stored behind it.
//
//===----------------------------------------------------------------------===//
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "outcome/outcome.h"
#include "platform/platform.h"

namespace qd {

// What reading the package keeps from one item to the next (extract.cpp).
struct ItemReading;
struct ItemReadingDeleter {
  void operator()(ItemReading* reading) const;
};

// The running package and where its next item starts.
struct InstallerPackage {
  platform::File file;             // open for reading, shared with readers
  std::uint64_t readLength = 0;    // the bytes that count: the file less its last four
  std::uint64_t itemPosition = 0;  // file offset of the next item
  // The reader, with the bytes it has read beyond itemPosition, and the
  // block in which unpacked bytes gather before they are written: kept from
  // item to item, so that no byte of the package is read twice.
  std::unique_ptr<ItemReading, ItemReadingDeleter> reading;
};

// Where an installer run tells what it does, one event at a time: the log
// that the command line asked for, or, without a sink, nowhere. An event is
// one line of text; the sink adds the time.
struct EventLog {
  std::function<void(std::string_view event)> sink;

  void Note(std::string_view event) const {
    if (sink) sink(event);
  }
};

// What an installer run works with, from step to step.
struct Installation {
  // The work directory, ending with the separator: every unpacked file lies
  // directly in it.
  std::string workDirectory;
  // The script the run reads and reports against: the bare "SetupQd.ini"
  // until it is unpacked, then its path in the work directory.
  std::string scriptPath;
  // The arguments after the program's own path, where the setup program's
  // switches are looked for.
  std::string arguments;
  InstallerPackage package;
  EventLog log;
};

// The run's failure with `errorNumber`, reported against its script as it
// stands.
inline Failure FailureOf(int errorNumber, const Installation& installation) {
  return {.error = errorNumber, .scriptPath = installation.scriptPath};
}

// What ExtractItem takes out: the stub image, copied as it stands, or an item,
// unpacked and given its time stamp.
enum class Unpack { StubImage, Item };

// Takes the next piece of the package into `output` and closes it; the
// package then stands on the piece after it. An item is logged under `name`
// with its size and time stamp. A package that cannot be read
// or a file that cannot be written is error 3; an item that does not decode
// (with the decoder's result), or that no marker ends, is error 5.
// `breathe`, when given, is called before each block of the package is
// read, so that a window can answer between them.
Outcome<> ExtractItem(Installation& installation, std::string_view name, platform::File output, Unpack unpack,
                      const std::function<void()>& breathe = {});

// Unpacks one item per entry of the file list, from the package's position
// on, then requires that the first entry's file has a version resource and
// that the script names an output; closes the package. `breathe` as for
// ExtractItem.
Outcome<> ExtractPackageFiles(Installation& installation, const std::function<void()>& breathe = {});

// Whether the package's file holds a stub and the package marker after it:
// a package, whatever its items. Reads the file from its start.
[[nodiscard]] bool HoldsPackage(InstallerPackage& package);

// Deletes every listed file that an installer run unpacked, then the script,
// and logs what went. A file that cannot be deleted stays; the rest go all
// the same.
void DeleteExtractedFiles(const Installation& installation);

// The path of a list entry's destination in the work directory; nullopt for a
// name that is not a plain file name there (a drive, a root, a directory
// part, "." or "..") or that makes too long a path.
[[nodiscard]] std::optional<std::string> WorkFilePath(std::string_view workDirectory, std::string_view destination);

}  // namespace qd
