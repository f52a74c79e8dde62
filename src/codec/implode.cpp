//===- implode.cpp - Compressor for the implode stream format --------------===//
//
// A greedy matcher with one step of look-ahead. Its choices follow fixed
// rules so that the streams it makes are byte for byte those of the packages
// already in the field:
//
// - The match at a position is the one BlockSearch defines (see
//   implode_search.h); MatchFinder finds the same one faster.
// - A 2-byte match is used only within 256 bytes; a match shorter than 8
//   bytes is weighed against the match one byte later.
//
// The work buffer holds D bytes of history, 516 bytes of look-ahead carried
// over from the previous block and one new block of up to 4096 bytes. Near
// the end of the input a comparison runs past the loaded data; it then reads
// left-over bytes, zeros, or, past the buffer's end, a copy of the position
// table's first bytes (see ImplodeWorkSlack). Such matches are cut back to
// the end of the data before they are emitted.
//
//===----------------------------------------------------------------------===//
#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "codec/codec.h"
#include "codec/implode_search.h"
#include "codec/tables.h"

namespace qd {
namespace {

using namespace codec;

constexpr std::uint32_t MaxMatch = ImplodeMaxMatch;
constexpr std::uint32_t BlockSize = ImplodeReadSize;
// Matches shorter than this are weighed against the match one byte later.
constexpr std::uint32_t LookAheadBelow = 8;
// A match one byte longer at the next position loses to one at most this
// far back.
constexpr std::uint32_t NearDistance = 129;

// Which offsets a block's index covers. The first block indexes from its
// first byte. With a 4096-byte dictionary the second indexes D - 516 bytes
// back, which never reaches the 516 bytes below the carried-over data (they
// were never loaded); later blocks, and all but the first with a smaller
// dictionary, index a whole dictionary back.
enum class BlockStage { First, Second, Later };

// The search is a parameter of the type, so that the choice costs nothing
// at each of the millions of searches.
template <MatchSearch Search>
class Encoder {
 public:
  Encoder(ImplodeState& state, CodecReadFn read, CodecWriteFn write, void* parameter)
      : s_(state),
        codes_(state.literalMode == BinaryLiterals ? BinarySymbols : AsciiSymbols),
        read_(read),
        write_(write),
        parameter_(parameter),
        w_(state.work.data()),
        dictionary_(DictionarySize(state.dictionaryBits)),
        blocks_(state, dictionary_),
        finder_(state.matches, state.work.data(), dictionary_) {}

  void Compress() {
    std::fill(s_.work.begin(), s_.work.end(), std::uint8_t{0});
    std::fill(s_.positions.begin(), s_.positions.end(), std::uint16_t{0});
    std::fill(s_.output.begin(), s_.output.end(), std::uint8_t{0});
    s_.output[0] = static_cast<std::uint8_t>(s_.literalMode);
    s_.output[1] = static_cast<std::uint8_t>(s_.dictionaryBits);
    outputBytes_ = 2;

    const std::uint32_t loadAt = dictionary_ + MaxMatch;
    constexpr bool fast = Search != MatchSearch::Block;
    constexpr bool indexEveryBlock = Search != MatchSearch::Fast;
    if constexpr (fast) finder_.Start(loadAt);
    std::uint32_t p = loadAt;
    BlockStage stage = BlockStage::First;
    for (;;) {
      const std::uint32_t loaded = LoadBlock(loadAt);
      if (empty_) break;
      const std::uint32_t blockEnd = ended_ ? loadAt + loaded : dictionary_ + loaded;
      std::uint32_t start = p - dictionary_;
      switch (stage) {
        case BlockStage::First:
          start = p;
          stage = dictionary_ == MaxDistance ? BlockStage::Second : BlockStage::Later;
          break;
        case BlockStage::Second:
          start = p - dictionary_ + MaxMatch;
          stage = BlockStage::Later;
          break;
        case BlockStage::Later: break;
      }
      // The fast search needs the index only for the bytes past the work
      // buffer, which only the last block reaches.
      if (indexEveryBlock || ended_) blocks_.Index(start, blockEnd);
      if constexpr (fast) finder_.StartBlock(start);
      Encode(p, blockEnd);
      if (ended_) break;
      std::memmove(w_, w_ + BlockSize, loadAt);
      p -= BlockSize;
      movedOut_ += BlockSize;
      if constexpr (fast) finder_.MoveDown(BlockSize);
    }
    Finish();
  }

