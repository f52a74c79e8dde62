//===- image.cpp - Image checksum and version resource, read from the file --===//
//
// Portable: the rules themselves are in src/pe/, and the file is read
// through the table of operations. The POSIX build has no library of the
// system's to ask and uses this; Windows asks its own (win32/image.cpp).
// The checksum is computed as the file is read, a block at a time, so an
// image of any size costs one buffer for each thread that sums; the headers
// that locate the CheckSum field come from the first block. The rest is
// summed in stretches on several threads, where the machine has them: the
// sum of words is the same in any order.
//
//===----------------------------------------------------------------------===//
#include <algorithm>
#include <array>
#include <memory>
#include <vector>

#include "pe/pe_image.h"
#include "platform/platform.h"

namespace qd::platform {

namespace {

// The file is read in blocks of this size: few reads, and a block that stays
// in the processor's cache while it is summed.
constexpr std::size_t ChunkSize = std::size_t{1} << 18;
// Each thread sums a stretch of this many bytes at a time.
constexpr std::uint64_t StretchSize = std::uint64_t{1} << 22;

}  // namespace

std::optional<ImageChecksum> ComputeImageChecksum(std::string_view path) {
  File file = OpenForReading(path);
  if (!file.IsOpen()) return std::nullopt;
  const auto size = FileSize(file);
  // The field that holds the length in the checksum is 32 bits wide, and an
  // empty file cannot be mapped as an image.
  if (!size || *size == 0 || *size > 0xFFFFFFFFu) return std::nullopt;

  // The first block read holds the headers of any image but an odd one.
  auto chunk = std::make_unique_for_overwrite<std::uint8_t[]>(ChunkSize);
  const std::span<std::uint8_t> buffer(chunk.get(), ChunkSize);
  const auto firstRead = ReadAt(file, 0, buffer);
  if (!firstRead) return std::nullopt;
  const std::span<const std::uint8_t> first = buffer.first(*firstRead);

  pe::ChecksumState state;
  ImageChecksum result;
  // A header that cannot be read is no header that is missing: the sum
  // would count the CheckSum field and come out wrong.
  const auto dos = first.first(std::min(first.size(), pe::DosHeaderSize));
  if (const auto h = pe::PeHeadersOffset(dos)) {
    std::array<std::uint8_t, pe::CheckSumField + 4> far{};
    std::span<const std::uint8_t> headers;
    if (*h <= first.size() && first.size() - *h >= far.size()) {
      headers = first.subspan(*h, far.size());
    } else {
      const auto headersRead = ReadAt(file, *h, far);
      if (!headersRead) return std::nullopt;
      headers = std::span(far).first(*headersRead);
    }
    state.fieldOffset = pe::LocateCheckSumField(dos, headers, *size);
    if (state.fieldOffset) result.stored = *pe::LoadU32(headers, pe::CheckSumField);
  }

  pe::AddToChecksum(state, first);
  // The stretches read only these, while the sums are joined.
  const std::uint64_t restBegin = state.length;
  const std::optional<std::uint64_t> fieldOffset = state.fieldOffset;
  const std::uint64_t rest = *size - restBegin;
  const auto stretches = static_cast<std::size_t>((rest + StretchSize - 1) / StretchSize);
  // A block for each thread, so at most four of them.
  const OrderedShape shape = OrderedWorkShape(4);
  std::vector<std::unique_ptr<std::uint8_t[]>> buffers;
  buffers.push_back(std::move(chunk));
  buffers.resize(std::max<std::size_t>(shape.workers, 1));
  std::vector<pe::ChecksumState> sums(stretches);
  bool complete = true;
  RunOrdered(
      shape, stretches,
      [&](std::size_t k, std::size_t worker) {
        pe::ChecksumState& sum = sums[k];
        sum.fieldOffset = fieldOffset;
        sum.length = restBegin + k * StretchSize;
        const std::uint64_t end = std::min(sum.length + StretchSize, *size);
        if (!buffers[worker]) buffers[worker] = std::make_unique_for_overwrite<std::uint8_t[]>(ChunkSize);
        const std::span<std::uint8_t> block(buffers[worker].get(), ChunkSize);
        while (sum.length < end) {
          const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(ChunkSize, end - sum.length));
          const auto got = ReadAt(file, sum.length, block.first(want));
          if (!got || *got == 0) return;  // the file shrank or cannot be read: the stretch stays short
          pe::AddToChecksum(sum, block.first(*got));
        }
      },
      [&](std::size_t k) {
        complete = sums[k].length == std::min(restBegin + (k + 1) * StretchSize, *size);
        if (complete) pe::JoinChecksum(state, sums[k]);
        return complete;
      });
  if (!complete || state.length != *size) return std::nullopt;
  result.computed = pe::FinishChecksum(state);
  return result;
}

std::optional<VersionResource> ReadVersionResource(std::string_view path) {
  File file = OpenForReading(path);
  if (!file.IsOpen()) return std::nullopt;
  // A read that fails finds no resource, as the end of the file does.
  return pe::FindVersionResource([&file](std::uint64_t offset, std::span<std::uint8_t> buffer) {
    return ReadAt(file, offset, buffer).value_or(0);
  });
}

}  // namespace qd::platform
