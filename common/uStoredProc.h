// Stored procedures and queries as the services' data modules declare them, behind two small
// interfaces: the data-access components implement them over a stored-procedure and a query
// component; tests implement them over recording fakes.
//
// A data module keeps its components as data (a declaration per component: name, procedure or
// SQL text, typed parameter list) and asks a component factory for the objects that run them.
// The helpers below are the one way the services fill a procedure's parameters: every value is
// cleared before a call, and a text never reaches the database cut to its parameter's size.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "common/uDataFiles.h"
#include "platform/db/DB.h"
#include "platform/rtl/Types.h"

namespace svc {

// One declared parameter. Size is the declared length of a string parameter (0: not limited
// here); HasDefault marks a parameter the procedure declares with a default value.
struct TProcParamDecl {
    std::string Name;
    db::TFieldType DataType = db::ftUnknown;
    db::TParamType ParamType = db::ptInput;
    int Size = 0;
    bool HasDefault = false;
};

// One stored-procedure component: its name in the data module, the procedure it calls, the
// PL/SQL block it runs, and its parameters in call order.
struct TStoredProcDecl {
    std::string ComponentName;
    std::string StoredProcName;
    std::vector<std::string> SQL;
    std::vector<TProcParamDecl> Params;
};

// One query component.
struct TQueryDecl {
    std::string ComponentName;
    std::string SQL;
};

// A stored procedure without a result set.
class TStoredProc {
public:
    virtual ~TStoredProc() = default;
    virtual const TStoredProcDecl& Declaration() const = 0;
    // The session the next call runs on (not owned).
    virtual void SetSession(TDataSession* session) = 0;
    // The declared parameters, found by name without regard to case. Output values are there
    // after ExecProc.
    virtual db::TParams& Params() = 0;
    // Runs the procedure; database errors raise.
    virtual void ExecProc() = 0;
};

// A query whose rows are read as a dataset.
class TDataQuery {
public:
    virtual ~TDataQuery() = default;
    virtual const TQueryDecl& Declaration() const = 0;
    virtual void SetSession(TDataSession* session) = 0;
    virtual bool Active() const = 0;
    // Opens the query; the dataset stands on the first row.
    virtual db::TDataSet& Open() = 0;
    virtual void Close() = 0;
};

// Makes the components of a data module from their declarations.
class TComponentFactory {
public:
    virtual ~TComponentFactory() = default;
    virtual std::unique_ptr<TStoredProc> CreateStoredProc(const TStoredProcDecl& decl) = 0;
    virtual std::unique_ptr<TDataQuery> CreateQuery(const TQueryDecl& decl) = 0;
};

// Declared parameters as a parameter list, for the implementations of TStoredProc.
void CreateDeclaredParams(const TStoredProcDecl& decl, db::TParams& params);

// One call of a stored procedure: the constructor sets the session and clears every parameter's
// value, so nothing of an earlier call goes out with this one; the setters assign by name (an
// undeclared name raises); Exec runs the procedure.
class TProcCall {
public:
    TProcCall(TStoredProc& proc, TDataSession* session);

    TProcCall& Int(const std::string& name, int32_t value);
    TProcCall& Float(const std::string& name, double value);
    TProcCall& DateTime(const std::string& name, rtl::TDateTime value);
    // Raises when the text is longer than the parameter's declared size: a cut card number
    // would name another card.
    TProcCall& Text(const std::string& name, const std::string& value);
    void Exec();

    // An output value after Exec.
    const db::TParam& Out(const std::string& name) const;

private:
    TStoredProc& proc_;
};

}  // namespace svc
