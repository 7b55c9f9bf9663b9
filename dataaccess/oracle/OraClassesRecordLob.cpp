// TOCIRecordSet LOB and BFILE columns: the per-row value objects, their locators in the fetch and
// the content read after it.
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