 private:
  //===--------------------------------------------------------------------===//
  // Input
  //===--------------------------------------------------------------------===//

  // Reads up to one block at `at`; sets ended_ when a read gives 0, and
  // empty_ when the very first read of the stream does.
  std::uint32_t LoadBlock(std::uint32_t at) {
    std::uint32_t loaded = 0;
    while (loaded < BlockSize) {
      const std::uint32_t wanted = BlockSize - loaded;
      std::uint32_t size = wanted;
      const std::uint32_t got = std::min(read_(w_ + at + loaded, &size, parameter_), wanted);
      if (got == 0) {
        empty_ = firstRead_;
        ended_ = true;
        break;
      }
      firstRead_ = false;
      loaded += got;
    }
    firstRead_ = false;
    return loaded;
  }

  //===--------------------------------------------------------------------===//
  // Matches
  //===--------------------------------------------------------------------===//

  Match Find(std::uint32_t p) {
    if constexpr (Search == MatchSearch::Fast) {
      return finder_.Search(p);
    } else if constexpr (Search == MatchSearch::Block) {
      return blocks_.Search(p);
    } else {
      const Match fast = finder_.Search(p);
      const Match block = blocks_.Search(p);
      if (!(fast == block)) ReportDifference(p, fast, block);
      return block;
    }
  }

  [[noreturn]] void ReportDifference(std::uint32_t p, Match fast, Match block) const {
    const std::uint64_t at = movedOut_ + p - (dictionary_ + MaxMatch);
    std::fprintf(stderr,
                 "implode check: at input byte %llu (mode %u, dictionary %u) the fast search "
                 "found %u bytes from %u back, the block search %u bytes from %u back\n",
                 static_cast<unsigned long long>(at), s_.literalMode, dictionary_, fast.length,
                 fast.distance, block.length, block.distance);
    std::abort();
  }

  // A 2-byte copy cannot reach farther than 256 bytes back.
  static bool Usable(Match m) {
    return m.length > MinCopyLength ||
           (m.length == MinCopyLength && m.distance <= ShortCopyMaxDistance);
  }

  void Encode(std::uint32_t& p, std::uint32_t blockEnd) {
    while (p < blockEnd) {
      Match match = Find(p);
      for (;;) {
        if (!Usable(match)) {
          PutSymbol(w_[p++]);
          break;
        }
        if (ended_ && p + match.length > blockEnd) {
          match.length = blockEnd - p;  // cut back to the end of the data
          if (Usable(match)) {
            PutCopy(match);
            p += match.length;
          } else {
            PutSymbol(w_[p++]);
          }
          break;
        }
        if (match.length >= LookAheadBelow || p + 1 >= blockEnd) {
          PutCopy(match);
          p += match.length;
          break;
        }
        const Match next = Find(p + 1);
        if (next.length <= match.length ||
            (next.length == match.length + 1 && match.distance <= NearDistance)) {
          PutCopy(match);
          p += match.length;
          break;
        }
        PutSymbol(w_[p++]);
        match = next;
      }
    }
  }

  //===--------------------------------------------------------------------===//
  // Output
  //===--------------------------------------------------------------------===//

  // Appends the n lowest bits of v (n at most 32), lowest first. Whole
  // bytes go to the output buffer four at a time; every 2048 of them leave
  // in one write, as soon as they are complete.
  void Put(std::uint32_t n, std::uint32_t v) {
    pending_ |= std::uint64_t{v} << pendingBits_;
    pendingBits_ += n;
    if (pendingBits_ < 32) return;
    std::uint32_t word = static_cast<std::uint32_t>(pending_);
    if constexpr (std::endian::native == std::endian::big)
      word = (word >> 24) | ((word >> 8) & 0xFF00) | ((word << 8) & 0xFF0000) | (word << 24);
    std::memcpy(s_.output.data() + outputBytes_, &word, sizeof word);
    outputBytes_ += 4;
    pending_ >>= 32;
    pendingBits_ -= 32;
    if (outputBytes_ >= ImplodeWriteSize) WriteFull();
  }

