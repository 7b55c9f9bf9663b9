// TOCIRecordSet cursor columns: a query's CURSOR(...) items give every row a cursor of its own,
// opened by the server when the row is fetched and read by another record set.
#include <cstring>

#include "dataaccess/oracle/OraClasses.h"

namespace dac {

namespace {

bool IsCursorField(const TFieldDesc* f) {
    return !f->HasParent() && f->Kind == 0 && f->DataType == dtCursor;
}

}  // namespace

void TOCIRecordSet::CreateCursorFields(void* recBuf) {
    for (int i = 0; i < fields_.Count(); ++i) {
        TFieldDesc* f = fields_[i];
        if (!IsCursorField(f)) continue;
        auto* cursor = new TOraCursor();
        cursor->SetCallStyle(OraCommand()->CallStyle());
        // TOraCursor::GetHandle answers the statement; the record keeps the object's handle.
        SetPlacePointer(f, recBuf, static_cast<TSharedObject*>(cursor)->GetHandle());
    }
}

void TOCIRecordSet::FreeCursorFields(void* recBuf) {
    FreeSharedFields(recBuf, IsCursorField);
}

void TOCIRecordSet::CopyCursorFields(void* source, void* dest) {
    for (int i = 0; i < fields_.Count(); ++i) {
        TFieldDesc* f = fields_[i];
        if (!IsCursorField(f)) continue;
        TSharedObject* from = TSharedObject::FromHandle(PlacePointer(f, source));
        TSharedObject* to = TSharedObject::FromHandle(PlacePointer(f, dest));
        if (from == to) continue;
        if (from) from->AddRef();
        if (to) to->Release();
        SetPlacePointer(f, dest, from ? from->GetHandle() : nullptr);
    }
}

// Every staged cell holds a statement handle before the fetch; a row that takes its handle leaves
// the cell empty, and the next stage fills it with a new one.
void TOCIRecordSet::StageCursorHandles(int rows) {
    if (FEntryOffsets.empty()) return;
    OCIEnv* env = ValueEnvironment();
    for (int i = 0; i < fields_.Count(); ++i) {
        const int32_t entry = FEntryOffsets[static_cast<size_t>(i)];
        if (entry < 0 || !IsCursorField(fields_[i])) continue;
        for (int k = 0; k < rows; ++k) {
            uint8_t* cell = FFetchBuffer.data() +
                            static_cast<size_t>(k) * static_cast<size_t>(FFetchBufferRowSize) + entry;
            OCIStmt* handle = nullptr;
            std::memcpy(&handle, cell, sizeof handle);
            if (handle) continue;
            if (OCIHandleAlloc(env, reinterpret_cast<void**>(&handle), OCI_HTYPE_STMT, 0, nullptr) !=
                OCI_SUCCESS)
                throw rtl::Exception("Cursor is not allocated");
            std::memcpy(cell, &handle, sizeof handle);
        }
    }
}

void TOCIRecordSet::PrepareCursorEntries(void* recBuf, uint8_t* conversionRow) {
    for (int i = 0; i < fields_.Count(); ++i) {
        const int32_t entry = FEntryOffsets[static_cast<size_t>(i)];
        TFieldDesc* f = fields_[i];
        if (entry < 0 || !IsCursorField(f)) continue;
        auto* cursor = dynamic_cast<TOraCursor*>(TSharedObject::FromHandle(PlacePointer(f, recBuf)));
        OCIStmt* handle = nullptr;
        if (cursor) {
            if (!cursor->GetHandle()) {
                cursor->EnvironmentHandle = ValueEnvironment();
                cursor->UnicodeEnvironment = FOracleConnection && FOracleConnection->UnicodeEnv();
            }
            cursor->ErrorHandle = OCIErrorHandle();
            handle = cursor->GetOCIStmt();
        }
        std::memcpy(conversionRow + entry, &handle, sizeof handle);
    }
}

void TOCIRecordSet::TakeCursorHandle(void* recBuf, TFieldDesc* f, uint8_t* entry) {
    OCIStmt* handle = nullptr;
    std::memcpy(&handle, entry, sizeof handle);
    auto* cursor = dynamic_cast<TOraCursor*>(TSharedObject::FromHandle(PlacePointer(f, recBuf)));
    if (!cursor || !handle) return;
    std::memset(entry, 0, sizeof handle);
    if (cursor->GetHandle() != handle) {
        cursor->FreeCursor();
        cursor->SetCallStyle(ocsOCI8);
        cursor->EnvironmentHandle = ValueEnvironment();
        cursor->UnicodeEnvironment = FOracleConnection && FOracleConnection->UnicodeEnv();
        cursor->ErrorHandle = OCIErrorHandle();
        cursor->SetHandle(handle);
    }
    cursor->State = csExecuted;
}

void TOCIRecordSet::FreeStagedCursors() {
    if (FEntryOffsets.empty() || FFetchBufferRowSize <= 0) return;
    const size_t rows = FFetchBuffer.size() / static_cast<size_t>(FFetchBufferRowSize);
    for (int i = 0; i < fields_.Count(); ++i) {
        const int32_t entry = FEntryOffsets[static_cast<size_t>(i)];
        if (entry < 0 || !IsCursorField(fields_[i])) continue;
        for (size_t k = 0; k < rows; ++k) {
            uint8_t* cell = FFetchBuffer.data() + k * static_cast<size_t>(FFetchBufferRowSize) + entry;
            OCIStmt* handle = nullptr;
            std::memcpy(&handle, cell, sizeof handle);
            if (handle) OCIHandleFree(handle, OCI_HTYPE_STMT);
            std::memset(cell, 0, sizeof handle);
        }
    }
}

}  // namespace dac
