//===- codec_bench.cpp - Codec throughput against the common baselines -----===//
//
// One run over a deterministic corpus of 24 MiB (text, executable code and
// data, runs, noise) and, where wine's 64-bit DLLs are installed, 40 MB of
// real executables. Our implode against libdeflate at levels 6 and 1 and
// zlib's deflate at level 6 on the same input; our explode against
// libdeflate's and zlib's decompressors on their own streams and
// libdynamite's decoder on ours; throughput ratios and compression ratios
// side by side. Each figure is the best of a few passes of the thread's
// processor time, a codec and its baselines taking turns. Every decoded
// result is checked against the input, and the stream of the real DLLs
// against the one recorded before the compressor was made faster: the run
// fails loudly on any difference.
//
//===----------------------------------------------------------------------===//
#include <libdeflate.h>
#include <zlib.h>

extern "C" {
#include <libdynamite.h>
}

#include <algorithm>
#include <ctime>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "codec/codec.h"
#include "support/corpus.h"
#include "support/real_dlls.h"
#include "support/sha256.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

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

struct FreeCompressor {
  void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
};
struct FreeDecompressor {
  void operator()(libdeflate_decompressor* d) const { libdeflate_free_decompressor(d); }
};

// libdeflate at one level, raw deflate: no header or checksum to pay for,
// as our streams have none.
struct Libdeflate {
  explicit Libdeflate(int level) : compressor(libdeflate_alloc_compressor(level)) {}
  std::size_t Bound(std::size_t n) const { return libdeflate_deflate_compress_bound(compressor.get(), n); }
  void Compress(const Bytes& input, Output& out) const {
    out.size = libdeflate_deflate_compress(compressor.get(), input.data(), input.size(), out.bytes.data(),
                                           out.bytes.size());
    out.overflow = out.size == 0;
  }
  std::unique_ptr<libdeflate_compressor, FreeCompressor> compressor;
};

void LibdeflateDecompress(libdeflate_decompressor* d, const Output& stream, Output& out) {
  std::size_t size = 0;
  out.overflow = libdeflate_deflate_decompress(d, stream.bytes.data(), stream.size, out.bytes.data(),
                                               out.bytes.size(), &size) != LIBDEFLATE_SUCCESS;
  out.size = size;
}

// Seconds of this thread's processor time that `run` takes: on a shared
// machine, wall time counts the others' work too.
double ThreadSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

double Time(const std::function<void()>& run) {
  const double start = ThreadSeconds();
  run();
  return ThreadSeconds() - start;
}

double MBps(std::size_t bytes, double seconds) { return static_cast<double>(bytes) / 1e6 / seconds; }

// The best time of each run, over a few passes in turn.
struct Timings {
  explicit Timings(std::size_t runs) : best(runs, 1e30) {}
  void Pass(const std::vector<std::function<void()>>& runs) {
    for (std::size_t i = 0; i < runs.size(); ++i) best[i] = std::min(best[i], Time(runs[i]));
  }
  std::vector<double> best;
};

double Percent(std::size_t part, std::size_t whole) {
  return 100.0 * static_cast<double>(part) / static_cast<double>(whole);
}

}  // namespace

