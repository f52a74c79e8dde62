//===- reader.h - Reading a package's pieces in order, in bounded memory ----===//
//
// A package is read front to back, the way the installer reads its own file:
// the stub first (everything before the package marker), then one item after
// another, each an implode stream that ends where the next marker stands,
// followed by its time stamp. The reader holds one buffer of the file at a
// time and decodes each stream as its bytes arrive, so a package of any size,
// and items of any unpacked size, cost the same memory.
//
// Every byte read is hostile: nothing past the counted length is looked at,
// a stream without a marker after it is reported as such, and a stream that
// does not decode is reported with the decoder's result.
//
//===----------------------------------------------------------------------===//
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <utility>

namespace qd {

struct ExplodeState;
namespace platform {
class File;
}

// Reads the package's next bytes into the buffer: the count read, 0 at the
// end of the file, -1 when the read fails.
using PackageReadFn = std::function<std::int64_t(std::span<std::uint8_t> buffer)>;
// Reads `file` from `offset` on, one read after the other, each at its own
// offset, so that several readers may share the file: for a reader that
// starts there.
[[nodiscard]] PackageReadFn ReadsFrom(platform::File& file, std::uint64_t offset);

// Takes the next bytes of a piece; false when they cannot be kept (the
// reader then reads on to the piece's end, but keeps nothing more).
using PieceSinkFn = std::function<bool(std::span<const std::uint8_t> bytes)>;

enum class PieceStatus {
  Ok,
  ReadFailed,   // the package could not be read
  WriteFailed,  // the sink refused bytes
  Malformed,    // the stream did not decode; see explodeResult
  NoMarker,     // the data ended before the marker (and time stamp) after the piece
};

struct Piece {
  PieceStatus status = PieceStatus::Ok;
  std::uint32_t explodeResult = 0;  // ExplodeStream's result, for an item
  std::uint64_t begin = 0;          // file offset of the piece
  std::uint64_t packedSize = 0;     // bytes from its start to the marker after it
  std::uint64_t unpackedSize = 0;   // bytes handed to the sink
  std::uint64_t timeStamp = 0;      // an item's time stamp
  bool complete = false;            // the marker (and time stamp) after the piece were read
};

class PackageReader {
 public:
  // `read` delivers the file's bytes from offset `position` on; only the
  // file's first `length` bytes count.
  PackageReader(PackageReadFn read, std::uint64_t position, std::uint64_t length);
  ~PackageReader();
  PackageReader(const PackageReader&) = delete;
  PackageReader& operator=(const PackageReader&) = delete;

  // From the start of the file: the stub, every byte before the second
  // marker text (the stub holds the first), to `sink`. The reader then
  // stands on item 0.
  Piece CopyStub(const PieceSinkFn& sink);

  // The item at the reader's position: its stream decoded to `sink`, and the
  // time stamp after its marker. On success the reader stands on the next
  // item.
  Piece UnpackItem(const PieceSinkFn& sink);

  // The item at the reader's position, passed over without decoding: where
  // it begins, its packed size up to the marker after it, and its time
  // stamp. On success the reader stands on the next item.
  Piece SkipItem();

  // Starts anew at `position`, reading through `read` up to `length`, as a
  // new reader would; the buffer and the decoder's state are kept.
  void Restart(PackageReadFn read, std::uint64_t position, std::uint64_t length);

  // The file offset of the next byte to read.
  std::uint64_t Position() const { return bufferOffset_ + cursor_; }

  // Reads on through `read`, which must deliver the file's bytes from where
  // the last read ended: for a caller that reads one piece after another
  // with what each piece needs (a window that must answer between reads),
  // and keeps the bytes read ahead for the next piece.
  void ReadThrough(PackageReadFn read) { read_ = std::move(read); }

 private:
  struct Decoding;
  static std::uint32_t DecoderRead(std::uint8_t* buffer, std::uint32_t* size, void* parameter);
  static void DecoderWrite(const std::uint8_t* buffer, std::uint32_t* size, void* parameter);

  // How many bytes from the cursor on certainly come before the next marker.
  std::size_t ClearBytes();
  // Moves more of the file into the buffer; false when nothing more comes.
  bool Refill();
  // Moves the cursor up to the next marker, handing the bytes passed over to
  // `sink` when there is one. False when the data ends, or a read or the sink
  // fails, before the marker.
  bool SkipToMarker(const PieceSinkFn* sink, Piece& piece);
  // Fills `out` from the cursor on; false when the data ends first.
  bool Take(std::span<std::uint8_t> out);
  // Moves past the marker and time stamp that end an item, from anywhere in
  // its stream, and records them in `piece`.
  void FinishItem(Piece& piece);
  // The outcome of a piece whose end could not be taken.
  PieceStatus EndFailure() const { return failed_ ? PieceStatus::ReadFailed : PieceStatus::NoMarker; }

  PackageReadFn read_;
  std::uint64_t length_ = 0;
  // Allocated without being filled: a short package touches only what it reads.
  std::unique_ptr<std::uint8_t[]> storage_;
  std::span<std::uint8_t> buffer_;
  std::uint64_t bufferOffset_ = 0;  // file offset of buffer_[0]
  std::size_t cursor_ = 0;      // next unread byte
  std::size_t filled_ = 0;      // bytes in the buffer
  std::size_t clearTo_ = 0;     // no marker begins before this index
  bool markerAtClear_ = false;  // and one begins there
  bool ended_ = false;          // nothing more to read
  bool failed_ = false;         // a read failed
  std::unique_ptr<ExplodeState> decoder_;
};

}  // namespace qd
