// Loading shared libraries at run time.
#pragma once

#include <string>

namespace rtl {

using HMODULE = void*;  // nullptr = not loaded

// Loads a library by file name (searched the usual way) or by path; nullptr on failure, with
// the reason in DynLibError(). Every symbol is resolved at load, and none leaks into the global
// namespace.
HMODULE LoadLibrary(const std::string& fileName);
// nullptr when the symbol is missing.
void* GetProcAddress(HMODULE module, const std::string& procName);
bool FreeLibrary(HMODULE module);
// The reason for the calling thread's last failure of the three above ("" when none).
std::string DynLibError();

// GetProcAddress cast to a function pointer type.
template <class F>
F GetProc(HMODULE module, const std::string& procName) {
    return reinterpret_cast<F>(GetProcAddress(module, procName));
}

}  // namespace rtl
