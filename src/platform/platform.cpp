//===- platform.cpp - What both halves of the platform layer share ----------===//
//
// Portable code of the platform library: every call of the builder and the
// installer reaches the platform through the table in use, ordered work has
// a form without threads, and the progress dialog's view names its controls
// by id. The halves in posix/ and win32/ hold only what differs.
//
//===----------------------------------------------------------------------===//
#include "platform/platform.h"
#include "halves.h"

#include <atomic>

namespace qd::platform {
namespace {

constexpr Operations Native{
    .open = native::Open,
    .read = native::Read,
    .readAt = native::ReadAt,
    .write = native::Write,
    .close = native::Close,
    .seek = native::Seek,
    .size = native::Size,
    .lastWriteTime = native::LastWriteTime,
    .setTimes = native::SetTimes,
    .remove = native::Remove,
    .rename = native::Rename,
    .exists = native::Exists,
    .setNormalAttributes = native::SetNormalAttributes,
    .createTemporaryFile = native::CreateTemporaryFile,
    .makeDirectory = native::MakeDirectory,
    .removeDirectory = native::RemoveEmptyDirectory,
    .makeWorkDirectory = native::MakeWorkDirectory,
    .removeWorkDirectory = native::RemoveWorkDirectory,
    .readProfile = native::ReadProfile,
    .writeProfile = native::WriteProfile,
    .runProgram = native::RunProgram,
};

// The one process-wide switch of this library: a test's double of the
// table, read by every thread that works with files.
std::atomic<const Operations*> replacement{nullptr};

const Operations& Use() {
  const Operations* operations = replacement.load(std::memory_order_acquire);
  return operations ? *operations : Native;
}

}  // namespace

const Operations& NativeOperations() { return Native; }

const Operations* UseOperations(const Operations* operations) {
  return replacement.exchange(operations, std::memory_order_acq_rel);
}

std::string ReadProfileString(std::string_view section, std::string_view key, std::string_view fallback,
                              std::string_view path) {
  const std::string keys[] = {std::string(key)};
  return Use().readProfile(section, std::span<const std::string>(keys), fallback, path).front();
}

std::vector<std::string> ReadProfileStrings(std::string_view section, std::span<const std::string> keys,
                                            std::string_view fallback, std::string_view path) {
  return Use().readProfile(section, keys, fallback, path);
}

bool WriteProfileString(std::string_view section, std::string_view key, std::optional<std::string_view> value,
                        std::string_view path) {
  return Use().writeProfile(section, key, value, path);
}

bool File::Close() {
  if (!IsOpen()) return true;
  return Use().close(Release());
}

File Open(std::string_view path, OpenMode mode) { return File(Use().open(path, mode)); }

std::int64_t ReadBytes(File& file, std::span<std::uint8_t> buffer) { return Use().read(file.Native(), buffer); }

bool WriteBytes(File& file, std::span<const std::uint8_t> data) { return Use().write(file.Native(), data); }

bool SeekTo(File& file, std::uint64_t offset) { return Use().seek(file.Native(), offset); }

std::optional<std::size_t> ReadAt(File& file, std::uint64_t offset, std::span<std::uint8_t> buffer) {
  const std::int64_t got = Use().readAt(file.Native(), offset, buffer);
  if (got < 0) return std::nullopt;
  return static_cast<std::size_t>(got);
}

std::optional<std::uint64_t> FileSize(File& file) { return Use().size(file.Native()); }

std::optional<std::uint64_t> LastWriteTime(File& file) { return Use().lastWriteTime(file.Native()); }

bool SetFileTimes(File& file, std::uint64_t fileTime) { return Use().setTimes(file.Native(), fileTime); }

bool RemoveFile(std::string_view path) { return Use().remove(path); }

bool RenameFile(std::string_view from, std::string_view to) { return Use().rename(from, to); }

bool PathExists(std::string_view path) { return Use().exists(path); }

bool SetNormalAttributes(std::string_view path) { return Use().setNormalAttributes(path); }

std::string CreateTemporaryFile(std::string_view directory, std::string_view prefix) {
  return Use().createTemporaryFile(directory, prefix);
}

bool MakeDirectory(std::string_view path, DirectoryAccess access) { return Use().makeDirectory(path, access); }

bool RemoveEmptyDirectory(std::string_view path) { return Use().removeDirectory(path); }

std::optional<WorkDirectory> MakeWorkDirectory(DirectoryAccess access) { return Use().makeWorkDirectory(access); }

bool RemoveWorkDirectory(WorkDirectory& directory) { return Use().removeWorkDirectory(directory); }

std::optional<std::uint32_t> RunProgram(const ProgramCommand& command, const std::function<void()>& whileWaiting) {
  return Use().runProgram(command, whileWaiting);
}

WorkDirectory& WorkDirectory::operator=(WorkDirectory&& other) noexcept {
  if (this != &other) {
    native::CloseDirectoryHandle(handle_);
    native::CloseDirectoryHandle(parent_);
    path_ = std::move(other.path_);
    shown_ = std::move(other.shown_);
    name_ = std::move(other.name_);
    handle_ = std::exchange(other.handle_, File::Invalid);
    parent_ = std::exchange(other.parent_, File::Invalid);
  }
  return *this;
}

WorkDirectory::~WorkDirectory() {
  native::CloseDirectoryHandle(handle_);
  native::CloseDirectoryHandle(parent_);
}

void RunOrderedHere(std::size_t count, const std::function<void(std::size_t, std::size_t)>& produce,
                    const std::function<bool(std::size_t)>& consume, const std::function<void(std::size_t)>& prepare) {
  for (std::size_t i = 0; i < count; ++i) {
    if (prepare) prepare(i);
    produce(i, 0);
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

}  // namespace qd::platform
