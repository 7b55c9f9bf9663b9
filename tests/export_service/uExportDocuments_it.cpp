// A package's documents with every record kind, checked from outside: xmllint reads them as
// well-formed UTF-8, and a Python reader (check_documents.py) checks their header, text form,
// containers and the element order of every kind.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "export_service/uQelOutProcessors.h"
#include "platform/rtl/DateTime.h"
#include "tests/export_service/KindFixtures.h"

using namespace svc;

namespace {

// The order in which the exporter writes the kinds.
const int kExportOrder[] = {8,  28, 0,  1,  2,  3,  35, 4, 32, 33, 34, 5,  6,  7,  10, 12, 15, 16, 18, 26,
                            27, 22, 24, 19, 20, 21, 31, 9, 29, 30, 39, 38, 36, 37, 11, 13, 17, 14, 23, 25};

int Shell(const std::string& command) {
    const int status = std::system((command + " 2>&1").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TExportRecord* Copy(const TExportRecord& record) {
    const TRecordClass& recordClass = record.RecordClass();
    TExportRecord* copy = recordClass.NewRecord();
    for (int i = 0; i < recordClass.FieldCount(); ++i) {
        if (recordClass.IsText(i))
            copy->SetText(i, record.Text(i));
        else
            copy->SetNumber(i, record.Number(i));
    }
    return copy;
}

class ExportDocuments : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/export_documents_XXXXXX";
        folder_ = ::mkdtemp(pattern);
    }
    void TearDown() override { Shell("rm -rf '" + folder_ + "'"); }

    // The order list names the data file.
    void SaveOrderList(TXMLGenerator& orderList, const std::string& fileName) const {
        TDataObjectList files;
        auto* file = new TExportFile;
        file->FileName = fileName;
        files.Add(file);
        orderList.WriteList("NewData", files);
        orderList.SaveToFile(folder_ + "/XmlOrderList.xml");
    }

    std::string Check() const {
        return "python3 " DX_SOURCE_DIR "/tests/export_service/check_documents.py '" + folder_ + "'";
    }

    std::string folder_;
};

TEST_F(ExportDocuments, EveryKindPassesXmllintAndThePythonReader) {
    const std::string packageId = "{5D1E2F30-4152-4637-8899-AABBCCDDEEFF}";
    const rtl::TDateTime created = rtl::EncodeDateTime(2024, 11, 30, 23, 59, 58, 999);
    const std::string fileName = "ZuvQelExport_0000701_20241130235958999.xml";
    TXMLGenerator data = TXMLGenerator::CreateData(packageId, 7, 1, created);
    TXMLGenerator orderList = TXMLGenerator::CreateOrderList(packageId, 7, 1, created);
    std::ofstream manifest(folder_ + "/manifest.tsv");
    manifest << "header\t" << packageId << "\t7\t1\t2024-11-30T23:59:58Z\nfile\t" << fileName << "\n";

    fakes::TFakeSession session;
    kinds::TFakeProcedures procedures;
    for (int kind : kExportOrder) {
        const kinds::TKindSpec& spec = kinds::Kinds()[static_cast<size_t>(kind)];
        // The reference data of kind 5 is empty.
        kinds::FillCursor(procedures.Proc(kind), spec, kind == 5 ? 0 : 4);
        auto mapper = TMapperFactory::CreateMapper(kind, &session, &procedures);
        auto list =
            spec.runner == 'P' ? mapper->GetListByPackageId(packageId) : mapper->GetListByClientType(0);
        ASSERT_TRUE(list) << spec.list;
        // The transactions go on to 2500, copies of the rows read, to fill three containers.
        for (int i = list->Count(); kind == 22 && i < 2500; ++i)
            list->Add(Copy(*list->ItemAs<TExportRecord>(i % 4)));
        data.WriteList(spec.list, *list);
        manifest << "list\t" << spec.list << "\t" << list->Count() << "\n";
    }
    manifest.close();
    data.SaveToFile(folder_ + "/" + fileName);
    SaveOrderList(orderList, fileName);

    EXPECT_EQ(Shell("xmllint --noout '" + folder_ + "/" + fileName + "' '" + folder_ + "/XmlOrderList.xml'"),
              0);
    EXPECT_EQ(Shell(Check()), 0);

    // The reader is no rubber stamp: two fields of an item swapped, and it objects.
    std::string text = ReadFile(folder_ + "/" + fileName);
    const size_t price = text.find("\t\t\t<Price_On_POS>");
    const size_t lineEnd = text.find("\r\n", price) + 2;
    const size_t next = text.find("\r\n", lineEnd) + 2;
    const std::string swapped = text.substr(lineEnd, next - lineEnd) + text.substr(price, lineEnd - price);
    text.replace(price, next - price, swapped);
    std::ofstream(folder_ + "/" + fileName, std::ios::binary) << text;
    EXPECT_EQ(Shell("xmllint --noout '" + folder_ + "/" + fileName + "'"), 0);
    FILE* pipe = ::popen(Check().c_str(), "r");
    std::string report;
    char buf[512];
    while (pipe && std::fgets(buf, sizeof buf, pipe)) report += buf;
    ASSERT_TRUE(pipe);
    EXPECT_NE(::pclose(pipe), 0);
    EXPECT_NE(report.find("POS_PRICES of POS_PRICES_LIST has"), std::string::npos) << report;
}

TEST_F(ExportDocuments, APackageWithoutRecordsIsTheHeaderAlone) {
    const std::string packageId = "{00000000-0000-4000-8000-000000000001}";
    const std::string fileName = "ZuvQelExport_0000100_20240101000000000.xml";
    TXMLGenerator data = TXMLGenerator::CreateData(packageId, 1, 0, rtl::EncodeDate(2024, 1, 1));
    TXMLGenerator orderList = TXMLGenerator::CreateOrderList(packageId, 1, 0, rtl::EncodeDate(2024, 1, 1));
    std::ofstream manifest(folder_ + "/manifest.tsv");
    manifest << "header\t" << packageId << "\t1\t0\t2024-01-01T00:00:00Z\nfile\t" << fileName << "\n";
    TDataObjectList empty;
    for (const TRecordKindInfo& kind : ExportKinds()) {
        data.WriteList(kind.ListName, empty);
        manifest << "list\t" << kind.ListName << "\t0\n";
    }
    manifest.close();
    data.SaveToFile(folder_ + "/" + fileName);
    SaveOrderList(orderList, fileName);

    EXPECT_EQ(Shell("xmllint --noout '" + folder_ + "/" + fileName + "'"), 0);
    EXPECT_EQ(Shell(Check()), 0);
}

}  // namespace
