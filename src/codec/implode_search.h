//===- implode_search.h - The compressor's match searches -------------------===//
//
// The compressor asks one question at every position: the longest earlier
// occurrence of the bytes that follow. Two searches answer it, with the same
// answer by construction:
//
// - BlockSearch is the search that defines the streams: once per block a
//   counting sort by pair hash lists the indexed offsets bucket by bucket,
//   and each search walks its bucket from the oldest entry, switching to a
//   failure table once a match is longer than 10 bytes.
// - MatchFinder gives the same result from hash chains over four bytes
//   walked newest first, runs of one byte kept as runs, and the newest
//   positions of each pair and three bytes.
//
// What fixes the result is not the walk but the rule: among the indexed
// positions from D - 1 to 2 bytes back whose first two bytes are those at the
// current position, the longest match, capped at 516 bytes; among equally
// long ones the newest, except that among 516-byte matches the oldest wins.
// (The bucket walk meets every such position in order; the failure table
// passes over only candidates that cannot reach the best length, and those
// that merely share the pair's hash never match.) ImplodeStreamUsing runs
// either search, or both side by side.
//
//===----------------------------------------------------------------------===//
#pragma once

#include <cstdint>

#include "codec/codec.h"

namespace qd::codec {

// A match for the bytes at a position: `length` bytes from `distance` back;
// length 0 is none.
struct Match {
  std::uint32_t length = 0;
  std::uint32_t distance = 0;
  bool operator==(const Match&) const = default;
};

// The block index and its search, over the work buffer's offsets.
class BlockSearch {
 public:
  BlockSearch(ImplodeState& state, std::uint32_t dictionary);

  // Lists the offsets from `start` to `end` (inclusive) by pair hash, each
  // bucket in increasing order, and lays the table's first bytes past the
  // work buffer.
  void Index(std::uint32_t start, std::uint32_t end);
  Match Search(std::uint32_t p);

 private:
  std::uint32_t Hash(std::uint32_t q) const;
  Match LongSearch(std::uint32_t p, std::uint32_t i, Match best);
  void ExtendFailure(std::uint32_t p, std::uint32_t from, std::uint32_t to);

  ImplodeState& s_;
  const std::uint8_t* w_;
  std::uint32_t dictionary_;
};

// Hash chains and runs, kept up to date lazily as the search moves forward.
// Offsets are those of the work buffer; inside, positions are offsets plus
// the bytes that have moved out of the buffer, so that the tables need no
// change when it moves.
class MatchFinder {
 public:
  MatchFinder(ImplodeMatchTables& tables, const std::uint8_t* work, std::uint32_t dictionary);

  // Forgets every earlier stream; the first byte lies at offset `first`.
  void Start(std::uint32_t first);
  // The current block's index starts at offset `floor`: nothing below it is
  // a candidate.
  void StartBlock(std::uint32_t floor);
  // The work buffer's bytes moved down by `bytes`.
  void MoveDown(std::uint32_t bytes);
  // Searches must come at increasing offsets. Only a match longer than
  // `beat` bytes is wanted: when there is one the result is exact, else it
  // is one no longer than `beat` (maybe none).
  Match Search(std::uint32_t p, std::uint32_t beat = 0);

 private:
  using Run = ImplodeMatchTables::Run;

  const std::uint8_t* At(std::uint32_t position) const { return w_ + (position - shift_); }
  void InsertThrough(std::uint32_t last);
  std::uint32_t PassRun(std::uint32_t q, std::uint32_t last);
  void EndRun(std::uint32_t start, std::uint32_t end, std::uint8_t byte, std::uint8_t next);
  Match ChainSearch(std::uint32_t p, std::uint32_t lo, std::uint32_t beat);
  std::uint32_t NewestTriple(std::uint32_t newer, std::uint32_t lo, std::uint32_t triple) const;
  std::uint32_t OldestFullInChain(std::uint32_t newest, std::uint32_t p, std::uint32_t lo);
  Match RunSearch(std::uint32_t p, std::uint32_t lo);
  std::uint32_t OldestFullAfterRuns(std::uint32_t newest, std::uint32_t p, std::uint32_t lo,
                                    std::uint32_t run);
  void Rebase();

  ImplodeMatchTables& t_;
  const std::uint8_t* w_;
  std::uint32_t dictionary_;
  std::uint32_t shift_ = 0;     // position of offset 0
  std::uint32_t floor_ = 0;     // first position of the block's index
  std::uint32_t inserted_ = 0;  // next position to enter the tables
  std::uint32_t runStart_ = 0;  // where the run entered last began
  bool runOpen_ = false;        // that run goes on past the positions entered
  std::uint8_t runByte_ = 0;    // its byte
  std::uint32_t runCount_ = 0;  // runs recorded, the ring's next slot
};

// One piece of a stream encoded in pieces (see implode_pieces.cpp): the
// parse starts at input position `from` (0: the stream's start, header
// included), with the input before it as history, and stops at the first
// token that starts at or past `stop` (EndOfInput: the input's end, end code
// included). Token starts in [headFrom, headTo) and in [tailFrom, stop) are
// recorded with their bit positions.
inline constexpr std::uint64_t EndOfInput = UINT64_MAX;
struct PieceJob {
  std::span<const std::uint8_t> bytes;
  std::uint64_t bytesAt = 0;  // the input position of bytes[0]
  std::uint64_t from = 0;
  std::uint64_t stop = EndOfInput;
  std::uint64_t headFrom = 0;
  std::uint64_t headTo = 0;
  std::uint64_t tailFrom = EndOfInput;
};

// How ImplodeStreamUsing finds its matches. Checked runs both searches at
// every position and stops the process at the first difference.
enum class MatchSearch { Fast, Block, Checked };

// Encodes a piece with the literal mode and dictionary set in `state`.
void EncodePiece(MatchSearch search, const PieceJob& job, ImplodeState& state, ImplodedPiece& out);

// ImplodeStream with a chosen search; the stream is the same with each.
std::uint32_t ImplodeStreamUsing(MatchSearch search, CodecReadFn read, CodecWriteFn write,
                                 ImplodeState& state, void* parameter, std::uint32_t literalMode,
                                 std::uint32_t dictionarySize);

}  // namespace qd::codec
