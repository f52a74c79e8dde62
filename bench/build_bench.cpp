//===- build_bench.cpp - The builder against one stream of the same bytes ---===//
//
// Builds a package with the native builder, which compresses its files on
// every core, and compresses the same bytes, concatenated in the package's
// order, as one stream with "qdcodec implode" on one thread: the least work
// those bytes can cost, with no start-up per file. Two payloads of about
// 100 MB each: real Windows DLLs in 30 or more files (from wine's folder of
// them, when it is installed), and synthetic files of every kind and of
// sizes from 200 KB to 12 MB (so that the largest are packed in pieces).
//
// Each round runs the two processes one after the other, in turn first, and
// takes each one's wall time, processor time (user and system) and page
// faults; the ratios are taken within a round, and their medians reported
// (targets on two idle cores: processor time at most 1.05, wall time at most
// 0.55). Processor time and faults stay true on a busy machine; wall time
// does not.
//
//   build_bench [qdpack] [qdcodec] [stub.exe] [versioned.dll] [megabytes] [rounds]
//
//===----------------------------------------------------------------------===//
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench_support.h"
#include "support/corpus.h"

namespace {

namespace fs = std::filesystem;
using qd::bench::Median;
using qd::bench::Seconds;

// What one process cost.
struct Cost {
  double wall = 0;
  double processor = 0;
  long faults = 0;
};

// Runs `program` with `arguments` in `directory`, its output thrown away,
// and waits for it; false when it cannot be run or fails.
bool Run(const std::string& program, const std::vector<std::string>& arguments, const fs::path& directory,
         Cost& cost) {
  std::vector<char*> argv;
  std::vector<std::string> words = {program};
  words.insert(words.end(), arguments.begin(), arguments.end());
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = fork();
  if (child < 0) return false;
  if (child == 0) {
    const int nowhere = open("/dev/null", O_WRONLY);
    if (nowhere < 0 || dup2(nowhere, STDOUT_FILENO) < 0 || dup2(nowhere, STDERR_FILENO) < 0) _exit(127);
    if (chdir(directory.c_str()) == 0) execv(program.c_str(), argv.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (wait4(child, &status, 0, &usage) != child) return false;
  cost.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  cost.processor = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
  cost.faults = usage.ru_minflt + usage.ru_majflt;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Real DLLs from wine's folder, sorted by name, each of 200 KB to 3 MB, until
// `megabytes` are taken; empty when there is no such folder.
std::vector<fs::path> RealDlls(std::size_t megabytes) {
  std::vector<fs::path> taken;
  std::uintmax_t total = 0;
  for (const fs::path& dll : qd::bench::RealDllFiles(200000, 3000000)) {
    if (total >= megabytes * 1000000) break;
    taken.push_back(dll);
    total += fs::file_size(dll);
  }
  return taken;
}

// Synthetic file `index`: one of five kinds, in one of six sizes (the kinds
// and sizes go round at different paces, so each kind comes in every size).
std::vector<std::uint8_t> Synthetic(std::size_t index) {
  namespace corpus = qd::test::corpus;
  constexpr std::array<std::size_t, 6> sizes = {200'000, 700'000, 1'500'000, 3'000'000, 5'000'000, 12'000'000};
  const std::size_t size = sizes[index % sizes.size()];
  const auto seed = static_cast<std::uint32_t>(index);
  switch (index % 5) {
    case 0: return corpus::Text(size, seed);
    case 1: return corpus::Executable(size, seed);
    case 2: return corpus::ZeroHeavy(size, seed);
    case 3: return corpus::Mixed(size, seed);
    default: return corpus::Noise(size, seed);
  }
}

// The machine's load over the last 1, 5 and 15 minutes: the others' work.
std::string LoadAverage() {
  std::string one, five, fifteen;
  std::ifstream("/proc/loadavg") >> one >> five >> fifteen;
  return one + " " + five + " " + fifteen;
}

struct Paths {
  std::string builder, codec, stub, versioned;
};

// Builds a tree of the payload in `dir`, then runs the rounds; false when a
// run fails.
bool Compare(const Paths& paths, const fs::path& dir, bool real, std::size_t megabytes, int rounds) {
  fs::create_directories(dir / "out");
  fs::copy_file(paths.stub, dir / "QdPack.exe");
  fs::copy_file(paths.versioned, dir / "engine.dll");
  std::string script = "[In]\r\nQdFileName=QdPack.exe\r\n[Out]\r\nOutputName=out\\Bench%s.exe\r\n[Files]\r\n"
                       "File01=engine.dll,engine.dll\r\n";
  std::vector<fs::path> files = {dir / "engine.dll"};
  const std::vector<fs::path> dlls = real ? RealDlls(megabytes) : std::vector<fs::path>{};
  std::uintmax_t total = fs::file_size(dir / "engine.dll");
  for (std::size_t i = 0; i + 2 <= 99; ++i) {
    const std::string name = "part" + std::to_string(i) + ".bin";
    if (real) {
      if (i == dlls.size()) break;
      fs::copy_file(dlls[i], dir / name);
    } else {
      if (total >= megabytes * 1000000) break;
      const auto bytes = Synthetic(i);
      std::ofstream(dir / name, std::ios::binary)
          .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    total += fs::file_size(dir / name);
    char key[16];
    std::snprintf(key, sizeof key, "File%02zu=", i + 2);
    script += key + name + "," + name + "\r\n";
    files.push_back(dir / name);
  }
  script += "[CMD]\r\nFileName=setup.exe\r\nTitle=Bench\r\nLANG=ENU\r\n";
  std::ofstream(dir / "SetupQd.ini", std::ios::binary) << script;
  files.push_back(dir / "SetupQd.ini");

  // The same bytes in the package's order, as one file.
  {
    std::ofstream all(dir / "payload.all", std::ios::binary);
    for (const fs::path& file : files) all << std::ifstream(file, std::ios::binary).rdbuf();
  }

  qd::bench::PairedRounds paired;
  long builderFaults = 0, codecFaults = 0;
  for (int round = 0; round < rounds; ++round) {
    Cost build, codec;
    for (int turn = 0; turn < 2; ++turn) {
      // Each writes a new file, as a build does: replacing an old one of
      // tens of MB would add the freeing of its pages.
      if ((turn == 0) == (round % 2 == 0)) {
        for (const auto& entry : fs::directory_iterator(dir / "out")) fs::remove(entry.path());
        if (!Run(paths.builder, {"/m", "SetupQd.ini"}, dir, build)) {
          std::fprintf(stderr, "the build failed; see %s/logfile.txt\n", dir.string().c_str());
          return false;
        }
      } else {
        fs::remove(dir / "payload.imp");
        if (!Run(paths.codec, {"implode", "payload.all", "payload.imp"}, dir, codec)) {
          std::fprintf(stderr, "qdcodec failed\n");
          return false;
        }
      }
    }
    paired.Add(build.wall, build.processor, codec.wall, codec.processor);
    builderFaults = build.faults;
    codecFaults = codec.faults;
  }

  std::uintmax_t packageSize = 0;
  for (const auto& entry : fs::directory_iterator(dir / "out")) packageSize = entry.file_size();
  const double megabytesIn = static_cast<double>(total) / 1e6;
  std::printf("payload              %.1f MB in %zu files (%s)\n", megabytesIn, files.size(),
              real ? "real DLLs" : "synthetic");
  std::printf("package              %.1f MB (%.1f%%), stream of the same bytes %.1f MB\n",
              static_cast<double>(packageSize) / 1e6,
              100.0 * static_cast<double>(packageSize) / static_cast<double>(total),
              static_cast<double>(fs::file_size(dir / "payload.imp")) / 1e6);
  std::printf("medians of %d rounds   wall              processor   page faults\n", rounds);
  std::printf("builder              %6.3f s %5.1f MB/s  %6.3f s  %8ld\n", Median(paired.wall),
              megabytesIn / Median(paired.wall), Median(paired.processor), builderFaults);
  std::printf("qdcodec, one stream  %6.3f s %5.1f MB/s  %6.3f s  %8ld\n", Median(paired.baseWall),
              megabytesIn / Median(paired.baseWall), Median(paired.baseProcessor), codecFaults);
  std::printf("ratio, paired        %6.3f             %6.3f      (targets on two idle cores: 0.55, 1.05)\n\n",
              Median(paired.wallRatio), Median(paired.processorRatio));
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Paths paths;
  paths.builder = fs::absolute(argc > 1 ? argv[1] : QDPACK_NATIVE_EXE).string();
  paths.codec = fs::absolute(argc > 2 ? argv[2] : QDPACK_QDCODEC).string();
  paths.stub = argc > 3 ? argv[3] : QDPACK_WIN32_DIR "/src/QdPack.exe";
  paths.versioned = argc > 4 ? argv[4] : QDPACK_WIN32_DIR "/examples/engine.dll";
  const std::size_t megabytes = argc > 5 ? std::strtoul(argv[5], nullptr, 10) : 100;
  const int rounds = argc > 6 ? std::max(1, std::atoi(argv[6])) : 5;
  if (!fs::exists(paths.builder) || !fs::exists(paths.codec) || !fs::exists(paths.stub) ||
      !fs::exists(paths.versioned)) {
    std::fprintf(stderr, "usage: build_bench [qdpack] [qdcodec] [stub.exe] [versioned.dll] [megabytes] [rounds]\n");
    return 2;
  }
  std::printf("load average before: %s\n", LoadAverage().c_str());

  const auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
  const fs::path dir = fs::temp_directory_path() / ("qd_build_bench." + std::to_string(ticks));
  bool ok = true;
  if (RealDlls(megabytes).size() >= 30) {
    ok = Compare(paths, dir / "real", true, megabytes, rounds);
  } else {
    std::printf("(no real DLLs in wine's folder: the synthetic payload only)\n\n");
  }
  ok = ok && Compare(paths, dir / "synthetic", false, megabytes, rounds);
  std::printf("load average after: %s\n", LoadAverage().c_str());
  if (ok) fs::remove_all(dir);
  return ok ? 0 : 1;
}
