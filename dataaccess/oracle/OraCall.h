// The Oracle client library: where it is, loading it, its entry table and the one environment.
//
// Every OCI call of the driver goes through the entry pointers below. Each starts as a stub that
// raises "OCI function is not linked"; LoadOCI binds what the library exports by name. Entries
// whose argument list the driver does not use yet are held untyped (TOCIProc); they get their
// declared type when a caller needs them.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/oci/oci.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Types.h"

namespace dac {

using rtl::AnsiString;

// ---------------------------------------------------------------------------------------------
// Call styles

enum TOCICallStyle : uint8_t { ocsNone = 0, ocsOCI7 = 1, ocsOCI8 = 2 };

// A set of call styles, one bit per style.
class TOCICallStyleSet {
public:
    constexpr TOCICallStyleSet() = default;
    constexpr TOCICallStyleSet(std::initializer_list<TOCICallStyle> styles) {
        for (auto s : styles) bits_ |= Bit(s);
    }
    constexpr bool Contains(TOCICallStyle s) const { return (bits_ & Bit(s)) != 0; }
    constexpr bool Empty() const { return bits_ == 0; }
    constexpr bool operator==(const TOCICallStyleSet&) const = default;

private:
    static constexpr uint8_t Bit(TOCICallStyle s) { return static_cast<uint8_t>(1u << s); }
    uint8_t bits_ = 0;
};

// ---------------------------------------------------------------------------------------------
// Entry table

using TOCIProc = void (*)();

// OCI 7 calls the connection makes (Oracle's published OCI 7 argument lists).
using Tolog = sword (*)(void* lda, ub1* hda, const OraText* uid, sword uidl, const OraText* pswd, sword pswdl,
                        const OraText* conn, sword connl, ub4 mode);
using Tologof = sword (*)(void* lda);
using Toerhms = sword (*)(void* lda, sb2 rcode, OraText* buf, sword bufsiz);
using Tobreak = sword (*)(void* lda);
// Session pools and logon data areas.
using TOCISessionGet = sword (*)(OCIEnv* envhp, OCIError* errhp, OCISvcCtx** svchp, void* authInfop,
                                 const OraText* dbName, ub4 dbName_len, const OraText* tagInfo,
                                 ub4 tagInfo_len, OraText** retTagInfo, ub4* retTagInfo_len, boolean* found,
                                 ub4 mode);
using TOCISessionRelease = sword (*)(OCISvcCtx* svchp, OCIError* errhp, const OraText* tag, ub4 tag_len,
                                     ub4 mode);
using TOCISvcCtxToLda = sword (*)(OCISvcCtx* svchp, OCIError* errhp, void* ldap);
using TOCILdaToSvcCtx = sword (*)(OCISvcCtx** svchpp, OCIError* errhp, void* ldap);

// The failover callback and the value of OCI_ATTR_FOCBK.
using TOCIFailoverCallback = sb4 (*)(void* svchp, void* envhp, void* fo_ctx, ub4 fo_type, ub4 fo_event);
struct TOCIFocbkStruct {
    TOCIFailoverCallback callback_function;
    void* fo_ctx;
};
inline constexpr sb4 OCI_FO_RETRY = 25410;
inline constexpr ub4 OCI_FO_END = 1;

// The six Oracle MTS calls.
using TOraMTSSvcGet = sword (*)(const OraText* user, const OraText* pwd, const OraText* dbname,
                                OCISvcCtx** svc, OCIEnv** env, ub4 flags);
using TOraMTSSvcRel = sword (*)(OCISvcCtx* svc);
using TOraMTSEnlCtxGet = sword (*)(const OraText* user, const OraText* pwd, const OraText* dbname,
                                   OCISvcCtx* svc, OCIError* err, ub4 flags, void** ctx);
using TOraMTSJoinTxn = sword (*)(void* ctx, void* txn);
using TOraMTSEnlCtxRel = sword (*)(void* ctx);
using TOraMTSSvcEnlist = sword (*)(OCISvcCtx* svc, OCIError* err, void* txn, ub4 flags);

// T(name): typed as oci.h declares it; S(name, type): typed here; U(name): untyped.
// clang-format off
#define DAC_OCI7_ENTRIES(T, S, U)                                                                          \
    U(obindps)                                                                                             \
    U(obndra)                                                                                              \
    U(obndrn) U(obndrv) S(obreak, Tobreak) U(ocan) U(oclose) U(ocof) U(ocom) U(ocon) U(odefin) U(odefinps) \
        U(odescr) U(odessp) S(oerhms, Toerhms) U(oermsg) U(oexec) U(oexfet) U(oexn) U(ofen) U(ofetch)      \
            U(oflng) U(ognfd) S(olog, Tolog) S(ologof, Tologof) U(onbclr) U(onbset) U(onbtst) U(oopen)     \
                U(oopt) U(oparse) T(opinit) U(orol) U(ogetpi) U(osetpi) U(sqllda) U(sqlld2)

#define DAC_OCI8_ENTRIES(T, S, U)                                                                            \
    T(OCIAttrGet)                                                                                            \
    T(OCIAttrSet)                                                                                            \
    T(OCIBindArrayOfStruct) T(OCIBindByName) T(OCIBindByPos) T(OCIBindDynamic) T(OCIBindObject) T(OCIBreak)  \
        T(OCIDefineArrayOfStruct) T(OCIDefineByPos) T(OCIDefineDynamic) T(OCIDefineObject) T(                \
            OCIDescribeAny) T(OCIDescriptorAlloc) T(OCIDescriptorFree) T(OCIEnvInit) T(OCIErrorGet)          \
            T(OCIHandleAlloc) T(OCIHandleFree) T(OCIInitialize) S(OCILdaToSvcCtx, TOCILdaToSvcCtx) T(        \
                OCIParamGet) U(OCIPasswordChange) T(OCIServerAttach) T(OCIServerDetach) T(OCIServerVersion)  \
                T(OCISessionBegin) T(OCISessionEnd) S(OCISessionGet, TOCISessionGet) S(                      \
                    OCISessionRelease, TOCISessionRelease) T(OCISessionPoolCreate) T(OCISessionPoolDestroy)  \
                    T(OCITransStart) T(OCITransRollback) T(OCITransCommit) T(OCITransDetach)                 \
                        T(OCITransPrepare) U(OCITransForget) T(OCIStmtExecute) T(OCIStmtFetch)               \
                            T(OCIStmtFetch2) T(OCIStmtGetPieceInfo) T(OCIStmtPrepare) T(OCIStmtSetPieceInfo) \
                                S(OCISvcCtxToLda, TOCISvcCtxToLda) T(OCILobAppend) T(OCILobAssign)           \
                                    T(OCILobCharSetForm) T(OCILobCharSetId) U(OCILobCopy) T(                 \
                                        OCILobCreateTemporary) T(OCILobFreeTemporary) T(OCILobIsTemporary)   \
                                        U(OCILobDisableBuffering) U(OCILobEnableBuffering) U(OCILobErase)    \
                                            T(OCILobFileClose) T(OCILobFileExists) T(OCILobFileGetName)      \
                                                T(OCILobFileIsOpen) T(OCILobFileOpen) T(OCILobFileSetName)   \
                                                    U(OCILobFlushBuffer) T(OCILobGetLength) U(OCILobIsEqual) \
                                                        U(OCILobLoadFromFile) T(OCILobLocatorIsInit)         \
                                                            T(OCILobRead) T(OCILobTrim) T(OCILobWrite)       \
                                                                U(ociepgoe) U(ociepacm) U(ociepmsg)          \
                                                                    U(OCISubscriptionRegister)               \
                                                                        U(OCISubscriptionUnRegister)         \
                                                                            U(OCISubscriptionEnable)         \
                                                                                U(OCISubscriptionDisable)

#define DAC_OCI_OBJECT_ENTRIES(T, S, U)                                                                      \
    U(OCICacheFlush)                                                                                         \
    U(OCICacheFree)                                                                                          \
    U(OCICacheRefresh) U(OCICacheUnmark) U(OCICacheUnpin) T(OCIObjectCopy) U(OCIObjectExists)                \
        T(OCIObjectFlush) T(OCIObjectFree) U(OCIObjectGetAttr) T(OCIObjectGetInd) T(OCIObjectGetObjectRef)   \
            U(OCIObjectGetProperty) U(OCIObjectGetTypeRef) U(OCIObjectIsDirty) U(OCIObjectIsLocked)          \
                U(OCIObjectLock) T(OCIObjectMarkDelete) U(OCIObjectMarkDeleteByRef) T(OCIObjectMarkUpdate)   \
                    T(OCIObjectNew) T(OCIObjectPin) U(OCIObjectPinCountReset) U(OCIObjectPinTable) U(        \
                        OCIObjectRefresh) T(OCIObjectSetAttr) U(OCIObjectUnmark) U(OCIObjectUnmarkByRef)     \
                        T(OCIObjectUnpin) T(OCITypeByName) U(OCITypeByRef) T(OCICollAppend) T(OCICollAssign) \
                            T(OCICollAssignElem) T(OCICollGetElem) T(OCICollMax) T(OCICollSize)              \
                                T(OCICollTrim) U(OCIDateAssign) U(OCIDateFromText) U(OCIDateGetDate)         \
                                    U(OCIDateGetTime) U(OCIDateSetDate) U(OCIDateSetTime) U(OCIDateToText)   \
                                        T(OCINumberAssign) T(OCINumberCmp) T(OCINumberFromInt)               \
                                            T(OCINumberFromReal) T(OCINumberFromText) T(OCINumberToInt)      \
                                                T(OCINumberToReal) T(OCINumberToText) T(OCIRefAssign)        \
                                                    T(OCIRefClear) T(OCIRefIsEqual) T(OCIRefIsNull)          \
                                                        T(OCIRefToHex) U(OCIStringAllocSize)                 \
                                                            T(OCIStringAssign) T(OCIStringAssignText)        \
                                                                T(OCIStringPtr) T(OCIStringResize)           \
                                                                    T(OCIStringSize) T(OCITableDelete)       \
                                                                        T(OCITableExists) U(OCITableFirst)   \
                                                                            U(OCITableLast) T(OCITableNext)  \
                                                                                U(OCITablePrev)              \
                                                                                    T(OCITableSize)

#define DAC_OCI81_ENTRIES(T, S, U)                                                                           \
    T(OCIEnvCreate)                                                                                          \
    U(OCIDirPathAbort)                                                                                       \
    U(OCIDirPathColArrayEntryGet) U(OCIDirPathColArrayEntrySet) U(OCIDirPathColArrayRowGet)                  \
        U(OCIDirPathColArrayReset) U(OCIDirPathColArrayToStream) U(OCIDirPathFinish) U(OCIDirPathLoadStream) \
            U(OCIDirPathPrepare) U(OCIDirPathStreamReset)

#define DAC_OCI90_ENTRIES(T, S, U)                                                                      \
    T(OCIDateTimeConstruct)                                                                             \
    U(OCIDateTimeCheck)                                                                                 \
    T(OCIDateTimeFromText) T(OCIDateTimeToText) T(OCIDateTimeGetDate) T(OCIDateTimeGetTime)             \
        U(OCIDateTimeGetTimeZoneOffset) U(OCIDateTimeGetTimeZoneName) T(OCIDateTimeAssign)              \
            T(OCIDateTimeCompare) T(OCIIntervalFromText) T(OCIIntervalToText) T(OCIIntervalCheck)       \
                T(OCIIntervalAssign) T(OCIIntervalCompare) T(OCIIntervalSetYearMonth)                   \
                    T(OCIIntervalGetYearMonth) T(OCIIntervalSetDaySecond) T(OCIIntervalGetDaySecond)    \
                        U(OCIIntervalFromNumber) T(OCIPing) T(OCIXMLTypeNew) T(OCIXMLTypeCreateFromSrc) \
                            U(OCIXMLTypeExtract) U(OCIXMLTypeTransform) U(OCIXMLTypeExists)             \
                                U(OCIXMLTypeIsSchemaBased) U(OCIXMLTypeGetSchema) U(OCIXMLTypeValidate) \
                                    U(OCIXMLTypeGetDOM) U(OCIXMLTypeGetFromDOM) U(OCIDOMFree)           \
                                        T(OCIRowidToChar) T(OCIPStreamFromXMLType) T(OCIPStreamRead)    \
                                            T(OCIPStreamClose) T(OCIStmtPrepare2) T(OCIStmtRelease)

#define DAC_OCI100_ENTRIES(T, S, U) T(OCILobRead2)
// clang-format on

#define DAC_OCI_ENTRY_DECL_T(name) extern decltype(&::name) name;
#define DAC_OCI_ENTRY_DECL_S(name, type) extern type name;
#define DAC_OCI_ENTRY_DECL_U(name) extern TOCIProc name;
DAC_OCI7_ENTRIES(DAC_OCI_ENTRY_DECL_T, DAC_OCI_ENTRY_DECL_S, DAC_OCI_ENTRY_DECL_U)
DAC_OCI8_ENTRIES(DAC_OCI_ENTRY_DECL_T, DAC_OCI_ENTRY_DECL_S, DAC_OCI_ENTRY_DECL_U)
DAC_OCI_OBJECT_ENTRIES(DAC_OCI_ENTRY_DECL_T, DAC_OCI_ENTRY_DECL_S, DAC_OCI_ENTRY_DECL_U)
DAC_OCI81_ENTRIES(DAC_OCI_ENTRY_DECL_T, DAC_OCI_ENTRY_DECL_S, DAC_OCI_ENTRY_DECL_U)
DAC_OCI90_ENTRIES(DAC_OCI_ENTRY_DECL_T, DAC_OCI_ENTRY_DECL_S, DAC_OCI_ENTRY_DECL_U)
DAC_OCI100_ENTRIES(DAC_OCI_ENTRY_DECL_T, DAC_OCI_ENTRY_DECL_S, DAC_OCI_ENTRY_DECL_U)

extern TOraMTSSvcGet OraMTSSvcGet;
extern TOraMTSSvcRel OraMTSSvcRel;
extern TOraMTSEnlCtxGet OraMTSEnlCtxGet;
extern TOraMTSJoinTxn OraMTSJoinTxn;
extern TOraMTSEnlCtxRel OraMTSEnlCtxRel;
extern TOraMTSSvcEnlist OraMTSSvcEnlist;

// The stub every unbound entry points at: raises Exception "OCI function is not linked".
[[noreturn]] void OCINotLinked();

// One row of the entry table, for the loader and for tests.
enum TOCIEntryGroup : uint8_t { egOCI7, egOCI8, egObjects, egOCI81, egOCI90, egOCI100 };
struct TOCIEntryInfo {
    const char* Name;
    TOCIEntryGroup Group;
    // Bound from the second library.
    bool FromClientLibrary;
    // True while the entry points at its not-linked stub (or is empty).
    bool (*IsStub)();
};
const std::vector<TOCIEntryInfo>& OCIEntries();

// ---------------------------------------------------------------------------------------------
// Process-wide client state

struct TOracleHome {
    AnsiString Path;
    AnsiString Key;
    AnsiString Name;
};
inline constexpr int MaxOracleHomes = 10;

extern AnsiString OCIDLLPath;
extern AnsiString OCIClientDLLPath;
extern AnsiString OracleHomeDir;
extern AnsiString OracleHomeName;
extern TOracleHome OracleHomes[MaxOracleHomes];
extern int OracleHomeCount;
extern int DefaultOracleHome;
extern AnsiString OCIVersionText;
extern uint16_t OCIVersion;
extern TOCICallStyleSet OCICapabilities;
extern TOCICallStyle OCIDefaultCallStyle;
extern bool OCILite;
extern OCIEnv* OCIEnvHandle;
extern bool OCIInitialized;

extern bool OCIThreaded;
extern bool OCIMutexed;
extern bool OCIShared;
extern bool OCIEvents;
extern uint16_t OCIEventsVersion;
extern bool OCIUnicode;
extern bool OCIObjectSupport;
extern int OCIMaxErrorMessageSize;

// The error handle of the calling thread, made in the environment on first use. Every thread has
// its own, so that the last error of one session cannot be read by another thread's session.
// Null before InitOCI.
OCIError* OCIErrorHandle();

// The homes the machine's configuration lists (what the registry holds on Windows), in listing
// order: {path, key name, home name}. DetectOCI reads them; empty unless configured.
void SetConfiguredOracleHomes(const std::vector<TOracleHome>& homes);

// The library file name beneath a home's "lib" folder.
inline constexpr const char* OCILibraryName = "libclntsh.so";

// ---------------------------------------------------------------------------------------------
// Loading and the environment

void DetectOCI();
void LoadOCI();
bool IsOCILoaded();
void InitOCI();
inline void InitOCIProc() {
    InitOCI();
}
void FreeOCI();
void FreeOCIEnvironment();
void InitOraMTS();
void FreeOraMTS();

// "Cannot find OCI DLL: " + path.
[[noreturn]] void RaiseOCINotFound(const AnsiString& path);

void CheckOCIInitialized();
void CheckOCI80();
void CheckOCI81();
void CheckOCI90();

// Folds "a.b.c.d[.e]" into a*1000 + b*100 + c*10 + d; a missing or non-numeric part counts 0.
uint16_t OCIVersionToNumber(const AnsiString& versionText);
// "major.minor.update.patch.port" from the library's OCIClientVersion; empty when the library
// does not export it or it gives no major version. Loads the library when it is not loaded yet.
AnsiString GetOCIClientVersionText(const AnsiString& path);

// The OCI 7 calls a logon in that style needs. A client of 8.0 or later offers the OCI 7 call
// style only when it exports every one of them.
const std::vector<const char*>& OCI7LogonEntries();
// The call styles of a client of this version whose library exports what `exports` answers True
// for: a 7.3 client offers OCI 7 alone; later ones OCI 8, and OCI 7 when its entries are there.
TOCICallStyleSet OCICapabilitiesFor(uint16_t version, const std::function<bool(const char*)>& exports);

bool GetOCI7Threaded();
void SetOCI7Threaded(bool value);

RTL_EXCEPTION_CLASS(EOCIInitError, rtl::Exception);

// ---------------------------------------------------------------------------------------------
// OCI text

// Unicode: a new zero-terminated UTF-16 copy (size = 2 bytes per character); otherwise the
// text's own characters (size = length). FreeOCIText frees only the Unicode copies.
void* StringToOCIText(const AnsiString& text, int& size, bool unicode);
void FreeOCIText(void* p, bool unicode);
AnsiString OCITextToString(const void* p, bool unicode);
AnsiString OCITextToStringLen(const void* p, int sizeInBytes, bool unicode);
inline int OCICharSize(bool unicode) {
    return unicode ? 2 : 1;
}

// A StringToOCIText result freed at scope end.
class TOCIText {
public:
    TOCIText(const AnsiString& text, bool unicode) : unicode_(unicode) {
        p_ = StringToOCIText(text, size_, unicode);
    }
    ~TOCIText() { FreeOCIText(p_, unicode_); }
    TOCIText(const TOCIText&) = delete;
    TOCIText& operator=(const TOCIText&) = delete;
    OraText* Ptr() const { return static_cast<OraText*>(p_); }
    int Size() const { return size_; }

private:
    void* p_ = nullptr;
    int size_ = 0;
    bool unicode_;
};

bool IsUnicodeEnvironment(OCIEnv* env, OCIError* err);

}  // namespace dac
