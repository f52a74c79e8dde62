//===- install_bench.cpp - An installer run against the copy floor, and its memory ===//
//
// Speed: builds two packages with the native builder, one of 97 real Windows
// DLLs of about 93 MB (from wine's folder of them) and one of 97 made-up
// files of the same size (code-like, text, zero-heavy and noise in turn),
// and installs each ("exec -a package qdpack /h", as root) in turn with the
// copy floor: reading the package once and copying the files it holds
// ("cat package > /dev/null; cp -r files copy"). Each is run several times,
// alternately, so that both see the same machine; reports the medians of
// wall and processor time (user and system, the processes each started
// included), the median of the pairs' ratios, and the installer's peak
// resident memory. The install's time includes removing what it unpacked,
// as every successful run does; the copy is removed outside the time.
//
// Memory: composes packages of about 10, 100 and 400 MB (one payload of
// noise, which hardly compresses, so the package is as large as what it
// unpacks), and one small package that unpacks to 1 GB of zeros; reports the
// peak resident memory of installing each beside the package size, the
// unpacked size, and the output buffer that unpacking each item into memory
// would need (100 times the package size, as 32-bit arithmetic computes it).
//
//   install_bench [qdpack] [stub.exe] [versioned.dll] [rounds]
//
//===----------------------------------------------------------------------===//
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "bench_support.h"
#include "codec/codec.h"
#include "package/layout.h"
#include "pe/pe_image.h"
#include "support/corpus.h"
#include "support/random.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using qd::bench::Median;
using qd::bench::Seconds;
constexpr std::size_t PackageFiles = 97;

std::vector<std::uint8_t> ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

void WriteFile(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::string Quoted(const fs::path& path) { return "'" + path.string() + "'"; }

//===----------------------------------------------------------------------===//
// Running a process
//===----------------------------------------------------------------------===//

struct Usage {
  bool ok = false;       // started, and ended with exit code 0
  double wall = 0;       // seconds from the start to the end
  double processor = 0;  // user and system seconds, its waited-for children's included
  long peakKib = 0;      // the largest resident memory of it and its children
};

// A process started from this one begins with this one's peak resident
// memory, which would hide the peak of a program smaller than this
// benchmark. So a program is run by a small process of its own: this
// benchmark started anew with this switch, which forks the program, waits
// for it and prints its usage.
constexpr std::string_view MeasureSwitch = "--measure";

// The measuring process: runs the program argv[0] with the arguments from
// argv[1] on (its own name first), and prints "ok wall processor peak".
int Measure(char** argv) {
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = fork();
  if (child < 0) return 1;
  if (child == 0) {
    execv(argv[0], argv + 1);
    _exit(127);
  }
  int status = 0;
  rusage resources{};
  if (wait4(child, &status, 0, &resources) < 0) return 1;
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%d %.6f %.6f %ld\n", WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 1 : 0, wall,
              Seconds(resources.ru_utime) + Seconds(resources.ru_stime), resources.ru_maxrss);
  return 0;
}

// Runs `program` with `args` (argv[0] first) and `tmp` as TMPDIR, through
// the measuring process.
Usage Run(const std::string& program, const std::vector<std::string>& args, const fs::path& tmp) {
  std::vector<std::string> words{"install_bench", std::string(MeasureSwitch), program};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  std::vector<std::string> environment{"TMPDIR=" + tmp.string()};
  for (char** e = environ; *e; ++e)
    if (std::string_view(*e).substr(0, 7) != "TMPDIR=") environment.emplace_back(*e);
  std::vector<char*> envp;
  for (auto& e : environment) envp.push_back(e.data());
  envp.push_back(nullptr);

  Usage usage;
  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) return usage;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, report[1], STDOUT_FILENO);
  pid_t measurer = 0;
  const bool started =
      posix_spawn(&measurer, "/proc/self/exe", &actions, nullptr, argv.data(), envp.data()) == 0;
  posix_spawn_file_actions_destroy(&actions);
  close(report[1]);
  std::string line;
  char buffer[256];
  for (ssize_t n; started && (n = read(report[0], buffer, sizeof buffer)) > 0;)
    line.append(buffer, static_cast<std::size_t>(n));
  close(report[0]);
  int status = 0;
  if (!started || waitpid(measurer, &status, 0) < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return usage;
  int ok = 0;
  if (std::sscanf(line.c_str(), "%d %lf %lf %ld", &ok, &usage.wall, &usage.processor, &usage.peakKib) != 4)
    return usage;
  usage.ok = ok == 1;
  return usage;
}

