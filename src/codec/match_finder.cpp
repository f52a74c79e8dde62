//===- match_finder.cpp - The compressor's fast match search -----------------===//
//
// Finds at every position the match that BlockSearch finds, without walking
// a bucket from its oldest entry. The answer is fixed by a rule (see
// implode_search.h): the longest match among the candidates, capped at 516
// bytes, the newest among equally long ones, the oldest among 516-byte ones.
// The candidates are the positions from D - 1 to 2 bytes back, not below the
// block index's first offset, whose two bytes are those at the search's
// position p.
//
// Positions enter the tables lazily, up to p - 2; the bytes of their keys
// (up to p + 1) never change afterwards. Two kinds of position p are told
// apart by the three bytes at p:
//
// - Not three equal bytes: every candidate of 4 bytes or more starts with
//   the same four, so a chain per hash of four bytes lists them, newest
//   first. A candidate is compared only when it could be longer than the
//   best so far. When none is longer than 3, the answer is the newest
//   position with the same three bytes, else the newest with the same two;
//   and as there is no match of 3 without one of 2, nor of 4 without one of
//   3, those are looked up first. The newest position by a hash of three
//   bytes is that answer unless another three bytes took its place since;
//   then, rarely, the window is searched for them byte by byte.
// - Three equal bytes b (a run of r bytes at p, counted up to 516): such
//   positions make no chain entries, since in data full of zeros one chain
//   would hold most of the window. A candidate inside an earlier run of b
//   that leaves exactly r bytes of it matches r bytes and then whatever
//   follows both runs; one that leaves more matches r bytes, one that leaves
//   fewer matches those. So the ended runs of b are kept as runs, chained by
//   their byte and by the byte after them, and the run that p stands in is
//   known from the positions before p.
//
// The walks stop at the window's lower end; an entry whose slot was reused is
// older than any window, which ends a walk too.
//
//===----------------------------------------------------------------------===//
#include <algorithm>
#include <bit>
#include <cstring>

#include "codec/implode_search.h"
#include "codec/tables.h"

