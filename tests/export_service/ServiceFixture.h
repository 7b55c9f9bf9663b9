// The export's threads over a recording database: exchange settings the database answers from a
// table, the own issuer's view, journal lines from any thread, and a wait for the calls the
// threads queue for the test's thread.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "common/EnDeCrypt.h"
#include "common/uParamsStorage.h"
#include "platform/rtl/Threads.h"
#include "tests/common/ServiceFakes.h"
#include "tests/common/ThreadJournal.h"
#include "tests/export_service/ExportFixture.h"

namespace exptest {

using svctest::PumpUntil;
using svctest::TThreadJournal;

class ServiceFixture : public ExportFixture {
protected:
    void SetUp() override {
        ExportFixture::SetUp();
        std::string host;
        svc::TParamsStorage::GetLocalComputerName(host);
        settingsTable_ = {
            {"SOURCE_DATA", "0"},
            {"CLIENT_TYPE_EXPORT", "0"},
            {"TYPE_PRICE_SCHEMES", "1"},
            {"FolderSharing", dir_ / "shared"},
            {"Interval", "5"},
            {"FolderExport", dir_ / "work"},
            {"TypeChange", "0"},
            {"TimeOutCount", "30"},
            {"RepeatEveryTimeHMS", "1"},
            {"ScheduleType", "0"},
            {"IsAutoStart", "1"},
            {"TimeList", ""},
            {"SMTPUseAuthentication", "0"},
            {"SMTPPort", "25"},
            {"SMTPServer", "127.0.0.1"},
            {"SMTPLogin", ""},
            {"SMTPPass", ""},
            {"SMTPSender", "qel@bank.example"},
            {"SMTPGet", "web@portal.example"},
            {"EnableExportEncrypt", "0"},
            {"SAVE_TO_BACKUP", "1"},
            {"SMTPSsl", "0"},
            {"ExportPublicKey", ""},
            {"PC_SRV_NAME_QEL_OUT", host},
        };
        db_.handlers["zuv_export_out_pack.get_zuv_param"] = [this](svcfake::TFakeProc& proc) {
            std::lock_guard<std::mutex> hold(tableLock_);
            const auto it = settingsTable_.find(proc.In("P_PARAM"));
            proc.SetOut("P_VALUE", it == settingsTable_.end() ? "" : it->second);
        };
        db_.handlers["zuv_export_out_pack.get_zuv_qel_db_version"] = [this](svcfake::TFakeProc& proc) {
            std::lock_guard<std::mutex> hold(tableLock_);
            proc.SetOut("RESULT", dbVersion_);
        };
        db_.views["qrGetSelfEmitent"] = {{"id_emitent", "id_filial", "name"}, {{"7", "3", "Qel"}}};
        db_.views["qrVersionQelDB"] = {{"DESCRIPTION", "VERSION"}, {{"Qel", "2.9.1.0"}}};
        db_.views["qrGetEmitentListRepeated"] = {{"package_id"}, {}};
        db_.views["qrGetPackageListUnsent"] = {{"package_id"}, {}};
        params_.Server = "qel:1521/QEL";
        params_.OraHome = 0;
        params_.Scheme = "ZUV";
        params_.UserName = "zuv";
        params_.Password = "secret";
    }

    void Set(const std::string& name, const std::string& value) {
        std::lock_guard<std::mutex> hold(tableLock_);
        settingsTable_[name] = value;
    }

    svc::TdmParamsStorage procedures_{access_.Components()};
    svc::TParamsStorage params_{&procedures_};
    TThreadJournal journal_;
    std::mutex tableLock_;
    std::map<std::string, std::string> settingsTable_;
    std::string dbVersion_ = "2.9.1.0.1";
};

}  // namespace exptest
