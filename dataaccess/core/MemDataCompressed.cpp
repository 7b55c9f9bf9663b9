// Blobs whose whole value may be held zlib-compressed in one piece behind a 20-byte header.
#include <cstdlib>

#include "dataaccess/core/MemData.h"
#include "dataaccess/core/MemUtils.h"

namespace dac {

namespace {

constexpr int SizeOffset = 16;

uint32_t ReadLE32(const uint8_t* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

void WriteLE32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

int64_t TCompressedBlobData::GetUncompressedSize() const {
    rtl::Assert(compressed_ && firstPiece_, "MemData: blob value is not compressed");
    return ReadLE32(PieceData(firstPiece_) + SizeOffset);
}

bool TCompressedBlobData::Compress(const void* source, int64_t size) {
    CheckCompressionLinked();
    if (size <= 0 || size > UINT32_MAX) return false;
    const int64_t capacity = size + size / 5 + 32;
    PPieceHeader piece;
    AllocPiece(piece, capacity);
    bool ok = false;
    int64_t used = 0;
    try {
        uint32_t length = static_cast<uint32_t>(capacity - CompressedBlobHeaderSize);
        DoCompress(PieceData(piece) + CompressedBlobHeaderSize, length, source, static_cast<uint32_t>(size));
        used = int64_t{length} + CompressedBlobHeaderSize;
        ok = used < size;
    } catch (...) {
        ok = false;  // a value that cannot be compressed stays plain
    }
    if (!ok) {
        FreePiece(piece);
        return false;
    }
    std::memcpy(PieceData(piece), CompressedBlobMark, sizeof CompressedBlobMark);
    WriteLE32(PieceData(piece) + SizeOffset, static_cast<uint32_t>(size));
    PieceHeader::SetUsed(piece, static_cast<uint32_t>(used));
    try {
        ReallocPiece(piece, used);
    } catch (...) {
        // Keeping the larger allocation is harmless.
    }
    TCRBlobData::Clear();
    AppendPiece(piece);
    compressed_ = true;
    return true;
}

void TCompressedBlobData::Uncompress(void* dest, int64_t& length) {
    rtl::Assert(firstPiece_ != nullptr, "MemData: no compressed blob value");
    Defrag();
    rtl::Assert(PieceHeader::Next(firstPiece_) == nullptr,
                "MemData: compressed blob value in several pieces");
    const uint32_t used = PieceHeader::Used(firstPiece_);
    if (used <= CompressedBlobHeaderSize) throw rtl::Exception("Invalid compressed blob size");
    const uint8_t* data = PieceData(firstPiece_);
    if (std::memcmp(data, CompressedBlobMark, sizeof CompressedBlobMark) != 0)
        throw rtl::Exception("Invalid compressed blob header");
    CheckCompressionLinked();
    try {
        uint32_t produced = static_cast<uint32_t>(length);
        DoUncompress(dest, produced, data + CompressedBlobHeaderSize, used - CompressedBlobHeaderSize);
        length = produced;
    } catch (...) {
        throw rtl::Exception("Invalid compressed blob data");
    }
}

bool TCompressedBlobData::SetCompressed(bool value) {
    if (!firstPiece_ || value == compressed_) return false;
    if (value) {
        if (GetSize() > MinCompressSize) {
            Defrag();
            Compress(PieceData(firstPiece_), PieceHeader::Used(firstPiece_));
        }
        return true;
    }
    const int64_t size = GetUncompressedSize();
    if (size <= 0) throw rtl::Exception("Invalid uncompressed blob size");
    PPieceHeader piece;
    AllocPiece(piece, size);
    int64_t produced = size;
    try {
        Uncompress(PieceData(piece), produced);
    } catch (...) {
        FreePiece(piece);
        throw;
    }
    if (produced != size) {
        FreePiece(piece);
        throw rtl::Exception("Invalid uncompressed blob size");
    }
    PieceHeader::SetUsed(piece, static_cast<uint32_t>(produced));
    Clear();
    AppendPiece(piece);
    return true;
}

int64_t TCompressedBlobData::GetSize() {
    return compressed_ ? GetUncompressedSize() : GetDataSize();
}

void TCompressedBlobData::SetSize(int64_t value) {
    if (compressed_)
        rtl::Assert(value == 0 || value == GetSize(), "MemData: resizing a compressed blob value");
    TCRBlobData::SetSize(value);
}

void TCompressedBlobData::Clear() {
    TCRBlobData::Clear();
    compressed_ = false;
}

void TCompressedBlobData::Truncate(int64_t newSize) {
    if (newSize != 0 && compressed_) SetCompressed(false);
    TCRBlobData::Truncate(newSize);
}

int64_t TCompressedBlobData::Read(int64_t position, int64_t count, void* dest) {
    if (compressed_) {
        const int64_t size = GetSize();
        if (position == 0 && (count == 0 || count == size)) {
            if (!firstPiece_) return 0;
            int64_t produced = size;
            Uncompress(dest, produced);
            rtl::Assert(produced == size, "MemData: compressed blob size differs from its data");
            return produced;
        }
        SetCompressed(false);
    }
    return TCRBlobData::Read(position, count, dest);
}

void TCompressedBlobData::Write(int64_t position, int64_t count, const void* source) {
    if (compressed_) {
        if (position == 0 && count == GetSize()) {
            Clear();
            if (count > MinCompressSize && Compress(source, count)) return;
            TCRBlobData::Write(position, count, source);
            return;
        }
        SetCompressed(false);
    }
    TCRBlobData::Write(position, count, source);
}

void TCompressedBlobData::MoveToRollback(TCRBlobData* rollback) {
    if (!compressed_) {
        TCRBlobData::MoveToRollback(rollback);
        return;
    }
    auto* compressedRollback = dynamic_cast<TCompressedBlobData*>(rollback);
    rtl::Assert(compressedRollback != nullptr, "MemData: rollback of a compressed blob value");
    // The rollback copy takes the compressed piece; this value goes on as one plain piece.
    TCRBlobData::MoveToRollback(rollback);
    compressedRollback->compressed_ = true;
    compressed_ = false;
}

namespace {

TCompressedBlobData* CompressedData(TBlob& blob) {
    auto* data = dynamic_cast<TCompressedBlobData*>(blob.GetData());
    rtl::Assert(data != nullptr, "MemData: compressed blob without compressed blob data");
    return data;
}

}  // namespace

bool TCompressedBlob::SetCompressed(bool value) {
    CheckValid();
    EnsureLoaded();
    return CompressedData(*this)->SetCompressed(value);
}

bool TCompressedBlob::IsCompressed() {
    return CompressedData(*this)->IsCompressed();
}

}  // namespace dac
