//===- halves.h - What the portable part and the two halves give each other -===//
//
// Each half (posix/, win32/) implements the native operations; the portable
// part puts them in the one table that every call of the builder and the
// installer goes through, and gives both halves ordered work on the calling
// thread.
//
//===----------------------------------------------------------------------===//
#pragma once

#include "platform/platform.h"

namespace qd::platform {

// This platform's own operations, as Operations lists them.
namespace native {
std::intptr_t Open(std::string_view path, OpenMode mode);
[[nodiscard]] std::int64_t Read(std::intptr_t file, std::span<std::uint8_t> buffer);
[[nodiscard]] std::int64_t ReadAt(std::intptr_t file, std::uint64_t offset, std::span<std::uint8_t> buffer);
[[nodiscard]] bool Write(std::intptr_t file, std::span<const std::uint8_t> data);
[[nodiscard]] bool Close(std::intptr_t file);
[[nodiscard]] bool Seek(std::intptr_t file, std::uint64_t offset);
[[nodiscard]] std::optional<std::uint64_t> Size(std::intptr_t file);
[[nodiscard]] std::optional<std::uint64_t> LastWriteTime(std::intptr_t file);
[[nodiscard]] bool SetTimes(std::intptr_t file, std::uint64_t fileTime);
[[nodiscard]] bool Remove(std::string_view path);
[[nodiscard]] bool Rename(std::string_view from, std::string_view to);
[[nodiscard]] bool Exists(std::string_view path);
[[nodiscard]] bool SetNormalAttributes(std::string_view path);
std::string CreateTemporaryFile(std::string_view directory, std::string_view prefix);
[[nodiscard]] bool MakeDirectory(std::string_view path, DirectoryAccess access);
[[nodiscard]] bool RemoveEmptyDirectory(std::string_view path);
[[nodiscard]] std::optional<WorkDirectory> MakeWorkDirectory(DirectoryAccess access);
[[nodiscard]] bool RemoveWorkDirectory(WorkDirectory& directory);
std::vector<std::string> ReadProfile(std::string_view section, std::span<const std::string> keys,
                                     std::string_view fallback, std::string_view path);
[[nodiscard]] bool WriteProfile(std::string_view section, std::string_view key, std::optional<std::string_view> value,
                                std::string_view path);
[[nodiscard]] std::optional<std::uint32_t> RunProgram(const ProgramCommand& command,
                                                     const std::function<void()>& whileWaiting);
// Lets go of a work directory's handles (they are closed, the directory stays).
void CloseDirectoryHandle(std::intptr_t handle);
}  // namespace native

// RunOrdered without other threads: each item prepared and produced (by
// worker 0), then consumed.
void RunOrderedHere(std::size_t count, const std::function<void(std::size_t, std::size_t)>& produce,
                    const std::function<bool(std::size_t)>& consume, const std::function<void(std::size_t)>& prepare);

}  // namespace qd::platform
