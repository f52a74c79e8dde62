//===- file_faults.cpp - File operations that fail on cue ----------------------===//
#include "support/file_faults.h"

#include <map>
#include <mutex>

#include "platform/platform.h"

namespace qd::test {
namespace {

using platform::NativeFileOperations;

// The one fault in force, and what the double has seen. Tests run their
// faults one at a time; the builder's threads call in at once, hence the lock.
struct Plan {
  FileFault fault;
  int counted = 0;
  bool struck = false;
  std::map<std::intptr_t, std::string> paths;  // open files and their paths
};
std::optional<Plan> plan;
std::mutex planLock;

// True when this call is the one that fails.
bool Strikes(FileCall call, const std::string& path) {
  const std::lock_guard lock(planLock);
  if (!plan || plan->struck || call != plan->fault.call) return false;
  if (path.find(plan->fault.path) == std::string::npos) return false;
  if (++plan->counted != plan->fault.nth) return false;
  plan->struck = true;
  return true;
}

std::string PathOf(std::intptr_t file) {
  const std::lock_guard lock(planLock);
  if (!plan) return {};
  const auto found = plan->paths.find(file);
  return found == plan->paths.end() ? std::string() : found->second;
}

std::intptr_t Open(std::string_view path, platform::OpenMode mode) {
  if (Strikes(FileCall::Open, std::string(path))) return platform::File::Invalid;
  const std::intptr_t file = NativeFileOperations().open(path, mode);
  const std::lock_guard lock(planLock);
  if (plan && file != platform::File::Invalid) plan->paths[file] = std::string(path);
  return file;
}

std::int64_t Read(std::intptr_t file, std::span<std::uint8_t> buffer) {
  if (Strikes(FileCall::Read, PathOf(file))) {
    if (!plan->fault.shortRead) return -1;
    buffer = buffer.first(std::min(buffer.size(), *plan->fault.shortRead));
  }
  return NativeFileOperations().read(file, buffer);
}

bool Write(std::intptr_t file, std::span<const std::uint8_t> data) {
  if (Strikes(FileCall::Write, PathOf(file))) return false;
  return NativeFileOperations().write(file, data);
}

bool Close(std::intptr_t file) {
  const bool fails = Strikes(FileCall::Close, PathOf(file));
  {
    const std::lock_guard lock(planLock);
    if (plan) plan->paths.erase(file);
  }
  // A failed close still gives the handle back, as the platform's does.
  return NativeFileOperations().close(file) && !fails;
}

bool SetTimes(std::intptr_t file, std::uint64_t fileTime) {
  if (Strikes(FileCall::SetTimes, PathOf(file))) return false;
  return NativeFileOperations().setTimes(file, fileTime);
}

bool Remove(std::string_view path) {
  if (Strikes(FileCall::Remove, std::string(path))) return false;
  return NativeFileOperations().remove(path);
}

bool MakeDirectory(std::string_view path, platform::DirectoryAccess access) {
  if (Strikes(FileCall::MakeDirectory, std::string(path))) return false;
  return NativeFileOperations().makeDirectory(path, access);
}

constexpr platform::FileOperations Double{Open, Read, Write, Close, SetTimes, Remove, MakeDirectory};

}  // namespace

FileFaultScope::FileFaultScope(FileFault fault) {
  plan.emplace();
  plan->fault = std::move(fault);
  platform::UseFileOperations(&Double);
}

FileFaultScope::~FileFaultScope() {
  platform::UseFileOperations(nullptr);
  plan.reset();
}

bool FileFaultScope::Struck() const {
  const std::lock_guard lock(planLock);
  return plan && plan->struck;
}

}  // namespace qd::test
