//===- install_bench.cpp - How much memory an installer run takes -----------===//
//
// Composes packages of about 10, 100 and 400 MB (one payload of noise, which
// hardly compresses, so the package is as large as what it unpacks), and one
// small package that unpacks to 1 GB of zeros; runs the native installer on
// each ("exec -a package qdpack /h", as root) and reports the peak resident
// memory of the run beside the package size, the unpacked size, and the
// output buffer that unpacking each item into memory would need (100 times
// the package size, as 32-bit arithmetic would compute it).
//
//   install_bench [qdpack] [stub.exe] [versioned.dll]
//
//===----------------------------------------------------------------------===//
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "codec/codec.h"
#include "support/random.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
constexpr std::string_view Marker = "<iiiiiiiiiii>";

// A payload of `left` bytes made on the fly (zeros or noise), compressed
// straight into the package file.
struct Stream {
  std::uint64_t left;
  bool zeros;
  qd::test::Random random;
  std::ofstream& out;
};

std::uint32_t ReadPayload(std::uint8_t* buffer, std::uint32_t* size, void* parameter) {
  auto& stream = *static_cast<Stream*>(parameter);
  const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(*size, stream.left));
  for (std::uint32_t i = 0; i < n; ++i) buffer[i] = stream.zeros ? 0 : static_cast<std::uint8_t>(stream.random.Next());
  stream.left -= n;
  return n;
}

void WritePackage(const std::uint8_t* buffer, std::uint32_t* size, void* parameter) {
  static_cast<Stream*>(parameter)->out.write(reinterpret_cast<const char*>(buffer), *size);
}

void AppendItem(std::ofstream& out, std::uint64_t size, bool zeros) {
  Stream stream{size, zeros, {size}, out};
  auto state = std::make_unique<qd::ImplodeState>();
  qd::ImplodeStream(ReadPayload, WritePackage, *state, &stream, 0, 4096);
  out.write(Marker.data(), static_cast<std::streamsize>(Marker.size()));
  const std::uint64_t time = 132223104000000000u;
  out.write(reinterpret_cast<const char*>(&time), 8);
}

void AppendBytes(std::ofstream& out, const std::vector<std::uint8_t>& bytes) {
  auto stream = std::vector<std::uint8_t>(bytes.size() + bytes.size() / 5 + 16);
  const auto n = qd::CompressToMemory(stream.data(), static_cast<std::uint32_t>(stream.size()), bytes.data(),
                                      static_cast<std::uint32_t>(bytes.size()));
  out.write(reinterpret_cast<const char*>(stream.data()), n);
  out.write(Marker.data(), static_cast<std::streamsize>(Marker.size()));
  const std::uint64_t time = 132223104000000000u;
  out.write(reinterpret_cast<const char*>(&time), 8);
}

std::vector<std::uint8_t> ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// Brings the image checksum of the package at `path` up to date.
void Seal(const fs::path& path) {
  std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
  std::uint32_t header = 0;
  file.seekg(60);
  file.read(reinterpret_cast<char*>(&header), 4);
  const std::uint64_t field = header + 88;
  const std::uint32_t zero = 0;
  file.seekp(static_cast<std::streamoff>(field));
  file.write(reinterpret_cast<const char*>(&zero), 4);
  file.seekg(0);
  std::uint64_t sum = 0, length = 0;
  std::vector<char> chunk(1 << 20);
  while (file.read(chunk.data(), static_cast<std::streamsize>(chunk.size())) || file.gcount() > 0) {
    const auto n = static_cast<std::size_t>(file.gcount());
    for (std::size_t i = 0; i < n; i += 2) {
      sum += static_cast<std::uint8_t>(chunk[i]);
      if (i + 1 < n) sum += std::uint64_t{static_cast<std::uint8_t>(chunk[i + 1])} << 8;
      sum = (sum & 0xFFFF) + (sum >> 16);
    }
    length += n;
  }
  file.clear();
  const auto checksum = static_cast<std::uint32_t>(((sum & 0xFFFF) + (sum >> 16)) + length);
  file.seekp(static_cast<std::streamoff>(field));
  file.write(reinterpret_cast<const char*>(&checksum), 4);
}

