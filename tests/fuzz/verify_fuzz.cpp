//===- verify_fuzz.cpp - qdpkg verify on arbitrary package files -------------===//
//
// Each input is written out as a whole package file and verified, as a user
// would run "qdpkg verify" on a file from anywhere: headers, stub, script,
// items, version resource, tail and certificate table all come from the
// fuzzer. The sanitizers catch any read out of bounds; the walk must end,
// and every fault must be a line of the report, never a crash. The seeds are
// a small, whole package (a 1 KiB stub with a version resource, a script that
// lists two files, and the tail), and the same package signed with a
// throw-away certificate, so that the signature's DER is fuzzed too.
//
//===----------------------------------------------------------------------===//
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "commands.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::string path = [] {
    const char* tmp = std::getenv("TMPDIR");
    return std::string(tmp && *tmp ? tmp : "/tmp") + "/verify_fuzz_" + std::to_string(::getpid()) + ".exe";
  }();
  {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  std::ostringstream report;
  const int status = qd::pkg::Verify(path, {}, report);
  // Exit 0 only without a fault line, and every report ends with its verdict.
  const std::string text = "\n" + report.str();
  const bool faulted = text.find("\nfault: ") != std::string::npos;
  if ((status == 0) == faulted) std::abort();
  const std::size_t verdict = text.rfind('\n', text.size() - 2);
  if (verdict == std::string::npos || text.compare(verdict + 1, faulted ? 14 : 10, faulted ? "not verified: " : "verified: ") != 0)
    std::abort();
  ::unlink(path.c_str());
  return 0;
}
