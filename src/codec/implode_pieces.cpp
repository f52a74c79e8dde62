//===- implode_pieces.cpp - One input imploded in pieces, joined exactly ----===//
//
// The compressor's parse has no state but its position: the match at a
// position depends only on the dictionary before it and the bytes after it
// (away from the stream's first two blocks and its last one), and the choice
// between a literal and a copy only on the matches there and on where blocks
// end, which is fixed by the input position. So two parses of the same text
// that ever start a token at the same position go on identically.
//
// A piece therefore starts its parse at its first byte, with the dictionary
// before it as history, while the piece before it parses on for
// ImplodeOverlap bytes past that point. Both record where their tokens start
// there, with the bit at which each token begins; the join takes the earlier
// piece's bits up to the first position where both start a token, and the
// later piece's bits from there, at whatever bit either stands. Where the
// two never meet (long stretches of one repeated pattern can keep them a
// phase apart), the later piece is encoded again from where the earlier one
// stopped, a token start of the true parse.
//
// The plan keeps every piece long enough that its start lies well past the
// stream's first blocks and its parse has met or been redone long before
// the input's last block, where the bytes past the data depend on how that
// block was indexed.
//
//===----------------------------------------------------------------------===//
#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <utility>

#include "codec/codec.h"
#include "codec/implode_search.h"
#include "codec/tables.h"

