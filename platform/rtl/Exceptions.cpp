#include "platform/rtl/Exceptions.h"

#include <cerrno>
#include <cstring>

namespace rtl {

void Assert(bool condition, const std::string& message, std::source_location where) {
    if (condition) return;
    std::string text = message.empty() ? std::string("Assertion failure") : message;
    text += " (";
    text += where.file_name();
    text += ", line ";
    text += std::to_string(where.line());
    text += ")";
    throw EAssertionFailed(std::move(text));
}

std::string SysErrorMessage(int errorCode) {
    char buf[256];
    // GNU strerror_r returns the text, which may or may not live in buf.
    const char* text = strerror_r(errorCode, buf, sizeof buf);
    return text ? std::string(text) : std::string();
}

void RaiseLastOSError(int errorCode) {
    if (errorCode != 0) {
        throw EOSError(
            "System Error.  Code: " + std::to_string(errorCode) + ".\n" + SysErrorMessage(errorCode),
            errorCode);
    }
    throw EOSError("A call to an OS function failed", 0);
}

void RaiseLastOSError() {
    RaiseLastOSError(errno);
}

void Abort() {
    throw EAbort();
}

void AbstractError() {
    throw EAbstractError("Abstract Error");
}

}  // namespace rtl
