#include "platform/rtl/DynLib.h"

#include <dlfcn.h>

namespace rtl {

namespace {

thread_local std::string lastError;

void Remember() {
    const char* text = ::dlerror();
    lastError = text ? text : "";
}

}  // namespace

HMODULE LoadLibrary(const std::string& fileName) {
    ::dlerror();
    HMODULE module = fileName.empty() ? nullptr : ::dlopen(fileName.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
        Remember();
        if (fileName.empty()) lastError = "empty library name";
    }
    return module;
}

void* GetProcAddress(HMODULE module, const std::string& procName) {
    if (module == nullptr) {
        lastError = "invalid library handle";
        return nullptr;
    }
    ::dlerror();
    void* proc = ::dlsym(module, procName.c_str());
    // A symbol whose value is null still leaves dlerror() empty; only a real failure counts.
    if (proc == nullptr) Remember();
    return proc;
}

bool FreeLibrary(HMODULE module) {
    if (module == nullptr) {
        lastError = "invalid library handle";
        return false;
    }
    if (::dlclose(module) != 0) {
        Remember();
        return false;
    }
    return true;
}

std::string DynLibError() {
    return lastError;
}

}  // namespace rtl
