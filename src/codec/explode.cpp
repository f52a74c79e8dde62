//===- explode.cpp - Decompressor for the implode stream format ------------===//
//
// Table-driven: every code resolves with one 8-bit lookup (two for ASCII
// literals longer than 8 bits). Bits come from a 64-bit buffer filled from
// the 2048-byte input buffer; the read callback is called only when the
// stream needs a bit that the buffer does not hold, exactly when a decoder
// that keeps 8 bits ahead would call it.
//
// The decoder always keeps the next 8 bits of the stream ahead of what it has
// taken, so dropping bits fails as soon as fewer than 8 would remain. That is
// the stream's own rule for "the input ran out": a stream may still end
// right after its end-of-stream code.
//
// Most tokens decode in FastTokens, which keeps its cursors in locals (a
// byte stored into the window could alias a member, so members would be
// reloaded after every store), refills the bit buffer a word at a time and
// decodes a whole token with its distance without any check while the
// buffer holds at least TokenBits bits; binary literals are taken up to
// four at a time, all those before the next copy, and most copies resolve
// their length and distance code with one lookup (CopyDecode). The bit
// buffer is the loop's one chain of dependent steps, so what only counts
// output stays off it. Near the end of an input buffer each drop is checked
// instead and may call the read callback.
//
//===----------------------------------------------------------------------===//
#include <algorithm>
#include <bit>
#include <cstring>

#include "codec/codec.h"
#include "codec/tables.h"

namespace qd {
namespace {

using namespace codec;

// The longest token, plus the 8 bits kept ahead.
constexpr std::uint32_t TokenBits = MaxTokenBits + 8;
// The window keeps one largest dictionary of history below the new output.
constexpr std::uint32_t HistorySize = MaxDistance;
constexpr std::uint32_t FlushPoint = HistorySize + ExplodeWriteSize;
constexpr std::uint32_t Failure = SymbolCount;  // 774
constexpr std::uint32_t CopyDecodeMask = (1u << CopyDecodeBits) - 1;
// The flag bits of four binary literals in a row. Four literals and the
// fast path of a copy take at most 36 + 1 + 12 + 6 bits, which a topped-up
// bit buffer holds, so a copy after them needs no second top-up.
constexpr std::uint32_t LiteralRun = 4;
constexpr std::uint64_t LiteralFlags = 0x0000'0000'0804'0201;
static_assert(LiteralFlags == (1ull | 1ull << 9 | 1ull << 18 | 1ull << 27));
static_assert(56 >= 9 * LiteralRun + 1 + CopyDecodeBits + MaxDictionaryBits);

enum class Step { More, End, Failed };

std::uint64_t LoadWord(const std::uint8_t* at) {
  std::uint64_t word;
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(&word, at, sizeof word);
  } else {
    word = 0;
    for (std::uint32_t i = 0; i < 8; ++i) word |= std::uint64_t{at[i]} << (8 * i);
  }
  return word;
}

// Stores the 8 bytes of `word` at `at`, the lowest first.
void StoreWord(std::uint8_t* at, std::uint64_t word) {
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(at, &word, sizeof word);
  } else {
    for (std::uint32_t i = 0; i < 8; ++i) at[i] = static_cast<std::uint8_t>(word >> (8 * i));
  }
}

// An ASCII literal at the front of `bits`: its byte, and how many bits it
// takes.
struct AsciiLiteral {
  std::uint32_t byte;
  std::uint32_t bits;
};

AsciiLiteral DecodeAscii(std::uint64_t bits) {
  const auto v = static_cast<std::uint32_t>(bits) & 0xFF;
  std::uint32_t skipped = 0;
  std::uint32_t byte = 0;
  if (v != 0) {
    byte = Ascii.first[v];
    if (byte == AsciiEscape) {
      skipped = (v & 0x3F) != 0 ? 4 : 6;
      byte = skipped == 4 ? Ascii.second[(bits >> 4) & 0xFF] : Ascii.third[(bits >> 6) & 0x7F];
    }
  } else {
    skipped = 8;
    byte = Ascii.fourth[(bits >> 8) & 0xFF];
  }
  return {byte, skipped + Ascii.bits[byte]};
}

