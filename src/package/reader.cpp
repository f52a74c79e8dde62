//===- reader.cpp - Reading a package's pieces in order, in bounded memory --===//
//
// The buffer holds a stretch of the file from the cursor on. A byte is
// "clear" when no marker can begin at it: before a marker found in the
// buffer, or before the last 12 bytes, where a marker could begin whose rest
// is not read yet (at the end of the data every byte is clear). The decoder
// is fed clear bytes only, so it sees exactly the bytes between an item's
// start and the next marker, in reads as full as a memory source would give.
//
//===----------------------------------------------------------------------===//
#include "package/reader.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>

#include "codec/codec.h"
#include "package/layout.h"
#include "platform/platform.h"

namespace qd {
namespace {

// Reads of this size are few, and the buffer they fill stays in the
// processor's cache while the marker scan and the decoder pass over it.
constexpr std::size_t BufferSize = std::size_t{1} << 18;

// The whole stream of an empty file: a header and the end code. The decoder
// refuses a first read this short, but the builder writes it for every empty
// file, and an empty file must install like any other.
[[nodiscard]] bool IsEmptyFileStream(std::span<const std::uint8_t> stream) {
  return stream.size() == 4 && stream[0] <= 1 && stream[1] >= 4 && stream[1] <= 6 && stream[2] == 0x01 &&
         stream[3] == 0xFF;
}

}  // namespace

struct PackageReader::Decoding {
  PackageReader& reader;
  const PieceSinkFn& sink;
  Piece& piece;
  bool sinkFailed = false;
  std::array<std::uint8_t, 5> head{};  // the stream's first bytes
  std::size_t headSize = 0;
};

PackageReadFn ReadsFrom(platform::File& file, std::uint64_t offset) {
  return [&file, offset](std::span<std::uint8_t> buffer) mutable -> std::int64_t {
    const auto got = platform::ReadAt(file, offset, buffer);
    if (!got) return -1;
    offset += *got;
    return static_cast<std::int64_t>(*got);
  };
}

PackageReader::PackageReader(PackageReadFn read, std::uint64_t position, std::uint64_t length)
    : storage_(std::make_unique_for_overwrite<std::uint8_t[]>(BufferSize)), buffer_(storage_.get(), BufferSize) {
  Restart(std::move(read), position, length);
}

void PackageReader::Restart(PackageReadFn read, std::uint64_t position, std::uint64_t length) {
  read_ = std::move(read);
  length_ = length;
  bufferOffset_ = position;
  cursor_ = filled_ = clearTo_ = 0;
  markerAtClear_ = failed_ = false;
  ended_ = position >= length;
}

// Out of line, where the decoder's record is a complete type.
PackageReader::~PackageReader() = default;

std::size_t PackageReader::ClearBytes() {
  if (markerAtClear_) return clearTo_ - cursor_;
  const std::span<const std::uint8_t> data(buffer_.data(), filled_);
  const std::size_t from = std::max(cursor_, clearTo_);
  if (const auto marker = FindMarker(data, from)) {
    clearTo_ = *marker;
    markerAtClear_ = true;
  } else {
    // A marker that begins in the last bytes would reach past the buffer.
    const std::size_t partial = ended_ ? 0 : std::min(filled_, PackageMarkerSize - 1);
    clearTo_ = std::max(from, filled_ - partial);
  }
  return clearTo_ - cursor_;
}

bool PackageReader::Refill() {
  if (ended_ || failed_) return false;
  // Keep the unread bytes, at the front.
  std::memmove(buffer_.data(), buffer_.data() + cursor_, filled_ - cursor_);
  bufferOffset_ += cursor_;
  filled_ -= cursor_;
  clearTo_ -= std::min(clearTo_, cursor_);
  cursor_ = 0;

  const std::uint64_t end = bufferOffset_ + filled_;
  const std::uint64_t left = length_ > end ? length_ - end : 0;
  const std::size_t room = static_cast<std::size_t>(std::min<std::uint64_t>(buffer_.size() - filled_, left));
  const std::int64_t got = room == 0 ? 0 : read_(std::span(buffer_.data() + filled_, room));
  if (got < 0) failed_ = true;
  if (got <= 0) {
    ended_ = true;
    return false;
  }
  filled_ += static_cast<std::size_t>(std::min<std::int64_t>(got, static_cast<std::int64_t>(room)));
  return true;
}

bool PackageReader::SkipToMarker(const PieceSinkFn* sink, Piece& piece) {
  for (;;) {
    const std::size_t clear = ClearBytes();
    if (clear > 0) {
      const std::span<const std::uint8_t> bytes(buffer_.data() + cursor_, clear);
      if (sink && piece.status == PieceStatus::Ok) {
        if ((*sink)(bytes))
          piece.unpackedSize += clear;
        else
          piece.status = PieceStatus::WriteFailed;
      }
      cursor_ += clear;
      continue;
    }
    if (markerAtClear_) return true;
    if (!Refill()) return false;
  }
}

bool PackageReader::Take(std::span<std::uint8_t> out) {
  while (filled_ - cursor_ < out.size())
    if (!Refill()) return false;
  std::memcpy(out.data(), buffer_.data() + cursor_, out.size());
  cursor_ += out.size();
  if (cursor_ > clearTo_) {
    clearTo_ = cursor_;
    markerAtClear_ = false;
  }
  return true;
}

Piece PackageReader::CopyStub(const PieceSinkFn& sink) {
  Piece piece;
  piece.begin = Position();
  std::array<std::uint8_t, PackageMarkerSize> marker{};
  // The stub holds the marker's text once: it belongs to the stub.
  if (!SkipToMarker(&sink, piece) || !Take(marker)) {
    piece.status = EndFailure();
    return piece;
  }
  if (piece.status == PieceStatus::Ok && !sink(marker)) piece.status = PieceStatus::WriteFailed;
  piece.unpackedSize += marker.size();
  if (!SkipToMarker(&sink, piece)) {
    piece.status = EndFailure();
    return piece;
  }
  piece.packedSize = Position() - piece.begin;
  piece.complete = Take(marker);
  if (!piece.complete) piece.status = EndFailure();
  return piece;
}

std::uint32_t PackageReader::DecoderRead(std::uint8_t* buffer, std::uint32_t* size, void* parameter) {
  Decoding& decoding = *static_cast<Decoding*>(parameter);
  PackageReader& reader = decoding.reader;
  std::uint32_t done = 0;
  while (done < *size) {
    const std::size_t clear = std::min<std::size_t>(reader.ClearBytes(), *size - done);
    if (clear == 0) {
      if (reader.markerAtClear_ || !reader.Refill()) break;
      continue;
    }
    std::memcpy(buffer + done, reader.buffer_.data() + reader.cursor_, clear);
    reader.cursor_ += clear;
    done += static_cast<std::uint32_t>(clear);
  }
  const std::size_t kept = std::min<std::size_t>(done, decoding.head.size() - decoding.headSize);
  std::copy_n(buffer, kept, decoding.head.begin() + static_cast<std::ptrdiff_t>(decoding.headSize));
  decoding.headSize += kept;
  return done;
}

void PackageReader::DecoderWrite(const std::uint8_t* buffer, std::uint32_t* size, void* parameter) {
  Decoding& decoding = *static_cast<Decoding*>(parameter);
  if (decoding.sinkFailed) return;
  if (!decoding.sink(std::span(buffer, *size))) {
    decoding.sinkFailed = true;
    return;
  }
  decoding.piece.unpackedSize += *size;
}

Piece PackageReader::UnpackItem(const PieceSinkFn& sink) {
  Piece piece;
  piece.begin = Position();
  if (!decoder_) decoder_ = std::make_unique_for_overwrite<ExplodeState>();
  Decoding decoding{*this, sink, piece};
  piece.explodeResult = ExplodeStream(DecoderRead, DecoderWrite, *decoder_, &decoding);
  if (piece.explodeResult == ExplodeTooShort && IsEmptyFileStream(std::span(decoding.head).first(decoding.headSize)))
    piece.explodeResult = ExplodeOk;

  // Bytes the decoder did not need after its end code still belong to the item.
  FinishItem(piece);
  if (failed_)
    piece.status = PieceStatus::ReadFailed;
  else if (decoding.sinkFailed)
    piece.status = PieceStatus::WriteFailed;
  else if (piece.explodeResult != ExplodeOk)
    piece.status = PieceStatus::Malformed;
  else if (!piece.complete)
    piece.status = PieceStatus::NoMarker;
  return piece;
}

Piece PackageReader::SkipItem() {
  Piece piece;
  piece.begin = Position();
  FinishItem(piece);
  if (!piece.complete) piece.status = EndFailure();
  return piece;
}

void PackageReader::FinishItem(Piece& piece) {
  const bool marked = SkipToMarker(nullptr, piece);
  piece.packedSize = Position() - piece.begin;
  std::array<std::uint8_t, PackageMarkerSize + TimeStampSize> end{};
  piece.complete = marked && Take(end);
  if (piece.complete) piece.timeStamp = DecodeTimeStamp(std::span(end).last<TimeStampSize>());
}

}  // namespace qd
