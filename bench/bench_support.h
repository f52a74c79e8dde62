//===- bench_support.h - What the process benchmarks share -------------------===//
//
// The median of a round's figures, a rusage time in seconds, and the real
// DLLs of a size range from wine's folder of them (tests/support/real_dlls.h
// names it), sorted by name so that every run takes the same files.
//
//===----------------------------------------------------------------------===//
#pragma once

#include <sys/time.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <system_error>
#include <vector>

#include "support/real_dlls.h"

namespace qd::bench {

inline double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n == 0 ? 0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// The rounds of a command against its baseline, run in pairs: each one's
// wall and processor seconds, and each pair's ratios (their medians are the
// figures: a pair sees the same machine, whatever else runs).
struct PairedRounds {
  std::vector<double> wall, processor, baseWall, baseProcessor, wallRatio, processorRatio;

  void Add(double runWall, double runProcessor, double baselineWall, double baselineProcessor) {
    wall.push_back(runWall);
    processor.push_back(runProcessor);
    baseWall.push_back(baselineWall);
    baseProcessor.push_back(baselineProcessor);
    wallRatio.push_back(runWall / baselineWall);
    processorRatio.push_back(runProcessor / baselineProcessor);
  }
};

inline double Seconds(const timeval& t) {
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

// The files of `smallest` to `largest` bytes in wine's folder of DLLs (and
// of a few programs and drivers), sorted by name; empty when it is not
// installed.
inline std::vector<std::filesystem::path> RealDllFiles(std::uintmax_t smallest, std::uintmax_t largest) {
  std::vector<std::filesystem::path> files;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(qd::test::RealDllFolder, error)) {
    const auto size = entry.file_size(error);
    if (!error && entry.is_regular_file(error) && size >= smallest && size <= largest)
      files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

}  // namespace qd::bench
