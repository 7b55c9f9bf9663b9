// The connection module: one Oracle session per thread that talks to the database, opened from
// the five connection values of Connection.ini, and the last error the session reported, kept so
// that a failed connect can be journalled with the server's own message.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "common/uDataAccess.h"
#include "platform/rtl/Objects.h"

namespace svc {

// The last database error: the server's code and message.
struct TDatabaseError {
    int Code = 0;
    std::string Message;
};

class TdmConnection : public rtl::TObject {
public:
    // Raises rtl::Exception when the program has no data-access components (dataAccess null).
    explicit TdmConnection(TDataAccess* dataAccess);
    ~TdmConnection() override;

    // Filled by the owning thread before the first connect (user name and password decrypted).
    int OraHome = -1;
    std::string Password;
    std::string Scheme;
    std::string Server;
    std::string UserName;

    TConnectionSession& OraSession() { return *session_; }
    const std::optional<TDatabaseError>& LastError() const { return lastError_; }

    // Does nothing while connected. Otherwise forgets the last error, sets the logon values on
    // the session (login prompt off, the home as the low byte of OraHome, user, password,
    // server, schema) and connects; a failure raises the session's error, and LastError holds
    // its copy.
    void Connect();
    bool Connected() const { return session_->Connected(); }

private:
    void OraSessionError(int code, const std::string& message);

    std::unique_ptr<TConnectionSession> session_;
    std::optional<TDatabaseError> lastError_;
};

}  // namespace svc
