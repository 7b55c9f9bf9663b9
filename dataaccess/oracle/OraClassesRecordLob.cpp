// TOCIRecordSet LOB and BFILE columns: the per-row value objects, their locators in the fetch and
// the content read after it.
#include <algorithm>
#include <cstring>

#include "dataaccess/oracle/OraClasses.h"

namespace dac {

namespace {

bool CommandFlag(TCRCommand* command, int prop, bool fallback) {
    rtl::Variant v;
    return command && command->GetProp(prop, v) ? v.AsBoolean() : fallback;
}

}  // namespace

void TOCIRecordSet::CreateLobFields(void* recBuf) {
    TOCICommand* command = OraCommand();
    const bool cached = CommandFlag(command, prCacheLobs, true);
    TOCIConnection* connection = FOracleConnection;
    OCISvcCtx* svc = connection && connection->GetConnected() ? connection->GetSvcCtx() : nullptr;
    for (int i = 0; i < fields_.Count(); ++i) {
        TFieldDesc* f = fields_[i];
        if (f->HasParent() || f->Kind != 0 || !IsOraLobType(f->DataType)) continue;
        TOraLob* lob;
        if (f->DataType == dtBFile || f->DataType == dtCFile) {
            lob = new TOraFile(svc);
        } else {
            lob = new TOraLob(svc);
            if (f->DataType != dtOraBlob) {
                lob->LobType = f->SubDataType == dtNClob ? 2 : 1;
                lob->SetIsUnicode(f->DataType == dtWideOraClob || (connection && connection->UseUnicode()));
                if (connection) lob->CharLength = static_cast<uint8_t>(connection->CharLength());
            }
            lob->EnableRollback();
        }
        if (connection && svc) lob->SetConnection(connection);
        lob->AllocLob();
        lob->SetCached(cached);
        SetPlacePointer(f, recBuf, lob->GetHandle());
    }
}

void TOCIRecordSet::FreeLobFields(void* recBuf) {
    for (int i = 0; i < fields_.Count(); ++i) {
        TFieldDesc* f = fields_[i];
        if (f->HasParent() || f->Kind != 0 || !IsOraLobType(f->DataType)) continue;
        if (TSharedObject* obj = TSharedObject::FromHandle(PlacePointer(f, recBuf))) {
            const bool last = obj->RefCount() == 1;
            obj->Free();
            if (last) SetPlacePointer(f, recBuf, nullptr);
        }
    }
}

void TOCIRecordSet::PrepareLobEntries(void* recBuf, uint8_t* conversionRow) {
    for (int i = 0; i < fields_.Count(); ++i) {
        const int32_t entry = FEntryOffsets[static_cast<size_t>(i)];
        TFieldDesc* f = fields_[i];
        if (entry < 0 || !IsOraLobType(f->DataType)) continue;
        TOraLob* lob = dynamic_cast<TOraLob*>(TSharedObject::FromHandle(PlacePointer(f, recBuf)));
        OCILobLocator* locator = lob ? lob->GetOCILobLocator() : nullptr;
        std::memcpy(conversionRow + entry, &locator, sizeof locator);
    }
}

namespace {

bool IsFileType(TDataType t) {
    return t == dtBFile || t == dtCFile;
}

}  // namespace

void TOCIRecordSet::StageLobLocators(int rows) {
    if (FEntryOffsets.empty()) return;
    std::vector<int> columns;
    for (int i = 0; i < fields_.Count(); ++i)
        if (FEntryOffsets[static_cast<size_t>(i)] >= 0 && IsOraLobType(fields_[i]->DataType))
            columns.push_back(i);
    if (columns.empty()) return;
    const size_t n = columns.size();
    const size_t need = static_cast<size_t>(std::max(rows, FFetchRows)) * n;
    if (FStagedLobs.size() < need) FStagedLobs.resize(need);
    if (!OCIInitialized) InitOCI();
    OCIEnv* env = FOracleConnection && FOracleConnection->GetEnvironment()
                      ? FOracleConnection->GetEnvironment()
                      : OCIEnvHandle;
    for (int k = 0; k < rows; ++k) {
        uint8_t* row =
            FFetchBuffer.data() + static_cast<size_t>(k) * static_cast<size_t>(FFetchBufferRowSize);
        for (size_t j = 0; j < n; ++j) {
            const int i = columns[j];
            TStagedLob& cell = FStagedLobs[static_cast<size_t>(k) * n + j];
            if (!cell.Locator) {
                const ub4 type = IsFileType(fields_[i]->DataType) ? OCI_DTYPE_FILE : OCI_DTYPE_LOB;
                if (OCIDescriptorAlloc(env, reinterpret_cast<void**>(&cell.Locator), type, 0, nullptr) !=
                    OCI_SUCCESS) {
                    cell.Locator = nullptr;
                    throw rtl::Exception("Lob is not allocated");
                }
                cell.Type = type;
            }
            std::memcpy(row + FEntryOffsets[static_cast<size_t>(i)], &cell.Locator, sizeof cell.Locator);
        }
    }
}

void TOCIRecordSet::TakeStagedLobs(void* recBuf, int row) {
    size_t j = 0;
    size_t n = 0;
    for (int i = 0; i < fields_.Count(); ++i)
        if (FEntryOffsets[static_cast<size_t>(i)] >= 0 && IsOraLobType(fields_[i]->DataType)) ++n;
    for (int i = 0; i < fields_.Count(); ++i) {
        TFieldDesc* f = fields_[i];
        if (FEntryOffsets[static_cast<size_t>(i)] < 0 || !IsOraLobType(f->DataType)) continue;
        TStagedLob& cell = FStagedLobs[static_cast<size_t>(row) * n + j++];
        if (auto* lob = dynamic_cast<TOraLob*>(TSharedObject::FromHandle(PlacePointer(f, recBuf))))
            cell.Locator = lob->ExchangeLocator(cell.Locator);
    }
}

void TOCIRecordSet::FreeStagedLobs() {
    for (TStagedLob& cell : FStagedLobs)
        if (cell.Locator) OCIDescriptorFree(cell.Locator, cell.Type);
    FStagedLobs.clear();
}

void TOCIRecordSet::FinishLobFields(void* recBuf) {
    TOCICommand* command = OraCommand();
    const bool read = !DeferredLobRead && CommandFlag(command, prCacheLobs, true);
    const uint8_t compressMode = command ? command->CompressBlobMode() : 0;
    for (int i = 0; i < fields_.Count(); ++i) {
        TFieldDesc* f = fields_[i];
        if (f->HasParent() || f->Kind != 0 || !IsOraLobType(f->DataType)) continue;
        TOraLob* lob = dynamic_cast<TOraLob*>(TSharedObject::FromHandle(PlacePointer(f, recBuf)));
        if (!lob || GetIndicator(recBuf, i + 1) == -1) continue;
        lob->SetNeedRead(true);
        if (!read) continue;
        if (auto* file = dynamic_cast<TOraFile*>(lob)) {
            if (!file->GetExists()) {
                file->SetNeedRead(false);  // no file: nothing to read, the value is empty
                continue;
            }
            file->Open();
            try {
                file->ReadLob();
            } catch (...) {
                file->Close();
                throw;
            }
            file->Close();
            continue;
        }
        lob->ReadLob();
        if (f->DataType == dtOraBlob && (compressMode == 2 || compressMode == 3))
            lob->ExpandServerCompressed();
        if (f->DataType == dtOraBlob && (compressMode == 1 || compressMode == 3)) lob->SetCompressed(true);
    }
}

}  // namespace dac
