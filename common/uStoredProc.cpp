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

TProcCall::TProcCall(TStoredProc& proc, TDataSession* session) : proc_(proc) {
    proc_.SetSession(session);
    db::TParams& params = proc_.Params();
    for (int i = 0; i < params.Count(); ++i) params[i]->Clear();
}

TProcCall& TProcCall::Int(const std::string& name, int32_t value) {
    proc_.Params().ParamByName(name)->SetAsInteger(value);
    return *this;
}

TProcCall& TProcCall::Float(const std::string& name, double value) {
    proc_.Params().ParamByName(name)->SetAsFloat(value);
    return *this;
}

TProcCall& TProcCall::DateTime(const std::string& name, rtl::TDateTime value) {
    proc_.Params().ParamByName(name)->SetAsDateTime(value);
    return *this;
}

TProcCall& TProcCall::Text(const std::string& name, const std::string& value) {
    db::TParam* param = proc_.Params().ParamByName(name);
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
    return *proc_.Params().ParamByName(name);
}

}  // namespace svc
