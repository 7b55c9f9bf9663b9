// Shared objects, blob piece lists and blobs with their rollback copy.
#include <algorithm>
#include <cstdlib>

#include "dataaccess/core/MemData.h"
#include "platform/rtl/Strings.h"

namespace dac {

// ---------------------------------------------------------------------------------------------
// TSharedObject

void TSharedObject::Free() {
    rtl::Assert(refCount_ >= 1, ClassName() + ".Free RefCount = " + std::to_string(refCount_));
    if (refCount_ == 1)
        rtl::Free(this);
    else
        --refCount_;
}

// ---------------------------------------------------------------------------------------------
// Pieces

uint8_t* PieceData(PPieceHeader piece) {
    return piece ? reinterpret_cast<uint8_t*>(piece) + PieceHeader::Size : nullptr;
}

uint8_t* PieceUsedPtr(PPieceHeader piece) {
    return piece ? reinterpret_cast<uint8_t*>(piece) + PieceHeader::ofsUsed : nullptr;
}

void TCRBlobData::AllocPiece(PPieceHeader& piece, int64_t size) {
    rtl::Assert(size > 0 && size <= UINT32_MAX, "MemData: invalid piece size");
    void* p = std::malloc(PieceHeader::Size + static_cast<std::size_t>(size));
    if (!p) throw rtl::EOutOfMemory("Out of memory");
    piece = static_cast<PPieceHeader>(p);
    PieceHeader::SetOwner(piece, nullptr);
    PieceHeader::SetCapacity(piece, static_cast<uint32_t>(size));
    PieceHeader::SetUsed(piece, 0);
    PieceHeader::SetPrev(piece, nullptr);
    PieceHeader::SetNext(piece, nullptr);
    PokePacked<uint16_t>(piece, PieceHeader::ofsReserved, 0);
}

void TCRBlobData::ReallocPiece(PPieceHeader& piece, int64_t size) {
    if (size == 0) {
        FreePiece(piece);
        piece = nullptr;
        return;
    }
    if (size == PieceHeader::Capacity(piece)) return;
    void* p = std::realloc(piece, PieceHeader::Size + static_cast<std::size_t>(size));
    if (!p) throw rtl::EOutOfMemory("Out of memory");
    piece = static_cast<PPieceHeader>(p);
    PieceHeader::SetCapacity(piece, static_cast<uint32_t>(size));
    if (PieceHeader::Used(piece) > size) PieceHeader::SetUsed(piece, static_cast<uint32_t>(size));
    if (PieceHeader::Owner(piece)) {
        PPieceHeader prev = PieceHeader::Prev(piece);
        PPieceHeader next = PieceHeader::Next(piece);
        if (prev)
            PieceHeader::SetNext(prev, piece);
        else
            firstPiece_ = piece;
        if (next) PieceHeader::SetPrev(next, piece);
    }
}

void TCRBlobData::FreePiece(PPieceHeader piece) {
    if (!piece) return;
    if (PieceHeader::Owner(piece)) DeletePiece(piece);
    std::free(piece);
}

void TCRBlobData::AppendPiece(PPieceHeader piece) {
    PieceHeader::SetOwner(piece, this);
    PieceHeader::SetNext(piece, nullptr);
    if (!firstPiece_) {
        PieceHeader::SetPrev(piece, nullptr);
        firstPiece_ = piece;
        return;
    }
    PPieceHeader last = firstPiece_;
    while (PieceHeader::Next(last)) last = PieceHeader::Next(last);
    PieceHeader::SetNext(last, piece);
    PieceHeader::SetPrev(piece, last);
}

void TCRBlobData::DeletePiece(PPieceHeader piece) {
    rtl::Assert(PieceHeader::Owner(piece) == this, "MemData: piece of another blob");
    PPieceHeader prev = PieceHeader::Prev(piece);
    PPieceHeader next = PieceHeader::Next(piece);
    if (prev)
        PieceHeader::SetNext(prev, next);
    else
        firstPiece_ = next;
    if (next) PieceHeader::SetPrev(next, prev);
    PieceHeader::SetOwner(piece, nullptr);
    PieceHeader::SetPrev(piece, nullptr);
    PieceHeader::SetNext(piece, nullptr);
}

void TCRBlobData::CompressPiece(PPieceHeader& piece) {
    if (PieceHeader::Used(piece) < PieceHeader::Capacity(piece))
        ReallocPiece(piece, PieceHeader::Used(piece));
}

// ---------------------------------------------------------------------------------------------
// TCRBlobData

TCRBlobData::~TCRBlobData() {
    TCRBlobData::Clear();
}

int64_t TCRBlobData::GetDataSize() const {
    int64_t size = 0;
    for (PPieceHeader p = firstPiece_; p; p = PieceHeader::Next(p)) size += PieceHeader::Used(p);
    return size;
}

void TCRBlobData::SetSize(int64_t value) {
    const int64_t size = GetSize();
    if (value < size) {
        Truncate(value);
    } else if (value > size) {
        PPieceHeader piece;
        AllocPiece(piece, value - size);
        std::memset(PieceData(piece), 0, static_cast<std::size_t>(value - size));
        PieceHeader::SetUsed(piece, static_cast<uint32_t>(value - size));
        AppendPiece(piece);
    }
}

void TCRBlobData::Clear() {
    while (firstPiece_) FreePiece(firstPiece_);
}

void TCRBlobData::Truncate(int64_t newSize) {
    if (newSize <= 0) {
        Clear();
        return;
    }
    // Offsets run over the original counts; pieces past the new end become empty.
    int64_t offset = 0;
    for (PPieceHeader p = firstPiece_; p; p = PieceHeader::Next(p)) {
        const int64_t used = PieceHeader::Used(p);
        if (offset + used > newSize)
            PieceHeader::SetUsed(p, static_cast<uint32_t>(std::max<int64_t>(0, newSize - offset)));
        offset += used;
    }
}

int64_t TCRBlobData::Read(int64_t position, int64_t count, void* dest) {
    const int64_t size = GetDataSize();
    if (!firstPiece_ || position > size || position < 0) return 0;
    const int64_t end = count == 0 ? size : std::min(position + count, size);
    int64_t offset = 0;
    int64_t copied = 0;
    auto* out = static_cast<uint8_t*>(dest);
    for (PPieceHeader p = firstPiece_; p && offset < end; p = PieceHeader::Next(p)) {
        const int64_t used = PieceHeader::Used(p);
        const int64_t from = std::max(position, offset);
        const int64_t to = std::min(end, offset + used);
        if (to > from) {
            std::memcpy(out + copied, PieceData(p) + (from - offset), static_cast<std::size_t>(to - from));
            copied += to - from;
        }
        offset += used;
    }
    return copied;
}

void TCRBlobData::Write(int64_t position, int64_t count, const void* source) {
    if (count <= 0) return;
    int64_t size = GetDataSize();
    if (position > size || position < 0) position = size;
    const int64_t end = position + count;
    const auto* in = static_cast<const uint8_t*>(source);
    int64_t offset = 0;
    PPieceHeader p = firstPiece_;
    PPieceHeader last = nullptr;
    while (offset < end) {
        if (!p) {
            AllocPiece(p, std::min<int64_t>(pieceSize_, count));
            if (last) {
                // Append after the known last piece without walking the list again.
                PieceHeader::SetOwner(p, this);
                PieceHeader::SetPrev(p, last);
                PieceHeader::SetNext(last, p);
            } else {
                AppendPiece(p);
            }
        }
        const int64_t used = PieceHeader::Used(p);
        // Spare capacity belongs to the value's end: only a piece with nothing stored after it
        // may grow, so a write overwrites and never inserts.
        const bool tail = offset + used == size;
        const int64_t limit = tail ? PieceHeader::Capacity(p) : used;
        if (position < offset + limit) {
            const int64_t start = std::max<int64_t>(position - offset, 0);
            rtl::Assert(start <= used, "MemData: blob write beyond the used bytes");
            const int64_t to = std::min(end, offset + limit);
            const int64_t n = to - (offset + start);
            std::memcpy(PieceData(p) + start, in + (offset + start - position), static_cast<std::size_t>(n));
            if (start + n > used) {
                PieceHeader::SetUsed(p, static_cast<uint32_t>(start + n));
                size += start + n - used;
            }
        }
        offset += PieceHeader::Used(p);
        last = p;
        p = PieceHeader::Next(p);
    }
}

void TCRBlobData::TakePieces(TCRBlobData& from) {
    firstPiece_ = from.firstPiece_;
    from.firstPiece_ = nullptr;
    for (PPieceHeader p = firstPiece_; p; p = PieceHeader::Next(p)) PieceHeader::SetOwner(p, this);
}

void TCRBlobData::MoveToRollback(TCRBlobData* rollback) {
    rollback->Clear();
    if (!firstPiece_) return;
    const int64_t size = GetSize();
    PPieceHeader copy = nullptr;
    if (size > 0) {
        AllocPiece(copy, size);
        try {
            PieceHeader::SetUsed(copy, static_cast<uint32_t>(Read(0, 0, PieceData(copy))));
        } catch (...) {
            std::free(copy);
            throw;
        }
    }
    rollback->TakePieces(*this);
    if (copy) AppendPiece(copy);
}

void TCRBlobData::TrimPieces() {
    PPieceHeader p = firstPiece_;
    while (p) {
        PPieceHeader next = PieceHeader::Next(p);
        if (PieceHeader::Used(p) == 0)
            FreePiece(p);
        else
            CompressPiece(p);
        p = next;
    }
}

void TCRBlobData::Defrag() {
    if (!firstPiece_ || !PieceHeader::Next(firstPiece_)) return;
    const int64_t size = GetDataSize();
    if (size == 0) {
        Clear();
        return;
    }
    PPieceHeader first = firstPiece_;
    int64_t used = PieceHeader::Used(first);
    if (PieceHeader::Capacity(first) != size) ReallocPiece(first, size);
    while (PPieceHeader next = PieceHeader::Next(first)) {
        const int64_t n = PieceHeader::Used(next);
        std::memcpy(PieceData(first) + used, PieceData(next), static_cast<std::size_t>(n));
        used += n;
        FreePiece(next);
    }
    PieceHeader::SetUsed(first, static_cast<uint32_t>(used));
}

template <class Ch>
void TCRBlobData::ConvertCR(bool add, bool crAtEndBecomesPair) {
    constexpr Ch CR = 13;
    constexpr Ch LF = 10;
    constexpr int64_t unit = sizeof(Ch);
    int64_t remaining = GetDataSize();

    PPieceHeader oldFirst = firstPiece_;
    firstPiece_ = nullptr;
    for (PPieceHeader p = oldFirst; p; p = PieceHeader::Next(p)) PieceHeader::SetOwner(p, nullptr);

    PPieceHeader out = nullptr;
    auto emit = [&](Ch ch) {
        if (!out || PieceHeader::Used(out) + unit > PieceHeader::Capacity(out)) {
            int64_t capacity = pieceSize_;
            if (add) {
                if (remaining < pieceSize_ / 2) capacity = std::max<int64_t>(remaining * 2, 2 * unit);
            } else {
                capacity = std::clamp<int64_t>(remaining, unit, pieceSize_);
            }
            capacity = std::max<int64_t>(capacity / unit * unit, unit);
            AllocPiece(out, capacity);
            AppendPiece(out);
        }
        PokePacked<Ch>(PieceData(out), PieceHeader::Used(out), ch);
        PieceHeader::SetUsed(out, static_cast<uint32_t>(PieceHeader::Used(out) + unit));
    };

    try {
        bool pendingCR = false;
        PPieceHeader p = oldFirst;
        while (p) {
            const int64_t units = PieceHeader::Used(p) / unit;
            for (int64_t i = 0; i < units; ++i) {
                const Ch ch = PeekPacked<Ch>(PieceData(p), static_cast<std::size_t>(i * unit));
                remaining -= unit;
                if (add) {
                    if (ch == LF && !pendingCR) emit(CR);
                    emit(ch);
                    pendingCR = ch == CR;
                } else {
                    if (pendingCR && ch != LF) emit(CR);
                    pendingCR = ch == CR;
                    if (!pendingCR) emit(ch);
                }
            }
            PPieceHeader next = PieceHeader::Next(p);
            std::free(p);
            p = next;
            oldFirst = p;
        }
        if (pendingCR) {
            if (!add)
                emit(CR);  // held back in case an LF followed
            else if (crAtEndBecomesPair)
                emit(LF);
        }
    } catch (...) {
        while (oldFirst) {
            PPieceHeader next = PieceHeader::Next(oldFirst);
            std::free(oldFirst);
            oldFirst = next;
        }
        throw;
    }
}

void TCRBlobData::AddCR() {
    ConvertCR<char>(true, true);
}

void TCRBlobData::RemoveCR() {
    ConvertCR<char>(false, false);
}

void TCRBlobData::AddCRUnicode() {
    ConvertCR<char16_t>(true, false);
}

void TCRBlobData::RemoveCRUnicode() {
    ConvertCR<char16_t>(false, false);
}

// The 8-bit code page is a single-byte one: one 8-bit character per UTF-16 unit.
int64_t TCRBlobData::GetSizeAnsi() {
    return GetSize() / 2;
}

int64_t TCRBlobData::AnsiPosToBytePos(int64_t position) {
    return position * 2;
}

// ---------------------------------------------------------------------------------------------
// TBlob

TBlob::TBlob(bool isUnicode) : isUnicode_(isUnicode) {}

TBlob::~TBlob() {
    valid_ = 0;
    if (parkedData_) {
        FreeShared(data_);
        data_ = parkedData_;
        parkedData_ = nullptr;
    }
    FreeShared(data_);
    FreeShared(rollbackData_);
}

TCRBlobData* TBlob::CreateBlobData() {
    return new TCRBlobData();
}

TCRBlobData* TBlob::GetData() {
    if (!data_) data_ = CreateBlobData();
    return data_;
}

void TBlob::CheckValid() const {
    if (valid_ != 0xDD) throw rtl::Exception("Invalid BLOB");
}

void TBlob::CheckCached() const {
    if (!rollback_) throw rtl::Exception("Blob must be in cached mode");
}

void TBlob::SaveToRollback() {
    CheckCached();
    TCRBlobData* rb = CreateBlobData();
    try {
        GetData()->MoveToRollback(rb);
    } catch (...) {
        FreeShared(rb);
        throw;
    }
    rollbackData_ = rb;
}

void TBlob::SaveToRollbackWhenDue() {
    if (rollback_ && !rollbackData_) SaveToRollback();
}

int64_t TBlob::GetSize() {
    return GetData()->GetSize();
}

void TBlob::SetSize(int64_t value) {
    GetData()->SetSize(value);
}

void TBlob::SetIsUnicode(bool value) {
    if (value == isUnicode_) return;
    if (GetSize() > 0) throw rtl::Exception("Cannot change IsUnicode if Size > 0");
    isUnicode_ = value;
}

int64_t TBlob::GetSizeAnsi() {
    rtl::Assert(isUnicode_, "MemData: GetSizeAnsi of a blob that is not Unicode");
    return GetData()->GetSizeAnsi();
}

int64_t TBlob::AnsiPosToBytePos(int64_t position) {
    rtl::Assert(isUnicode_, "MemData: AnsiPosToBytePos of a blob that is not Unicode");
    return GetData()->AnsiPosToBytePos(position);
}

int64_t TBlob::Read(int64_t position, int64_t count, void* dest) {
    CheckValid();
    EnsureLoaded();
    return GetData()->Read(position, count, dest);
}

void TBlob::Write(int64_t position, int64_t count, const void* source) {
    CheckValid();
    SaveToRollbackWhenDue();
    GetData()->Write(position, count, source);
}

void TBlob::Clear() {
    SaveToRollbackWhenDue();
    GetData()->Clear();
}

void TBlob::Truncate(int64_t newSize) {
    SaveToRollbackWhenDue();
    GetData()->Truncate(newSize);
}

void TBlob::Defrag() {
    GetData()->Defrag();
}

void TBlob::AddCR() {
    CheckValid();
    EnsureLoaded();
    SaveToRollbackWhenDue();
    if (isUnicode_)
        GetData()->AddCRUnicode();
    else
        GetData()->AddCR();
}

void TBlob::RemoveCR() {
    CheckValid();
    EnsureLoaded();
    SaveToRollbackWhenDue();
    if (isUnicode_)
        GetData()->RemoveCRUnicode();
    else
        GetData()->RemoveCR();
}

void TBlob::LoadFromStream(rtl::TStream& stream) {
    Clear();
    const int64_t size = stream.Size();
    if (size == 0) return;
    stream.SetPosition(0);
    std::vector<uint8_t> chunk(static_cast<std::size_t>(std::min<int64_t>(GetPieceSize(), size)));
    int64_t position = 0;
    while (position < size) {
        const int64_t n =
            stream.Read(chunk.data(), std::min<int64_t>(static_cast<int64_t>(chunk.size()), size - position));
        if (n <= 0) break;
        Write(position, n, chunk.data());
        position += n;
    }
}

void TBlob::SaveToStream(rtl::TStream& stream) {
    stream.SetSize(0);
    const int64_t size = GetSize();
    if (size == 0) return;
    std::vector<uint8_t> chunk(static_cast<std::size_t>(std::min<int64_t>(GetPieceSize(), size)));
    int64_t position = 0;
    while (position < size) {
        const int64_t n = Read(position, static_cast<int64_t>(chunk.size()), chunk.data());
        if (n <= 0) break;
        stream.WriteBuffer(chunk.data(), n);
        position += n;
    }
}

void TBlob::Commit() {
    FreeShared(rollbackData_);
    rollbackData_ = nullptr;
}

void TBlob::Cancel() {
    if (!rollbackData_) return;
    FreeShared(data_);
    data_ = rollbackData_;
    rollbackData_ = nullptr;
}

void TBlob::SetRollbackView(bool value) {
    if (value && !parkedData_ && rollbackData_) {
        parkedData_ = GetData();
        data_ = rollbackData_;
    } else if (!value && parkedData_) {
        data_ = parkedData_;
        parkedData_ = nullptr;
    }
}

void TBlob::SetData(TCRBlobData* value) {
    if (value == data_) return;
    rtl::Assert(value != nullptr, "MemData: SetData with no data");
    rtl::Assert(!parkedData_, "MemData: SetData while the rollback view is on");
    FreeShared(data_);
    data_ = value;
    value->AddRef();
}

AnsiString TBlob::GetAsString() {
    if (isUnicode_) return rtl::WideToAnsi(GetAsWideString());
    AnsiString s(static_cast<std::size_t>(GetSize()), '\0');
    if (!s.empty()) s.resize(static_cast<std::size_t>(Read(0, 0, s.data())));
    return s;
}

void TBlob::SetAsString(const AnsiString& value) {
    if (isUnicode_) {
        SetAsWideString(rtl::AnsiToWide(value));
        return;
    }
    Clear();
    Write(0, static_cast<int64_t>(value.size()), value.data());
}

WideString TBlob::GetAsWideString() {
    if (!isUnicode_) return rtl::AnsiToWide(GetAsString());
    WideString s(static_cast<std::size_t>(GetSize() / 2), u'\0');
    if (!s.empty())
        s.resize(static_cast<std::size_t>(Read(0, static_cast<int64_t>(s.size()) * 2, s.data()) / 2));
    return s;
}

void TBlob::SetAsWideString(const WideString& value) {
    if (!isUnicode_) {
        SetAsString(rtl::WideToAnsi(value));
        return;
    }
    Clear();
    Write(0, static_cast<int64_t>(value.size()) * 2, value.data());
}

void TBlob::SetAsBytes(const TBytes& value) {
    Clear();
    Write(0, static_cast<int64_t>(value.size()), value.data());
}

}  // namespace dac
