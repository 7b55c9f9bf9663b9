// Filling and running the declared stored procedures of the data modules.
#include "common/uStoredProc.h"

#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Numbers.h"

namespace svc {

void CreateDeclaredParams(const TStoredProcDecl& decl, db::TParams& params) {
    params.Clear();
    for (const TProcParamDecl& p : decl.Params) {
        db::TParam* param = params.CreateParam(p.DataType, p.Name, p.ParamType);
        param->SetSize(p.Size);
    }
}

namespace {

// The parameter of that name. A call names its parameters as they are declared, so the exact name
// is tried first; the locale-aware comparison without regard to case (a quarter of an import's
// time when every lookup took it) only when that fails. Declared names differ in more than case.
db::TParam* ParamNamed(db::TParams& params, const std::string& name) {
    for (int i = 0; i < params.Count(); ++i)
        if (params[i]->Name() == name) return params[i];
    return params.ParamByName(name);
}

}  // namespace

TProcCall::TProcCall(TStoredProc& proc, TDataSession* session) : proc_(proc) {
    proc_.SetSession(session);
    db::TParams& params = proc_.Params();
    for (int i = 0; i < params.Count(); ++i) params[i]->Clear();
}

TProcCall& TProcCall::Int(const std::string& name, int32_t value) {
    ParamNamed(proc_.Params(), name)->SetAsInteger(value);
    return *this;
}

TProcCall& TProcCall::Float(const std::string& name, double value) {
    ParamNamed(proc_.Params(), name)->SetAsFloat(value);
    return *this;
}

TProcCall& TProcCall::DateTime(const std::string& name, rtl::TDateTime value) {
    ParamNamed(proc_.Params(), name)->SetAsDateTime(value);
    return *this;
}

TProcCall& TProcCall::Text(const std::string& name, const std::string& value) {
    db::TParam* param = ParamNamed(proc_.Params(), name);
    const int size = param->Size();
    if (size > 0 && value.size() > static_cast<size_t>(size))
        throw rtl::Exception("The value of " + param->Name() + " is longer than " + rtl::IntToStr(size) +
                             " characters: '" + value + "'");
    param->SetAsString(value);
    return *this;
}

void TProcCall::Exec() {
    proc_.ExecProc();
}

const db::TParam& TProcCall::Out(const std::string& name) const {
    return *ParamNamed(proc_.Params(), name);
}

}  // namespace svc