int main() {
  struct Part {
    const char* name;
    Bytes bytes;
    const char* streamSha256 = nullptr;  // the recorded stream, when there is one
  };
  std::vector<Part> parts;
  parts.push_back({"text", qd::test::corpus::Text(9u << 20, 1)});
  parts.push_back({"executable", qd::test::corpus::Executable(9u << 20, 2)});
  parts.push_back({"runs", qd::test::corpus::Runs(3u << 20, 3)});
  parts.push_back({"noise", qd::test::corpus::Noise(3u << 20, 4)});
  Bytes corpus;
  for (const Part& part : parts) corpus.insert(corpus.end(), part.bytes.begin(), part.bytes.end());
  parts.push_back({"whole corpus", corpus});
  Bytes dlls = qd::test::LoadRealDlls(qd::test::RealDlls40);
  if (dlls.empty()) {
    std::printf("(no real-DLL section: %s is not installed)\n", qd::test::RealDllFolder);
  } else if (qd::test::Sha256Hex(dlls) != qd::test::RealDlls40.inputSha256) {
    std::printf("(no real-DLL section: the DLLs in %s are not the recorded ones)\n", qd::test::RealDllFolder);
  } else {
    parts.push_back({"real DLLs", std::move(dlls), qd::test::RealDlls40.streamSha256});
  }

  const Libdeflate level6(6);
  const Libdeflate level1(1);
  const std::unique_ptr<libdeflate_decompressor, FreeDecompressor> inflater(libdeflate_alloc_decompressor());
  std::printf("Compression, MB/s of input, and the stream's size in %% of the input\n");
  std::printf("%-13s %6s | %8s %8s %5s %8s %5s %8s %5s | %6s %6s %6s %6s\n", "input", "MB", "implode",
              "ldefl-6", "ratio", "ldefl-1", "ratio", "zlib-6", "ratio", "ours", "ld-6", "ld-1", "zlib-6");
  struct Decoding {
    double explode, libdeflate, dynamite, inflate;
  };
  std::vector<Decoding> decoding;
  bool allRestored = true;
  bool allRecorded = true;
  for (const Part& part : parts) {
    const Bytes& input = part.bytes;
    const std::size_t n = input.size();
    Output ours(n + n / 4 + 4096);
    Output deflated6(level6.Bound(n));
    Output deflated1(level1.Bound(n));
    Output zlib(compressBound(static_cast<uLong>(n)));
    Output decoded(n);
    Output viaDynamite(n);
    Output viaLibdeflate(n);
    Output inflated(n);
    const auto encoder = std::make_unique<qd::ImplodeState>();
    const auto decoder = std::make_unique<qd::ExplodeState>();
    Timings compress(4);
    for (int pass = 0; pass < 3; ++pass)
      compress.Pass({[&] { Implode(input, *encoder, ours); }, [&] { level6.Compress(input, deflated6); },
                     [&] { level1.Compress(input, deflated1); }, [&] { Deflate6(input, zlib); }});
    Timings decompress(4);
    for (int pass = 0; pass < 3; ++pass)
      decompress.Pass({[&] { Explode(ours, *decoder, decoded); },
                       [&] { LibdeflateDecompress(inflater.get(), deflated6, viaLibdeflate); },
                       [&] { DynamiteExplode(ours, viaDynamite); }, [&] { Inflate(zlib, inflated); }});
    allRestored = allRestored && !ours.overflow && !zlib.overflow && !deflated6.overflow &&
                  !deflated1.overflow && decoded.Holds(input) && viaDynamite.Holds(input) &&
                  viaLibdeflate.Holds(input) && inflated.Holds(input);
    if (part.streamSha256 &&
        qd::test::Sha256Hex(std::span(ours.bytes.data(), ours.size)) != part.streamSha256) {
      std::printf("FAILED: the stream of %s is not the recorded one\n", part.name);
      allRecorded = false;
    }

    const auto& t = compress.best;
    std::printf("%-13s %6.2f | %8.2f %8.2f %5.2f %8.2f %5.2f %8.2f %5.2f | %6.2f %6.2f %6.2f %6.2f\n",
                part.name, static_cast<double>(n) / 1e6, MBps(n, t[0]), MBps(n, t[1]), t[1] / t[0],
                MBps(n, t[2]), t[2] / t[0], MBps(n, t[3]), t[3] / t[0], Percent(ours.size, n),
                Percent(deflated6.size, n), Percent(deflated1.size, n), Percent(zlib.size, n));
    std::fflush(stdout);
    const auto& d = decompress.best;
    decoding.push_back({d[0], d[1], d[2], d[3]});
  }

  std::printf("\nDecompression, MB/s of output: explode of our stream, libdeflate and zlib of\n"
              "their level-6 streams, libdynamite of ours\n");
  std::printf("%-13s %6s | %8s %8s %5s %8s %5s %8s %5s\n", "input", "MB", "explode", "libdefl", "ratio",
              "dynamite", "ratio", "inflate", "ratio");
  for (std::size_t i = 0; i < parts.size(); ++i) {
    const std::size_t n = parts[i].bytes.size();
    const Decoding& d = decoding[i];
    std::printf("%-13s %6.2f | %8.2f %8.2f %5.2f %8.2f %5.2f %8.2f %5.2f\n", parts[i].name,
                static_cast<double>(n) / 1e6, MBps(n, d.explode), MBps(n, d.libdeflate),
                d.libdeflate / d.explode, MBps(n, d.dynamite), d.dynamite / d.explode, MBps(n, d.inflate),
                d.inflate / d.explode);
  }
  std::printf("ratio: our throughput / the baseline's.\n");
  if (!allRestored) {
    std::printf("FAILED: a decoder did not restore its input\n");
    return 1;
  }
  return allRecorded ? 0 : 1;
}
