//===- random.h - Deterministic pseudo-random numbers for tests and benchmarks ===//
//
// The same seed gives the same bytes on every machine and every run, so test
// inputs and benchmark corpora are reproducible.
//
//===----------------------------------------------------------------------===//
#pragma once

#include <cstdint>

namespace qd::test {

struct Random {
  std::uint64_t state;

  std::uint32_t Next() {
    state = state * 6364136223846793005u + 1442695040888963407u;
    return static_cast<std::uint32_t>(state >> 33);
  }
  std::uint32_t Below(std::uint32_t n) { return Next() % n; }
  // Small values far more often than large ones.
  std::uint32_t Skewed(std::uint32_t n) { return Below(Below(n) + 1); }
};

}  // namespace qd::test
