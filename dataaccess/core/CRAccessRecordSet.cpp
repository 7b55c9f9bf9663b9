#include "dataaccess/core/CRAccess.h"

namespace dac {

// ---------------------------------------------------------------------------------------------
// TCRFieldDesc

AnsiString TCRFieldDesc::GetActualName(TSQLInfo* sqlInfo, bool quoteAlways) {
    AnsiString& cached = actualNames_[quoteAlways ? 1 : 0];
    if (!cached.empty()) return cached;
    AnsiString name =
        (quoteAlways || sqlInfo->NeedQuote(ActualName)) ? sqlInfo->QuoteName(ActualName) : ActualName;
    cached = name;
    return name;
}

// ---------------------------------------------------------------------------------------------
// TCRRecordSet

TCRRecordSet::TCRRecordSet() = default;

TCRRecordSet::~TCRRecordSet() {
    try {
        Close();
    } catch (...) {
    }
    FreeCommand();
}

void TCRRecordSet::CreateCommand() {
    rtl::AbstractError();
}

TCRCommand* TCRRecordSet::GetCommand() {
    if (!FCommandMade) {
        FCommandMade = true;
        CreateCommand();
    }
    return FCommand;
}

void TCRRecordSet::FreeCommand() {
    delete FCommand;
    FCommandMade = true;
    SetCommand(nullptr);
}

TCRTablesInfo& TCRRecordSet::TablesInfo() {
    if (!FTablesInfo) FTablesInfo = std::make_unique<TCRTablesInfo>(GetTableInfoClass());
    return *FTablesInfo;
}

bool TCRRecordSet::NeedConvertEOL() {
    TCRCommand* command = FCommandMade ? FCommand : nullptr;
    return command && command->GetConnection() && command->GetConnection()->ConvertEOL();
}

void TCRRecordSet::DoBeforeFetch(bool& cancel) {
    cancel = FFetchCancel;
    if (OnBeforeFetch) OnBeforeFetch(cancel);
    if (cancel && GetCommand()->GetCursorState() == csFetchingAll) GetCommand()->SetCursorState(csFetching);
}

void TCRRecordSet::DoAfterFetch() {
    if (OnAfterFetch) OnAfterFetch();
}

void TCRRecordSet::Disconnect() {
    InternalUnPrepare();
    prepared_ = false;
}

void TCRRecordSet::ExecCommand() {
    GetCommand()->Execute(1);
    FFetchCancel = false;
}

void TCRRecordSet::FetchAll() {
    while (Fetch(false)) {
    }
}

bool TCRRecordSet::CanDisconnect() {
    rtl::Assert(GetCommand() != nullptr, "Record set has no command");
    TCursorState state = FCommand->GetCursorState();
    return state == csInactive || state == csFetched;
}

void TCRRecordSet::InternalOpen(bool disableInitFields) {
    try {
        TMemData::InternalOpen(disableInitFields);
        eof_ = false;
        ExecuteOpen(disableInitFields);
    } catch (...) {
        if (!prepared_) InternalUnPrepare();
        if (GetCommand()->GetCursorState() == csExecuted) GetCommand()->SetCursorState(csInactive);
        throw;
    }
}

void TCRRecordSet::ExecuteOpen(bool disableInitFields) {
    ExecCommand();
    if (!disableInitFields && (!prepared_ || fields_.Count() == 0 || RequireReinitFields())) InitFields();
    if (FFetchAll) {
        FetchAll();
    } else {
        Fetch(false);
    }
}

void TCRRecordSet::Prepare() {
    if (prepared_) return;
    TMemData::Prepare();
    if (FCommandType != ctCursor) return;
    try {
        InitFields();
        prepared_ = true;
    } catch (...) {
        prepared_ = false;
        InternalUnPrepare();
        throw;
    }
}

void TCRRecordSet::UnPrepare() {
    try {
        TMemData::UnPrepare();
    } catch (...) {
        TablesInfo().Clear();
        throw;
    }
    TablesInfo().Clear();
}

void TCRRecordSet::GetNextRecord(void* recBuf) {
    if (Eof()) return;
    PItemHeader candidate;
    if (!FirstItem) {
        if (!Fetch(false)) {
            CurrentItem = nullptr;
            eof_ = true;
            return;
        }
        candidate = FirstItem;
    } else {
        candidate = CurrentItem ? ItemHeader::Next(CurrentItem) : FirstItem;
    }
    while (true) {
        if (!candidate) {
            PItemHeader last = LastItem;
            if (!Fetch(false)) {
                CurrentItem = nullptr;
                eof_ = true;
                return;
            }
            if (FUniDirectional || CanFetchBack()) {
                if (FirstItem) ItemHeader::SetPrev(FirstItem, nullptr);
                if (LastItem) ItemHeader::SetNext(LastItem, nullptr);
            }
            // A unidirectional fetch replaced the rows held before.
            candidate = (!last || FUniDirectional || !IsLiveItem(last)) ? FirstItem : ItemHeader::Next(last);
            if (!candidate) continue;
        }
        if (IsFilteredOut(candidate)) {
            candidate = ItemHeader::Next(candidate);
            continue;
        }
        CurrentItem = candidate;
        bof_ = eof_ = false;
        if (recBuf) GetRecord(recBuf);
        return;
    }
}

void TCRRecordSet::GetPriorRecord(void* recBuf) {
    if (FUniDirectional) {
        bof_ = true;
        CurrentItem = nullptr;
        return;
    }
    if (!CanFetchBack()) {
        TMemData::GetPriorRecord(recBuf);
        return;
    }
    if (Bof()) return;
    PItemHeader candidate;
    if (!FirstItem) {
        if (!Fetch(true)) {
            CurrentItem = nullptr;
            bof_ = true;
            return;
        }
        candidate = LastItem;
    } else {
        candidate = CurrentItem ? ItemHeader::Prev(CurrentItem) : LastItem;
    }
    while (true) {
        if (!candidate) {
            PItemHeader first = FirstItem;
            if (!Fetch(true)) {
                bof_ = true;
                CurrentItem = nullptr;
                return;
            }
            if (FirstItem) ItemHeader::SetPrev(FirstItem, nullptr);
            if (LastItem) ItemHeader::SetNext(LastItem, nullptr);
            candidate = (first && IsLiveItem(first)) ? ItemHeader::Prev(first) : LastItem;
            if (!candidate) continue;
        }
        if (IsFilteredOut(candidate)) {
            candidate = ItemHeader::Prev(candidate);
            continue;
        }
        CurrentItem = candidate;
        bof_ = eof_ = false;
        if (recBuf) GetRecord(recBuf);
        return;
    }
}

void TCRRecordSet::FilterUpdated() {
    TCursorState state = GetCommand()->GetCursorState();
    bool moreRows = state != csInactive && state < csFetched;
    TMemData::FilterUpdated();
    eof_ = eof_ && !moreRows;
}

void TCRRecordSet::SetSortDefaults(TSortColumn* column) {
    TMemData::SetSortDefaults(column);
    if (FCommand && FCommand->GetConnection())
        column->SortType = FCommand->GetConnection()->DefaultSortType();
}

void TCRRecordSet::SortItems() {
    if (!HasSortColumns()) return;
    FetchAll();
    TMemData::SortItems();
}

bool TCRRecordSet::SetProp(int prop, const rtl::Variant& value) {
    switch (prop) {
        case prUniDirectional:
            FUniDirectional = value.AsBoolean();
            if (FUniDirectional) FFetchAll = false;
            return true;
        case prFetchRows:
            FFetchRows = value.AsInteger();
            return true;
        case prFetchAll:
            if (!FLockFetchAll) FFetchAll = value.AsBoolean() && !FUniDirectional;
            return true;
        case prLongStrings:
            FLongStrings = value.AsBoolean();
            return true;
        case prEnableEmptyStrings:
            KeepEmptyStrings = value.AsBoolean();
            return true;
        case prFlatBuffers:
            FFlatBuffers = value.AsBoolean();
            return true;
        case prIndexFieldNames:
            ChangeIndexFieldNames(value.AsString());
            return true;
        case prCompressBlobMode:
            GetCommand()->SetCompressBlobMode(static_cast<uint8_t>(value.AsInteger() & 0xFF));
            return true;
        case prDataSetReadOnly:
            return true;
        case prLockFetchAll:
            FLockFetchAll = value.AsBoolean();
            return true;
        case prExtendedFieldsInfo:
            FExtendedFieldsInfo = value.AsBoolean();
            return true;
        case prDefaultValues:
            FDefaultValues = value.AsBoolean();
            return true;
        case prFieldsOrigin:
            FFieldsOrigin = value.AsBoolean();
            return true;
        default:
            UnknownProp(prop);
    }
}

bool TCRRecordSet::GetProp(int prop, rtl::Variant& value) {
    switch (prop) {
        case prFetchAll:
            value = FFetchAll;
            return true;
        case prExtendedFieldsInfo:
            value = FExtendedFieldsInfo;
            return true;
        case prDefaultValues:
            value = FDefaultValues;
            return true;
        case prFieldsOrigin:
            value = FFieldsOrigin;
            return true;
        default:
            UnknownProp(prop);
    }
}

}  // namespace dac
