// Piecewise transfer of LONG and LONG RAW values: binds with data at execute time and dynamic
// defines, through the caller's callbacks or through its need-data loop (OCIStmtGetPieceInfo,
// OCIStmtSetPieceInfo and OCIStmtExecute or OCIStmtFetch again).
//
// An execute with data-at-exec binds goes through three steps. Input: each such bind's value is
// gathered piece by piece, first through its in-callback, or, without one, by answering
// OCI_NEED_DATA until the caller has set its last piece. Run: the statement runs with the
// gathered values. Output: every such bind the statement gave a value is sent piece by piece,
// through its out-callback or by answering OCI_NEED_DATA while pieces are left. A fetch does the
// output step for the dynamic defines of each row.
#include <algorithm>
#include <cstring>

#include "platform/oci/Guard.h"
#include "platform/oci/StandIn.h"

namespace oci {

namespace {

constexpr sb4 CallbackError = 24343;

std::vector<Bind*> longBinds(Stmt& st) {
    std::vector<Bind*> out;
    for (Bind* b : st.binds)
        if (b->dataAtExec) out.push_back(b);
    return out;
}

void storeIndicator(void* indicator, bool isNull) {
    if (!indicator) return;
    const sb2 value = isNull ? -1 : 0;
    std::memcpy(indicator, &value, sizeof value);
}

bool nullIndicator(const void* indicator) {
    if (!indicator) return false;
    sb2 value;
    std::memcpy(&value, indicator, sizeof value);
    return value == -1;
}

// Gathers one input value through its in-callback.
void gatherByCallback(Bind& b) {
    std::string data;
    bool isNull = false;
    ub1 piece = OCI_FIRST_PIECE;
    for (;;) {
        void* buffer = nullptr;
        ub4 length = 0;
        void* indicator = nullptr;
        if (b.inCallback(b.inContext, reinterpret_cast<OCIBind*>(&b), 0, 0, &buffer, &length, &piece,
                         &indicator) != OCI_CONTINUE)
            raise(CallbackError, "user defined callback error");
        if (nullIndicator(indicator)) isNull = true;
        if (buffer && length > 0) data.append(static_cast<const char*>(buffer), length);
        if (piece == OCI_LAST_PIECE || piece == OCI_ONE_PIECE) break;
        piece = OCI_NEXT_PIECE;
    }
    b.pieceValue = isNull ? Value::null() : longValue(b.dty, data, b.charsetId == OCI_UTF16ID);
}

// Hands a value out through a callback, one call per piece: the callback answers a buffer and a
// pointer to its size, where the piece's length is written back. The first call carries
// firstPiece, later ones OCI_NEXT_PIECE; an empty or NULL value takes one call of length 0.
template <class Callback>
void sendThroughCallback(const std::string& data, bool isNull, ub1 firstPiece, Callback callback) {
    size_t offset = 0;
    ub1 piece = firstPiece;
    do {
        void* buffer = nullptr;
        ub4* length = nullptr;
        void* indicator = nullptr;
        ub2* returnCode = nullptr;
        if (callback(&buffer, &length, &piece, &indicator, &returnCode) != OCI_CONTINUE)
            raise(CallbackError, "user defined callback error");
        const size_t room = length ? *length : 0;
        const size_t n = std::min(room, data.size() - offset);
        if (n > 0) {
            if (!buffer) raise(CallbackError, "user defined callback error");
            std::memcpy(buffer, data.data() + offset, n);
        }
        offset += n;
        if (length) *length = static_cast<ub4>(n);
        storeIndicator(indicator, isNull);
        if (returnCode) *returnCode = 0;
        if (room == 0 && offset < data.size()) raise(CallbackError, "user defined callback error");
        piece = OCI_NEXT_PIECE;
    } while (offset < data.size());
}

// Sends one output value through its out-callback, the first call with OCI_ONE_PIECE.
void sendByCallback(Bind& b) {
    sendThroughCallback(longBytes(b.dty, b.pieceOutput, b.charsetId == OCI_UTF16ID), b.pieceOutput.isNull(),
                        OCI_ONE_PIECE,
                        [&](void** buffer, ub4** length, ub1* piece, void** indicator, ub2** code) {
                            return b.outCallback(b.outContext, reinterpret_cast<OCIBind*>(&b), 0, 0, buffer,
                                                 length, piece, indicator, code);
                        });
}

// The next data-at-exec bind at or after index that waits for the caller (no callback); the
// ones with callbacks on the way are served at once.
size_t nextPollingInput(std::vector<Bind*>& binds, size_t index) {
    for (; index < binds.size(); ++index) {
        if (!binds[index]->inCallback) return index;
        gatherByCallback(*binds[index]);
    }
    return index;
}

size_t nextPollingOutput(std::vector<Bind*>& binds, size_t index) {
    for (; index < binds.size(); ++index) {
        Bind& b = *binds[index];
        if (!b.pieceWritten) continue;
        if (!b.outCallback) return index;
        sendByCallback(b);
    }
    return index;
}

void beginOutput(PieceWork& w, Bind& b) {
    w.phase = PieceWork::Output;
    w.data = longBytes(b.dty, b.pieceOutput, b.charsetId == OCI_UTF16ID);
    w.isNull = b.pieceOutput.isNull();
    w.offset = 0;
    w.started = false;
    w.pieceSet = false;
}

// Copies the next output piece into the buffer the caller set; true while pieces are left.
bool giveOutputPiece(PieceWork& w) {
    if (!w.pieceSet) raise(3001, "unimplemented feature: no buffer was set for the piece");
    const size_t room = w.length ? *w.length : 0;
    const size_t n = std::min(room, w.data.size() - w.offset);
    if (n > 0) std::memcpy(w.buffer, w.data.data() + w.offset, n);
    w.offset += n;
    if (w.length) *w.length = static_cast<ub4>(n);
    storeIndicator(w.indicator, w.isNull);
    w.started = true;
    w.pieceSet = false;
    if (room == 0 && w.offset < w.data.size()) raise(1406, "fetched column value was truncated");
    return w.offset < w.data.size();
}

// Sends what the statement gave its data-at-exec binds; OCI_NEED_DATA when the caller takes a
// piece next.
sword finishExecute(Stmt& st, std::vector<Bind*>& binds, size_t from, sword status) {
    PieceWork& w = st.pieces;
    const size_t index = nextPollingOutput(binds, from);
    if (index < binds.size()) {
        w.index = index;
        beginOutput(w, *binds[index]);
        storeIndicator(binds[index]->indp, w.isNull);  // the bind's own indicator tells a NULL too
        return OCI_NEED_DATA;
    }
    w = PieceWork();
    return status;
}

// Runs the statement once every input value is there.
sword runAndSend(SvcCtx& svc, Stmt& st, Error& err) {
    PieceWork& w = st.pieces;
    const ub4 iters = w.iters, mode = w.mode;
    std::vector<Bind*> binds = longBinds(st);
    for (Bind* b : binds) b->pieceWritten = false;
    const sword status = executeStatement(svc, st, iters, mode, err);
    return finishExecute(st, binds, 0, status);
}

}  // namespace

sword executeWithPieces(SvcCtx& svc, Stmt& st, ub4 iters, ub4 mode, Error& err) {
    PieceWork& w = st.pieces;
    if (w.phase == PieceWork::Fetch) w = PieceWork();  // a new execute ends a fetch half done
    try {
        std::vector<Bind*> binds = longBinds(st);
        switch (w.phase) {
            case PieceWork::Idle: {
                if (binds.empty()) return executeStatement(svc, st, iters, mode, err);
                w = PieceWork();
                w.iters = iters;
                w.mode = mode;
                for (Bind* b : binds) b->pieceValue = Value::null();
                const size_t index = nextPollingInput(binds, 0);
                if (index < binds.size()) {
                    w.phase = PieceWork::Input;
                    w.index = index;
                    return OCI_NEED_DATA;
                }
                return runAndSend(svc, st, err);
            }
            case PieceWork::Input: {
                if (!w.pieceSet) raise(3001, "unimplemented feature: no piece was set");
                Bind& b = *binds.at(w.index);
                if (nullIndicator(w.indicator)) w.isNull = true;
                if (w.buffer && w.length && *w.length > 0) w.data.append(w.buffer, *w.length);
                w.pieceSet = false;
                w.started = true;
                if (w.piece != OCI_LAST_PIECE && w.piece != OCI_ONE_PIECE) return OCI_NEED_DATA;
                b.pieceValue =
                    w.isNull ? Value::null() : longValue(b.dty, w.data, b.charsetId == OCI_UTF16ID);
                w.data.clear();
                w.isNull = false;
                w.started = false;
                const size_t index = nextPollingInput(binds, w.index + 1);
                if (index < binds.size()) {
                    w.index = index;
                    return OCI_NEED_DATA;
                }
                return runAndSend(svc, st, err);
            }
            case PieceWork::Output: {
                if (giveOutputPiece(w)) return OCI_NEED_DATA;
                return finishExecute(st, binds, w.index + 1, OCI_SUCCESS);
            }
            case PieceWork::Fetch:
                break;
        }
    } catch (...) {
        w = PieceWork();
        throw;
    }
    return OCI_SUCCESS;
}

// ---- fetching

namespace {

// The next dynamic define of the row waiting for the caller; its own indicator tells a NULL.
void beginDefine(PieceWork& w, size_t index) {
    Define* d = w.defines[index];
    w.index = index;
    w.data = longBytes(d->dty, w.values[index], d->charsetId == OCI_UTF16ID);
    w.isNull = w.values[index].isNull();
    w.offset = 0;
    w.started = false;
    w.pieceSet = false;
    storeIndicator(d->indp ? d->indp + static_cast<size_t>(w.row) * (d->indSkip ? d->indSkip : 2) : nullptr,
                   w.isNull);
}

}  // namespace

sword fetchPieces(Stmt& st, ub4 row, const std::vector<Value>& values) {
    PieceWork& w = st.pieces;
    w.defines.clear();
    w.values.clear();
    for (Define* d : st.defines) {
        if (!d->dynamic) continue;
        const Value& v = values[d->position - 1];
        if (!d->callback) {
            w.defines.push_back(d);
            w.values.push_back(v);
            continue;
        }
        sendThroughCallback(longBytes(d->dty, v, d->charsetId == OCI_UTF16ID), v.isNull(), OCI_FIRST_PIECE,
                            [&](void** buffer, ub4** length, ub1* piece, void** indicator, ub2** code) {
                                return d->callback(d->context, reinterpret_cast<OCIDefine*>(d), row, buffer,
                                                   length, piece, indicator, code);
                            });
    }
    if (w.defines.empty()) return OCI_SUCCESS;
    w.phase = PieceWork::Fetch;
    w.row = row;
    beginDefine(w, 0);
    return OCI_NEED_DATA;
}

sword continueFetchPieces(Stmt& st) {
    PieceWork& w = st.pieces;
    try {
        if (giveOutputPiece(w)) return OCI_NEED_DATA;
        if (w.index + 1 < w.defines.size()) {
            beginDefine(w, w.index + 1);
            return OCI_NEED_DATA;
        }
    } catch (...) {
        w = PieceWork();
        throw;
    }
    w = PieceWork();
    return OCI_SUCCESS;
}

}  // namespace oci

