// The connection module.
#include "common/udmConnection.h"

#include "platform/rtl/Exceptions.h"

namespace svc {

TdmConnection::TdmConnection(TDataAccess* dataAccess) {
    if (!dataAccess) throw rtl::Exception("This program has no Oracle data-access components");
    session_ = dataAccess->CreateSession();
    session_->SetOnError([this](int code, const std::string& message) { OraSessionError(code, message); });
    if (session_->Connected()) session_->Disconnect();
}

TdmConnection::~TdmConnection() {
    // The session may still report errors while it closes.
    session_->SetOnError(nullptr);
}

void TdmConnection::OraSessionError(int code, const std::string& message) {
    lastError_ = TDatabaseError{code, message};
}

void TdmConnection::Connect() {
    if (session_->Connected()) return;
    lastError_.reset();
    session_->SetLoginPrompt(false);
    session_->SetHome(static_cast<uint8_t>(OraHome & 0xFF));
    session_->SetUsername(UserName);
    session_->SetPassword(Password);
    session_->SetServer(Server);
    session_->SetSchema(Scheme);
    session_->Connect();
}

}  // namespace svc
