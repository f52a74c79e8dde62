//===- image.cpp - Image checksum and version resource, Win32 --------------===//
//
// Only this platform's code here: the image help library computes the
// checksum, the version library reads the version resource. Both come from
// the system directory only (see system_library.h).
//
//===----------------------------------------------------------------------===//
#include <windows.h>
// After windows.h, which they need.
#include <imagehlp.h>
#include <winver.h>

#include <string>
#include <vector>

#include "platform/platform.h"
#include "system_library.h"

namespace qd::platform {

std::optional<ImageChecksum> ComputeImageChecksum(std::string_view path) {
  const win32::SystemLibrary imagehlp("imagehlp.dll");
  const auto mapAndCheckSum = imagehlp.Find<decltype(MapFileAndCheckSumA)>("MapFileAndCheckSumA");
  if (!mapAndCheckSum) return std::nullopt;
  const std::string name(path);
  DWORD stored = 0;
  DWORD computed = 0;
  if (mapAndCheckSum(name.c_str(), &stored, &computed) != CHECKSUM_SUCCESS) return std::nullopt;
  return ImageChecksum{stored, computed};
}

std::optional<VersionResource> ReadVersionResource(std::string_view path) {
  const win32::SystemLibrary version("version.dll");
  const auto infoSize = version.Find<decltype(GetFileVersionInfoSizeA)>("GetFileVersionInfoSizeA");
  const auto info = version.Find<decltype(GetFileVersionInfoA)>("GetFileVersionInfoA");
  const auto queryValue = version.Find<decltype(VerQueryValueA)>("VerQueryValueA");
  if (!infoSize || !info || !queryValue) return std::nullopt;

  const std::string name(path);
  DWORD ignored = 0;
  const DWORD size = infoSize(name.c_str(), &ignored);
  if (size == 0) return std::nullopt;
  // The buffer takes the size the query reported, however large the resource.
  std::vector<std::uint8_t> buffer(size);
  if (!info(name.c_str(), 0, size, buffer.data())) return std::nullopt;

  VersionResource result;
  void* value = nullptr;
  UINT length = 0;
  if (queryValue(buffer.data(), "\\", &value, &length) && value != nullptr && length >= sizeof(VS_FIXEDFILEINFO)) {
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
    if (fixed->dwSignature == 0xFEEF04BD) {
      result.hasFixedInfo = true;
      result.fileVersionMS = fixed->dwFileVersionMS;
      result.fileVersionLS = fixed->dwFileVersionLS;
    }
  }
  return result;
}

}  // namespace qd::platform
