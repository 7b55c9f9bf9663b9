// The import's threads over a recording database: a session with the savepoints the import
// needs and a switch that takes the database out of reach, exchange settings answered from a
// table, the own issuer's view, and the import and shared folders in a temporary folder.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>

#include "import_service/uImportParams.h"
#include "import_service/udmMainDataModule.h"
#include "tests/common/ServiceFakes.h"
#include "tests/common/ThreadJournal.h"
#include "tests/import_service/PackageFolder.h"
#include "tests/platform/os/OsTestSupport.h"

namespace imptest {

// A session that is both a connection module's session and the import's (savepoints). While the
// database is down, connects fail as a missing listener does.
class TFakeImportSession : public svcfake::TFakeSession, public svc::TImportSession {
public:
    TFakeImportSession(svcfake::TFakeDb& db, std::atomic<bool>& down)
        : svcfake::TFakeSession(db), db_(db), down_(down) {}

    bool Connected() const override { return svcfake::TFakeSession::Connected(); }
    bool InTransaction() const override { return svcfake::TFakeSession::InTransaction(); }
    void StartTransaction() override { svcfake::TFakeSession::StartTransaction(); }
    void Commit() override { svcfake::TFakeSession::Commit(); }
    void Rollback() override { svcfake::TFakeSession::Rollback(); }
    void Savepoint(const std::string& name) override { db_.Log("Savepoint " + name); }
    void RollbackToSavepoint(const std::string& name) override { db_.Log("RollbackToSavepoint " + name); }
    void Connect() override {
        if (down_) {
            db_.Log("Connect");
            if (onError_) onError_(12541, "ORA-12541: TNS:no listener");
            throw rtl::EDatabaseError("ORA-12541: TNS:no listener");
        }
        svcfake::TFakeSession::Connect();
    }
    void SetOnError(TErrorEvent handler) override {
        onError_ = handler;
        svcfake::TFakeSession::SetOnError(std::move(handler));
    }

private:
    TErrorEvent onError_;
    svcfake::TFakeDb& db_;
    std::atomic<bool>& down_;
};

// A recorded procedure whose outputs read 0 unless its handler answers otherwise.
class TZeroOutProc : public svcfake::TFakeProc {
public:
    using svcfake::TFakeProc::TFakeProc;
    void ExecProc() override {
        for (int i = 0; i < params_.Count(); ++i)
            if (params_[i]->ParamType() == db::ptOutput || params_[i]->ParamType() == db::ptResult)
                params_[i]->SetAsInteger(0);
        svcfake::TFakeProc::ExecProc();
    }
};

class TFakeImportAccess : public svcfake::TFakeDataAccess {
public:
    explicit TFakeImportAccess(svcfake::TFakeDb& db) : svcfake::TFakeDataAccess(db), db_(db) {}
    std::atomic<bool> down{false};
    // The session made last (the package-manager thread's, once the starter has ended).
    std::atomic<TFakeImportSession*> last{nullptr};

    std::unique_ptr<svc::TConnectionSession> CreateSession() override {
        db_.Log("CreateSession");
        auto session = std::make_unique<TFakeImportSession>(db_, down);
        last = session.get();
        return session;
    }
    std::unique_ptr<svc::TStoredProc> CreateStoredProc(const svc::TStoredProcDecl& decl) override {
        return std::make_unique<TZeroOutProc>(db_, decl);
    }

private:
    svcfake::TFakeDb& db_;
};

class InServiceFixture : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(dir_ / "in");
        std::filesystem::create_directories(dir_ / "shared");
        std::string host;
        svc::TParamsStorage::GetLocalComputerName(host);
        table_ = {{"CIntervalQelInSrvc", "60000"},
                  {"FolderSharingQelIn", dir_ / "shared"},
                  {"CFolderQelImport", dir_ / "in"},
                  {"Pop3EnableQelIn", "0"},
                  {"POP3Port", "110"},
                  {"EnableImportEncrypt", "0"},
                  {"PC_SRV_NAME_QEL_IN", host}};
        db_.handlers["zuv_export_out_pack.get_zuv_param"] = [this](svcfake::TFakeProc& proc) {
            std::lock_guard<std::mutex> hold(tableLock_);
            const auto it = table_.find(proc.In("P_PARAM"));
            proc.SetOut("P_VALUE", it == table_.end() ? "" : it->second);
        };
        db_.handlers["zuv_export_out_pack.get_zuv_qel_db_version"] = [](svcfake::TFakeProc& proc) {
            proc.SetOut("RESULT", "2.9.1.0");
        };
        db_.views["qrGetSelfEmitent"] = {{"id_emitent", "id_filial", "name"}, {{"7", "1", "Qel"}}};
        params_.Server = "qel:1521/QEL";
        params_.OraHome = 0;
        params_.Scheme = "ZUV";
        params_.UserName = "zuv";
        params_.Password = "secret";
        params_.CFolderQelImport = In("");
        params_.FolderSharingQelIn = Shared("");
    }

    void Set(const std::string& name, const std::string& value) {
        std::lock_guard<std::mutex> hold(tableLock_);
        table_[name] = value;
    }
    std::string In(const std::string& name) const { return dir_ / ("in/" + name); }
    std::string Shared(const std::string& name) const { return dir_ / ("shared/" + name); }
    // The package ids marked imported, in order.
    std::vector<std::string> Imported() const {
        std::vector<std::string> ids;
        for (const auto& line : db_.Lines())
            if (line.find("set_status_imported") != std::string::npos)
                ids.push_back(line.substr(line.find('{'), 38));
        return ids;
    }

    ostest::TempDir dir_{"insrvc"};
    svcfake::TFakeDb db_;
    TFakeImportAccess access_{db_};
    svc::TdmParamsStorage procedures_{access_.Components()};
    svc::TImportParamsStorage params_;
    svctest::TThreadJournal journal_;
    std::mutex tableLock_;
    std::map<std::string, std::string> table_;
};

}  // namespace imptest
