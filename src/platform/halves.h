//===- halves.h - What the portable part and the two halves give each other -===//
//
// Each half (posix/, win32/) implements the native file operations; the
// portable part puts them in the one table that every file operation goes
// through, and gives both halves ordered work on the calling thread.
//
//===----------------------------------------------------------------------===//
#pragma once

#include "platform/platform.h"

namespace qd::platform {

// This platform's own file operations, as FileOperations lists them.
namespace native {
std::intptr_t Open(std::string_view path, OpenMode mode);
std::int64_t Read(std::intptr_t file, std::span<std::uint8_t> buffer);
bool Write(std::intptr_t file, std::span<const std::uint8_t> data);
bool Close(std::intptr_t file);
bool SetTimes(std::intptr_t file, std::uint64_t fileTime);
bool Remove(std::string_view path);
bool MakeDirectory(std::string_view path, DirectoryAccess access);
}  // namespace native

// RunOrdered without other threads: each item produced, then consumed.
void RunOrderedHere(std::size_t count, const std::function<void(std::size_t)>& produce,
                    const std::function<bool(std::size_t)>& consume);

}  // namespace qd::platform
