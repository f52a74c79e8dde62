//===- profile_probe.cpp - Private-profile calls of the real platform -----===//
//
// Runs a sequence of private-profile reads, writes and deletes through
// GetPrivateProfileStringA and WritePrivateProfileStringA, so that tests can
// compare our own reader and writer with the platform's.
//
//   profile_probe.exe INI_PATH -f OPS_FILE
//   profile_probe.exe INI_PATH OP...
//
// One operation per line (or per argument), fields separated by tabs:
//   r <section> <key> <default>    read with a 260-character buffer
//   w <section> <key> <value>      write
//   d <section> <key>              delete the key (null value)
//   f <path>                       use another file from here on
// Inside a field, \t \n \r and \\ stand for a tab, a line feed, a carriage
// return and a backslash. Each operation prints one line: the value read
// ("r " and the escaped value), the result of a write ("w 1" / "w 0") or
// "f" for a change of file.
//
//===----------------------------------------------------------------------===//
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "support/escape.h"

namespace {

using qd::test::Escape;
using qd::test::SplitTabs;
using qd::test::Unescape;

bool RunOperation(const std::string& line, std::string& file) {
  std::vector<std::string> f;
  for (std::string_view field : SplitTabs(line)) f.push_back(Unescape(field));
  const char* path = file.c_str();
  if (f.size() == 2 && f[0] == "f") {
    file = f[1];
    std::printf("f\n");
  } else if (f.size() == 4 && f[0] == "r") {
    char buffer[260] = {};
    GetPrivateProfileStringA(f[1].c_str(), f[2].c_str(), f[3].c_str(), buffer, sizeof buffer, path);
    std::printf("r %s\n", Escape(buffer).c_str());
  } else if (f.size() == 4 && f[0] == "w") {
    BOOL ok = WritePrivateProfileStringA(f[1].c_str(), f[2].c_str(), f[3].c_str(), path);
    std::printf("w %d\n", ok ? 1 : 0);
  } else if (f.size() == 3 && f[0] == "d") {
    BOOL ok = WritePrivateProfileStringA(f[1].c_str(), f[2].c_str(), nullptr, path);
    std::printf("w %d\n", ok ? 1 : 0);
  } else {
    std::fprintf(stderr, "bad operation: %s\n", line.c_str());
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: profile_probe INI_PATH (-f OPS_FILE | OP...)\n");
    return 2;
  }
  std::vector<std::string> operations;
  if (argc == 4 && std::string(argv[2]) == "-f") {
    std::ifstream in(argv[3], std::ios::binary);
    std::string line;
    while (std::getline(in, line))
      if (!line.empty()) operations.push_back(line);
  } else {
    operations.assign(argv + 2, argv + argc);
  }
  std::string file = argv[1];
  for (const std::string& op : operations)
    if (!RunOperation(op, file)) return 2;
  std::fflush(stdout);
  return 0;
}
