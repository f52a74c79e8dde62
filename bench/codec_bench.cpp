//===- codec_bench.cpp - Codec throughput against the common baselines -----===//
//
// One run over a deterministic corpus of 24 MiB (text, executable code and
// data, runs, noise) and, where wine's 64-bit DLLs are installed, 40 MB of
// real executables: our implode against zlib's deflate at level 6 on the
// same input, and our explode against libdynamite's decoder on the same
// streams and zlib's inflate on deflate's, with throughput ratios and
// compression ratios. Each figure is the best of a few passes. Every decoded
// result is checked against the input.
//
//===----------------------------------------------------------------------===//
#include <zlib.h>

extern "C" {
#include <libdynamite.h>
}

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "codec/codec.h"
#include "support/corpus.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

//===----------------------------------------------------------------------===//
// Corpus
//===----------------------------------------------------------------------===//

// Real executables: the first 80 files of 200 KB to 3 MB in wine's 64-bit
// DLL folder, by name, concatenated and cut at 40,000,000 bytes. They are
// full of zero pairs, which the synthetic executable section lacks. Empty
// when the folder is absent.
Bytes LoadRealDlls() {
  namespace fs = std::filesystem;
  const fs::path folder = "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows";
  std::error_code error;
  if (!fs::is_directory(folder, error)) return {};
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(folder, error)) {
    if (!entry.is_regular_file(error)) continue;
    const auto size = entry.file_size(error);
    if (!error && size >= 200 * 1024 && size <= 3 * 1024 * 1024) files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  if (files.size() > 80) files.resize(80);
  constexpr std::size_t Size = 40'000'000;
  Bytes bytes;
  bytes.reserve(Size);
  for (const auto& file : files) {
    std::ifstream in(file, std::ios::binary);
    bytes.insert(bytes.end(), std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (bytes.size() >= Size) break;
  }
  if (bytes.size() > Size) bytes.resize(Size);
  return bytes;
}

//===----------------------------------------------------------------------===//
// Codec runs through memory
//===----------------------------------------------------------------------===//

// Output goes to a buffer allocated and touched once, outside the timings:
// on this kind of machine the page faults of fresh memory cost more than
// some decoders' whole work, and they are no codec's work.
struct Output {
  explicit Output(std::size_t capacity) : bytes(capacity, 0) {}
  void Append(const void* data, std::size_t n) {
    if (n > bytes.size() - size) {
      overflow = true;
      return;
    }
    std::memcpy(bytes.data() + size, data, n);
    size += n;
  }
  bool Holds(const Bytes& expected) const {
    return !overflow && size == expected.size() && std::equal(expected.begin(), expected.end(), bytes.begin());
  }
  Bytes bytes;
  std::size_t size = 0;
  bool overflow = false;
};

struct Transfer {
  const std::uint8_t* source;
  std::size_t left;
  Output* destination;
};

std::size_t Take(Transfer& t, void* buffer, std::size_t size) {
  const std::size_t n = std::min(size, t.left);
  std::memcpy(buffer, t.source, n);
  t.source += n;
  t.left -= n;
  return n;
}

std::uint32_t ReadMemory(std::uint8_t* buffer, std::uint32_t* size, void* parameter) {
  return static_cast<std::uint32_t>(Take(*static_cast<Transfer*>(parameter), buffer, *size));
}

void WriteMemory(const std::uint8_t* buffer, std::uint32_t* size, void* parameter) {
  static_cast<Transfer*>(parameter)->destination->Append(buffer, *size);
}

void Implode(const Bytes& input, qd::ImplodeState& state, Output& out) {
  out.size = 0;
  Transfer t{input.data(), input.size(), &out};
  qd::ImplodeStream(ReadMemory, WriteMemory, state, &t, 0, 4096);
}

void Explode(const Output& stream, qd::ExplodeState& state, Output& out) {
  out.size = 0;
  Transfer t{stream.bytes.data(), stream.size, &out};
  if (qd::ExplodeStream(ReadMemory, WriteMemory, state, &t) != qd::ExplodeOk) out.overflow = true;
}

size_t DynamiteRead(void* buffer, size_t size, void* cookie) {
  return Take(*static_cast<Transfer*>(cookie), buffer, size);
}

size_t DynamiteWrite(void* buffer, size_t size, void* cookie) {
  static_cast<Transfer*>(cookie)->destination->Append(buffer, size);
  return size;
}

void DynamiteExplode(const Output& stream, Output& out) {
  out.size = 0;
  Transfer t{stream.bytes.data(), stream.size, &out};
  if (dynamite_explode(DynamiteRead, DynamiteWrite, &t) != DYNAMITE_SUCCESS) out.overflow = true;
}

void Deflate6(const Bytes& input, Output& out) {
  uLongf size = static_cast<uLongf>(out.bytes.size());
  out.overflow = compress2(out.bytes.data(), &size, input.data(), static_cast<uLong>(input.size()), 6) != Z_OK;
  out.size = size;
}

void Inflate(const Output& stream, Output& out) {
  uLongf size = static_cast<uLongf>(out.bytes.size());
  out.overflow = uncompress(out.bytes.data(), &size, stream.bytes.data(), static_cast<uLong>(stream.size)) != Z_OK;
  out.size = size;
}

// Seconds that `run` takes.
double Time(const std::function<void()>& run) {
  const auto start = std::chrono::steady_clock::now();
  run();
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  return took.count();
}

double MBps(std::size_t bytes, double seconds) { return static_cast<double>(bytes) / 1e6 / seconds; }

}  // namespace

