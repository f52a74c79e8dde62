//===- files.cpp - Files and directories, POSIX half ------------------------===//
//
// Only POSIX code here. Files behave as the system expects of the Windows
// calls: a directory cannot be opened as a file, a directory search matches
// wildcards in the last part of a path, and file times are counted in
// 100-nanosecond intervals since 1601.
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

#include "platform/platform.h"
#include "native_path.h"

namespace qd::platform {
namespace {

using posix::NativePath;

// Seconds from 1601-01-01 to 1970-01-01, and file-time ticks per second.
constexpr std::int64_t EpochDifference = 11644473600;
constexpr std::int64_t TicksPerSecond = 10000000;

int Descriptor(const File& file) { return static_cast<int>(file.Native()); }

std::intptr_t OpenNative(std::string_view path, OpenMode mode) {
  int flags = O_RDONLY;
  if (mode == OpenMode::Update) flags = O_RDWR;
  if (mode == OpenMode::Create) flags = O_RDWR | O_CREAT | O_TRUNC;
  int fd = ::open(NativePath(path).c_str(), flags | O_CLOEXEC, 0644);
  if (fd < 0) return File::Invalid;
  struct stat info {};
  if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
    ::close(fd);
    return File::Invalid;
  }
  return fd;
}

std::int64_t ReadNative(std::intptr_t file, std::span<std::uint8_t> buffer) {
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

bool WriteNative(std::intptr_t file, std::span<const std::uint8_t> data) {
  std::size_t done = 0;
  while (done < data.size()) {
    ssize_t n = ::write(static_cast<int>(file), data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool CloseNative(std::intptr_t file) { return ::close(static_cast<int>(file)) == 0; }

bool SetTimesNative(std::intptr_t file, std::uint64_t fileTime) {
  if (fileTime > static_cast<std::uint64_t>(INT64_MAX)) return false;
  auto ticks = static_cast<std::int64_t>(fileTime);
  timespec time{};
  time.tv_sec = static_cast<time_t>(ticks / TicksPerSecond - EpochDifference);
  time.tv_nsec = static_cast<long>((ticks % TicksPerSecond) * 100);
  const timespec times[2] = {time, time};
  return ::futimens(static_cast<int>(file), times) == 0;
}

bool RemoveNative(std::string_view path) { return ::unlink(NativePath(path).c_str()) == 0; }

// Only the owner may enter a directory made here, whatever the access asked:
// that already keeps out everyone but the owner and the superuser.
bool MakeDirectoryNative(std::string_view path, DirectoryAccess) {
  return ::mkdir(NativePath(path).c_str(), 0700) == 0;
}

bool HasWildcard(std::string_view name) { return name.find_first_of("*?") != std::string_view::npos; }

}  // namespace

const FileOperations& NativeFileOperations() {
  static constexpr FileOperations native{OpenNative,     ReadNative,   WriteNative,        CloseNative,
                                         SetTimesNative, RemoveNative, MakeDirectoryNative};
  return native;
}

std::optional<std::uint64_t> FileSize(File& file) {
  struct stat info {};
  if (::fstat(Descriptor(file), &info) != 0) return std::nullopt;
  return static_cast<std::uint64_t>(info.st_size);
}

bool SeekTo(File& file, std::uint64_t offset) {
  if (offset > static_cast<std::uint64_t>(LLONG_MAX)) return false;
  return ::lseek(Descriptor(file), static_cast<off_t>(offset), SEEK_SET) >= 0;
}

std::optional<std::uint64_t> LastWriteTime(File& file) {
  struct stat info {};
  if (::fstat(Descriptor(file), &info) != 0) return std::nullopt;
  std::int64_t ticks = (static_cast<std::int64_t>(info.st_mtim.tv_sec) + EpochDifference) * TicksPerSecond +
                       info.st_mtim.tv_nsec / 100;
  if (ticks < 0) return std::nullopt;
  return static_cast<std::uint64_t>(ticks);
}

bool PathExists(std::string_view path) {
  std::string native = NativePath(path);
  std::size_t slash = native.rfind('/');
  std::string directory = slash == std::string::npos ? "." : native.substr(0, slash + 1);
  std::string name = slash == std::string::npos ? native : native.substr(slash + 1);
  if (!HasWildcard(name)) {
    struct stat info {};
    return !name.empty() && ::stat(native.c_str(), &info) == 0;
  }
  DIR* dir = ::opendir(directory.c_str());
  if (!dir) return false;
  bool found = false;
  while (const dirent* entry = ::readdir(dir)) {
    if (::fnmatch(name.c_str(), entry->d_name, 0) == 0) {
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

std::string CurrentDirectory() {
  std::string directory(PATH_MAX, '\0');
  if (!::getcwd(directory.data(), directory.size())) return {};
  directory.resize(directory.find('\0'));
  return directory;
}

std::string TemporaryDirectory() {
  const char* tmp = std::getenv("TMPDIR");
  std::string directory = tmp && *tmp ? tmp : "/tmp";
  if (directory.back() != '/') directory += '/';
  return directory;
}

std::string CreateTemporaryFile(std::string_view directory, std::string_view prefix) {
  std::string base = NativePath(directory);
  if (!base.empty() && base.back() != '/') base += '/';
  // Like the Windows call: prefix, four hex digits, ".tmp"; the first free name wins.
  auto start = static_cast<unsigned>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
               static_cast<unsigned>(::getpid());
  static constexpr char Hex[] = "0123456789ABCDEF";
  for (unsigned attempt = 0; attempt < 0x10000; ++attempt) {
    unsigned unique = ((start + attempt) & 0xFFFF) | 1;
    std::string name = base + std::string(prefix);
    for (int shift = 12; shift >= 0; shift -= 4) name += Hex[(unique >> shift) & 0xF];
    name += ".tmp";
    int fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
      ::close(fd);
      return name;
    }
    if (errno != EEXIST) return {};
  }
  return {};
}

}  // namespace qd::platform
