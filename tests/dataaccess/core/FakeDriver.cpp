#include "tests/dataaccess/core/FakeDriver.h"

#include <algorithm>

namespace dac::fake {

void FakeTransaction::OpenTransaction() {
    CheckInactive();
    FActive = true;
}

void FakeTransaction::Commit() {
    CheckActive();
    FActive = false;
    ++Commits;
}

void FakeTransaction::Rollback() {
    CheckActive();
    FActive = false;
    ++Rollbacks;
}

void FakeConnection::Connect(const AnsiString& connectString) {
    ++Connects;
    if (!ServerUp) throw EFakeError(3113, "ORA-03113: end-of-file on communication channel");
    TCRConnection::Connect(connectString);
    FConnected = true;
}

void FakeConnection::Disconnect() {
    if (!FConnected) return;
    ++Disconnects;
    FConnected = false;
}

void FakeCommand::Execute(int) {
    ++Executes;
    if (!FailNextExecute.empty()) {
        AnsiString message = FailNextExecute;
        FailNextExecute.clear();
        throw EFakeError(900, message);
    }
    State = csExecuted;
    Position = 0;
}

FakeRecordSet::~FakeRecordSet() {
    try {
        Close();
    } catch (...) {
    }
}

void FakeRecordSet::InternalInitFields() {
    ++Describes;
    FCommandType = ctCursor;
    for (const auto& c : Command().Columns) {
        TFieldDesc* d = GetFieldDescType().Create();
        d->Name = c.Name;
        d->ActualName = c.Name;
        d->DataType = c.DataType;
        d->Length = static_cast<uint16_t>(c.Length);
        d->Scale = static_cast<uint16_t>(c.Scale);
        d->Required = c.Required;
        d->ReadOnly = c.ReadOnly;
        d->Fixed = c.Fixed;
        d->Hidden = c.Hidden;
        d->Size = DataTypeSize(c.DataType, c.Length);
        d->FieldNo = static_cast<uint16_t>(Fields().Count() + 1);
        Fields().Add(d);
    }
}

void* FakeRecordSet::MakeRecord(const std::vector<rtl::Variant>& values) {
    void* rec = AllocRecBuf();
    InitRecord(rec);
    if (HasComplexFields()) CreateComplexFields(rec, true);
    try {
        for (size_t i = 0; i < values.size(); ++i)
            if (!values[i].IsNull()) PutFieldAsVariant(static_cast<int>(i) + 1, rec, values[i]);
    } catch (...) {
        FreeComplexFields(rec, true);
        FreeRecBuf(rec);
        throw;
    }
    // Fetched blobs are the stored values: nothing to roll back to.
    if (HasComplexFields()) CommitBlobs(rec);
    return rec;
}

PItemHeader FakeRecordSet::NewItem(size_t row) {
    void* rec = MakeRecord(Command().Rows[row]);
    PItemHeader item;
    BlockManager().AllocItem(item);
    BlockManager().PutItemRecord(item, rec);
    FreeRecBuf(rec);
    return item;
}

bool FakeRecordSet::FetchScrollable(bool fetchBack) {
    FakeCommand& cmd = Command();
    const size_t count = FFetchRows > 0 ? static_cast<size_t>(FFetchRows) : cmd.Rows.size();
    if (fetchBack) {
        if (WindowFirst == 0) return false;
        const size_t from = WindowFirst > count ? WindowFirst - count : 0;
        for (size_t row = WindowFirst; row-- > from;) {
            PItemHeader item = NewItem(row);
            ItemHeader::SetPrev(item, nullptr);
            ItemHeader::SetNext(item, FirstItem);
            ItemHeader::SetOrder(
                item, FirstItem ? ItemHeader::Order(FirstItem) - 1 : static_cast<int32_t>(row) + 1);
            if (FirstItem) ItemHeader::SetPrev(FirstItem, item);
            FirstItem = item;
            if (!LastItem) LastItem = item;
            SetItemSerial(item);
        }
        WindowFirst = from;
        while (Window > 0 && WindowEnd - WindowFirst > static_cast<size_t>(Window)) {
            DeleteItem(LastItem);
            --WindowEnd;
        }
    } else {
        if (WindowEnd >= cmd.Rows.size()) return false;
        const size_t to = std::min(cmd.Rows.size(), WindowEnd + count);
        for (size_t row = WindowEnd; row < to; ++row) {
            PItemHeader item = NewItem(row);
            const int32_t order = LastItem ? ItemHeader::Order(LastItem) + 1 : static_cast<int32_t>(row) + 1;
            LinkItem(item);
            ItemHeader::SetOrder(item, order);
        }
        WindowEnd = to;
        while (Window > 0 && WindowEnd - WindowFirst > static_cast<size_t>(Window)) {
            if (CurrentItem == FirstItem) CurrentItem = nullptr;
            DeleteItem(FirstItem);
            ++WindowFirst;
        }
    }
    recordCount_ = static_cast<int32_t>(WindowEnd - WindowFirst);
    DropRecordNoCache();
    return true;
}

bool FakeRecordSet::Fetch(bool fetchBack) {
    FakeCommand& cmd = Command();
    if (cmd.State < csExecuted || cmd.State == csFetched) return false;
    bool cancel = false;
    DoBeforeFetch(cancel);
    if (cancel) return false;
    ++Fetches;
    if (Scrollable) {
        const bool fetched = FetchScrollable(fetchBack);
        if (cmd.State < csFetching) cmd.State = csFetching;
        DoAfterFetch();
        return fetched;
    }
    if (cmd.Position >= cmd.Rows.size()) {
        cmd.State = csFetched;
        return false;
    }
    if (FUniDirectional) {
        while (FirstItem) {
            CurrentItem = FirstItem;
            DeleteItem(FirstItem);
        }
        recordCount_ = 0;
        recNoOffset_ = 0;
    }
    size_t count = FFetchRows > 0 ? static_cast<size_t>(FFetchRows) : cmd.Rows.size();
    PItemHeader first = nullptr;
    for (size_t n = 0; n < count && cmd.Position < cmd.Rows.size(); ++n) {
        void* rec = MakeRecord(cmd.Rows[cmd.Position++]);
        PItemHeader item;
        BlockManager().AllocItem(item);
        LinkItem(item);
        BlockManager().PutItemRecord(item, rec);
        FreeRecBuf(rec);
        if (!first) first = item;
    }
    ReorderItems(first, false, false);
    cmd.State = cmd.Position >= cmd.Rows.size() ? csFetched : csFetching;
    DoAfterFetch();
    return true;
}

std::vector<rtl::Variant> FakeRecordSet::CurrentValues() {
    std::vector<rtl::Variant> values;
    if (!CurrentItem) return values;
    for (int i = 1; i <= GetFieldCount(); ++i) {
        rtl::Variant v;
        GetFieldAsVariant(i, ItemRecord(CurrentItem), v);
        values.push_back(v);
    }
    return values;
}

void FillNumbered(FakeRecordSet& rs, int count) {
    FakeCommand& cmd = rs.Command();
    cmd.Columns = {{"ID", dtInteger, 0}, {"NAME", dtString, 20}};
    cmd.Rows.clear();
    for (int i = 1; i <= count; ++i)
        cmd.Rows.push_back({rtl::Variant(i), rtl::Variant("row " + std::to_string(i))});
}

}  // namespace dac::fake
