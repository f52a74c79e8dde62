//===- engine.cpp - The example payload's engine DLL -----------------------===//
//
// A stand-in for the component that a package delivers: it exports one
// function, and its version resource (engine.rc) names the package.
//
//===----------------------------------------------------------------------===//
#include <windows.h>

extern "C" __declspec(dllexport) int QdEngineVersion() { return 0x02050703; }

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
