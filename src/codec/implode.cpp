//===- implode.cpp - Compressor for the implode stream format --------------===//
//
// A greedy matcher with one step of look-ahead. Its choices follow fixed
// rules so that the streams it makes are byte for byte those of the packages
// already in the field:
//
// - Candidates come from a pair hash (4 * first byte + 5 * second byte). Once
//   per block a counting sort lists every indexed position bucket by bucket,
//   in increasing order; a bucket's start only moves forward within a block.
// - The search takes the longest match (up to 516 bytes) among the positions
//   from D - 1 to 2 bytes back; among equally long ones the newest. Once a
//   match is longer than 10 bytes the rest of the bucket is searched with a
//   failure table over the bytes being matched, which skips candidates that
//   cannot beat it; a match that reaches 516 bytes is taken at once.
// - A match shorter than 8 bytes is weighed against the match one byte later.
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
#include <cstring>

#include "codec/codec.h"
#include "codec/tables.h"

namespace qd {
namespace {

using namespace codec;

constexpr std::uint32_t MaxMatch = ImplodeMaxMatch;
constexpr std::uint32_t BlockSize = ImplodeReadSize;
// Matches longer than this switch the search to the failure table.
constexpr std::uint32_t LongMatch = 10;
// Matches shorter than this are weighed against the match one byte later.
constexpr std::uint32_t LookAheadBelow = 8;
// The farthest back that a 2-byte copy may reach: its distance field is 8 bits.
constexpr std::uint32_t ShortCopyFieldLimit = 256;
// A match one byte longer at the next position loses to one at a distance
// of at most 129 (distance field 128) here.
constexpr std::uint32_t NearFieldLimit = 128;

std::uint64_t Load64(const std::uint8_t* at) {
  std::uint64_t word;
  std::memcpy(&word, at, sizeof word);
  return word;
}

// How many leading bytes of `a` and `b` agree, at most `limit`. Reads whole
// words, up to 7 bytes past the last byte compared.
std::uint32_t CommonLength(const std::uint8_t* a, const std::uint8_t* b, std::uint32_t limit) {
  std::uint32_t n = 0;
  while (n < limit) {
    const std::uint64_t difference = Load64(a + n) ^ Load64(b + n);
    if (difference != 0) {
      if constexpr (std::endian::native == std::endian::little)
        n += static_cast<std::uint32_t>(std::countr_zero(difference)) / 8;
      else
        n += static_cast<std::uint32_t>(std::countl_zero(difference)) / 8;
      return std::min(n, limit);
    }
    n += 8;
  }
  return limit;
}

class Encoder {
 public:
  Encoder(ImplodeState& state, const SymbolCodes& codes)
      : s_(state), codes_(codes), w_(state.work.data()), positions_(state.positions.data()),
        heads_(state.heads.data()), dictionary_(state.dictionarySize) {}

