//===- file_faults.cpp - Platform calls that fail on cue ----------------------===//
#include "support/file_faults.h"

#include <map>
#include <mutex>

#include "platform/platform.h"

namespace qd::test {
namespace {

using platform::NativeOperations;

// The one fault in force, and what the double has seen. Tests run their
// faults one at a time; the builder's threads call in at once, hence the lock.
struct Plan {
  FileFault fault;
  int counted = 0;
  std::optional<std::string> struck;  // the call that failed
  struct OpenFile {
    std::string path;
    bool written = false;  // opened to be written
  };
  std::map<std::intptr_t, OpenFile> files;
};
std::optional<Plan> plan;
std::mutex planLock;

// True when this call is the one that fails.
bool Strikes(FileCall call, const std::string& path) {
  const std::lock_guard lock(planLock);
  if (!plan || plan->struck || (plan->fault.call && call != *plan->fault.call)) return false;
  if (path.find(plan->fault.path) == std::string::npos) return false;
  if (++plan->counted != plan->fault.nth) return false;
  plan->struck = NameOf(call) + " " + path;
  return true;
}

std::string PathOf(std::intptr_t file) {
  const std::lock_guard lock(planLock);
  if (!plan) return {};
  const auto found = plan->files.find(file);
  return found == plan->files.end() ? std::string() : found->second.path;
}

std::intptr_t Open(std::string_view path, platform::OpenMode mode) {
  if (Strikes(FileCall::Open, std::string(path))) return platform::File::Invalid;
  const std::intptr_t file = NativeOperations().open(path, mode);
  const std::lock_guard lock(planLock);
  if (plan && file != platform::File::Invalid)
    plan->files[file] = {std::string(path), mode != platform::OpenMode::Read};
  return file;
}

// A read that is struck fails (false), or keeps to the fault's short count.
[[nodiscard]] bool ReadAllowed(std::intptr_t file, std::span<std::uint8_t>& buffer) {
  if (!Strikes(FileCall::Read, PathOf(file))) return true;
  const std::lock_guard lock(planLock);
  if (!plan->fault.shortRead) return false;
  buffer = buffer.first(std::min(buffer.size(), *plan->fault.shortRead));
  return true;
}

std::int64_t Read(std::intptr_t file, std::span<std::uint8_t> buffer) {
  return ReadAllowed(file, buffer) ? NativeOperations().read(file, buffer) : -1;
}

std::int64_t ReadAt(std::intptr_t file, std::uint64_t offset, std::span<std::uint8_t> buffer) {
  return ReadAllowed(file, buffer) ? NativeOperations().readAt(file, offset, buffer) : -1;
}

bool Write(std::intptr_t file, std::span<const std::uint8_t> data) {
  if (Strikes(FileCall::Write, PathOf(file))) return false;
  return NativeOperations().write(file, data);
}

// A file opened to be written closes as "close written", so that a test can
// tell it from a file that was only read.
bool Close(std::intptr_t file) {
  std::string name;
  {
    const std::lock_guard lock(planLock);
    if (const auto closed = plan ? plan->files.extract(file) : decltype(Plan::files)::node_type())
      name = (closed.mapped().written ? "written " : "") + closed.mapped().path;
  }
  const bool fails = Strikes(FileCall::Close, name);
  // A failed close still gives the handle back, as the platform's does.
  return NativeOperations().close(file) && !fails;
}

std::optional<platform::WorkDirectory> MakeWorkDirectory(platform::DirectoryAccess access) {
  if (Strikes(FileCall::MakeWorkDirectory, "")) return std::nullopt;
  auto made = NativeOperations().makeWorkDirectory(access);
  std::function<void(const std::string&)> after;
  {
    const std::lock_guard lock(planLock);
    if (plan) after = plan->fault.afterWorkDirectory;
  }
  if (made && after) after(made->Shown());
  return made;
}

// Every other call fails when struck, or goes to the platform; a profile
// value and whether a path exists cannot report a failure, and go straight there.
using Size = std::optional<std::uint64_t>;
const auto& Native = NativeOperations;
constexpr platform::Operations Double{
    .open = Open, .read = Read, .readAt = ReadAt, .write = Write, .close = Close,
    .seek = [](std::intptr_t f, std::uint64_t at) {
      return !Strikes(FileCall::Seek, PathOf(f)) && Native().seek(f, at);
    },
    .size = [](std::intptr_t f) { return Strikes(FileCall::Size, PathOf(f)) ? Size() : Native().size(f); },
    .lastWriteTime = [](std::intptr_t f) {
      return Strikes(FileCall::LastWriteTime, PathOf(f)) ? Size() : Native().lastWriteTime(f);
    },
    .setTimes = [](std::intptr_t f, std::uint64_t t) {
      return !Strikes(FileCall::SetTimes, PathOf(f)) && Native().setTimes(f, t);
    },
    .remove = [](std::string_view p) { return !Strikes(FileCall::Remove, std::string(p)) && Native().remove(p); },
    .rename = [](std::string_view from, std::string_view to) {
      return !Strikes(FileCall::Rename, std::string(to)) && Native().rename(from, to);
    },
    .exists = [](std::string_view p) { return Native().exists(p); },
    .setNormalAttributes = [](std::string_view p) {
      return !Strikes(FileCall::SetNormalAttributes, std::string(p)) && Native().setNormalAttributes(p);
    },
    .createTemporaryFile = [](std::string_view directory, std::string_view prefix) {
      return Strikes(FileCall::CreateTemporaryFile, std::string(directory))
                 ? std::string()
                 : Native().createTemporaryFile(directory, prefix);
    },
    .makeDirectory = [](std::string_view p, platform::DirectoryAccess access) {
      return !Strikes(FileCall::MakeDirectory, std::string(p)) && Native().makeDirectory(p, access);
    },
    .removeDirectory = [](std::string_view p) {
      return !Strikes(FileCall::RemoveDirectory, std::string(p)) && Native().removeDirectory(p);
    },
    .makeWorkDirectory = MakeWorkDirectory,
    .removeWorkDirectory = [](platform::WorkDirectory& directory) {
      return !Strikes(FileCall::RemoveWorkDirectory, directory.Shown()) && Native().removeWorkDirectory(directory);
    },
    .readProfile = [](std::string_view section, std::span<const std::string> keys, std::string_view fallback,
                      std::string_view p) { return Native().readProfile(section, keys, fallback, p); },
    .writeProfile = [](std::string_view section, std::string_view key, std::optional<std::string_view> value,
                       std::string_view p) {
      return !Strikes(FileCall::WriteProfile, std::string(p)) && Native().writeProfile(section, key, value, p);
    },
    .runProgram = [](const platform::ProgramCommand& command, const std::function<void()>& whileWaiting) {
      return Strikes(FileCall::RunProgram, command.program) ? std::optional<std::uint32_t>()
                                                            : Native().runProgram(command, whileWaiting);
    },
};

}  // namespace

std::string NameOf(FileCall call) {
  static constexpr const char* Names[] = {
      "open",   "read",   "write",         "close",     "seek",       "size",           "last-write time",
      "set times", "remove", "rename",     "set attributes", "temporary file", "make directory",
      "remove directory", "make work directory", "remove work directory", "write profile", "run program",
  };
  return Names[static_cast<std::size_t>(call)];
}

FileFaultScope::FileFaultScope(FileFault fault) {
  {
    const std::lock_guard lock(planLock);
    plan.emplace();
    plan->fault = std::move(fault);
  }
  platform::UseOperations(&Double);
}

FileFaultScope::~FileFaultScope() {
  platform::UseOperations(nullptr);
  const std::lock_guard lock(planLock);
  plan.reset();
}

bool FileFaultScope::Struck() const {
  const std::lock_guard lock(planLock);
  return plan && plan->struck;
}

std::string FileFaultScope::StruckCall() const {
  const std::lock_guard lock(planLock);
  return plan && plan->struck ? *plan->struck : std::string();
}

int FileFaultScope::Counted() const {
  const std::lock_guard lock(planLock);
  return plan ? plan->counted : 0;
}

}  // namespace qd::test
