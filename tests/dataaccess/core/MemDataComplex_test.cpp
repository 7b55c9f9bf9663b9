#include <gtest/gtest.h>

#include <string>

#include "dataaccess/core/MemData.h"
#include "tests/dataaccess/core/MemDataFixture.h"

namespace dac {
namespace {

using test::Storage;
using test::TestData;

void* PlaceValue(TData& d, void* rec, int fieldNo) {
    return PeekPacked<void*>(static_cast<uint8_t*>(rec) + d.Fields()[fieldNo - 1]->Offset, 0);
}

std::string Text(TData& d, void* rec, int fieldNo) {
    char out[64];
    bool blank = false;
    d.GetField(fieldNo, rec, out, blank);
    return blank ? std::string("<null>") : std::string(out);
}

TEST(MemDataComplex, NewRecordOwnsFreshReferences) {
    Storage s({{"B", dtBlob}, {"W", dtWideMemo}, {"V", dtVariant}, {"R", dtStringRef, 20}, {"I", dtInteger}});
    TestData& d = *s.data;
    void* rec = s.NewRecord();
    auto* blob = dynamic_cast<TCompressedBlob*>(TSharedObject::FromHandle(PlaceValue(d, rec, 1)));
    ASSERT_NE(blob, nullptr);
    EXPECT_FALSE(blob->IsUnicode());
    EXPECT_TRUE(blob->RollbackEnabled());
    EXPECT_TRUE(d.GetBlob(2, rec)->IsUnicode());
    EXPECT_NE(dynamic_cast<TVariantObject*>(TSharedObject::FromHandle(PlaceValue(d, rec, 3))), nullptr);
    EXPECT_EQ(PlaceValue(d, rec, 4), nullptr);
    for (int i = 1; i <= 5; ++i) EXPECT_TRUE(d.GetNull(i, rec)) << i;

    void* noBlobs = s.NewRecord(false);
    EXPECT_EQ(PlaceValue(d, noBlobs, 1), nullptr);
}

TEST(MemDataComplex, ReleasingASharedHeapTextKeepsTheOtherRecordsText) {
    Storage s({{"R", dtStringRef, 20}, {"V", dtVariant}});
    TestData& d = *s.data;
    void* a = s.NewRecord();
    d.PutField(1, a, "shared");
    void* b = s.RawBuffer();
    std::memcpy(b, a, static_cast<std::size_t>(d.RecordSize()));
    d.AddRefComplexFields(b);
    void* text = PlaceValue(d, a, 1);
    EXPECT_EQ(TStringHeap::UseCountMark(text), 102);
    auto* holder = TSharedObject::FromHandle(PlaceValue(d, a, 2));
    EXPECT_EQ(holder->RefCount(), 2);

    d.FreeComplexFields(b, true);
    EXPECT_EQ(PlaceValue(d, b, 1), text);  // still in use elsewhere: the pointer stays
    EXPECT_EQ(TStringHeap::UseCountMark(text), 101);
    EXPECT_EQ(holder->RefCount(), 1);
    EXPECT_EQ(Text(d, a, 1), "shared");
    s.Disown(a);
    d.FreeComplexFields(a, true);
    EXPECT_EQ(PlaceValue(d, a, 1), nullptr);  // the last use: cleared
    EXPECT_EQ(PlaceValue(d, a, 2), nullptr);
}

TEST(MemDataComplex, CopiesGetTheirOwnHeapBuffersAndVariantValues) {
    Storage s(
        {{"R", dtStringRef, 20}, {"WR", dtWideStringRef, 20}, {"VB", dtVarBytesRef, 8}, {"V", dtVariant}});
    TestData& d = *s.data;
    void* a = s.NewRecord();
    d.PutField(1, a, "text");
    d.PutField(2, a, u"wide");
    const uint8_t bytes[] = {3, 0, 7, 8, 9};
    d.PutField(3, a, bytes);
    rtl::Variant v(int32_t{5});
    d.PutField(4, a, &v);
    void* b = s.NewRecord();
    d.CopyComplexFields(a, b, false);
    for (int i = 1; i <= 3; ++i) {
        EXPECT_NE(PlaceValue(d, b, i), PlaceValue(d, a, i)) << i;
        EXPECT_EQ(TStringHeap::UseCountMark(PlaceValue(d, b, i)), 101) << i;
    }
    EXPECT_STREQ(static_cast<char*>(PlaceValue(d, b, 1)), "text");
    EXPECT_EQ(std::memcmp(PlaceValue(d, b, 3), bytes, 5), 0);
    EXPECT_EQ(
        dynamic_cast<TVariantObject*>(TSharedObject::FromHandle(PlaceValue(d, b, 4)))->Value.AsInteger(), 5);
    rtl::Variant got;
    bool blank = true;
    d.GetField(4, b, &got, blank);  // a variant field hands out a copy of the held Variant
    EXPECT_EQ(got.AsInteger(), 5);
    EXPECT_THROW(d.CopyComplexFields(a, b, true), rtl::EAssertionFailed);
}

TEST(MemDataComplex, AddRefNamesAMissingObject) {
    Storage s({{"I", dtInteger}, {"BLOBFIELD", dtBlob}});
    void* rec = s.NewRecord(false);
    try {
        s.data->AddRefComplexFields(rec);
        FAIL();
    } catch (const rtl::EAssertionFailed& e) {
        EXPECT_NE(e.Message().find("Shared object for BLOBFIELD=nil"), std::string::npos) << e.Message();
    }
}

TEST(MemDataComplex, EditedHeapTextReachesTheStoredRecordOnlyByPost) {
    Storage s({{"R", dtStringRef, 20}, {"M", dtMemo}});
    TestData& d = *s.data;
    void* stored = s.NewRecord();
    d.PutField(1, stored, "before");
    d.GetBlob(2, stored)->SetAsString("memo");
    d.Store(stored);
    s.Disown(stored);

    void* edit = s.RawBuffer();
    d.GetRecord(edit);  // a byte copy of the current record
    d.EditRecord(edit);
    EXPECT_NE(PlaceValue(d, edit, 1), PlaceValue(d, d.Stored(), 1));
    void* storedText = PlaceValue(d, d.Stored(), 1);
    d.PutField(1, edit, "after");
    d.WriteBlob(2, edit, 0, 4, "MEMO");
    EXPECT_EQ(Text(d, d.Stored(), 1), "before");
    d.PostRecord(edit);
    EXPECT_EQ(Text(d, d.Stored(), 1), "after");
    EXPECT_EQ(TStringHeap::UseCountMark(storedText), TStringHeap::RefNull);  // the old state was released
    TBlob* memo = d.GetBlob(2, d.Stored());
    EXPECT_EQ(memo->GetAsString(), "MEMO");
    EXPECT_FALSE(memo->CanRollback());  // committed
}

TEST(MemDataComplex, CancelRestoresBlobsAndDropsEditCopies) {
    Storage s({{"R", dtStringRef, 20}, {"M", dtMemo}});
    TestData& d = *s.data;
    void* stored = s.NewRecord();
    d.PutField(1, stored, "kept");
    d.GetBlob(2, stored)->SetAsString("memo");
    d.GetBlob(2, stored)->Commit();
    d.Store(stored);
    s.Disown(stored);

    void* edit = s.RawBuffer();
    d.GetRecord(edit);
    d.EditRecord(edit);
    void* editText = PlaceValue(d, edit, 1);
    d.WriteBlob(2, edit, 0, 2, "XX");
    d.CancelRecord(edit);
    EXPECT_EQ(d.GetBlob(2, d.Stored())->GetAsString(), "memo");
    EXPECT_EQ(TStringHeap::UseCountMark(editText), TStringHeap::RefNull);
    EXPECT_EQ(Text(d, d.Stored(), 1), "kept");
}

TEST(MemDataComplex, BlobFieldAccess) {
    Storage s({{"B", dtBlob}, {"I", dtInteger}, {"W", dtWideMemo}});
    TestData& d = *s.data;
    void* rec = s.NewRecord();
    try {
        d.GetBlob(2, rec);
        FAIL();
    } catch (const rtl::Exception& e) {
        EXPECT_EQ(e.Message(), "Field is not BLOB");
    }
    EXPECT_THROW(d.SetBlob(2, rec, nullptr), rtl::Exception);

    d.GetBlob(1, rec)->SetAsString("abc");
    d.SetNull(1, rec, true);
    EXPECT_EQ(d.GetBlobSize(1, rec), 0);  // null, although the object exists
    d.WriteBlob(1, rec, 0, 0, "");
    EXPECT_FALSE(d.GetNull(1, rec));
    d.WriteBlob(1, rec, 0, 5, "hello");
    char out[8] = {};
    EXPECT_EQ(d.ReadBlob(1, rec, 1, 3, out), 3);
    EXPECT_STREQ(out, "ell");
    d.TruncateBlob(1, rec, 0);
    EXPECT_TRUE(d.GetNull(1, rec));

    TBlob* kept = d.GetBlob(1, rec);
    kept->AddRef();
    d.SetBlob(1, rec, nullptr);
    try {
        d.GetBlob(1, rec);
        FAIL();
    } catch (const rtl::EAssertionFailed& e) {
        EXPECT_NE(e.Message().find("Object for field B(1) = nil"), std::string::npos) << e.Message();
    }
    d.SetBlob(1, rec, kept);
    kept->Free();
}

TEST(MemDataComplex, UnicodeMemoMeasuredInAnsiCharacters) {
    Storage s({{"W", dtWideMemo}});
    TestData& d = *s.data;
    void* rec = s.NewRecord();
    d.WriteBlob(1, rec, 0, 2, "AB", false);
    EXPECT_EQ(d.GetBlobSize(1, rec, false, true), 4);
    EXPECT_EQ(d.GetBlobSize(1, rec, false, false), 2);
    d.WriteBlob(1, rec, 2, 3, "\xC0yz", false);  // cp1251 A-cyrillic
    EXPECT_EQ(d.GetBlob(1, rec)->GetAsWideString(), u"AB\u0410yz");
    char out[8] = {};
    EXPECT_EQ(d.ReadBlob(1, rec, 1, 3, out, false, false), 3);
    EXPECT_STREQ(out, "B\xC0y");
    d.SetBlobSize(1, rec, 7, false, false);
    EXPECT_EQ(d.GetBlobSize(1, rec, false, true), 14);
    d.SetBlobSize(1, rec, 1, false, false);
    EXPECT_EQ(d.GetBlob(1, rec)->GetAsWideString(), u"A");
    d.TruncateBlob(1, rec, 0, false);
    EXPECT_TRUE(d.GetNull(1, rec));
}

TEST(MemDataComplex, RollbackViewShowsTheValueBeforeTheEdit) {
    Storage s({{"B", dtBlob}});
    TestData& d = *s.data;
    void* rec = s.NewRecord();
    d.WriteBlob(1, rec, 0, 3, "old");
    d.GetBlob(1, rec)->Commit();
    d.WriteBlob(1, rec, 0, 6, "newer!");
    EXPECT_EQ(d.GetBlobSize(1, rec), 6);
    EXPECT_EQ(d.GetBlobSize(1, rec, true), 3);
    char out[8] = {};
    EXPECT_EQ(d.ReadBlob(1, rec, 0, 0, out, true), 3);
    EXPECT_STREQ(out, "old");
    EXPECT_FALSE(d.GetBlob(1, rec)->RollbackView());  // switched back after the call
}

}  // namespace
}  // namespace dac
