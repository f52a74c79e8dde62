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
// While the buffer holds at least TokenBits bits, a whole token with its
// distance decodes without any check (the fast path); near the end of an
// input buffer each drop is checked and may call the read callback.
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

enum class Step { More, End, Failed };

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
      Fill();
      step = count_ >= TokenBits ? Token<false>() : Token<true>();
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

  // Moves whole bytes of the input buffer into the bit buffer; never reads.
  void Fill() {
    if (inCount_ - inPos_ >= 8) {
      std::uint64_t word;
      if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(&word, s_.input.data() + inPos_, sizeof word);
      } else {
        word = 0;
        for (std::uint32_t i = 0; i < 8; ++i)
          word |= std::uint64_t{s_.input[inPos_ + i]} << (8 * i);
      }
      bits_ |= word << count_;
      inPos_ += (63 - count_) >> 3;
      count_ |= 56;
      return;
    }
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

  // Drops n bits (at most 8) and keeps 8 ahead. Checked: fails when the
  // input has ended; unchecked: the caller made sure the bits are there.
  template <bool Checked>
  bool Drop(std::uint32_t n) {
    if constexpr (Checked) {
      if (count_ < n + 8) {
        if (inPos_ == inCount_ && !Refill()) return false;
        bits_ |= std::uint64_t{s_.input[inPos_++]} << count_;
        count_ += 8;
      }
    }
    bits_ >>= n;
    count_ -= n;
    return true;
  }

  // The next token's symbol index, or Failure.
  template <bool Checked>
  std::uint32_t Symbol() {
    if (bits_ & 1) {
      if (!Drop<Checked>(1)) return Failure;
      const std::uint32_t row = LengthLookup[Peek(8)];
      if (!Drop<Checked>(LengthBits[row])) return Failure;
      const std::uint32_t extra = LengthExtraBits[row];
      if (extra == 0) return FirstCopySymbol + row;
      const std::uint32_t x = Peek(extra);
      const std::uint32_t symbol = FirstCopySymbol + LengthBase[row] + x;
      // The stream may end right after the end-of-stream code.
      if (!Drop<Checked>(extra) && symbol != EndOfStreamSymbol) return Failure;
      return symbol;
    }
    if (!Drop<Checked>(1)) return Failure;
    std::uint32_t byte = 0;
    if (s_.literalMode == BinaryLiterals) {
      byte = Peek(8);
    } else {
      const std::uint32_t v = Peek(8);
      if (v != 0) {
        byte = Ascii.first[v];
        if (byte == AsciiEscape) {
          if ((v & 0x3F) != 0) {
            if (!Drop<Checked>(4)) return Failure;
            byte = Ascii.second[Peek(8)];
          } else {
            if (!Drop<Checked>(6)) return Failure;
            byte = Ascii.third[Peek(7)];
          }
        }
      } else {
        if (!Drop<Checked>(8)) return Failure;
        byte = Ascii.fourth[Peek(8)];
      }
      if (!Drop<Checked>(Ascii.bits[byte])) return Failure;
      return byte;
    }
    if (!Drop<Checked>(8)) return Failure;
    return byte;
  }

  // Decodes one token and carries it out in the window.
  template <bool Checked>
  Step Token() {
    const std::uint32_t symbol = Symbol<Checked>();
    if (symbol < FirstCopySymbol) {
      s_.window[pos_++] = static_cast<std::uint8_t>(symbol);
      return Step::More;
    }
    if (symbol == EndOfStreamSymbol) return Step::End;
    if (symbol == Failure) return Step::Failed;

    const std::uint32_t length = symbol - FirstCopySymbol + MinCopyLength;
    const std::uint32_t high = DistanceLookup[Peek(8)];
    if (!Drop<Checked>(DistanceBits[high])) return Step::Failed;
    const std::uint32_t lowBits = DistanceLowBits(length, s_.dictionaryBits);
    const std::uint32_t distance = ((high << lowBits) | Peek(lowBits)) + 1;
    if (!Drop<Checked>(lowBits)) return Step::Failed;
    Copy(distance, length);
    return Step::More;
  }

  // Repeats `length` bytes from `distance` back; the source may overlap the
  // bytes being produced. Distances reach at most 4096 back, into the history.
  void Copy(std::uint32_t distance, std::uint32_t length) {
    std::uint8_t* to = s_.window.data() + pos_;
    const std::uint8_t* from = to - distance;
    pos_ += length;
    if (distance >= 8) {
      // Whole words; may run up to 7 bytes past the copy into the slack.
      for (std::uint32_t i = 0; i < length; i += 8) std::memcpy(to + i, from + i, 8);
    } else if (distance == 1) {
      std::memset(to, *from, length);
    } else {
      for (std::uint32_t i = 0; i < length; ++i) to[i] = from[i];
    }
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
