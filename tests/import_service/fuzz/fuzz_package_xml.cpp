// Request packages are outside input. The input is read as a whole document and as the inside of
// a package's root element; every list is then read item by item as the importer reads it.
// Reading may fail only with EXmlReadError, and an item only with the platform's errors.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "import_service/uQelInProcessors.h"
#include "import_service/uXmlPackageReader.h"
#include "tests/import_service/ImportFakes.h"

using namespace svc;

namespace {

impfake::TFakeDb db;
impfake::TFakeFactory factory(db);
TdmMainDataModule dm(factory);

void ReadItems(const TXmlNode& root) {
    rtl::TDateTime when;
    int32_t number;
    for (const auto& [name, value] : root.Attributes()) {
        TryXmlToDateTime(value, when);
        TryXmlToInt(value, number);
    }
    for (int i = 0; i < root.NodeCount(); ++i) {
        const TXmlNode& list = root.Nodes(i);
        try {
            auto request =
                TPersistentObjectFactory::CreateRequest(TTypeRequestEnum::KindOfList(list.Name()), dm);
            for (int k = 0; k < list.NodeCount(); ++k) {
                try {
                    request->FromXml(list.Nodes(k));
                } catch (const rtl::Exception&) {
                }
            }
        } catch (const rtl::Exception&) {
        }
    }
}

void Read(const std::string& xml) {
    try {
        if (const auto root = ReadXmlMemory(xml, "fuzz.xml")) ReadItems(*root);
    } catch (const EXmlReadError&) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    Read(input);
    Read(
        "<?xml version=\"1.0\" encoding=\"windows-1251\"?><RequestsData PackageId=\"x\" Version=\"2.9.1.0\">"
        "<RECHARGE_LIST><RECHARGE>" +
        input + "</RECHARGE></RECHARGE_LIST></RequestsData>");
    Read("<RequestsData><CREATE_COUPON_LIST><CREATE_COUPON Id=\"1\" TypeVCRequestId=\"1\" OrderId=\"" +
         input + "\"><DateCreate>" + input +
         "</DateCreate></CREATE_COUPON></CREATE_COUPON_LIST></RequestsData>");
    return 0;
}
