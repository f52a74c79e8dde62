//===- build_bench.cpp - The builder against one thread of compression ------===//
//
// Builds a package of about 100 MB of real Windows DLLs in 30 or more files
// (from wine's folder of them; 100 MB of mixed synthetic payload in ten files
// where it is absent) with the native builder, which compresses the files on
// every core, and compresses the same files one after another with
// "qdcodec implode" on one thread. Reports both times and their ratio
// (target: the builder at most 0.6 times the single thread on two cores).
// Each is run three times, alternately, and the best counts.
//
//   build_bench [qdpack] [qdcodec] [stub.exe] [versioned.dll] [megabytes]
//
//===----------------------------------------------------------------------===//
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/corpus.h"

namespace {

namespace fs = std::filesystem;

constexpr int Rounds = 3;

// One synthetic payload file of `size` bytes: text, code, noise or runs.
std::vector<std::uint8_t> Payload(std::size_t size, std::size_t kind, std::uint32_t seed) {
  namespace corpus = qd::test::corpus;
  switch (kind % 4) {
    case 0: return corpus::Text(size, seed);
    case 1: return corpus::Executable(size, seed);
    case 2: return corpus::Noise(size, seed);
    default: return corpus::Runs(size, seed);
  }
}

double Seconds(std::chrono::steady_clock::duration elapsed) {
  return std::chrono::duration<double>(elapsed).count();
}

// Processor time (user and system) of this process or of its finished
// children: the machine is shared, and wall time counts the others' work too.
double ProcessorSeconds(int who) {
  rusage usage{};
  getrusage(who, &usage);
  auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

}  // namespace

// Real DLLs from wine's folder, sorted by name, each of 200 KB to 3 MB, until
// `megabytes` are taken; empty when there is no such folder.
std::vector<fs::path> RealDlls(std::size_t megabytes) {
  const fs::path folder = "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows";
  std::vector<fs::path> all, taken;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(folder, error))
    if (entry.is_regular_file() && entry.file_size() >= 200000 && entry.file_size() <= 3000000)
      all.push_back(entry.path());
  std::sort(all.begin(), all.end());
  std::uintmax_t total = 0;
  for (const fs::path& dll : all) {
    if (total >= megabytes * 1000000) break;
    taken.push_back(dll);
    total += fs::file_size(dll);
  }
  return taken;
}

