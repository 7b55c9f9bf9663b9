// TOCICommand: binding parameter descriptors by name, the piecewise LONG transfer and the values
// that come back after an execute.
#include <algorithm>
#include <climits>
#include <cstring>
#include <utility>

#include "dataaccess/oracle/OraClasses.h"
#include "platform/rtl/Format.h"

namespace dac {

namespace {

[[noreturn]] void NotSupported() {
    RaiseError("Data type is not supported");
}

constexpr sb4 MaxLongSize = INT32_MAX;  // the largest LONG
constexpr sb4 MaxRawSize = 2000;        // the largest RAW a bind takes
constexpr ub4 IndicatorSkip = sizeof(sb2);

bool IsBlobType(TDataType t) {
    return t == dtBlob || t == dtMemo || t == dtWideMemo;
}
bool IsWideText(TDataType t) {
    return t == dtWideString || t == dtFixedWideChar;
}
bool IsNarrowText(TDataType t) {
    return t == dtString || t == dtFixedChar;
}
bool IsNumberObjectType(TDataType t) {
    return t == dtLargeint || t == dtBCD || t == dtFmtBcd || t == dtNumber;
}
bool IsTimeStampType(TDataType t) {
    return t == dtSQLTimeStamp || t == dtTimeStamp || t == dtTimeStampTZ || t == dtTimeStampLTZ;
}
bool IsIntervalType(TDataType t) {
    return t == dtIntervalYM || t == dtIntervalDS;
}
bool CarriesInput(uint8_t paramType) {
    return paramType != ptOutput && paramType != ptResult;
}

// A callback must not let an exception into the client library: it keeps it for the caller of
// the OCI call and answers an error, which ends that call.
template <class F>
sb4 GuardedCallback(TOCICommand* command, F&& f) {
    try {
        f();
        return OCI_CONTINUE;
    } catch (...) {
        command->KeepCallbackError(std::current_exception());
        return OCI_ERROR;
    }
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// External types

ub2 GetOraType8(TDataType dataType, TDataType subDataType, int serverVersion) {
    switch (dataType) {
        case dtSmallint:
        case dtInteger:
        case dtBoolean:
            return SQLT_INT;
        case dtFloat:
            if ((subDataType == dtBFloat || subDataType == dtBDouble) && OCIVersion > 9999 &&
                serverVersion > 9999)
                return SQLT_BDOUBLE;
            return SQLT_FLT;
        case dtDateTime:
            return SQLT_DAT;
        case dtLargeint:
        case dtBCD:
        case dtFmtBcd:
        case dtNumber:
            return SQLT_VNU;
        case dtBlob:
            return SQLT_LBI;
        case dtMemo:
        case dtWideMemo:
            return subDataType == dtString || subDataType == dtWideString || subDataType == dtNString ||
                           subDataType == dtNWideString
                       ? SQLT_STR
                       : SQLT_LNG;
        case dtString:
        case dtStringRef:
        case dtWideString:
        case dtWideStringRef:
            return SQLT_STR;
        case dtObject:
        case dtArray:
        case dtTable:
            return SQLT_NTY;
        case dtReference:
            return SQLT_REF;
        case dtVarBytes:
        case dtVarBytesRef:
            return SQLT_BIN;
        case dtSQLTimeStamp:
        case dtTimeStamp:
        case dtTimeStampLTZ:
            if (OCIVersion < 9000) NotSupported();
            return SQLT_TIMESTAMP;
        case dtTimeStampTZ:
            if (OCIVersion < 9000) NotSupported();
            return SQLT_TIMESTAMP_TZ;
        case dtIntervalYM:
            if (OCIVersion < 9000) NotSupported();
            return SQLT_INTERVAL_YM;
        case dtIntervalDS:
            if (OCIVersion < 9000) NotSupported();
            return SQLT_INTERVAL_DS;
        case dtCursor:
            return SQLT_RSET;
        case dtRowId:
            return SQLT_RDD;
        case dtOraBlob:
            return SQLT_BLOB;
        case dtOraClob:
        case dtWideOraClob:
            return SQLT_CLOB;
        case dtBFile:
            return SQLT_BFILEE;
        case dtCFile:
            return SQLT_CFILEE;
        case dtLabel:
            return 106;  // MLSLABEL
        case dtFixedChar:
        case dtFixedWideChar:
            return SQLT_AVC;
        case dtUndefined:
            return SQLT_CHR;
        case dtXML:
            if (OCIVersion < 9200) NotSupported();
            return SQLT_NTY;
        default:
            NotSupported();
    }
}

ub2 GetOraType7(TDataType dataType, TDataType subDataType) {
    switch (dataType) {
        case dtInteger:
        case dtBoolean:
            return SQLT_INT;
        case dtFloat:
            return SQLT_FLT;
        case dtDateTime:
            return SQLT_DAT;
        case dtBlob:
            return SQLT_LBI;
        case dtMemo:
            return subDataType == dtString || subDataType == dtNString ? SQLT_STR : SQLT_LNG;
        case dtString:
        case dtStringRef:
            return SQLT_STR;
        case dtVarBytes:
        case dtVarBytesRef:
            return SQLT_BIN;
        case dtCursor:
            return SQLT_CUR;
        case dtRowId:
            return SQLT_RID;
        case dtLabel:
            return 106;
        case dtFixedChar:
            return SQLT_AVC;
        default:
            NotSupported();
    }
}

ub2 TOCICommand::GetOraType(TDataType dataType, TDataType subDataType) {
    if (FCallStyle == ocsOCI7) return GetOraType7(dataType, subDataType);
    const int serverVersion =
        FOracleConnection && FOracleConnection->GetConnected() ? FOracleConnection->GetOracleVersion() : 0;
    return GetOraType8(dataType, subDataType, serverVersion);
}

// ---------------------------------------------------------------------------------------------
// Binding

bool TOCICommand::NeedBindParam(TOraParamDesc* param) {
    return param->GetIsBound() || (FBindUnassignedParams && !param->GetHasDefault()) ||
           param->GetParamType() != ptInput;
}

void TOCICommand::BindParams() {
    TCallLock lock(FOracleConnection);
    for (int i = 0; i < GetParamCount(); ++i) BindParam(GetParam(i));
    SetCursorState(csBound);
}

TOraParamDesc* TOCICommand::FindParamByBind(const void* handle) {
    for (int i = 0; i < GetParamCount(); ++i)
        if (GetParam(i)->GetBindHandle() == handle) return GetParam(i);
    rtl::Assert(false, "OraClasses: no parameter owns the bind handle");
    return nullptr;
}

void TOCICommand::KeepCallbackError(std::exception_ptr error) {
    if (!FCallbackError) FCallbackError = error;
}

void TOCICommand::RaiseCallbackError() {
    if (!FCallbackError) return;
    std::exception_ptr error = std::exchange(FCallbackError, nullptr);
    std::rethrow_exception(error);
}

namespace {

// The value objects a descriptor binds from, made when the caller gave none.
template <class T, class... Args>
T* EnsureObject(TOraParamDesc* param, T* current, Args&&... args) {
    if (current) return current;
    auto* obj = new T(std::forward<Args>(args)...);
    param->SetObject(obj);
    obj->Free();  // the descriptor holds its own reference
    return obj;
}

}  // namespace

void TOCICommand::BindParam(TOraParamDesc* param) {
    if (!NeedBindParam(param)) return;
    CheckOCI80();
    const TDataType type = param->GetDataType();
    const uint8_t paramType = param->GetParamType();
    const bool table = param->GetTable();
    if (type == dtUnknown && !param->GetNull())
        RaiseError(rtl::Format("Unknown data type of parameter %s", {param->GetName()}));
    const ub2 oraType = type == dtUnknown ? SQLT_CHR : GetOraType(type, param->GetSubDataType());

    // The value objects live before the buffer is prepared: their indicators are the bind's.
    if (!table && param->GetLength() <= 1) {
        if (IsBlobType(type))
            EnsureObject<TBlob>(param, param->GetAsBlob(), type == dtWideMemo);
        else if (type == dtCursor)
            EnsureObject<TOraCursor>(param, param->GetAsCursor());
        else if (type == dtNumber)
            EnsureObject<TOraNumber>(param, param->GetAsNumber());
        else if (IsTimeStampType(type))
            EnsureObject<TOraTimeStamp>(param, param->GetAsTimeStamp(), type);
        else if (IsIntervalType(type))
            EnsureObject<TOraInterval>(param, param->GetAsInterval(), type);
        else if (IsOraLobType(type))
            PrepareLobParam(param);
    }
    param->AllocBuffer();
    param->PrepareBind();

    const AnsiString name = param->QuotedName ? "\"" + param->GetName() + "\"" : param->GetName();
    const sb4 itemSize = param->GetItemSize();
    sb4 size = itemSize;
    auto* buffer = static_cast<uint8_t*>(param->GetBuffer());
    void* value = buffer;
    ub2* lengths = nullptr;
    const int32_t maxActual = param->GetMaxActualLength();
    const int maxStringSize = FOracleConnection->GetMaxStringSize();
    const bool narrowed = paramType == ptInput ||
                          (FSQLType == SQL_SELECT && (paramType == ptUnknown || paramType == ptInputOutput));
    // A value longer than the server takes is refused, never cut: a cut could split a character
    // and would change the caller's value.
    auto refuseLonger = [&](int32_t length, int limit) {
        if (length > limit)
            RaiseError(rtl::Format("Value of parameter %s is longer than %d characters", {name, limit}));
    };

    // ---- sizes
    if (IsNarrowText(type) || IsWideText(type)) {
        const int unit = IsWideText(type) ? 2 : 1;
        if (!table) {
            if (narrowed && maxActual != 0) {
                size = (maxActual + 1) * unit;
                std::fill_n(buffer + static_cast<size_t>(maxActual) * unit, unit, uint8_t{0});
            }
            if (FOracleConnection->CharLength() >= 2 && (maxStringSize + 1) * unit < size) {
                if (CarriesInput(paramType)) refuseLonger(maxActual, maxStringSize);
                size = (maxStringSize + 1) * unit;
            }
        } else if (!IsWideText(type) && maxStringSize < size) {
            refuseLonger(maxActual, maxStringSize - 1);
            size = maxStringSize;
        }
    } else if (IsBlobType(type)) {
        TBlob* blob = param->GetAsBlob();
        if (paramType == ptInput) {
            size = static_cast<sb4>(std::clamp<int64_t>(blob->GetSize(), 1, MaxLongSize));
        } else {
            size = MaxLongSize;
            if (paramType == ptOutput || paramType == ptResult) blob->Clear();
        }
    } else if (type == dtVarBytes && buffer) {
        // The length cell, then the bytes; the bind never takes more than the item holds.
        lengths = reinterpret_cast<ub2*>(buffer);
        value = buffer + sizeof(ub2);
        size = std::min(std::max(param->GetSize(), 0), MaxRawSize);
        if (CarriesInput(paramType)) {
            const int items = table ? param->GetLength() : 1;
            for (int i = 0; i < items; ++i) {
                ub2 length;
                std::memcpy(&length, buffer + static_cast<size_t>(i) * itemSize, sizeof length);
                if (param->GetIndicator(i + 1) >= 0 && length > size)
                    RaiseError(rtl::Format("Value of parameter %s is longer than %d bytes", {name, size}));
            }
        }
    }

    // ---- values kept in objects
    if (type == dtUnknown) {
        value = FNullValue;
        size = 1;
    } else if (IsNumberObjectType(type) && param->GetLength() <= 1) {
        value = param->GetAsNumber()->GetOCINumberPtr();
        size = sizeof(OCINumber);
    } else if (type == dtCursor) {
        TOraCursor* cursor = param->GetAsCursor();
        cursor->SetCallStyle(ocsOCI8);
        if (!cursor->GetHandle()) {
            cursor->EnvironmentHandle = FOracleConnection->GetEnvironment();
            cursor->UnicodeEnvironment = FOracleConnection->UnicodeEnv();
        }
        cursor->ErrorHandle = ErrorHandle();
        cursor->AllocCursor();
        value = cursor->GetOCIStmtPtr();
        size = 0;
    } else if ((IsTimeStampType(type) || IsIntervalType(type)) && param->GetLength() <= 1) {
        if (IsTimeStampType(type)) {
            TOraTimeStamp* timeStamp = param->GetAsTimeStamp();
            timeStamp->SetDescriptorType(type == dtTimeStampTZ ? OCI_DTYPE_TIMESTAMP_TZ
                                                               : OCI_DTYPE_TIMESTAMP);
            value = timeStamp->GetOCIDateTimePtr();
        } else {
            TOraInterval* interval = param->GetAsInterval();
            interval->SetDescriptorType(type == dtIntervalYM ? OCI_DTYPE_INTERVAL_YM : OCI_DTYPE_INTERVAL_DS);
            value = interval->GetOCIIntervalPtr();
        }
        size = PtrSize;
    } else if (IsOraLobType(type) && !table && param->GetLength() <= 1) {
        // the address of the locator cell: a new locator (a temporary one) needs no new bind
        value = PrepareLobParam(param)->GetOCILobLocatorPtr();
        size = PtrSize;
    } else if ((type == dtObject || type == dtArray || type == dtTable || type == dtXML ||
                type == dtReference) &&
               !table && FIters == 1) {
        BindObjectParam(param, name);
        return;
    } else if (IsOraLobType(type) || type == dtObject || type == dtArray || type == dtTable ||
               type == dtXML || type == dtReference || type == dtLabel || type == dtRowId ||
               type == dtUndefined) {
        // LOB tables, object values, XML and REFs have no value classes here.
        NotSupported();
    }

    // An unchanged bind stays: the statement still points at the same buffer.
    if (param->GetBindHandle() && param->GetBoundSize() == size) return;

    const bool unicode = FOracleConnection->UnicodeEnv();
    const AnsiString placeholderText = ":" + name;  // TOCIText points into it
    TOCIText placeholder(placeholderText, unicode);
    OCIError* err = ErrorHandle();
    OCIBind* bind = param->GetBindHandle();
    int16_t* indicators = param->GetIndicatorPtr();
    if (table) {
        param->SetElementCount(static_cast<uint32_t>(param->GetLength()));
        Check(OCIBindByName(Statement(), &bind, err, placeholder.Ptr(), placeholder.Size(), value, size,
                            oraType, indicators, lengths, nullptr, static_cast<ub4>(param->GetLength()),
                            param->GetElementCountPtr(), OCI_DEFAULT));
        Check(OCIBindArrayOfStruct(bind, err, static_cast<ub4>(itemSize), IndicatorSkip,
                                   lengths ? static_cast<ub4>(itemSize) : 0, 0));
    } else if (FIters == 1 && IsBlobType(type)) {
        Check(OCIBindByName(Statement(), &bind, err, placeholder.Ptr(), placeholder.Size(), nullptr,
                            MaxLongSize, oraType, indicators, nullptr, nullptr, 0, nullptr,
                            OCI_DATA_AT_EXEC));
        Check(OCIBindDynamic(bind, err, ContextHandle(), &InBindCallback, ContextHandle(), &OutBindCallback));
    } else if (FIters == 1) {
        Check(OCIBindByName(Statement(), &bind, err, placeholder.Ptr(), placeholder.Size(), value, size,
                            oraType, indicators, lengths, nullptr, 0, nullptr, OCI_DEFAULT));
        param->SetElementCount(1);
    } else {
        if (param->GetLength() < FIters)
            RaiseError(rtl::Format("%s parameter must be array with length %d", {name, FIters}));
        Check(OCIBindByName(Statement(), &bind, err, placeholder.Ptr(), placeholder.Size(), value, size,
                            oraType, indicators, lengths, nullptr, 0, nullptr, OCI_DEFAULT));
        Check(OCIBindArrayOfStruct(bind, err, static_cast<ub4>(itemSize), IndicatorSkip,
                                   static_cast<ub4>(itemSize), 0));
    }
    param->SetBindHandle(bind, size);

    // ---- character sets and sizes
    if (param->GetNationalFlag()) {
        ub1 form = 2;
        Check(OCIAttrSet(bind, OCI_HTYPE_BIND, &form, 0, OCI_ATTR_CHARSET_FORM, err));
    }
    ub2 charsetId = 0;
    if (IsNarrowText(type))
        charsetId = FOracleConnection->CharsetId();
    else if (IsWideText(type))
        charsetId = OCI_UTF16ID;
    else if (IsBlobType(type))
        charsetId = param->GetAsBlob()->IsUnicode() ? OCI_UTF16ID : FOracleConnection->CharsetId();
    if (charsetId > 0) Check(OCIAttrSet(bind, OCI_HTYPE_BIND, &charsetId, 0, OCI_ATTR_CHARSET_ID, err));
    if (IsNarrowText(type) || IsWideText(type)) {
        const bool wide = IsWideText(type);
        sb4 maxData = (itemSize - 1) / (wide ? 2 : 1);
        if (!table && paramType == ptInput) {
            maxData = std::min(maxStringSize, maxActual * 3);
            maxData = std::max(maxData, wide ? 4 : 2);
        }
        Check(OCIAttrSet(bind, OCI_HTYPE_BIND, &maxData, 0, OCI_ATTR_MAXDATA_SIZE, err));
        const int serverVersion = FOracleConnection->GetOracleVersion();
        if (OCIVersion >= 9000 && serverVersion >= 9200 && paramType == ptInput && maxActual > 0 &&
            !(serverVersion >= 9206 && serverVersion <= 10000)) {
            sb4 maxChars = maxActual;
            Check(OCIAttrSet(bind, OCI_HTYPE_BIND, &maxChars, 0, OCI_ATTR_MAXCHAR_SIZE, err));
        }
    }
}

// ---------------------------------------------------------------------------------------------
// LONG values through callbacks

sb4 InBindCallback(void* context, OCIBind* bind, ub4, ub4, void** buffer, ub4* length, ub1* piece,
                   void** indicator) {
    auto* command = static_cast<TOCICommand*>(context);
    return GuardedCallback(command, [&] {
        TOraParamDesc* param = command->FindParamByBind(bind);
        if (*piece == OCI_FIRST_PIECE) param->PieceIndex = 0;
        TBlob* blob = param->GetAsBlob();
        PPieceHeader p = blob ? blob->FirstPiece() : nullptr;
        for (int k = 0; p && k < param->PieceIndex; ++k) p = PieceHeader::Next(p);
        if (!p) {
            *buffer = nullptr;
            *length = 0;
            *indicator = nullptr;
            *piece = OCI_LAST_PIECE;
            return;
        }
        *buffer = PieceData(p);
        *length = PieceHeader::Used(p);
        *indicator = param->GetIndicatorPtr();
        if (!PieceHeader::Next(p))
            *piece = OCI_LAST_PIECE;
        else
            *piece = param->PieceIndex == 0 ? OCI_FIRST_PIECE : OCI_NEXT_PIECE;
        ++param->PieceIndex;
    });
}

sb4 OutBindCallback(void* context, OCIBind* bind, ub4, ub4, void** buffer, ub4** length, ub1* piece,
                    void** indicator, ub2** returnCode) {
    auto* command = static_cast<TOCICommand*>(context);
    return GuardedCallback(command, [&] {
        TOraParamDesc* param = command->FindParamByBind(bind);
        TBlob* blob = param->GetAsBlob();
        rtl::Assert(blob != nullptr, "OraClasses: a LONG output without its blob");
        if (*piece == OCI_ONE_PIECE) blob->Clear();
        // The client library writes the received length into the piece's used count.
        PPieceHeader p = nullptr;
        blob->AllocPiece(p, blob->GetPieceSize());
        PieceHeader::SetUsed(p, static_cast<uint32_t>(blob->GetPieceSize()));
        blob->AppendPiece(p);
        *buffer = PieceData(p);
        *length = reinterpret_cast<ub4*>(PieceUsedPtr(p));
        *indicator = param->GetIndicatorPtr();
        *piece = OCI_NEXT_PIECE;
        *returnCode = nullptr;
    });
}

// ---------------------------------------------------------------------------------------------
// LONG values through the need-data loop

void TOCICommand::GetPieceInfo(void*& handle, ub4& handleType, ub1& inOut, ub4& iteration, ub4& index,
                               ub1& piece) {
    CheckOCI80();
    TCallLock lock(FOracleConnection);
    Check(OCIStmtGetPieceInfo(Statement(), ErrorHandle(), &handle, &handleType, &inOut, &iteration, &index,
                              &piece));
}

void TOCICommand::SetPieceInfo(void* handle, ub4 handleType, void* buffer, ub4& length, ub1 piece) {
    CheckOCI80();
    TCallLock lock(FOracleConnection);
    Check(OCIStmtSetPieceInfo(handle, handleType, ErrorHandle(), buffer, &length, piece, nullptr, nullptr));
}

sword TOCICommand::TransferPieces(sword status) {
    uint8_t scratch[101] = {};  // the buffer of empty pieces
    void* handle = nullptr;
    ub4 handleType = 0, iteration = 0, index = 0;
    ub1 inOut = 0, piece = 0;
    bool known = false;  // the piece information of the next wanted piece is read already
    while (status == OCI_NEED_DATA) {
        if (!known) GetPieceInfo(handle, handleType, inOut, iteration, index, piece);
        known = false;
        TOraParamDesc* param = FindParamByBind(handle);
        TBlob* blob = param->GetAsBlob();
        rtl::Assert(blob != nullptr, "OraClasses: a LONG parameter without its blob");
        auto next = [&] {
            status = InternalExecute(OCI_DEFAULT, 0);
            if (status != OCI_NEED_DATA) return false;
            GetPieceInfo(handle, handleType, inOut, iteration, index, piece);
            known = true;
            return piece != OCI_ONE_PIECE && piece != OCI_FIRST_PIECE;
        };
        if (inOut == OCI_PARAM_IN) {
            // A value whose pieces were all sent gets an empty last piece if more is asked.
            PPieceHeader p = piece == OCI_NEXT_PIECE ? nullptr : blob->FirstPiece();
            if (!p) {
                ub4 length = 0;
                SetPieceInfo(handle, OCI_HTYPE_BIND, scratch, length, OCI_LAST_PIECE);
                next();
                continue;
            }
            for (; p; p = PieceHeader::Next(p)) {
                ub4 length = PieceHeader::Used(p);
                SetPieceInfo(handle, OCI_HTYPE_BIND, PieceData(p), length,
                             PieceHeader::Next(p) ? piece : static_cast<ub1>(OCI_LAST_PIECE));
                if (!next()) break;
            }
        } else {
            blob->Clear();
            do {
                PPieceHeader p = nullptr;
                blob->AllocPiece(p, blob->GetPieceSize());
                ub4 length = static_cast<ub4>(blob->GetPieceSize());
                SetPieceInfo(handle, OCI_HTYPE_BIND, PieceData(p), length, piece);
                bool more;
                try {
                    more = next();
                } catch (...) {
                    blob->FreePiece(p);
                    throw;
                }
                if (length == 0) {
                    blob->FreePiece(p);
                } else {
                    if (length < static_cast<ub4>(blob->GetPieceSize())) blob->ReallocPiece(p, length);
                    PieceHeader::SetUsed(p, length);
                    blob->AppendPiece(p);
                }
                if (!more) break;
            } while (true);
        }
    }
    return status;
}

// ---------------------------------------------------------------------------------------------
// After the execute

void TOCICommand::ReadBackParams() {
    for (int i = 0; i < GetParamCount(); ++i) {
        TOraParamDesc* param = GetParam(i);
        const TDataType type = param->GetDataType();
        const uint8_t paramType = param->GetParamType();
        const bool carriesOutput = paramType != ptInput;
        if (param->GetLength() > 1 && carriesOutput) {
            // Table items held as objects take the indicators the server wrote.
            if (!IsNumberObjectType(type) && !IsTimeStampType(type) && !IsIntervalType(type)) continue;
            const int16_t* indicators = param->GetIndicatorPtr();
            for (int k = 1; k <= param->GetLength(); ++k) param->SetIndicator(k, indicators[k - 1]);
        } else if (IsBlobType(type) && carriesOutput && param->GetBindHandle()) {
            // A null LONG leaves no value behind, whatever pieces were offered for it.
            if (*param->GetIndicatorPtr() < 0) param->GetAsBlob()->Clear();
        } else if ((type == dtOraBlob || type == dtOraClob || type == dtWideOraClob) &&
                   param->GetLength() <= 1) {
            ReadBackLob(param);
        } else if (type == dtXML && carriesOutput && param->GetLength() <= 1) {
            // The server's value becomes the parameter's text.
            if (auto* xml = dynamic_cast<TOraXML*>(param->GetObject())) xml->ReadXML();
        }
    }
}

}  // namespace dac
