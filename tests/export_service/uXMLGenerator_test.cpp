// The XML generator: header, containers of at most 1000 items, the exact text, saving.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "export_service/uQelOutProcessors.h"
#include "platform/rtl/DateTime.h"
#include "tests/export_service/KindFixtures.h"

using namespace svc;

namespace {

const rtl::TDateTime kCreated = rtl::EncodeDateTime(2024, 5, 6, 7, 8, 9, 123);
const char* kPackageId = "{0A1B2C3D-4E5F-4071-8293-A4B5C6D7E8F9}";

TXMLGenerator Data() {
    return TXMLGenerator::CreateData(kPackageId, 7, 1, kCreated);
}

// A list of n emitent configs whose Code is their number.
std::unique_ptr<TDataObjectList> Configs(int n) {
    auto list = std::make_unique<TDataObjectList>();
    for (int i = 0; i < n; ++i) {
        auto* config = new TEmitentConfigs;
        config->SetText(0, std::to_string(i));
        list->Add(config);
    }
    return list;
}

// The item counts of the containers of that name, in document order.
std::vector<int> Containers(const std::string& text, const std::string& list, const std::string& item) {
    std::vector<int> counts;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (line == "\t<" + list + ">\r") counts.push_back(0);
        if (line == "\t<" + list + "/>\r") counts.push_back(0);
        if (line == "\t\t<" + item + ">\r") ++counts.back();
    }
    return counts;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(XMLGenerator, ADocumentWithoutListsIsTheDeclarationAndTheRootWithItsHeader) {
    EXPECT_EQ(Data().Text(),
              "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
              "<RequestsData PackageId=\"{0A1B2C3D-4E5F-4071-8293-A4B5C6D7E8F9}\" Emitent=\"7\" Filial=\"1\" "
              "DateTimeCreate=\"2024-05-06T07:08:09Z\" Version=\"2.9.1.0\"/>\r\n");
    TXMLGenerator orderList = TXMLGenerator::CreateOrderList(kPackageId, 12345, 99, kCreated);
    EXPECT_EQ(
        orderList.Text(),
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
        "<XmlOrderList PackageId=\"{0A1B2C3D-4E5F-4071-8293-A4B5C6D7E8F9}\" Emitent=\"12345\" Filial=\"99\" "
        "DateTimeCreate=\"2024-05-06T07:08:09Z\" Version=\"2.9.1.0\"/>\r\n");
}

TEST(XMLGenerator, ListsAreSplitIntoContainersOfAtMostAThousandItems) {
    struct Case {
        int items;
        std::vector<int> containers;
    };
    const Case cases[] = {
        {0, {}}, {1, {1}}, {999, {999}}, {1000, {1000}}, {1001, {1000, 1}}, {2500, {1000, 1000, 500}},
    };
    for (const Case& c : cases) {
        TXMLGenerator data = Data();
        data.WriteList("EMITENT_CONFIGS_LIST", *Configs(c.items));
        EXPECT_EQ(Containers(data.Text(), "EMITENT_CONFIGS_LIST", "EMITENT_CONFIGS"), c.containers)
            << c.items;
    }
}

TEST(XMLGenerator, ItemsThatAreNoDataObjectsAreSkippedButCountTowardsTheirContainer) {
    auto list = Configs(999);
    list->Add(new rtl::TObject);
    list->Add(new TEmitentConfigs);
    TXMLGenerator data = Data();
    data.WriteList("EMITENT_CONFIGS_LIST", *list);
    EXPECT_EQ(Containers(data.Text(), "EMITENT_CONFIGS_LIST", "EMITENT_CONFIGS"), (std::vector<int>{999, 1}));

    TDataObjectList strangers;
    strangers.Add(new rtl::TObject);
    TXMLGenerator other = Data();
    other.WriteList("SERVICE_LIST", strangers);
    EXPECT_NE(other.Text().find("\t<SERVICE_LIST/>\r\n"), std::string::npos);
}

TEST(XMLGenerator, TheTextIsExactlyTheReadableForm) {
    TDataObjectList services;
    auto* service = new TServices;
    service->SetInteger(0, 5);
    service->SetText(1, "\xC1\xE5\xED\xE7\xE8\xED A&B");  // Бензин A&B
    service->SetInteger(4, -1);
    services.Add(service);
    TDataObjectList files;
    auto* file = new TExportFile;
    file->FileName = "f.xml";
    files.Add(file);

    TXMLGenerator data = Data();
    data.WriteList("SERVICE_LIST", services);
    data.WriteList("NewData", files);
    EXPECT_EQ(data.Text(),
              "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
              "<RequestsData PackageId=\"{0A1B2C3D-4E5F-4071-8293-A4B5C6D7E8F9}\" Emitent=\"7\" Filial=\"1\" "
              "DateTimeCreate=\"2024-05-06T07:08:09Z\" Version=\"2.9.1.0\">\r\n"
              "\t<SERVICE_LIST>\r\n"
              "\t\t<SERVICE>\r\n"
              "\t\t\t<ID>5</ID>\r\n"
              "\t\t\t<Name>\xD0\x91\xD0\xB5\xD0\xBD\xD0\xB7\xD0\xB8\xD0\xBD A&amp;B</Name>\r\n"
              "\t\t\t<Unit/>\r\n"
              "\t\t\t<Active>0</Active>\r\n"
              "\t\t\t<IsCurrency>-1</IsCurrency>\r\n"
              "\t\t</SERVICE>\r\n"
              "\t</SERVICE_LIST>\r\n"
              "\t<NewData>\r\n"
              "\t\t<File>f.xml</File>\r\n"
              "\t</NewData>\r\n"
              "</RequestsData>\r\n");
}

TEST(XMLGenerator, ARecordWritesItselfExactlyAsItsNodeIsWritten) {
    // The records of every kind from fixture rows (the third rows null), and texts that need
    // escaping or replacing; each must come out as its node through the generic writer.
    std::vector<std::unique_ptr<TDataObjectList>> lists;
    fakes::TFakeSession session;
    kinds::TFakeProcedures procedures;
    for (const kinds::TKindSpec& spec : kinds::Kinds()) {
        kinds::FillCursor(procedures.Proc(spec.kind), spec, 3);
        auto mapper = TMapperFactory::CreateMapper(spec.kind, &session, &procedures);
        lists.push_back(spec.runner == 'P' ? mapper->GetListByPackageId(kPackageId)
                                           : mapper->GetListByClientType(0));
        ASSERT_TRUE(lists.back()) << spec.list;
    }
    auto special = std::make_unique<TDataObjectList>();
    for (const char* text : {"R&D", "a<b", "a>b", "\"q\"", "it's", "\x01\x7F\tx\r\n",
                             "\xCA\xEB\xE8\xE5\xED\xF2 \xB9 \x98", ""}) {
        auto* client = new TClientForDataFile;
        for (int i = 0; i < client->RecordClass().FieldCount(); ++i)
            if (client->RecordClass().IsText(i)) client->SetText(i, text);
        special->Add(client);
    }
    lists.push_back(std::move(special));
    for (const auto& list : lists) {
        for (int i = 0; i < list->Count(); ++i) {
            const auto& record = *list->ItemAs<TExportRecord>(i);
            TXmlNode node(record.ElementName);
            record.ToXml(node);
            std::string expected = "-", actual = "-";
            WriteXmlElement(expected, node, 2);
            record.WriteXml(actual, 2);
            EXPECT_EQ(actual, expected) << record.ClassName() << " item " << i;
        }
    }
}

TEST(XMLGenerator, AListWhoseItemFailsToWriteLeavesTheDocumentAsItWas) {
    struct TFailing : TPersistentObject {
        void ToXml(TXmlNode&) const override { throw std::runtime_error("cannot write"); }
    };
    TXMLGenerator data = Data();
    const std::string before = data.Text();
    TDataObjectList list;
    list.Add(new TServices);
    list.Add(new TFailing);
    EXPECT_THROW(data.WriteList("SERVICE_LIST", list), std::runtime_error);
    EXPECT_EQ(data.Text(), before);
}

TEST(XMLGenerator, SavingWritesUtf8WithoutAByteOrderMarkAndASecondSaveReplacesTheFirst) {
    char pattern[] = "/tmp/xmlgen_XXXXXX";
    const std::string folder = ::mkdtemp(pattern);
    const std::string path = folder + "/data.xml";
    TXMLGenerator data = Data();
    data.SaveToFile("  " + path + " ");
    EXPECT_EQ(ReadFile(path), data.Text());
    EXPECT_EQ(ReadFile(path).rfind("<?xml", 0), 0u);

    data.WriteList("EMITENT_CONFIGS_LIST", *Configs(2));
    data.SaveToFile(path);
    EXPECT_EQ(ReadFile(path), data.Text());
    // A file the program deletes itself after packing is not flushed; its content is the same.
    data.SaveToFile(path + ".passing", true);
    EXPECT_EQ(ReadFile(path + ".passing"), data.Text());
    std::remove((path + ".passing").c_str());
    EXPECT_NE(ReadFile(path).find("</RequestsData>\r\n"), std::string::npos);
    std::remove(path.c_str());

    EXPECT_THROW(data.SaveToFile(folder + "/missing/data.xml"), rtl::EFCreateError);
    EXPECT_EQ(::access((folder + "/missing/data.xml").c_str(), F_OK), -1);
    ::rmdir(folder.c_str());
}

// A file started early holds the text as it grows; the save adds the rest and the closing tag,
// and the file is the same as one saved whole. Until the save the target does not exist.
TEST(XMLGenerator, AFileStartedEarlyIsTheSameAsOneSavedWhole) {
    char pattern[] = "/tmp/xmlgen_XXXXXX";
    const std::string folder = ::mkdtemp(pattern);
    const std::string path = folder + "/data.xml";
    for (bool passing : {true, false}) {
        TXMLGenerator data = Data();
        data.BeginFile(" " + path);
        for (int n : {3, 1001, 0, 7}) {
            data.WriteList("EMITENT_CONFIGS_LIST", *Configs(n));
            if (n != 0) data.Spill();
        }
        data.WriteList("SERVICE_LIST", *Configs(2));  // not spilled: the save writes it
        EXPECT_EQ(::access(path.c_str(), F_OK), -1);
        data.SaveToFile(path, passing);
        EXPECT_EQ(ReadFile(path), data.Text());
        // The document takes further lists and is saved again, whole.
        data.WriteList("TAIL_LIST", *Configs(1));
        data.SaveToFile(path);
        EXPECT_EQ(ReadFile(path), data.Text());
        std::remove(path.c_str());
    }
    // A file that cannot be started: the save raises as it always did.
    TXMLGenerator data = Data();
    data.BeginFile(folder + "/missing/data.xml");
    data.Spill();
    EXPECT_THROW(data.SaveToFile(folder + "/missing/data.xml"), rtl::EFCreateError);
    // A started file dropped with its document leaves nothing behind.
    {
        TXMLGenerator dropped = Data();
        dropped.BeginFile(path);
        dropped.WriteList("EMITENT_CONFIGS_LIST", *Configs(5));
        dropped.Spill();
    }
    EXPECT_EQ(::rmdir(folder.c_str()), 0);
}

}  // namespace