int main() {
  struct Part {
    const char* name;
    Bytes bytes;
  };
  std::vector<Part> parts;
  parts.push_back({"text", qd::test::corpus::Text(9u << 20, 1)});
  parts.push_back({"executable", qd::test::corpus::Executable(9u << 20, 2)});
  parts.push_back({"runs", qd::test::corpus::Runs(3u << 20, 3)});
  parts.push_back({"noise", qd::test::corpus::Noise(3u << 20, 4)});
  Bytes corpus;
  for (const Part& part : parts) corpus.insert(corpus.end(), part.bytes.begin(), part.bytes.end());
  parts.push_back({"whole corpus", corpus});
  Bytes dlls = LoadRealDlls();
  if (dlls.empty())
    std::printf("(no real-DLL section: wine's x86_64-windows folder is not installed)\n");
  else
    parts.push_back({"real DLLs", std::move(dlls)});

  std::printf("%-13s %6s | %8s %8s %5s | %6s %6s | %8s %8s %6s %8s %5s\n", "input", "MB",
              "implode", "deflate6", "ratio", "ours %", "zlib %", "explode", "dynamite", "ratio",
              "inflate", "ratio");
  std::printf("%-13s %6s | %8s %8s %5s | %6s %6s | %8s %8s %6s %8s %5s\n", "", "", "MB/s",
              "MB/s", "", "of in", "of in", "MB/s", "MB/s", "", "MB/s", "");
  bool allRestored = true;
  for (const Part& part : parts) {
    const Bytes& input = part.bytes;
    Output ours(input.size() + input.size() / 4 + 4096);
    Output zlib(compressBound(static_cast<uLong>(input.size())));
    Output decoded(input.size());
    Output baseline(input.size());
    Output inflated(input.size());
    const auto encoder = std::make_unique<qd::ImplodeState>();
    const auto decoder = std::make_unique<qd::ExplodeState>();
    // Each figure is the best of its passes; a codec and its baseline take
    // turns, so that a busy machine slows both alike.
    double implodeTime = 1e30;
    double deflateTime = 1e30;
    double explodeTime = 1e30;
    double dynamiteTime = 1e30;
    double inflateTime = 1e30;
    for (int pass = 0; pass < 3; ++pass) {
      implodeTime = std::min(implodeTime, Time([&] { Implode(input, *encoder, ours); }));
      deflateTime = std::min(deflateTime, Time([&] { Deflate6(input, zlib); }));
      explodeTime = std::min(explodeTime, Time([&] { Explode(ours, *decoder, decoded); }));
      inflateTime = std::min(inflateTime, Time([&] { Inflate(zlib, inflated); }));
      if (pass < 2)
        dynamiteTime = std::min(dynamiteTime, Time([&] { DynamiteExplode(ours, baseline); }));
    }
    allRestored = allRestored && !ours.overflow && !zlib.overflow && decoded.Holds(input) &&
                  baseline.Holds(input) && inflated.Holds(input);

    const double size = static_cast<double>(input.size());
    std::printf("%-13s %6.2f | %8.2f %8.2f %5.2f | %6.2f %6.2f | %8.2f %8.2f %6.2f %8.2f %5.2f\n",
                part.name, size / 1e6, MBps(input.size(), implodeTime),
                MBps(input.size(), deflateTime), deflateTime / implodeTime,
                100.0 * static_cast<double>(ours.size) / size,
                100.0 * static_cast<double>(zlib.size) / size, MBps(input.size(), explodeTime),
                MBps(input.size(), dynamiteTime), dynamiteTime / explodeTime,
                MBps(input.size(), inflateTime), inflateTime / explodeTime);
    std::fflush(stdout);
  }
  std::printf("ratio: our throughput / the baseline's; MB/s of uncompressed bytes.\n");
  if (!allRestored) {
    std::printf("FAILED: a decoder did not restore its input\n");
    return 1;
  }
  return 0;
}
