// The lines the recording stored-procedure fakes write for a call, and their common part: "name(P_A=1,
// P_B='x')", the values of every parameter but the outputs, in declared order. Integers plain, floats always
// with a point or an exponent, texts in quotes, date-times between hashes, null as null.
#pragma once

#include <cstdio>
#include <string>

#include "common/uStoredProc.h"
#include "platform/db/DB.h"
#include "platform/rtl/DateTime.h"

namespace proctest {

inline std::string ShowFloat(double v) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.15g", v);
    std::string s = buffer;
    if (s.find_first_of(".e") == std::string::npos) s += ".0";
    return s;
}

inline std::string ShowParam(const db::TParam& p) {
    if (p.IsNull()) return "null";
    switch (p.DataType()) {
        case db::ftInteger:
        case db::ftSmallint:
        case db::ftLargeint:
            return std::to_string(p.AsInteger());
        case db::ftFloat:
            return ShowFloat(p.AsFloat());
        case db::ftDateTime:
            return "#" + rtl::FormatDateTime("yyyy-mm-dd hh:nn:ss.zzz", p.AsDateTime()) + "#";
        default:
            return "'" + p.AsString() + "'";
    }
}

inline std::string CallLine(const std::string& name, const db::TParams& params) {
    std::string call = name + "(";
    bool first = true;
    for (int i = 0; i < params.Count(); ++i) {
        const db::TParam* p = params[i];
        if (p->ParamType() == db::ptOutput || p->ParamType() == db::ptResult) continue;
        call += (first ? "" : ", ") + p->Name() + "=" + ShowParam(*p);
        first = false;
    }
    return call + ")";
}

// What every recording stored-procedure fake shares: the declaration, the declared parameters and
// the session of the call. The fakes write CallText() as their line.
class TDeclaredProc : public svc::TStoredProc {
public:
    explicit TDeclaredProc(const svc::TStoredProcDecl& decl) : decl_(decl) {
        svc::CreateDeclaredParams(decl_, params_);
    }

    const svc::TStoredProcDecl& Declaration() const override { return decl_; }
    void SetSession(svc::TDataSession* session) override { session_ = session; }
    svc::TDataSession* Session() const { return session_; }
    db::TParams& Params() override { return params_; }

    // The call line, marked when the call has no session.
    std::string CallText() const {
        return CallLine(decl_.StoredProcName, params_) + (session_ ? "" : " without a session");
    }

protected:
    svc::TStoredProcDecl decl_;
    db::TParams params_;
    svc::TDataSession* session_ = nullptr;
};

}  // namespace proctest
