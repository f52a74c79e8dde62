//===- file_faults.h - File operations that fail on cue -----------------------===//
//
// A double of the platform's file operations, in the manner of a test VFS:
// while a FileFaultScope lives, every open, read, write, close, time update,
// deletion and new directory goes through it to the platform, except the one
// call its
// fault names, which fails (or, for a read, delivers fewer bytes, as if the
// file ended there). Builder and installer failures run in-process with it,
// inside a death test, since they end the process.
//
//===----------------------------------------------------------------------===//
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace qd::test {

enum class FileCall { Open, Read, Write, Close, SetTimes, Remove, MakeDirectory };

struct FileFault {
  FileCall call = FileCall::Open;
  // Only calls on files whose path contains this text count (all when empty).
  std::string path;
  // The Nth counted call fails, counting from 1.
  int nth = 1;
  // For a read: deliver at most this many bytes instead of failing.
  std::optional<std::size_t> shortRead;
};

class FileFaultScope {
 public:
  explicit FileFaultScope(FileFault fault);
  ~FileFaultScope();
  FileFaultScope(const FileFaultScope&) = delete;
  FileFaultScope& operator=(const FileFaultScope&) = delete;

  // Whether the fault has struck.
  bool Struck() const;
};

}  // namespace qd::test
