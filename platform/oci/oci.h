/* The project's own declarations of the Oracle Call Interface: the types, constants and entry points
   that the Oracle client layer uses. Written from Oracle's public OCI documentation; the stand-in client
   library (libclntsh.so in this folder) implements them, and a real Oracle client exports the same names. */
#ifndef PLATFORM_OCI_OCI_H
#define PLATFORM_OCI_OCI_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Scalar types */
typedef int8_t sb1;
typedef uint8_t ub1;
typedef int16_t sb2;
typedef uint16_t ub2;
typedef int32_t sb4;
typedef uint32_t ub4;
typedef int64_t sb8;
typedef uint64_t ub8;
typedef int sword;
typedef unsigned int uword;
typedef int boolean;
typedef unsigned char OraText;
typedef void dvoid;

/* Opaque handles and descriptors */
typedef struct OCIEnv OCIEnv;
typedef struct OCIError OCIError;
typedef struct OCISvcCtx OCISvcCtx;
typedef struct OCIStmt OCIStmt;
typedef struct OCIBind OCIBind;
typedef struct OCIDefine OCIDefine;
typedef struct OCIDescribe OCIDescribe;
typedef struct OCIServer OCIServer;
typedef struct OCISession OCISession;
typedef struct OCITrans OCITrans;
typedef struct OCIParam OCIParam;
typedef struct OCIRowid OCIRowid;
typedef struct OCIDateTime OCIDateTime;
typedef struct OCIInterval OCIInterval;
typedef struct OCISnapshot OCISnapshot;
typedef struct OCILobLocator OCILobLocator;
typedef struct OCISPool OCISPool;

/* Value types with a published layout */
#define OCI_NUMBER_SIZE 22
typedef struct OCINumber {
    ub1 OCINumberPart[OCI_NUMBER_SIZE];
} OCINumber;

typedef struct OCITime {
    ub1 OCITimeHH;
    ub1 OCITimeMI;
    ub1 OCITimeSS;
} OCITime;

typedef struct OCIDate {
    sb2 OCIDateYYYY;
    ub1 OCIDateMM;
    ub1 OCIDateDD;
    OCITime OCIDateTime;
} OCIDate;

/* Statuses */
#define OCI_SUCCESS 0
#define OCI_SUCCESS_WITH_INFO 1
#define OCI_NEED_DATA 99
#define OCI_NO_DATA 100
#define OCI_ERROR (-1)
#define OCI_INVALID_HANDLE (-2)
#define OCI_STILL_EXECUTING (-3123)
#define OCI_CONTINUE (-24200)

/* Handle types */
#define OCI_HTYPE_ENV 1
#define OCI_HTYPE_ERROR 2
#define OCI_HTYPE_SVCCTX 3
#define OCI_HTYPE_STMT 4
#define OCI_HTYPE_BIND 5
#define OCI_HTYPE_DEFINE 6
#define OCI_HTYPE_DESCRIBE 7
#define OCI_HTYPE_SERVER 8
#define OCI_HTYPE_SESSION 9
#define OCI_HTYPE_AUTHINFO OCI_HTYPE_SESSION
#define OCI_HTYPE_TRANS 10
#define OCI_HTYPE_SUBSCRIPTION 13
#define OCI_HTYPE_SPOOL 27

/* Descriptor types */
#define OCI_DTYPE_LOB 50
#define OCI_DTYPE_SNAP 51
#define OCI_DTYPE_PARAM 53
#define OCI_DTYPE_ROWID 54
#define OCI_DTYPE_FILE 56
#define OCI_DTYPE_INTERVAL_YM 62
#define OCI_DTYPE_INTERVAL_DS 63
#define OCI_DTYPE_DATE 65
#define OCI_DTYPE_TIME 66
#define OCI_DTYPE_TIME_TZ 67
#define OCI_DTYPE_TIMESTAMP 68
#define OCI_DTYPE_TIMESTAMP_TZ 69
#define OCI_DTYPE_TIMESTAMP_LTZ 70

/* Environment modes */
#define OCI_DEFAULT 0x00000000
#define OCI_THREADED 0x00000001
#define OCI_OBJECT 0x00000002
#define OCI_EVENTS 0x00000004
#define OCI_SHARED 0x00000010
#define OCI_NO_MUTEX 0x00000080
#define OCI_UTF16 0x00004000
#define OCI_ENV_NO_MUTEX 0x00000008

/* Credentials and session modes */
#define OCI_CRED_RDBMS 1
#define OCI_CRED_EXT 2
#define OCI_CRED_PROXY 3
#define OCI_SYSDBA 0x00000002
#define OCI_SYSOPER 0x00000004
#define OCI_STMT_CACHE 0x00000040
#define OCI_SYSASM 0x00008000
#define OCI_SESSGET_SPOOL 0x0001
#define OCI_SESSGET_STMTCACHE 0x0004
#define OCI_SPC_STMTCACHE 0x0004