  void Compress() {
    std::fill(s_.work.begin(), s_.work.end(), std::uint8_t{0});
    std::fill(s_.positions.begin(), s_.positions.end(), std::uint16_t{0});
    std::fill(s_.output.begin(), s_.output.end(), std::uint8_t{0});
    s_.output[0] = static_cast<std::uint8_t>(s_.literalMode);
    s_.output[1] = static_cast<std::uint8_t>(s_.dictionaryBits);
    s_.outputBytes = 2;
    s_.outputBits = 0;

    const std::uint32_t loadAt = dictionary_ + MaxMatch;
    std::uint32_t p = loadAt;
    std::uint32_t stage = 0;
    for (;;) {
      const std::uint32_t loaded = LoadBlock(loadAt);
      if (empty_) break;
      const std::uint32_t blockEnd = ended_ ? loadAt + loaded : dictionary_ + loaded;
      // The first block indexes from its first byte. With a 4096-byte
      // dictionary the second indexes D - 516 bytes back, which never reaches
      // the 516 bytes below the carried-over data (they were never loaded);
      // later blocks index a whole dictionary back.
      std::uint32_t start = p - dictionary_;
      if (stage == 0) {
        start = p;
        stage = dictionary_ == 4096 ? 1 : 2;
      } else if (stage == 1) {
        start = p - dictionary_ + MaxMatch;
        stage = 2;
      }
      Index(start, blockEnd);
      Encode(p, blockEnd);
      if (ended_) break;
      std::memmove(w_, w_ + BlockSize, loadAt);
      p -= BlockSize;
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
      const std::uint32_t got = std::min(s_.read(w_ + at + loaded, &size, s_.parameter), wanted);
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

  std::uint32_t Hash(std::uint32_t q) const { return 4u * w_[q] + 5u * w_[q + 1]; }

  // Counting sort of the offsets from `start` to `end` (inclusive) by pair
  // hash: each bucket's offsets end up in increasing order, and the bucket
  // entry is the index of its first offset.
  void Index(std::uint32_t start, std::uint32_t end) {
    auto& buckets = s_.buckets;
    std::fill(buckets.begin(), buckets.end(), std::uint16_t{0});
    for (std::uint32_t q = start; q <= end; ++q) ++buckets[Hash(q)];
    std::uint16_t total = 0;
    for (auto& bucket : buckets) {
      total = static_cast<std::uint16_t>(total + bucket);
      bucket = total;
    }
    for (std::uint32_t q = end + 1; q-- > start;)
      positions_[--buckets[Hash(q)]] = static_cast<std::uint16_t>(q);
    // The bytes past the work buffer: the position table's first bytes, low
    // byte first.
    for (std::uint32_t i = 0; i < ImplodeWorkSlack / 2; ++i) {
      w_[ImplodeWorkSize + 2 * i] = static_cast<std::uint8_t>(positions_[i]);
      w_[ImplodeWorkSize + 2 * i + 1] = static_cast<std::uint8_t>(positions_[i] >> 8);
    }
    for (std::uint32_t i = 0; i <= end - start; ++i) heads_[i] = Head(positions_[i]);
  }

  std::uint32_t Head(std::uint32_t q) const {
    if constexpr (std::endian::native == std::endian::little) {
      std::uint32_t head;
      std::memcpy(&head, w_ + q, sizeof head);
      return head;
    } else {
      return std::uint32_t{w_[q]} | (std::uint32_t{w_[q + 1]} << 8) |
             (std::uint32_t{w_[q + 2]} << 16) | (std::uint32_t{w_[q + 3]} << 24);
    }
  }

  //===--------------------------------------------------------------------===//
  // Match search
  //===--------------------------------------------------------------------===//

  // The longest match for the bytes at p (0, or 2..516); its distance minus
  // one goes to the state's distance field.
  std::uint32_t Search(std::uint32_t p) {
    const std::uint32_t hash = Hash(p);
    std::uint32_t i = s_.buckets[hash];
    const std::uint32_t oldest = p - dictionary_ + 1;
    while (positions_[i] < oldest) ++i;
    s_.buckets[hash] = static_cast<std::uint16_t>(i);

    // A candidate counts only if it matches at least `best` bytes, so one
    // that differs in any of its first `best` bytes is passed over at once:
    // the first four are in its head, a later one is the last of them.
    const std::uint32_t limit = p - 1;
    const std::uint32_t head = Head(p);
    std::uint32_t best = 1;
    std::uint32_t headMask = 0xFF;
    std::uint32_t last = w_[p];
    for (;; ++i) {
      i = NextCandidate(i, limit, head, headMask, best - 1, last);
      const std::uint32_t c = positions_[i];
      if (c >= limit) break;
      const std::uint32_t j = 2 + CommonLength(w_ + c + 2, w_ + p + 2, MaxMatch - 2);
      if (j >= best) {
        best = j;
        s_.distanceField = p - c - 1;
        if (j > LongMatch) return LongSearch(p, i, best);
        headMask = best >= 4 ? 0xFFFFFFFF : (1u << (8 * best)) - 1;
        last = w_[p + best - 1];
      }
    }
    return best >= 2 ? best : 0;
  }

  // The index of the first candidate from index i on whose head agrees with
  // `head` under `headMask` and whose byte at `lastOffset` is `last`; or of
  // the first position not below `limit`. The hottest loop of the search:
  // one test per candidate, taken only when it passes.
  std::uint32_t NextCandidate(std::uint32_t i, std::uint32_t limit, std::uint32_t head,
                              std::uint32_t headMask, std::uint32_t lastOffset,
                              std::uint32_t last) const {
    const std::uint16_t* position = positions_ + i;
    const std::uint32_t* candidateHead = heads_ + i;
    const std::uint8_t* lastByte = w_ + lastOffset;
    for (;;) {
      const std::uint32_t c = *position;
      if (c >= limit) break;
      if ((((*candidateHead ^ head) & headMask) | (lastByte[c] ^ last)) == 0) break;
      ++position;
      ++candidateHead;
    }
    return static_cast<std::uint32_t>(position - positions_);
  }

  // Extends the failure table over the bytes at p from entry `from` + 1 to
  // entry `to`: entry k is the longest proper prefix of the first k bytes
  // that is also their suffix.
  void ExtendFailure(std::uint32_t p, std::uint32_t from, std::uint32_t to) {
    auto& f = s_.failure;
    for (std::uint32_t k = from + 1; k <= to; ++k) {
      std::int32_t border = f[k - 1];
      while (border >= 0 && w_[p + static_cast<std::uint32_t>(border)] != w_[p + k - 1])
        border = f[static_cast<std::uint32_t>(border)];
      f[k] = static_cast<std::int16_t>(border + 1);
    }
  }

  // The rest of the bucket after a match of `best` (> 10) bytes at the
  // candidate with index i.
  std::uint32_t LongSearch(std::uint32_t p, std::uint32_t i, std::uint32_t best) {
    if (best == MaxMatch) return best;
    const std::uint32_t limit = p - 1;
    if (positions_[i + 1] >= limit) return best;

    s_.failure[0] = -1;
    s_.failure[1] = 0;
    ExtendFailure(p, 1, best);
    std::uint32_t length = best;
    std::uint32_t e = positions_[i] + best;  // first byte after the last match
    for (;;) {
      const std::int32_t border = s_.failure[length];
      std::uint32_t o = border < 0 ? 0 : static_cast<std::uint32_t>(border);
      std::uint32_t t = 0;
      do {
        t = positions_[++i];
        if (t >= limit) return best;
      } while (t + o < e);

      if (w_[t + best - 2] != w_[p + best - 2]) {
        do {
          t = positions_[++i];
          if (t >= limit) return best;
        } while (w_[t + best - 2] != w_[p + best - 2] || w_[t] != w_[p]);
        o = 2;
        e = t + 2;
      } else if (t + o != e) {
        o = 0;
        e = t;
      }

      const std::uint32_t more = CommonLength(w_ + e, w_ + p + o, MaxMatch - o);
      length = o + more;
      e += more;
      if (length >= best) {
        s_.distanceField = p - t - 1;
        if (length > best) {
          if (length == MaxMatch) return length;
          ExtendFailure(p, best, length);
          best = length;
        }
      }
    }
  }

  //===--------------------------------------------------------------------===//
  // Encoding
  //===--------------------------------------------------------------------===//

  void Encode(std::uint32_t& p, std::uint32_t blockEnd) {
    while (p < blockEnd) {
      std::uint32_t length = Search(p);
      for (;;) {
        if (length == 0 || (length == 2 && s_.distanceField >= ShortCopyFieldLimit)) {
          PutSymbol(w_[p++]);
          break;
        }
        if (ended_ && p + length > blockEnd) {
          length = blockEnd - p;
          if (length < 2 || (length == 2 && s_.distanceField >= ShortCopyFieldLimit)) {
            PutSymbol(w_[p++]);
          } else {
            PutCopy(length);
            p += length;
          }
          break;
        }
        if (length >= LookAheadBelow || p + 1 >= blockEnd) {
          PutCopy(length);
          p += length;
          break;
        }
        const std::uint32_t keptField = s_.distanceField;
        const std::uint32_t next = Search(p + 1);
        if (next <= length || (next == length + 1 && keptField <= NearFieldLimit)) {
          s_.distanceField = keptField;
          PutCopy(length);
          p += length;
          break;
        }
        PutSymbol(w_[p++]);
        length = next;
      }
    }
  }

  //===--------------------------------------------------------------------===//
  // Output
  //===--------------------------------------------------------------------===//

  // Appends the n lowest bits of v (n at most 16), lowest first.
  void Put(std::uint32_t n, std::uint32_t v) {
    pending_ |= v << s_.outputBits;
    s_.outputBits += n;
    while (s_.outputBits >= 8) {
      s_.output[s_.outputBytes++] = static_cast<std::uint8_t>(pending_);
      pending_ >>= 8;
      s_.outputBits -= 8;
      if (s_.outputBytes == ImplodeWriteSize) Write(ImplodeWriteSize);
    }
  }

  void PutSymbol(std::uint32_t symbol) { Put(codes_.bits[symbol], codes_.values[symbol]); }

  void PutCopy(std::uint32_t length) {
    PutSymbol(length + FirstCopySymbol - MinCopyLength);
    const std::uint32_t field = s_.distanceField;
    const std::uint32_t lowBits = length == 2 ? 2 : s_.dictionaryBits;
    const std::uint32_t high = field >> lowBits;
    Put(DistanceBits[high], DistanceCodes[high]);
    Put(lowBits, field & ((1u << lowBits) - 1));
  }

  void Write(std::uint32_t size) {
    s_.write(s_.output.data(), &size, s_.parameter);
    s_.outputBytes = 0;
  }

  void Finish() {
    PutSymbol(EndOfStreamSymbol);
    if (s_.outputBits != 0) {
      s_.output[s_.outputBytes++] = static_cast<std::uint8_t>(pending_);
      s_.outputBits = 0;
    }
    Write(s_.outputBytes);
  }

  ImplodeState& s_;
  const SymbolCodes& codes_;
  std::uint8_t* w_;
  std::uint16_t* positions_;
  std::uint32_t* heads_;
  std::uint32_t dictionary_;
  std::uint32_t pending_ = 0;  // bits of the byte being filled
  bool firstRead_ = true;
  bool empty_ = false;
  bool ended_ = false;
};

}  // namespace

std::uint32_t ImplodeStream(CodecReadFn read, CodecWriteFn write, ImplodeState& state,
                            void* parameter, std::uint32_t literalMode,
                            std::uint32_t dictionarySize) {
  state.read = read;
  state.write = write;
  state.parameter = parameter;
  state.dictionarySize = dictionarySize;
  state.literalMode = literalMode;
  switch (dictionarySize) {
    case 1024: state.dictionaryBits = 4; break;
    case 2048: state.dictionaryBits = 5; break;
    case 4096: state.dictionaryBits = 6; break;
    default: return ImplodeBadDictionary;
  }
  state.dictionaryMask = (1u << state.dictionaryBits) - 1;
  if (literalMode > 1) return ImplodeBadLiteralMode;
  Encoder encoder(state, literalMode == 0 ? BinarySymbols : AsciiSymbols);
  encoder.Compress();
  return ImplodeOk;
}

}  // namespace qd
