// Filling a declared stored procedure: parameters from their declarations, every value cleared
// before a call, texts never cut to their parameter's size.
#include "common/uStoredProc.h"

#include <gtest/gtest.h>

#include "platform/rtl/Exceptions.h"

using namespace svc;

namespace {

// A procedure that keeps the input values of each call.
class TRecordingProc : public TStoredProc {
public:
    explicit TRecordingProc(TStoredProcDecl decl) : decl_(std::move(decl)) {
        CreateDeclaredParams(decl_, params_);
    }
    const TStoredProcDecl& Declaration() const override { return decl_; }
    void SetSession(TDataSession* session) override { session_ = session; }
    db::TParams& Params() override { return params_; }
    void ExecProc() override {
        std::string call;
        for (int i = 0; i < params_.Count(); ++i)
            call += params_[i]->Name() + "=" + (params_[i]->IsNull() ? "null" : params_[i]->AsString()) + " ";
        calls.push_back(call);
        params_.ParamByName("P_OUT")->SetAsInteger(42);
    }
    std::vector<std::string> calls;
    TDataSession* session_ = nullptr;

private:
    TStoredProcDecl decl_;
    db::TParams params_;
};

TStoredProcDecl Decl() {
    return {"ospTest",
            "PACK.test",
            {"begin", "  PACK.test(:P_ID, :P_NAME, :P_WHEN, :P_OUT);", "end;"},
            {{"P_ID", db::ftFloat, db::ptInput, 0, false},
             {"P_NAME", db::ftString, db::ptInput, 4, false},
             {"P_WHEN", db::ftDateTime, db::ptInput, 0, true},
             {"P_OUT", db::ftFloat, db::ptOutput, 0, false}}};
}

TEST(StoredProc, ParamsFollowTheirDeclaration) {
    TRecordingProc proc(Decl());
    db::TParams& params = proc.Params();
    ASSERT_EQ(params.Count(), 4);
    EXPECT_EQ(params[1]->Name(), "P_NAME");
    EXPECT_EQ(params[1]->DataType(), db::ftString);
    EXPECT_EQ(params[1]->Size(), 4);
    EXPECT_EQ(params[3]->ParamType(), db::ptOutput);
    EXPECT_TRUE(params[2]->IsNull());
}

TEST(StoredProc, EveryCallStartsFromClearedValues) {
    TRecordingProc proc(Decl());
    TProcCall(proc, nullptr).Int("P_ID", 1).Text("p_name", "abc").DateTime("P_WHEN", 2.0).Exec();
    // The second call sets only the id: nothing of the first goes out with it.
    TProcCall second(proc, nullptr);
    second.Float("P_ID", 2.5).Exec();
    EXPECT_EQ(proc.calls.at(1), "P_ID=2.5 P_NAME=null P_WHEN=null P_OUT=null ");
    EXPECT_EQ(second.Out("P_OUT").AsInteger(), 42);
}

TEST(StoredProc, ParametersAreFoundByNameWithoutRegardToCase) {
    const struct {
        const char* name;
        const char* expected;  // the call as the procedure saw it
    } cases[] = {
        {"P_ID", "P_ID=7 P_NAME=null P_WHEN=null P_OUT=null "},
        {"p_id", "P_ID=7 P_NAME=null P_WHEN=null P_OUT=null "},
        {"P_OUT", "P_ID=null P_NAME=null P_WHEN=null P_OUT=7 "},
        {"p_Out", "P_ID=null P_NAME=null P_WHEN=null P_OUT=7 "},
    };
    for (const auto& c : cases) {
        TRecordingProc proc(Decl());
        TProcCall call(proc, nullptr);
        call.Int(c.name, 7);
        // the procedure overwrites P_OUT with 42: read what was sent before the call
        std::string sent;
        for (int i = 0; i < proc.Params().Count(); ++i) {
            const db::TParam* p = proc.Params()[i];
            sent += p->Name() + "=" + (p->IsNull() ? "null" : p->AsString()) + " ";
        }
        EXPECT_EQ(sent, c.expected) << c.name;
        call.Exec();
        EXPECT_EQ(call.Out(c.name).AsInteger(),
                  std::string(c.name) == "P_ID" || std::string(c.name) == "p_id" ? 7 : 42)
            << c.name;
    }
}

TEST(StoredProc, TextsLongerThanTheirParameterAreRefusedNotCut) {
    TRecordingProc proc(Decl());
    TProcCall call(proc, nullptr);
    call.Text("P_NAME", "abcd");
    try {
        call.Text("P_NAME", "abcde");
        ADD_FAILURE();
    } catch (const rtl::Exception& e) {
        EXPECT_EQ(e.Message(), "The value of P_NAME is longer than 4 characters: 'abcde'");
    }
    EXPECT_EQ(proc.Params().ParamByName("P_NAME")->AsString(), "abcd");
    EXPECT_THROW(call.Int("P_NOT_DECLARED", 1), rtl::EDatabaseError);
}

}  // namespace