/* Statement language, execute modes, fetch orientations */
#define OCI_NTV_SYNTAX 1
#define OCI_V7_SYNTAX 2
#define OCI_V8_SYNTAX 3
#define OCI_BATCH_MODE 0x00000001
#define OCI_EXACT_FETCH 0x00000002
#define OCI_STMT_SCROLLABLE_READONLY 0x00000008
#define OCI_DESCRIBE_ONLY 0x00000010
#define OCI_COMMIT_ON_SUCCESS 0x00000020
#define OCI_FETCH_CURRENT 0x00000001
#define OCI_FETCH_NEXT 0x00000002
#define OCI_FETCH_FIRST 0x00000004
#define OCI_FETCH_LAST 0x00000008
#define OCI_FETCH_PRIOR 0x00000010
#define OCI_FETCH_ABSOLUTE 0x00000020
#define OCI_FETCH_RELATIVE 0x00000040

/* Bind and define modes, piece codes */
#define OCI_DATA_AT_EXEC 0x00000002
#define OCI_DYNAMIC_FETCH 0x00000002
#define OCI_ONE_PIECE 0
#define OCI_FIRST_PIECE 1
#define OCI_NEXT_PIECE 2
#define OCI_LAST_PIECE 3

/* Statement types (OCI_ATTR_STMT_TYPE) */
#define OCI_STMT_UNKNOWN 0
#define OCI_STMT_SELECT 1
#define OCI_STMT_UPDATE 2
#define OCI_STMT_DELETE 3
#define OCI_STMT_INSERT 4
#define OCI_STMT_CREATE 5
#define OCI_STMT_DROP 6
#define OCI_STMT_ALTER 7
#define OCI_STMT_BEGIN 8
#define OCI_STMT_DECLARE 9

/* Statement states (OCI_ATTR_STMT_STATE) */
#define OCI_STMT_STATE_INITIALIZED 1
#define OCI_STMT_STATE_EXECUTED 2
#define OCI_STMT_STATE_END_OF_FETCH 3

/* Transactions */
#define OCI_TRANS_NEW 0x00000001
#define OCI_TRANS_JOIN 0x00000002
#define OCI_TRANS_RESUME 0x00000004
#define OCI_TRANS_READONLY 0x00000100
#define OCI_TRANS_READWRITE 0x00000200
#define OCI_TRANS_SERIALIZABLE 0x00000400
#define OCI_TRANS_TWOPHASE 0x01000000

/* Describe */
#define OCI_OTYPE_NAME 1
#define OCI_OTYPE_REF 2
#define OCI_OTYPE_PTR 3
#define OCI_PTYPE_UNK 0
#define OCI_PTYPE_TABLE 1
#define OCI_PTYPE_VIEW 2
#define OCI_PTYPE_PROC 3
#define OCI_PTYPE_FUNC 4
#define OCI_PTYPE_PKG 5
#define OCI_PTYPE_TYPE 6
#define OCI_PTYPE_SYN 7
#define OCI_PTYPE_SEQ 8
#define OCI_PTYPE_COL 9
#define OCI_PTYPE_ARG 10
#define OCI_PTYPE_LIST 11
#define OCI_LTYPE_UNK 0
#define OCI_LTYPE_COLUMN 1
#define OCI_LTYPE_ARG_PROC 2
#define OCI_LTYPE_ARG_FUNC 3
#define OCI_LTYPE_SUBPRG 4
#define OCI_LTYPE_TYPE_ATTR 5
#define OCI_LTYPE_TYPE_METHOD 6
#define OCI_LTYPE_TYPE_ARG_PROC 7
#define OCI_LTYPE_TYPE_ARG_FUNC 8
#define OCI_TYPEPARAM_IN 0
#define OCI_TYPEPARAM_OUT 1
#define OCI_TYPEPARAM_INOUT 2

/* Numbers */
#define OCI_NUMBER_UNSIGNED 0
#define OCI_NUMBER_SIGNED 2

/* Attributes. One number means different things on different handle types. */
#define OCI_ATTR_DATA_SIZE 1
#define OCI_ATTR_DATA_TYPE 2
#define OCI_ATTR_DISP_SIZE 3
#define OCI_ATTR_NAME 4
#define OCI_ATTR_PRECISION 5
#define OCI_ATTR_SCALE 6
#define OCI_ATTR_IS_NULL 7
#define OCI_ATTR_TYPE_NAME 8
#define OCI_ATTR_SCHEMA_NAME 9
#define OCI_ATTR_FSPRECISION 16
#define OCI_ATTR_LFPRECISION 17
#define OCI_ATTR_ENV 5
#define OCI_ATTR_SERVER 6
#define OCI_ATTR_SESSION 7
#define OCI_ATTR_TRANS 8
#define OCI_ATTR_ROW_COUNT 9
#define OCI_ATTR_SQLFNCODE 10
#define OCI_ATTR_PREFETCH_ROWS 11
#define OCI_ATTR_PREFETCH_MEMORY 13
#define OCI_ATTR_PARAM_COUNT 18
#define OCI_ATTR_ROWID 19
#define OCI_ATTR_USERNAME 22
#define OCI_ATTR_PASSWORD 23
#define OCI_ATTR_STMT_TYPE 24
#define OCI_ATTR_INTERNAL_NAME 25
#define OCI_ATTR_EXTERNAL_NAME 26
#define OCI_ATTR_XID 27
#define OCI_ATTR_TRANS_NAME 29
#define OCI_ATTR_CHARSET_ID 31
#define OCI_ATTR_CHARSET_FORM 32
#define OCI_ATTR_MAXDATA_SIZE 33
#define OCI_ATTR_FOCBK 43
#define OCI_ATTR_PROXY_CREDENTIALS 99
#define OCI_ATTR_LIST_ARGUMENTS 108
#define OCI_ATTR_LIST_SUBPROGRAMS 109
#define OCI_ATTR_NUM_PARAMS 121
#define OCI_ATTR_PTYPE 123
#define OCI_ATTR_PARAM 124
#define OCI_ATTR_LTYPE 128
#define OCI_ATTR_PARSE_ERROR_OFFSET 129
#define OCI_ATTR_MAXCHAR_SIZE 163
#define OCI_ATTR_STMTCACHESIZE 176
#define OCI_ATTR_STMT_STATE 182
#define OCI_ATTR_ENV_UTF16 209
#define OCI_ATTR_HAS_DEFAULT 212
#define OCI_ATTR_IOMODE 213
#define OCI_ATTR_TYPECODE 216
#define OCI_ATTR_DESC_PUBLIC 250
#define OCI_ATTR_CLIENT_IDENTIFIER 278
#define OCI_ATTR_CHAR_SIZE 286

