//===- run_state.cpp - Process-wide run state --------------------------------===//
#include "startup/run_state.h"

namespace qd {

int SilentMode = 0;
int BuildMode = 0;
std::string WorkDirectory;
std::string ScriptPath;
std::string ErrorText;

}  // namespace qd
