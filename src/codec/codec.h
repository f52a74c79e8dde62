//===- codec.h - Implode-format compressor and decompressor ----------------===//
//
// The system's own codec for the implode stream format: ExplodeStream and
// ImplodeStream work through read and write callbacks on a caller-owned,
// zero-filled state record; CompressToMemory and DecompressToMemory run them
// from one memory buffer into another with binary literals and the
// 4096-byte dictionary, the settings of every stream in a package.
//
// A stream is two header bytes (literal mode 0 binary or 1 ASCII; dictionary
// bits 4, 5 or 6 for 1024, 2048 or 4096 bytes) and a bit stream of literals
// and copies ending with the end-of-stream code. The code tables are in
// codec/tables.h.
//
//===----------------------------------------------------------------------===//
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace qd {

//===----------------------------------------------------------------------===//
// Callbacks
//===----------------------------------------------------------------------===//

// Places up to `*size` bytes at `buffer` and returns how many it placed; 0
// means the input is exhausted. The codec never asks for more than its buffer
// holds and ignores any count beyond what it asked for.
using CodecReadFn = std::uint32_t (*)(std::uint8_t* buffer, std::uint32_t* size, void* parameter);
// Takes the `*size` bytes at `buffer`. It cannot refuse: a consumer that
// cannot take them notes that itself.
using CodecWriteFn = void (*)(const std::uint8_t* buffer, std::uint32_t* size, void* parameter);

//===----------------------------------------------------------------------===//
// Decompressor
//===----------------------------------------------------------------------===//

// ExplodeStream's results.
inline constexpr std::uint32_t ExplodeOk = 0;
inline constexpr std::uint32_t ExplodeBadDictionary = 1;   // header byte 1 not 4, 5 or 6
inline constexpr std::uint32_t ExplodeBadLiteralMode = 2;  // header byte 0 not 0 or 1
inline constexpr std::uint32_t ExplodeTooShort = 3;        // first read gave 4 bytes or fewer
inline constexpr std::uint32_t ExplodeTruncated = 4;       // input ended before the end code

inline constexpr std::uint32_t ExplodeReadSize = 2048;
inline constexpr std::uint32_t ExplodeWriteSize = 4096;
// The window keeps 4096 bytes of history below the new output; 8192 plus room
// for the longest copy begun at index 8191, plus slack for word-wise copies.
inline constexpr std::uint32_t ExplodeWindowSize = 8192 + 517;
inline constexpr std::uint32_t ExplodeWindowSlack = 32;

// What the decoder keeps for one stream: the settings read from the header
// and its two buffers. The caller owns the record (it is too large for a
// stack) and need not clear it: the decoder clears the history itself and
// writes every other byte before it reads it, so a record may be reused, or
// allocated without being filled (std::make_unique_for_overwrite), which
// spares a short stream the cost of memory it never touches.
struct ExplodeState {
  std::uint32_t literalMode;     // header byte 0
  std::uint32_t dictionaryBits;  // header byte 1
  std::array<std::uint8_t, ExplodeWindowSize + ExplodeWindowSlack> window;
  std::array<std::uint8_t, ExplodeReadSize + 8> input;
};

// Decodes one whole stream pulled through `read` and pushes the bytes through
// `write`: reads of 2048 bytes as needed, writes of 4096 bytes, then one
// final write of the rest (none when the header is refused). Returns one of
// the Explode* results.
std::uint32_t ExplodeStream(CodecReadFn read, CodecWriteFn write, ExplodeState& state,
                            void* parameter);

//===----------------------------------------------------------------------===//
// Compressor
//===----------------------------------------------------------------------===//

// ImplodeStream's results.
inline constexpr std::uint32_t ImplodeOk = 0;
inline constexpr std::uint32_t ImplodeBadDictionary = 1;   // size not 1024, 2048 or 4096
inline constexpr std::uint32_t ImplodeBadLiteralMode = 2;  // mode not 0 or 1

inline constexpr std::uint32_t ImplodeReadSize = 4096;
inline constexpr std::uint32_t ImplodeWriteSize = 2048;
inline constexpr std::uint32_t ImplodeMaxMatch = 516;
inline constexpr std::uint32_t ImplodeHashCount = 2304;
// Work buffer: a 4096-byte dictionary, 516 bytes of look-ahead and one block.
inline constexpr std::uint32_t ImplodeWorkSize = 4096 + ImplodeMaxMatch + ImplodeReadSize;
// A match comparison may run up to 516 bytes past the loaded data (and word-
// wise comparison a few more). Past the work buffer's end, those bytes mirror
// the start of the position table as it lies in memory, so the matches found
// there are the same as in a record laid out in that order.
inline constexpr std::uint32_t ImplodeWorkSlack = 528;

// The tables of the compressor's match search (see codec/match_finder.cpp).
// A position is a work-buffer offset plus the bytes that have moved out of
// the buffer, so that the tables stay valid when it moves; 0 is none.
struct ImplodeMatchTables {
  static constexpr std::uint32_t HashBits = 15;
  static constexpr std::uint32_t LinkCount = 4096;  // a whole window of positions
  static constexpr std::uint32_t RunCount = 2048;   // more runs than fit in a window
  static constexpr std::uint32_t EndHashCount = 4096;
  static constexpr std::uint16_t NoRun = 0xFFFF;

  // A maximal run of at least 3 equal bytes that has ended.
  struct Run {
    std::uint32_t start;
    std::uint32_t end;  // the position of the first other byte
    std::uint16_t earlierOfByte;  // the run before it of the same byte
    std::uint16_t earlierOfEnd;   // the run before it with the same end hash
    std::uint8_t byte;
    std::uint8_t next;  // the byte at `end`
  };

  std::array<std::uint32_t, 1u << 16> newestPair;  // by the two bytes at a position
  // Positions whose first three bytes are not all equal: the newest by a
  // hash of their first three bytes; and by a hash of their first four, the
  // newest and for each position the one before it.
  std::array<std::uint32_t, 1u << 16> newestTriple;
  std::array<std::uint32_t, 1u << HashBits> newestQuad;
  std::array<std::uint32_t, LinkCount> earlierQuad;
  // For each position, the one two before it in its quad chain: a walk
  // follows two links at once, every other candidate on each.
  std::array<std::uint32_t, LinkCount> earlierQuad2;
  std::array<Run, RunCount> runs;  // a ring
  std::array<std::uint16_t, 256> newestRunOfByte;
  std::array<std::uint16_t, EndHashCount> newestRunOfEnd;  // by byte and next byte
  std::array<std::uint32_t, LinkCount> candidates;  // scratch: a walk's positions
};

// What the compressor keeps for one stream: its settings and its buffers.
// The caller owns the record (it is too large for a stack) and need not
// clear it: the compressor clears or writes whatever it reads, so a record
// may be reused, or allocated without being filled
// (std::make_unique_for_overwrite). An input shorter than one block never
// touches the match tables, so a short stream costs no memory it does not
// use.
struct ImplodeState {
  std::uint32_t literalMode;
  std::uint32_t dictionaryBits;
  std::array<std::uint8_t, ImplodeWriteSize + 8> output;  // a write, and one word more
  // D bytes of history, 516 bytes of look-ahead and one block of input.
  std::array<std::uint8_t, ImplodeWorkSize + ImplodeWorkSlack> work;
  // The block index: every indexed offset, bucket by bucket of the pair
  // hash, and each bucket's first entry still in the window. The final
  // block's table also gives the bytes past the work buffer.
  std::array<std::uint16_t, ImplodeHashCount> buckets;
  std::array<std::uint16_t, ImplodeWorkSize> positions;
  // The failure function over the bytes being matched (long matches).
  std::array<std::int16_t, ImplodeMaxMatch> failure;
  ImplodeMatchTables matches;
};

// Compresses everything that `read` delivers (asked for 4096 bytes at a time)
// into one stream pushed through `write` in 2048-byte pieces and one final
// piece. `literalMode` is 0 (binary) or 1 (ASCII); `dictionarySize` is 1024,
// 2048 or 4096. Returns one of the Implode* results; with a refused setting
// nothing is read or written.
std::uint32_t ImplodeStream(CodecReadFn read, CodecWriteFn write, ImplodeState& state,
                            void* parameter, std::uint32_t literalMode,
                            std::uint32_t dictionarySize);

//===----------------------------------------------------------------------===//
// One input in pieces: the same stream, from work that may run in parallel
//
// A large input in memory can be imploded in pieces that are encoded
// independently (in any order, on any threads) and joined in order into
// exactly the stream that ImplodeStream writes. Each piece parses from its
// start with the input before it as history; the piece before it parses on
// past that point. A match looks back at most one dictionary, so two
// parses of the same text settle onto the same token boundaries within a
// few tokens: the join cuts the earlier piece and starts the later one where
// their parses first meet, at any bit. A piece whose parse does not meet its
// predecessor's within the overlap is encoded again from where that one
// stopped, which is always right, only slower.
//
//   ImplodePlan plan = PlanImplode(size);             // pieces of the input
//   ImplodedPiece piece[i];                           // on any thread:
//   ImplodePieceOf(plan, i, bytes of PieceBytes(i), state, piece[i]);
//   ImplodeJoin join;                                 // in order, i = 0, 1, ...:
//   JoinImplodePiece(join, plan, i, piece[i], bytes of PieceBytes(i));
//   join.stream                                       // after the last piece
//===----------------------------------------------------------------------===//

// Inputs larger than twice this are split; each piece is at least this long.
inline constexpr std::uint64_t ImplodePieceSize = std::uint64_t{4} << 20;
// How far past its end a piece parses, looking for the next one's parse.
inline constexpr std::uint64_t ImplodeOverlap = 16 * 1024;
// The smallest piece a plan may ask for.
inline constexpr std::uint64_t ImplodeSmallestPiece = 4 * ImplodeOverlap;

struct ImplodePiece {
  std::uint64_t begin = 0;  // the part of the input it stands for: [begin, end)
  std::uint64_t end = 0;
  // The bytes it reads: history before `begin`, and the overlap after `end`.
  std::uint64_t readBegin = 0;
  std::uint64_t readEnd = 0;
};

struct ImplodePlan {
  std::uint32_t literalMode = 0;
  std::uint32_t dictionarySize = 4096;
  std::uint64_t size = 0;  // of the whole input
  std::vector<ImplodePiece> pieces;
};

// The pieces of an input of `size` bytes: one when it is at most twice
// `pieceSize` long (raised to ImplodeSmallestPiece), else as many of at
// least `pieceSize` as fit. No pieces at all for a setting ImplodeStream
// refuses.
ImplodePlan PlanImplode(std::uint64_t size, std::uint32_t literalMode = 0,
                        std::uint32_t dictionarySize = 4096,
                        std::uint64_t pieceSize = ImplodePieceSize);

// A token start inside a piece: the input position, and the bit of the
// piece's output where its token begins.
struct ImplodeBoundary {
  std::uint64_t position = 0;
  std::uint64_t bit = 0;
};

// What encoding one piece gives.
struct ImplodedPiece {
  std::vector<std::uint8_t> bits;  // lowest bit first; the last byte may be partial
  std::uint64_t bitCount = 0;      // the last piece's end at its end code
  std::uint64_t stop = 0;          // the position after its last token
  std::vector<ImplodeBoundary> head;  // token starts from `begin`, for the overlap
  std::vector<ImplodeBoundary> tail;  // token starts from `end` up to `stop`
};

// Encodes piece `index` of the plan from `bytes`, the input from the
// piece's readBegin to its readEnd. False (and nothing encoded) for an
// index or a span that does not fit the plan. `state` as for ImplodeStream.
[[nodiscard]] bool ImplodePieceOf(const ImplodePlan& plan, std::size_t index,
                                  std::span<const std::uint8_t> bytes, ImplodeState& state,
                                  ImplodedPiece& piece);

// The pieces joined so far. Once the last piece has been joined, `stream` is
// the whole stream.
struct ImplodeJoin {
  std::vector<std::uint8_t> stream;
  std::size_t joined = 0;     // pieces joined so far
  std::size_t reencoded = 0;  // pieces whose parse never met the one before
  // Inside: the stream's bit count, the piece joined last (kept until the
  // next one says where to cut it) and where it starts being used.
  std::uint64_t streamBits = 0;
  ImplodedPiece held;
  std::uint64_t heldFrom = 0;
  std::vector<std::uint8_t> checked;  // the checking build's copy of the input
};

// Joins piece `index`, the next in order, given the same bytes it was
// encoded from. The piece's bits are taken over, and it is left empty with
// buffers whose memory the next ImplodePieceOf into it reuses. Piece 0
// starts the join afresh, for the same input or another, and the join keeps
// its stream's memory from one input to the next. A piece whose parse did
// not meet the one before is encoded again here. False (and nothing joined)
// out of order or with bytes that do not fit the plan. In the checking build
// (QDPACK_IMPLODE_CHECK) the whole stream is compared with ImplodeStream's
// once the last piece is in, and a difference stops the process.
[[nodiscard]] bool JoinImplodePiece(ImplodeJoin& join, const ImplodePlan& plan, std::size_t index,
                                    ImplodedPiece& piece, std::span<const std::uint8_t> bytes);

//===----------------------------------------------------------------------===//
// Memory wrappers: binary literals, 4096-byte dictionary
//===----------------------------------------------------------------------===//

// Compresses `sourceSize` bytes at `source` into at most `destinationCapacity`
// bytes at `destination`: the stream's length, or -1 when it does not fit or
// no work memory can be had.
[[nodiscard]] std::int32_t CompressToMemory(std::uint8_t* destination, std::uint32_t destinationCapacity,
                                            const std::uint8_t* source, std::uint32_t sourceSize);
// The same in the caller's state record, which a caller that compresses one
// buffer after another keeps, so that its memory is had once: it fails
// only when the stream does not fit.
[[nodiscard]] std::int32_t CompressToMemory(std::uint8_t* destination, std::uint32_t destinationCapacity,
                                            const std::uint8_t* source, std::uint32_t sourceSize, ImplodeState& state);

// The most bytes CompressToMemory can write for `sourceSize` bytes: the two
// header bytes, at most 9 bits for each byte (a binary literal is its flag
// and its 8 bits, and every copy costs fewer bits than its bytes would as
// literals), the end code's 16 bits, and the padding of the last byte. A
// capacity of this size never makes a stream fail to fit: 4 bytes for an
// empty source, 6 for one byte.
constexpr std::uint64_t CompressBound(std::uint64_t sourceSize) { return 2 + (sourceSize * 9 + 16 + 7) / 8; }

// Decompresses the stream of `sourceSize` bytes at `source` into at most
// `destinationCapacity` bytes at `destination`: the number of bytes produced,
// or -1. `explodeResult`, when given, receives ExplodeStream's result, so that
// the caller can tell the user why a malformed stream failed.
[[nodiscard]] std::int32_t DecompressToMemory(std::uint8_t* destination, std::uint32_t destinationCapacity,
                                              const std::uint8_t* source, std::uint32_t sourceSize,
                                              std::uint32_t* explodeResult = nullptr);

}  // namespace qd
