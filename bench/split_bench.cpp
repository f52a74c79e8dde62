//===- split_bench.cpp - One large file imploded on every core ---------------===//
//
// Implodes one large input, 160 MB of wine's real DLLs concatenated (160 MB
// of mixed synthetic data where they are absent), three ways in one run:
//
// - whole: ImplodeStream on one thread, the stream the builder always wrote;
// - pieces on one thread: the same pieces as below, one after another, to
//   show what splitting and joining cost;
// - pieces on every core: the plan's pieces encoded through
//   platform::RunOrdered, as the builder runs them, joined in order.
//
// Reports wall and processor time of each and the speed-up of every core
// over the whole stream (target: at least 1.7 on two cores). Each figure is
// the best of three rounds taken in turn. The joined streams must equal the
// whole stream byte for byte, and for the real DLLs the recorded stream:
// the run fails loudly otherwise.
//
//===----------------------------------------------------------------------===//
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "codec/codec.h"
#include "platform/platform.h"
#include "support/corpus.h"
#include "support/real_dlls.h"
#include "support/sha256.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

struct Input {
  std::span<const std::uint8_t> rest;
  Bytes* out;
};

std::uint32_t Read(std::uint8_t* buffer, std::uint32_t* size, void* parameter) {
  auto& in = *static_cast<Input*>(parameter);
  const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(*size, in.rest.size()));
  std::memcpy(buffer, in.rest.data(), n);
  in.rest = in.rest.subspan(n);
  return n;
}

void Write(const std::uint8_t* buffer, std::uint32_t* size, void* parameter) {
  auto& out = *static_cast<Input*>(parameter)->out;
  out.insert(out.end(), buffer, buffer + *size);
}

Bytes Whole(const Bytes& input) {
  Bytes stream;
  stream.reserve(input.size() / 2);
  Input in{input, &stream};
  const auto state = std::make_unique_for_overwrite<qd::ImplodeState>();
  qd::ImplodeStream(Read, Write, *state, &in, 0, 4096);
  return stream;
}

std::span<const std::uint8_t> PieceBytes(const Bytes& input, const qd::ImplodePiece& piece) {
  return std::span(input).subspan(piece.readBegin, piece.readEnd - piece.readBegin);
}

// The pieces encoded by `run` (one after another, or on every core) and
// joined in order; empty when a call refused its piece.
Bytes Pieces(const Bytes& input,
             const std::function<void(std::size_t, const std::function<void(std::size_t, std::size_t)>&,
                                      const std::function<bool(std::size_t)>&)>& run,
             std::size_t& reencoded) {
  const qd::ImplodePlan plan = qd::PlanImplode(input.size());
  std::vector<qd::ImplodedPiece> pieces(plan.pieces.size());
  qd::ImplodeJoin join;
  join.stream.reserve(input.size() / 2);
  bool refused = false;
  run(
      plan.pieces.size(),
      [&](std::size_t i, std::size_t) {
        const auto state = std::make_unique_for_overwrite<qd::ImplodeState>();
        if (!qd::ImplodePieceOf(plan, i, PieceBytes(input, plan.pieces[i]), *state, pieces[i])) refused = true;
      },
      [&](std::size_t i) {
        if (refused || !qd::JoinImplodePiece(join, plan, i, pieces[i], PieceBytes(input, plan.pieces[i]))) {
          refused = true;
          return false;
        }
        return true;
      });
  reencoded = join.reencoded;
  return refused ? Bytes{} : std::move(join.stream);
}

void OneAfterAnother(std::size_t count, const std::function<void(std::size_t, std::size_t)>& produce,
                     const std::function<bool(std::size_t)>& consume) {
  for (std::size_t i = 0; i < count; ++i) {
    produce(i, 0);
    if (!consume(i)) return;
  }
}

double ProcessorSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto seconds = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
  };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

struct Timing {
  double wall = 1e30;
  double processor = 1e30;
};

void Measure(Timing& best, const std::function<void()>& run) {
  const double cpu = ProcessorSeconds();
  const auto start = std::chrono::steady_clock::now();
  run();
  const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - start;
  best.wall = std::min(best.wall, wall.count());
  best.processor = std::min(best.processor, ProcessorSeconds() - cpu);
}

}  // namespace

int main() {
  Bytes input = qd::test::LoadRealDlls(qd::test::RealDlls160);
  const char* name = qd::test::RealDlls160.name;
  const char* recorded = qd::test::RealDlls160.streamSha256;
  if (input.empty() || qd::test::Sha256Hex(input) != qd::test::RealDlls160.inputSha256) {
    std::printf("(the real DLLs of %s are absent or not the recorded ones: synthetic data instead)\n",
                qd::test::RealDllFolder);
    input = qd::test::corpus::Mixed(160'000'000, 160);
    name = "160 MB of mixed data";
    recorded = nullptr;
  }
  const std::size_t pieceCount = qd::PlanImplode(input.size()).pieces.size();
  std::printf("%s in %zu pieces, %u threads\n", name, pieceCount, std::thread::hardware_concurrency());

  Timing whole;
  Timing serial;
  Timing parallel;
  Bytes wholeStream;
  Bytes serialStream;
  Bytes parallelStream;
  std::size_t reencoded = 0;
  for (int round = 0; round < 3; ++round) {
    Measure(whole, [&] { wholeStream = Whole(input); });
    Measure(serial, [&] { serialStream = Pieces(input, OneAfterAnother, reencoded); });
    const auto everyCore = [](std::size_t count, const auto& produce, const auto& consume) {
      qd::platform::RunOrdered(qd::platform::OrderedWorkShape(), count, produce, consume);
    };
    Measure(parallel, [&] { parallelStream = Pieces(input, everyCore, reencoded); });
  }

  const auto mbps = [&](double seconds) { return static_cast<double>(input.size()) / 1e6 / seconds; };
  std::printf("%-22s %9s %9s %9s %8s\n", "", "wall s", "cpu s", "MB/s", "speed-up");
  const auto row = [&](const char* what, const Timing& t) {
    std::printf("%-22s %9.3f %9.3f %9.2f %8.2f\n", what, t.wall, t.processor, mbps(t.wall), whole.wall / t.wall);
  };
  row("whole, one thread", whole);
  row("pieces, one thread", serial);
  row("pieces, every core", parallel);
  std::printf("stream: %zu bytes (%.2f%% of the input), %zu pieces encoded again\n", wholeStream.size(),
              100.0 * static_cast<double>(wholeStream.size()) / static_cast<double>(input.size()), reencoded);

  bool ok = true;
  if (serialStream != wholeStream || parallelStream != wholeStream) {
    std::printf("FAILED: the joined stream differs from the whole stream\n");
    ok = false;
  }
  if (recorded && qd::test::Sha256Hex(wholeStream) != recorded) {
    std::printf("FAILED: the stream is not the recorded one\n");
    ok = false;
  }
  return ok ? 0 : 1;
}