namespace qd {
namespace {

using namespace codec;

constexpr std::uint64_t BlockSize = ImplodeReadSize;
// Bytes readable past a piece's bits, so that the join reads whole words.
constexpr std::size_t BitsSlack = 8;

#ifdef QDPACK_IMPLODE_CHECK
constexpr auto PieceSearch = MatchSearch::Checked;
#else
constexpr auto PieceSearch = MatchSearch::Fast;
#endif

// The block whose range of encoded positions holds input position `at`: the
// stream's encoder loads block k's bytes [4096k, 4096k + 4096) and encodes
// the positions below 4096(k + 1) - 516 with it.
std::uint64_t BlockOf(std::uint64_t at) { return (at + ImplodeMaxMatch) / BlockSize; }

std::uint64_t LoadWord(const std::uint8_t* at) {
  std::uint64_t word;
  std::memcpy(&word, at, sizeof word);
  if constexpr (std::endian::native == std::endian::big) {
    std::uint64_t swapped = 0;
    for (int i = 0; i < 8; ++i) swapped = (swapped << 8) | ((word >> (8 * i)) & 0xFF);
    word = swapped;
  }
  return word;
}

void StoreWord(std::uint8_t* at, std::uint64_t word) {
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(at, &word, sizeof word);
  } else {
    for (int i = 0; i < 8; ++i) at[i] = static_cast<std::uint8_t>(word >> (8 * i));
  }
}

// Appends bits [from, to) of `source` (which has BitsSlack bytes beyond its
// bits) to the stream, at whatever bit the stream stands: a few bits until
// the stream stands at a whole byte, then eight whole bytes at a time, then
// the rest.
void AppendBits(ImplodeJoin& join, const std::vector<std::uint8_t>& source, std::uint64_t from,
                std::uint64_t to) {
  if (to <= from) return;
  std::vector<std::uint8_t>& out = join.stream;
  std::uint64_t bit = join.streamBits;
  out.resize(static_cast<std::size_t>((bit + (to - from) + 7) / 8 + BitsSlack), 0);
  const std::uint8_t* in = source.data();
  std::uint8_t* o = out.data();
  // Up to 32 bits, added to the stream's last byte and those after it.
  const auto put = [&](std::uint64_t n) {
    const std::uint64_t value = (LoadWord(in + from / 8) >> (from % 8)) & ((std::uint64_t{1} << n) - 1);
    StoreWord(o + bit / 8, LoadWord(o + bit / 8) | (value << (bit % 8)));
    from += n;
    bit += n;
  };
  if (bit % 8 != 0) put(std::min<std::uint64_t>(8 - bit % 8, to - from));
  // Bytes that the stream has nothing in yet: stored, not added to. The
  // second word read lies within the source's bits and slack, as `to` does.
  const unsigned shift = from % 8;
  for (; to - from >= 64; from += 64, bit += 64) {
    const std::uint8_t* at = in + from / 8;
    std::uint64_t value = LoadWord(at) >> shift;
    if (shift != 0) value |= LoadWord(at + 8) << (64 - shift);
    StoreWord(o + bit / 8, value);
  }
  while (from < to) put(std::min<std::uint64_t>(32, to - from));
  join.streamBits = bit;
  out.resize(static_cast<std::size_t>((bit + 7) / 8));
}

// The piece's job: where it starts, stops and records.
PieceJob JobOf(const ImplodePlan& plan, std::size_t index, std::span<const std::uint8_t> bytes) {
  const ImplodePiece& piece = plan.pieces[index];
  const bool last = index + 1 == plan.pieces.size();
  PieceJob job;
  job.bytes = bytes;
  job.bytesAt = piece.readBegin;
  job.from = piece.begin;
  job.stop = last ? EndOfInput : piece.end + ImplodeOverlap;
  if (index > 0) {
    job.headFrom = piece.begin;
    job.headTo = piece.begin + ImplodeOverlap;
  }
  job.tailFrom = last ? EndOfInput : piece.end;
  return job;
}

// Empties a piece, keeping its buffers' memory for the next one.
void Empty(ImplodedPiece& piece) {
  piece.bits.clear();
  piece.bitCount = 0;
  piece.stop = 0;
  piece.head.clear();
  piece.tail.clear();
}

void Encode(const ImplodePlan& plan, const PieceJob& job, ImplodeState& state, ImplodedPiece& out) {
  Empty(out);
  // Room for the most bits the bytes can give, so that the bits never move
  // (a piece's buffers are reused from piece to piece, and the room a piece
  // does not use is never touched).
  out.bits.reserve(static_cast<std::size_t>(CompressBound(job.bytes.size()) + BitsSlack));
  state.literalMode = plan.literalMode;
  state.dictionaryBits = DictionaryBitsFor(plan.dictionarySize);
  EncodePiece(PieceSearch, job, state, out);
  out.bits.resize(out.bits.size() + BitsSlack, 0);
}

// The piece that stands for [begin, end) of an input of `size` bytes, with
// the bytes it reads: from the block before the one that holds `begin`, to
// the end of the block that holds the last token start of its overlap.
ImplodePiece PieceFor(std::uint64_t size, std::uint32_t dictionarySize, std::uint64_t begin, std::uint64_t end) {
  ImplodePiece piece{begin, end, 0, size};
  if (begin > 0) piece.readBegin = (BlockOf(begin) - 1) * BlockSize - (dictionarySize + ImplodeMaxMatch);
  if (end < size) piece.readEnd = std::min(size, (BlockOf(end + ImplodeOverlap - 1) + 1) * BlockSize);
  return piece;
}

// A plan as PlanImplode makes them: valid settings, pieces that follow each
// other to the input's end, none but the first starting before the
// smallest piece's length or shorter than it, each reading what it needs.
// A plan made otherwise could send a piece's reads outside its bytes.
[[nodiscard]] bool Valid(const ImplodePlan& plan) {
  if (DictionaryBitsFor(plan.dictionarySize) == 0 ||
      (plan.literalMode != BinaryLiterals && plan.literalMode != AsciiLiterals) || plan.pieces.empty())
    return false;
  std::uint64_t at = 0;
  for (const ImplodePiece& piece : plan.pieces) {
    if (piece.begin != at || piece.end > plan.size || (piece.end <= piece.begin && plan.size != 0)) return false;
    if (at != 0 && (piece.begin < ImplodeSmallestPiece || piece.end - piece.begin < ImplodeSmallestPiece)) return false;
    const ImplodePiece expected = PieceFor(plan.size, plan.dictionarySize, piece.begin, piece.end);
    if (piece.readBegin != expected.readBegin || piece.readEnd != expected.readEnd) return false;
    at = piece.end;
  }
  return at == plan.size;
}

[[nodiscard]] bool Fits(const ImplodePlan& plan, std::size_t index, std::span<const std::uint8_t> bytes) {
  if (index >= plan.pieces.size() || !Valid(plan)) return false;
  const ImplodePiece& piece = plan.pieces[index];
  return bytes.size() == piece.readEnd - piece.readBegin;
}

// The first position where both parses start a token, as an index into
// each list; none when they never meet.
struct Meeting {
  std::size_t earlier;
  std::size_t later;
};
[[nodiscard]] std::optional<Meeting> FirstMeeting(const std::vector<ImplodeBoundary>& earlier,
                                                  const std::vector<ImplodeBoundary>& later) {
  std::size_t i = 0;
  std::size_t j = 0;
  while (i < earlier.size() && j < later.size()) {
    if (earlier[i].position == later[j].position) return Meeting{i, j};
    if (earlier[i].position < later[j].position) {
      ++i;
    } else {
      ++j;
    }
  }
  return std::nullopt;
}

#ifdef QDPACK_IMPLODE_CHECK
std::uint32_t CheckRead(std::uint8_t* buffer, std::uint32_t* size, void* parameter) {
  auto& rest = *static_cast<std::span<const std::uint8_t>*>(parameter);
  const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(*size, rest.size()));
  std::memcpy(buffer, rest.data(), n);
  rest = rest.subspan(n);
  return n;
}

