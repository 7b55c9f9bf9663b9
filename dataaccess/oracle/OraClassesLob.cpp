// TOraLob and TOraFile: BLOB, CLOB, NCLOB and BFILE values over OCI locators, with the content
// held in blob pieces on the client.
#include <algorithm>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "dataaccess/oracle/OraClasses.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Strings.h"

namespace dac {

namespace {

constexpr ub2 UnicodeCharsetId = 1000;
constexpr sb4 NoFileOrDirectory = 22285;
constexpr int FileNameChars = 255;

}  // namespace

// ---------------------------------------------------------------------------------------------
// TOraLob

TOraLob::TOraLob(OCISvcCtx* svcCtx) : TCompressedBlob(false) {
    SetSvcCtx(svcCtx);
}

TOraLob::~TOraLob() {
    try {
        FreeLob();
    } catch (...) {  // a server that went away leaves nothing to free
    }
}

OCIEnv* TOraLob::Environment() {
    if (!OCIInitialized) InitOCI();
    return FEnvironmentHandle ? FEnvironmentHandle : OCIEnvHandle;
}

void TOraLob::Check(sword status) {
    if (status != OCI_SUCCESS) CheckOCIStatus(status, FUnicodeEnvironment, OCIErrorHandle());
}

void TOraLob::SetSvcCtx(OCISvcCtx* value) {
    FConnection = nullptr;
    FSvcCtx = value;
    FUnicodeEnvironment = false;
    if (!value) return;
    if (!OCIInitialized) InitOCI();
    OCIEnv* env = nullptr;
    Check(OCIAttrGet(value, OCI_HTYPE_SVCCTX, &env, nullptr, OCI_ATTR_ENV, OCIErrorHandle()));
    FEnvironmentHandle = env;
    FUnicodeEnvironment = IsUnicodeEnvironment(env, OCIErrorHandle());
}

void TOraLob::SetConnection(TOCIConnection* value) {
    if (value) SetSvcCtx(value->GetSvcCtx());
    FConnection = value;
}

OCILobLocator* TOraLob::AllocLob() {
    if (!locator_) {
        Check(OCIDescriptorAlloc(Environment(), reinterpret_cast<void**>(&locator_), OCI_DTYPE_LOB, 0,
                                 nullptr));
        FOwnsLocator = true;
    }
    return locator_;
}

void TOraLob::FreeLob() {
    if (locator_ && FOwnsLocator && FOwnsTemporary) FreeTemporary();
    if (locator_) {
        if (FOwnsLocator) OCIDescriptorFree(locator_, OCI_DTYPE_LOB);
        locator_ = nullptr;
    }
    FCharsetForm = 0;
    FOwnsLocator = false;
    FOwnsTemporary = false;
}

OCILobLocator* TOraLob::GetOCILobLocator() {
    if (!locator_) AllocLob();
    return locator_;
}

OCILobLocator** TOraLob::GetOCILobLocatorPtr() {
    if (!locator_) AllocLob();
    return &locator_;
}

void TOraLob::SetOCILobLocator(OCILobLocator* value) {
    FreeLob();
    locator_ = value;
    if (value) FOwnsLocator = false;
}

OCILobLocator* TOraLob::ExchangeLocator(OCILobLocator* filled) {
    if (!locator_ || !FOwnsLocator) {
        locator_ = nullptr;
        AllocLob();
    }
    OCILobLocator* own = locator_;
    locator_ = filled;
    FOwnsLocator = true;
    FOwnsTemporary = false;
    return own;
}

void TOraLob::CheckAlloc() {
    if (!locator_) throw rtl::Exception("Lob is not allocated");
}

void TOraLob::CheckSvcCtx() {
    if (!FSvcCtx) throw rtl::Exception("OCISvcCtx is not defined");
}

void TOraLob::CheckInit() {
    if (!IsInit()) throw rtl::Exception("Lob locator should be inited");
}

bool TOraLob::IsInit() {
    CheckAlloc();
    boolean init = 0;
    Check(OCILobLocatorIsInit(Environment(), OCIErrorHandle(), locator_, &init));
    return init != 0;
}

bool TOraLob::IsTemporary() {
    CheckAlloc();
    boolean temporary = 0;
    Check(OCILobIsTemporary(Environment(), OCIErrorHandle(), locator_, &temporary));
    return temporary != 0;
}

int64_t TOraLob::LengthLob() {
    CheckAlloc();
    CheckSvcCtx();
    if (!IsInit()) {
        FNeedRead = false;
        return 0;
    }
    ub4 length = 0;
    Check(OCILobGetLength(FSvcCtx, OCIErrorHandle(), locator_, &length));
    if (length == 0) FNeedRead = false;
    return length;
}

void TOraLob::ReadCharsetForm() {
    if (FCharsetForm != 0) return;
    ub1 form = 0;
    Check(OCILobCharSetForm(Environment(), OCIErrorHandle(), locator_, &form));
    FCharsetForm = form;
    if (form == 2) LobType = 2;
}

void TOraLob::ReadLob() {
    PPieceHeader none = nullptr;
    ReadLob(none);
}

void TOraLob::ReadLob(PPieceHeader& callerPiece) {
    CheckAlloc();
    CheckSvcCtx();
    TCompressedBlob::Clear();
    if (IsInit()) {
        ReadCharsetForm();
        const ub2 charsetId = IsUnicode() ? UnicodeCharsetId : 0;
        const bool read2 = OCIVersion >= 10000;
        PPieceHeader piece = callerPiece;
        if (!piece) AllocPiece(piece, GetPieceSize());
        bool first = true;
        while (true) {
            sword status;
            uint32_t used = 0;
            if (read2) {
                oraub8 bytes = 0, chars = 0;
                status = OCILobRead2(FSvcCtx, OCIErrorHandle(), locator_, &bytes, &chars, 1, PieceData(piece),
                                     PieceHeader::Capacity(piece), first ? OCI_FIRST_PIECE : OCI_NEXT_PIECE,
                                     nullptr, nullptr, charsetId, static_cast<ub1>(FCharsetForm));
                used = static_cast<uint32_t>(bytes);
            } else {
                ub4 amount = 0;
                status = OCILobRead(FSvcCtx, OCIErrorHandle(), locator_, &amount, 1, PieceData(piece),
                                    PieceHeader::Capacity(piece), nullptr, nullptr, charsetId,
                                    static_cast<ub1>(FCharsetForm));
                used = static_cast<uint32_t>(CharSize()) * amount;
            }
            first = false;
            if (status != OCI_NEED_DATA) {
                try {
                    Check(status);
                } catch (...) {
                    if (piece != callerPiece) FreePiece(piece);
                    throw;
                }
            }
            PieceHeader::SetUsed(piece, used);
            if (used == 0) {
                if (piece != callerPiece) FreePiece(piece);
                break;
            }
            if (piece == callerPiece) {
                if (used < PieceHeader::Capacity(piece) / 2) {
                    // the caller keeps its piece; an exact copy goes into the content
                    PPieceHeader copy = nullptr;
                    AllocPiece(copy, used);
                    std::memcpy(PieceData(copy), PieceData(piece), used);
                    PieceHeader::SetUsed(copy, used);
                    piece = copy;
                } else {
                    callerPiece = nullptr;
                }
            } else if (used < PieceHeader::Capacity(piece) / 2) {
                ReallocPiece(piece, used);
            }
            AppendPiece(piece);
            if (status == OCI_SUCCESS) break;
            piece = nullptr;
            AllocPiece(piece, GetPieceSize());
        }
    }
    FNeedRead = false;
    FCached = true;
}

void TOraLob::WriteLob() {
    CheckAlloc();
    CheckSvcCtx();
    CheckInit();
    ReadCharsetForm();
    Check(OCILobTrim(FSvcCtx, OCIErrorHandle(), locator_, 0));
    ub4 offset = 1;
    for (PPieceHeader piece = FirstPiece(); piece; piece = PieceHeader::Next(piece)) {
        const uint32_t used = PieceHeader::Used(piece);
        ub2 charsetId = 0;
        ub4 amount = used;
        if (IsUnicode()) {
            charsetId = UnicodeCharsetId;
            amount = used / static_cast<uint32_t>(CharSize());
        } else if (LobType != 0 && FUnicodeEnvironment) {
            throw rtl::Exception("IsUnicode must be set to True for CLOB in Unicode OCI environment");
        }
        Check(OCILobWrite(FSvcCtx, OCIErrorHandle(), locator_, &amount, offset, PieceData(piece), used,
                          OCI_ONE_PIECE, nullptr, nullptr, charsetId, static_cast<ub1>(FCharsetForm)));
        offset += amount;
    }
}

void TOraLob::CreateTemporary(uint8_t lobType) {
    if (OCIVersion < 8100) throw rtl::Exception("Need Oracle 8i Call Interface");
    FreeLob();
    if (lobType == 2 && FConnection) {
        // A national temporary comes from the server, which knows the national character set.
        TOCICommand command;
        command.SetConnection(FConnection);
        command.SetProp(prAutoCommit, false);
        command.SetSQLText("begin dbms_lob.createtemporary(:TempClob, False); end;");
        auto* param = static_cast<TOraParamDesc*>(command.AddParam());
        param->SetName("TempClob");
        param->SetDataType(dtOraClob);
        param->SetParamType(ptInput);
        param->SetNationalFlag(true);
        auto* temp = new TOraLob(FSvcCtx);
        param->SetObject(temp);
        temp->Free();  // the parameter holds it
        command.Execute();
        // take the locator over, with its ownership
        locator_ = std::exchange(temp->locator_, nullptr);
        FOwnsLocator = std::exchange(temp->FOwnsLocator, false);
        temp->FOwnsTemporary = false;
    } else {
        AllocLob();
        Check(OCILobCreateTemporary(FSvcCtx, OCIErrorHandle(), locator_, 0, 0,
                                    static_cast<ub1>(lobType == 0 ? 1 : 2), 0, OCI_DURATION_SESSION));
    }
    LobType = lobType;
    FOwnsTemporary = true;
    FCharsetForm = lobType == 2 ? 2 : 1;
}

void TOraLob::FreeTemporary() {
    if (FOwnsTemporary && FSvcCtx && IsTemporary() && IsInit())
        Check(OCILobFreeTemporary(FSvcCtx, OCIErrorHandle(), locator_));
    FOwnsTemporary = false;
    FreeLob();
}

void TOraLob::SetCached(bool value) {
    if (value == FCached) return;
    if (!value && GetData()->FirstPiece()) {
        TCompressedBlob::Clear();
        FNeedRead = true;
    }
    FCached = value;
}

void TOraLob::ExpandServerCompressed() {
    PPieceHeader first = FirstPiece();
    if (!first || PieceHeader::Used(first) <= CompressedBlobHeaderSize ||
        std::memcmp(PieceData(first), CompressedBlobMark, sizeof CompressedBlobMark) != 0)
        return;
    auto* data = dynamic_cast<TCompressedBlobData*>(GetData());
    if (!data || data->IsCompressed()) return;
    uint32_t size = 0;
    std::memcpy(&size, PieceData(first) + sizeof CompressedBlobMark, sizeof size);  // little-endian
    std::vector<uint8_t> plain(size);
    int64_t length = size;
    data->Uncompress(plain.data(), length);
    if (length != size) throw rtl::Exception("Invalid uncompressed blob size");
    TCompressedBlob::Clear();
    if (size > 0) TCompressedBlob::Write(0, size, plain.data());
}

void TOraLob::EnsureLoaded() {
    if (FNeedRead) ReadLob();
}

int64_t TOraLob::GetSize() {
    if (FNeedRead && !IsUnicode() && CharLength > 1) ReadLob();
    if (FNeedRead) return CharSize() * LengthLob();
    return TCompressedBlob::GetSize();
}

int64_t TOraLob::GetSizeAnsi() {
    rtl::Assert(IsUnicode(), "OraClasses: GetSizeAnsi of a LOB that is not Unicode");
    if (FNeedRead) {
        if (!rtl::SysLocaleFarEast) return LengthLob();
        ReadLob();
    }
    return TCompressedBlob::GetSizeAnsi();
}

int64_t TOraLob::Read(int64_t position, int64_t count, void* dest) {
    if (FCached) return TCompressedBlob::Read(position, count, dest);
    CheckAlloc();
    CheckSvcCtx();
    if (!IsInit()) return 0;
    ReadCharsetForm();
    const ub2 charsetId = IsUnicode() ? UnicodeCharsetId : 0;
    const int64_t amount = count ? count : LengthLob();
    const int64_t bufferLength = count ? count : GetSize();
    if (bufferLength <= 0) return 0;
    sword status;
    int64_t result;
    if (OCIVersion >= 10000) {
        oraub8 bytes = static_cast<oraub8>(amount), chars = static_cast<oraub8>(amount);
        status = OCILobRead2(FSvcCtx, OCIErrorHandle(), locator_, &bytes, &chars,
                             static_cast<oraub8>(position + 1), dest, static_cast<oraub8>(bufferLength),
                             OCI_FIRST_PIECE, nullptr, nullptr, charsetId, static_cast<ub1>(FCharsetForm));
        result = static_cast<int64_t>(bytes);
    } else {
        ub4 n = static_cast<ub4>(amount);
        status = OCILobRead(FSvcCtx, OCIErrorHandle(), locator_, &n, static_cast<ub4>(position + 1), dest,
                            static_cast<ub4>(bufferLength), nullptr, nullptr, charsetId,
                            static_cast<ub1>(FCharsetForm));
        result = static_cast<int64_t>(CharSize()) * n;
    }
    if (status != OCI_NEED_DATA) Check(status);
    return result;
}

void TOraLob::Write(int64_t position, int64_t count, const void* source) {
    FCached = true;
    TCompressedBlob::Write(position, count, source);
}

void TOraLob::Clear() {
    FNeedRead = false;
    TCompressedBlob::Clear();
}

void TOraLob::Truncate(int64_t newSize) {
    if (newSize == 0)
        FNeedRead = false;
    else
        EnsureLoaded();
    TCompressedBlob::Truncate(newSize);
}

// ---------------------------------------------------------------------------------------------
// TOraFile

TOraFile::~TOraFile() {
    try {
        TOraFile::DisposeHandle();
    } catch (...) {
    }
}

OCILobLocator* TOraFile::AllocLob() {
    if (!locator_) {
        Check(OCIDescriptorAlloc(Environment(), reinterpret_cast<void**>(&locator_), OCI_DTYPE_FILE, 0,
                                 nullptr));
        FOwnsLocator = true;
    }
    return locator_;
}

void TOraFile::DisposeHandle() {
    if (locator_ && FOwnsLocator) OCIDescriptorFree(locator_, OCI_DTYPE_FILE);
    locator_ = nullptr;
    FOwnsLocator = false;
    FCharsetForm = 0;
}

void TOraFile::EnsureLoaded() {
    if (!FNeedRead || !GetExists()) return;
    Open();
    try {
        ReadLob();
    } catch (...) {
        Close();
        throw;
    }
    Close();
}

void TOraFile::SaveToRollback() {
    FSavedDirectory = GetFileDir();
    FSavedFileName = GetFileName();
    FRollbackSaved = true;
}

void TOraFile::Commit() {
    FRollbackSaved = false;
    FRollbackEnabled = false;
}

void TOraFile::Cancel() {
    if (FRollbackSaved) {
        // both names go back before anything is read
        FRollbackEnabled = false;
        SetFileNameDir(FSavedDirectory, FSavedFileName);
        if (FCached) {
            Refresh();
        } else {
            Clear();
            FNeedRead = true;
        }
    }
    FRollbackSaved = false;
    FRollbackEnabled = false;
}

void TOraFile::Open() {
    CheckAlloc();
    CheckSvcCtx();
    if (IsInit()) Check(OCILobFileOpen(FSvcCtx, OCIErrorHandle(), locator_, OCI_FILE_READONLY));
}

void TOraFile::Close() {
    if (IsInit()) Check(OCILobFileClose(FSvcCtx, OCIErrorHandle(), locator_));
}

bool TOraFile::GetExists() {
    if (!locator_ || !IsInit() || GetFileName().empty()) return false;
    CheckSvcCtx();
    boolean exists = 0;
    sword status = OCILobFileExists(FSvcCtx, OCIErrorHandle(), locator_, &exists);
    if (status == OCI_SUCCESS) return exists != 0;
    AnsiString message;
    if (GetOraError(status, FUnicodeEnvironment, message, OCIErrorHandle()) == NoFileOrDirectory)
        return false;
    Check(status);
    return false;
}

namespace {

// A name of one NUL character counts as empty.
AnsiString FileNameText(const uint8_t* buffer, ub2 length, bool unicode) {
    AnsiString s = OCITextToStringLen(buffer, length, unicode);
    if (s.size() == 1 && s[0] == '\0') s.clear();
    return s;
}

}  // namespace

AnsiString TOraFile::GetFileDir() {
    if (!locator_ || !IsInit()) return {};
    const int unit = FUnicodeEnvironment ? 2 : 1;
    std::vector<uint8_t> dir(FileNameChars * unit), name(FileNameChars * unit);
    ub2 dirLength = static_cast<ub2>(dir.size()), nameLength = static_cast<ub2>(name.size());
    Check(OCILobFileGetName(Environment(), OCIErrorHandle(), locator_, dir.data(), &dirLength, name.data(),
                            &nameLength));
    return FileNameText(dir.data(), dirLength, FUnicodeEnvironment);
}

AnsiString TOraFile::GetFileName() {
    if (!locator_ || !IsInit()) return {};
    const int unit = FUnicodeEnvironment ? 2 : 1;
    std::vector<uint8_t> dir(FileNameChars * unit), name(FileNameChars * unit);
    ub2 dirLength = static_cast<ub2>(dir.size()), nameLength = static_cast<ub2>(name.size());
    Check(OCILobFileGetName(Environment(), OCIErrorHandle(), locator_, dir.data(), &dirLength, name.data(),
                            &nameLength));
    return FileNameText(name.data(), nameLength, FUnicodeEnvironment);
}

void TOraFile::SetFileDir(const AnsiString& value) {
    SetFileNameDir(rtl::AnsiUpperCase(value), GetFileName());
}

void TOraFile::SetFileName(const AnsiString& value) {
    SetFileNameDir(GetFileDir(), value);
}

void TOraFile::SetFileNameDir(const AnsiString& dir, const AnsiString& name) {
    CheckAlloc();
    if (FRollbackEnabled && !FRollbackSaved) SaveToRollback();
    // an empty text goes as one NUL character
    const AnsiString dirText = dir.empty() ? AnsiString(1, '\0') : dir;
    const AnsiString nameText = name.empty() ? AnsiString(1, '\0') : name;
    int dirSize = 0, nameSize = 0;
    void* d = StringToOCIText(dirText, dirSize, FUnicodeEnvironment);
    void* n = StringToOCIText(nameText, nameSize, FUnicodeEnvironment);
    if (!FUnicodeEnvironment) {
        dirSize = static_cast<int>(dirText.size());
        nameSize = static_cast<int>(nameText.size());
    }
    sword status = OCILobFileSetName(Environment(), OCIErrorHandle(), &locator_,
                                     static_cast<const OraText*>(d), static_cast<ub2>(dirSize),
                                     static_cast<const OraText*>(n), static_cast<ub2>(nameSize));
    FreeOCIText(d, FUnicodeEnvironment);
    FreeOCIText(n, FUnicodeEnvironment);
    Check(status);
}

void TOraFile::Refresh() {
    CheckAlloc();
    CheckSvcCtx();
    TCompressedBlob::Clear();
    if (!GetExists()) return;
    Open();
    try {
        ReadLob();
    } catch (...) {
        Close();
        throw;
    }
    Close();
}

// ---------------------------------------------------------------------------------------------
// LOB parameters

TOraLob* TOraParamDesc::GetAsOraLob() {
    return dynamic_cast<TOraLob*>(GetObject());
}

TOraFile* TOraParamDesc::GetAsOraFile() {
    return dynamic_cast<TOraFile*>(GetObject());
}

TOraLob* TOCICommand::PrepareLobParam(TOraParamDesc* param) {
    const TDataType type = param->GetDataType();
    TOraLob* lob = param->GetAsOraLob();
    if (!lob) {
        lob = type == dtBFile || type == dtCFile ? new TOraFile() : new TOraLob();
        if (type == dtWideOraClob) lob->SetIsUnicode(true);
        param->SetObject(lob);
        lob->Free();  // the descriptor holds its own reference
    }
    if (type == dtOraClob || type == dtWideOraClob) lob->LobType = param->GetNationalFlag() ? 2 : 1;
    if (lob->GetConnection() != FOracleConnection) lob->SetConnection(FOracleConnection);
    lob->CharLength = static_cast<uint8_t>(FOracleConnection->CharLength());
    lob->AllocLob();
    return lob;
}

void TOCICommand::PrepareTemporaryLobs() {
    for (int i = 0; i < GetParamCount(); ++i) {
        TOraParamDesc* param = GetParam(i);
        const TDataType type = param->GetDataType();
        if (type != dtOraBlob && type != dtOraClob && type != dtWideOraClob) continue;
        if (param->GetLength() > 1 || param->GetNull()) continue;
        if (param->GetParamType() != ptInput && param->GetParamType() != ptInputOutput) continue;
        TOraLob* lob = PrepareLobParam(param);
        if (type == dtOraBlob && (CompressBlobMode() == 2 || CompressBlobMode() == 3))
            lob->SetCompressed(true);
        lob->EnsureLoaded();
        lob->CreateTemporary(type == dtOraBlob ? 0 : param->GetNationalFlag() ? 2 : 1);
        lob->WriteLob();
    }
}

void TOCICommand::ReadBackLob(TOraParamDesc* param) {
    TOraLob* lob = param->GetAsOraLob();
    if (!lob) return;
    const uint8_t direction = param->GetParamType();
    const bool isNull = *param->GetIndicatorPtr() < 0;
    lob->SetCached(FCacheLobs || direction == ptInput);
    if (!lob->GetCached()) {
        // read on demand from the locator the server gave
        if (direction != ptInput && !isNull) lob->SetNeedRead(true);
        return;
    }
    const bool blob = param->GetDataType() == dtOraBlob;
    if (direction == ptOutput || direction == ptResult ||
        (direction == ptInputOutput && FTemporaryLobUpdate)) {
        if (isNull) {
            lob->FreeLob();
            lob->Clear();
            return;
        }
        lob->ReadLob();
        if (blob && (CompressBlobMode() == 2 || CompressBlobMode() == 3)) lob->ExpandServerCompressed();
        if (blob && (CompressBlobMode() == 1 || CompressBlobMode() == 3)) lob->SetCompressed(true);
    } else if (direction == ptInput) {
        // the content already went in through a temporary LOB, or there is none to write
        if (FTemporaryLobUpdate || isNull) return;
        lob->SetCompressed(blob && (CompressBlobMode() == 2 || CompressBlobMode() == 3));
        lob->WriteLob();
    } else {
        RaiseError("Lob parameter should be Input or Output");
    }
}

}  // namespace dac