/* External data types (SQLT) and describe codes */
#define SQLT_CHR 1
#define SQLT_NUM 2
#define SQLT_INT 3
#define SQLT_FLT 4
#define SQLT_STR 5
#define SQLT_VNU 6
#define SQLT_LNG 8
#define SQLT_VCS 9
#define SQLT_RID 11
#define SQLT_DAT 12
#define SQLT_VBI 15
#define SQLT_BFLOAT 21
#define SQLT_BDOUBLE 22
#define SQLT_BIN 23
#define SQLT_LBI 24
#define SQLT_UIN 68
#define SQLT_AFC 96
#define SQLT_AVC 97
#define SQLT_IBFLOAT 100
#define SQLT_IBDOUBLE 101
#define SQLT_CUR 102
#define SQLT_RDD 104
#define SQLT_NTY 108
#define SQLT_REF 110
#define SQLT_CLOB 112
#define SQLT_BLOB 113
#define SQLT_BFILEE 114
#define SQLT_CFILEE 115
#define SQLT_RSET 116
#define SQLT_TIMESTAMP 187
#define SQLT_TIMESTAMP_TZ 188
#define SQLT_INTERVAL_YM 189
#define SQLT_INTERVAL_DS 190
#define SQLT_TIMESTAMP_LTZ 232
#define SQLT_PNTY 241
#define SQLT_REC 250
#define SQLT_TAB 251
#define SQLT_BOL 252

#define OCI_UTF16ID 1000

/* Version (a client of 10.2 or later; it returns nothing), OCI 7 initialisation (may be absent) */
void OCIClientVersion(sword* major_version, sword* minor_version, sword* update_num, sword* patch_num,
                      sword* port_update_num);
sword opinit(ub4 mode);

/* Environment, handles, descriptors, attributes, errors */
sword OCIEnvCreate(OCIEnv** envp, ub4 mode, void* ctxp, void* (*malocfp)(void* ctxp, size_t size),
                   void* (*ralocfp)(void* ctxp, void* memptr, size_t newsize),
                   void (*mfreefp)(void* ctxp, void* memptr), size_t xtramem_sz, void** usrmempp);
sword OCIInitialize(ub4 mode, void* ctxp, void* (*malocfp)(void* ctxp, size_t size),
                    void* (*ralocfp)(void* ctxp, void* memptr, size_t newsize),
                    void (*mfreefp)(void* ctxp, void* memptr));
sword OCIEnvInit(OCIEnv** envp, ub4 mode, size_t xtramem_sz, void** usrmempp);
sword OCIHandleAlloc(const void* parenth, void** hndlpp, ub4 type, size_t xtramem_sz, void** usrmempp);
sword OCIHandleFree(void* hndlp, ub4 type);
sword OCIDescriptorAlloc(const void* parenth, void** descpp, ub4 type, size_t xtramem_sz, void** usrmempp);
sword OCIDescriptorFree(void* descp, ub4 type);
sword OCIAttrGet(const void* trgthndlp, ub4 trghndltyp, void* attributep, ub4* sizep, ub4 attrtype,
                 OCIError* errhp);
sword OCIAttrSet(void* trgthndlp, ub4 trghndltyp, void* attributep, ub4 size, ub4 attrtype, OCIError* errhp);
sword OCIErrorGet(void* hndlp, ub4 recordno, OraText* sqlstate, sb4* errcodep, OraText* bufp, ub4 bufsiz,
                  ub4 type);
sword OCIParamGet(const void* hndlp, ub4 htype, OCIError* errhp, void** parmdpp, ub4 pos);

/* Logon and session */
sword OCIServerAttach(OCIServer* srvhp, OCIError* errhp, const OraText* dblink, sb4 dblink_len, ub4 mode);
sword OCIServerDetach(OCIServer* srvhp, OCIError* errhp, ub4 mode);
sword OCISessionBegin(OCISvcCtx* svchp, OCIError* errhp, OCISession* usrhp, ub4 credt, ub4 mode);
sword OCISessionEnd(OCISvcCtx* svchp, OCIError* errhp, OCISession* usrhp, ub4 mode);
sword OCIServerVersion(void* hndlp, OCIError* errhp, OraText* bufp, ub4 bufsz, ub1 hndltype);
sword OCIPing(OCISvcCtx* svchp, OCIError* errhp, ub4 mode);
sword OCIBreak(void* hndlp, OCIError* errhp);