// The native installer over `package`, silently: its own file is the package.
Usage Install(const std::string& qdpack, const fs::path& package, const fs::path& tmp) {
  return Run(qdpack, {package.string(), "/h"}, tmp);
}

//===----------------------------------------------------------------------===//
// Speed: packages built by the native builder, against the copy floor
//===----------------------------------------------------------------------===//

// Real DLLs from wine's folder: of 200 KB to 3 MB, sorted by name, the first
// PackageFiles, with the first that carries a version resource moved to the
// front (a package is named after its first file's version). Empty when
// there are not enough.
std::vector<fs::path> RealDlls() {
  std::vector<fs::path> all = qd::bench::RealDllFiles(200000, 3000000);
  std::erase_if(all, [](const fs::path& file) { return file.extension() != ".dll"; });
  if (all.size() < PackageFiles) return {};
  all.resize(PackageFiles);
  const auto versioned = std::find_if(all.begin(), all.end(), [](const fs::path& dll) {
    const auto version = qd::pe::FindVersionResource(ReadFile(dll));
    return version && version->hasFixedInfo;
  });
  if (versioned == all.end()) return {};
  std::rotate(all.begin(), versioned, versioned + 1);
  return all;
}

// Writes made-up files of about the real DLLs' total size into `folder`, one
// at a time: the versioned DLL first, then code-like, text, zero-heavy and
// noise in turn. Returns their names in that order.
std::vector<std::string> WriteMadeUpFiles(const fs::path& folder, const fs::path& versioned, std::uintmax_t total) {
  namespace corpus = qd::test::corpus;
  fs::copy_file(versioned, folder / "engine.dll");
  std::vector<std::string> names{"engine.dll"};
  const std::size_t each = static_cast<std::size_t>(total / (PackageFiles - 1));
  for (std::size_t i = 1; i < PackageFiles; ++i) {
    const auto seed = static_cast<std::uint32_t>(i);
    names.push_back("part" + std::to_string(i) + ".bin");
    switch (i % 4) {
      case 0: WriteFile(folder / names.back(), corpus::Executable(each, seed)); break;
      case 1: WriteFile(folder / names.back(), corpus::Text(each, seed)); break;
      case 2: WriteFile(folder / names.back(), corpus::ZeroHeavy(each, seed)); break;
      default: WriteFile(folder / names.back(), corpus::Noise(each, seed)); break;
    }
  }
  return names;
}

// Builds a package in `dir` from the files in dir/files, listed in the order
// of `names`, and a setup program that returns 0; returns its path, empty
// when the build failed.
fs::path BuildPackage(const std::string& qdpack, const fs::path& dir, const fs::path& stub,
                      const std::vector<std::string>& names) {
  fs::create_directories(dir / "out");
  fs::copy_file(stub, dir / "QdPack.exe", fs::copy_options::overwrite_existing);
  const std::string setup = "#!/bin/sh\nexit 0\n";
  WriteFile(dir / "files/setup", {setup.begin(), setup.end()});
  std::string script = "[In]\r\nQdFileName=QdPack.exe\r\n[Out]\r\nOutputName=out\\Bench%s.exe\r\n[Files]\r\n";
  std::vector<std::string> listed = names;
  listed.push_back("setup");
  for (std::size_t i = 0; i < listed.size(); ++i)
    script += "File" + std::string(i < 9 ? "0" : "") + std::to_string(i + 1) + "=" + listed[i] + ",files\\" +
              listed[i] + "\r\n";
  script += "[CMD]\r\nFileName=setup\r\nTitle=Bench\r\n";
  WriteFile(dir / "SetupQd.ini", {script.begin(), script.end()});
  const std::string command = "cd " + Quoted(dir) + " && " + Quoted(qdpack) + " /m SetupQd.ini > /dev/null 2>&1";
  if (std::system(command.c_str()) != 0) {
    std::fprintf(stderr, "install_bench: the build failed; see %s\n", (dir / "logfile.txt").c_str());
    return {};
  }
  for (const auto& entry : fs::directory_iterator(dir / "out")) return entry.path();
  return {};
}

