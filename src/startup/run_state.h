//===- run_state.h - Process-wide run state --------------------------------===//
//
// The few variables that the whole process shares, zero at process start and
// owned by the subsystem that sets them. Nothing else in the system is global.
//
//===----------------------------------------------------------------------===//
#pragma once

#include <string>

namespace qd {

// Set by start-up. Silent installer run: no dialog, and errors show no box.
extern int SilentMode;
// Set by start-up. Build mode: errors show no box.
extern int BuildMode;
// Set by start-up in an installer run: the temporary work directory, ending
// with the platform's separator. Every unpacked file lies directly in it.
extern std::string WorkDirectory;
// Set by the installer run: full path of the unpacked package script.
extern std::string ScriptPath;
// The looked-up error text; the builder composes its log lines here.
extern std::string ErrorText;

}  // namespace qd
