// TOraCursor: states, call styles, handles from OCI and from the statement cache, and the
// prefetch attributes by client version (through scripted entries of the entry table).
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "OraValueTables.h"

using namespace dac;
using namespace oratest;

namespace {

// Replaces one entry of the entry table for the scope.
template <class Entry>
class TEntryFake {
public:
    TEntryFake(Entry& entry, Entry fake) : entry_(entry), saved_(entry) { entry = fake; }
    ~TEntryFake() { entry_ = saved_; }
    TEntryFake(const TEntryFake&) = delete;
    TEntryFake& operator=(const TEntryFake&) = delete;

private:
    Entry& entry_;
    Entry saved_;
};

std::vector<std::pair<ub4, ub4>> attrSets;  // (attribute, value) in call order
int handleFrees = 0, stmtReleases = 0;
sword freeResult = OCI_SUCCESS;

sword RecordAttrSet(void*, ub4, void* value, ub4, ub4 attr, OCIError*) {
    attrSets.emplace_back(attr, *static_cast<ub4*>(value));
    return OCI_SUCCESS;
}
sword CountHandleFree(void*, ub4 type) {
    EXPECT_EQ(ub4(OCI_HTYPE_STMT), type);
    ++handleFrees;
    return freeResult;
}
sword CountStmtRelease(OCIStmt*, OCIError*, const OraText*, ub4, ub4) {
    ++stmtReleases;
    return OCI_SUCCESS;
}

OCIStmt* FakeHandle() {
    static int cell;
    return reinterpret_cast<OCIStmt*>(&cell);
}

class OraCursorTest : public OraValueTest {
protected:
    void SetUp() override {
        OraValueTest::SetUp();
        attrSets.clear();
        handleFrees = stmtReleases = 0;
        freeResult = OCI_SUCCESS;
    }
};

}  // namespace

TEST_F(OraCursorTest, FetchesOnlyWhenExecutedOrFetching) {
    TOraCursor* cursor = new TOraCursor;
    const std::pair<TCursorState, bool> states[] = {
        {csInactive, false},   {csOpen, false},    {csParsed, false},
        {csPrepared, false},   {csBound, false},   {csExecuteFetchAll, false},
        {csExecuting, false},  {csExecuted, true}, {csFetching, true},
        {csFetchingAll, true}, {csFetched, false},
    };
    for (auto [state, can] : states) {
        cursor->State = state;
        EXPECT_EQ(can, cursor->CanFetch()) << int(state);
    }
    EXPECT_EQ(1, cursor->RefCount());
    cursor->Free();
}

TEST_F(OraCursorTest, CallStyleChecks) {
    TOraCursor cursor;
    EXPECT_EQ(ocsOCI8, cursor.CallStyle);  // the library's default
    EXPECT_EQ("Need Oracle 7.3 Call Interface", Message([&] { cursor.GetCDA(); }));

    cursor.SetCallStyle(ocsOCI7);
    const uint8_t* cda = cursor.GetCDA();
    EXPECT_EQ(std::vector<uint8_t>(TOraCursor::CDASize, 0),
              std::vector<uint8_t>(cda, cda + TOraCursor::CDASize));
    EXPECT_EQ("Need Oracle 8 Call Interface", Message([&] { cursor.GetOCIStmt(); }));
    cursor.AllocCursor();  // keeps its data area, makes no statement
    EXPECT_EQ(nullptr, cursor.GetHandle());
    cursor.SetCallStyle(ocsOCI8);  // frees the data area
    EXPECT_EQ("Need Oracle 7.3 Call Interface", Message([&] { cursor.GetCDA(); }));

    ResetClient();  // no client: no default call style
    TOraCursor unset;
    EXPECT_EQ("OCI is not inizialized", Message([&] { unset.AllocCursor(); }));
    EXPECT_EQ(nullptr, unset.GetHandle());
}

TEST_F(OraCursorTest, AllocatesFromTheLibraryEnvironmentAndFreesWhatItAllocated) {
    TOraCursor cursor;
    OCIStmt* handle = cursor.GetOCIStmt();
    ASSERT_NE(nullptr, handle);
    EXPECT_EQ(OCIEnvHandle, cursor.EnvironmentHandle);
    EXPECT_EQ(OCIErrorHandle(), cursor.ErrorHandle);
    EXPECT_FALSE(cursor.UnicodeEnvironment);
    EXPECT_EQ(handle, *cursor.GetOCIStmtPtr());
    cursor.AllocCursor();  // a held handle stays
    EXPECT_EQ(handle, cursor.GetHandle());
    {
        TEntryFake<decltype(dac::OCIHandleFree)> free(dac::OCIHandleFree, &CountHandleFree);
        cursor.FreeCursor();
    }
    EXPECT_EQ(1, handleFrees);
    EXPECT_EQ(nullptr, cursor.GetHandle());
    EXPECT_EQ(nullptr, cursor.EnvironmentHandle);
    EXPECT_EQ(nullptr, cursor.ErrorHandle);
    dac::OCIHandleFree(handle, OCI_HTYPE_STMT);
}