namespace qd::codec {
namespace {

using Tables = ImplodeMatchTables;

constexpr std::uint32_t MaxMatch = ImplodeMaxMatch;
constexpr std::uint32_t MinRun = 3;
constexpr std::uint32_t LinkMask = Tables::LinkCount - 1;
constexpr std::uint32_t RunMask = Tables::RunCount - 1;
// Positions are moved back to small numbers once they pass this, so that
// they never overflow; the move keeps them congruent modulo the link ring.
constexpr std::uint32_t RebaseAbove = 1u << 20;

static_assert(std::has_single_bit(Tables::LinkCount) && Tables::LinkCount >= MaxDistance);
static_assert(ImplodeReadSize % Tables::LinkCount == 0, "a block's move keeps link slots");
// Every run takes at least 3 bytes, so a reused slot held a run that ended
// more than a window before any search that reaches it.
static_assert(std::has_single_bit(Tables::RunCount) && Tables::RunCount * MinRun > MaxDistance);
static_assert(Tables::RunCount <= Tables::NoRun);

// The four bytes at `at`, the first lowest.
std::uint32_t Load32(const std::uint8_t* at) {
  if constexpr (std::endian::native == std::endian::little) {
    std::uint32_t word;
    std::memcpy(&word, at, sizeof word);
    return word;
  } else {
    return std::uint32_t{at[0]} | (std::uint32_t{at[1]} << 8) | (std::uint32_t{at[2]} << 16) |
           (std::uint32_t{at[3]} << 24);
  }
}

// The three bytes at `at`, the first lowest (reads a fourth).
std::uint32_t Triple(const std::uint8_t* at) { return Load32(at) & 0xFFFFFF; }

std::uint32_t Hash(std::uint32_t key) { return (key * 2654435761u) >> (32 - Tables::HashBits); }
std::uint32_t Hash16(std::uint32_t key) { return (key * 2654435761u) >> 16; }

std::uint32_t EndHash(std::uint8_t byte, std::uint8_t next) {
  const std::uint32_t key = (std::uint32_t{byte} << 8) | next;
  return (key * 2654435761u) >> (32 - std::countr_zero(Tables::EndHashCount));
}

std::uint64_t Load64(const std::uint8_t* at) {
  std::uint64_t word;
  std::memcpy(&word, at, sizeof word);
  return word;
}

// The number of equal bytes in a nonzero difference of two loaded words.
std::uint32_t EqualBytes(std::uint64_t difference) {
  if constexpr (std::endian::native == std::endian::little)
    return static_cast<std::uint32_t>(std::countr_zero(difference)) / 8;
  else
    return static_cast<std::uint32_t>(std::countl_zero(difference)) / 8;
}

// How many leading bytes of `a` and `b` agree, at most `limit`. Reads whole
// words, up to 7 bytes past the last byte compared.
std::uint32_t CommonLength(const std::uint8_t* a, const std::uint8_t* b, std::uint32_t limit) {
  for (std::uint32_t n = 0; n < limit; n += 8) {
    const std::uint64_t difference = Load64(a + n) ^ Load64(b + n);
    if (difference != 0) return std::min(n + EqualBytes(difference), limit);
  }
  return limit;
}

// The 16 bytes at `at`, held for comparisons with many others. Where SSE2
// is there (every x86-64), they are one vector of the compiler's own.
struct Bytes16 {
#ifdef __SSE2__
  using Vector = char __attribute__((vector_size(16)));
  Vector v;
  explicit Bytes16(const std::uint8_t* at) { std::memcpy(&v, at, sizeof v); }
#else
  std::uint64_t low;
  std::uint64_t high;
  explicit Bytes16(const std::uint8_t* at) : low(Load64(at)), high(Load64(at + 8)) {}
#endif
};

// How many leading bytes at `at` agree with `bytes`, at most 16. With SSE2
// this is one comparison without a branch, whatever the bytes.
std::uint32_t CommonLength16(const std::uint8_t* at, const Bytes16& bytes) {
#ifdef __SSE2__
  const Bytes16 here(at);
  const auto equal = static_cast<Bytes16::Vector>(here.v == bytes.v);
  const auto mask = static_cast<std::uint32_t>(__builtin_ia32_pmovmskb128(equal));
  // The bit above the 16 makes the count one instruction, without a test
  // for no bit at all.
  return static_cast<std::uint32_t>(std::countr_zero((mask ^ 0xFFFF) | 0x10000));
#else
  const std::uint64_t low = Load64(at) ^ bytes.low;
  if (low != 0) return EqualBytes(low);
  const std::uint64_t high = Load64(at + 8) ^ bytes.high;
  return high != 0 ? 8 + EqualBytes(high) : 16;
#endif
}

// How many leading bytes at `at` are `byte`, at most `limit`; reads as
// CommonLength does.
std::uint32_t RunLength(const std::uint8_t* at, std::uint8_t byte, std::uint32_t limit) {
  const std::uint64_t pattern = 0x0101010101010101u * byte;
  for (std::uint32_t n = 0; n < limit; n += 8) {
    const std::uint64_t difference = Load64(at + n) ^ pattern;
    if (difference != 0) return std::min(n + EqualBytes(difference), limit);
  }
  return limit;
}

}  // namespace

MatchFinder::MatchFinder(ImplodeMatchTables& tables, const std::uint8_t* work,
                         std::uint32_t dictionary)
    : t_(tables), w_(work), dictionary_(dictionary) {}

void MatchFinder::Start(std::uint32_t first) {
  std::fill(t_.newestPair.begin(), t_.newestPair.end(), 0u);
  std::fill(t_.newestTriple.begin(), t_.newestTriple.end(), 0u);
  std::fill(t_.newestQuad.begin(), t_.newestQuad.end(), 0u);
  std::fill(t_.newestRunOfByte.begin(), t_.newestRunOfByte.end(), Tables::NoRun);
  std::fill(t_.newestRunOfEnd.begin(), t_.newestRunOfEnd.end(), Tables::NoRun);
  shift_ = 0;
  floor_ = first;
  inserted_ = first;
  runStart_ = first;
  runOpen_ = false;
  runCount_ = 0;
}

void MatchFinder::StartBlock(std::uint32_t floor) { floor_ = floor + shift_; }

void MatchFinder::MoveDown(std::uint32_t bytes) {
  shift_ += bytes;
  if (shift_ > RebaseAbove) Rebase();
}

// Subtracts the same multiple of the link ring's size from every position;
// those that would fall below it were out of every window and become none.
void MatchFinder::Rebase() {
  const std::uint32_t by = (shift_ - Tables::LinkCount) & ~LinkMask;
  const auto move = [by](std::uint32_t& position) { position = position > by ? position - by : 0; };
  std::for_each(t_.newestPair.begin(), t_.newestPair.end(), move);
  std::for_each(t_.newestTriple.begin(), t_.newestTriple.end(), move);
  std::for_each(t_.newestQuad.begin(), t_.newestQuad.end(), move);
  std::for_each(t_.earlierQuad.begin(), t_.earlierQuad.end(), move);
  std::for_each(t_.earlierQuad2.begin(), t_.earlierQuad2.end(), move);
  for (Run& run : t_.runs) {
    move(run.start);
    move(run.end);
  }
  move(shift_);
  move(floor_);
  move(inserted_);
  move(runStart_);
}

//===----------------------------------------------------------------------===//
// Entering positions
//===----------------------------------------------------------------------===//

// Enters every position up to `last`: its pair and, unless its first three
// bytes are equal, its three and its four bytes. A position whose first
// three bytes are equal starts a run, which is passed over whole.
[[gnu::always_inline]] inline void MatchFinder::InsertThrough(std::uint32_t last) {
  std::uint32_t q = inserted_;
  if (q > last) return;
  if (runOpen_) q = PassRun(q, last);
  const std::uint8_t* at = At(q);
  while (q <= last) {
    const std::uint32_t quad = Load32(at);
    t_.newestPair[quad & 0xFFFF] = q;
    if (((quad ^ (quad >> 8)) & 0xFFFF) == 0) [[unlikely]] {
      runStart_ = q;
      runByte_ = static_cast<std::uint8_t>(quad);
      const std::uint32_t after = PassRun(q, last);
      at += after - q;
      q = after;
      continue;
    }
    const std::uint32_t triple = quad & 0xFFFFFF;
    t_.newestTriple[Hash16(triple)] = q;
    const std::uint32_t quadHash = Hash(quad);
    const std::uint32_t head = t_.newestQuad[quadHash];
    const std::uint32_t beforeHead = t_.earlierQuad[head & LinkMask];  // stale unless head is in a window
    t_.earlierQuad[q & LinkMask] = head;
    t_.earlierQuad2[q & LinkMask] = beforeHead;
    t_.newestQuad[quadHash] = q;
    ++q;
    ++at;
  }
  inserted_ = q;
}

// Position q lies in the run that began at runStart_: passes over its
// positions that begin with three of its bytes, which make no chain
// entries, and ends the run once the position before its end is entered
// (a run is recorded only when every search after it lies past its end);
// until then the run stays open. Returns the next position to enter.
std::uint32_t MatchFinder::PassRun(std::uint32_t q, std::uint32_t last) {
  const std::uint8_t b = runByte_;
  const std::uint8_t* at = At(q);
  const std::uint32_t limit = last - q + MinRun;
  const std::uint32_t r = RunLength(at, b, limit);
  runOpen_ = r + 2 > limit;
  if (!runOpen_) EndRun(runStart_, q + r, b, at[r]);
  if (r < MinRun) return q;
  t_.newestPair[b | (std::uint32_t{b} << 8)] = q + r - MinRun;
  return q + r - MinRun + 1;
}

// The run of `byte` from `start` to `end`, at least 3 bytes, has ended;
// `next` follows it.
void MatchFinder::EndRun(std::uint32_t start, std::uint32_t end, std::uint8_t byte,
                         std::uint8_t next) {
  const std::uint32_t slot = runCount_++ & RunMask;
  const std::uint32_t hash = EndHash(byte, next);
  Run& run = t_.runs[slot];
  run.start = start;
  run.end = end;
  run.earlierOfByte = t_.newestRunOfByte[byte];
  run.earlierOfEnd = t_.newestRunOfEnd[hash];
  run.byte = byte;
  run.next = next;
  t_.newestRunOfByte[byte] = static_cast<std::uint16_t>(slot);
  t_.newestRunOfEnd[hash] = static_cast<std::uint16_t>(slot);
}

//===----------------------------------------------------------------------===//
// Searching
//===----------------------------------------------------------------------===//

Match MatchFinder::Search(std::uint32_t offset, std::uint32_t beat) {
  const std::uint32_t p = offset + shift_;
  // The table entries this search reads, on their way in while the
  // positions before it are entered.
  const std::uint32_t quad = Load32(w_ + offset);
  __builtin_prefetch(&t_.newestPair[quad & 0xFFFF]);
  __builtin_prefetch(&t_.newestTriple[Hash16(quad & 0xFFFFFF)]);
  __builtin_prefetch(&t_.newestQuad[Hash(quad)]);
  InsertThrough(p - 2);
  const std::uint32_t lo = std::max(p - dictionary_ + 1, floor_);
  if (lo + MinCopyLength > p) return {};
  const std::uint8_t* x = At(p);
  return x[0] == x[1] && x[1] == x[2] ? RunSearch(p, lo) : ChainSearch(p, lo, beat);
}

[[gnu::always_inline]] inline Match MatchFinder::ChainSearch(std::uint32_t p, std::uint32_t lo,
                                                             std::uint32_t beat) {
  const std::uint8_t* const work = w_;
  const std::uint32_t shift = shift_;
  const std::uint8_t* x = work + (p - shift);
  const std::uint32_t quad = Load32(x);
  // Every match of 3 bytes is one of 2, and every match of 4 one of 3: the
  // cheap lookups come first, and in data with few repeats they end the
  // search. When only a match of 4 bytes or more matters, they are passed
  // over.
  std::uint32_t newestTriple = 0;
  if (beat < MinRun) {
    const std::uint32_t pair = t_.newestPair[x[0] | (std::uint32_t{x[1]} << 8)];
    if (pair < lo) return {};
    const std::uint32_t triple = quad & 0xFFFFFF;
    newestTriple = t_.newestTriple[Hash16(triple)];
    if (newestTriple >= lo && Triple(work + (newestTriple - shift)) != triple) [[unlikely]]
      newestTriple = NewestTriple(newestTriple, lo, triple);
    if (newestTriple < lo) return {MinCopyLength, p - pair};
  }

  // Matches of 4 bytes or more: the longest, the newest of equals. The
  // chain is walked two candidates at a time, c0 and the one after it, c1,
  // each reached by its own two-back link, so that the two loads of a step
  // do not wait for each other. A link is read only from a position in the
  // window, whose links were set while the positions they name were too.
  std::uint32_t best = std::max(beat, MinRun);
  std::uint32_t bestAt = 0;
  // False once the candidate is the oldest's of 516 bytes. The first 16
  // bytes are compared at once, and the best moves without a branch on the
  // bytes: which candidate is longer follows no pattern.
  const Bytes16 head(x);
  const auto consider = [&](std::uint32_t c) __attribute__((always_inline)) {
    const std::uint8_t* y = work + (c - shift);
    std::uint32_t length = CommonLength16(y, head);
    if (length == 16) [[unlikely]] {
      length += CommonLength(y + 16, x + 16, MaxMatch - 16);
      if (length == MaxMatch) {
        best = MaxMatch;
        bestAt = OldestFullInChain(c, p, lo);
        return false;
      }
    }
    const bool longer = length > best;
    best = longer ? length : best;
    bestAt = longer ? c : bestAt;
    return true;
  };
  std::uint32_t c0 = t_.newestQuad[Hash(quad)];
  std::uint32_t c1 = t_.earlierQuad[c0 & LinkMask];
  while (c0 >= lo) {
    const std::uint32_t next0 = t_.earlierQuad2[c0 & LinkMask];
    const std::uint32_t next1 = t_.earlierQuad2[c1 & LinkMask];
    if (!consider(c0) || c1 < lo || !consider(c1)) break;
    c0 = next0;
    c1 = next1;
  }
  if (bestAt != 0) return {best, p - bestAt};
  if (beat >= MinRun) return {};
  return {MinRun, p - newestTriple};
}

// The newest position from `lo` to before `newer` whose first three bytes
// are `triple`, or 0.
std::uint32_t MatchFinder::NewestTriple(std::uint32_t newer, std::uint32_t lo, std::uint32_t triple) const {
  const std::uint8_t* work = w_;
  const std::uint32_t shift = shift_;
  std::uint32_t c = newer;
#ifdef __SSE2__
  // Sixteen positions at a time, the newest first.
  std::uint8_t first[16], second[16], third[16];
  std::memset(first, static_cast<std::uint8_t>(triple), 16);
  std::memset(second, static_cast<std::uint8_t>(triple >> 8), 16);
  std::memset(third, static_cast<std::uint8_t>(triple >> 16), 16);
  const Bytes16 a(first), b(second), d(third);
  while (c >= lo + 16) {
    c -= 16;
    const std::uint8_t* at = work + (c - shift);
    const auto equal = static_cast<Bytes16::Vector>(Bytes16(at).v == a.v) &
                       static_cast<Bytes16::Vector>(Bytes16(at + 1).v == b.v) &
                       static_cast<Bytes16::Vector>(Bytes16(at + 2).v == d.v);
    const auto mask = static_cast<std::uint32_t>(__builtin_ia32_pmovmskb128(equal));
    if (mask != 0) return c + 31 - static_cast<std::uint32_t>(std::countl_zero(mask));
  }
#endif
  while (c-- > lo)
    if (Triple(work + (c - shift)) == triple) return c;
  return 0;
}

// The oldest candidate of the chain that matches 516 bytes, given the newest.
std::uint32_t MatchFinder::OldestFullInChain(std::uint32_t newest, std::uint32_t p,
                                             std::uint32_t lo) {
  const std::uint8_t* x = At(p);
  const std::uint32_t quad = Load32(x);
  std::uint32_t count = 0;
  for (std::uint32_t c = t_.earlierQuad[newest & LinkMask]; c >= lo;
       c = t_.earlierQuad[c & LinkMask]) {
    const std::uint8_t* y = At(c);
    if (y[MaxMatch - 1] == x[MaxMatch - 1] && Load32(y) == quad) t_.candidates[count++] = c;
  }
  while (count > 0) {
    const std::uint32_t c = t_.candidates[--count];
    if (CommonLength(At(c), x, MaxMatch) == MaxMatch) return c;
  }
  return newest;
}

Match MatchFinder::RunSearch(std::uint32_t p, std::uint32_t lo) {
  const std::uint8_t* x = At(p);
  const std::uint8_t b = x[0];
  const std::uint32_t r = RunLength(x, b, MaxMatch);
  // The positions from the start of p's run to p - 2 each match r bytes or
  // 516 (their run goes on past p's).
  const bool inRun = At(p - 1)[0] == b && At(p - 2)[0] == b;
  // How many bytes of an ended run lie in the window.
  const auto reach = [lo](const Run& run) { return run.end - std::max(run.start, lo); };

  // Visits the ended runs of b, newest first, that end at least `least`
  // bytes into the window, until `visit` says stop.
  const auto runsOfByte = [&](std::uint32_t least, auto visit) {
    std::uint32_t newer = p;
    for (std::uint16_t slot = t_.newestRunOfByte[b]; slot != Tables::NoRun;) {
      const Run& run = t_.runs[slot];
      if (run.byte != b || run.end >= newer || run.end < lo + least) return;
      if (!visit(run)) return;
      newer = run.end;
      slot = run.earlierOfByte;
    }
  };

  if (r == MaxMatch) {
    // Every candidate with 516 bytes of b before it matches in full: the
    // oldest of them is the first position in the window of the oldest
    // run long enough, else of p's own run.
    std::uint32_t oldest = 0;
    runsOfByte(MaxMatch, [&](const Run& run) {
      if (reach(run) >= MaxMatch) oldest = std::max(run.start, lo);
      return true;
    });
    if (oldest != 0) return {MaxMatch, p - oldest};
    if (inRun) return {MaxMatch, p - std::max(runStart_, lo)};
  } else {
    // A candidate that leaves exactly r bytes of its run matches further
    // when the same byte follows both runs.
    const std::uint8_t next = x[r];
    const std::uint32_t hash = EndHash(b, next);
    std::uint32_t best = r;
    std::uint32_t bestAt = 0;
    std::uint32_t newer = p;
    for (std::uint16_t slot = t_.newestRunOfEnd[hash]; slot != Tables::NoRun;) {
      const Run& run = t_.runs[slot];
      if (EndHash(run.byte, run.next) != hash || run.end >= newer || run.end < lo + r) break;
      newer = run.end;
      slot = run.earlierOfEnd;
      if (run.byte != b || run.next != next || reach(run) < r) continue;
      const std::uint8_t* after = At(run.end);
      if (after[best - r] != x[best]) continue;
      const std::uint32_t length = r + CommonLength(after, x + r, MaxMatch - r);
      if (length <= best) continue;
      best = length;
      bestAt = run.end - r;
      if (length == MaxMatch) {
        bestAt = OldestFullAfterRuns(bestAt, p, lo, slot);
        break;
      }
    }
    if (bestAt != 0) return {best, p - bestAt};
    // Otherwise r bytes is the longest, and the newest candidate of that
    // length is two bytes back in p's run, or the one that leaves r bytes
    // of the newest run long enough.
    if (inRun) return {r, MinCopyLength};
    std::uint32_t newest = 0;
    runsOfByte(r, [&](const Run& run) {
      if (reach(run) < r) return true;
      newest = run.end - r;
      return false;
    });
    if (newest != 0) return {r, p - newest};
  }

  // No candidate matches all r bytes: the longest part of an ended run in
  // the window, or else any pair of b.
  std::uint32_t best = MinCopyLength;
  std::uint32_t bestAt = 0;
  runsOfByte(MinRun, [&](const Run& run) {
    if (reach(run) > best) {
      best = reach(run);
      bestAt = std::max(run.start, lo);
    }
    return true;
  });
  if (bestAt != 0) return {best, p - bestAt};
  const std::uint32_t pair = t_.newestPair[b | (std::uint32_t{b} << 8)];
  if (pair >= lo) return {MinCopyLength, p - pair};
  return {};
}

// The oldest candidate after an ended run that matches 516 bytes, given the
// newest one and the slot of the run before it.
std::uint32_t MatchFinder::OldestFullAfterRuns(std::uint32_t newest, std::uint32_t p,
                                               std::uint32_t lo, std::uint32_t slot) {
  const std::uint8_t* x = At(p);
  const std::uint8_t b = x[0];
  const std::uint32_t r = RunLength(x, b, MaxMatch);
  const std::uint8_t next = x[r];
  const std::uint32_t hash = EndHash(b, next);
  std::uint32_t count = 0;
  std::uint32_t newer = newest + r;
  while (slot != Tables::NoRun) {
    const Run& run = t_.runs[slot];
    if (EndHash(run.byte, run.next) != hash || run.end >= newer || run.end < lo + r) break;
    newer = run.end;
    slot = run.earlierOfEnd;
    if (run.byte == b && run.next == next && run.end - std::max(run.start, lo) >= r)
      t_.candidates[count++] = run.end - r;
  }
  while (count > 0) {
    const std::uint32_t c = t_.candidates[--count];
    if (CommonLength(At(c), x, MaxMatch) == MaxMatch) return c;
  }
  return newest;
}

}  // namespace qd::codec
