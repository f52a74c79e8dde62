//===- real_dlls.h - Corpora of real executables, and their recorded streams -===//
//
// Real Windows DLLs are what packages carry: full of zero runs, tables and
// code, unlike any made-up data. Where wine's 64-bit DLLs are installed,
// two corpora are cut from them, each with the SHA-256 of its bytes and of
// the stream that the compressor writes for it (binary literals, 4096-byte
// dictionary), as recorded before the compressor was ever made faster. A
// stream that differs from its record is a stream that differs from those
// in the field.
//
// Used by the codec's tests and by the benchmarks.
//
//===----------------------------------------------------------------------===//
#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace qd::test {

inline constexpr const char* RealDllFolder = "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows";

struct RealDllCorpus {
  const char* name;
  std::uintmax_t smallestFile;  // files of this size and up
  std::uintmax_t largestFile;   // and of this size and down
  std::size_t mostFiles;        // the first of them by name
  std::size_t size;             // their concatenation, cut here
  const char* inputSha256;      // of the bytes
  const char* streamSha256;     // of their stream
};

// The codec benchmark's corpus: 80 files of 200 KB to 3 MB.
inline constexpr RealDllCorpus RealDlls40{
    "40 MB of real DLLs", 200 * 1024, 3 * 1024 * 1024, 80, 40'000'000,
    "1d8f7fa843b1694002b22aabe3ae5e95602ead6f3b4b8e33f60d40b76f5d686f",
    "af26df347d669a6d2f1d8d2c8b4299969c7ce64804969383514e6decd94ebede"};
// One large file: every DLL of the folder.
inline constexpr RealDllCorpus RealDlls160{
    "160 MB of real DLLs", 0, UINTMAX_MAX, SIZE_MAX, 160'000'000,
    "e499c830672b2f83910623e1773d8f58babab5ad52f22361eed129ac4a5eedf5",
    "b9b1eab89c82aa1232d166a38617b49f474ea50d544c3d6a9f44f9e87dbd1518"};

// The corpus's bytes; empty when the folder is not installed.
inline std::vector<std::uint8_t> LoadRealDlls(const RealDllCorpus& corpus) {
  namespace fs = std::filesystem;
  std::error_code error;
  if (!fs::is_directory(RealDllFolder, error)) return {};
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(RealDllFolder, error)) {
    if (!entry.is_regular_file(error)) continue;
    const auto size = entry.file_size(error);
    if (!error && size >= corpus.smallestFile && size <= corpus.largestFile) files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  if (files.size() > corpus.mostFiles) files.resize(corpus.mostFiles);
  std::vector<std::uint8_t> bytes;
  bytes.reserve(corpus.size);
  for (const auto& file : files) {
    const std::size_t at = bytes.size();
    const auto size = static_cast<std::size_t>(fs::file_size(file, error));
    if (error) return {};
    bytes.resize(at + size);
    std::ifstream in(file, std::ios::binary);
    if (!in.read(reinterpret_cast<char*>(bytes.data() + at), static_cast<std::streamsize>(size))) return {};
    if (bytes.size() >= corpus.size) break;
  }
  if (bytes.size() > corpus.size) bytes.resize(corpus.size);
  return bytes;
}

}  // namespace qd::test