TEST_F(OraCursorTest, HandlesItDidNotAllocateAreLeftToTheirOwners) {
    TEntryFake<decltype(dac::OCIHandleFree)> free(dac::OCIHandleFree, &CountHandleFree);
    TEntryFake<decltype(dac::OCIStmtRelease)> release(dac::OCIStmtRelease, &CountStmtRelease);
    TEntryFake<decltype(dac::OCIAttrSet)> attr(dac::OCIAttrSet, &RecordAttrSet);

    TOraCursor foreign;
    foreign.SetHandle(FakeHandle());
    foreign.FreeCursor();
    EXPECT_EQ(0, handleFrees);
    EXPECT_EQ(nullptr, foreign.GetHandle());

    // A handle of the statement cache goes back with OCIStmtRelease, never OCIHandleFree.
    TOraCursor cached;
    cached.AllocCursor(true);
    EXPECT_TRUE(cached.FromStatementCache());
    EXPECT_EQ(nullptr, cached.GetHandle());
    cached.SetHandle(FakeHandle());
    cached.FreeCursor();
    EXPECT_EQ(1, stmtReleases);
    EXPECT_EQ(0, handleFrees);
}

TEST_F(OraCursorTest, AFailedReleaseKeepsTheHandle) {
    TOraCursor cursor;
    OCIStmt* handle = cursor.GetOCIStmt();
    {
        TEntryFake<decltype(dac::OCIHandleFree)> free(dac::OCIHandleFree, &CountHandleFree);
        freeResult = OCI_INVALID_HANDLE;
        EXPECT_THROW(cursor.FreeCursor(), EOraError);
    }
    EXPECT_EQ(handle, cursor.GetHandle());
    EXPECT_NE(nullptr, cursor.EnvironmentHandle);
    cursor.FreeCursor();
    EXPECT_EQ(nullptr, cursor.GetHandle());
}

TEST_F(OraCursorTest, PrefetchAttributesByClientVersion) {
    struct Case {
        uint16_t version;
        int32_t rows;
        std::vector<std::pair<ub4, ub4>> sets;
    };
    const Case cases[] = {
        {8160, 25, {}},                                                            // 8.1.6: never
        {8170, 25, {{OCI_ATTR_PREFETCH_ROWS, 0}, {OCI_ATTR_PREFETCH_MEMORY, 0}}},  // before 9.0: off
        {9000, 0, {{OCI_ATTR_PREFETCH_ROWS, 0}, {OCI_ATTR_PREFETCH_MEMORY, 0}}},   // no rows asked: off
        {11204, 25, {{OCI_ATTR_PREFETCH_ROWS, 25}}},
    };
    TEntryFake<decltype(dac::OCIAttrSet)> attr(dac::OCIAttrSet, &RecordAttrSet);
    const uint16_t version = OCIVersion;
    for (const auto& c : cases) {
        OCIVersion = c.version;
        attrSets.clear();
        TOraCursor cursor;
        cursor.PrefetchRows = c.rows;
        cursor.SetHandle(FakeHandle());
        EXPECT_EQ(c.sets, attrSets) << c.version;
        attrSets.clear();
        cursor.DisablePrefetch();
        if (c.version != 8160) {
            EXPECT_EQ((std::vector<std::pair<ub4, ub4>>{{OCI_ATTR_PREFETCH_ROWS, 0},
                                                        {OCI_ATTR_PREFETCH_MEMORY, 0}}),
                      attrSets);
        } else {
            EXPECT_TRUE(attrSets.empty());
        }
        cursor.SetHandle(nullptr);
    }
    OCIVersion = version;
    // Nothing is set without a handle or in the OCI 7 call style.
    attrSets.clear();
    TOraCursor cursor;
    cursor.SetPrefetchRows(10);
    cursor.CallStyle = ocsOCI7;
    cursor.SetHandle(FakeHandle());
    EXPECT_TRUE(attrSets.empty());
    cursor.SetHandle(nullptr);
}

TEST_F(OraCursorTest, SharedByReferenceCount) {
    auto* cursor = new TOraCursor;
    cursor->GetOCIStmt();
    cursor->AddRef();
    cursor->Free();
    ASSERT_EQ(1, cursor->RefCount());
    EXPECT_NE(nullptr, cursor->GetHandle());
    cursor->FreeHandles();  // the statement goes, the object stays
    EXPECT_EQ(nullptr, cursor->GetHandle());
    cursor->Free();
}