int main(int argc, char** argv) {
  const std::string builder = fs::absolute(argc > 1 ? argv[1] : QDPACK_NATIVE_EXE).string();
  const std::string codec = fs::absolute(argc > 2 ? argv[2] : QDPACK_QDCODEC).string();
  const std::string stub = argc > 3 ? argv[3] : QDPACK_WIN32_DIR "/src/QdPack.exe";
  const std::string versioned = argc > 4 ? argv[4] : QDPACK_WIN32_DIR "/examples/engine.dll";
  const std::size_t megabytes = argc > 5 ? std::strtoul(argv[5], nullptr, 10) : 100;
  if (!fs::exists(builder) || !fs::exists(codec) || !fs::exists(stub) || !fs::exists(versioned)) {
    std::fprintf(stderr, "usage: build_bench [qdpack] [qdcodec] [stub.exe] [versioned.dll] [megabytes]\n");
    return 2;
  }

  // The tree: stub, the versioned file first, then ten payload files.
  const auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
  const fs::path dir = fs::temp_directory_path() / ("qd_build_bench." + std::to_string(ticks));
  fs::create_directories(dir / "out");
  fs::copy_file(stub, dir / "QdPack.exe");
  fs::copy_file(versioned, dir / "engine.dll");
  std::string script = "[In]\r\nQdFileName=QdPack.exe\r\n[Out]\r\nOutputName=out\\Bench%s.exe\r\n[Files]\r\n"
                       "File01=engine.dll,engine.dll\r\n";
  std::vector<fs::path> files = {dir / "engine.dll"};
  const std::vector<fs::path> dlls = RealDlls(megabytes);
  const bool real = dlls.size() >= 30;
  const std::size_t parts = real ? dlls.size() : 10;
  for (std::size_t i = 0; i < parts && i + 2 <= 99; ++i) {
    const std::string name = "part" + std::to_string(i) + ".bin";
    if (real) {
      fs::copy_file(dlls[i], dir / name);
    } else {
      const auto bytes = Payload(megabytes * 1024 * 1024 / parts, i, static_cast<std::uint32_t>(i));
      std::ofstream(dir / name, std::ios::binary)
          .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    char key[16];
    std::snprintf(key, sizeof key, "File%02zu=", i + 2);
    script += key + name + "," + name + "\r\n";
    files.push_back(dir / name);
  }
  script += "[CMD]\r\nFileName=setup.exe\r\nTitle=Bench\r\nLANG=ENU\r\n";
  std::ofstream(dir / "SetupQd.ini", std::ios::binary) << script;
  files.push_back(dir / "SetupQd.ini");

  // Rounds that alternate the two, so that both see the same machine; the
  // best time of each counts.
  const std::string command = "cd '" + dir.string() + "' && '" + builder + "' /m SetupQd.ini";
  double buildTime = 1e30, compressTime = 1e30, buildCpu = 1e30, compressCpu = 1e30;
  std::uint64_t total = 0;
  for (int round = 0; round < Rounds; ++round) {
    // The builder, as a process, from its start to its exit.
    const double childrenBefore = ProcessorSeconds(RUSAGE_CHILDREN);
    const auto buildStart = std::chrono::steady_clock::now();
    const int status = std::system(command.c_str());
    buildTime = std::min(buildTime, Seconds(std::chrono::steady_clock::now() - buildStart));
    buildCpu = std::min(buildCpu, ProcessorSeconds(RUSAGE_CHILDREN) - childrenBefore);
    if (status != 0) {
      std::fprintf(stderr, "the build failed (%d); see %s/logfile.txt\n", status, dir.string().c_str());
      return 1;
    }

    // The same files through qdcodec, one after another, on one thread.
    std::string codecCommand = "true";
    for (const auto& file : files)
      codecCommand += " && '" + codec + "' implode '" + file.string() + "' '" + (dir / "stream.imp").string() + "'";
    const double codecBefore = ProcessorSeconds(RUSAGE_CHILDREN);
    const auto codecStart = std::chrono::steady_clock::now();
    if (std::system(codecCommand.c_str()) != 0) {
      std::fprintf(stderr, "qdcodec failed\n");
      return 1;
    }
    compressTime = std::min(compressTime, Seconds(std::chrono::steady_clock::now() - codecStart));
    compressCpu = std::min(compressCpu, ProcessorSeconds(RUSAGE_CHILDREN) - codecBefore);
  }
  for (const auto& file : files) total += fs::file_size(file);

  std::uintmax_t packageSize = 0;
  for (const auto& entry : fs::directory_iterator(dir / "out")) packageSize = entry.file_size();
  const double megabytesIn = static_cast<double>(total) / 1e6;
  std::printf("payload            %.1f MB in %zu files (%s)\n", megabytesIn, files.size(),
              real ? "real DLLs" : "synthetic");
  std::printf("package            %.1f MB (%.1f%%)\n", static_cast<double>(packageSize) / 1e6,
              100.0 * static_cast<double>(packageSize) / static_cast<double>(total));
  std::printf("                   wall              processor\n");
  std::printf("builder            %6.2f s %5.1f MB/s  %6.2f s\n", buildTime, megabytesIn / buildTime, buildCpu);
  std::printf("qdcodec, 1 thread  %6.2f s %5.1f MB/s  %6.2f s\n", compressTime, megabytesIn / compressTime,
              compressCpu);
  std::printf("ratio              %6.3f             %6.3f   (target: wall at most 0.6 on two cores)\n",
              buildTime / compressTime, buildCpu / compressCpu);
  fs::remove_all(dir);
  return 0;
}
