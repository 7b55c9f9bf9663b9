// The services' data access over the Oracle client layer: sessions over TOCIConnection, stored
// procedures and queries over TOCICommand, and the rows of a query or of a procedure's REF CURSOR
// read into a memory dataset.
//
// Every database error keeps its class and Oracle number (dac::EOraError). An error that means the
// server is gone leaves the session disconnected, so that the callers' reconnect loops, which ask
// Connected(), start over.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "common/uDataAccess.h"

namespace dac {
class TOCICommand;
class TOCIConnection;
}  // namespace dac

namespace svc {

// The Oracle numbers of errors after which the session is no longer usable: the connection broke,
// the listener or the instance is not there, the session was ended from the server's side.
bool IsLostConnectionCode(int code);

// A session over one TOCIConnection. Automatic commit is on outside StartTransaction..Commit or
// Rollback.
class TOciSession : public TConnectionSession {
public:
    TOciSession();
    ~TOciSession() override;

    bool Connected() const override;
    bool InTransaction() const override { return inTransaction_; }
    void StartTransaction() override;
    void Commit() override;
    void Rollback() override;
    void SetLoginPrompt(bool) override {}
    void SetHome(uint8_t home) override { home_ = home; }
    void SetUsername(const std::string& name) override { username_ = name; }
    void SetPassword(const std::string& password) override { password_ = password; }
    void SetServer(const std::string& server) override { server_ = server; }
    void SetSchema(const std::string& schema) override { schema_ = schema; }
    void Connect() override;
    void Disconnect() override;
    void SetOnError(TErrorEvent handler) override { onError_ = std::move(handler); }
    // Savepoints of the open transaction; the name must be a plain Oracle identifier.
    void Savepoint(const std::string& name);
    void RollbackToSavepoint(const std::string& name);

    // The connection the components run their commands on; raises when not connected.
    dac::TOCIConnection& Connection();
    // Runs a database step of this session: its error goes to OnError (with the Oracle number, 0
    // for an error of the client side), a lost connection disconnects the session, and the error
    // raises on.
    template <class F>
    void Run(F&& step) {
        try {
            step();
        } catch (const std::exception& e) {
            Failed(e);
            throw;
        }
    }

    // Runs a PL/SQL block on a command this session keeps prepared for it: bind adds the call's
    // parameters (anew each time), read takes the outputs. A failed run drops the command; the
    // kept commands go before the connection does.
    void ExecPrepared(const std::string& sql, const std::function<void(dac::TOCICommand&)>& bind,
                      const std::function<void(dac::TOCICommand&)>& read);

private:
    void Failed(const std::exception& error);
    void DropPrepared();
    void EndTransaction(bool commit);
    void ExecSQL(const std::string& sql);

    std::unique_ptr<dac::TOCIConnection> connection_;
    std::map<std::string, std::unique_ptr<dac::TOCICommand>> prepared_;  // by block text
    uint8_t home_ = 0;
    std::string username_, password_, server_, schema_;
    bool inTransaction_ = false;
    TErrorEvent onError_;
};

// The components of both services over the Oracle client. Stateless: one instance serves the
// whole process and every thread in it.
class TOciDataAccess : public TDataAccess, public TComponentFactory {
public:
    TOciDataAccess() = default;
    TOciDataAccess(const TOciDataAccess&) = delete;
    TOciDataAccess& operator=(const TOciDataAccess&) = delete;
    // Unloads the client library when no connection is left open.
    ~TOciDataAccess() override;
    std::unique_ptr<TConnectionSession> CreateSession() override;
    TComponentFactory& Components() override { return *this; }
    std::unique_ptr<TCursorProc> CreateCursorProc(const TCursorProcDecl& decl) override;
    std::unique_ptr<TStoredProc> CreateStoredProc(const TStoredProcDecl& decl) override;
    std::unique_ptr<TDataQuery> CreateQuery(const TQueryDecl& decl) override;
    bool IsLostConnection(const std::exception& error) const override;
};

// Rows fetched per round trip when a dataset does not fetch all at once.
inline constexpr int OciFetchBlock = 500;

}  // namespace svc