// Repeats `length` bytes from `distance` (below 8) back to `to`. The bytes
// repeat every `distance`: one word holds the pattern, and it is stored
// again at every multiple of the distance that a word can reach, so that no
// store waits for the one before it. The first four words are stored
// whatever the length (most copies are short); words may run up to 31
// bytes past the copy, into the window's slack.
inline void RepeatPattern(std::uint8_t* to, std::uint32_t distance, std::uint32_t length) {
  // By distance: the whole patterns in a word, in bytes, and the factor
  // that repeats a pattern across a word.
  static constexpr std::uint8_t Step[8] = {0, 8, 8, 6, 8, 5, 6, 7};
  static constexpr std::uint64_t Spread[8] = {0,
                                              0x0101'0101'0101'0101,
                                              0x0001'0001'0001'0001,
                                              0x0001'0000'0100'0001,
                                              0x0000'0001'0000'0001,
                                              0x0000'0100'0000'0001,
                                              0x0001'0000'0000'0001,
                                              0x0100'0000'0000'0001};
  // The `distance` bytes before `to`, from a word that ends there.
  const std::uint64_t pattern = LoadWord(to - 8) >> (64 - 8 * distance);
  const std::uint64_t word = pattern * Spread[distance];
  const std::uint32_t step = Step[distance];
  StoreWord(to, word);
  StoreWord(to + step, word);
  StoreWord(to + 2 * step, word);
  StoreWord(to + 3 * step, word);
  for (std::uint32_t i = 4 * step; i < length; i += step) StoreWord(to + i, word);
}

// Repeats `length` bytes from `distance` back to `to`; the source may
// overlap the bytes being produced. Whole words may run up to 31 bytes past
// the copy, into the window's slack. Most copies are short: four words
// without a loop.
inline void CopyBytes(std::uint8_t* to, std::uint32_t distance, std::uint32_t length) {
  if (distance < 8) {
    RepeatPattern(to, distance, length);
    return;
  }
  const std::uint8_t* from = to - distance;
  std::memcpy(to, from, 8);
  std::memcpy(to + 8, from + 8, 8);
  std::memcpy(to + 16, from + 16, 8);
  std::memcpy(to + 24, from + 24, 8);
  for (std::uint32_t i = 32; i < length; i += 8) std::memcpy(to + i, from + i, 8);
}

class Decoder {
 public:
  Decoder(ExplodeState& state, CodecReadFn read, CodecWriteFn write, void* parameter)
      : s_(state), read_(read), write_(write), parameter_(parameter) {}

  // The first read; false when it gave 4 bytes or fewer.
  bool Start() {
    std::uint32_t size = ExplodeReadSize;
    inCount_ = std::min(read_(s_.input.data(), &size, parameter_), ExplodeReadSize);
    return inCount_ > 4;
  }

  std::uint32_t Run() {
    s_.literalMode = s_.input[0];
    s_.dictionaryBits = s_.input[1];
    if (s_.dictionaryBits < MinDictionaryBits || s_.dictionaryBits > MaxDictionaryBits)
      return ExplodeBadDictionary;
    if (s_.literalMode != BinaryLiterals && s_.literalMode != AsciiLiterals)
      return ExplodeBadLiteralMode;

    bits_ = s_.input[2];
    count_ = 8;
    inPos_ = 3;
    std::fill_n(s_.window.begin(), HistorySize, std::uint8_t{0});
    pos_ = HistorySize;

    Step step = Step::More;
    while (step == Step::More) {
      step = FastTokens();
      if (step == Step::More && pos_ < FlushPoint) {
        // Too few bytes left in the input buffer for a word.
        Fill();
        step = Token();
      }
      if (pos_ >= FlushPoint) {
        Write(HistorySize, ExplodeWriteSize);
        std::memmove(s_.window.data(), s_.window.data() + HistorySize, pos_ - HistorySize);
        pos_ -= HistorySize;
      }
    }
    Write(HistorySize, pos_ - HistorySize);
    return step == Step::End ? ExplodeOk : ExplodeTruncated;
  }

 private:
  void Write(std::uint32_t from, std::uint32_t size) {
    write_(s_.window.data() + from, &size, parameter_);
  }

  // Decodes tokens until the window is due to be written, the input buffer
  // holds less than a word while the bit buffer holds less than a token, or
  // the stream ends. Never reads.
  Step FastTokens() {
    std::uint64_t bits = bits_;
    std::uint32_t count = count_;
    std::uint32_t inPos = inPos_;
    std::uint32_t pos = pos_;
    const std::uint8_t* const input = s_.input.data();
    std::uint8_t* const window = s_.window.data();
    const std::uint32_t inCount = inCount_;
    const bool binary = s_.literalMode == BinaryLiterals;
    const std::uint32_t dictionaryBits = s_.dictionaryBits;
    const bool largeDictionary = dictionaryBits == MaxDictionaryBits;

    // Tops the bit buffer up with a word of the input buffer; false when
    // there is none and the bits left may not hold a token.
    const auto topUp = [&] {
      if (inCount - inPos < 8) return count >= TokenBits;
      bits |= LoadWord(input + inPos) << count;
      inPos += (63 - count) >> 3;
      count |= 56;
      return true;
    };

    Step step = Step::More;
    while (pos < FlushPoint) {
      if (!topUp()) break;
      if (binary && count >= 56) {
        // The binary literals before the next copy, up to four: a literal
        // takes 9 bits, so their flags stand every 9 bits. Four bytes are
        // stored whatever the count; those past it are written again before
        // anything reads them. (A branch per token on its flag, 0 or 1
        // about as often, was mispredicted for a third of the tokens.) The
        // bits they take come straight from the flags; their count (a
        // division) only moves the output.
        const std::uint64_t flags = (bits & LiteralFlags) | (std::uint64_t{1} << (9 * LiteralRun));
        const auto literalBits = static_cast<std::uint32_t>(std::countr_zero(flags));
        for (std::uint32_t i = 0; i < LiteralRun; ++i)
          window[pos + i] = static_cast<std::uint8_t>(bits >> (9 * i + 1));
        pos += literalBits / 9;
        bits >>= literalBits;
        count -= literalBits;
        if (literalBits == 9 * LiteralRun) continue;
      } else if ((bits & 1) == 0) {
        std::uint32_t used = 9;
        std::uint32_t byte = static_cast<std::uint32_t>(bits >> 1) & 0xFF;
        if (!binary) {
          const AsciiLiteral literal = DecodeAscii(bits >> 1);
          byte = literal.byte;
          used = 1 + literal.bits;
        }
        window[pos++] = static_cast<std::uint8_t>(byte);
        bits >>= used;
        count -= used;
        continue;
      }
      const CopyCode copy = CopyDecode[(bits >> 1) & CopyDecodeMask];
      if (copy.entry != 0 && largeDictionary) {
        // The bit buffer moves on by the entry's count; the distance's
        // low bits are read beside it.
        const std::uint32_t tokenBits = copy.TokenBits();
        const auto low = static_cast<std::uint32_t>((bits & ((std::uint64_t{1} << tokenBits) - 1)) >> copy.LowAt());
        bits >>= tokenBits;
        count -= tokenBits;
        const std::uint32_t length = copy.Length();
        CopyBytes(window + pos, copy.BaseDistance() + low, length);
        pos += length;
        continue;
      }
      std::uint32_t used = copy.LowAt();
      std::uint32_t length = copy.Length();
      std::uint32_t high = copy.High();
      if (copy.entry == 0) {
        if (count < TokenBits && !topUp()) break;
        const LengthCode& code = LengthDecode[(bits >> 1) & 0xFF];
        used = 1 + code.bits;
        length = code.base + (static_cast<std::uint32_t>(bits >> used) & ((1u << code.extraBits) - 1));
        used += code.extraBits;
        if (length == EndOfStreamLength) {
          bits >>= used;
          count -= used;
          step = Step::End;
          break;
        }
        const DistanceCode& distance = DistanceDecode[(bits >> used) & 0xFF];
        used += distance.bits;
        high = distance.high;
      }
      const std::uint32_t lowBits = DistanceLowBits(length, dictionaryBits);
      const std::uint32_t low = static_cast<std::uint32_t>(bits >> used) & ((1u << lowBits) - 1);
      used += lowBits;
      bits >>= used;
      count -= used;
      CopyBytes(window + pos, ((high << lowBits) | low) + 1, length);
      pos += length;
    }
    bits_ = bits;
    count_ = count;
    inPos_ = inPos;
    pos_ = pos;
    return step;
  }

  // Moves whole bytes of the input buffer into the bit buffer; never reads.
  void Fill() {
    while (count_ < 56 && inPos_ < inCount_) {
      bits_ |= std::uint64_t{s_.input[inPos_++]} << count_;
      count_ += 8;
    }
  }

  // Refills the input buffer through the read callback; false at its end.
  bool Refill() {
    std::uint32_t size = ExplodeReadSize;
    const std::uint32_t got = std::min(read_(s_.input.data(), &size, parameter_), ExplodeReadSize);
    if (got == 0) return false;
    inCount_ = got;
    inPos_ = 0;
    return true;
  }

  std::uint32_t Peek(std::uint32_t n) const {
    return static_cast<std::uint32_t>(bits_) & ((1u << n) - 1);
  }

  // Drops n bits (at most 8) and keeps 8 ahead; fails when the input has
  // ended.
  bool Drop(std::uint32_t n) {
    if (count_ < n + 8) {
      if (inPos_ == inCount_ && !Refill()) return false;
      bits_ |= std::uint64_t{s_.input[inPos_++]} << count_;
      count_ += 8;
    }
    bits_ >>= n;
    count_ -= n;
    return true;
  }

  // The next token's symbol index, or Failure; each field checked.
  std::uint32_t Symbol() {
    if (bits_ & 1) {
      if (!Drop(1)) return Failure;
      const std::uint32_t row = LengthLookup[Peek(8)];
      if (!Drop(LengthBits[row])) return Failure;
      const std::uint32_t extra = LengthExtraBits[row];
      if (extra == 0) return FirstCopySymbol + row;
      const std::uint32_t x = Peek(extra);
      const std::uint32_t symbol = FirstCopySymbol + LengthBase[row] + x;
      // The stream may end right after the end-of-stream code.
      if (!Drop(extra) && symbol != EndOfStreamSymbol) return Failure;
      return symbol;
    }
    if (!Drop(1)) return Failure;
    std::uint32_t byte = 0;
    if (s_.literalMode == BinaryLiterals) {
      byte = Peek(8);
    } else {
      const std::uint32_t v = Peek(8);
      if (v != 0) {
        byte = Ascii.first[v];
        if (byte == AsciiEscape) {
          if ((v & 0x3F) != 0) {
            if (!Drop(4)) return Failure;
            byte = Ascii.second[Peek(8)];
          } else {
            if (!Drop(6)) return Failure;
            byte = Ascii.third[Peek(7)];
          }
        }
      } else {
        if (!Drop(8)) return Failure;
        byte = Ascii.fourth[Peek(8)];
      }
      if (!Drop(Ascii.bits[byte])) return Failure;
      return byte;
    }
    if (!Drop(8)) return Failure;
    return byte;
  }

  // Decodes one token and carries it out in the window.
  Step Token() {
    const std::uint32_t symbol = Symbol();
    if (symbol < FirstCopySymbol) {
      s_.window[pos_++] = static_cast<std::uint8_t>(symbol);
      return Step::More;
    }
    if (symbol == EndOfStreamSymbol) return Step::End;
    if (symbol == Failure) return Step::Failed;

    const std::uint32_t length = symbol - FirstCopySymbol + MinCopyLength;
    const std::uint32_t high = DistanceLookup[Peek(8)];
    if (!Drop(DistanceBits[high])) return Step::Failed;
    const std::uint32_t lowBits = DistanceLowBits(length, s_.dictionaryBits);
    const std::uint32_t distance = ((high << lowBits) | Peek(lowBits)) + 1;
    if (!Drop(lowBits)) return Step::Failed;
    CopyBytes(s_.window.data() + pos_, distance, length);
    pos_ += length;
    return Step::More;
  }

  ExplodeState& s_;
  const CodecReadFn read_;
  const CodecWriteFn write_;
  void* const parameter_;
  std::uint64_t bits_ = 0;    // unread bits, next bit lowest
  std::uint32_t count_ = 0;   // valid bits in bits_
  std::uint32_t inPos_ = 0;   // next unread byte of the input buffer
  std::uint32_t inCount_ = 0; // bytes that the last read delivered
  std::uint32_t pos_ = 0;     // window index of the next byte to produce
};

}  // namespace

std::uint32_t ExplodeStream(CodecReadFn read, CodecWriteFn write, ExplodeState& state,
                            void* parameter) {
  Decoder decoder(state, read, write, parameter);
  if (!decoder.Start()) return ExplodeTooShort;
  return decoder.Run();
}

}  // namespace qd
