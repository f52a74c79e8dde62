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

class Encoder {
 public:
  Encoder(ImplodeState& state, MatchSearch search, CodecReadFn read, CodecWriteFn write,
          void* parameter)
      : s_(state),
        codes_(state.literalMode == BinaryLiterals ? BinarySymbols : AsciiSymbols),
        search_(search),
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
    const bool fast = search_ != MatchSearch::Block;
    const bool indexEveryBlock = search_ != MatchSearch::Fast;
    if (fast) finder_.Start(loadAt);
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
      if (fast) finder_.StartBlock(start);
      Encode(p, blockEnd);
      if (ended_) break;
      std::memmove(w_, w_ + BlockSize, loadAt);
      p -= BlockSize;
      movedOut_ += BlockSize;
      if (fast) finder_.MoveDown(BlockSize);
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

  Match Search(std::uint32_t p) {
    switch (search_) {
      case MatchSearch::Fast: return finder_.Search(p);
      case MatchSearch::Block: return blocks_.Search(p);
      case MatchSearch::Checked: {
        const Match fast = finder_.Search(p);
        const Match block = blocks_.Search(p);
        if (!(fast == block)) ReportDifference(p, fast, block);
        return block;
      }
    }
    return {};
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
      Match match = Search(p);
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
        const Match next = Search(p + 1);
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

  // Appends the n lowest bits of v (n at most 16), lowest first.
  void Put(std::uint32_t n, std::uint32_t v) {
    pending_ |= v << outputBits_;
    outputBits_ += n;
    while (outputBits_ >= 8) {
      s_.output[outputBytes_++] = static_cast<std::uint8_t>(pending_);
      pending_ >>= 8;
      outputBits_ -= 8;
      if (outputBytes_ == ImplodeWriteSize) Write(ImplodeWriteSize);
    }
  }

  void PutSymbol(std::uint32_t symbol) { Put(codes_.bits[symbol], codes_.values[symbol]); }

  void PutCopy(Match match) {
    PutSymbol(match.length + FirstCopySymbol - MinCopyLength);
    const std::uint32_t field = match.distance - 1;
    const std::uint32_t lowBits = DistanceLowBits(match.length, s_.dictionaryBits);
    const std::uint32_t high = field >> lowBits;
    Put(DistanceBits[high], DistanceCodes[high]);
    Put(lowBits, field & ((1u << lowBits) - 1));
  }

  void Write(std::uint32_t size) {
    write_(s_.output.data(), &size, parameter_);
    outputBytes_ = 0;
  }

  void Finish() {
    PutSymbol(EndOfStreamSymbol);
    if (outputBits_ != 0) {
      s_.output[outputBytes_++] = static_cast<std::uint8_t>(pending_);
      outputBits_ = 0;
    }
    Write(outputBytes_);
  }

  ImplodeState& s_;
  const SymbolCodes& codes_;
  const MatchSearch search_;
  const CodecReadFn read_;
  const CodecWriteFn write_;
  void* const parameter_;
  std::uint8_t* const w_;
  const std::uint32_t dictionary_;
  BlockSearch blocks_;
  MatchFinder finder_;
  std::uint32_t pending_ = 0;      // bits of the byte being filled
  std::uint32_t outputBytes_ = 0;  // index of the byte being filled
  std::uint32_t outputBits_ = 0;   // bits used in it
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
  Encoder(state, search, read, write, parameter).Compress();
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
