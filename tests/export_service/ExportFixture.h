// The package exporter's test bed: a recording database whose forty cursors hold fixture rows,
// a working folder and a shared folder of the test's own, and the journal lines.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "export_service/uQelOutProcessorsExport.h"
#include "platform/os/WinCrypt.h"
#include "tests/common/ServiceFakes.h"
#include "tests/export_service/KindFixtures.h"
#include "tests/platform/os/OsTestSupport.h"

namespace exptest {

namespace fs = std::filesystem;

using TTempDir = ostest::TempDir;

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// The names in a folder (files only), sorted.
inline std::vector<std::string> Files(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec))
        if (entry.is_regular_file()) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// The procedure name of a kind as the fake database logs it.
inline std::string ProcOf(int kind) {
    return svc::ExportKind(kind).StoredProc;
}

class ExportFixture : public ::testing::Test {
protected:
    void SetUp() override {
        // Encryption makes its key container in a key store of the test's own.
        savedCrypt_ = os::CryptConfig();
        os::TCryptConfig crypt;
        crypt.KeyStoreFolder = dir_ / "keys";
        os::SetCryptConfig(crypt);
        settings_ = svc::TExportSettings();
        session_.connected = true;
        db_.fillCursor = [](svcfake::TFakeCursorProc& proc, const svc::TCursorProcDecl& decl) {
            for (const kinds::TKindSpec& known : kinds::Kinds())
                if (known.component == decl.ComponentName) kinds::FillCursor(proc, known, 2);
        };
        fs::create_directories(dir_ / "work");
        fs::create_directories(dir_ / "shared");
        settings_.WorkFolder = dir_ / "work/";
        settings_.SharedFolder = dir_ / "shared";
        settings_.Recipient = "web@portal.example";
        dataObjects_ = std::make_unique<svc::TdmQelOutDataObject>(access_);
    }

    void TearDown() override { os::SetCryptConfig(savedCrypt_); }

    std::unique_ptr<svc::TEmitentPackageExport> NewExporter() {
        auto exporter = std::make_unique<svc::TEmitentPackageExport>(&session_, 7, 3, settings_, sender_,
                                                                     dataObjects_.get());
        exporter->OnLog = log_.Callback();
        return exporter;
    }

    bool Journalled(const std::string& line) const {
        return std::find(log_.lines.begin(), log_.lines.end(), line) != log_.lines.end();
    }
    std::string JournalText() const {
        std::string text;
        for (const auto& line : log_.lines) text += line + "\n";
        return text;
    }
    // The calls of the log that name one of the export procedures, in order.
    std::vector<std::string> KindCalls() const {
        std::vector<std::string> calls;
        for (const auto& line : db_.Lines())
            for (const auto& kind : svc::ExportKinds())
                if (line.rfind(std::string(kind.StoredProc) + "(", 0) == 0) calls.push_back(kind.StoredProc);
        return calls;
    }

    TTempDir dir_{"export"};
    os::TCryptConfig savedCrypt_;
    svcfake::TFakeDb db_;
    svcfake::TFakeDataAccess access_{db_};
    svcfake::TFakeSession session_{db_};
    std::unique_ptr<svc::TdmQelOutDataObject> dataObjects_;
    svc::TExportSettings settings_;
    std::shared_ptr<svc::TSMTPSender> sender_ = svc::TSMTPSender::Create();
    fakes::TLogLines log_;
};

}  // namespace exptest
