//===- image.cpp - Image checksum and version resource, Win32 --------------===//
//
// Only this platform's code here: the image help library computes the
// checksum, the version library reads the version resource.
//
//===----------------------------------------------------------------------===//
#include <windows.h>
// After windows.h, which they need.
#include <imagehlp.h>
#include <winver.h>

#include <string>
#include <vector>

#include "platform/platform.h"

namespace qd::platform {

std::optional<ImageChecksum> ComputeImageChecksum(std::string_view path) {
  const std::string name(path);
  DWORD stored = 0;
  DWORD computed = 0;
  if (MapFileAndCheckSumA(name.c_str(), &stored, &computed) != CHECKSUM_SUCCESS) return std::nullopt;
  return ImageChecksum{stored, computed};
}

std::optional<VersionResource> ReadVersionResource(std::string_view path) {
  const std::string name(path);
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(name.c_str(), &ignored);
  if (size == 0) return std::nullopt;
  // The buffer takes the size the query reported, however large the resource.
  std::vector<std::uint8_t> buffer(size);
  if (!GetFileVersionInfoA(name.c_str(), 0, size, buffer.data())) return std::nullopt;

  VersionResource result;
  void* value = nullptr;
  UINT length = 0;
  if (VerQueryValueA(buffer.data(), "\\", &value, &length) && value != nullptr &&
      length >= sizeof(VS_FIXEDFILEINFO)) {
    const auto* info = static_cast<const VS_FIXEDFILEINFO*>(value);
    if (info->dwSignature == 0xFEEF04BD) {
      result.hasFixedInfo = true;
      result.fileVersionMS = info->dwFileVersionMS;
      result.fileVersionLS = info->dwFileVersionLS;
    }
  }
  return result;
}

}  // namespace qd::platform