// Installs the package and runs the copy floor in turn, `rounds` times each
// after one run of each that is not counted, and prints one line.
bool CompareWithCopy(const char* name, const std::string& qdpack, const fs::path& dir, const fs::path& package,
                     int rounds) {
  const fs::path tmp = dir / "tmp";
  fs::create_directories(tmp);
  const std::string floor =
      "cat " + Quoted(package) + " > /dev/null && cp -r " + Quoted(dir / "files") + " " + Quoted(dir / "copy");
  qd::bench::PairedRounds paired;
  long peakKib = 0;
  for (int round = -1; round < rounds; ++round) {
    const Usage install = Install(qdpack, package, tmp);
    const Usage copy = Run("/bin/sh", {"sh", "-c", floor}, tmp);
    fs::remove_all(dir / "copy");
    if (!install.ok || !copy.ok) {
      std::fprintf(stderr, "install_bench: %s: the %s failed\n", name, install.ok ? "copy" : "install");
      return false;
    }
    peakKib = std::max(peakKib, install.peakKib);
    if (round < 0) continue;
    paired.Add(install.wall, install.processor, copy.wall, copy.processor);
  }
  std::uintmax_t payload = 0;
  for (const auto& entry : fs::directory_iterator(dir / "files")) payload += entry.file_size();
  std::printf("%-10s %7.1f %8.1f %9.3f %9.3f %6.2f %9.3f %9.3f %6.2f %8.1f\n", name,
              static_cast<double>(fs::file_size(package)) / 1e6, static_cast<double>(payload) / 1e6,
              Median(paired.wall), Median(paired.baseWall), Median(paired.wallRatio), Median(paired.processor),
              Median(paired.baseProcessor), Median(paired.processorRatio), static_cast<double>(peakKib) / 1024);
  return true;
}

bool SpeedAgainstCopy(const std::string& qdpack, const fs::path& stub, const fs::path& versioned,
                      const fs::path& root, int rounds) {
  std::printf("Installing against the copy floor (cat package; cp -r files): medians of %d runs each, in turn\n",
              rounds);
  std::printf("%-10s %7s %8s %9s %9s %6s %9s %9s %6s %8s\n", "package", "MB", "files MB", "install s", "copy s",
              "ratio", "inst cpu", "copy cpu", "ratio", "peak MB");
  const std::vector<fs::path> dlls = RealDlls();
  std::uintmax_t total = 93000000;
  if (dlls.empty()) {
    std::printf("%-10s (fewer than %zu DLLs of 200 KB to 3 MB in wine's folder)\n", "real DLLs", PackageFiles);
  } else {
    const fs::path dir = root / "real";
    fs::create_directories(dir / "files");
    std::vector<std::string> names;
    total = 0;
    for (const fs::path& dll : dlls) {
      fs::copy_file(dll, dir / "files" / dll.filename());
      names.push_back(dll.filename().string());
      total += fs::file_size(dll);
    }
    const fs::path package = BuildPackage(qdpack, dir, stub, names);
    if (package.empty() || !CompareWithCopy("real DLLs", qdpack, dir, package, rounds)) return false;
  }
  const fs::path dir = root / "made-up";
  fs::create_directories(dir / "files");
  const fs::path package = BuildPackage(qdpack, dir, stub, WriteMadeUpFiles(dir / "files", versioned, total));
  if (package.empty() || !CompareWithCopy("made-up", qdpack, dir, package, rounds)) return false;
  std::printf("(ratio: install / copy floor; target at most 2.5. Peak: the install's, at most 16 MB.)\n\n");
  return true;
}

//===----------------------------------------------------------------------===//
// Memory: composed packages of any size
//===----------------------------------------------------------------------===//

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

