// TOCICommand: describing select-list columns, defining their buffers, fetching and closing.
#include <climits>
#include <cmath>

#include "dataaccess/oracle/OraClasses.h"
#include "platform/rtl/Strings.h"

namespace dac {

namespace {

constexpr sb4 MaxLongSize = INT32_MAX;
constexpr int16_t FloatScale = -127;  // the scale Oracle describes a FLOAT column with

// Reads one attribute of a describe parameter into a zeroed cell of the expected width; the
// client library may write fewer bytes than the cell holds.
template <class T>
T ParamAttr(TOCICommand& command, OCIParam* param, ub4 attribute, OCIError* err) {
    T value{};
    command.Check(OCIAttrGet(param, OCI_DTYPE_PARAM, &value, nullptr, attribute, err));
    return value;
}

AnsiString ParamText(TOCICommand& command, OCIParam* param, ub4 attribute, OCIError* err, bool unicode) {
    void* text = nullptr;
    ub4 size = 0;
    command.Check(OCIAttrGet(param, OCI_DTYPE_PARAM, &text, &size, attribute, err));
    return text ? OCITextToStringLen(text, static_cast<int>(size), unicode) : AnsiString();
}

// A descriptor handed out by OCIParamGet, freed at scope end.
class TParamHolder {
public:
    explicit TParamHolder(OCIParam* param) : param_(param) {}
    ~TParamHolder() {
        if (param_) OCIDescriptorFree(param_, OCI_DTYPE_PARAM);
    }
    TParamHolder(const TParamHolder&) = delete;
    TParamHolder& operator=(const TParamHolder&) = delete;
    OCIParam* Get() const { return param_; }

private:
    OCIParam* param_;
};

uint16_t Ceiling(double value) {
    return static_cast<uint16_t>(std::ceil(value));
}

// Text of Length characters; Size counts the terminator, in two bytes per character with
// UTF-16.
void TextField(TFieldDesc& field, int length, bool unicode) {
    field.DataType = unicode ? dtWideString : dtString;
    field.Length = static_cast<uint16_t>(length);
    field.Size = unicode ? (length + 1) * 2 : length + 1;
}

// Long strings become memos unless LongStrings; short or flat ones live in the record, the rest
// outside it.
void StringColumn(TFieldDesc& field, int length, bool unicode, bool longStrings, bool flatBuffers) {
    field.Length = static_cast<uint16_t>(length);
    if (!longStrings && length >= 256) {
        field.DataType = unicode ? dtWideMemo : dtMemo;
        field.SubDataType = unicode ? dtWideString : dtString;
        field.Size = PtrSize;
    } else if (length < 32 || flatBuffers) {
        TextField(field, length, unicode);
    } else {
        field.DataType = unicode ? dtWideStringRef : dtStringRef;
        field.Size = PtrSize;
    }
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Describing columns

void TOCICommand::DescribeNumberField(TFieldDesc& field, int precision, int scale) {
    int length = precision;
    if (scale == FloatScale && precision > 0) length = Ceiling(precision * 0.30103);
    // An unconstrained NUMBER (precision 0) counts as 38 digits; with scale -127 its Scale is 0
    // while the choices below still see -127.
    field.Scale = static_cast<uint16_t>(precision == 0 && scale == FloatScale ? 0 : std::abs(scale));
    if (precision == 0) {
        precision = 38;
        length = 38;
    }
    field.Length = static_cast<uint16_t>(length);
    const bool integers = IntegersEnabled();
    const bool bcd = FOracleConnection->EnableBCD() || FEnableBCD;
    const bool fmtBcd = FOracleConnection->EnableFMTBCD() || FEnableFMTBCD;
    if (integers && GetSmallintPrecision() >= precision && scale == 0) {
        field.DataType = dtSmallint;
        field.Size = 2;
    } else if (integers && GetIntegerPrecision() >= precision && scale == 0) {
        field.DataType = dtInteger;
        field.Size = 4;
    } else if (integers && GetLargeintPrecision() >= precision && scale == 0) {
        field.DataType = dtLargeint;
        field.Size = 8;
    } else if (!FForceIntegers && bcd && GetBCDPrecision() >= precision && scale >= 0 &&
               GetBCDScale() >= scale) {
        field.DataType = dtBCD;
        field.Size = 8;
        field.Length = std::min<uint16_t>(field.Length, 18);
        field.Scale = std::min<uint16_t>(field.Scale, 4);
    } else if (GetFloatPrecision() >= length) {
        field.DataType = dtFloat;
        field.Size = 8;
    } else if (!FForceIntegers && fmtBcd && GetFmtBCDPrecision() >= precision && scale >= 0 &&
               GetFmtBCDScale() >= scale) {
        field.DataType = dtFmtBcd;
        field.Size = 34;
        field.Length = std::min<uint16_t>(field.Length, 32);
        field.Scale = std::min<uint16_t>(field.Scale, field.Length);
    } else if (!FForceIntegers && FOracleConnection->EnableNumbers()) {
        field.DataType = dtNumber;
        field.Size = PtrSize;
    } else {
        field.DataType = dtFloat;
        field.Size = 8;
    }
}

void TOCICommand::DescribeDateFormatField(TFieldDesc& field, int nlsIndex) {
    if (FOracleConnection->NlsParam(nlsIndex).Value.empty()) FOracleConnection->ReadSessionParameters();
    const AnsiString format = rtl::AnsiUpperCase(FOracleConnection->NlsParam(nlsIndex).Value);
    int length = static_cast<int>(format.size());
    if (format.find("MONTH") != AnsiString::npos) length += 7;
    if (format.find("DAY") != AnsiString::npos) length += 9;
    if (nlsIndex != nlsDateFormat && format.find("SSXFF") != AnsiString::npos) length += 4;
    TextField(field, length, FOracleConnection->UseUnicode());
}

bool TOCICommand::IntegersEnabled() {
    return FForceIntegers || FOracleConnection->EnableIntegers();
}

bool TOCICommand::DescribeField(int index, TFieldDesc& field, bool longStrings, bool flatBuffers) {
    CheckActive();
    CheckOCI80();
    // Only running a block tells its columns, and a procedure with side effects must run once:
    // its result is described from the cursor that run returned.
    if (IsOwnCursor() && FSQLType == SQL_PLSQL && GetCursorState() < csExecuted)
        RaiseError("A PL/SQL block is described through the cursor it returns, after it ran");
    OCIError* err = ErrorHandle();
    TStatementLock statementLock(*this);
    TCallLock lock(FOracleConnection);
    ub4 count = 0;
    Check(OCIAttrGet(Statement(), OCI_HTYPE_STMT, &count, nullptr, OCI_ATTR_PARAM_COUNT, err));
    if (index < 1 || count < static_cast<ub4>(index)) return false;
    void* raw = nullptr;
    Check(OCIParamGet(Statement(), OCI_HTYPE_STMT, err, &raw, static_cast<ub4>(index)));
    TParamHolder holder(static_cast<OCIParam*>(raw));
    OCIParam* param = holder.Get();
    const bool unicode = FOracleConnection->UseUnicode();
    const bool unicodeEnv = FOracleConnection->UnicodeEnv();

    // The column's object type comes from the type cache, or is described once; the field holds it.
    auto useColumnType = [&]() {
        const AnsiString schema = ParamText(*this, param, OCI_ATTR_SCHEMA_NAME, err, unicodeEnv);
        const AnsiString typeName = ParamText(*this, param, OCI_ATTR_TYPE_NAME, err, unicodeEnv);
        const AnsiString full = QuoteObjectName(schema.empty() ? typeName : schema + "." + typeName);
        TOraType* objectType = ObjectTypesExist() ? ObjectTypes().FindType(SvcCtx(), full) : nullptr;
        if (objectType) {
            field.SetObjectType(objectType);
        } else {
            objectType = new TOraType(FOracleConnection, full);
            field.SetObjectType(objectType);
            objectType->Release();
        }
        return objectType;
    };

    field.Name = ParamText(*this, param, OCI_ATTR_NAME, err, unicodeEnv);
    field.ActualFieldNo = static_cast<uint16_t>(index);
    field.Length = 0;
    field.Scale = 0;
    field.SubDataType = 0;
    const ub2 type = ParamAttr<ub2>(*this, param, OCI_ATTR_DATA_TYPE, err);
    const ub2 dataSize = ParamAttr<ub2>(*this, param, OCI_ATTR_DATA_SIZE, err);
    auto* oracleField = dynamic_cast<TOCIFieldDesc*>(&field);
    const bool textOut = FFieldsAsString;

    switch (type) {
        case SQLT_CHR:
        case SQLT_AFC: {
            const bool national = ParamAttr<ub1>(*this, param, OCI_ATTR_CHARSET_FORM, err) == 2;
            if (oracleField) oracleField->National = national;
            int length = dataSize;
            if (OCIVersion >= 9000 && unicode) length = ParamAttr<ub2>(*this, param, OCI_ATTR_CHAR_SIZE, err);
            if (FOracleConnection->ConvertEOL()) length = length * 3 / 2;
            field.Fixed = type == SQLT_AFC;
            StringColumn(field, length, unicode, longStrings, flatBuffers);
            if (national) field.SubDataType = unicode ? dtNWideString : dtNString;
            break;
        }
        case SQLT_NUM: {
            const int precision = ParamAttr<sb2>(*this, param, OCI_ATTR_PRECISION, err);
            const int scale = ParamAttr<sb1>(*this, param, OCI_ATTR_SCALE, err);
            if (!textOut && !FNumberAsString) {
                DescribeNumberField(field, precision, scale);
                break;
            }
            field.DataType = unicode ? dtWideString : dtString;
            field.SubDataType = dtNumber;
            field.Scale = static_cast<uint16_t>(std::abs(scale));
            if (precision <= 0) {
                field.Length = 132;
                field.Size = 133;
            } else if (scale == FloatScale) {
                field.Length = Ceiling(precision * 0.30103);
                field.Size = 255;
            } else {
                field.Length = static_cast<uint16_t>(precision + 2);
                field.Size = field.Length + 1;
            }
            if (unicode) field.Size *= 2;
            break;
        }
        case SQLT_LNG:
            field.DataType = unicode ? dtWideMemo : dtMemo;
            field.Size = PtrSize;
            break;
        case SQLT_RID:
            TextField(field, 18, unicode);
            field.SubDataType = dtRowId;
            break;
        case SQLT_DAT:
            if (textOut) {
                DescribeDateFormatField(field, nlsDateFormat);
            } else {
                field.DataType = dtDateTime;
                field.Size = OraDateSize;
            }
            break;
        case SQLT_BIN:
            if (textOut || FRawAsString) {
                TextField(field, dataSize * 2, unicode);  // two hexadecimal digits a byte
                break;
            }
            if (dataSize < 32 || flatBuffers) {
                field.DataType = dtVarBytes;
                field.Size = dataSize + 2;
            } else {
                field.DataType = dtVarBytesRef;
                field.Size = PtrSize;
            }
            field.Length = dataSize;
            break;
        case SQLT_LBI:
            field.DataType = dtBlob;
            field.Size = PtrSize;
            break;
        case 25:
            field.DataType = dtUndefined;
            field.Size = dataSize;
            break;
        case SQLT_IBFLOAT:
        case SQLT_IBDOUBLE:
            field.DataType = dtFloat;
            field.SubDataType = type == SQLT_IBFLOAT ? dtBFloat : dtBDouble;
            field.Size = 8;
            field.Length = 38;
            field.Scale = 127;
            break;
        case SQLT_RDD: {
            const bool universal = dataSize >= 5;
            // ceiling(N * 1.34) on the exact product, so that 4000 gives 5360
            TextField(field, universal ? (dataSize * 134 + 99) / 100 : 18, unicode);
            field.SubDataType = universal ? dtURowId : dtRowId;
            break;
        }
        case 106:  // MLSLABEL
            field.DataType = dtLabel;
            field.Size = dataSize;
            break;
        case SQLT_CLOB:
            field.DataType = unicode ? dtWideOraClob : dtOraClob;
            field.Size = PtrSize;
            if (ParamAttr<ub1>(*this, param, OCI_ATTR_CHARSET_FORM, err) == 2) field.SubDataType = dtNClob;
            break;
        case SQLT_BLOB:
        case SQLT_BFILEE:
        case SQLT_CFILEE:
        case SQLT_RSET:
            field.DataType = type == SQLT_BLOB     ? dtOraBlob
                             : type == SQLT_BFILEE ? dtBFile
                             : type == SQLT_CFILEE ? dtCFile
                                                   : dtCursor;
            field.Size = PtrSize;
            break;
        case SQLT_TIMESTAMP:
        case SQLT_TIMESTAMP_TZ:
        case SQLT_TIMESTAMP_LTZ:
        case SQLT_INTERVAL_YM:
        case SQLT_INTERVAL_DS: {
            if (OCIVersion < 9000) RaiseError("Data type is not supported");
            const bool interval = type == SQLT_INTERVAL_YM || type == SQLT_INTERVAL_DS;
            if (textOut || (interval && FOracleConnection->IntervalAsString())) {
                if (!interval) {
                    DescribeDateFormatField(
                        field, type == SQLT_TIMESTAMP_TZ ? nlsTimeStampTZFormat : nlsTimeStampFormat);
                    break;
                }
                const int leading = ParamAttr<sb2>(*this, param, OCI_ATTR_PRECISION, err);
                const int length = type == SQLT_INTERVAL_YM
                                       ? leading + 4
                                       : leading + ParamAttr<sb1>(*this, param, OCI_ATTR_SCALE, err) + 11;
                TextField(field, length, unicode);
                field.SubDataType = type == SQLT_INTERVAL_YM ? dtIntervalYM : dtIntervalDS;
                break;
            }
            field.Length = ParamAttr<ub1>(*this, param, OCI_ATTR_FSPRECISION, err);
            field.Size = PtrSize;
            if (type == SQLT_INTERVAL_YM) {
                field.DataType = dtIntervalYM;
            } else if (type == SQLT_INTERVAL_DS) {
                field.DataType = dtIntervalDS;
            } else if (FOracleConnection->UseSQLTimeStamp()) {
                field.DataType = dtSQLTimeStamp;
                field.Size = 16;
            } else {
                field.DataType = type == SQLT_TIMESTAMP      ? dtTimeStamp
                                 : type == SQLT_TIMESTAMP_TZ ? dtTimeStampTZ
                                                             : dtTimeStampLTZ;
            }
            break;
        }
        case SQLT_NTY: {
            TOraType* objectType = useColumnType();
            if (objectType->DataType != dtObject && objectType->DataType != dtArray &&
                objectType->DataType != dtTable && objectType->DataType != dtXML)
                RaiseError("Data type is not supported");
            field.DataType = objectType->DataType;
            field.Size = PtrSize;
            break;
        }
        case SQLT_REF: {
            if (OCIVersion < 9000) RaiseError("Data type is not supported");
            // The referenced type, for the target's attributes.
            if (!ParamText(*this, param, OCI_ATTR_TYPE_NAME, err, unicodeEnv).empty()) useColumnType();
            field.DataType = dtReference;
            field.Size = PtrSize;
            break;
        }
        default:
            RaiseError("Data type is not supported");
    }
    const bool nullable = ParamAttr<ub1>(*this, param, OCI_ATTR_IS_NULL, err) != 0;
    field.Required = !nullable && field.Name != "ROWID";
    return true;
}

// ---------------------------------------------------------------------------------------------
// Defines

ub4 TOCICommand::DefineBufferSize(const TFieldDesc& field) {
    const TDataType type = field.DataType, sub = field.SubDataType;
    if (type == dtStringRef || sub == dtString || sub == dtNString) return field.Length + 1u;
    if (type == dtWideStringRef || sub == dtWideString || sub == dtNWideString) return field.Length * 2u + 2u;
    if (type == dtLargeint || type == dtBCD || type == dtFmtBcd || type == dtNumber) return sizeof(OCINumber);
    if (type == dtVarBytesRef) return field.Length + 2u;
    return static_cast<ub4>(field.Size);
}

void TOCICommand::DefineCharset(TFieldDesc& field, OCIDefine* define) {
    const TDataType type = field.DataType, sub = field.SubDataType;
    const bool memo = type == dtMemo || type == dtWideMemo;
    ub2 charsetId = 0;
    if (type == dtString || type == dtStringRef || (memo && (sub == dtString || sub == dtNString)))
        charsetId = FOracleConnection->CharsetId();
    else if (type == dtWideString || type == dtWideStringRef ||
             (memo && (sub == dtWideString || sub == dtNWideString)))
        charsetId = OCI_UTF16ID;
    OCIError* err = ErrorHandle();
    if (charsetId > 0) Check(OCIAttrSet(define, OCI_HTYPE_DEFINE, &charsetId, 0, OCI_ATTR_CHARSET_ID, err));
    if (sub == dtNString || sub == dtNWideString) {
        ub1 form = 2;
        Check(OCIAttrSet(define, OCI_HTYPE_DEFINE, &form, 0, OCI_ATTR_CHARSET_FORM, err));
    }
}

void TOCICommand::SetDefineHandle(TFieldDesc& field, OCIDefine* define) {
    if (auto* oracleField = dynamic_cast<TOCIFieldDesc*>(&field)) oracleField->DefineHandle = define;
}

namespace {

OCIDefine* DefineHandleOf(TFieldDesc& field) {
    auto* oracleField = dynamic_cast<TOCIFieldDesc*>(&field);
    return oracleField ? oracleField->DefineHandle : nullptr;
}

bool HasLengthPrefix(const TFieldDesc& field) {
    return field.DataType == dtVarBytes || field.DataType == dtVarBytesRef;
}

}  // namespace

void TOCICommand::DefineArrayData(TFieldDesc& field, void* buffer, ub4 indicatorSkip, ub4 valueSkip,
                                  int16_t* indicator) {
    CheckOCI80();
    const ub2 type = GetOraType(field.DataType, field.SubDataType);
    sb4 size = static_cast<sb4>(DefineBufferSize(field));
    auto* value = static_cast<uint8_t*>(buffer);
    ub2* lengths = nullptr;
    if (HasLengthPrefix(field)) {
        // the length in the first two bytes, the bytes after them
        lengths = reinterpret_cast<ub2*>(value);
        value += sizeof(ub2);
        size -= sizeof(ub2);
    }
    OCIError* err = ErrorHandle();
    TCallLock lock(FOracleConnection);
    OCIDefine* define = DefineHandleOf(field);
    if (type == SQLT_NTY) {
        // No value buffer: the fetch writes instance pointers into the cells, one per row.
        Check(OCIDefineByPos(Statement(), &define, err, field.ActualFieldNo, nullptr, 0, type, nullptr,
                             nullptr, nullptr, OCI_DEFAULT));
        SetDefineHandle(field, define);
        if (valueSkip != 0) Check(OCIDefineArrayOfStruct(define, err, valueSkip, 0, 0, 0));
        auto* objectType = static_cast<TOraType*>(field.ObjectType());
        Check(OCIDefineObject(define, err, objectType->TDO, static_cast<void**>(buffer), nullptr, nullptr,
                              nullptr));
        if (indicator) std::memset(indicator, 0, sizeof *indicator);
        return;
    }
    if (type == SQLT_REF) {
        // The fetch writes a REF pointer into each cell; null REFs show in the record indicators.
        Check(OCIDefineByPos(Statement(), &define, err, field.ActualFieldNo, nullptr, 0, type, indicator,
                             nullptr, nullptr, OCI_DEFAULT));
        SetDefineHandle(field, define);
        if (valueSkip != 0 || indicatorSkip != 0)
            Check(OCIDefineArrayOfStruct(define, err, valueSkip, indicatorSkip, 0, 0));
        Check(OCIDefineObject(define, err, nullptr, static_cast<void**>(buffer), nullptr, nullptr, nullptr));
        return;
    }
    Check(OCIDefineByPos(Statement(), &define, err, field.ActualFieldNo, value, size, type, indicator,
                         lengths, nullptr, OCI_DEFAULT));
    SetDefineHandle(field, define);
    DefineCharset(field, define);
    if (valueSkip != 0 || indicatorSkip != 0)
        Check(OCIDefineArrayOfStruct(define, err, valueSkip, indicatorSkip, lengths ? valueSkip : 0, 0));
}

void TOCICommand::DefineData(TFieldDesc& field, void* buffer, int16_t* indicator) {
    DefineArrayData(field, buffer, 0, 0, indicator);
}

OCIDefine* TOCICommand::DefineLong(TFieldDesc& field, void* buffer, int16_t* indicator) {
    CheckOCI80();
    TCallLock lock(FOracleConnection);
    OCIDefine* define = DefineHandleOf(field);
    Check(OCIDefineByPos(Statement(), &define, ErrorHandle(), field.ActualFieldNo, buffer, MaxLongSize,
                         GetOraType(field.DataType, field.SubDataType), indicator, nullptr, nullptr,
                         OCI_DYNAMIC_FETCH));
    SetDefineHandle(field, define);
    return define;
}

void TOCICommand::DefinePieceData(TFieldDesc& field, void* buffer, int16_t* indicator) {
    DefineLong(field, buffer, indicator);
}

void TOCICommand::DefineDynamic(TFieldDesc& field, void* context, OCICallbackDefine callback, ub2 charsetId) {
    TCallLock lock(FOracleConnection);
    OCIDefine* define = DefineLong(field, nullptr, nullptr);  // the callback gives a buffer per piece
    OCIError* err = ErrorHandle();
    Check(OCIDefineDynamic(define, err, context, callback));
    if (charsetId > 0) Check(OCIAttrSet(define, OCI_HTYPE_DEFINE, &charsetId, 0, OCI_ATTR_CHARSET_ID, err));
}

// ---------------------------------------------------------------------------------------------
// Fetching

int TOCICommand::Fetch(ub4 rows, ub2 orientation, sb4 offset) {
    const TCursorState oldState = GetCursorState();
    CheckActive();
    CheckOCI80();
    bool fetchAll = oldState == csFetchingAll;
    int fetched = 0;
    if (oldState > csExecuteFetchAll) {
        OCIError* err = ErrorHandle();
        sword status;
        ub4 count = 0;
        {
            TStatementLock statementLock(*this);
            TCallLock lock(FOracleConnection);
            status = orientation == OCI_FETCH_NEXT
                         ? OCIStmtFetch(Statement(), err, rows, OCI_FETCH_NEXT, OCI_DEFAULT)
                         : OCIStmtFetch2(Statement(), err, rows, orientation, offset, OCI_DEFAULT);
            try {
                RaiseCallbackError();
                if (status != OCI_SUCCESS && status != OCI_NO_DATA) Check(status);  // 1: the info hook
            } catch (...) {
                FinishFetch();
                throw;
            }
            Check(OCIAttrGet(Statement(), OCI_HTYPE_STMT, &count, nullptr, OCI_ATTR_ROW_COUNT, err));
        }
        fetched = count > static_cast<ub4>(FFetchedRows) ? static_cast<int>(count) - FFetchedRows : 0;
        FFetchedRows = static_cast<int32_t>(count);
        if (status == OCI_NO_DATA && !FCursor->Scrollable) FinishFetch();
    } else {
        fetchAll = oldState == csExecuteFetchAll;
        const int32_t before = FFetchedRows;
        const sword status = InternalExecute(FCursor->Scrollable ? OCI_STMT_SCROLLABLE_READONLY : OCI_DEFAULT,
                                             static_cast<int>(rows));
        ub4 count = static_cast<ub4>(FRowsProcessed);
        if (status == OCI_SUCCESS) {
            fetched = static_cast<int>(rows);
        } else {
            fetched = static_cast<int>(count) - before;
            if (fetched < 0) fetched = 0;
        }
        FFetchedRows = static_cast<int32_t>(count);
        if (status == OCI_NO_DATA && !FCursor->Scrollable) FinishFetch();
    }
    if (GetCursorState() < csFetching) SetCursorState(fetchAll ? csFetchingAll : csFetching);
    return fetched;
}

sword TOCICommand::FetchPiece(ub2 orientation, sb4 offset) {
    CheckActive();
    CheckOCI80();
    OCIError* err = ErrorHandle();
    sword status;
    {
        TStatementLock statementLock(*this);
        TCallLock lock(FOracleConnection);
        status = orientation == OCI_FETCH_NEXT
                     ? OCIStmtFetch(Statement(), err, 1, OCI_FETCH_NEXT, OCI_DEFAULT)
                     : OCIStmtFetch2(Statement(), err, 1, orientation, offset, OCI_DEFAULT);
        RaiseCallbackError();
        if (status == OCI_SUCCESS_WITH_INFO) {
            Check(status);
            status = OCI_SUCCESS;
        } else if (status != OCI_SUCCESS && status != OCI_NEED_DATA && status != OCI_NO_DATA) {
            Check(status);
        }
    }
    if (status == OCI_NO_DATA && !FCursor->Scrollable) FinishFetch();
    if (GetCursorState() < csFetching) SetCursorState(csFetching);
    return status;
}

void TOCICommand::FinishFetch() {
    CheckActive();
    SetCursorState(csFetched);
}

void TOCICommand::InternalUnPrepare() {
    CheckActive();
    try {
        TStatementLock statementLock(*this);
        TCallLock lock(FOracleConnection);
        if (FOracleConnection && FCursor->EnvironmentHandle) {
            FCursor->EnvironmentHandle = FOracleConnection->GetEnvironment();
            FCursor->UnicodeEnvironment = FOracleConnection->UnicodeEnv();
        }
        FCursor->ErrorHandle = ErrorHandle();
        FCursor->FreeCursor();
    } catch (...) {
        FCursor->State = csInactive;
        FSQLType = SQL_UNKNOWN;
        throw;
    }
    FCursor->State = csInactive;
    FSQLType = SQL_UNKNOWN;
}

}  // namespace dac
