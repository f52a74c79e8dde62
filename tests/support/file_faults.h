//===- file_faults.h - Platform calls that fail on cue -------------------------===//
//
// A double of the platform's table of operations, in the manner of a test
// VFS: while a FileFaultScope lives, every call goes through it to the
// platform, except the one call its fault names, which fails (or, for a
// read, delivers fewer bytes, as if the file ended there). It also counts
// the calls that can fail, so that a test can fail each of them in turn
// over a whole run: a sweep. Reads that cannot report a failure (a profile
// value, whether a path exists) are passed on and not counted.
//
//===----------------------------------------------------------------------===//
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>

namespace qd::test {

enum class FileCall {
  Open, Read, Write, Close, Seek, Size, LastWriteTime, SetTimes,
  Remove, Rename, SetNormalAttributes, CreateTemporaryFile, MakeDirectory, RemoveDirectory,
  MakeWorkDirectory, RemoveWorkDirectory, WriteProfile, RunProgram,
};
std::string NameOf(FileCall call);

struct FileFault {
  // The kind of call that fails; nullopt: any call that can fail.
  std::optional<FileCall> call = FileCall::Open;
  // Only calls on files whose path contains this text count (all when empty).
  std::string path;
  // The Nth counted call fails, counting from 1; 0: none fails.
  int nth = 1;
  // For a read: deliver at most this many bytes instead of failing.
  std::optional<std::size_t> shortRead;
  // Called with the work directory's path as people read it, right after
  // the platform has made it: where a test plays someone who may write into
  // the temporary directory.
  std::function<void(const std::string& shown)> afterWorkDirectory;
};

class FileFaultScope {
 public:
  explicit FileFaultScope(FileFault fault);
  ~FileFaultScope();
  FileFaultScope(const FileFaultScope&) = delete;
  FileFaultScope& operator=(const FileFaultScope&) = delete;

  // Whether the fault has struck, and on which call ("write SetupQd.ini").
  bool Struck() const;
  std::string StruckCall() const;
  // How many calls were counted: with nth 0, every call of its kind that a
  // good run makes.
  int Counted() const;
};

}  // namespace qd::test
