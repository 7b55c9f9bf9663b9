#include "dataaccess/oracle/OraError.h"

#include <cstring>
#include <vector>

#include "dataaccess/oracle/OraCall.h"
#include "platform/rtl/Strings.h"

namespace dac {

bool EOraError::IsFatalError() const {
    switch (ErrorCode) {
        case 28:
        case 1012:
        case 3113:
        case 3114:
        case 12152:
        case 12203:
        case 12514:
        case 12571:
            return true;
        default:
            return false;
    }
}

bool EOraError::IsKeyViolation() const {
    return ErrorCode == 1;
}

void RaiseError(const AnsiString& message) {
    throw rtl::Exception(message);
}

void RaiseOraError(int32_t errorCode, const AnsiString& message) {
    throw EOraError(errorCode, message);
}

int32_t GetOraError(sword status, bool unicode, AnsiString& message, OCIError* errorHandle) {
    CheckOCI80();
    if (status == OCI_SUCCESS) return 0;
    sb4 code = status;
    if (status == OCI_SUCCESS_WITH_INFO || status == OCI_NO_DATA || status == OCI_ERROR) {
        if (!errorHandle) errorHandle = OCIErrorHandle();
        const size_t charSize = unicode ? 2 : 1;
        const size_t bytes = static_cast<size_t>(OCIMaxErrorMessageSize) * charSize;
        // Two extra zero characters so that a full buffer still ends.
        std::vector<unsigned char> buffer(bytes + 4, 0);
        sword result = OCIErrorGet(errorHandle, 1, nullptr, &code, buffer.data(), static_cast<ub4>(bytes),
                                   OCI_HTYPE_ERROR);
        message = OCITextToString(buffer.data(), unicode);
        switch (result) {
            case OCI_SUCCESS:
                if (message.empty()) message = "ORA-" + std::to_string(code);
                break;
            case OCI_ERROR: {
                AnsiString head = message.substr(0, 1024);
                if (head.rfind("ORA-", 0) == 0) {
                    AnsiString digits = head.substr(4, 5);
                    int value = 0;
                    bool numeric = !digits.empty();
                    for (char c : digits) {
                        if (c < '0' || c > '9') {
                            numeric = false;
                            break;
                        }
                        value = value * 10 + (c - '0');
                    }
                    if (numeric) code = value;
                }
                break;
            }
            case OCI_SUCCESS_WITH_INFO:
                message = "OCI_SUCCESS_WITH_INFO";
                break;
            case OCI_NO_DATA:
                message = "OCI_NO_DATA";
                break;
            default:
                break;
        }
    } else if (status == OCI_NEED_DATA) {
        message = "OCI_NEED_DATA";
    } else if (status == OCI_INVALID_HANDLE) {
        message = "OCI_INVALID_HANDLE";
    } else {
        message = "Unknown error: ORA-" + std::to_string(status);
    }
    return code < 0 ? -code : code;
}

int32_t GetOraErrorCode(sword status, bool unicode, OCIError* errorHandle) {
    AnsiString message;
    return GetOraError(status, unicode, message, errorHandle);
}

int32_t GetPendingOraError(bool unicode, AnsiString& message, OCIError* errorHandle) {
    return GetOraError(OCI_ERROR, unicode, message, errorHandle);
}

void RaiseOCIError(sword status, bool unicode, OCIError* errorHandle) {
    AnsiString message;
    int32_t code = GetOraError(status, unicode, message, errorHandle);
    if (status == OCI_SUCCESS_WITH_INFO) return;
    while (!message.empty() && (message.back() == ' ' || message.back() == '\n' || message.back() == '\r' ||
                                message.back() == '\t'))
        message.pop_back();
    throw EOraError(code, message);
}

void CheckOCIStatus(sword status, bool unicode, OCIError* errorHandle) {
    if (status != OCI_SUCCESS) RaiseOCIError(status, unicode, errorHandle);
}

void CheckOCI(sword status, OCIError* errorHandle) {
    CheckOCIStatus(status, OCIUnicode, errorHandle);
}

}  // namespace dac