  void PutSymbol(std::uint32_t symbol) { Put(codes_.bits[symbol], codes_.values[symbol]); }

  // The copy's symbol, distance code and low distance bits: at most 30 bits.
  void PutCopy(Match match) {
    const std::uint32_t symbol = match.length + FirstCopySymbol - MinCopyLength;
    const std::uint32_t field = match.distance - 1;
    const std::uint32_t lowBits = DistanceLowBits(match.length, s_.dictionaryBits);
    const std::uint32_t high = field >> lowBits;
    std::uint32_t n = codes_.bits[symbol];
    std::uint32_t v = codes_.values[symbol];
    v |= std::uint32_t{DistanceCodes[high]} << n;
    n += DistanceBits[high];
    v |= (field & ((1u << lowBits) - 1)) << n;
    Put(n + lowBits, v);
  }

  // Writes the first 2048 bytes and keeps the few after them.
  void WriteFull() {
    std::uint32_t size = ImplodeWriteSize;
    write_(s_.output.data(), &size, parameter_);
    outputBytes_ -= ImplodeWriteSize;
    std::memmove(s_.output.data(), s_.output.data() + ImplodeWriteSize, outputBytes_);
  }

  void Finish() {
    PutSymbol(EndOfStreamSymbol);
    // The remaining whole bytes, then the partly filled one.
    for (; pendingBits_ >= 8; pendingBits_ -= 8, pending_ >>= 8)
      s_.output[outputBytes_++] = static_cast<std::uint8_t>(pending_);
    if (outputBytes_ >= ImplodeWriteSize) WriteFull();
    if (pendingBits_ != 0) s_.output[outputBytes_++] = static_cast<std::uint8_t>(pending_);
    std::uint32_t size = outputBytes_;
    write_(s_.output.data(), &size, parameter_);
  }

  ImplodeState& s_;
  const SymbolCodes& codes_;
  const CodecReadFn read_;
  const CodecWriteFn write_;
  void* const parameter_;
  std::uint8_t* const w_;
  const std::uint32_t dictionary_;
  BlockSearch blocks_;
  MatchFinder finder_;
  std::uint64_t pending_ = 0;       // bits not yet in the output buffer
  std::uint32_t pendingBits_ = 0;   // how many, below 32 between calls
  std::uint32_t outputBytes_ = 0;   // whole bytes in the output buffer
  std::uint64_t movedOut_ = 0;     // input bytes that have left the work buffer
  bool firstRead_ = true;
  bool empty_ = false;
  bool ended_ = false;
};

}  // namespace

namespace codec {

std::uint32_t ImplodeStreamUsing(MatchSearch search, CodecReadFn read, CodecWriteFn write,
                                 ImplodeState& state, void* parameter, std::uint32_t literalMode,
                                 std::uint32_t dictionarySize) {
  const std::uint32_t bits = DictionaryBitsFor(dictionarySize);
  if (bits == 0) return ImplodeBadDictionary;
  if (literalMode != BinaryLiterals && literalMode != AsciiLiterals) return ImplodeBadLiteralMode;
  state.literalMode = literalMode;
  state.dictionaryBits = bits;
  switch (search) {
    case MatchSearch::Fast: Encoder<MatchSearch::Fast>(state, read, write, parameter).Compress(); break;
    case MatchSearch::Block: Encoder<MatchSearch::Block>(state, read, write, parameter).Compress(); break;
    case MatchSearch::Checked:
      Encoder<MatchSearch::Checked>(state, read, write, parameter).Compress();
      break;
  }
  return ImplodeOk;
}

}  // namespace codec

std::uint32_t ImplodeStream(CodecReadFn read, CodecWriteFn write, ImplodeState& state,
                            void* parameter, std::uint32_t literalMode,
                            std::uint32_t dictionarySize) {
#ifdef QDPACK_IMPLODE_CHECK
  constexpr auto search = codec::MatchSearch::Checked;
#else
  constexpr auto search = codec::MatchSearch::Fast;
#endif
  return codec::ImplodeStreamUsing(search, read, write, state, parameter, literalMode,
                                   dictionarySize);
}

}  // namespace qd
