//===- system_library.h - DLLs from the system directory only ---------------===//
//
// Only Win32 code here. A package is run from folders such as Downloads,
// where any program may leave a DLL; Windows looks for a DLL that is not one
// of its known system DLLs in the program's own folder first. So the program
// imports only known system DLLs, and loads every other one it needs from the
// system directory by this means, while it needs it.
//
//===----------------------------------------------------------------------===//
#pragma once

#include <windows.h>

#include <string>

namespace qd::platform::win32 {

class SystemLibrary {
 public:
  explicit SystemLibrary(const char* name) {
    // Only the system directory is searched; systems that do not know the
    // flag refuse it, and then the library's full path is given.
    module_ = ::LoadLibraryExA(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!module_) {
      char directory[MAX_PATH] = {};
      const UINT length = ::GetSystemDirectoryA(directory, MAX_PATH);
      if (length != 0 && length < MAX_PATH)
        module_ = ::LoadLibraryA((std::string(directory, length) + "\\" + name).c_str());
    }
  }
  ~SystemLibrary() {
    if (module_) ::FreeLibrary(module_);
  }
  SystemLibrary(const SystemLibrary&) = delete;
  SystemLibrary& operator=(const SystemLibrary&) = delete;

  // The named function, or null when the library or the function is missing.
  template <typename Function>
  Function* Find(const char* name) const {
    if (!module_) return nullptr;
    return reinterpret_cast<Function*>(reinterpret_cast<void*>(::GetProcAddress(module_, name)));
  }

 private:
  HMODULE module_ = nullptr;
};

}  // namespace qd::platform::win32
