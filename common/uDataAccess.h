// What the services need of the data-access components: an Oracle session for each connection
// module, and the stored-procedure and query components of the data modules.
//
// The program hands one TDataAccess to the objects that reach the database; the data-access
// components implement it over TOraSession, TOraStoredProc and TOraQuery, tests over fakes.
// No component carries a session of its own: every call sets the caller's.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "common/uDataFiles.h"
#include "common/uStoredProc.h"

namespace svc {

// The Oracle session of a connection module: its logon settings, the connect, and the errors it
// reports. Created disconnected, with automatic commit and the login prompt off.
class TConnectionSession : public TDataSession {
public:
    // Called with the server's code and message of every error the session reports, before the
    // error raises in the caller.
    using TErrorEvent = std::function<void(int code, const std::string& message)>;

    virtual void SetLoginPrompt(bool on) = 0;
    // The index of the Oracle client home (1-based; other values keep the current home).
    virtual void SetHome(uint8_t home) = 0;
    virtual void SetUsername(const std::string& name) = 0;
    virtual void SetPassword(const std::string& password) = 0;
    virtual void SetServer(const std::string& server) = 0;
    virtual void SetSchema(const std::string& schema) = 0;
    // Connects with the settings; errors raise after OnError has seen them.
    virtual void Connect() = 0;
    virtual void Disconnect() = 0;
    virtual void SetOnError(TErrorEvent handler) = 0;
};

// A stored-procedure component whose last parameter is a cursor read as a dataset.
struct TCursorProcDecl {
    std::string ComponentName;
    std::string StoredProcName;
    // Declares the parameters, in call order.
    std::function<void(db::TParams&)> DeclareParams;
    // All rows are fetched when the dataset opens.
    bool FetchAll = false;
};

class TDataAccess {
public:
    virtual ~TDataAccess() = default;
    virtual std::unique_ptr<TConnectionSession> CreateSession() = 0;
    virtual TComponentFactory& Components() = 0;
    virtual std::unique_ptr<TCursorProc> CreateCursorProc(const TCursorProcDecl& decl) = 0;
    // True when error says the connection to the server is gone (not that the server refused
    // the request): the session is then disconnected and a reconnect may help. Components
    // that cannot tell answer false.
    virtual bool IsLostConnection(const std::exception&) const { return false; }
};

// True when error says the statement names a table, view or routine the database does not have
// (ORA-00942, ORA-04043, PLS-00201, PLS-00302): a Qel database of an older release.
inline bool IsMissingDatabaseObject(const std::exception& error) {
    const std::string_view text = error.what();
    for (const char* code : {"ORA-00942", "ORA-04043", "PLS-00201", "PLS-00302"})
        if (text.find(code) != std::string_view::npos) return true;
    return false;
}

}  // namespace svc
