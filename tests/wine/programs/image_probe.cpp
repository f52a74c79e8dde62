//===- image_probe.cpp - Image checksum and file version of the real platform -===//
//
// For each file argument, prints one line: what MapFileAndCheckSumA and
// GetFileVersionInfoA with VerQueryValueA report, then what our Win32 layer
// reports for the same file, then a tab and the argument.
//
//   map=RC stored=HEX computed=HEX info=0|1 fixed=0|1 ms=HEX ls=HEX
//   qdsum=0|1 qdstored=HEX qdcomputed=HEX qdinfo=0|1 qdfixed=0|1 qdms=HEX qdls=HEX
//
// RC is MapFileAndCheckSumA's result (0 is success); info is 1 when the
// version resource could be read, fixed is 1 when its root value is a fixed
// file information of at least 52 bytes with the signature 0xFEEF04BD.
//
//===----------------------------------------------------------------------===//
#include <windows.h>
// After windows.h, which they need.
#include <imagehlp.h>
#include <winver.h>

#include <cstdio>
#include <vector>

#include "platform/platform.h"

namespace {

void PrintPlatform(const char* path) {
  DWORD stored = 0, computed = 0;
  const DWORD map = MapFileAndCheckSumA(path, &stored, &computed);
  std::printf("map=%lu stored=%08lX computed=%08lX", map, stored, computed);

  int info = 0, fixed = 0;
  DWORD ms = 0, ls = 0;
  DWORD handle = 0;
  const DWORD size = GetFileVersionInfoSizeA(path, &handle);
  std::vector<unsigned char> buffer(size);
  if (size != 0 && GetFileVersionInfoA(path, 0, size, buffer.data())) {
    info = 1;
    void* value = nullptr;
    UINT length = 0;
    if (VerQueryValueA(buffer.data(), "\\", &value, &length) && value != nullptr &&
        length >= sizeof(VS_FIXEDFILEINFO)) {
      const auto* fixedInfo = static_cast<const VS_FIXEDFILEINFO*>(value);
      if (fixedInfo->dwSignature == 0xFEEF04BD) {
        fixed = 1;
        ms = fixedInfo->dwFileVersionMS;
        ls = fixedInfo->dwFileVersionLS;
      }
    }
  }
  std::printf(" info=%d fixed=%d ms=%08lX ls=%08lX", info, fixed, ms, ls);
}

void PrintOurs(const char* path) {
  const auto sums = qd::platform::ComputeImageChecksum(path);
  std::printf(" qdsum=%d qdstored=%08X qdcomputed=%08X", sums ? 1 : 0, sums ? sums->stored : 0u,
              sums ? sums->computed : 0u);
  const auto version = qd::platform::ReadVersionResource(path);
  std::printf(" qdinfo=%d qdfixed=%d qdms=%08X qdls=%08X", version ? 1 : 0,
              version && version->hasFixedInfo ? 1 : 0, version ? version->fileVersionMS : 0u,
              version ? version->fileVersionLS : 0u);
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    PrintPlatform(argv[i]);
    PrintOurs(argv[i]);
    std::printf("\t%s\n", argv[i]);
  }
  return 0;
}
