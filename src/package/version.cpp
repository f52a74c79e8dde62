//===- version.cpp - The file version that names a package -------------------===//
#include "package/version.h"

#include "platform/platform.h"

namespace qd {

bool QueryFileVersion(std::string_view path, std::uint32_t* major, std::uint32_t* minor,
                      std::uint32_t* build, std::uint32_t* revision) {
  const auto version = platform::ReadVersionResource(path);
  if (!version) return false;
  if (!version->hasFixedInfo) return true;
  if (major) *major = version->fileVersionMS >> 16;
  if (minor) *minor = version->fileVersionMS & 0xFFFF;
  if (build) *build = version->fileVersionLS >> 16;
  if (revision) *revision = version->fileVersionLS & 0xFFFF;
  return true;
}

}  // namespace qd