/* Session pools: a pool names a server; each session taken from it logs on with the
   credentials of the authentication handle given to OCISessionGet. */
sword OCISessionPoolCreate(OCIEnv* envhp, OCIError* errhp, OCISPool* spoolhp, OraText** poolName,
                           ub4* poolNameLen, const OraText* connStr, ub4 connStrLen, ub4 sessMin, ub4 sessMax,
                           ub4 sessIncr, OraText* userid, ub4 useridLen, OraText* password, ub4 passwordLen,
                           ub4 mode);
sword OCISessionPoolDestroy(OCISPool* spoolhp, OCIError* errhp, ub4 mode);
sword OCISessionGet(OCIEnv* envhp, OCIError* errhp, OCISvcCtx** svchp, void* authInfop, const OraText* dbName,
                    ub4 dbName_len, const OraText* tagInfo, ub4 tagInfo_len, OraText** retTagInfo,
                    ub4* retTagInfo_len, boolean* found, ub4 mode);
sword OCISessionRelease(OCISvcCtx* svchp, OCIError* errhp, const OraText* tag, ub4 tag_len, ub4 mode);

/* Statements */
sword OCIStmtPrepare(OCIStmt* stmtp, OCIError* errhp, const OraText* stmt, ub4 stmt_len, ub4 language,
                     ub4 mode);
sword OCIStmtPrepare2(OCISvcCtx* svchp, OCIStmt** stmthp, OCIError* errhp, const OraText* stmttext,
                      ub4 stmt_len, const OraText* key, ub4 keylen, ub4 language, ub4 mode);
sword OCIStmtRelease(OCIStmt* stmthp, OCIError* errhp, const OraText* key, ub4 keylen, ub4 mode);
sword OCIStmtExecute(OCISvcCtx* svchp, OCIStmt* stmtp, OCIError* errhp, ub4 iters, ub4 rowoff,
                     const OCISnapshot* snap_in, OCISnapshot* snap_out, ub4 mode);
sword OCIStmtFetch(OCIStmt* stmtp, OCIError* errhp, ub4 nrows, ub2 orientation, ub4 mode);
sword OCIStmtFetch2(OCIStmt* stmtp, OCIError* errhp, ub4 nrows, ub2 orientation, sb4 scrollOffset, ub4 mode);
sword OCIBindByName(OCIStmt* stmtp, OCIBind** bindp, OCIError* errhp, const OraText* placeholder,
                    sb4 placeh_len, void* valuep, sb4 value_sz, ub2 dty, void* indp, ub2* alenp, ub2* rcodep,
                    ub4 maxarr_len, ub4* curelep, ub4 mode);
sword OCIBindByPos(OCIStmt* stmtp, OCIBind** bindp, OCIError* errhp, ub4 position, void* valuep, sb4 value_sz,
                   ub2 dty, void* indp, ub2* alenp, ub2* rcodep, ub4 maxarr_len, ub4* curelep, ub4 mode);
sword OCIBindArrayOfStruct(OCIBind* bindp, OCIError* errhp, ub4 pvskip, ub4 indskip, ub4 alskip, ub4 rcskip);
sword OCIDefineByPos(OCIStmt* stmtp, OCIDefine** defnp, OCIError* errhp, ub4 position, void* valuep,
                     sb4 value_sz, ub2 dty, void* indp, ub2* rlenp, ub2* rcodep, ub4 mode);
sword OCIDefineArrayOfStruct(OCIDefine* defnp, OCIError* errhp, ub4 pvskip, ub4 indskip, ub4 rlskip,
                             ub4 rcskip);
/* Piecewise transfer: the callbacks of dynamic binds and defines, and the polling calls. */
#define OCI_PARAM_IN 0x01
#define OCI_PARAM_OUT 0x02
typedef sb4 (*OCICallbackInBind)(void* ictxp, OCIBind* bindp, ub4 iter, ub4 index, void** bufpp, ub4* alenp,
                                 ub1* piecep, void** indp);
typedef sb4 (*OCICallbackOutBind)(void* octxp, OCIBind* bindp, ub4 iter, ub4 index, void** bufpp, ub4** alenp,
                                  ub1* piecep, void** indp, ub2** rcodep);
typedef sb4 (*OCICallbackDefine)(void* octxp, OCIDefine* defnp, ub4 iter, void** bufpp, ub4** alenp,
                                 ub1* piecep, void** indp, ub2** rcodep);
sword OCIBindDynamic(OCIBind* bindp, OCIError* errhp, void* ictxp, OCICallbackInBind icbfp, void* octxp,
                     OCICallbackOutBind ocbfp);
sword OCIDefineDynamic(OCIDefine* defnp, OCIError* errhp, void* octxp, OCICallbackDefine ocbfp);
sword OCIStmtGetPieceInfo(OCIStmt* stmtp, OCIError* errhp, void** hndlpp, ub4* typep, ub1* in_outp,
                          ub4* iterp, ub4* idxp, ub1* piecep);
