// TOCIConnection: session settings, versions, schema and the property ids.
#include <cstring>

#include "dataaccess/oracle/OraClasses.h"
#include "platform/rtl/Strings.h"

namespace dac {

namespace {

const char* const OptimizerModeNames[] = {
    "",           "FIRST_ROWS_1000", "FIRST_ROWS_100", "FIRST_ROWS_10", "FIRST_ROWS_1",
    "FIRST_ROWS", "ALL_ROWS",        "CHOOSE",         "RULE"};

// A value inside a single-quoted SQL literal.
AnsiString QuoteLiteral(const AnsiString& value) {
    AnsiString result = "'";
    for (char c : value) {
        result += c;
        if (c == '\'') result += '\'';
    }
    return result + "'";
}

bool IsPlainIdentifier(const AnsiString& name) {
    if (name.empty() || !std::isalpha(static_cast<unsigned char>(name[0]))) return false;
    for (char c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '$' && c != '#') return false;
    return true;
}

// A schema name as the statement gets it: a plain identifier or a quoted name as it is, anything
// else quoted, so that the value cannot add to the statement.
AnsiString SchemaForStatement(const AnsiString& schema) {
    if (IsPlainIdentifier(schema)) return schema;
    if (IsQuotedName(schema) && schema.find('"', 1) == schema.size() - 1) return schema;
    AnsiString inner;
    for (char c : schema)
        if (c != '"') inner += c;
    return "\"" + inner + "\"";
}

int NlsIndexOfProp(int prop) {
    switch (prop) {
        case prDateLanguage:
            return nlsDateLanguage;
        case prDateFormat:
            return nlsDateFormat;
        case prNumericCharacters:
            return nlsNumericCharacters;
        case prTimeStampFormat:
            return nlsTimeStampFormat;
        case prTimeStampTZFormat:
            return nlsTimeStampTZFormat;
        default:
            return -1;
    }
}

TOCISessionParam OutString(const char* name, int size) {
    TOCISessionParam p;
    p.Name = name;
    p.Output = true;
    p.Size = size;
    return p;
}

TOCISessionParam OutInteger(const char* name) {
    TOCISessionParam p;
    p.Name = name;
    p.Output = true;
    p.IsInteger = true;
    return p;
}

TOCISessionParam InString(const char* name, const AnsiString& value) {
    TOCISessionParam p;
    p.Name = name;
    p.Value = value;
    p.Size = static_cast<int>(value.size());
    p.IsNull = false;
    return p;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Session statements

void TOCIConnection::ExecSessionSQL(const AnsiString& sql, std::vector<TOCISessionParam>& params) {
    if (FOCICallStyle != ocsOCI8) CheckOCI80();
    struct TBuffer {
        std::vector<char> Text;
        int32_t Int = 0;
        sb2 Indicator = -1;
    };
    std::vector<TBuffer> buffers(params.size());
    OCIError* err = GetErrorHandle();
    Lock();
    void* stmt = nullptr;
    try {
        Check(OCIHandleAlloc(FEnvironment ? FEnvironment : OCIEnvHandle, &stmt, OCI_HTYPE_STMT, 0, nullptr));
        auto* st = static_cast<OCIStmt*>(stmt);
        TOCIText text(sql, FUnicodeEnv);
        Check(
            OCIStmtPrepare(st, err, text.Ptr(), static_cast<ub4>(text.Size()), OCI_NTV_SYNTAX, OCI_DEFAULT));
        for (size_t i = 0; i < params.size(); ++i) {
            auto& p = params[i];
            auto& b = buffers[i];
            void* value;
            sb4 size;
            ub2 type;
            if (p.IsInteger) {
                b.Int = p.IntValue;
                b.Indicator = (!p.Output && !p.IsNull) ? 0 : -1;
                value = &b.Int;
                size = sizeof b.Int;
                type = SQLT_INT;
            } else {
                size_t capacity = p.Output ? static_cast<size_t>(std::max(p.Size, 0)) : p.Value.size();
                if (capacity < p.Value.size()) capacity = p.Value.size();
                b.Text.assign(capacity + 1, 0);
                if (!p.Output || !p.IsNull) std::memcpy(b.Text.data(), p.Value.data(), p.Value.size());
                // An empty input string is bound as null.
                b.Indicator = (p.Output && p.IsNull) || p.Value.empty() ? -1 : 0;
                value = b.Text.data();
                size = static_cast<sb4>(b.Text.size());
                type = SQLT_STR;
            }
            OCIBind* bind = nullptr;
            AnsiString name = ":" + p.Name;
            TOCIText bindName(name, FUnicodeEnv);
            Check(OCIBindByName(st, &bind, err, bindName.Ptr(), bindName.Size(), value, size, type,
                                &b.Indicator, nullptr, nullptr, 0, nullptr, OCI_DEFAULT));
        }
        Check(OCIStmtExecute(FSvcCtx, st, err, 1, 0, nullptr, nullptr, OCI_DEFAULT));
        for (size_t i = 0; i < params.size(); ++i) {
            auto& p = params[i];
            if (!p.Output) continue;
            auto& b = buffers[i];
            p.IsNull = b.Indicator == -1;
            if (p.IsInteger)
                p.IntValue = p.IsNull ? 0 : b.Int;
            else
                p.Value = p.IsNull ? AnsiString() : AnsiString(b.Text.data());
        }
    } catch (...) {
        if (stmt) OCIHandleFree(stmt, OCI_HTYPE_STMT);
        Release();
        throw;
    }
    OCIHandleFree(stmt, OCI_HTYPE_STMT);
    Release();
}

// ---------------------------------------------------------------------------------------------
// Versions

void TOCIConnection::GetServerVersionFull(AnsiString& version) {
    if (FServerVersionFull.empty()) {
        if (OCILite) {
            FServerVersionFull = OCIVersionText + " Lite";
        } else if (FOCICallStyle != ocsOCI7) {
            const size_t chars = 255;
            std::vector<unsigned char> buffer((chars + 1) * OCICharSize(FUnicodeEnv), 0);
            Check(OCIServerVersion(FSvcCtx, GetErrorHandle(), buffer.data(),
                                   static_cast<ub4>(chars * OCICharSize(FUnicodeEnv)), OCI_HTYPE_SVCCTX));
            FServerVersionFull = OCITextToString(buffer.data(), FUnicodeEnv);
        } else {
            std::vector<TOCISessionParam> params{OutString("Product", 65), OutString("Version", 65)};
            try {
                ExecSessionSQL(
                    "begin SELECT Product, Version INTO :Product, :Version FROM "
                    "SYS.PRODUCT_COMPONENT_VERSION WHERE Upper(Product) LIKE '%ORACLE%'; end;",
                    params);
                FServerVersion = params[1].Value;
                FServerVersionFull = params[0].Value + params[1].Value;
            } catch (const EOraError& e) {
                if (e.ErrorCode != 6550) throw;
                FServerVersion.clear();
                FServerVersionFull.clear();
            }
        }
    }
    version = FServerVersionFull;
}

void TOCIConnection::GetServerVersion(AnsiString& version) {
    if (FServerVersion.empty()) {
        AnsiString banner;
        GetServerVersionFull(banner);
        if (FServerVersion.empty()) FServerVersion = ParseServerVersion(banner);
    }
    version = FServerVersion;
}

void TOCIConnection::GetClientVersion(AnsiString& version) {
    version = OCIVersionText;
}

uint16_t TOCIConnection::GetOracleVersion() {
    if (FOracleVersion == 0) {
        AnsiString version;
        GetServerVersion(version);
        FOracleVersion = OCIVersionToNumber(version);
    }
    return FOracleVersion;
}

uint16_t TOCIConnection::GetMaxStringSize() {
    if (FMaxStringSize == 0 && FConnected)
        FMaxStringSize = (FOCICallStyle != ocsOCI7 && GetOracleVersion() / 1000 != 7) ? 4000 : 2000;
    return FMaxStringSize;
}

// ---------------------------------------------------------------------------------------------
// Schema

AnsiString TOCIConnection::GetDefaultSchema() {
    if (FConnectMode == cmSysOper || FConnectMode == cmSysDBA) return "SYS";
    return FUsername;
}

AnsiString TOCIConnection::GetCurrentSchema() {
    if (!FConnected) RaiseError("Operation is not allowed when the connection is closed");
    if (GetOracleVersion() < 8100 || OCILite) return FSchema.empty() ? GetDefaultSchema() : FSchema;
    std::vector<TOCISessionParam> params{OutString("Result", 50)};
    ExecSessionSQL("begin  :Result := SYS_CONTEXT ('USERENV', 'CURRENT_SCHEMA');end;", params);
    return params[0].Value;
}

AnsiString TOCIConnection::GetCachedSchema() {
    if (FCachedSchema.empty())
        FCachedSchema = FSchema.empty() ? GetCurrentSchema() : OCISQLInfo().NormalizeName(FSchema);
    return FCachedSchema;
}

void TOCIConnection::SetCurrentSchema(AnsiString schema) {
    if (OCILite) RaiseError("Schema feature is not supported with Oracle Lite servers");
    if (!FConnected) RaiseError("Operation is not allowed when the connection is closed");
    if (schema.empty()) schema = GetDefaultSchema();
    std::vector<TOCISessionParam> none;
    try {
        ExecSessionSQL("ALTER SESSION SET CURRENT_SCHEMA = " + SchemaForStatement(schema), none);
    } catch (const EOraError& e) {
        if (e.ErrorCode == 1435) throw EOraError(1435, "Schema does not exist\n", Component);
        throw;
    }
    FSchema = schema;
    FCachedSchema.clear();
}

// ---------------------------------------------------------------------------------------------
// Session parameters

void TOCIConnection::SetSessionParameter(const AnsiString& name, const AnsiString& value) {
    if (!FConnected) return;
    std::vector<TOCISessionParam> none;
    ExecSessionSQL("ALTER SESSION SET " + name + "=" + QuoteLiteral(value), none);
}

void TOCIConnection::SetStatementCacheSize(int size) {
    if (!FStatementCache || FOCICallStyle != ocsOCI8 || OCIVersion <= 9200) return;
    CheckOCI80();
    ub4 value = static_cast<ub4>(size);
    Check(OCIAttrSet(FSvcCtx, OCI_HTYPE_SVCCTX, &value, 4, OCI_ATTR_STMTCACHESIZE, GetErrorHandle()));
}

void TOCIConnection::ReadSessionParameters() {
    if (!FConnected || OCILite) return;
    FCharsetId = 0;
    const bool v8 = GetOracleVersion() >= 8000;
    AnsiString sql =
        "declare  cursor NlsParamsCursor is    SELECT * FROM nls_session_parameters;begin  SELECT "
        "Nvl(Lengthb(Chr(65536)), Nvl(Lengthb(Chr(256)), 1))    INTO :CharLength FROM dual;  for NlsRecord "
        "in "
        "NlsParamsCursor loop    if NlsRecord.parameter = 'NLS_DATE_LANGUAGE' then      :NlsDateLanguage := "
        "NlsRecord.value;    elsif NlsRecord.parameter = 'NLS_DATE_FORMAT' then      :NlsDateFormat := "
        "NlsRecord.value;    elsif NlsRecord.parameter = 'NLS_NUMERIC_CHARACTERS' then      "
        ":NlsNumericCharacters := NlsRecord.value;";
    if (v8)
        sql +=
            "    elsif NlsRecord.parameter = 'NLS_TIMESTAMP_FORMAT' then      :NlsTimeStampFormat := "
            "NlsRecord.value;    elsif NlsRecord.parameter = 'NLS_TIMESTAMP_TZ_FORMAT' then      "
            ":NlsTimeStampTZFormat := NlsRecord.value;";
    sql += "    end if;  end loop;";
    const bool withCharset = !FCharset.empty() && v8;
    if (withCharset) sql += "  SELECT NLS_CHARSET_ID(:Charset) INTO :CharsetId FROM dual;";
    sql += "end;";

    std::vector<TOCISessionParam> params{OutInteger("CharLength"), OutString("NlsDateLanguage", 40),
                                         OutString("NlsDateFormat", 40),
                                         OutString("NlsNumericCharacters", 40)};
    if (v8) {
        params.push_back(OutString("NlsTimeStampFormat", 40));
        params.push_back(OutString("NlsTimeStampTZFormat", 40));
    }
    if (withCharset) {
        params.push_back(InString("Charset", FCharset));
        params.push_back(OutInteger("CharsetId"));
    }
    try {
        ExecSessionSQL(sql, params);
    } catch (const EOraError& e) {
        // A lost connection is no missing setting: it must reach the caller.
        if (e.IsFatalError()) throw;
    } catch (const EFailOver&) {
        throw;
    } catch (const rtl::Exception&) {
    }
    if (FCharLengthToRead) FCharLength = params[0].IsNull ? 1 : static_cast<uint16_t>(params[0].IntValue);
    FNlsParams[nlsDateLanguage].Value = params[1].Value;
    FNlsParams[nlsDateFormat].Value = params[2].Value;
    FNlsParams[nlsNumericCharacters].Value = params[3].Value;
    if (v8) {
        FNlsParams[nlsTimeStampFormat].Value = params[4].Value;
        FNlsParams[nlsTimeStampTZFormat].Value = params[5].Value;
    }
    if (!FCharset.empty()) {
        const TOCISessionParam* id = withCharset ? &params.back() : nullptr;
        if (!id || id->IsNull) RaiseError("Cannot find charset " + FCharset);
        FCharsetId = static_cast<uint16_t>(id->IntValue);
    }
}

void TOCIConnection::ApplyOptimizerMode() {
    if (FOptimizerMode == omDefault) return;
    TOptimizerMode mode = FOptimizerMode;
    if (GetOracleVersion() < 9000 && mode >= omFirstRows1000 && mode <= omFirstRows1) mode = omFirstRows;
    std::vector<TOCISessionParam> none;
    ExecSessionSQL(AnsiString("ALTER SESSION SET OPTIMIZER_MODE = ") + OptimizerModeNames[mode], none);
}

void TOCIConnection::ApplyClientIdentifier() {
    AnsiString trimmed = rtl::TrimLeft(FClientIdentifier);
    if (!trimmed.empty() && trimmed[0] == ':')
        RaiseError("The first character of the ClientIdentifier should not be ':'");
    if (GetOracleVersion() < 9000) return;
    std::vector<TOCISessionParam> params{InString("a", FClientIdentifier)};
    try {
        ExecSessionSQL("BEGIN DBMS_SESSION.SET_IDENTIFIER(:a); END;", params);
    } catch (const EOraError& e) {
        if (e.ErrorCode != 6550) throw;
        throw EOraError(
            6550,
            "Please execute GRANT EXECUTE ON DBMS_SESSION TO " + FUsername + " as SYS\r\r" + e.Message(),
            Component);
    }
}

// ---------------------------------------------------------------------------------------------
// Properties

bool TOCIConnection::SetProp(int prop, const rtl::Variant& value) {
    if (FPrecisions.SetProp(prop, value)) return true;
    switch (prop) {
        case prThreadSafety:
            FThreadSafety = value.AsBoolean();
            return true;
        case prConnectMode:
            FConnectMode = static_cast<TConnectMode>(value.AsInteger());
            return true;
        case prEnableIntegers:
            FEnableIntegers = value.AsBoolean();
            return true;
        case prInternalName:
            FInternalName = value.AsString();
            return true;
        case prEnableNumbers:
            FEnableNumbers = value.AsBoolean();
            return true;
        case prUseUnicode:
            FUseUnicode = value.AsBoolean();
            return true;
        case prKeepObjectTypes:
            FKeepObjectTypes = value.AsBoolean();
            return true;
        case prConnectionTimeout:
            FConnectionTimeout = value.AsInteger();
            return true;
        case prStatementCache:
            FStatementCache = value.AsBoolean();
            return true;
        case prHomeName:
            FHomeName = value.AsString();
            return true;
        case prUseSQLTimeStamp:
            FUseSQLTimeStamp = value.AsBoolean();
            return true;
        case prIntervalAsString:
            FIntervalAsString = value.AsBoolean();
            return true;
        case prEnableLargeint:
            FEnableLargeint = value.AsBoolean();
            return true;
        case prUnicodeEnvironment:
            FUnicodeEnv = value.AsBoolean();
            return true;
        case prDateLanguage:
        case prDateFormat:
        case prNumericCharacters:
        case prTimeStampFormat:
        case prTimeStampTZFormat: {
            TNlsSessionParam& p = FNlsParams[NlsIndexOfProp(prop)];
            AnsiString s = value.AsString();
            if (s == p.Value) return true;
            p.Value = s;
            p.IsSet = !s.empty();
            if (p.IsSet) SetSessionParameter(p.Name, p.Value);
            return true;
        }
        case prCharLength: {
            auto v = static_cast<uint16_t>(value.AsInteger());
            if (v != FCharLength || (FCharLengthToRead && v != 0)) {
                FCharLength = v;
                FMaxStringSize = 0;
                FCharLengthToRead = v == 0;
                if (v == 0) ReadSessionParameters();
            }
            return true;
        }
        case prCharset: {
            AnsiString s = value.AsString();
            if (s != FCharset) {
                AnsiString oldName = FCharset;
                uint16_t oldId = FCharsetId;
                FCharset = s;
                try {
                    ReadSessionParameters();
                } catch (...) {
                    FCharset = oldName;
                    FCharsetId = oldId;
                    throw;
                }
            }
            return true;
        }
        case prStatementCacheSize:
            FStatementCacheSize = value.AsInteger();
            if (FConnected) SetStatementCacheSize(FStatementCacheSize);
            return true;
        case prDirect:
            return true;
        case prClientIdentifier: {
            AnsiString s = value.AsString();
            if (s != FClientIdentifier) {
                FClientIdentifier = s;
                if (FConnected) ApplyClientIdentifier();
            }
            return true;
        }
        case prOptimizerMode: {
            auto mode = static_cast<TOptimizerMode>(value.AsInteger());
            if (mode != FOptimizerMode) {
                FOptimizerMode = mode;
                if (FConnected) ApplyOptimizerMode();
            }
            return true;
        }
        case prUseOCI7:
            SetOCICallStyle(value.AsBoolean() ? ocsOCI7 : OCIDefaultCallStyle);
            return true;
        case prSchema: {
            AnsiString s = value.AsString();
            if (s != FSchema) {
                FSchema = s;
                if (FConnected) SetCurrentSchema(FSchema);
            }
            return true;
        }
        default:
            return TCRConnection::SetProp(prop, value);
    }
}

bool TOCIConnection::GetProp(int prop, rtl::Variant& value) {
    switch (prop) {
        case prMaxStringSize:
            value = static_cast<int32_t>(GetMaxStringSize());
            return true;
        case prCharLength:
            value = static_cast<int32_t>(FCharLengthToRead ? 0 : FCharLength);
            return true;
        case prCharset:
            value = FCharset;
            return true;
        case prUseUnicode:
            value = FUseUnicode;
            return true;
        case prDateLanguage:
        case prDateFormat:
        case prNumericCharacters:
        case prTimeStampFormat:
        case prTimeStampTZFormat: {
            const TNlsSessionParam& p = FNlsParams[NlsIndexOfProp(prop)];
            if (p.Value.empty()) ReadSessionParameters();
            value = p.Value;
            return true;
        }
        default:
            return TCRConnection::GetProp(prop, value);
    }
}

}  // namespace dac
