// TOCIRecordSet: finding the result cursor, describing it, opening, block fetching into the
// record list and closing.
#include <cstring>

#include "dataaccess/oracle/OraClasses.h"

namespace dac {

namespace {

const char* const SNotRows = "SQL statement doesn't return rows";

void MarkUsed(PItemHeader item, PBlockHeader block) {
    ItemHeader::SetBlock(item, block);
    ItemHeader::SetFlag(item, ItemUsed);
    ItemHeader::SetRollback(item, nullptr);
    ItemHeader::SetStatus(item, 0);
    ItemHeader::SetUpdateResult(item, 5);
    ItemHeader::SetFilterResult(item, 0);
    PokePacked<uint8_t>(item, ItemHeader::ofsReserved, 0);
    ItemHeader::SetSerial(item, 0);
}

}  // namespace

TOCIRecordSet::TOCIRecordSet() {
    FFetchRows = 25;
}

TOCIRecordSet::~TOCIRecordSet() {
    // A destroyed record set runs no completion: its workers are stopped and their end
    // messages dropped before anything else goes.
    try {
        FinishBackground(false);
    } catch (...) {
    }
    try {
        Close();
    } catch (...) {
    }
    FreeFetchBuffer();
}

void TOCIRecordSet::CreateCommand() {
    SetCommand(new TOCICommand());
}

void TOCIRecordSet::SetCommand(TCRCommand* value) {
    TCRRecordSet::SetCommand(value);
    FOraCommand = dynamic_cast<TOCICommand*>(value);
    FOracleConnection = FOraCommand ? FOraCommand->OracleConnection() : nullptr;
}

void TOCIRecordSet::SetConnection(TCRConnection* value) {
    TCRRecordSet::SetConnection(value);
    FOracleConnection = dynamic_cast<TOCIConnection*>(value);
}

bool TOCIRecordSet::IsNonBlocking() {
    return OraCommand()->NonBlocking();
}

bool TOCIRecordSet::CanFetchBack() {
    auto* cursor = dynamic_cast<TOraCursor*>(OraCommand()->GetCursor());
    return cursor && cursor->Scrollable;
}

bool TOCIRecordSet::NeedFullReopen() {
    return !OraCommand()->IsOwnCursor();
}

bool TOCIRecordSet::IsQuery() {
    if (FCommandType != ctUnknown) return TCRRecordSet::IsQuery();
    return OraCommand()->IsCursorOpen();
}

bool TOCIRecordSet::SetProp(int prop, const rtl::Variant& value) {
    switch (prop) {
        case prFetchRows:
            FreeFetchBuffer();
            return TCRRecordSet::SetProp(prop, value);
        case prFieldsAsString:
            return OraCommand()->SetProp(prop, value);
        case prAutoClose:
            AutoClose = value.AsBoolean();
            return true;
        case prDeferredLobRead:
            DeferredLobRead = value.AsBoolean();
            return true;
        default:
            return TCRRecordSet::SetProp(prop, value);
    }
}

bool TOCIRecordSet::GetProp(int prop, rtl::Variant& value) {
    switch (prop) {
        case prRowsFetched:
            value = OraCommand()->FetchedRows();
            return true;
        case prAutoClose:
            value = AutoClose;
            return true;
        case prDeferredLobRead:
            value = DeferredLobRead;
            return true;
        case prHasObjectFields:
            value = FHasObjectFields;
            return true;
        default:
            return TCRRecordSet::GetProp(prop, value);
    }
}

// ---------------------------------------------------------------------------------------------
// The result cursor

void TOCIRecordSet::FindResultCursor() {
    TOCICommand* command = OraCommand();
    FResultCursor = static_cast<TOraCursor*>(command->GetCursor());
    if (!command->IsOwnCursor() || command->SQLType() != SQL_PLSQL) return;
    FResultCursor = nullptr;
    for (int i = 0; i < command->GetParamCount(); ++i) {
        TOraParamDesc* param = command->GetParam(i);
        if (param->GetDataType() != dtCursor) continue;
        TOraCursor* cursor = param->GetAsCursor();
        if (cursor && cursor->GetHandle()) {
            ub4 state = OCI_STMT_STATE_EXECUTED;
            if (OCIVersion >= 9100 && OCIAttrGet(cursor->GetHandle(), OCI_HTYPE_STMT, &state, nullptr,
                                                 OCI_ATTR_STMT_STATE, OCIErrorHandle()) != OCI_SUCCESS)
                continue;
            if (state != OCI_STMT_STATE_EXECUTED) continue;
        }
        FResultCursor = cursor;
        return;
    }
}

void TOCIRecordSet::DetectCommandType() {
    TOCICommand* command = OraCommand();
    const uint16_t type = command->SQLType();
    if (type == SQL_UNKNOWN && command->IsOwnCursor())
        FCommandType = ctUnknown;
    else if (type == SQL_SELECT || command->IsCursorOpen() || (type == SQL_PLSQL && FResultCursor))
        FCommandType = ctCursor;
    else
        FCommandType = ctStatement;
}

void TOCIRecordSet::InternalPrepare() {
    if (OraCommand()->IsOwnCursor()) OraCommand()->Prepare();
    FindResultCursor();
    DetectCommandType();
}

void TOCIRecordSet::InternalUnPrepare() {
    TOCICommand* command = OraCommand();
    if (!command->IsOwnCursor()) {
        TOraCursor* foreign = FResultCursor;
        try {
            if (command->GetActive()) command->InternalUnPrepare();
        } catch (...) {
            command->SetCursor(nullptr);
            throw;
        }
        command->SetCursor(nullptr);
        (void)foreign;
    }
    if (command->GetActive()) command->UnPrepare();
    FResultCursor = nullptr;
    FCommandType = ctUnknown;
}

// ---------------------------------------------------------------------------------------------
// Describing

void TOCIRecordSet::InternalInitFields() {
    TCRRecordSet::InternalInitFields();
    TOCICommand* command = OraCommand();
    const TCursorState oldState = command->GetCursorState();
    TCRCursor* oldCursor = command->GetCursor();
    bool describeOnly = false;
    auto restore = [&] {
        if (command->GetCursor() != oldCursor) command->SetCursor(oldCursor);
        if (describeOnly) {
            if (oldState == csInactive)
                command->UnPrepare();
            else
                command->SetCursorState(oldState);
        }
    };
    try {
        if (command->IsOwnCursor()) {
            if (command->GetCursorState() == csInactive) {
                command->Prepare();
                describeOnly = true;
            }
            FindResultCursor();
            if (command->SQLType() == SQL_SELECT) {
                if (command->GetCursorState() < csExecuted) {
                    if (command->GetCursorState() < csBound) command->BindParams();
                    command->InternalExecute(OCI_DESCRIBE_ONLY, 0);
                    describeOnly = true;
                }
            } else if (command->SQLType() == SQL_PLSQL && FResultCursor &&
                       FResultCursor->State >= csExecuted) {
                // A block is described only through the cursor its own run returned: describing
                // never runs it a second time.
                command->SetCursor(FResultCursor);
            } else {
                if (command->SQLType() == SQL_PLSQL) FCommandType = ctStatement;
                restore();
                return;
            }
        } else {
            FindResultCursor();
            if (!FResultCursor || FResultCursor->State < csExecuted)
                throw rtl::Exception("Cursor must be opened");
        }
        FNeedsConversion = false;
        FHasObjectFields = false;
        for (int column = 1;; ++column) {
            auto field = std::make_unique<TOCIFieldDesc>();
            if (!command->DescribeField(column, *field, FLongStrings, FFlatBuffers)) break;
            const TDataType t = field->DataType;
            if (t == dtUndefined || t == dtLabel) throw rtl::Exception("Data type is not supported");
            field->ActualName = field->Name;
            field->FieldNo = static_cast<uint16_t>(fields_.Count() + 1);
            if (t == dtLargeint || t == dtBCD || t == dtFmtBcd || t == dtSQLTimeStamp)
                FNeedsConversion = true;
            TFieldDesc* added = field.release();
            fields_.Add(added);
            if (t == dtObject || t == dtArray || t == dtTable || t == dtReference || t == dtXML)
                FHasObjectFields = true;
            // A nested table's elements are rows of their own, not child fields.
            if (t == dtObject || t == dtArray) InitObjectFields(added->ObjectType(), added);
        }
        FindLongFields();
        ParseOwnTablesInfo();
    } catch (...) {
        try {
            restore();
        } catch (...) {
        }
        throw;
    }
    restore();
}

// The tables the statement reads, as its text names them; names are compared exactly, as the
// describe gives them. A text the parser cannot follow leaves the list empty.
void TOCIRecordSet::ParseOwnTablesInfo() {
    TCRTablesInfo& tables = TablesInfo();
    tables.Clear();
    TOCICommand* command = OraCommand();
    if (!command->SQL().empty()) {
        try {
            command->SQLInfo()->ParseTablesInfo(command->SQL(), tables);
        } catch (const rtl::Exception&) {
            tables.Clear();
        }
    }
    tables.SetCaseSensitive(true);
}

// ---------------------------------------------------------------------------------------------
// Opening

void TOCIRecordSet::InternalOpen(bool disableInitFields) {
    FEndReached = false;
    FFirstRowNo = FLastRowNo = 0;
    FLastFetchBack = false;
    FDefinedBlock = nullptr;
    TCRRecordSet::InternalOpen(disableInitFields);
}

void TOCIRecordSet::ExecuteOpen(bool disableInitFields) {
    FDisableInitFields = disableInitFields;
    if (!IsNonBlocking()) {
        StringHeap().SetThreadSafety(false);
        try {
            DoExecuteOpen();
        } catch (rtl::Exception& e) {
            EndExecuteOpen(&e);
            throw;
        }
        EndExecuteOpen(nullptr);
        return;
    }
    if (!FOracleConnection || !FOracleConnection->ThreadSafety())
        throw rtl::Exception("Session must be Thread Safety");
    rtl::Assert(!FExecThread && !FFetchThread,
                "OraClasses: background work of the record set is still going");
    StringHeap().SetThreadSafety(true);
    // The fields are described here; a block is described only after it ran, on the worker.
    TOCICommand* command = OraCommand();
    if (!disableInitFields && !(command->IsOwnCursor() && command->SQLType() == SQL_PLSQL)) {
        InitFields();
        FDisableInitFields = fields_.Count() > 0;
    }
    FOwnerWindow = UtilityWindow();
    SetFetchEvent(false, false);
    FExecThread = FOracleConnection->RunThread(
        [this] {
            FWorkerThreadId = rtl::GetCurrentThreadId();
            SetFetchEvent(false, true);
            try {
                DoExecuteOpen();
            } catch (...) {
                SetFetchEvent(true, false);
                throw;
            }
            SetFetchEvent(true, false);
        },
        [this](rtl::Exception* error) { EndExecuteOpen(error); });
}

void TOCIRecordSet::DoExecuteOpen() {
    TOCICommand* command = OraCommand();
    if (command->IsOwnCursor() && command->GetCursorState() < csExecuted) ExecCommand();
    if (!IsQuery()) throw rtl::Exception(SNotRows);
    if (!FDisableInitFields) {
        InitFields();
        if (!IsQuery()) throw rtl::Exception(SNotRows);
    }
    if (CanFetchBack()) {
        if (OCIVersion < 9000) throw rtl::Exception("Need Oracle 9 Call Interface");
        FPieceFetch = true;
        BlockManager().ItemsPerBlock = static_cast<uint16_t>(FFetchRows);
    } else {
        FPieceFetch = false;
    }
    if (FResultCursor && command->GetCursor() != FResultCursor) command->SetCursor(FResultCursor);
    // In the background the first block comes with the open.
    if (IsNonBlocking() && !FFetchAll) Fetch(false);
}

void TOCIRecordSet::EndExecuteOpen(rtl::Exception* error) {
    const bool background = FExecThread != nullptr;
    FExecThread = nullptr;
    if (background) FWorkerThreadId = 0;
    if (OnAfterExecute) OnAfterExecute(error == nullptr);
    if (error || FClosing) return;
    if (FFetchAll && OraCommand()->GetCursorState() < csFetched) FetchAll();
    if (!background) return;
    if (!FFetchThread && HasSortColumns()) SortItems();
    if (FHasPendingFilter) {
        FHasPendingFilter = false;
        TCRRecordSet::SetFilterText(FPendingFilter);
        FilterUpdated();
        if (OnDataChanged) OnDataChanged();
    }
}

void TOCIRecordSet::ExecCommand() {
    TOCICommand* command = OraCommand();
    auto execute = [&] {
        if (IsNonBlocking() && FWorkerThreadId == rtl::GetCurrentThreadId()) {
            command->ExecuteOnThisThread(1);
            FFetchCancel = false;
        } else {
            TCRRecordSet::ExecCommand();
        }
    };
    bool preparedHere = false;
    if (FCommandType != ctCursor && !prepared_ && !command->GetPrepared()) {
        command->Prepare();
        preparedHere = true;
    }
    try {
        execute();
        FindResultCursor();
        DetectCommandType();
    } catch (...) {
        if (FCommandType != ctCursor && preparedHere && command->GetPrepared()) command->UnPrepare();
        throw;
    }
    if (FCommandType != ctCursor && preparedHere && command->GetPrepared()) command->UnPrepare();
}

void TOCIRecordSet::Reopen() {
    if (IsNonBlocking() && OraCommand()->IsOwnCursor()) {
        // The completions that end these waits arrive as messages of this thread.
        while (FExecThread) rtl::WaitAndProcessMessages(10);
        while (FFetchThread) {
            FBreakFetch = true;
            rtl::WaitAndProcessMessages(10);
        }
    }
    if (!OraCommand()->IsOwnCursor()) {
        if (OraCommand()->SQLType() == SQL_UNKNOWN) throw rtl::Exception("Reopen is not allowed");
        Close();
        Open();
        return;
    }
    FreeData();
    InitData();
    if (OnDataChanged) OnDataChanged();
    InternalOpen(true);
}

void TOCIRecordSet::InternalClose() {
    FinishBackground(true);
    TOCICommand* command = OraCommand();
    if (!command->IsOwnCursor()) {
        if (command->GetActive()) command->InternalUnPrepare();
        command->SetCursor(nullptr);
    }
    if (command->GetCursorState() > csPrepared) command->SetCursorState(csPrepared);
    FEndReached = false;
    FDefinedBlock = nullptr;
    FreeFetchBuffer();
    if (!prepared_) InternalUnPrepare();
}

// ---------------------------------------------------------------------------------------------
// Fetching

bool TOCIRecordSet::Fetch(bool fetchBack) {
    if (FWorkerThreadId != rtl::GetCurrentThreadId() && FFetchThread) return WaitForWorkerRows();
    TOCICommand* command = OraCommand();
    const TCursorState state = command->GetCursorState();
    if (state == csInactive || state == csFetched) return false;
    bool cancel = false;
    DoBeforeFetch(cancel);
    if (cancel) {
        if (AutoClose) command->FinishFetch();
        return false;
    }
    bool result = false;
    try {
        result = (FPieceFetch || OCILite) ? FetchPiece(fetchBack) : FetchArray(fetchBack);
    } catch (...) {
        eof_ = true;
        DoAfterFetch();
        throw;
    }
    DoAfterFetch();
    if (command->GetCursorState() == csFetched && AutoClose) {
        const uint8_t type = FCommandType;
        InternalUnPrepare();
        FCommandType = type;
        prepared_ = false;
    }
    return result;
}

void TOCIRecordSet::AllocFetchBuffer() {
    FEntryOffsets.assign(static_cast<size_t>(fields_.Count()), -1);
    FFetchBufferRowSize = 0;
    for (int i = 0; i < fields_.Count(); ++i) {
        TFieldDesc* f = fields_[i];
        if (f->HasParent() || f->Kind != 0 || !NeedsConversionEntry(*f)) continue;
        FEntryOffsets[static_cast<size_t>(i)] = FFetchBufferRowSize;
        FFetchBufferRowSize += ConversionEntrySize(*f);
    }
    FFetchBuffer.assign(static_cast<size_t>(FFetchBufferRowSize) * static_cast<size_t>(FFetchRows), 0);
}

void TOCIRecordSet::FreeFetchBuffer() {
    FreeStagedCursors();
    FreeStagedLobs();
    FreeStagedValues();
    FreeStagedLongs();
    FFetchBuffer.clear();
    FFetchBuffer.shrink_to_fit();
    FEntryOffsets.clear();
    FStageBuffer.clear();
    FStageBuffer.shrink_to_fit();
    FDefinedBlock = nullptr;
}

void TOCIRecordSet::DefineBlock(PItemHeader firstItem) {
    TOCICommand* command = OraCommand();
    const ub4 stride = static_cast<ub4>(BlockManager().ItemSize());
    void* rec = ItemRecord(firstItem);
    for (int i = 0; i < fields_.Count(); ++i) {
        TFieldDesc* f = fields_[i];
        if (f->HasParent() || f->Kind != 0) continue;
        if (IsLongField(*f)) {
            DefineLongField(i);
            continue;
        }
        const int32_t entry = FEntryOffsets.empty() ? -1 : FEntryOffsets[static_cast<size_t>(i)];
        void* value = entry >= 0 ? FFetchBuffer.data() + entry : static_cast<uint8_t*>(rec) + f->Offset;
        const ub4 valueSkip = entry >= 0 ? static_cast<ub4>(FFetchBufferRowSize) : stride;
        command->DefineArrayData(*f, value, stride, valueSkip,
                                 static_cast<int16_t*>(IndicatorPlace(rec, i + 1)));
    }
}

// The defines point at a stage of FetchRows items laid out as a block's items; they are made once
// per open, and each block takes its rows from the stage with one copy.
PItemHeader TOCIRecordSet::StageItems() {
    TBlockManager& blocks = BlockManager();
    const size_t size = blocks.ItemSize() * static_cast<size_t>(FFetchRows);
    if (FStageBuffer.size() != size || !FDefinedBlock) {
        FStageBuffer.assign(size, 0);
        FDefinedBlock = nullptr;
    }
    auto* first = reinterpret_cast<PItemHeader>(FStageBuffer.data());
    if (!FDefinedBlock) {
        DefineBlock(first);
        FDefinedBlock = reinterpret_cast<PBlockHeader>(FStageBuffer.data());
    }
    return first;
}

void TOCIRecordSet::FreeBlockComplex(PBlockHeader block, int from, int to) {
    if (!hasComplexFields_) return;
    for (int i = from; i < to; ++i) FreeComplexFields(ItemRecord(BlockManager().BlockItem(block, i)), true);
}

void TOCIRecordSet::LinkBlockItems(PItemHeader first, int count, bool backward) {
    const size_t stride = BlockManager().ItemSize();
    auto itemAt = [&](int k) {
        return reinterpret_cast<PItemHeader>(reinterpret_cast<uint8_t*>(first) +
                                             static_cast<size_t>(k) * stride);
    };
    if (!backward) {
        int32_t order = LastItem ? ItemHeader::Order(LastItem) : 0;
        for (int k = 0; k < count; ++k) {
            PItemHeader item = itemAt(k);
            ItemHeader::SetPrev(item, k == 0 ? LastItem : itemAt(k - 1));
            ItemHeader::SetNext(item, k + 1 < count ? itemAt(k + 1) : nullptr);
            ItemHeader::SetOrder(item, ++order);
            AssignSerial(item);
        }
        if (LastItem) ItemHeader::SetNext(LastItem, first);
        if (!FirstItem) FirstItem = first;
        LastItem = itemAt(count - 1);
    } else {
        int32_t order = FirstItem ? ItemHeader::Order(FirstItem) : recordCount_ + count + 1;
        for (int k = count - 1; k >= 0; --k) {
            PItemHeader item = itemAt(k);
            ItemHeader::SetNext(item, k == count - 1 ? FirstItem : itemAt(k + 1));
            ItemHeader::SetPrev(item, k > 0 ? itemAt(k - 1) : nullptr);
            ItemHeader::SetOrder(item, --order);
            AssignSerial(item);
        }
        if (FirstItem) ItemHeader::SetPrev(FirstItem, itemAt(count - 1));
        if (!LastItem) LastItem = itemAt(count - 1);
        FirstItem = first;
    }
    DropRecordNoCache();
}

bool TOCIRecordSet::FetchArray(bool fetchBack) {
    TOCICommand* command = OraCommand();
    if (fetchBack) return false;  // block fetching reads forward; scrollable cursors go row by row
    if (command->GetCursorState() <= csPrepared) return false;
    TBlockManager& blocks = BlockManager();
    const bool converting = hasComplexFields_ || FNeedsConversion;
    if (converting && FFetchBuffer.empty()) {
        AllocFetchBuffer();
        FDefinedBlock = nullptr;
    }
    PItemHeader stage = StageItems();
    int rows = FFetchRows;
    if (FEndReached && command->FetchedRows() > FLastRowNo)
        rows = std::min(FFetchRows, command->FetchedRows() - FLastRowNo);
    if (converting) {
        StageLobLocators(rows);
        StageValueDescriptors(rows);
        StageObjectCells(rows);
        StageCursorHandles(rows);
    }
    FLongRecord = nullptr;
    int fetched = 0;
    try {
        fetched = command->Fetch(static_cast<ub4>(rows), OCI_FETCH_NEXT, 0);
    } catch (...) {
        FDefinedBlock = nullptr;
        FreeStagedLongs();  // pieces of a failed fetch must not reach the next rows
        throw;
    }
    FLastRowNo += fetched;
    FLastFetchBack = false;
    if (fetched == 0) {
        FreeFetchBuffer();
        FEndReached = true;
        return false;
    }

    PBlockHeader block = nullptr;
    bool newBlock = true;
    if (FUniDirectional && blocks.FirstBlock) {
        // A unidirectional record set keeps one block: its rows are replaced.
        block = blocks.FirstBlock;
        newBlock = false;
        for (PItemHeader i = FirstItem; i; i = ItemHeader::Next(i)) ClearItemSerial(i);
        FreeBlockComplex(block, 0, BlockHeader::UsedItems(block));
        FirstItem = LastItem = CurrentItem = nullptr;
        BlockHeader::SetUsedItems(block, static_cast<uint16_t>(FFetchRows));
    } else {
        blocks.AllocBlock(block, static_cast<uint16_t>(FFetchRows));
    }
    PItemHeader first = blocks.BlockItem(block, 0);
    std::memcpy(first, stage, blocks.ItemSize() * static_cast<size_t>(fetched));
    int created = 0;
    try {
        for (int k = 0; k < fetched; ++k) {
            PItemHeader item = blocks.BlockItem(block, k);
            MarkUsed(item, block);
            if (hasComplexFields_) {
                CreateComplexFields(ItemRecord(item), true);
                ++created;
                if (!FStagedLobs.empty()) TakeStagedLobs(ItemRecord(item), k);
                if (!FLongFields.empty()) TakeStagedLongs(ItemRecord(item), k);
            }
        }
        if (converting)
            for (int k = 0; k < fetched; ++k)
                ConvertRow(
                    ItemRecord(blocks.BlockItem(block, k)),
                    FFetchBuffer.data() + static_cast<size_t>(k) * static_cast<size_t>(FFetchBufferRowSize));
    } catch (...) {
        FreeBlockComplex(block, 0, created);
        blocks.FreeBlock(block);
        if (!newBlock) FirstItem = LastItem = CurrentItem = nullptr;
        throw;
    }
    {
        // A reader on the owning thread may be looking at the end of the list.
        std::lock_guard<std::mutex> lock(FFetchLock);
        LinkBlockItems(first, fetched, false);
        RecalcItemsFields(first, LastItem);
        recordCount_ += fetched;
    }
    if (fetched < FFetchRows) {
        FEndReached = true;
        // The spare items go to the free list at once.
        for (int k = fetched; k < FFetchRows; ++k) {
            PItemHeader item = blocks.BlockItem(block, k);
            MarkUsed(item, block);
            blocks.FreeItem(item);
        }
        if (command->GetCursorState() == csFetched || command->GetCursorState() == csInactive)
            FreeFetchBuffer();
    }
    return true;
}

void TOCIRecordSet::FetchAll() {
    TOCICommand* command = OraCommand();
    const TCursorState state = command->GetCursorState();
    if (state >= csFetchingAll || state == csInactive) return;
    command->SetCursorState(state > csExecuteFetchAll ? csFetchingAll : csExecuteFetchAll);
    FBreakFetch = false;
    if (!IsNonBlocking() || FWorkerThreadId == rtl::GetCurrentThreadId()) {
        FetchAllLoop();
        return;
    }
    if (FClosing) return;
    if (!FOracleConnection || !FOracleConnection->ThreadSafety())
        throw rtl::Exception("Session must be Thread Safety");
    if (FFetchThread) return;
    StringHeap().SetThreadSafety(true);
    FOwnerWindow = UtilityWindow();
    SetFetchEvent(false, false);
    FFetchAllRunning = true;  // before the start, so that a close sees the loop as running
    FFetchThread = FOracleConnection->RunThread([this] { FetchAllProc(); },
                                                [this](rtl::Exception* error) { EndFetchAll(error); });
}

void TOCIRecordSet::FetchAllLoop() {
    FBreakFetch = false;
    FFetchAllRunning = true;
    try {
        if (CanFetchBack()) {
            SetToEnd();
            Fetch(true);
        } else {
            while (true) {
                if (FBreakFetch) {
                    OraCommand()->FinishFetch();
                    break;
                }
                if (!Fetch(false)) break;
                if (IsNonBlocking()) SetFetchEvent(false, true);  // a block came
            }
        }
    } catch (...) {
        FFetchAllRunning = false;
        OraCommand()->SetCursorState(csInactive);
        throw;
    }
    FFetchAllRunning = false;
}

}  // namespace dac
