#include "dataaccess/core/DAServices.h"

#include <atomic>

#include "platform/rtl/DynLib.h"
#include "platform/rtl/Threads.h"

namespace dac {

// ---------------------------------------------------------------------------------------------
// Option objects

void TProxyOptions::Assign(rtl::TPersistent* source) {
    auto* src = dynamic_cast<TProxyOptions*>(source);
    if (!src) {
        rtl::TPersistent::Assign(source);
        return;
    }
    Hostname = src->Hostname;
    Port = src->Port;
    Username = src->Username;
    Password = src->Password;
}

bool TProxyOptions::Equals(const TProxyOptions& other) const {
    return Hostname == other.Hostname && Port == other.Port && Username == other.Username &&
           Password == other.Password;
}

void THttpOptions::Assign(rtl::TPersistent* source) {
    auto* src = dynamic_cast<THttpOptions*>(source);
    if (!src) {
        rtl::TPersistent::Assign(source);
        return;
    }
    Url = src->Url;
    Username = src->Username;
    Password = src->Password;
    proxyOptions_.Assign(&src->proxyOptions_);
}

bool THttpOptions::Equals(const THttpOptions* other) const {
    return other && Url == other->Url && Username == other->Username && Password == other->Password &&
           proxyOptions_.Equals(other->proxyOptions_);
}

// ---------------------------------------------------------------------------------------------
// Coordinator loader

namespace {

int32_t NotLinked(const char*, const char*, const void*, uint32_t, void*, void**) {
    throw rtl::Exception("Function is not linked");
}

rtl::TCriticalSection& LoaderLock() {
    static rtl::TCriticalSection lock;
    return lock;
}

rtl::HMODULE dtcLibrary = nullptr;
std::atomic<bool> dtcLoaded{false};

// Unloads at the end of the process like the unit's shut-down.
// The lock is made first so that it outlives this.
struct LoaderShutdown {
    LoaderShutdown() { LoaderLock(); }
    ~LoaderShutdown() { FreeMSDTC(); }
} loaderShutdown;

}  // namespace

TDtcGetTransactionManagerEx DtcGetTransactionManagerEx = NotLinked;

void InitMSDTC() {
    rtl::TCriticalSectionLock hold(LoaderLock());
    if (dtcLoaded) return;
    rtl::HMODULE module = rtl::LoadLibrary("xolehlp.dll");
    if (!module) throw rtl::Exception("Can not find xolehlp.dll");
    dtcLibrary = module;
    if (auto entry = rtl::GetProc<TDtcGetTransactionManagerEx>(module, "DtcGetTransactionManagerEx"))
        DtcGetTransactionManagerEx = entry;
    dtcLoaded = true;
}

void FreeMSDTC() {
    rtl::TCriticalSectionLock hold(LoaderLock());
    if (!dtcLoaded) return;
    rtl::FreeLibrary(dtcLibrary);
    dtcLibrary = nullptr;
    DtcGetTransactionManagerEx = NotLinked;
    dtcLoaded = false;
}

bool MSDTCLoaded() {
    return dtcLoaded;
}

}  // namespace dac