sword OCIStmtSetPieceInfo(void* hndlp, ub4 type, OCIError* errhp, const void* bufp, ub4* alenp, ub1 piece,
                          const void* indp, ub2* rcodep);
sword OCIDescribeAny(OCISvcCtx* svchp, OCIError* errhp, void* objptr, ub4 objnm_len, ub1 objptr_typ,
                     ub1 info_level, ub1 objtyp, OCIDescribe* dschp);
sword OCIRowidToChar(OCIRowid* rowidDesc, OraText* outbfp, ub2* outbflp, OCIError* errhp);

/* Transactions */
sword OCITransCommit(OCISvcCtx* svchp, OCIError* errhp, ub4 flags);
sword OCITransRollback(OCISvcCtx* svchp, OCIError* errhp, ub4 flags);
sword OCITransStart(OCISvcCtx* svchp, OCIError* errhp, uword timeout, ub4 flags);
sword OCITransPrepare(OCISvcCtx* svchp, OCIError* errhp, ub4 flags);
sword OCITransDetach(OCISvcCtx* svchp, OCIError* errhp, ub4 flags);

/* Numbers */
sword OCINumberToInt(OCIError* err, const OCINumber* number, uword rsl_length, uword rsl_flag, void* rsl);
sword OCINumberFromInt(OCIError* err, const void* inum, uword inum_length, uword inum_s_flag,
                       OCINumber* number);
sword OCINumberToReal(OCIError* err, const OCINumber* number, uword rsl_length, void* rsl);
sword OCINumberFromReal(OCIError* err, const void* rnum, uword rnum_length, OCINumber* number);
sword OCINumberToText(OCIError* err, const OCINumber* number, const OraText* fmt, ub4 fmt_length,
                      const OraText* nls_params, ub4 nls_p_length, ub4* buf_size, OraText* buf);
sword OCINumberFromText(OCIError* err, const OraText* str, ub4 str_length, const OraText* fmt, ub4 fmt_length,
                        const OraText* nls_params, ub4 nls_p_length, OCINumber* number);
sword OCINumberAssign(OCIError* err, const OCINumber* from, OCINumber* to);
sword OCINumberCmp(OCIError* err, const OCINumber* number1, const OCINumber* number2, sword* result);

/* LOB and BFILE locators */
typedef ub8 oraub8;
typedef ub2 OCIDuration;
#define OCI_DURATION_SESSION 10
#define OCI_TEMP_BLOB 1
#define OCI_TEMP_CLOB 2
#define OCI_FILE_READONLY 1
#define SQLCS_IMPLICIT 1
#define SQLCS_NCHAR 2
typedef sb4 (*OCICallbackLobRead)(void* ctxp, const void* bufp, ub4 len, ub1 piece);
typedef sb4 (*OCICallbackLobRead2)(void* ctxp, const void* bufp, oraub8 len, ub1 piece, void** changed_bufpp,
                                   oraub8* changed_lenp);
typedef sb4 (*OCICallbackLobWrite)(void* ctxp, void* bufp, ub4* lenp, ub1* piece);
typedef sb4 (*OCICallbackLobWrite2)(void* ctxp, void* bufp, oraub8* lenp, ub1* piece, void** changed_bufpp,
                                    oraub8* changed_lenp);
sword OCILobLocatorIsInit(OCIEnv* envhp, OCIError* errhp, const OCILobLocator* locp, boolean* is_initialized);
sword OCILobIsTemporary(OCIEnv* envhp, OCIError* errhp, OCILobLocator* locp, boolean* is_temporary);
sword OCILobCharSetForm(OCIEnv* envhp, OCIError* errhp, const OCILobLocator* locp, ub1* csfrm);
sword OCILobCharSetId(OCIEnv* envhp, OCIError* errhp, const OCILobLocator* locp, ub2* csid);
sword OCILobGetLength(OCISvcCtx* svchp, OCIError* errhp, OCILobLocator* locp, ub4* lenp);
sword OCILobGetLength2(OCISvcCtx* svchp, OCIError* errhp, OCILobLocator* locp, oraub8* lenp);
sword OCILobRead(OCISvcCtx* svchp, OCIError* errhp, OCILobLocator* locp, ub4* amtp, ub4 offset, void* bufp,
                 ub4 bufl, void* ctxp, OCICallbackLobRead cbfp, ub2 csid, ub1 csfrm);
sword OCILobRead2(OCISvcCtx* svchp, OCIError* errhp, OCILobLocator* locp, oraub8* byte_amtp,
                  oraub8* char_amtp, oraub8 offset, void* bufp, oraub8 bufl, ub1 piece, void* ctxp,
                  OCICallbackLobRead2 cbfp, ub2 csid, ub1 csfrm);
sword OCILobWrite(OCISvcCtx* svchp, OCIError* errhp, OCILobLocator* locp, ub4* amtp, ub4 offset, void* bufp,
                  ub4 buflen, ub1 piece, void* ctxp, OCICallbackLobWrite cbfp, ub2 csid, ub1 csfrm);
