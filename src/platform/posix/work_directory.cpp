//===- work_directory.cpp - The installer's work directory, POSIX half ------===//
//
// Only POSIX code here. The temporary directory may belong to someone else
// (after su, or sudo -E) and may let others rename what is in it, so the
// work directory is made with a name no one can guess, mode 0700, and from
// then on reached only through the handle opened on it at once: its path is
// /proc/self/fd/N/, which the kernel resolves through that handle for every
// call of this process. A directory that was swapped in before the handle
// was opened is found out by its owner and mode, and refused.
//
//===----------------------------------------------------------------------===//
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <climits>
#include <string>

#include "text/code_page.h"
#include "native_path.h"
#include "../halves.h"
#include "platform/platform.h"

namespace qd::platform {
namespace {

constexpr std::string_view HandlePrefix = "/proc/self/fd/";
// Random characters in a name: 10 of 32 kinds, 50 bits.
constexpr std::size_t RandomCharacters = 10;
constexpr int Attempts = 16;

// "QD", ten random characters from 0-9 and A-V, ".tmp".
[[nodiscard]] std::optional<std::string> RandomName() {
  std::array<std::uint8_t, RandomCharacters> bytes{};
  std::size_t got = 0;
  while (got < bytes.size()) {
    const ssize_t n = ::getrandom(bytes.data() + got, bytes.size() - got, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return std::nullopt;
    got += static_cast<std::size_t>(n);
  }
  static constexpr char Digits[] = "0123456789ABCDEFGHIJKLMNOPQRSTUV";
  std::string name = "QD";
  for (std::uint8_t byte : bytes) name += Digits[byte & 31];
  return name + ".tmp";
}

// The directory's own: made by this process's user and no one else may enter it.
[[nodiscard]] bool IsOwnDirectory(int handle) {
  struct stat info {};
  return ::fstat(handle, &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() &&
         (info.st_mode & 077) == 0;
}

std::string HandlePath(int handle) { return std::string(HandlePrefix) + std::to_string(handle) + "/"; }

}  // namespace

namespace native {

std::optional<WorkDirectory> MakeWorkDirectory(DirectoryAccess) {
  const std::string temporary = TemporaryDirectory();
  const int parent = ::open(posix::NativePath(temporary).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (parent < 0) return std::nullopt;
  for (int attempt = 0; attempt < Attempts; ++attempt) {
    const auto name = RandomName();
    if (!name) break;
    if (::mkdirat(parent, name->c_str(), 0700) != 0) {
      if (errno == EEXIST) continue;
      break;
    }
    const int handle = ::openat(parent, name->c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (handle < 0) break;
    if (!IsOwnDirectory(handle)) {
      ::close(handle);
      break;
    }
    // Without /proc, the path by name is all there is.
    std::string path = HandlePath(handle);
    if (::faccessat(AT_FDCWD, path.c_str(), F_OK, 0) != 0) path = temporary + *name + "/";
    return WorkDirectory(std::move(path), temporary + *name + "/", handle, parent, *name);
  }
  ::close(parent);
  return std::nullopt;
}

// Only the directory this run made goes: if another stands under its name
// now, neither is touched.
bool RemoveWorkDirectory(WorkDirectory& directory) {
  const int parent = static_cast<int>(directory.Parent());
  const int handle = static_cast<int>(directory.Handle());
  if (parent < 0 || handle < 0) return false;
  struct stat made {};
  struct stat named {};
  if (::fstat(handle, &made) != 0 ||
      ::fstatat(parent, directory.Name().c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 ||
      made.st_dev != named.st_dev || made.st_ino != named.st_ino)
    return false;
  return ::unlinkat(parent, directory.Name().c_str(), AT_REMOVEDIR) == 0;
}

void CloseDirectoryHandle(std::intptr_t handle) {
  if (handle >= 0) ::close(static_cast<int>(handle));
}

}  // namespace native

std::string ShownPath(std::string_view path) {
  if (!path.starts_with(HandlePrefix)) return std::string(path);
  const std::string_view rest = path.substr(HandlePrefix.size());
  const std::size_t slash = rest.find('/');
  std::array<char, PATH_MAX> target{};
  const std::string link = std::string(HandlePrefix) + std::string(rest.substr(0, slash));
  const ssize_t length = ::readlink(link.c_str(), target.data(), target.size() - 1);
  if (length <= 0) return std::string(path);
  std::string shown = text::AnsiFromUtf8(std::string_view(target.data(), static_cast<std::size_t>(length)));
  if (slash != std::string_view::npos) shown += rest.substr(slash);
  return shown;
}

}  // namespace qd::platform
