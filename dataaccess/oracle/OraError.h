// Oracle errors: EOraError and the routines that turn an OCI status into one.
#pragma once

#include <cstdint>
#include <string>

#include "dataaccess/core/DAServices.h"
#include "platform/oci/oci.h"
#include "platform/rtl/Types.h"

namespace dac {

using rtl::AnsiString;

// The one exception for client-library and server errors. ErrorCode is the positive ORA number,
// or an OCI status number when no Oracle error is known.
class EOraError : public EDAError {
public:
    EOraError(int32_t errorCode, const std::string& message, rtl::TComponent* component = nullptr)
        : EDAError(errorCode, message) {
        Component = component;
    }
    const char* ClassName() const override { return "EOraError"; }

    // ORA-00028, 01012, 03113, 03114, 12152, 12203, 12514, 12571.
    bool IsFatalError() const override;
    // ORA-00001.
    bool IsKeyViolation() const override;
    bool IsLostConnection() const { return IsFatalError(); }
    bool IsUniqueViolation() const { return IsKeyViolation(); }
};

// A plain exception with the message: the client layer's checks that are no Oracle errors.
[[noreturn]] void RaiseError(const AnsiString& message);
[[noreturn]] void RaiseOraError(int32_t errorCode, const AnsiString& message);

// The Oracle error number and text of a failed call. A null error handle means the calling
// thread's (OCIErrorHandle()). Status 0 gives 0 and leaves the message alone.
int32_t GetOraError(sword status, bool unicode, AnsiString& message, OCIError* errorHandle = nullptr);
int32_t GetOraErrorCode(sword status, bool unicode, OCIError* errorHandle = nullptr);
int32_t GetPendingOraError(bool unicode, AnsiString& message, OCIError* errorHandle = nullptr);
// Raises EOraError for the status, its message without trailing blanks and line ends; status 1
// (success with information) raises nothing.
void RaiseOCIError(sword status, bool unicode, OCIError* errorHandle = nullptr);
// Nothing for status 0, else RaiseOCIError.
void CheckOCIStatus(sword status, bool unicode, OCIError* errorHandle = nullptr);
// CheckOCIStatus in the library-wide text mode.
void CheckOCI(sword status, OCIError* errorHandle = nullptr);

}  // namespace dac