using namespace oci;

extern "C" {

sword OCIBindDynamic(OCIBind* bindp, OCIError* errhp, void* ictxp, OCICallbackInBind icbfp, void* octxp,
                     OCICallbackOutBind ocbfp) {
    auto* b = handleAs<Bind>(bindp, OCI_HTYPE_BIND);
    auto* err = handleAs<Error>(errhp, OCI_HTYPE_ERROR);
    if (!b || !err) return OCI_INVALID_HANDLE;
    return guarded(err, [&]() -> sword {
        if (!b->dataAtExec) raise(24357, "internal error while attempting to bind: no data at execute time");
        b->inCallback = icbfp;
        b->inContext = ictxp;
        b->outCallback = ocbfp;
        b->outContext = octxp;
        return OCI_SUCCESS;
    });
}

sword OCIDefineDynamic(OCIDefine* defnp, OCIError* errhp, void* octxp, OCICallbackDefine ocbfp) {
    auto* d = handleAs<Define>(defnp, OCI_HTYPE_DEFINE);
    auto* err = handleAs<Error>(errhp, OCI_HTYPE_ERROR);
    if (!d || !err) return OCI_INVALID_HANDLE;
    return guarded(err, [&]() -> sword {
        if (!d->dynamic) raise(24357, "internal error while attempting to define: no dynamic fetch");
        d->callback = ocbfp;
        d->context = octxp;
        return OCI_SUCCESS;
    });
}

sword OCIStmtGetPieceInfo(OCIStmt* stmtp, OCIError* errhp, void** hndlpp, ub4* typep, ub1* in_outp,
                          ub4* iterp, ub4* idxp, ub1* piecep) {
    auto* st = handleAs<Stmt>(stmtp, OCI_HTYPE_STMT);
    auto* err = handleAs<Error>(errhp, OCI_HTYPE_ERROR);
    if (!st || !err || !hndlpp || !typep || !in_outp || !iterp || !idxp || !piecep) return OCI_INVALID_HANDLE;
    return guarded(err, [&]() -> sword {
        PieceWork& w = st->pieces;
        *iterp = 0;
        *idxp = 0;
        *piecep = w.started ? OCI_NEXT_PIECE : OCI_FIRST_PIECE;
        switch (w.phase) {
            case PieceWork::Input:
            case PieceWork::Output:
                *hndlpp = longBinds(*st).at(w.index);
                *typep = OCI_HTYPE_BIND;
                *in_outp = w.phase == PieceWork::Input ? OCI_PARAM_IN : OCI_PARAM_OUT;
                return OCI_SUCCESS;
            case PieceWork::Fetch:
                *hndlpp = w.defines.at(w.index);
                *typep = OCI_HTYPE_DEFINE;
                *in_outp = OCI_PARAM_OUT;
                *iterp = w.row;
                return OCI_SUCCESS;
            default:
                raise(24345, "A Truncation or null fetch error occurred");
        }
    });
}

sword OCIStmtSetPieceInfo(void* hndlp, ub4 type, OCIError* errhp, const void* bufp, ub4* alenp, ub1 piece,
                          const void* indp, ub2* rcodep) {
    auto* err = handleAs<Error>(errhp, OCI_HTYPE_ERROR);
    Handle* h = findHandle(hndlp);
    if (!err || !h || h->type != type || (type != OCI_HTYPE_BIND && type != OCI_HTYPE_DEFINE))
        return OCI_INVALID_HANDLE;
    return guarded(err, [&]() -> sword {
        auto* st = h->parent && h->parent->type == OCI_HTYPE_STMT ? static_cast<Stmt*>(h->parent) : nullptr;
        if (!st || st->pieces.phase == PieceWork::Idle)
            raise(24345, "A Truncation or null fetch error occurred");
        PieceWork& w = st->pieces;
        const void* wanted = w.phase == PieceWork::Fetch
                                 ? static_cast<const void*>(w.defines.at(w.index))
                                 : static_cast<const void*>(longBinds(*st).at(w.index));
        if (hndlp != wanted) raise(24345, "A Truncation or null fetch error occurred");
        w.buffer = static_cast<char*>(const_cast<void*>(bufp));
        w.length = alenp;
        w.piece = piece;
        w.indicator = const_cast<void*>(indp);
        w.pieceSet = true;
        if (rcodep) *rcodep = 0;
        return OCI_SUCCESS;
    });
}

}  // extern "C"
