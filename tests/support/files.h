//===- files.h - Scratch files for tests ------------------------------------===//
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace qd::test {

std::vector<std::uint8_t> ReadAll(const std::filesystem::path& path);
std::string ReadText(const std::filesystem::path& path);
void WriteAll(const std::filesystem::path& path, const std::vector<std::uint8_t>& data);
void WriteText(const std::filesystem::path& path, std::string_view text);

// The bytes of a UTF-16 file holding `text`, byte-order mark first.
std::string Utf16(std::u16string_view text, bool bigEndian = false);

// A fresh directory under the system's temporary directory, removed with its
// contents when the object goes.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(std::string_view name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

}  // namespace qd::test