sword OCILobWrite2(OCISvcCtx* svchp, OCIError* errhp, OCILobLocator* locp, oraub8* byte_amtp,
                   oraub8* char_amtp, oraub8 offset, void* bufp, oraub8 buflen, ub1 piece, void* ctxp,
                   OCICallbackLobWrite2 cbfp, ub2 csid, ub1 csfrm);
sword OCILobTrim(OCISvcCtx* svchp, OCIError* errhp, OCILobLocator* locp, ub4 newlen);
sword OCILobTrim2(OCISvcCtx* svchp, OCIError* errhp, OCILobLocator* locp, oraub8 newlen);
sword OCILobAppend(OCISvcCtx* svchp, OCIError* errhp, OCILobLocator* dst_locp, OCILobLocator* src_locp);
sword OCILobAssign(OCIEnv* envhp, OCIError* errhp, const OCILobLocator* src_locp, OCILobLocator** dst_locpp);
sword OCILobCreateTemporary(OCISvcCtx* svchp, OCIError* errhp, OCILobLocator* locp, ub2 csid, ub1 csfrm,
                            ub1 lobtype, boolean cache, OCIDuration duration);
sword OCILobFreeTemporary(OCISvcCtx* svchp, OCIError* errhp, OCILobLocator* locp);
sword OCILobFileOpen(OCISvcCtx* svchp, OCIError* errhp, OCILobLocator* filep, ub1 mode);
sword OCILobFileClose(OCISvcCtx* svchp, OCIError* errhp, OCILobLocator* filep);
sword OCILobFileExists(OCISvcCtx* svchp, OCIError* errhp, OCILobLocator* filep, boolean* flag);
sword OCILobFileIsOpen(OCISvcCtx* svchp, OCIError* errhp, OCILobLocator* filep, boolean* flag);
sword OCILobFileGetName(OCIEnv* envhp, OCIError* errhp, const OCILobLocator* filep, OraText* dir_alias,
                        ub2* d_length, OraText* filename, ub2* f_length);
sword OCILobFileSetName(OCIEnv* envhp, OCIError* errhp, OCILobLocator** filepp, const OraText* dir_alias,
                        ub2 d_length, const OraText* filename, ub2 f_length);

/* Date-time and interval descriptors */
sword OCIDateTimeConstruct(void* hndl, OCIError* err, OCIDateTime* datetime, sb2 year, ub1 month, ub1 day,
                           ub1 hour, ub1 min, ub1 sec, ub4 fsec, OraText* timezone, size_t timezone_length);
sword OCIDateTimeGetDate(void* hndl, OCIError* err, const OCIDateTime* date, sb2* year, ub1* month, ub1* day);
sword OCIDateTimeGetTime(void* hndl, OCIError* err, OCIDateTime* datetime, ub1* hour, ub1* min, ub1* sec,
                         ub4* fsec);
sword OCIDateTimeToText(void* hndl, OCIError* err, const OCIDateTime* date, const OraText* fmt,
                        ub1 fmt_length, ub1 fsprec, const OraText* lang_name, size_t lang_length,
                        ub4* buf_size, OraText* buf);
sword OCIDateTimeFromText(void* hndl, OCIError* err, const OraText* date_str, size_t dstr_length,
                          const OraText* fmt, ub1 fmt_length, const OraText* lang_name, size_t lang_length,
                          OCIDateTime* datetime);
sword OCIDateTimeAssign(void* hndl, OCIError* err, const OCIDateTime* from, OCIDateTime* to);
sword OCIDateTimeCompare(void* hndl, OCIError* err, const OCIDateTime* date1, const OCIDateTime* date2,
                         sword* result);
sword OCIIntervalToText(void* hndl, OCIError* err, const OCIInterval* interval, ub1 lfprec, ub1 fsprec,
                        OraText* buffer, size_t buflen, size_t* resultlen);
sword OCIIntervalFromText(void* hndl, OCIError* err, const OraText* inpstring, size_t str_len,
                          OCIInterval* result);
sword OCIIntervalCheck(void* hndl, OCIError* err, const OCIInterval* interval, ub4* valid);
sword OCIIntervalAssign(void* hndl, OCIError* err, const OCIInterval* ininter, OCIInterval* outinter);
sword OCIIntervalCompare(void* hndl, OCIError* err, OCIInterval* inter1, OCIInterval* inter2, sword* result);
sword OCIIntervalSetYearMonth(void* hndl, OCIError* err, sb4 yr, sb4 mnth, OCIInterval* result);
sword OCIIntervalGetYearMonth(void* hndl, OCIError* err, sb4* yr, sb4* mnth, const OCIInterval* interval);
sword OCIIntervalSetDaySecond(void* hndl, OCIError* err, sb4 dy, sb4 hr, sb4 mm, sb4 ss, sb4 fsec,
                              OCIInterval* result);
sword OCIIntervalGetDaySecond(void* hndl, OCIError* err, sb4* dy, sb4* hr, sb4* mm, sb4* ss, sb4* fsec,
                              const OCIInterval* interval);

