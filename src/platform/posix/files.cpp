//===- files.cpp - Files and directories, POSIX half ------------------------===//
//
// Only POSIX code here. Files behave as the system expects of the Windows
// calls: a directory cannot be opened as a file, a directory search matches
// wildcards in the last part of a path without regard to case, file times
// are counted in 100-nanosecond intervals since 1601, and the files this
// process holds open are shared as OpenMode says.
//
// The sharing is the one process-wide record here: the kernel of Windows
// keeps it for every open handle, so the platform layer keeps it for every
// descriptor it opened, from the open to the close.
//
//===----------------------------------------------------------------------===//
#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <limits>
#include <map>
#include <mutex>

#include "text/code_page.h"
#include "native_path.h"
#include "../halves.h"
#include "platform/platform.h"

namespace qd::platform {
namespace {

using posix::NativePath;

// Seconds from 1601-01-01 to 1970-01-01, and file-time ticks per second.
constexpr std::int64_t EpochDifference = 11644473600;
constexpr std::int64_t TicksPerSecond = 10000000;

int Descriptor(const File& file) { return static_cast<int>(file.Native()); }

FileIdentity IdentityOfStat(const struct stat& info) {
  return {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
}

// The files this process holds open: descriptor, identity and how it was
// opened. Files are opened on several threads at once (the builder packs in
// parallel), so the registry is only touched under its lock.
struct HeldFile {
  FileIdentity identity;
  OpenMode mode;
};
std::map<int, HeldFile>& HeldFiles() {
  // Process-wide as the kernel's own table of descriptors is.
  static std::map<int, HeldFile> held;
  return held;
}
std::mutex& HeldFilesLock() {
  static std::mutex lock;
  return lock;
}

// Whether the file may be opened in `mode` while this process holds it:
// readers share with readers, appenders with appenders; any other writer
// shares with no one.
[[nodiscard]] bool SharingAllows(const FileIdentity& identity, OpenMode mode) {
  const bool shared = mode == OpenMode::Read || mode == OpenMode::Append;
  for (const auto& [descriptor, held] : HeldFiles())
    if (held.identity == identity && (!shared || held.mode != mode)) return false;
  return true;
}

[[nodiscard]] bool IsHeld(const FileIdentity& identity) {
  for (const auto& [descriptor, held] : HeldFiles())
    if (held.identity == identity) return true;
  return false;
}

}  // namespace

// What this half gives the table of file operations (see halves.h).
namespace native {

std::intptr_t Open(std::string_view path, OpenMode mode) {
  const std::string native = NativePath(path);
  const std::lock_guard lock(HeldFilesLock());
  // Asked before the open, which would already have emptied the file.
  struct stat before {};
  if (::stat(native.c_str(), &before) == 0 && !SharingAllows(IdentityOfStat(before), mode)) {
    errno = EBUSY;
    return File::Invalid;
  }
  int flags = O_RDONLY;
  if (mode == OpenMode::Update) flags = O_RDWR;
  if (mode == OpenMode::Create) flags = O_RDWR | O_CREAT | O_TRUNC;
  if (mode == OpenMode::CreateNew) flags = O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW;
  // A pipe without a reader would hold the open up: it fails at once instead.
  if (mode == OpenMode::Append) flags = O_WRONLY | O_CREAT | O_APPEND | O_NONBLOCK;
  int fd = ::open(native.c_str(), flags | O_CLOEXEC, 0644);
  if (fd < 0) return File::Invalid;
  struct stat info {};
  const bool known = ::fstat(fd, &info) == 0;
  // Only a regular file is appended to, and it waits as other files do.
  const bool appendRefused =
      mode == OpenMode::Append && (!S_ISREG(info.st_mode) || ::fcntl(fd, F_SETFL, O_APPEND) != 0);
  if (!known || S_ISDIR(info.st_mode) || appendRefused) {
    ::close(fd);
    return File::Invalid;
  }
  HeldFiles()[fd] = {IdentityOfStat(info), mode};
  return fd;
}

std::int64_t Read(std::intptr_t file, std::span<std::uint8_t> buffer) {
  std::size_t done = 0;
  while (done < buffer.size()) {
    ssize_t n = ::read(static_cast<int>(file), buffer.data() + done, buffer.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return static_cast<std::int64_t>(done);
}

std::int64_t ReadAt(std::intptr_t file, std::uint64_t offset, std::span<std::uint8_t> buffer) {
  std::size_t done = 0;
  while (done < buffer.size()) {
    if (offset + done > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) return -1;
    ssize_t n = ::pread(static_cast<int>(file), buffer.data() + done, buffer.size() - done,
                        static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return static_cast<std::int64_t>(done);
}

bool Write(std::intptr_t file, std::span<const std::uint8_t> data) {
  std::size_t done = 0;
  while (done < data.size()) {
    ssize_t n = ::write(static_cast<int>(file), data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool Close(std::intptr_t file) {
  const std::lock_guard lock(HeldFilesLock());
  HeldFiles().erase(static_cast<int>(file));
  return ::close(static_cast<int>(file)) == 0;
}

bool SetTimes(std::intptr_t file, std::uint64_t fileTime) {
  if (fileTime > static_cast<std::uint64_t>(INT64_MAX)) return false;
  auto ticks = static_cast<std::int64_t>(fileTime);
  timespec time{};
  time.tv_sec = static_cast<time_t>(ticks / TicksPerSecond - EpochDifference);
  time.tv_nsec = static_cast<long>((ticks % TicksPerSecond) * 100);
  const timespec times[2] = {time, time};
  return ::futimens(static_cast<int>(file), times) == 0;
}

// A file this process holds open cannot be deleted: no open shares deletion.
bool Remove(std::string_view path) {
  const std::string native = NativePath(path);
  const std::lock_guard lock(HeldFilesLock());
  struct stat info {};
  if (::lstat(native.c_str(), &info) == 0 && IsHeld(IdentityOfStat(info))) return false;
  return ::unlink(native.c_str()) == 0;
}

// Only the owner may enter a directory made here, whatever the access asked:
// that already keeps out everyone but the owner and the superuser.
bool MakeDirectory(std::string_view path, DirectoryAccess) {
  return ::mkdir(NativePath(path).c_str(), 0700) == 0;
}

bool Seek(std::intptr_t file, std::uint64_t offset) {
  if (offset > static_cast<std::uint64_t>(LLONG_MAX)) return false;
  return ::lseek(static_cast<int>(file), static_cast<off_t>(offset), SEEK_SET) >= 0;
}

std::optional<std::uint64_t> Size(std::intptr_t file) {
  struct stat info {};
  if (::fstat(static_cast<int>(file), &info) != 0) return std::nullopt;
  return static_cast<std::uint64_t>(info.st_size);
}

std::optional<std::uint64_t> LastWriteTime(std::intptr_t file) {
  struct stat info {};
  if (::fstat(static_cast<int>(file), &info) != 0) return std::nullopt;
  std::int64_t ticks = (static_cast<std::int64_t>(info.st_mtim.tv_sec) + EpochDifference) * TicksPerSecond +
                       info.st_mtim.tv_nsec / 100;
  if (ticks < 0) return std::nullopt;
  return static_cast<std::uint64_t>(ticks);
}

// A file this process holds open cannot be renamed over, as on Windows.
bool Rename(std::string_view from, std::string_view to) {
  const std::string source = NativePath(from);
  const std::string target = NativePath(to);
  if (source.empty() || target.empty()) return false;
  const std::lock_guard lock(HeldFilesLock());
  struct stat info {};
  if (::lstat(target.c_str(), &info) == 0 && IsHeld(IdentityOfStat(info))) return false;
  return ::rename(source.c_str(), target.c_str()) == 0;
}

bool Exists(std::string_view path) {
  const auto search = posix::NativeSearchPath(path);
  if (!search) return false;
  if (search->pattern.find_first_of("*?") == std::string::npos) {
    const std::string native = NativePath(path);
    struct stat info {};
    return !native.empty() && ::stat(native.c_str(), &info) == 0;
  }
  DIR* dir = ::opendir(search->directory.c_str());
  if (!dir) return false;
  bool found = false;
  while (const dirent* entry = ::readdir(dir)) {
    if (::fnmatch(search->pattern.c_str(), entry->d_name, FNM_CASEFOLD) == 0) {
      found = true;
      break;
    }
  }
  ::closedir(dir);
  return found;
}

bool SetNormalAttributes(std::string_view path) {
  std::string native = NativePath(path);
  struct stat info {};
  if (::stat(native.c_str(), &info) != 0) return false;
  return ::chmod(native.c_str(), (info.st_mode & 07777) | S_IWUSR) == 0;
}

bool RemoveEmptyDirectory(std::string_view path) { return ::rmdir(NativePath(path).c_str()) == 0; }

std::string CreateTemporaryFile(std::string_view directory, std::string_view prefix) {
  std::string base = NativePath(directory);
  if (!base.empty() && base.back() != '/') base += '/';
  std::string given(directory);
  if (!given.empty() && given.back() != '/' && given.back() != '\\') given += '/';
  // Like the Windows call: prefix, four hex digits, ".tmp"; the first free name wins.
  auto start = static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
               static_cast<unsigned>(::getpid());
  static constexpr char Hex[] = "0123456789ABCDEF";
  for (unsigned attempt = 0; attempt < 0x10000; ++attempt) {
    unsigned unique = ((start + attempt) & 0xFFFF) | 1;
    std::string name(prefix);
    for (int shift = 12; shift >= 0; shift -= 4) name += Hex[(unique >> shift) & 0xF];
    name += ".tmp";
    int fd = ::open((base + name).c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
      ::close(fd);
      return given + name;
    }
    if (errno != EEXIST) return {};
  }
  return {};
}

}  // namespace native

std::optional<FileIdentity> IdentityOf(std::string_view path) {
  const std::string native = NativePath(path);
  struct stat info {};
  if (native.empty() || ::stat(native.c_str(), &info) != 0) return std::nullopt;
  return IdentityOfStat(info);
}

std::optional<FileIdentity> IdentityOf(File& file) {
  struct stat info {};
  if (!file.IsOpen() || ::fstat(Descriptor(file), &info) != 0) return std::nullopt;
  return IdentityOfStat(info);
}

std::string CurrentDirectory() {
  std::string directory(PATH_MAX, '\0');
  if (!::getcwd(directory.data(), directory.size())) return {};
  return text::AnsiFromUtf8(directory.c_str());
}

std::string TemporaryDirectory() {
  const char* tmp = std::getenv("TMPDIR");
  std::string directory = text::AnsiFromUtf8(tmp && *tmp ? tmp : "/tmp");
  if (directory.back() != '/') directory += '/';
  return directory;
}

std::string TextFromSystem(std::string_view systemText) { return text::AnsiFromUtf8(systemText); }
std::string TextToSystem(std::string_view text) { return text::Utf8FromAnsi(text); }

}  // namespace qd::platform
