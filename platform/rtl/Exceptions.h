// The platform's exception classes. Every failure of the system is one of these, carrying
// a message; ClassName() gives the platform's class name for journals and tests.
#pragma once

#include <exception>
#include <source_location>
#include <string>

namespace rtl {

class Exception : public std::exception {
public:
    Exception() = default;
    explicit Exception(std::string message) : message_(std::move(message)) {}
    ~Exception() override = default;

    const std::string& Message() const { return message_; }
    void SetMessage(std::string message) { message_ = std::move(message); }
    int HelpContext() const { return helpContext_; }
    void SetHelpContext(int value) { helpContext_ = value; }

    const char* what() const noexcept override { return message_.c_str(); }
    virtual const char* ClassName() const { return "Exception"; }

private:
    std::string message_;
    int helpContext_ = 0;
};

// Declares an exception class; Base may be qualified (rtl::Exception).
#define RTL_EXCEPTION_CLASS(Name, Base)                          \
    class Name : public Base {                                   \
        using BaseClass = Base;                                  \
                                                                 \
    public:                                                      \
        using BaseClass::BaseClass;                              \
        const char* ClassName() const override { return #Name; } \
    }

// Silent exception: unwinds without being reported.
class EAbort : public Exception {
public:
    EAbort() : Exception("Operation aborted") {}
    using Exception::Exception;
    const char* ClassName() const override { return "EAbort"; }
};

RTL_EXCEPTION_CLASS(EConvertError, Exception);
RTL_EXCEPTION_CLASS(EAbstractError, Exception);
RTL_EXCEPTION_CLASS(EOutOfMemory, Exception);
RTL_EXCEPTION_CLASS(EListError, Exception);
RTL_EXCEPTION_CLASS(EStringListError, Exception);
RTL_EXCEPTION_CLASS(EInvalidCast, Exception);
RTL_EXCEPTION_CLASS(EInvalidOperation, Exception);
RTL_EXCEPTION_CLASS(EInvalidPointer, Exception);
RTL_EXCEPTION_CLASS(EInvalidArgument, Exception);
RTL_EXCEPTION_CLASS(ERangeError, Exception);
RTL_EXCEPTION_CLASS(EIntOverflow, Exception);
RTL_EXCEPTION_CLASS(EZeroDivide, Exception);
RTL_EXCEPTION_CLASS(EOverflow, Exception);
RTL_EXCEPTION_CLASS(EVariantError, Exception);
RTL_EXCEPTION_CLASS(EThread, Exception);
RTL_EXCEPTION_CLASS(EComponentError, Exception);
RTL_EXCEPTION_CLASS(EDatabaseError, Exception);
RTL_EXCEPTION_CLASS(EStreamError, Exception);
RTL_EXCEPTION_CLASS(EFilerError, EStreamError);
RTL_EXCEPTION_CLASS(EReadError, EFilerError);
RTL_EXCEPTION_CLASS(EWriteError, EFilerError);
RTL_EXCEPTION_CLASS(EFCreateError, EStreamError);
RTL_EXCEPTION_CLASS(EFOpenError, EStreamError);
RTL_EXCEPTION_CLASS(EPackageError, Exception);

// An operating-system failure with its error code (errno here).
class EOSError : public Exception {
public:
    using Exception::Exception;
    EOSError(std::string message, int errorCode) : Exception(std::move(message)), errorCode_(errorCode) {}
    int ErrorCode() const { return errorCode_; }
    void SetErrorCode(int code) { errorCode_ = code; }
    const char* ClassName() const override { return "EOSError"; }

private:
    int errorCode_ = 0;
};

// Raised by Assert; always active, never compiled out.
class EAssertionFailed : public Exception {
public:
    using Exception::Exception;
    const char* ClassName() const override { return "EAssertionFailed"; }
};

// Assert(cond, message): raises EAssertionFailed "<message> (<file>, line <n>)" when cond is
// false; the message defaults to "Assertion failure".
void Assert(bool condition, const std::string& message = std::string(),
            std::source_location where = std::source_location::current());
// The same for a fixed text, which becomes a string only when the assertion fails: checks on
// hot paths (every field access, every comparison of a sort) cost no allocation.
inline void Assert(bool condition, const char* message,
                   std::source_location where = std::source_location::current()) {
    if (!condition) Assert(false, std::string(message), where);
}

// Raises EOSError for the given errno value, with the system's text and the code.
[[noreturn]] void RaiseLastOSError(int errorCode);
[[noreturn]] void RaiseLastOSError();  // uses errno
std::string SysErrorMessage(int errorCode);

// Raises EAbort.
[[noreturn]] void Abort();

// Raises EAbstractError "Abstract Error", the platform's answer to a call of an abstract operation.
[[noreturn]] void AbstractError();

}  // namespace rtl
