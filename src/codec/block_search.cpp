//===- block_search.cpp - The compressor's block index and its search -------===//
//
// The search that defines the compressor's streams, kept in its plain form:
// MatchFinder must give the same answer at every position, and a checking
// build compares the two (see implode_search.h).
//
// Once per block a counting sort by pair hash (4 * first byte + 5 * second
// byte) lists every indexed offset bucket by bucket in increasing order. A
// search walks its bucket from the oldest offset still in the window; the
// bucket's start only moves forward within a block. A match longer than 10
// bytes switches the rest of the walk to a failure table over the bytes
// being matched, which skips candidates that cannot beat it.
//
//===----------------------------------------------------------------------===//
#include <algorithm>

#include "codec/implode_search.h"
#include "codec/tables.h"

namespace qd::codec {
namespace {

constexpr std::uint32_t MaxMatch = ImplodeMaxMatch;
// Matches longer than this switch the search to the failure table.
constexpr std::uint32_t LongMatch = 10;

}  // namespace

BlockSearch::BlockSearch(ImplodeState& state, std::uint32_t dictionary)
    : s_(state), w_(state.work.data()), dictionary_(dictionary) {}

std::uint32_t BlockSearch::Hash(std::uint32_t q) const { return 4u * w_[q] + 5u * w_[q + 1]; }

void BlockSearch::Index(std::uint32_t start, std::uint32_t end) {
  auto& buckets = s_.buckets;
  auto& positions = s_.positions;
  std::fill(buckets.begin(), buckets.end(), std::uint16_t{0});
  for (std::uint32_t q = start; q <= end; ++q) ++buckets[Hash(q)];
  std::uint16_t total = 0;
  for (auto& bucket : buckets) {
    total = static_cast<std::uint16_t>(total + bucket);
    bucket = total;
  }
  for (std::uint32_t q = end + 1; q-- > start;)
    positions[--buckets[Hash(q)]] = static_cast<std::uint16_t>(q);
  // The bytes past the work buffer: the position table's first bytes, low
  // byte first, as the table follows the buffer in the record's layout.
  for (std::uint32_t i = 0; i < ImplodeWorkSlack / 2; ++i) {
    s_.work[ImplodeWorkSize + 2 * i] = static_cast<std::uint8_t>(positions[i]);
    s_.work[ImplodeWorkSize + 2 * i + 1] = static_cast<std::uint8_t>(positions[i] >> 8);
  }
}

Match BlockSearch::Search(std::uint32_t p) {
  const auto& positions = s_.positions;
  const std::uint32_t hash = Hash(p);
  std::uint32_t i = s_.buckets[hash];
  const std::uint32_t oldest = p - dictionary_ + 1;
  while (positions[i] < oldest) ++i;  // p itself is in the bucket
  s_.buckets[hash] = static_cast<std::uint16_t>(i);

  const std::uint32_t limit = p - 1;  // a distance of 1 is never used
  Match best{1, 0};
  for (; positions[i] < limit; ++i) {
    const std::uint32_t c = positions[i];
    if (w_[c + best.length - 1] != w_[p + best.length - 1] || w_[c] != w_[p]) continue;
    std::uint32_t j = 2;
    while (j < MaxMatch && w_[c + j] == w_[p + j]) ++j;
    if (j >= best.length) {
      best = {j, p - c};
      if (j > LongMatch) return LongSearch(p, i, best);
    }
  }
  return best.length >= MinCopyLength ? best : Match{};
}

void BlockSearch::ExtendFailure(std::uint32_t p, std::uint32_t from, std::uint32_t to) {
  auto& f = s_.failure;
  for (std::uint32_t k = from + 1; k <= to; ++k) {
    std::int32_t border = f[k - 1];
    while (border >= 0 && w_[p + static_cast<std::uint32_t>(border)] != w_[p + k - 1])
      border = f[static_cast<std::uint32_t>(border)];
    f[k] = static_cast<std::int16_t>(border + 1);
  }
}

// The rest of the bucket after `best` (longer than 10 bytes) was found at
// the candidate with index i. The failure table says where the bytes just
// matched could begin a match again, so candidates that start before that
// are passed over; a candidate that differs from the bytes at p in the
// byte before the best match's last cannot reach it either.
Match BlockSearch::LongSearch(std::uint32_t p, std::uint32_t i, Match best) {
  const auto& positions = s_.positions;
  if (best.length == MaxMatch) return best;
  const std::uint32_t limit = p - 1;
  if (positions[i + 1] >= limit) return best;

  s_.failure[0] = -1;
  s_.failure[1] = 0;
  ExtendFailure(p, 1, best.length);
  std::uint32_t length = best.length;
  std::uint32_t e = positions[i] + best.length;  // the byte after the last match
  for (;;) {
    const std::int32_t border = s_.failure[length];
    std::uint32_t o = border < 0 ? 0 : static_cast<std::uint32_t>(border);
    std::uint32_t t = 0;
    do {
      t = positions[++i];
      if (t >= limit) return best;
    } while (t + o < e);

    const std::uint32_t check = best.length - 2;
    if (w_[t + check] != w_[p + check]) {
      do {
        t = positions[++i];
        if (t >= limit) return best;
      } while (w_[t + check] != w_[p + check] || w_[t] != w_[p]);
      o = 2;
      e = t + 2;
    } else if (t + o != e) {
      o = 0;
      e = t;
    }

    length = o;
    while (w_[e] == w_[p + length]) {
      if (++length == MaxMatch) break;
      ++e;
    }
    if (length >= best.length) {
      best.distance = p - t;
      if (length > best.length) {
        if (length == MaxMatch) return {MaxMatch, p - t};
        ExtendFailure(p, best.length, length);
        best.length = length;
      }
    }
  }
}

}  // namespace qd::codec
