// TOCICommand: describing a stored procedure into parameter descriptors and building the PL/SQL
// block that calls it.
#include <memory>
#include <utility>

#include "dataaccess/oracle/OraClasses.h"
#include "platform/rtl/Format.h"
#include "platform/rtl/Numbers.h"
#include "platform/rtl/Strings.h"

namespace dac {

namespace {

constexpr ub1 PTYPE_ARG = 10;
constexpr ub4 ATTR_LIST_TYPE_METHODS = 231;

[[noreturn]] void RaiseNoObject(const AnsiString& name) {
    throw EOraError(4043, rtl::Format("Object %s does not exist", {name}));
}

// A handle or descriptor of the describe, given back at scope end.
class TDescribeHandle {
public:
    TDescribeHandle(void* handle, ub4 type) : handle_(handle), type_(type) {}
    ~TDescribeHandle() { Free(); }
    TDescribeHandle(const TDescribeHandle&) = delete;
    TDescribeHandle& operator=(const TDescribeHandle&) = delete;
    void* Get() const { return handle_; }
    void* Release() { return std::exchange(handle_, nullptr); }
    void Free() {
        if (!handle_) return;
        if (type_ == OCI_DTYPE_PARAM)
            OCIDescriptorFree(handle_, type_);
        else
            OCIHandleFree(handle_, type_);
        handle_ = nullptr;
    }

private:
    void* handle_;
    ub4 type_;
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// Describing

void TOCICommand::InitProcParams(const AnsiString& name, int overload) {
    CheckSession();
    FCallStyle = FOracleConnection->GetStatementCallStyle();
    CheckOCI();
    // The OCI 7 description (odessp), also used for 8.0.5 servers, needs OCI 7 logon data areas,
    // which this client does not offer.
    if (FCallStyle != ocsOCI8 || FOracleConnection->GetOracleVersion() == 8050) CheckOCI80();
    if (FOracleConnection->GetOracleVersion() == 8050) RaiseError("Need Oracle 7.3 Call Interface");
    DescribeProcedure8(name, overload);
}

void TOCICommand::DescribeProcedure8(const AnsiString& procName, int overload) {
    OCIError* err = ErrorHandle();
    const bool unicodeEnv = FOracleConnection->UnicodeEnv();
    const bool unicode = FOracleConnection->UseUnicode();
    TCallLock lock(FOracleConnection);

    auto attrInt = [&](void* handle, ub4 type, ub4 attribute) {
        int64_t value = 0;  // zeroed: the library may write fewer bytes than asked for
        Check(OCIAttrGet(handle, type, &value, nullptr, attribute, err));
        return value;
    };
    auto attrPtr = [&](void* handle, ub4 type, ub4 attribute) {
        void* value = nullptr;
        Check(OCIAttrGet(handle, type, &value, nullptr, attribute, err));
        return value;
    };
    auto attrText = [&](void* handle, ub4 attribute) {
        void* text = nullptr;
        ub4 size = 0;
        Check(OCIAttrGet(handle, OCI_DTYPE_PARAM, &text, &size, attribute, err));
        return text ? OCITextToStringLen(text, static_cast<int>(size), unicodeEnv) : AnsiString();
    };

    void* raw = nullptr;
    Check(OCIHandleAlloc(FOracleConnection->GetEnvironment(), &raw, OCI_HTYPE_DESCRIBE, 0, nullptr));
    TDescribeHandle describe(raw, OCI_HTYPE_DESCRIBE);
    ub1 descPublic = 0;
    Check(OCIAttrSet(describe.Get(), OCI_HTYPE_DESCRIBE, &descPublic, 0, OCI_ATTR_DESC_PUBLIC, err));
    if (overload == 1) overload = 0;
    int matches = 0;
    AnsiString name = rtl::AnsiUpperCase(procName);

    // Resolve the name to the procedure or function it means.
    void* procedure = nullptr;
    std::unique_ptr<TDescribeHandle> takenEntry;
    for (;;) {
        const size_t dot1 = name.find('.');
        const size_t dot2 = dot1 == AnsiString::npos ? AnsiString::npos : name.find('.', dot1 + 1);
        AnsiString object = dot2 != AnsiString::npos ? name.substr(0, dot2) : name;
        auto describeName = [&](const AnsiString& text) {
            TOCIText ociName(text, unicodeEnv);
            return OCIDescribeAny(SvcCtx(), err, ociName.Ptr(), static_cast<ub4>(ociName.Size()),
                                  OCI_OTYPE_NAME, OCI_DEFAULT, OCI_PTYPE_UNK,
                                  static_cast<OCIDescribe*>(describe.Get()));
        };
        sword status = describeName(object);
        if (status != OCI_SUCCESS && dot1 != AnsiString::npos && dot2 == AnsiString::npos) {
            object = name.substr(0, dot1);  // PKG.PROC: the package
            status = describeName(object);
        }
        Check(status);
        const size_t subPos = dot2 != AnsiString::npos ? dot2 : dot1;
        const AnsiString subName = subPos != AnsiString::npos && object.size() < name.size()
                                       ? name.substr(subPos + 1)
                                       : AnsiString();
        void* param = attrPtr(describe.Get(), OCI_HTYPE_DESCRIBE, OCI_ATTR_PARAM);
        const auto ptype = static_cast<ub1>(attrInt(param, OCI_DTYPE_PARAM, OCI_ATTR_PTYPE));
        if (ptype == OCI_PTYPE_PROC || ptype == OCI_PTYPE_FUNC) {
            procedure = param;
            break;
        }
        if (ptype == OCI_PTYPE_PKG || ptype == OCI_PTYPE_TYPE) {
            const bool package = ptype == OCI_PTYPE_PKG;
            void* list =
                attrPtr(param, OCI_DTYPE_PARAM, package ? OCI_ATTR_LIST_SUBPROGRAMS : ATTR_LIST_TYPE_METHODS);
            const int count = static_cast<uint16_t>(attrInt(list, OCI_DTYPE_PARAM, OCI_ATTR_NUM_PARAMS));
            const int first = package ? 0 : 1;
            for (int i = first; i < first + count && !takenEntry; ++i) {
                void* entry = nullptr;
                Check(OCIParamGet(list, OCI_DTYPE_PARAM, err, &entry, static_cast<ub4>(i)));
                auto holder = std::make_unique<TDescribeHandle>(entry, OCI_DTYPE_PARAM);
                if (!rtl::AnsiSameText(attrText(entry, OCI_ATTR_NAME), subName)) continue;
                if (overload > 0) ++matches;
                if (matches == overload) takenEntry = std::move(holder);
            }
            if (!takenEntry) RaiseNoObject(name);
            procedure = takenEntry->Get();
            break;
        }
        if (ptype == OCI_PTYPE_SYN) {
            name = attrText(param, OCI_ATTR_SCHEMA_NAME) + "." + attrText(param, OCI_ATTR_NAME);
            if (!subName.empty()) name += "." + subName;
            continue;
        }
        RaiseNoObject(object);
    }

    // Its arguments.
    void* arguments = attrPtr(procedure, OCI_DTYPE_PARAM, OCI_ATTR_LIST_ARGUMENTS);
    int count = static_cast<uint16_t>(attrInt(arguments, OCI_DTYPE_PARAM, OCI_ATTR_NUM_PARAMS));
    const auto procType = static_cast<ub1>(attrInt(procedure, OCI_DTYPE_PARAM, OCI_ATTR_PTYPE));
    int listType;
    if (OCIVersion >= 8100) {
        listType = static_cast<int>(attrInt(arguments, OCI_DTYPE_PARAM, OCI_ATTR_LTYPE));
    } else if (procType == OCI_PTYPE_FUNC) {
        listType = OCI_LTYPE_ARG_FUNC;
    } else {
        void* probe = nullptr;
        listType = takenEntry && OCIParamGet(arguments, OCI_DTYPE_PARAM, err, &probe, 0) == OCI_SUCCESS
                       ? OCI_LTYPE_ARG_FUNC
                       : OCI_LTYPE_ARG_PROC;
        if (probe) OCIDescriptorFree(probe, OCI_DTYPE_PARAM);
    }
    FParams.Clear();
    const bool function = listType == OCI_LTYPE_ARG_FUNC || listType == OCI_LTYPE_TYPE_ARG_FUNC;
    if (listType == OCI_LTYPE_ARG_FUNC) --count;
    void* tableList = nullptr;  // the argument list of an index-by table whose element comes next
    std::unique_ptr<TDescribeHandle> tableArgument;  // kept until its element is read
    TOraParamDesc* param = nullptr;
    for (int i = function ? 0 : 1; i <= count;) {
        void* rawArgument = nullptr;
        Check(OCIParamGet(tableList ? tableList : arguments, OCI_DTYPE_PARAM, err, &rawArgument,
                          static_cast<ub4>(tableList ? 1 : i)));
        TDescribeHandle argument(rawArgument, OCI_DTYPE_PARAM);
        const auto ptype = static_cast<ub1>(attrInt(rawArgument, OCI_DTYPE_PARAM, OCI_ATTR_PTYPE));
        const auto oraType = static_cast<ub2>(attrInt(rawArgument, OCI_DTYPE_PARAM, OCI_ATTR_DATA_TYPE));
        const bool element = tableList != nullptr;
        tableList = nullptr;
        tableArgument.reset();
        if (oraType == 0 || matches != overload) {
            ++i;
            continue;
        }
        if (!element) {
            param = static_cast<TOraParamDesc*>(AddParam());
            if (i == 0) {
                param->SetName("RESULT");
                param->SetParamType(ptResult);
            } else {
                param->SetName(attrText(rawArgument, OCI_ATTR_NAME));
                const auto mode = attrInt(rawArgument, OCI_DTYPE_PARAM, OCI_ATTR_IOMODE);
                param->SetParamType(mode == OCI_TYPEPARAM_OUT     ? ptOutput
                                    : mode == OCI_TYPEPARAM_INOUT ? ptInputOutput
                                                                  : ptInput);
                param->SetHasDefault(attrInt(rawArgument, OCI_DTYPE_PARAM, OCI_ATTR_HAS_DEFAULT) != 0);
            }
        }
        int dataSize = 0, scale = 0, precision = 0;
        if (ptype == PTYPE_ARG) {
            dataSize = static_cast<uint16_t>(attrInt(rawArgument, OCI_DTYPE_PARAM, OCI_ATTR_DATA_SIZE));
            scale = static_cast<int8_t>(attrInt(rawArgument, OCI_DTYPE_PARAM, OCI_ATTR_SCALE));
            precision = static_cast<uint16_t>(attrInt(rawArgument, OCI_DTYPE_PARAM, OCI_ATTR_PRECISION));
        }
        auto national = [&] { return attrInt(rawArgument, OCI_DTYPE_PARAM, OCI_ATTR_CHARSET_FORM) == 2; };
        auto typeName = [&] {
            const AnsiString schema = attrText(rawArgument, OCI_ATTR_SCHEMA_NAME);
            const AnsiString type = attrText(rawArgument, OCI_ATTR_TYPE_NAME);
            return type.empty() || schema.empty() ? type : schema + "." + type;
        };
        switch (oraType) {
            case SQLT_CHR:
            case SQLT_AFC:
                if (oraType == SQLT_CHR)
                    param->SetDataType(unicode ? dtWideString : dtString);
                else
                    param->SetDataType(unicode ? dtFixedWideChar : dtFixedChar);
                if (dataSize != 0) param->SetSize(dataSize);
                param->SetNationalFlag(national());
                break;
            case SQLT_NUM: {
                if (precision == 0) {
                    precision = 38;
                    if (scale == 0) scale = 127;
                }
                const bool integers = FOracleConnection->EnableIntegers();
                TDataType type;
                if (integers && GetSmallintPrecision() >= precision && scale == 0)
                    type = dtSmallint;
                else if (integers && GetIntegerPrecision() >= precision && scale == 0)
                    type = dtInteger;
                else if (integers && GetLargeintPrecision() >= precision && scale == 0)
                    type = dtLargeint;
                else if (GetFloatPrecision() >= precision)
                    type = dtFloat;
                else if ((FOracleConnection->EnableBCD() || FEnableBCD) && GetBCDPrecision() >= precision &&
                         scale >= 0 && GetBCDScale() >= scale)
                    type = dtBCD;
                else if ((FOracleConnection->EnableFMTBCD() || FEnableFMTBCD) &&
                         GetFmtBCDPrecision() >= precision && scale >= 0 && GetFmtBCDScale() >= scale)
                    type = dtFmtBcd;
                else
                    type = FOracleConnection->EnableNumbers() ? dtNumber : dtFloat;
                param->SetDataType(type);
                break;
            }
            case SQLT_INT:
                param->SetDataType(dtInteger);
                break;
            case SQLT_LNG:
                param->SetDataType(unicode ? dtWideMemo : dtMemo);
                break;
            case SQLT_RID:
            case SQLT_RDD:
                param->SetDataType(unicode ? dtWideString : dtString);
                param->SetSize(19);
                break;
            case SQLT_DAT:
                param->SetDataType(dtDateTime);
                break;
            case SQLT_BIN:
                param->SetDataType(dtVarBytes);
                if (dataSize != 0) param->SetSize(dataSize);
                break;
            case SQLT_LBI:
                param->SetDataType(dtBlob);
                break;
            case SQLT_IBFLOAT:
            case SQLT_IBDOUBLE:
                param->SetDataType(dtFloat);
                param->SetSubDataType(oraType == SQLT_IBFLOAT ? dtBFloat : dtBDouble);
                break;
            case SQLT_CUR:
                param->SetDataType(dtCursor);
                break;
            case SQLT_REF:
                param->SetDataType(dtReference);
                param->TypeName = typeName();
                break;
            case SQLT_CLOB:
                param->SetDataType(dtOraClob);
                break;
            case SQLT_BLOB:
                param->SetDataType(dtOraBlob);
                break;
            case SQLT_BFILEE:
                param->SetDataType(dtBFile);
                break;
            case SQLT_CFILEE:
                param->SetDataType(dtCFile);
                break;
            case 122:  // nested table
                param->SetDataType(dtTable);
                param->TypeName = typeName();
                break;
            case 123:  // VARRAY
                param->SetDataType(dtArray);
                param->TypeName = typeName();
                break;
            case SQLT_NTY: {
                const AnsiString name = typeName();
                const bool xml = rtl::AnsiSameText(name, "SYS.XMLTYPE") || rtl::AnsiSameText(name, "XMLTYPE");
                param->SetDataType(xml ? dtXML : dtObject);
                if (!xml) param->TypeName = name;
                break;
            }
            case SQLT_TIMESTAMP:
            case SQLT_TIMESTAMP_TZ:
            case SQLT_TIMESTAMP_LTZ:
                param->SetDataType(FOracleConnection->UseSQLTimeStamp() ? dtSQLTimeStamp
                                   : oraType == SQLT_TIMESTAMP          ? dtTimeStamp
                                   : oraType == SQLT_TIMESTAMP_TZ       ? dtTimeStampTZ
                                                                        : dtTimeStampLTZ);
                break;
            case SQLT_INTERVAL_YM:
                param->SetDataType(dtIntervalYM);
                break;
            case SQLT_INTERVAL_DS:
                param->SetDataType(dtIntervalDS);
                break;
            case SQLT_REC:
                break;
            case SQLT_TAB:
                tableList = attrPtr(rawArgument, OCI_DTYPE_PARAM, OCI_ATTR_LIST_ARGUMENTS);
                tableArgument = std::make_unique<TDescribeHandle>(argument.Release(), OCI_DTYPE_PARAM);
                param->SetTable(true);
                param->SetLength(1);
                continue;  // the element at the same index fills this descriptor
            case SQLT_BOL:
                param->SetDataType(dtBoolean);
                break;
            default:
                // Named object types need type descriptions, which this client has not.
                RaiseError(rtl::Format("Unsupported data type [%d]", {static_cast<int>(oraType)}));
        }
        if (!param->GetBufferAllocated() && param->GetDataType() != dtUnknown) param->AllocBuffer();
        ++i;
    }
}

// ---------------------------------------------------------------------------------------------
// The call block

void TOCICommand::CreateProcCall(const AnsiString& name, bool needDescribe, AnsiString& sql) {
    AnsiString procName = name;
    int overload = 0;
    if (const size_t colon = name.find(':'); colon != AnsiString::npos) {
        try {
            overload = rtl::StrToInt(rtl::Trim(name.substr(colon + 1)));
            procName = name.substr(0, colon);
        } catch (const rtl::EConvertError&) {
            overload = 0;  // not an overload number: the colon belongs to the name
        }
    }
    if (needDescribe) InitProcParams(procName, overload);

    TOraParamDesc* result = nullptr;
    for (int i = 0; i < GetParamCount() && !result; ++i) {
        TOraParamDesc* p = GetParam(i);
        if (p->GetParamType() == ptResult || p->GetIsResult()) result = p;
    }
    bool named = false;
    bool seenTakingPart = false;
    for (int i = GetParamCount() - 1; i >= 0; --i) {
        TOraParamDesc* p = GetParam(i);
        if (p == result) continue;
        if (NeedBindParam(p))
            seenTakingPart = true;
        else if (seenTakingPart)
            named = true;
    }

    const char cr = '\r';
    AnsiString declarations, afterCall, arguments;
    AnsiString resultRef;
    for (int i = 0; i < GetParamCount(); ++i) {
        TOraParamDesc* p = GetParam(i);
        if (p != result && !NeedBindParam(p)) continue;
        const AnsiString& pname = p->GetName();
        const uint8_t direction = p->GetParamType();
        AnsiString reference;
        if (p->GetDataType() == dtBoolean) {
            reference = "v_" + pname;
            declarations += "  v_" + pname + " boolean";
            if (direction == ptUnknown || direction == ptInput || direction == ptInputOutput)
                declarations += " := sys.DIUTIL.INT_TO_BOOL(:" + pname + ");";
            else
                declarations += ";";
            declarations += cr;
            if (direction != ptInput)
                afterCall += "  :" + pname + " := sys.DIUTIL.BOOL_TO_INT(v_" + pname + ");" + cr;
        } else {
            reference = ":" + pname;
        }
        if (p == result) {
            resultRef = reference;
            continue;
        }
        if (named) reference = pname + " => " + reference;
        arguments += arguments.empty() ? "(" : ", ";
        arguments += reference;
    }
    if (!arguments.empty()) arguments += ")";
    AnsiString block;
    if (!declarations.empty()) block += "declare" + AnsiString(1, cr) + declarations;
    block += "begin" + AnsiString(1, cr);
    block += "  " + (result ? resultRef + " := " : AnsiString()) + procName + arguments + ";" + cr;
    block += afterCall;
    block += "end;";

    if (result && result->GetParamType() == ptResult && !FKeepResultParams) {
        result->SetParamType(ptOutput);
        result->SetIsResult(true);
    }
    sql = block;
    FSQL = block;
    FParsedSQL = block;
}

}  // namespace dac