/* Object types, object instances in the client's object cache, strings, collections and REFs */
typedef struct OCIType OCIType;
typedef struct OCIString OCIString;
typedef struct OCIColl OCIColl;
typedef OCIColl OCIArray;
typedef OCIColl OCITable;
typedef struct OCIRef OCIRef;
typedef struct OCIComplexObject OCIComplexObject;
typedef sb2 OCIInd;
typedef ub2 OCITypeCode;
typedef ub2 OCIDuration;
#define OCI_IND_NOTNULL 0
#define OCI_IND_NULL (-1)
#define OCI_TYPECODE_OPAQUE 58
#define OCI_TYPECODE_OBJECT 108
#define OCI_TYPECODE_NAMEDCOLLECTION 122
#define OCI_TYPECODE_VARRAY 247
#define OCI_TYPECODE_TABLE 248
#define OCI_TYPECODE_VARCHAR2 9
#define OCI_TYPEGET_HEADER 0
#define OCI_TYPEGET_ALL 1
#define OCI_OBJECTFREE_FORCE 1
#define OCI_PIN_ANY 3
#define OCI_LOCK_NONE 1
#define OCI_ATTR_COLLECTION_TYPECODE 217
#define OCI_ATTR_COLLECTION_ELEMENT 227
#define OCI_ATTR_NUM_TYPE_ATTRS 228
#define OCI_ATTR_LIST_TYPE_ATTRS 229
#define OCI_ATTR_NUM_ELEMS 234
#define OCI_ATTR_IS_FINAL_TYPE 279
#define OCI_PTYPE_TYPE_ATTR 12
#define OCI_PTYPE_TYPE_COLL 13

sword OCITypeByName(OCIEnv* env, OCIError* err, const OCISvcCtx* svc, const OraText* schema_name,
                    ub4 s_length, const OraText* type_name, ub4 t_length, const OraText* version_name,
                    ub4 v_length, OCIDuration pin_duration, ub4 get_option, OCIType** tdo);
sword OCIObjectNew(OCIEnv* env, OCIError* err, const OCISvcCtx* svc, OCITypeCode typecode, OCIType* tdo,
                   void* table, OCIDuration duration, boolean value, void** instance);
sword OCIObjectFree(OCIEnv* env, OCIError* err, void* instance, ub2 flags);
sword OCIObjectGetInd(OCIEnv* env, OCIError* err, void* instance, void** null_struct);
sword OCIObjectCopy(OCIEnv* env, OCIError* err, const OCISvcCtx* svc, void* source, void* null_source,
                    void* target, void* null_target, OCIType* tdo, OCIDuration duration, ub1 option);
sword OCIObjectSetAttr(OCIEnv* env, OCIError* err, void* instance, void* null_struct, OCIType* tdo,
                       const OraText** names, const ub4* lengths, const ub4 name_count, const ub4* indexes,
                       const ub4 index_count, const OCIInd null_status, const void* attr_null_struct,
                       const void* attr_value);
sword OCIDefineObject(OCIDefine* defnp, OCIError* errhp, const OCIType* type, void** pgvpp, ub4* pvszsp,
                      void** indpp, ub4* indszp);
sword OCIBindObject(OCIBind* bindp, OCIError* errhp, const OCIType* type, void** pgvpp, ub4* pvszsp,
                    void** indpp, ub4* indszp);

sword OCIStringAssignText(OCIEnv* env, OCIError* err, const OraText* rhs, ub4 rhs_len, OCIString** lhs);
sword OCIStringAssign(OCIEnv* env, OCIError* err, const OCIString* rhs, OCIString** lhs);
sword OCIStringResize(OCIEnv* env, OCIError* err, ub4 new_size, OCIString** str);
ub4 OCIStringSize(OCIEnv* env, const OCIString* vs);
OraText* OCIStringPtr(OCIEnv* env, const OCIString* vs);

sword OCICollSize(OCIEnv* env, OCIError* err, const OCIColl* coll, sb4* size);
sb4 OCICollMax(OCIEnv* env, const OCIColl* coll);
sword OCICollGetElem(OCIEnv* env, OCIError* err, const OCIColl* coll, sb4 index, boolean* exists, void** elem,
                     void** elemind);
sword OCICollAssignElem(OCIEnv* env, OCIError* err, sb4 index, const void* elem, const void* elemind,
                        OCIColl* coll);
sword OCICollAppend(OCIEnv* env, OCIError* err, const void* elem, const void* elemind, OCIColl* coll);
sword OCICollTrim(OCIEnv* env, OCIError* err, sb4 trim_num, OCIColl* coll);
sword OCICollAssign(OCIEnv* env, OCIError* err, const OCIColl* rhs, OCIColl* lhs);
sword OCITableSize(OCIEnv* env, OCIError* err, const OCITable* tbl, sb4* size);
sword OCITableDelete(OCIEnv* env, OCIError* err, sb4 index, OCITable* tbl);
sword OCITableExists(OCIEnv* env, OCIError* err, const OCITable* tbl, sb4 index, boolean* exists);
sword OCITableNext(OCIEnv* env, OCIError* err, sb4 index, const OCITable* tbl, sb4* next_index,
                   boolean* exists);
/* Subscriptions: database change notification. The callback runs on a thread of the client library;
   the change descriptor holds a collection of pointers to table-change descriptors, each of which
   holds a collection of pointers to row-change descriptors. */
typedef struct OCISubscription OCISubscription;
typedef ub4 (*OCISubscriptionNotify)(void* ctx, OCISubscription* subscrhp, void* payload, ub4* payl,
                                     void* descriptor, ub4 mode);