fs::path Compose(const fs::path& dir, const fs::path& stub, const fs::path& dll, std::uint64_t payload, bool zeros) {
  const fs::path package = dir / "Update.exe";
  std::ofstream out(package, std::ios::binary | std::ios::trunc);
  const auto stubBytes = ReadFile(stub);
  out.write(reinterpret_cast<const char*>(stubBytes.data()), static_cast<std::streamsize>(stubBytes.size()));
  out.write(Marker.data(), static_cast<std::streamsize>(Marker.size()));
  const std::string script =
      "[Out]\r\nOutputName=x%s.exe\r\n[Files]\r\nFile01=engine.dll,x\r\nFile02=setup,x\r\nFile03=payload.bin,x\r\n"
      "[CMD]\r\nFileName=setup\r\n";
  const std::string setup = "#!/bin/sh\nexit 0\n";
  AppendBytes(out, {script.begin(), script.end()});
  AppendBytes(out, ReadFile(dll));
  AppendBytes(out, {setup.begin(), setup.end()});
  AppendItem(out, payload, zeros);
  const auto length = static_cast<std::uint64_t>(out.tellp());
  const std::vector<char> tail((4 - length % 4) % 4 + 4, 0);
  out.write(tail.data(), static_cast<std::streamsize>(tail.size()));
  out.close();
  Seal(package);
  return package;
}

// The installer's peak resident memory in KiB, or -1 when it failed.
long PeakMemory(const std::string& qdpack, const fs::path& package, const fs::path& tmp) {
  std::string argv0 = package.string(), silent = "/h";
  char* argv[] = {argv0.data(), silent.data(), nullptr};
  std::vector<std::string> environment{"TMPDIR=" + tmp.string()};
  for (char** e = environ; *e; ++e) environment.emplace_back(*e);
  std::vector<char*> envp;
  for (auto& e : environment) envp.push_back(e.data());
  envp.push_back(nullptr);
  pid_t child = 0;
  if (posix_spawn(&child, qdpack.c_str(), nullptr, nullptr, argv, envp.data()) != 0) return -1;
  int status = 0;
  rusage usage{};
  if (wait4(child, &status, 0, &usage) < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
  return usage.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string qdpack = argc > 1 ? argv[1] : QDPACK_NATIVE_EXE;
  const fs::path stub = argc > 2 ? argv[2] : fs::path(QDPACK_WIN32_DIR) / "src/QdPack.exe";
  const fs::path dll = argc > 3 ? argv[3] : fs::path(QDPACK_WIN32_DIR) / "examples/engine.dll";
  if (geteuid() != 0) {
    std::fprintf(stderr, "install_bench: installing needs root\n");
    return 2;
  }
  const fs::path dir = fs::temp_directory_path() / "qd-install-bench";
  fs::remove_all(dir);
  fs::create_directories(dir / "tmp");

  struct Case {
    const char* name;
    std::uint64_t payload;
    bool zeros;
  } cases[] = {{"10 MB of noise", 10u << 20, false},
               {"100 MB of noise", 100u << 20, false},
               {"400 MB of noise", 400u << 20, false},
               {"1 GB of zeros", 1u << 30, true}};
  std::printf("%-16s %12s %12s %14s %12s %14s\n", "payload", "package MB", "unpacked MB", "peak RSS MB",
              "limit MB", "100 x L MB");
  for (const Case& c : cases) {
    const fs::path package = Compose(dir, stub, dll, c.payload, c.zeros);
    const double packageMb = static_cast<double>(fs::file_size(package)) / (1 << 20);
    const long peak = PeakMemory(qdpack, package, dir / "tmp");
    // 100 times the read length, in the 32 bits the unpacking would compute it.
    const auto readLength = static_cast<std::uint32_t>(fs::file_size(package) - 4);
    const double hundred = static_cast<double>(static_cast<std::uint32_t>(readLength * 100u)) / (1 << 20);
    std::printf("%-16s %12.1f %12.1f %14.1f %12.1f %14.1f%s\n", c.name, packageMb,
                static_cast<double>(c.payload) / (1 << 20), peak < 0 ? -1.0 : static_cast<double>(peak) / 1024,
                packageMb + 16, hundred, readLength > 42949676u ? " (wrapped)" : "");
    fs::remove(package);
  }
  fs::remove_all(dir);
  return 0;
}
