//===- platform.cpp - What both halves of the platform layer share ----------===//
//
// Portable code of the platform library: the file operations reach the
// platform through the table in use, the process ends the same way
// everywhere, and the progress dialog's view names its controls by id. The
// halves in posix/ and win32/ hold only what differs.
//
//===----------------------------------------------------------------------===//
#include "platform/platform.h"
#include "halves.h"

#include <cstdio>
#include <cstdlib>

namespace qd::platform {
namespace {

const FileOperations* replacement = nullptr;

constexpr FileOperations Native{native::Open,     native::Read,   native::Write,        native::Close,
                                native::SetTimes, native::Remove, native::MakeDirectory};

const FileOperations& Operations() { return replacement ? *replacement : NativeFileOperations(); }

}  // namespace

const FileOperations& NativeFileOperations() { return Native; }

const FileOperations* UseFileOperations(const FileOperations* operations) {
  const FileOperations* previous = replacement;
  replacement = operations;
  return previous;
}

bool File::Close() {
  if (!IsOpen()) return true;
  return Operations().close(Release());
}

File Open(std::string_view path, OpenMode mode) { return File(Operations().open(path, mode)); }

std::int64_t ReadBytes(File& file, std::span<std::uint8_t> buffer) {
  return Operations().read(file.Native(), buffer);
}

bool WriteBytes(File& file, std::span<const std::uint8_t> data) {
  return Operations().write(file.Native(), data);
}

bool SetFileTimes(File& file, std::uint64_t fileTime) {
  return Operations().setTimes(file.Native(), fileTime);
}

bool RemoveFile(std::string_view path) { return Operations().remove(path); }

bool MakeDirectory(std::string_view path, DirectoryAccess access) {
  return Operations().makeDirectory(path, access);
}

void RunOrderedHere(std::size_t count, const std::function<void(std::size_t)>& produce,
                    const std::function<bool(std::size_t)>& consume) {
  for (std::size_t i = 0; i < count; ++i) {
    produce(i);
    if (!consume(i)) return;
  }
}

DialogControl* DialogView::Control(int id) {
  return const_cast<DialogControl*>(static_cast<const DialogView&>(*this).Control(id));
}

const DialogControl* DialogView::Control(int id) const {
  switch (id) {
    case dialog::NextButton: return &next;
    case dialog::CancelButton: return &cancel;
    case dialog::BackButton: return &back;
    case dialog::ProgressBar: return &progressBar;
    case dialog::IntroText: return &intro;
    case dialog::StatusText: return &status;
    case dialog::HeadingText: return &heading;
    default: return nullptr;
  }
}

void EndProcess(int exitCode) {
  std::fflush(nullptr);
  std::exit(exitCode);
}

}  // namespace qd::platform
