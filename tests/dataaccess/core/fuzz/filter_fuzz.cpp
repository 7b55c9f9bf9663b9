// Filter expressions, sort orders and LIKE patterns: no text may crash or hang the
// record list; a text it cannot use raises its error and leaves the list usable.
#include <cstddef>
#include <cstdint>
#include <string>

#include "dataaccess/core/MemData.h"
#include "platform/rtl/Exceptions.h"
#include "tests/dataaccess/core/MemDataFixture.h"

namespace {

using namespace dac;

class Rows : public TMemData {
public:
    Rows() {
        Open();
        for (int i = 0; i < 6; ++i) {
            void* rec = AllocRecBuf();
            InitRecord(rec);
            if (i % 3) PutFieldAsVariant(1, rec, rtl::Variant(i * 7 - 10));
            if (i % 4) PutFieldAsVariant(2, rec, rtl::Variant(std::string("Ab'c-") + char('a' + i)));
            PutFieldAsVariant(3, rec, rtl::Variant(i * 0.5));
            PutFieldAsVariant(4, rec, rtl::Variant::FromDateTime(40000.0 + i));
            PutFieldAsVariant(5, rec, rtl::Variant(i % 2 == 0));
            AppendRecord(rec);
            FreeRecBuf(rec);
        }
    }
    ~Rows() override { Close(); }
    void InternalInitFields() override {
        test::DescribeFieldSpecs(
            *this,
            {{"I", dtInteger}, {"S", dtString, 12}, {"F", dtFloat}, {"D", dtDateTime}, {"B", dtBoolean}});
    }
    void InternalOpen(bool) override { InitFields(); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const uint8_t flags = data[0];
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    static Rows rows;
    rows.FilterCaseInsensitive = flags & 1;
    rows.FilterNoPartialCompare = flags & 2;
    try {
        rows.SetFilterText(text);
    } catch (const rtl::Exception&) {
    }
    try {
        rows.FilterUpdated();
    } catch (const rtl::Exception&) {
    }
    try {
        rows.ChangeIndexFieldNames(text);
    } catch (const rtl::Exception&) {
    }
    const size_t half = text.size() / 2;
    (void)MatchLike(std::string_view(text).substr(0, half), std::string_view(text).substr(half));
    return 0;
}
