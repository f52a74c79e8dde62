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
#include <vector>

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
        finder_(state.matches, state.work.data(), dictionary_),
        loadAt_(dictionary_ + MaxMatch) {}

  // The whole stream: header, tokens, end code.
  void Compress() {
    Prepare();
    s_.output[0] = static_cast<std::uint8_t>(s_.literalMode);
    s_.output[1] = static_cast<std::uint8_t>(s_.dictionaryBits);
    outputBytes_ = 2;
    Run(loadAt_, BlockStage::First);
    Finish();
  }

  // A piece of the stream (see implode_pieces.cpp): from a token start
  // with the input before it as history, to the first token start at or
  // past the stop, its bits only (the header and the end code belong to
  // the first and the last piece).
  void CompressPiece(const PieceJob& job, ImplodedPiece& out) {
    piece_ = &job;
    out_ = &out;
    Prepare();
    std::uint32_t p = loadAt_;
    if (job.from == 0) {
      s_.output[0] = static_cast<std::uint8_t>(s_.literalMode);
      s_.output[1] = static_cast<std::uint8_t>(s_.dictionaryBits);
      outputBytes_ = 2;
      Run(p, BlockStage::First);
    } else {
      p = LoadHistory(job.from);
      Run(p, BlockStage::Later);
    }
    out.stop = stoppedAt_;
    if (job.stop == EndOfInput) {
      Finish();
      out.bitCount = endBits_;
    } else {
      out.bitCount = BitPosition();
      Flush();
    }
  }

 private:
  //===--------------------------------------------------------------------===//
  // Input
  //===--------------------------------------------------------------------===//

  void Prepare() {
    std::fill(s_.work.begin(), s_.work.end(), std::uint8_t{0});
    std::fill(s_.positions.begin(), s_.positions.end(), std::uint16_t{0});
    std::fill(s_.output.begin(), s_.output.end(), std::uint8_t{0});
    outputBytes_ = 0;
  }

  // Encodes block after block from offset p until the input ends or a
  // piece's stop is reached.
  void Run(std::uint32_t p, BlockStage stage) {
    constexpr bool fast = Search != MatchSearch::Block;
    constexpr bool indexEveryBlock = Search != MatchSearch::Fast;
    for (;;) {
      const std::uint32_t loaded = LoadBlock(loadAt_);
      if (empty_) return;
      const std::uint32_t blockEnd = ended_ ? loadAt_ + loaded : dictionary_ + loaded;
      std::uint32_t start = p - dictionary_;
      switch (stage) {
        case BlockStage::First:
          start = p;
          // An input shorter than one block: the block search needs no
          // more than the block index, while the fast search's tables
          // would cost more to clear than the whole input to encode.
          if constexpr (Search == MatchSearch::Fast) {
            if (ended_) {
              blocks_.Index(start, blockEnd);
              EncodeBlock<MatchSearch::Block>(p, blockEnd);
              return;
            }
          }
          stage = dictionary_ == MaxDistance ? BlockStage::Second : BlockStage::Later;
          break;
        case BlockStage::Second:
          start = p - dictionary_ + MaxMatch;
          stage = BlockStage::Later;
          break;
        case BlockStage::Later: break;
      }
      if constexpr (fast) {
        if (!finderStarted_) finder_.Start(start);
        finderStarted_ = true;
      }
      // The fast search needs the index only for the bytes past the work
      // buffer, which only the last block reaches.
      if (indexEveryBlock || ended_) blocks_.Index(start, blockEnd);
      if constexpr (fast) finder_.StartBlock(start);
      if (!EncodeBlock<Search>(p, blockEnd)) return;
      if (ended_) return;
      std::memmove(w_, w_ + BlockSize, loadAt_);
      p -= BlockSize;
      movedOut_ += BlockSize;
      if constexpr (fast) finder_.MoveDown(BlockSize);
    }
  }

  // Lays out the work buffer as the whole stream's encoder has it when it
  // reaches input position `from` (at least three blocks in): as after
  // the block before, which was whole, moved down. Returns from's offset.
  std::uint32_t LoadHistory(std::uint64_t from) {
    const std::uint64_t block = (from + MaxMatch) / BlockSize;  // whose range holds `from`
    const std::uint64_t previous = (block - 1) * BlockSize - loadAt_;  // its offset 0
    std::memcpy(w_, piece_->bytes.data() + (previous - piece_->bytesAt), ImplodeWorkSize);
    std::memmove(w_, w_ + BlockSize, loadAt_);
    movedOut_ = block * BlockSize;
    readAt_ = movedOut_;
    firstRead_ = false;
    return static_cast<std::uint32_t>(from - movedOut_ + loadAt_);
  }

  // Reads up to one block at `at`; sets ended_ when a read gives 0, and
  // empty_ when the very first read of the stream does.
  std::uint32_t LoadBlock(std::uint32_t at) {
    if (piece_) return LoadPieceBlock(at);
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

  // A piece's block: the bytes at the read position, as many as a whole
  // stream's reads would give there.
  std::uint32_t LoadPieceBlock(std::uint32_t at) {
    const std::uint64_t end = piece_->bytesAt + piece_->bytes.size();
    const auto loaded = static_cast<std::uint32_t>(std::min<std::uint64_t>(BlockSize, end - readAt_));
    std::memcpy(w_ + at, piece_->bytes.data() + (readAt_ - piece_->bytesAt), loaded);
    readAt_ += loaded;
    ended_ = loaded < BlockSize;
    empty_ = ended_ && firstRead_ && loaded == 0;
    firstRead_ = false;
    return loaded;
  }

  //===--------------------------------------------------------------------===//
  // Matches
  //===--------------------------------------------------------------------===//

  // The match at p; when only one longer than `beat` bytes matters, the
  // fast search may answer with a shorter one instead of the exact.
  template <MatchSearch With>
  Match Find(std::uint32_t p, std::uint32_t beat = 0) {
    if constexpr (With == MatchSearch::Fast) {
      return finder_.Search(p, beat);
    } else if constexpr (With == MatchSearch::Block) {
      return blocks_.Search(p);
    } else {
      const Match fast = finder_.Search(p, beat);
      const Match block = blocks_.Search(p);
      const bool same = block.length > beat ? fast == block : fast.length <= beat;
      if (!same) ReportDifference(p, fast, block);
      return block;
    }
  }

  [[noreturn]] void ReportDifference(std::uint32_t p, Match fast, Match block) const {
    const std::uint64_t at = Position(p);
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

  // The input position of offset p.
  std::uint64_t Position(std::uint32_t p) const { return movedOut_ + p - loadAt_; }
  // The offset of input position `at`, at most `limit`.
  // `at` lies at or past offset 0; EndOfInput is past every limit.
  std::uint32_t OffsetOf(std::uint64_t at, std::uint32_t limit) const {
    if (at == EndOfInput) return limit;
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(at + loadAt_ - movedOut_, limit));
  }

  // Encodes the block up to its end; a piece stops at its stop and records
  // token starts in its windows. False once the piece has stopped.
  template <MatchSearch With>
  bool EncodeBlock(std::uint32_t& p, std::uint32_t blockEnd) {
    if (!piece_) {
      Encode<With, false>(p, blockEnd, blockEnd);
      return true;
    }
    const PieceJob& job = *piece_;
    while (p < blockEnd) {
      const std::uint64_t at = Position(p);
      if (at >= job.stop) break;
      std::uint64_t edge = job.stop;  // where recording starts or stops next
      std::vector<ImplodeBoundary>* marks = &out_->tail;
      if (at < job.headFrom) {
        edge = job.headFrom;
        marks = nullptr;
      } else if (at < job.headTo) {
        edge = job.headTo;
        marks = &out_->head;
      } else if (at < job.tailFrom) {
        edge = job.tailFrom;
        marks = nullptr;
      }
      const std::uint32_t until = OffsetOf(edge, blockEnd);
      if (marks) {
        marks_ = marks;
        Encode<With, true>(p, blockEnd, until);
      } else {
        Encode<With, false>(p, blockEnd, until);
      }
    }
    stoppedAt_ = Position(p);
    return stoppedAt_ < job.stop;
  }

  // Encodes the tokens that start before `until` (at most the block end).
  // With Record, each token's start and bit position go to marks_.
  template <MatchSearch With, bool Record>
  void Encode(std::uint32_t& p, std::uint32_t blockEnd, std::uint32_t until) {
    while (p < until) {
      if constexpr (Record) Mark(p);
      Match match = Find<With>(p);
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
        // The match one byte later wins only when it is longer, by two
        // bytes when this one is near.
        const std::uint32_t beat = match.length + (match.distance <= NearDistance ? 1 : 0);
        const Match next = Find<With>(p + 1, beat);
        if (next.length <= beat) {
          PutCopy(match);
          p += match.length;
          break;
        }
        PutSymbol(w_[p++]);
        // The match at the new position is known; past a piece's edge it
        // is found again, with the same result.
        if (p >= until) break;
        if constexpr (Record) Mark(p);
        match = next;
      }
    }
  }

  void Mark(std::uint32_t p) { marks_->push_back({Position(p), BitPosition()}); }

  //===--------------------------------------------------------------------===//
  // Output
  //===--------------------------------------------------------------------===//

  // Appends the n lowest bits of v (n at most 32), lowest first. The
  // pending bits are stored as a whole word each time and the output moves
  // on by the bytes they fill, without a test of how many there are; every
  // 2048 bytes leave in one write, as soon as they are complete.
  void Put(std::uint32_t n, std::uint32_t v) {
    // Locals, not members: the store into the output could alias a member.
    const std::uint64_t pending = pending_ | (std::uint64_t{v} << pendingBits_);
    const std::uint32_t pendingBits = pendingBits_ + n;
    const std::uint32_t outputBytes = outputBytes_;
    std::uint8_t* at = s_.output.data() + outputBytes;
    if constexpr (std::endian::native == std::endian::little) {
      std::memcpy(at, &pending, sizeof pending);
    } else {
      for (std::uint32_t i = 0; i < 8; ++i) at[i] = static_cast<std::uint8_t>(pending >> (8 * i));
    }
    const std::uint32_t whole = pendingBits / 8;
    outputBytes_ = outputBytes + whole;
    pending_ = pending >> (8 * whole);  // fewer than 40 bits were pending
    pendingBits_ = pendingBits % 8;
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
    Write(s_.output.data(), size);
    outputBytes_ -= ImplodeWriteSize;
    std::memmove(s_.output.data(), s_.output.data() + ImplodeWriteSize, outputBytes_);
  }

  void Finish() {
    PutSymbol(EndOfStreamSymbol);
    endBits_ = BitPosition();
    // The remaining whole bytes, then the partly filled one.
    for (; pendingBits_ >= 8; pendingBits_ -= 8, pending_ >>= 8)
      s_.output[outputBytes_++] = static_cast<std::uint8_t>(pending_);
    if (outputBytes_ >= ImplodeWriteSize) WriteFull();
    if (pendingBits_ != 0) s_.output[outputBytes_++] = static_cast<std::uint8_t>(pending_);
    Write(s_.output.data(), outputBytes_);
  }

  // A piece that is not the last: its bits so far, the last byte partly
  // filled.
  void Flush() {
    for (; pendingBits_ >= 8; pendingBits_ -= 8, pending_ >>= 8)
      s_.output[outputBytes_++] = static_cast<std::uint8_t>(pending_);
    if (outputBytes_ >= ImplodeWriteSize) WriteFull();
    if (pendingBits_ != 0) s_.output[outputBytes_++] = static_cast<std::uint8_t>(pending_);
    Write(s_.output.data(), outputBytes_);
  }

  void Write(const std::uint8_t* bytes, std::uint32_t size) {
    written_ += size;
    if (out_) {
      out_->bits.insert(out_->bits.end(), bytes, bytes + size);
    } else {
      write_(bytes, &size, parameter_);
    }
  }

  // Bits emitted so far.
  std::uint64_t BitPosition() const { return (written_ + outputBytes_) * 8 + pendingBits_; }

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
  std::uint32_t pendingBits_ = 0;   // how many, below 8 between calls
  std::uint32_t outputBytes_ = 0;   // whole bytes in the output buffer
  std::uint64_t movedOut_ = 0;     // input bytes that have left the work buffer
  std::uint64_t written_ = 0;      // bytes of output written
  const std::uint32_t loadAt_;     // where each block's input goes
  // A piece: its job, its output, where it reads next and where it stopped.
  const PieceJob* piece_ = nullptr;
  ImplodedPiece* out_ = nullptr;
  std::vector<ImplodeBoundary>* marks_ = nullptr;
  std::uint64_t readAt_ = 0;
  std::uint64_t stoppedAt_ = 0;
  std::uint64_t endBits_ = 0;  // bits up to the end code's last
  bool finderStarted_ = false;
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

void EncodePiece(MatchSearch search, const PieceJob& job, ImplodeState& state, ImplodedPiece& out) {
  switch (search) {
    case MatchSearch::Fast: Encoder<MatchSearch::Fast>(state, nullptr, nullptr, nullptr).CompressPiece(job, out); break;
    case MatchSearch::Block: Encoder<MatchSearch::Block>(state, nullptr, nullptr, nullptr).CompressPiece(job, out); break;
    case MatchSearch::Checked:
      Encoder<MatchSearch::Checked>(state, nullptr, nullptr, nullptr).CompressPiece(job, out);
      break;
  }
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
