//===- run_state.h - Process-wide run state --------------------------------===//
//
// The few variables that the whole process shares, zero at process start and
// owned by the subsystem that sets them. Nothing else in the system is global.
//
//===----------------------------------------------------------------------===//
#pragma once

#include <string>
#include <string_view>

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

// The entry point's work, after the platform has split off the program name:
// `argumentText` is the command line without the program and the blanks after
// it. Returns the process exit code.
int ProgramMain(void* instance, std::string_view argumentText);

}  // namespace qd
