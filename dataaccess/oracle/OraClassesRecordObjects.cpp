// Object and collection values of TOCIRecordSet rows and of TOCICommand parameters: a value per
// row that takes the instance the fetch made, and parameters bound to their value's instance.
#include <cstring>

#include "dataaccess/oracle/OraClasses.h"

namespace dac {

namespace {

bool IsObjectField(const TFieldDesc* f) {
    return !f->HasParent() && f->Kind == 0 &&
           (f->DataType == dtObject || f->DataType == dtArray || f->DataType == dtTable ||
            f->DataType == dtReference || f->DataType == dtXML);
}

TOraObject* NewValue(TFieldDesc* f) {
    auto* type = static_cast<TOraType*>(f->ObjectType());
    if (f->DataType == dtReference) return new TOraRef(type);
    if (f->DataType == dtXML) return new TOraXML(type);
    if (f->DataType == dtArray) return new TOraArray(type);
    if (f->DataType == dtTable) return new TOraNestTable(type);
    return new TOraObject(type);
}

}  // namespace

void TOCIRecordSet::CreateObjectFields(void* recBuf) {
    TOCIConnection* connection = FOracleConnection;
    for (int i = 0; i < fields_.Count(); ++i) {
        TFieldDesc* f = fields_[i];
        if (!IsObjectField(f)) continue;
        if (!connection || !connection->GetConnected())
            throw rtl::Exception("Unsupported Disconnected mode type");
        auto* type = static_cast<TOraType*>(f->ObjectType());
        if (type && !type->Valid) type->Reattach(connection->GetSvcCtx());
        TOraObject* value = NewValue(f);
        value->SetOCISvcCtx(connection->GetSvcCtx());
        SetPlacePointer(f, recBuf, value->GetHandle());
    }
}

void TOCIRecordSet::FreeObjectFields(void* recBuf) {
    FreeSharedFields(recBuf, IsObjectField);
}

void TOCIRecordSet::FreeSharedFields(void* recBuf, bool (*which)(const TFieldDesc*)) {
    for (int i = 0; i < fields_.Count(); ++i) {
        TFieldDesc* f = fields_[i];
        if (!which(f)) continue;
        if (TSharedObject* obj = TSharedObject::FromHandle(PlacePointer(f, recBuf))) {
            const bool last = obj->RefCount() == 1;
            obj->Free();
            if (last) SetPlacePointer(f, recBuf, nullptr);
        }
    }
}

void TOCIRecordSet::CopyObjectFields(void* source, void* dest) {
    for (int i = 0; i < fields_.Count(); ++i) {
        TFieldDesc* f = fields_[i];
        if (!IsObjectField(f)) continue;
        auto* from = dynamic_cast<TOraObject*>(TSharedObject::FromHandle(PlacePointer(f, source)));
        auto* to = dynamic_cast<TOraObject*>(TSharedObject::FromHandle(PlacePointer(f, dest)));
        if (from && to && from != to) to->Assign(from);
    }
}

// The instances of the last fetch belong to the rows that took them: the next fetch makes new ones.
void TOCIRecordSet::StageObjectCells(int rows) {
    if (FEntryOffsets.empty()) return;
    for (int i = 0; i < fields_.Count(); ++i) {
        const int32_t entry = FEntryOffsets[static_cast<size_t>(i)];
        if (entry < 0 || !IsObjectField(fields_[i])) continue;
        for (int k = 0; k < std::max(rows, FFetchRows); ++k) {
            uint8_t* row =
                FFetchBuffer.data() + static_cast<size_t>(k) * static_cast<size_t>(FFetchBufferRowSize);
            std::memset(row + entry, 0, sizeof(void*));
        }
    }
}

void TOCIRecordSet::TakeObjectInstances(void* recBuf, uint8_t* conversionRow) {
    for (int i = 0; i < fields_.Count(); ++i) {
        const int32_t entry = FEntryOffsets[static_cast<size_t>(i)];
        TFieldDesc* f = fields_[i];
        if (entry < 0 || !IsObjectField(f)) continue;
        void* instance = nullptr;
        std::memcpy(&instance, conversionRow + entry, sizeof instance);
        std::memset(conversionRow + entry, 0, sizeof instance);
        auto* value = dynamic_cast<TOraObject*>(TSharedObject::FromHandle(PlacePointer(f, recBuf)));
        if (auto* ref = dynamic_cast<TOraRef*>(value)) {
            // The row keeps the REF the fetch made; its indicator came with the fetch.
            if (!instance) continue;
            ref->SetOCIRef(static_cast<OCIRef*>(instance));
            ref->SetOwnsRef(true);
            continue;
        }
        if (!value || !instance) continue;
        if (auto* xml = dynamic_cast<TOraXML*>(value)) {
            // The server value becomes text at once; the instance goes with its stream.
            xml->SetInstance(instance);
            xml->NativeInstance = true;
            void* ind = nullptr;
            xml->Check(OCIObjectGetInd(xml->hEnv, xml->hError, instance, &ind));
            xml->SetIndicator(ind);
            xml->ReadXML();
            SetIndicator(recBuf, i + 1, xml->GetIsNull() ? -1 : 0);
            continue;
        }
        value->SetInstance(instance);
        value->NativeInstance = true;
        value->Check(OCIObjectGetInd(value->hEnv, value->hError, instance, value->GetIndicatorPtr()));
        if (FOracleConnection && FOracleConnection->KeepObjectTypes()) value->Cached = true;
        SetIndicator(recBuf, i + 1, 0);
    }
}

// ---------------------------------------------------------------------------------------------
// Parameters

void TOCICommand::BindObjectParam(TOraParamDesc* param, const AnsiString& name) {
    auto* value = dynamic_cast<TOraObject*>(param->GetObject());
    if (auto* ref = dynamic_cast<TOraRef*>(value)) {
        BindRefParam(param, ref, name);
        return;
    }
    if (auto* xml = dynamic_cast<TOraXML*>(value)) {
        // The type comes from the session; a null value goes without an instance of its own.
        xml->hError = ErrorHandle();
        xml->SetOCISvcCtx(SvcCtx());
        xml->CheckType();
        if (xml->GetIsNull()) xml->FreeObject(true);
    }
    if (!value || !value->GetObjectType()) RaiseError("Type of object must be defined");
    value->hError = ErrorHandle();
    value->SetOCISvcCtx(SvcCtx());
    if (!value->GetObjectType()->Valid) value->GetObjectType()->Reattach(SvcCtx());
    value->CheckAlloc(true);
    value->WriteLobs();
    BindNamedType(param, name, SQLT_NTY, value->GetObjectType()->TDO, value->GetInstancePtr(),
                  value->GetIndicatorPtr());
}

void TOCICommand::BindNamedType(TOraParamDesc* param, const AnsiString& name, ub2 type, OCIType* tdo,
                                void** value, void** ind) {
    const AnsiString placeholderText = ":" + name;
    TOCIText placeholder(placeholderText, FOracleConnection->UnicodeEnv());
    OCIError* err = ErrorHandle();
    OCIBind* bind = param->GetBindHandle();
    Check(OCIBindByName(Statement(), &bind, err, placeholder.Ptr(), placeholder.Size(), nullptr, 0, type,
                        nullptr, nullptr, nullptr, 0, nullptr, OCI_DEFAULT));
    Check(OCIBindObject(bind, err, tdo, value, nullptr, ind, nullptr));
    param->SetElementCount(1);
    param->SetBindHandle(bind, 0);
}

void TOCICommand::BindRefParam(TOraParamDesc* param, TOraRef* ref, const AnsiString& name) {
    ref->hError = ErrorHandle();
    ref->SetOCISvcCtx(SvcCtx());
    TOraType* type = ref->GetObjectType();
    if (type && !type->Valid) type->Reattach(SvcCtx());
    // An output REF needs a REF for the server to fill.
    if (!ref->GetOCIRef() && param->GetParamType() != ptInput) {
        void* made = nullptr;
        Check(OCIObjectNew(ref->hEnv, ErrorHandle(), SvcCtx(), OCI_TYPECODE_REF, type ? type->TDO : nullptr,
                           nullptr, OCI_DURATION_SESSION, 1, &made));
        ref->SetOCIRef(static_cast<OCIRef*>(made));
        ref->SetOwnsRef(true);
    }
    BindNamedType(param, name, SQLT_REF, type ? type->TDO : nullptr,
                  reinterpret_cast<void**>(ref->GetOCIRefPtr()), nullptr);
}

}  // namespace dac
