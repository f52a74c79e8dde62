//===- message_box.cpp - Message boxes on demand, for the driver's tests ---===//
//
//   message_box.exe [--exit CODE] [--yesno] CAPTION TEXT [CAPTION TEXT]...
//
// Shows one box per caption and text, in turn ("\n" in either stands for a
// line feed), then exits with CODE, or else with the last box's answer.
//
//===----------------------------------------------------------------------===//
#include <windows.h>

#include <cstdlib>
#include <string>

namespace {

std::string Unescape(const char* text) {
  std::string out;
  for (const char* p = text; *p; ++p) {
    if (p[0] == '\\' && p[1] == 'n') {
      out += '\n';
      ++p;
    } else {
      out += *p;
    }
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  int exitCode = 0;
  bool fixedExit = false;
  UINT style = MB_OK | MB_ICONINFORMATION;
  int i = 1;
  for (; i < argc; ++i) {
    std::string option = argv[i];
    if (option == "--exit" && i + 1 < argc) {
      exitCode = static_cast<int>(std::strtol(argv[++i], nullptr, 0));
      fixedExit = true;
    } else if (option == "--yesno") {
      style = MB_YESNO | MB_ICONQUESTION;
    } else {
      break;
    }
  }
  int answer = 0;
  for (; i + 1 < argc; i += 2)
    answer = MessageBoxA(nullptr, Unescape(argv[i + 1]).c_str(), Unescape(argv[i]).c_str(), style);
  return fixedExit ? exitCode : answer;
}
