// What the driver classes use of the data-access components: the database error class, the
// connection's HTTP and proxy option objects, the pool hand-back interface and the loader of the
// distributed-transaction coordinator.
#pragma once

#include <cstdint>
#include <string>

#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Objects.h"
#include "platform/rtl/Types.h"

namespace dac {

using rtl::AnsiString;

class TCRConnection;

// An error reported by the database server. Driver errors derive from it and answer the two
// classification questions.
class EDAError : public rtl::EDatabaseError {
public:
    EDAError(int32_t errorCode, const std::string& message)
        : rtl::EDatabaseError(message), ErrorCode(errorCode) {}
    const char* ClassName() const override { return "EDAError"; }

    // True when the error means the connection to the server is lost.
    virtual bool IsFatalError() const { return false; }
    virtual bool IsKeyViolation() const { return false; }

    int32_t ErrorCode = 0;
    // The component whose operation failed; set by the raiser, may be null.
    rtl::TComponent* Component = nullptr;
};

class TProxyOptions : public rtl::TPersistent {
public:
    void Assign(rtl::TPersistent* source) override;
    bool Equals(const TProxyOptions& other) const;

    AnsiString Hostname;
    int Port = 0;
    AnsiString Username;
    AnsiString Password;
};

class THttpOptions : public rtl::TPersistent {
public:
    THttpOptions() = default;
    void Assign(rtl::TPersistent* source) override;
    // Texts compare exactly; the proxy values count too.
    bool Equals(const THttpOptions* other) const;

    TProxyOptions& ProxyOptions() { return proxyOptions_; }
    const TProxyOptions& ProxyOptions() const { return proxyOptions_; }
    void SetProxyOptions(TProxyOptions* value) { proxyOptions_.Assign(value); }

    AnsiString Url;
    AnsiString Username;
    AnsiString Password;

private:
    TProxyOptions proxyOptions_;
};

// The pool a pooled driver connection belongs to (CRConnectionPool.h).
class TCRConnectionPool;

// Loads the coordinator library once (serialised); raises Exception "Can not find xolehlp.dll"
// when it cannot be loaded, and the next call tries again.
void InitMSDTC();
// Unloads the coordinator library when it is loaded.
void FreeMSDTC();
bool MSDTCLoaded();

// The coordinator's entry point; until the library is bound it raises "Function is not linked".
using TDtcGetTransactionManagerEx = int32_t (*)(const char* host, const char* tmName, const void* riid,
                                                uint32_t options, void* config, void** result);
extern TDtcGetTransactionManagerEx DtcGetTransactionManagerEx;

}  // namespace dac