#define OCI_SUBSCR_NAMESPACE_DBCHANGE 2
#define OCI_SUBSCR_QOS_RELIABLE 0x01
#define OCI_DTYPE_CHDES 77
#define OCI_DTYPE_TABLE_CHDES 78
#define OCI_DTYPE_ROW_CHDES 79
#define OCI_ATTR_SUBSCR_CALLBACK 95
#define OCI_ATTR_SUBSCR_CTX 96
#define OCI_ATTR_SUBSCR_NAMESPACE 98
#define OCI_ATTR_SUBSCR_QOSFLAGS 225
#define OCI_ATTR_SUBSCR_TIMEOUT 227
#define OCI_ATTR_CHNF_ROWIDS 402
#define OCI_ATTR_CHNF_OPERATIONS 403
#define OCI_ATTR_CHDES_DBNAME 405
#define OCI_ATTR_CHDES_NFYTYPE 406
#define OCI_ATTR_CHDES_TABLE_CHANGES 408
#define OCI_ATTR_CHDES_TABLE_NAME 409
#define OCI_ATTR_CHDES_TABLE_OPFLAGS 410
#define OCI_ATTR_CHDES_TABLE_ROW_CHANGES 411
#define OCI_ATTR_CHDES_ROW_ROWID 412
#define OCI_ATTR_CHDES_ROW_OPFLAGS 413
#define OCI_ATTR_CHNF_REGHANDLE 414
#define OCI_EVENT_NONE 0
#define OCI_EVENT_STARTUP 1
#define OCI_EVENT_SHUTDOWN 2
#define OCI_EVENT_SHUTDOWN_ANY 3
#define OCI_EVENT_DROP_DB 4
#define OCI_EVENT_DEREG 5
#define OCI_EVENT_OBJCHANGE 6
#define OCI_OPCODE_ALLROWS 0x01
#define OCI_OPCODE_ALLOPS 0x00
#define OCI_OPCODE_INSERT 0x02
#define OCI_OPCODE_UPDATE 0x04
#define OCI_OPCODE_DELETE 0x08
#define OCI_OPCODE_ALTER 0x10
#define OCI_OPCODE_DROP 0x20
sword OCISubscriptionRegister(OCISvcCtx* svchp, OCISubscription** subscrhpp, ub2 count, OCIError* errhp,
                              ub4 mode);
sword OCISubscriptionUnRegister(OCISvcCtx* svchp, OCISubscription* subscrhp, OCIError* errhp, ub4 mode);
sword OCISubscriptionEnable(OCISubscription* subscrhp, OCIError* errhp, ub4 mode);
sword OCISubscriptionDisable(OCISubscription* subscrhp, OCIError* errhp, ub4 mode);

/* REFs, pinning persistent objects and XMLTYPE values read as text through a stream */
typedef struct OCIPStream OCIPStream;
#define OCI_TYPECODE_REF 110
#define OCI_DTYPE_XML_STREAM 74
#define OCI_XMLTYPE_CREATE_OCISTRING 1
#define OCI_XMLTYPE_CREATE_CLOB 2
#define OCI_PIN_DEFAULT 1
#define OCI_LOCK_X 2
#define OCI_REFHEX_MAX 1000
sword OCIObjectPin(OCIEnv* env, OCIError* err, OCIRef* object_ref, OCIComplexObject* corhdl, ub2 pin_option,
                   OCIDuration pin_duration, ub2 lock_option, void** object);
sword OCIObjectUnpin(OCIEnv* env, OCIError* err, void* object);
sword OCIObjectMarkUpdate(OCIEnv* env, OCIError* err, void* object);
sword OCIObjectMarkDelete(OCIEnv* env, OCIError* err, void* object);
sword OCIObjectFlush(OCIEnv* env, OCIError* err, void* object);
sword OCIObjectGetObjectRef(OCIEnv* env, OCIError* err, void* object, OCIRef* object_ref);
boolean OCIRefIsNull(OCIEnv* env, const OCIRef* ref);
void OCIRefClear(OCIEnv* env, OCIRef* ref);
sword OCIRefAssign(OCIEnv* env, OCIError* err, const OCIRef* source, OCIRef** target);
boolean OCIRefIsEqual(OCIEnv* env, const OCIRef* x, const OCIRef* y);
sword OCIRefToHex(OCIEnv* env, OCIError* err, const OCIRef* ref, OraText* hex, ub4* hex_length);
sword OCIXMLTypeNew(OCISvcCtx* svchp, OCIError* errhp, OCIDuration dur, OraText* elname, ub4 elname_Len,
                    OraText* schemaURL, ub4 schemaURL_Len, void** retInstance);
sword OCIXMLTypeCreateFromSrc(OCISvcCtx* svchp, OCIError* errhp, OCIDuration dur, ub1 src_type, void* src_ptr,
                              sb4 ind, void** retInstance);
sword OCIPStreamFromXMLType(OCIError* errhp, void* stream, void* xmltype, ub4 mode);
sword OCIPStreamRead(OCIError* errhp, void* stream, void* buf, ub8* amount, ub4 mode);
sword OCIPStreamClose(OCIError* errhp, void* stream);

#ifdef __cplusplus
}
#endif

#endif