void AppendBytes(std::ofstream& out, std::span<const std::uint8_t> bytes) {
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// What follows every item's stream: the marker and a time stamp.
void EndItem(std::ofstream& out) {
  AppendBytes(out, qd::PackageMarker());
  AppendBytes(out, qd::EncodeTimeStamp(132223104000000000u));
}

void AppendItem(std::ofstream& out, std::uint64_t size, bool zeros) {
  Stream stream{size, zeros, {size}, out};
  auto state = std::make_unique<qd::ImplodeState>();
  qd::ImplodeStream(ReadPayload, WritePackage, *state, &stream, 0, 4096);
  EndItem(out);
}

void AppendItem(std::ofstream& out, const std::vector<std::uint8_t>& bytes) {
  auto stream = std::vector<std::uint8_t>(qd::CompressBound(bytes.size()));
  const auto n = qd::CompressToMemory(stream.data(), static_cast<std::uint32_t>(stream.size()), bytes.data(),
                                      static_cast<std::uint32_t>(bytes.size()));
  AppendBytes(out, std::span(stream).first(static_cast<std::size_t>(n)));
  EndItem(out);
}

// Brings the image checksum of the package at `path` up to date.
void Seal(const fs::path& path) {
  const std::vector<std::uint8_t> image = ReadFile(path);
  std::uint32_t header = 0;
  for (int i = 3; i >= 0; --i) header = header << 8 | image[60 + static_cast<std::size_t>(i)];
  qd::pe::ChecksumState state{.fieldOffset = header + 88};
  qd::pe::AddToChecksum(state, image);
  const std::uint32_t checksum = qd::pe::FinishChecksum(state);
  std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
  file.seekp(static_cast<std::streamoff>(header + 88));
  file.write(reinterpret_cast<const char*>(&checksum), 4);
}

fs::path Compose(const fs::path& dir, const fs::path& stub, const fs::path& dll, std::uint64_t payload, bool zeros) {
  const fs::path package = dir / "Update.exe";
  std::ofstream out(package, std::ios::binary | std::ios::trunc);
  const auto stubBytes = ReadFile(stub);
  out.write(reinterpret_cast<const char*>(stubBytes.data()), static_cast<std::streamsize>(stubBytes.size()));
  AppendBytes(out, qd::PackageMarker());
  const std::string script =
      "[Out]\r\nOutputName=x%s.exe\r\n[Files]\r\nFile01=engine.dll,x\r\nFile02=setup,x\r\nFile03=payload.bin,x\r\n"
      "[CMD]\r\nFileName=setup\r\n";
  const std::string setup = "#!/bin/sh\nexit 0\n";
  AppendItem(out, {script.begin(), script.end()});
  AppendItem(out, ReadFile(dll));
  AppendItem(out, {setup.begin(), setup.end()});
  AppendItem(out, payload, zeros);
  const std::vector<std::uint8_t> tail(qd::TailLength(static_cast<std::uint64_t>(out.tellp())), 0);
  AppendBytes(out, tail);
  out.close();
  Seal(package);
  return package;
}

void MemoryOfLargePackages(const std::string& qdpack, const fs::path& stub, const fs::path& dll,
                           const fs::path& root) {
  fs::create_directories(root / "tmp");
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
    const fs::path package = Compose(root, stub, dll, c.payload, c.zeros);
    const double packageMb = static_cast<double>(fs::file_size(package)) / (1 << 20);
    const Usage run = Install(qdpack, package, root / "tmp");
    // 100 times the read length, in the 32 bits the unpacking would compute it.
    const auto readLength = static_cast<std::uint32_t>(fs::file_size(package) - 4);
    const double hundred = static_cast<double>(static_cast<std::uint32_t>(readLength * 100u)) / (1 << 20);
    std::printf("%-16s %12.1f %12.1f %14.1f %12.1f %14.1f%s\n", c.name, packageMb,
                static_cast<double>(c.payload) / (1 << 20), run.ok ? static_cast<double>(run.peakKib) / 1024 : -1.0,
                16.0, hundred, readLength > 42949676u ? " (wrapped)" : "");
    fs::remove(package);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 2 && argv[1] == MeasureSwitch) return Measure(argv + 2);
  const std::string qdpack = fs::absolute(argc > 1 ? argv[1] : QDPACK_NATIVE_EXE).string();
  const fs::path stub = argc > 2 ? argv[2] : fs::path(QDPACK_WIN32_DIR) / "src/QdPack.exe";
  const fs::path dll = argc > 3 ? argv[3] : fs::path(QDPACK_WIN32_DIR) / "examples/engine.dll";
  const int rounds = argc > 4 ? std::max(1, std::atoi(argv[4])) : 9;
  if (!fs::exists(qdpack) || !fs::exists(stub) || !fs::exists(dll)) {
    std::fprintf(stderr, "usage: install_bench [qdpack] [stub.exe] [versioned.dll] [rounds]\n");
    return 2;
  }
  if (geteuid() != 0) {
    std::fprintf(stderr, "install_bench: installing needs root\n");
    return 2;
  }
  const fs::path root = fs::temp_directory_path() / "qd-install-bench";
  fs::remove_all(root);
  const bool fast = SpeedAgainstCopy(qdpack, fs::absolute(stub), dll, root, rounds);
  MemoryOfLargePackages(qdpack, stub, dll, root);
  fs::remove_all(root);
  return fast ? 0 : 1;
}