// Compares the joined stream with the one the whole stream's encoder writes.
void CheckJoined(const ImplodeJoin& join, const ImplodePlan& plan) {
  struct Compare {
    std::span<const std::uint8_t> input;
    std::span<const std::uint8_t> joined;
    std::uint64_t at = 0;
    std::uint64_t firstDifference = UINT64_MAX;
  } compare{join.checked, join.stream};
  const auto read = [](std::uint8_t* buffer, std::uint32_t* size, void* parameter) -> std::uint32_t {
    return CheckRead(buffer, size, &static_cast<Compare*>(parameter)->input);
  };
  const auto write = [](const std::uint8_t* buffer, std::uint32_t* size, void* parameter) {
    auto& c = *static_cast<Compare*>(parameter);
    for (std::uint32_t i = 0; i < *size; ++i, ++c.at)
      if (c.firstDifference == UINT64_MAX && (c.at >= c.joined.size() || c.joined[c.at] != buffer[i]))
        c.firstDifference = c.at;
  };
  auto state = std::make_unique_for_overwrite<ImplodeState>();
  ImplodeStream(read, write, *state, &compare, plan.literalMode, plan.dictionarySize);
  if (compare.firstDifference == UINT64_MAX && compare.at == join.stream.size()) return;
  std::fprintf(stderr,
               "implode check: the stream joined from %zu pieces (%zu encoded again) differs from the "
               "whole stream at byte %llu (lengths %zu and %llu)\n",
               plan.pieces.size(), join.reencoded,
               static_cast<unsigned long long>(std::min(compare.firstDifference, compare.at)),
               join.stream.size(), static_cast<unsigned long long>(compare.at));
  std::abort();
}
#endif

}  // namespace

ImplodePlan PlanImplode(std::uint64_t size, std::uint32_t literalMode, std::uint32_t dictionarySize,
                        std::uint64_t pieceSize) {
  ImplodePlan plan;
  plan.literalMode = literalMode;
  plan.dictionarySize = dictionarySize;
  plan.size = size;
  if (DictionaryBitsFor(dictionarySize) == 0 || (literalMode != BinaryLiterals && literalMode != AsciiLiterals))
    return plan;
  pieceSize = std::max(pieceSize, ImplodeSmallestPiece);
  const std::uint64_t count = size <= 2 * pieceSize ? 1 : size / pieceSize;
  const std::uint64_t step = size / count;
  for (std::uint64_t i = 0; i < count; ++i) {
    const std::uint64_t begin = i * step / BlockSize * BlockSize;
    const std::uint64_t end = i + 1 == count ? size : (i + 1) * step / BlockSize * BlockSize;
    plan.pieces.push_back(PieceFor(size, dictionarySize, begin, end));
  }
  return plan;
}

bool ImplodePieceOf(const ImplodePlan& plan, std::size_t index, std::span<const std::uint8_t> bytes,
                    ImplodeState& state, ImplodedPiece& piece) {
  if (!Fits(plan, index, bytes)) return false;
  Encode(plan, JobOf(plan, index, bytes), state, piece);
  return true;
}

bool JoinImplodePiece(ImplodeJoin& join, const ImplodePlan& plan, std::size_t index, ImplodedPiece& piece,
                      std::span<const std::uint8_t> bytes) {
  if ((index != join.joined && index != 0) || !Fits(plan, index, bytes)) return false;
  // The piece's bits are swapped with those of the piece held before, so
  // that their buffers go back to the caller for its next piece.
  if (index == 0) {
    join.stream.clear();
    join.streamBits = 0;
    join.reencoded = 0;
    join.joined = 0;
    join.checked.clear();
    std::swap(join.held, piece);
    join.heldFrom = 0;
  } else if (const auto meeting = FirstMeeting(join.held.tail, piece.head)) {
    AppendBits(join, join.held.bits, join.heldFrom, join.held.tail[meeting->earlier].bit);
    join.heldFrom = piece.head[meeting->later].bit;
    std::swap(join.held, piece);
  } else {
    // The parses never met: this piece again, from where the last stopped.
    PieceJob job = JobOf(plan, index, bytes);
    job.from = join.held.stop;
    job.headFrom = job.headTo = 0;
    auto state = std::make_unique_for_overwrite<ImplodeState>();
    ImplodedPiece again;
    Encode(plan, job, *state, again);
    AppendBits(join, join.held.bits, join.heldFrom, join.held.bitCount);
    join.held = std::move(again);
    join.heldFrom = 0;
    ++join.reencoded;
  }
  Empty(piece);
#ifdef QDPACK_IMPLODE_CHECK
  const ImplodePiece& part = plan.pieces[index];
  const auto own = bytes.subspan(static_cast<std::size_t>(part.begin - part.readBegin),
                                 static_cast<std::size_t>(part.end - part.begin));
  join.checked.insert(join.checked.end(), own.begin(), own.end());
#endif
  ++join.joined;
  if (join.joined == plan.pieces.size()) {
    AppendBits(join, join.held.bits, join.heldFrom, join.held.bitCount);
    Empty(join.held);
#ifdef QDPACK_IMPLODE_CHECK
    CheckJoined(join, plan);
    join.checked = {};
#endif
  }
  return true;
}

}  // namespace qd
