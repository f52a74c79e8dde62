//===- checksum.cpp - The image checksum that seals a package --------------===//
//
// The platform computes the checksum; stamping writes it back into the
// headers of a 32-bit or a 64-bit image, whose CheckSum fields lie at the
// same place. The first 248 bytes of PE headers are read, the CheckSum
// field alone is replaced, and the same 248 bytes are written back where
// they came from.
//
//===----------------------------------------------------------------------===//
#include "package/checksum.h"

#include <array>

#include "pe/pe_image.h"
#include "platform/platform.h"

namespace qd {

namespace {

// Writes `checksum` into the CheckSum field of the image at `path`.
[[nodiscard]] bool StampChecksum(std::string_view path, std::uint32_t checksum) {
  platform::File file = platform::OpenForUpdate(path);
  if (!file.IsOpen()) return false;

  std::array<std::uint8_t, pe::DosHeaderSize> dos{};
  if (!platform::SeekTo(file, 0) ||
      platform::ReadBytes(file, dos) != static_cast<std::int64_t>(dos.size()))
    return false;
  const auto h = pe::PeHeadersOffset(dos);
  if (!h) return false;

  std::array<std::uint8_t, pe::Pe32HeadersSize> headers{};
  if (!platform::SeekTo(file, *h) ||
      platform::ReadBytes(file, headers) != static_cast<std::int64_t>(headers.size()))
    return false;
  const auto magic = pe::OptionalHeaderMagic(headers);
  if (!pe::HasPeSignature(headers) || !magic || (*magic != pe::Pe32Magic && *magic != pe::Pe32PlusMagic))
    return false;

  pe::StoreU32(std::span(headers).subspan<pe::CheckSumField, 4>(), checksum);
  return platform::SeekTo(file, *h) && platform::WriteBytes(file, headers) && file.Close();
}

}  // namespace

bool CheckImageChecksum(std::string_view path, Stamp stamp) {
  const auto checksum = platform::ComputeImageChecksum(path);
  if (!checksum) return false;
  if (checksum->stored == checksum->computed) return true;
  if (stamp == Stamp::No) return false;
  return StampChecksum(path, checksum->computed);
}

}  // namespace qd
