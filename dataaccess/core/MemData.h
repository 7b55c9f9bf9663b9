// Record storage: internal data type codes, field and object-type descriptors, the record-block
// and string-heap allocators, shared objects and blobs (plain and compressed), the abstract
// storage TData that lays out record buffers and reads and writes field values, and the
// in-memory record list TMemData with its sorting, filtering and cached updates.
//
// 64-bit: every handle, heap pointer and link cell in a record buffer or in a block, item or
// piece header takes PointerSize bytes. Headers are packed; their fields are read and written
// through the accessors below (memcpy), never through typed pointers.
#pragma once

#include <bitset>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "dataaccess/core/CRParser.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Lists.h"
#include "platform/rtl/Objects.h"
#include "platform/rtl/Streams.h"
#include "platform/rtl/Types.h"
#include "platform/rtl/Variants.h"

namespace dac {

using rtl::AnsiString;
using rtl::TBytes;
using rtl::WideString;

inline constexpr int PtrSize = static_cast<int>(rtl::PointerSize);

// Packed field access at a byte offset.
template <class T>
inline T PeekPacked(const void* base, std::size_t ofs) {
    T value;
    std::memcpy(&value, static_cast<const uint8_t*>(base) + ofs, sizeof(T));
    return value;
}
template <class T>
inline void PokePacked(void* base, std::size_t ofs, T value) {
    std::memcpy(static_cast<uint8_t*>(base) + ofs, &value, sizeof(T));
}

// The zero-terminated text at place, at most maximum characters of it.
template <class Ch>
std::basic_string<Ch> BoundedText(const void* place, int64_t maximum) {
    std::basic_string<Ch> s;
    for (int64_t i = 0; i < maximum; ++i) {
        const Ch ch = PeekPacked<Ch>(place, static_cast<std::size_t>(i) * sizeof(Ch));
        if (ch == 0) break;
        s.push_back(ch);
    }
    return s;
}

// Cuts trailing blanks and zero characters.
template <class Ch>
void TrimRightBlanks(std::basic_string<Ch>& s) {
    while (!s.empty() && (s.back() == Ch(' ') || s.back() == Ch(0))) s.pop_back();
}

// =============================================================================================
// Internal data type codes

using TDataType = uint16_t;

inline constexpr TDataType dtUnknown = 0;
inline constexpr TDataType dtString = 1;
inline constexpr TDataType dtInt8 = 2;
inline constexpr TDataType dtSmallint = 3;
inline constexpr TDataType dtInteger = 4;
inline constexpr TDataType dtFloat = 5;
inline constexpr TDataType dtDate = 6;
inline constexpr TDataType dtTime = 7;
inline constexpr TDataType dtDateTime = 8;
inline constexpr TDataType dtWord = 9;
inline constexpr TDataType dtBoolean = 10;
inline constexpr TDataType dtLargeint = 11;
inline constexpr TDataType dtCurrency = 12;
inline constexpr TDataType dtBlob = 13;
inline constexpr TDataType dtMemo = 14;
inline constexpr TDataType dtObject = 15;
inline constexpr TDataType dtReference = 16;
inline constexpr TDataType dtArray = 17;
inline constexpr TDataType dtTable = 18;
inline constexpr TDataType dtVariant = 19;
inline constexpr TDataType dtStringRef = 20;
inline constexpr TDataType dtBytes = 21;
inline constexpr TDataType dtVarBytes = 22;
inline constexpr TDataType dtVarBytesRef = 23;
inline constexpr TDataType dtUInt32 = 24;
inline constexpr TDataType dtWideString = 25;
inline constexpr TDataType dtWideStringRef = 26;
inline constexpr TDataType dtBCD = 27;
inline constexpr TDataType dtFmtBcd = 28;
inline constexpr TDataType dtGuid = 29;
inline constexpr TDataType dtWideMemo = 30;
inline constexpr TDataType dtSQLTimeStamp = 31;
inline constexpr TDataType dtCursor = 32;

inline constexpr TDataType dtRowId = 100;
inline constexpr TDataType dtOraBlob = 102;
inline constexpr TDataType dtOraClob = 103;
inline constexpr TDataType dtBFile = 104;
inline constexpr TDataType dtCFile = 105;
inline constexpr TDataType dtLabel = 106;
inline constexpr TDataType dtFixedChar = 107;
inline constexpr TDataType dtUndefined = 108;
inline constexpr TDataType dtTimeStamp = 109;
inline constexpr TDataType dtTimeStampTZ = 110;
inline constexpr TDataType dtTimeStampLTZ = 111;
inline constexpr TDataType dtIntervalYM = 112;
inline constexpr TDataType dtIntervalDS = 113;
inline constexpr TDataType dtURowId = 114;
inline constexpr TDataType dtNumber = 115;
inline constexpr TDataType dtXML = 116;
inline constexpr TDataType dtFixedWideChar = 117;
inline constexpr TDataType dtBFloat = 118;
inline constexpr TDataType dtBDouble = 119;
inline constexpr TDataType dtNString = 120;
inline constexpr TDataType dtNWideString = 121;
inline constexpr TDataType dtNClob = 122;
inline constexpr TDataType dtWideOraClob = 123;

// A set of data type codes.
using TDataTypeSet = std::bitset<256>;
TDataTypeSet DataTypeSet(std::initializer_list<TDataType> codes);

inline bool IsBlobDataType(TDataType dt) {
    return dt == dtBlob || dt == dtMemo || dt == dtWideMemo;
}
inline bool IsHeapDataType(TDataType dt) {
    return dt == dtStringRef || dt == dtVarBytesRef || dt == dtWideStringRef;
}

// Bytes a value of a fixed-size code takes in a record buffer (handles and heap pointers take
// PtrSize); for the codes whose size follows from the length (texts, bytes) the length decides.
int32_t DataTypeSize(TDataType dt, int length = 0);

// =============================================================================================
// Shared objects

// Reference-counted base of every object a record buffer refers to. The handle stored in a
// record is the object's own address.
class TSharedObject : public rtl::TObject {
public:
    TSharedObject() = default;
    ~TSharedObject() override { refCount_ = 0; }

    int RefCount() const { return refCount_; }
    void AddRef() { ++refCount_; }
    // Releases one reference; the last one destroys the object.
    void Free();
    void Release() { Free(); }
    void* GetHandle() { return static_cast<void*>(this); }
    static TSharedObject* FromHandle(void* handle) { return static_cast<TSharedObject*>(handle); }

    // Subclasses release client-library handles they hold.
    virtual void FreeHandles() {}

protected:
    int32_t refCount_ = 1;
};

// Releases one reference of obj (nothing for null).
inline void FreeShared(TSharedObject* obj) {
    if (obj) obj->Free();
}

// Shared holder of one Variant (the dtVariant code).
class TVariantObject : public TSharedObject {
public:
    rtl::Variant Value;
};

// =============================================================================================
// Field and object-type descriptors

class TObjectType;
class TAttribute;

class TFieldDesc : public rtl::TObject {
public:
    TFieldDesc() = default;
    ~TFieldDesc() override;

    AnsiString Name;
    AnsiString ActualName;
    TDataType DataType = dtUnknown;
    TDataType SubDataType = 0;
    uint16_t Length = 0;
    uint16_t Scale = 0;
    uint16_t FieldNo = 0;
    uint16_t ActualFieldNo = 0;
    int32_t Size = 0;
    int32_t Offset = 0;
    bool Required = false;
    bool ReadOnly = false;
    bool Fixed = false;
    bool Hidden = false;
    TFieldDesc* ParentField = nullptr;
    bool HiddenObject = false;
    bool DuplicateName = false;
    uint8_t Kind = 0;  // 0 data, 1 calculated and kept with the data, 2 calculated on demand
    // A column of the key that identifies a row of the updating table.
    bool IsKey = false;

    TObjectType* ObjectType() const { return objectType_; }
    // Holds one reference to the type.
    void SetObjectType(TObjectType* value);
    bool HasParent() const { return ParentField != nullptr; }

private:
    TObjectType* objectType_ = nullptr;
};

using TFieldDescClass = rtl::TClassOf<TFieldDesc>;

// Owning list of descriptors; positions are 0-based, FieldNo is 1-based.
class TFieldDescs {
public:
    TFieldDescs() = default;
    TFieldDescs(const TFieldDescs&) = delete;
    TFieldDescs& operator=(const TFieldDescs&) = delete;
    ~TFieldDescs() { Clear(); }

    int Count() const { return static_cast<int>(items_.size()); }
    TFieldDesc* Items(int index) const;
    TFieldDesc* GetItem(int index) const { return Items(index); }
    TFieldDesc* operator[](int index) const { return Items(index); }
    void Add(TFieldDesc* desc) { items_.push_back(desc); }
    int IndexOf(const TFieldDesc* desc) const;
    void Clear();

    // Top-level names first, then full names (with "." or "[") or child names; ignores case.
    TFieldDesc* FindField(const AnsiString& name) const;
    // FindField or Exception "Field <name> not found".
    TFieldDesc* FieldByName(const AnsiString& name) const;

private:
    std::vector<TFieldDesc*> items_;
};

// An object or collection type; shared by the descriptors and values of that type.
class TObjectType : public TSharedObject {
public:
    TObjectType() = default;
    ~TObjectType() override;

    AnsiString Name;
    TDataType DataType = dtUnknown;
    int32_t Size = 0;  // arrays: the maximum number of elements

    int GetAttributeCount() const { return static_cast<int>(attributes_.size()); }
    TAttribute* GetAttribute(int index) const;
    // Takes ownership and makes this type the attribute's Owner.
    void AddAttribute(TAttribute* attribute);
    void ClearAttributes();

    // A path of attribute names ("ADDRESS.CITY", "PHONES[1]", "[2]"); nil when absent.
    TAttribute* FindAttribute(const AnsiString& path) const;
    // FindAttribute or Exception "Attribute <path> not found".
    TAttribute* AttributeByName(const AnsiString& path) const;

private:
    std::vector<TAttribute*> attributes_;
};

class TAttribute : public rtl::TObject {
public:
    TAttribute() = default;
    ~TAttribute() override;

    AnsiString Name;
    TDataType DataType = dtUnknown;
    TDataType SubDataType = 0;
    uint16_t Length = 0;
    uint16_t Scale = 0;
    int32_t Size = 0;
    uint16_t ValueSize = 0;
    uint16_t Offset = 0;
    uint16_t IndicatorOffset = 0;
    uint16_t AttributeNo = 0;
    TObjectType* Owner = nullptr;
    bool Fixed = false;

    TObjectType* ObjectType() const { return objectType_; }
    // A nested type named like the owner (a type referring to itself) is held uncounted, so no
    // cycle keeps it alive.
    void SetObjectType(TObjectType* value);

private:
    TObjectType* objectType_ = nullptr;
    bool objectTypeCounted_ = false;
};

// A value of an object type; the storage asks it for attribute values by path.
class TDBObject : public TSharedObject {
public:
    TDBObject() = default;
    ~TDBObject() override;

    TObjectType* ObjectType() const { return objectType_; }
    void SetObjectType(TObjectType* value);

    // value points at the attribute's value; NativeBuffer False means the caller frees it with
    // FreeAttributeBuffer.
    virtual void GetAttributeValue(const AnsiString& path, void*& value, bool& isBlank, bool& nativeBuffer);
    virtual void SetAttributeValue(const AnsiString& path, const void* value);
    virtual bool GetAttributeIsNull(const AnsiString& path);
    static void FreeAttributeBuffer(void* buffer) { std::free(buffer); }

private:
    TObjectType* objectType_ = nullptr;
};

// =============================================================================================
// Record blocks

// Opaque packed headers; see the accessors.
struct TBlockHeader;
struct TItemHeader;
using PBlockHeader = TBlockHeader*;
using PItemHeader = TItemHeader*;

inline constexpr uint8_t ItemFree = 0xDD;
inline constexpr uint8_t ItemUsed = 0xEE;

// Block: item count (16), used items (16), previous block, next block, reserved byte, items.
struct BlockHeader {
    static constexpr std::size_t ofsItemCount = 0;
    static constexpr std::size_t ofsUsedItems = 2;
    static constexpr std::size_t ofsPrev = 4;
    static constexpr std::size_t ofsNext = 4 + PtrSize;
    static constexpr std::size_t ofsReserved = 4 + 2 * PtrSize;
    static constexpr std::size_t Size = 5 + 2 * PtrSize;

    static uint16_t ItemCount(PBlockHeader b) { return PeekPacked<uint16_t>(b, ofsItemCount); }
    static void SetItemCount(PBlockHeader b, uint16_t v) { PokePacked(b, ofsItemCount, v); }
    static uint16_t UsedItems(PBlockHeader b) { return PeekPacked<uint16_t>(b, ofsUsedItems); }
    static void SetUsedItems(PBlockHeader b, uint16_t v) { PokePacked(b, ofsUsedItems, v); }
    static PBlockHeader Prev(PBlockHeader b) { return PeekPacked<PBlockHeader>(b, ofsPrev); }
    static void SetPrev(PBlockHeader b, PBlockHeader v) { PokePacked(b, ofsPrev, v); }
    static PBlockHeader Next(PBlockHeader b) { return PeekPacked<PBlockHeader>(b, ofsNext); }
    static void SetNext(PBlockHeader b, PBlockHeader v) { PokePacked(b, ofsNext, v); }
};

// Item: block, previous, next, rollback item, update status (8), update result (8), order (32),
// mark (8), filter mark (8), reserved (8), serial (32), then the record data. The serial tells
// a row of the list from an item freed or reused since a bookmark was taken of it; 0 is "none".
struct ItemHeader {
    static constexpr std::size_t ofsBlock = 0;
    static constexpr std::size_t ofsPrev = PtrSize;
    static constexpr std::size_t ofsNext = 2 * PtrSize;
    static constexpr std::size_t ofsRollback = 3 * PtrSize;
    static constexpr std::size_t ofsStatus = 4 * PtrSize;
    static constexpr std::size_t ofsUpdateResult = 4 * PtrSize + 1;
    static constexpr std::size_t ofsOrder = 4 * PtrSize + 2;
    static constexpr std::size_t ofsFlag = 4 * PtrSize + 6;
    static constexpr std::size_t ofsFilterResult = 4 * PtrSize + 7;
    static constexpr std::size_t ofsReserved = 4 * PtrSize + 8;
    static constexpr std::size_t ofsSerial = 4 * PtrSize + 9;
    static constexpr std::size_t Size = 4 * PtrSize + 13;

    static PBlockHeader Block(PItemHeader i) { return PeekPacked<PBlockHeader>(i, ofsBlock); }
    static void SetBlock(PItemHeader i, PBlockHeader v) { PokePacked(i, ofsBlock, v); }
    static PItemHeader Prev(PItemHeader i) { return PeekPacked<PItemHeader>(i, ofsPrev); }
    static void SetPrev(PItemHeader i, PItemHeader v) { PokePacked(i, ofsPrev, v); }
    static PItemHeader Next(PItemHeader i) { return PeekPacked<PItemHeader>(i, ofsNext); }
    static void SetNext(PItemHeader i, PItemHeader v) { PokePacked(i, ofsNext, v); }
    static PItemHeader Rollback(PItemHeader i) { return PeekPacked<PItemHeader>(i, ofsRollback); }
    static void SetRollback(PItemHeader i, PItemHeader v) { PokePacked(i, ofsRollback, v); }
    static uint8_t Status(PItemHeader i) { return PeekPacked<uint8_t>(i, ofsStatus); }
    static void SetStatus(PItemHeader i, uint8_t v) { PokePacked(i, ofsStatus, v); }
    static uint8_t UpdateResult(PItemHeader i) { return PeekPacked<uint8_t>(i, ofsUpdateResult); }
    static void SetUpdateResult(PItemHeader i, uint8_t v) { PokePacked(i, ofsUpdateResult, v); }
    static int32_t Order(PItemHeader i) { return PeekPacked<int32_t>(i, ofsOrder); }
    static void SetOrder(PItemHeader i, int32_t v) { PokePacked(i, ofsOrder, v); }
    static uint8_t Flag(PItemHeader i) { return PeekPacked<uint8_t>(i, ofsFlag); }
    static void SetFlag(PItemHeader i, uint8_t v) { PokePacked(i, ofsFlag, v); }
    static uint8_t FilterResult(PItemHeader i) { return PeekPacked<uint8_t>(i, ofsFilterResult); }
    static void SetFilterResult(PItemHeader i, uint8_t v) { PokePacked(i, ofsFilterResult, v); }
    static uint32_t Serial(PItemHeader i) { return PeekPacked<uint32_t>(i, ofsSerial); }
    static void SetSerial(PItemHeader i, uint32_t v) { PokePacked(i, ofsSerial, v); }
    static void* Data(PItemHeader i) { return reinterpret_cast<uint8_t*>(i) + Size; }
};

// Hands out list items (header + record buffer) from blocks of several items.
class TBlockManager : public rtl::TObject {
public:
    TBlockManager() = default;
    ~TBlockManager() override { FreeAllBlocks(); }

    PItemHeader FirstFree = nullptr;
    PBlockHeader FirstBlock = nullptr;
    int32_t RecordSize = 0;
    uint16_t ItemsPerBlock = 10;

    std::size_t ItemSize() const { return ItemHeader::Size + static_cast<std::size_t>(RecordSize); }
    // The index-th item of a block.
    PItemHeader BlockItem(PBlockHeader block, int index) const;

    // A block of count uninitialised items, all counted as used, linked as FirstBlock.
    void AllocBlock(PBlockHeader& block, uint16_t count);
    void FreeBlock(PBlockHeader block);
    void FreeAllBlocks();
    void AddFreeBlock();
    void AllocItem(PItemHeader& item);
    void FreeItem(PItemHeader item);

    // Whether p is the start of an item in a block this manager holds (never reads p).
    bool HoldsItem(const void* p) const;

    void PutItemRecord(PItemHeader item, const void* recBuf) const;
    void GetItemRecord(PItemHeader item, void* recBuf) const;
    void* ItemRecordPtr(PItemHeader item) const { return ItemHeader::Data(item); }
    void CopyItemRecord(PItemHeader source, PItemHeader dest) const;

private:
    // Start and byte size of every block held: one entry per block, not per item.
    std::map<const uint8_t*, std::size_t> blockRanges_;
};

// =============================================================================================
// String heap

// Buffers for values kept outside the record. A piece is a 32-bit size, a 16-bit use mark and
// the data; callers get the data address.
class TStringHeap : public rtl::TObject {
public:
    static constexpr int SmallSizeClasses = 250;
    static constexpr int BlockSize = 16384;
    static constexpr int BlockLinkSize = PtrSize;
    static constexpr int BlockSpace = BlockSize - BlockLinkSize;
    static constexpr int PieceHeaderSize = 6;
    static constexpr uint16_t RefNull = 100;  // mark of a free piece; 100 + k for k uses

    TStringHeap();
    ~TStringHeap() override;

    void* NewBuf(int64_t size);
    void DisposeBuf(void* buf);
    void AddRefStr(void* buf);
    // length -1: up to the zero terminator. nil text gives nil.
    char* AllocStr(const char* text, bool trim = false, int64_t length = -1);
    char16_t* AllocWideStr(const char16_t* text, bool trim = false, int64_t length = -1);
    char* ReAllocStr(char* text, bool trim = false);
    static bool IsSmall(int sizeClass) { return sizeClass <= SmallSizeClasses; }
    void Clear();

    void SetThreadSafety(bool value);
    bool ThreadSafety() const { return threadSafety_; }
    bool Untouched() const { return untouched_; }
    bool HasLargePieces() const { return hasLargePieces_; }

    // The mark and size of a piece handed out by NewBuf.
    static uint16_t UseCountMark(const void* buf) {
        return PeekPacked<uint16_t>(static_cast<const uint8_t*>(buf) - 2, 0);
    }
    static int32_t PieceSize(const void* buf);
    // The head of a size class's free list (for checks).
    void* SmallTabHead(int sizeClass) const { return smallTab_[sizeClass]; }

private:
    struct Guard {
        explicit Guard(TStringHeap& heap);
        ~Guard();
        TStringHeap& heap_;
    };
    uint8_t* NewHeapBlock();
    void PushFree(uint8_t* piece, int sizeClass);

    void* smallTab_[SmallSizeClasses + 1] = {};
    int32_t freeBytes_ = BlockSpace;
    uint8_t* currentBlock_ = nullptr;
    bool untouched_ = true;
    bool hasLargePieces_ = false;
    bool threadSafety_ = false;
    std::unique_ptr<std::mutex> lock_;
};

// =============================================================================================
// Blobs

struct TPieceHeader;
using PPieceHeader = TPieceHeader*;
class TCRBlobData;

// Piece: owner, capacity (32), used (32), previous, next, reserved (16), then the data.
struct PieceHeader {
    static constexpr std::size_t ofsOwner = 0;
    static constexpr std::size_t ofsSize = PtrSize;
    static constexpr std::size_t ofsUsed = PtrSize + 4;
    static constexpr std::size_t ofsPrev = PtrSize + 8;
    static constexpr std::size_t ofsNext = 2 * PtrSize + 8;
    static constexpr std::size_t ofsReserved = 3 * PtrSize + 8;
    static constexpr std::size_t Size = 3 * PtrSize + 10;

    static TCRBlobData* Owner(PPieceHeader p) { return PeekPacked<TCRBlobData*>(p, ofsOwner); }
    static void SetOwner(PPieceHeader p, TCRBlobData* v) { PokePacked(p, ofsOwner, v); }
    static uint32_t Capacity(PPieceHeader p) { return PeekPacked<uint32_t>(p, ofsSize); }
    static void SetCapacity(PPieceHeader p, uint32_t v) { PokePacked(p, ofsSize, v); }
    static uint32_t Used(PPieceHeader p) { return PeekPacked<uint32_t>(p, ofsUsed); }
    static void SetUsed(PPieceHeader p, uint32_t v) { PokePacked(p, ofsUsed, v); }
    static PPieceHeader Prev(PPieceHeader p) { return PeekPacked<PPieceHeader>(p, ofsPrev); }
    static void SetPrev(PPieceHeader p, PPieceHeader v) { PokePacked(p, ofsPrev, v); }
    static PPieceHeader Next(PPieceHeader p) { return PeekPacked<PPieceHeader>(p, ofsNext); }
    static void SetNext(PPieceHeader p, PPieceHeader v) { PokePacked(p, ofsNext, v); }
};

// 64 KB less the piece header.
inline constexpr int32_t DefaultPieceSize = 65536 - static_cast<int32_t>(PieceHeader::Size);

// Address of a piece's data / of its 32-bit used count (nil for nil).
uint8_t* PieceData(PPieceHeader piece);
uint8_t* PieceUsedPtr(PPieceHeader piece);

// A list of pieces holding one value; shared between blobs.
class TCRBlobData : public TSharedObject {
public:
    TCRBlobData() = default;
    ~TCRBlobData() override;

    PPieceHeader FirstPiece() const { return firstPiece_; }
    int32_t PieceSize() const { return pieceSize_; }
    void SetPieceSize(int32_t value) { pieceSize_ = value; }

    int64_t GetDataSize() const;
    virtual int64_t GetSize() { return GetDataSize(); }
    virtual void SetSize(int64_t value);
    virtual void Clear();
    virtual void Truncate(int64_t newSize);
    // count 0 reads to the end; returns the bytes copied.
    virtual int64_t Read(int64_t position, int64_t count, void* dest);
    virtual void Write(int64_t position, int64_t count, const void* source);
    // Hands the piece list to rollback and keeps one compact copy of the value.
    virtual void MoveToRollback(TCRBlobData* rollback);

    void TrimPieces();
    void Defrag();

    void AddCR();
    void RemoveCR();
    void AddCRUnicode();
    void RemoveCRUnicode();

    // 8-bit length of UTF-16 content, and the byte position of an 8-bit character position.
    int64_t GetSizeAnsi();
    int64_t AnsiPosToBytePos(int64_t position);

    static void AllocPiece(PPieceHeader& piece, int64_t size);
    void ReallocPiece(PPieceHeader& piece, int64_t size);
    void FreePiece(PPieceHeader piece);
    void AppendPiece(PPieceHeader piece);
    void DeletePiece(PPieceHeader piece);
    void CompressPiece(PPieceHeader& piece);

protected:
    template <class Ch>
    void ConvertCR(bool add, bool crAtEndBecomesPair);
    void TakePieces(TCRBlobData& from);

    PPieceHeader firstPiece_ = nullptr;
    int32_t pieceSize_ = DefaultPieceSize;
};

class TBlob : public TSharedObject {
public:
    explicit TBlob(bool isUnicode = false);
    ~TBlob() override;

    virtual TCRBlobData* CreateBlobData();
    virtual void EnsureLoaded() {}
    virtual void SaveToRollback();
    virtual int64_t GetSize();
    virtual void SetSize(int64_t value);
    virtual void SetIsUnicode(bool value);
    virtual int64_t GetSizeAnsi();
    virtual void DisposeHandle() {}
    virtual int64_t Read(int64_t position, int64_t count, void* dest);
    virtual void Write(int64_t position, int64_t count, const void* source);
    virtual void Clear();
    virtual void Truncate(int64_t newSize);
    virtual void Defrag();
    virtual void LoadFromStream(rtl::TStream& stream);
    virtual void SaveToStream(rtl::TStream& stream);
    virtual void Commit();
    virtual void Cancel();

    bool IsUnicode() const { return isUnicode_; }
    void CheckValid() const;
    void CheckCached() const;
    void EnableRollback() { rollback_ = true; }
    bool RollbackEnabled() const { return rollback_; }
    bool CanRollback() const { return rollbackData_ != nullptr; }
    // The content saved for a rollback (nil when there is none).
    TCRBlobData* RollbackData() const { return rollbackData_; }
    bool RollbackView() const { return parkedData_ != nullptr; }
    void SetRollbackView(bool value);

    // The current data (created on first use).
    TCRBlobData* GetData();
    // Shares data with another blob (one more reference on it).
    void SetData(TCRBlobData* value);

    int32_t GetPieceSize() { return GetData()->PieceSize(); }
    PPieceHeader FirstPiece() { return GetData()->FirstPiece(); }
    int64_t AnsiPosToBytePos(int64_t position);
    void AddCR();
    void RemoveCR();

    void AllocPiece(PPieceHeader& piece, int64_t size) { TCRBlobData::AllocPiece(piece, size); }
    void ReallocPiece(PPieceHeader& piece, int64_t size) { GetData()->ReallocPiece(piece, size); }
    void FreePiece(PPieceHeader piece) { GetData()->FreePiece(piece); }
    void AppendPiece(PPieceHeader piece) { GetData()->AppendPiece(piece); }
    void CompressPiece(PPieceHeader& piece) { GetData()->CompressPiece(piece); }
    void TrimPieces() { GetData()->TrimPieces(); }

    AnsiString GetAsString();
    void SetAsString(const AnsiString& value);
    AnsiString GetAsAnsiString() { return GetAsString(); }
    void SetAsAnsiString(const AnsiString& value) { SetAsString(value); }
    WideString GetAsWideString();
    void SetAsWideString(const WideString& value);
    void SetAsBytes(const TBytes& value);

protected:
    void SaveToRollbackWhenDue();

    TCRBlobData* data_ = nullptr;
    bool isUnicode_ = false;
    bool rollback_ = false;
    TCRBlobData* rollbackData_ = nullptr;
    TCRBlobData* parkedData_ = nullptr;
    uint8_t valid_ = 0xDD;
};

// =============================================================================================
// Compressed blobs

// 16-byte mark (GUID {F19D8C39-5558-3849-A652-87CEE0C6DA7E}, little-endian form), then the
// 32-bit uncompressed size, then a zlib stream.
inline constexpr uint8_t CompressedBlobMark[16] = {0x39, 0x8C, 0x9D, 0xF1, 0x58, 0x55, 0x49, 0x38,
                                                   0xA6, 0x52, 0x87, 0xCE, 0xE0, 0xC6, 0xDA, 0x7E};
inline constexpr int CompressedBlobHeaderSize = 20;
// Values of this size or less are never compressed.
inline constexpr int MinCompressSize = 50;

// A piece list that can hold its whole value compressed in one piece. The value is compressed
// exactly while the flag is set: a plain value that happens to start with the mark stays plain.
class TCompressedBlobData : public TCRBlobData {
public:
    bool IsCompressed() const { return compressed_; }
    int64_t GetUncompressedSize() const;
    bool Compress(const void* source, int64_t size);
    void Uncompress(void* dest, int64_t& length);
    bool SetCompressed(bool value);

    int64_t GetSize() override;
    void SetSize(int64_t value) override;
    void Clear() override;
    void Truncate(int64_t newSize) override;
    int64_t Read(int64_t position, int64_t count, void* dest) override;
    void Write(int64_t position, int64_t count, const void* source) override;
    void MoveToRollback(TCRBlobData* rollback) override;

private:
    bool compressed_ = false;
};

class TCompressedBlob : public TBlob {
public:
    using TBlob::TBlob;
    TCRBlobData* CreateBlobData() override { return new TCompressedBlobData(); }
    bool SetCompressed(bool value);
    bool IsCompressed();
};

// =============================================================================================
// Record storage

// Raises Exception with the message.
[[noreturn]] void DataError(const std::string& message);

using TStartWaitProc = void (*)();
using TApplicationTitleProc = AnsiString (*)();
extern TStartWaitProc StartWaitProc;
extern TStartWaitProc StopWaitProc;
extern TApplicationTitleProc ApplicationTitleProc;
void StartWait();
void StopWait();
AnsiString ApplicationTitle();

// End-of-line conversion; dest holds count + 1 (units). Returns what was written.
int64_t AddCRString(const char* source, char* dest, int64_t count);
int64_t RemoveCRString(const char* source, char* dest, int64_t destCount, int64_t sourceCount);
int64_t AddCRUnicode(const char16_t* source, char16_t* dest, int64_t count);
int64_t RemoveCRUnicode(const char16_t* source, char16_t* dest, int64_t destCount, int64_t sourceCount);

// Formats with 18 significant digits and scale decimals and parses back (user settings).
double RoundToScale(int scale, double value);

using TOnModifyRecord = std::function<void()>;
using TOnApplyRecord = std::function<void(int updateKind, int& action, bool last)>;
using TOnRecordFilter = std::function<bool(void* recBuf)>;
using TOnCalcFields = std::function<void(void* dest, void* source)>;

// ---------------------------------------------------------------------------------------------
// Cached-update codes

// Update status of a row.
inline constexpr uint8_t ItemUnmodified = 0;
inline constexpr uint8_t ItemModified = 1;
inline constexpr uint8_t ItemInserted = 2;
inline constexpr uint8_t ItemDeleted = 3;
// FilterItemTypes holds one bit per status.
inline constexpr uint8_t ItemTypeBit(uint8_t status) {
    return static_cast<uint8_t>(1u << status);
}
// What switching cached updates on shows: unmodified, modified and inserted rows.
inline constexpr uint8_t DefaultCachedItemTypes = 0x07;

// Result of applying a row's change: the apply hook's action (the platform's TUpdateAction),
// none (not applied yet) or deferred (part of a batch whose result comes later).
inline constexpr uint8_t urFail = 0;
inline constexpr uint8_t urAbort = 1;
inline constexpr uint8_t urSkip = 2;
inline constexpr uint8_t urRetry = 3;
inline constexpr uint8_t urApplied = 4;
inline constexpr uint8_t urNone = 5;
inline constexpr uint8_t urDeferred = 6;

// Update kinds handed to the apply hook (the platform's TUpdateKind).
inline constexpr int ukModify = 0;
inline constexpr int ukInsert = 1;
inline constexpr int ukDelete = 2;

// Rows ApplyUpdates applies, a set of bits.
inline constexpr int akModified = 1;
inline constexpr int akInserted = 2;
inline constexpr int akDeleted = 4;
inline constexpr int akAll = 7;

// ---------------------------------------------------------------------------------------------
// Sorting and value comparison

// String comparison kind of local sorting.
enum TSortType : uint8_t { stCaseSensitive, stCaseInsensitive, stBinary };

// Options of the value comparisons.
inline constexpr int coCaseInsensitive = 1;
inline constexpr int coPartialKey = 2;
inline constexpr int coContains = 4;
inline constexpr int coBinary = 8;

class TSortColumn : public rtl::TObject {
public:
    TFieldDesc* FieldDesc = nullptr;
    bool Descending = false;
    uint8_t SortType = stCaseSensitive;

    // The comparison options of the sort type.
    int Options() const;
};

// Owns its columns.
class TSortColumns : public rtl::TObjectList {
public:
    TSortColumn* GetItem(int index) const { return ItemAs<TSortColumn>(index); }
};

// ---------------------------------------------------------------------------------------------
// Filtering

// Lexem codes of the filter lexer.
inline constexpr int blEqual = 1;
inline constexpr int blGreater = 2;
inline constexpr int blLess = 3;
inline constexpr int blGreaterEqual = 4;
inline constexpr int blLessEqual = 5;
inline constexpr int blNotEqual = 6;
inline constexpr int blOpenParen = 7;
inline constexpr int blCloseParen = 8;
inline constexpr int blMinus = 9;
inline constexpr int blPlus = 10;
inline constexpr int blOpenBracket = 11;
inline constexpr int blCloseBracket = 12;
inline constexpr int blAND = 13;
inline constexpr int blFALSE = 14;
inline constexpr int blIS = 15;
inline constexpr int blLIKE = 16;
inline constexpr int blNOT = 17;
inline constexpr int blNULL = 18;
inline constexpr int blOR = 19;
inline constexpr int blTRUE = 20;

const TLexemList& BoolSymbols();
const TLexemList& BoolKeywords();

// The lexer of filter expressions and sort orders (IndexFieldNames).
class TBoolParser : public TParser {
public:
    explicit TBoolParser(const AnsiString& text);

    // The raw text from the current position up to the next "]" (or the end of the text); the
    // "]" is passed over.
    AnsiString ReadToCloseBracket();

protected:
    void InitParser() override;
    // Two apostrophes in a row belong to the string.
    void ToRightQuote(char quote) override;
};

// Node kinds of a filter expression.
enum TExpressionNodeKind : uint8_t {
    ntEqual,
    ntGreater,
    ntLess,
    ntGreaterEqual,
    ntLessEqual,
    ntNotEqual,
    ntAnd,
    ntOr,
    ntNot,
    ntField,
    ntValue,
    ntTrue,
    ntFalse,
    ntLike,
    ntNotLike
};

class TExpressionNode : public rtl::TObject {
public:
    TExpressionNode* PrevAllocated = nullptr;
    uint8_t NodeKind = ntTrue;
    TExpressionNode* FirstOperand = nullptr;
    TExpressionNode* SecondOperand = nullptr;
    TFieldDesc* FieldDesc = nullptr;
    rtl::Variant Value;
};

// "*" and "%" match any run of characters, "_" exactly one; everything else itself.
bool MatchLike(std::string_view value, std::string_view pattern);
bool MatchLike(std::u16string_view value, std::u16string_view pattern);

// ---------------------------------------------------------------------------------------------
// Bookmarks

// A bookmark as kept in the dataset's record buffers: the list's generation, the item, its
// record number then (-1 without a current item) and the item's serial, which tells a live item
// from a freed one without reading the item.
struct RecBookmark {
    static constexpr std::size_t ofsGeneration = 0;
    static constexpr std::size_t ofsItem = 4;
    static constexpr std::size_t ofsRecNo = 4 + PtrSize;
    static constexpr std::size_t ofsSerial = 8 + PtrSize;
    static constexpr std::size_t Size = 12 + PtrSize;

    static uint32_t Generation(const void* b) { return PeekPacked<uint32_t>(b, ofsGeneration); }
    static PItemHeader Item(const void* b) { return PeekPacked<PItemHeader>(b, ofsItem); }
    static int32_t RecNo(const void* b) { return PeekPacked<int32_t>(b, ofsRecNo); }
    static uint32_t Serial(const void* b) { return PeekPacked<uint32_t>(b, ofsSerial); }
    static void Set(void* b, uint32_t generation, PItemHeader item, int32_t recNo, uint32_t serial) {
        PokePacked(b, ofsGeneration, generation);
        PokePacked(b, ofsItem, item);
        PokePacked(b, ofsRecNo, recNo);
        PokePacked(b, ofsSerial, serial);
    }
};

// =============================================================================================
// Record storage

class TData : public rtl::TObject {
public:
    TData();
    ~TData() override;

    // Settings and hooks.
    bool CachedUpdates = false;
    bool LocalUpdate = false;
    TOnModifyRecord OnApplyInsert;
    TOnModifyRecord OnApplyDelete;
    TOnModifyRecord OnApplyUpdate;
    TOnApplyRecord OnApplyRecord;
    TOnModifyRecord OnRevertRecord;
    TOnModifyRecord OnAfterApplyUpdates;
    TOnModifyRecord OnCancelUpdates;
    bool AutoInitFields = true;
    bool TrimFixedChar = false;
    bool TrimVarChar = false;
    TOnModifyRecord OnFieldsChanged;
    TOnRecordFilter OnFilterRecord;
    TOnRecordFilter OnLocalFilter;
    bool FilterCaseInsensitive = false;
    bool FilterNoPartialCompare = false;
    void* FilterRecBuf = nullptr;
    bool KeepEmptyStrings = false;
    bool SparseArrays = false;
    TOnModifyRecord OnAfterDescribe;
    TOnCalcFields OnCalcFields;
    void* NewValuesBuffer = nullptr;
    void* OldValuesBuffer = nullptr;

    int32_t RecordSize() const { return recordSize_; }
    int32_t CalcRecordSize() const { return calcRecordSize_; }
    int32_t DataAreaSize() const { return dataAreaSize_; }
    int32_t CalcAreaSize() const { return calcAreaSize_; }
    bool HasComplexFields() const { return hasComplexFields_; }
    int32_t RecNoOffset() const { return recNoOffset_; }
    TFieldDescs& Fields() { return fields_; }
    const TFieldDescs& Fields() const { return fields_; }
    TStringHeap& StringHeap() { return *stringHeap_; }
    bool Active() const { return active_; }
    bool Prepared() const { return prepared_; }
    const AnsiString& FilterText() const { return filterText_; }
    uint8_t FilterItemTypes() const { return filterItemTypes_; }

    // ---- driver hooks and life cycle
    virtual void InternalPrepare() {}
    virtual void InternalUnPrepare() {}
    virtual void InternalOpen(bool /*disableInitFields*/ = false) {}
    virtual void InternalClose() {}
    virtual void InitData();
    virtual void FreeData();
    virtual void InternalInitFields() {}
    virtual AnsiString GetChildFieldName(TObjectType* objType, int index);
    virtual int GetIndicatorSize() { return fields_.Count(); }
    virtual bool NeedConvertEOL() { return false; }
    virtual bool Eof() { return eof_; }
    virtual bool Bof() { return bof_; }
    virtual int GetRecordCount() { return -1; }
    virtual int GetRecordNo() { return -1; }
    virtual void SetRecordNo(int /*value*/) {}
    virtual void DoApplyInsert(void* recBuf);
    virtual void DoApplyDelete(void* recBuf);
    virtual void DoApplyUpdate(void* recBuf);
    // Parses the text first when the storage is active; a bad text leaves the filter as it was.
    virtual void SetFilterText(const AnsiString& value);
    virtual void DoRevertRecord();
    virtual void DoAfterApplyUpdates();
    virtual void DoCancelUpdates();
    virtual bool UpdatesPending() { return false; }
    virtual void SetFilterItemTypes(uint8_t value) { filterItemTypes_ = value; }
    virtual void Open();
    virtual void Close();
    virtual void Prepare();
    virtual void UnPrepare();
    virtual bool NeedFullReopen() { return true; }
    virtual void Reopen();
    virtual TFieldDescClass GetFieldDescType();
    virtual void InitFields();
    virtual void DescribeFields() { InitFields(); }
    virtual void ClearFields();
    virtual void GetField(int fieldNo, void* recBuf, void* dest, bool& isBlank);
    virtual void GetFieldData(TFieldDesc* field, void* place, void* dest);
    virtual void PutFieldData(TFieldDesc* field, void* place, const void* source,
                              bool isDatabaseValue = false);
    virtual bool GetNull(int fieldNo, void* recBuf);
    virtual void SetNull(int fieldNo, void* recBuf, bool value);
    virtual void GetFieldAsVariant(int fieldNo, void* recBuf, rtl::Variant& value);
    virtual void PutFieldAsVariant(int fieldNo, void* recBuf, const rtl::Variant& value,
                                   bool isDatabaseValue = false);
    virtual void GetDateFromBuf(void* place, TFieldDesc* field, void* dest, int form);
    virtual void PutDateToBuf(void* place, TFieldDesc* field, const void* source, int form);
    virtual bool IsBlobFieldType(TDataType dataType) { return IsBlobDataType(dataType); }
    virtual bool IsComplexFieldType(TDataType dataType);
    // The record list's operations (an in-memory storage implements them).
    virtual void GetRecord(void* recBuf);
    virtual void GetNextRecord(void* recBuf);
    virtual void GetPriorRecord(void* recBuf);
    virtual void PutRecord(void* recBuf);
    virtual void AppendRecord(void* recBuf);
    virtual void InsertRecord(void* recBuf);
    virtual void UpdateRecord(void* recBuf);
    virtual void DeleteRecord();
    // Drops the current record without any apply hook.
    virtual void RemoveRecord();
    virtual void CancelRecord(void* recBuf);
    virtual void CreateComplexFields(void* recBuf, bool withBlob);
    virtual void CreateComplexField(void* recBuf, int index, bool withBlob);
    virtual void FreeComplexFields(void* recBuf, bool withBlob);
    virtual void CopyComplexFields(void* source, void* dest, bool withBlob);
    virtual void AddRefComplexFields(void* recBuf);
    virtual void SetToBegin();
    virtual void SetToEnd();

    // ---- bookmarks (RecBookmark::Size bytes); here only the record number is kept
    virtual void GetBookmark(void* bookmark);
    virtual void SetToBookmark(const void* bookmark);
    virtual bool BookmarkValid(const void* bookmark);
    // -1/0/1: a nil bookmark sorts after a given one, given ones by record number.
    virtual int CompareBookmarks(const void* bookmark1, const void* bookmark2);

    // ---- cached updates (a record list keeps them; here nothing is cached)
    // Switching off cancels every cached change; switching on shows unmodified, modified and
    // inserted rows.
    void ChangeCachedUpdates(bool value);
    virtual int GetUpdateStatus() { return ItemUnmodified; }
    virtual int GetUpdateResult() { return urNone; }
    virtual bool HasUnappliedChanges() { return false; }
    virtual void SetCacheRecBuf(void* /*newBuf*/, void* /*oldBuf*/) {}
    virtual void ApplyUpdates(int /*kinds*/ = akAll) {}
    virtual void CommitUpdates() {}
    virtual void CancelUpdates() {}
    virtual void ResetUpdateResults() {}
    virtual void RevertRecord() {}
    virtual void DoApplyRecord(int updateKind, int& action, bool last);
    virtual void GetOldRecord(void* /*recBuf*/) {}
    // Computes the kept calculated fields of every row (a record list keeps rows).
    virtual void RecalcCachedCalcFields() {}

    // ---- filtering
    // True when a record callback or a filter expression is set.
    virtual bool IsFiltered();
    // Forgets the rows' verdicts and counts the visible rows again.
    virtual void FilterUpdated() {}
    // Forgets the rows' verdicts only.
    virtual void ResetFilterResults() {}
    // Replaces the expression by the parsed text (none for a blank text); on failure the
    // storage has no expression.
    void ParseFilter(const AnsiString& text);
    bool HasFilterExpression() const { return filterRoot_ != nullptr; }
    TExpressionNode* FilterRoot() const { return filterRoot_; }
    // Evaluates node against FilterRecBuf.
    bool EvalFilter(TExpressionNode* node);

    // ---- sorting (a record list sorts; here nothing is)
    virtual TSortColumns* SortColumns() { return nullptr; }
    bool HasSortColumns() {
        TSortColumns* columns = SortColumns();
        return columns && columns->Count() > 0;
    }
    virtual void ChangeIndexFieldNames(const AnsiString& /*value*/) {}
    virtual void SortItems() {}
    virtual void BuildRecordNoCache() {}

    // ---- value comparison: -1, 0 or 1, positive when the key (first) is greater
    // The field's value in comparable form; nativeBuffer False means the caller frees it with
    // std::free. Dates become a TDateTime, currencies a double, heap texts and blobs dtString or
    // dtWideString, bytes a 16-bit length and the bytes.
    void* GetFieldValueBuffer(void* recBuf, TFieldDesc* field, TDataType& valueType, bool& isBlank,
                              bool& nativeBuffer);
    virtual int CompareFieldValue(const void* value, TDataType valueType, TFieldDesc* field, void* recBuf,
                                  int options);
    // Nulls come first.
    virtual int CompareFields(void* recBuf1, void* recBuf2, TFieldDesc* field, int options);
    static int CompareStrings(const char* key, const char* field, int options);
    static int CompareAnsiStr(const AnsiString& key, const AnsiString& field, int options);
    // The key against the first Length(key) characters of the field.
    static int CompareWideStrings(const WideString& key, const WideString& field, int options);
    static int CompareWideStr(const WideString& key, const WideString& field, int options);
    static int CompareAnsiKey(const AnsiString& key, const AnsiString& field, int options);
    static int CompareWideKey(const WideString& key, const WideString& field, int options);
    static int CompareBinary(const void* key, int64_t keyLength, const void* field, int64_t fieldLength,
                             int options);
    static int CompareVariants(const rtl::Variant& key, const rtl::Variant& field, int options);

    // ---- field access
    int GetFieldCount() const { return fields_.Count(); }
    TFieldDesc* FindField(const AnsiString& name) const { return fields_.FindField(name); }
    TFieldDesc* FieldByName(const AnsiString& name) const { return fields_.FieldByName(name); }
    void PutField(int fieldNo, void* recBuf, const void* source, bool isDatabaseValue = false);
    bool HasFieldOfTypes(const TDataTypeSet& types) const;

    // ---- records
    void* AllocRecBuf();
    void FreeRecBuf(void* recBuf);
    void InitRecord(void* recBuf);
    void EditRecord(void* recBuf);
    void PostRecord(void* recBuf);

    // ---- objects and blobs
    TSharedObject* GetObject(int fieldNo, void* recBuf);
    TBlob* GetBlob(int fieldNo, void* recBuf);
    void SetBlob(int fieldNo, void* recBuf, TBlob* blob);
    int64_t GetBlobSize(int fieldNo, void* recBuf, bool fromRollback = false, bool native = true);
    void SetBlobSize(int fieldNo, void* recBuf, int64_t newSize, bool fromRollback = false,
                     bool native = true);
    int64_t ReadBlob(int fieldNo, void* recBuf, int64_t position, int64_t count, void* dest,
                     bool fromRollback = false, bool native = true);
    void WriteBlob(int fieldNo, void* recBuf, int64_t position, int64_t count, const void* data,
                   bool native = true);
    void TruncateBlob(int fieldNo, void* recBuf, int64_t size, bool native = true);

    // ---- child fields (attributes of object columns)
    void InitObjectFields(TObjectType* objType, TFieldDesc* parent);
    // Path of an attribute inside its top-level column's object; top is that column.
    AnsiString GetChildFieldPath(TFieldDesc* field, TFieldDesc*& top);
    void GetChildField(TFieldDesc* field, void* recBuf, void*& value, bool& isBlank, bool& nativeBuffer);
    bool GetChildFieldIsNull(TFieldDesc* field, void* recBuf);
    void PutChildField(TFieldDesc* field, void* recBuf, const void* value);
    void MakeFieldNamesUnique();

protected:
    TFieldDesc* CheckFieldNo(int fieldNo) const;
    uint8_t* Place(TFieldDesc* field, void* recBuf) const {
        return static_cast<uint8_t*>(recBuf) + field->Offset;
    }
    void* PlacePointer(TFieldDesc* field, void* recBuf) const {
        return PeekPacked<void*>(Place(field, recBuf), 0);
    }
    void SetPlacePointer(TFieldDesc* field, void* recBuf, void* value) const {
        PokePacked(Place(field, recBuf), 0, value);
    }
    // The filter expression built from FilterText when the storage opens, and freed.
    void InitFilter() { ParseFilter(filterText_); }
    void FreeFilter();
    // A new heap copy of a text, bounded by the field's length.
    char* HeapCopyStr(TFieldDesc* field, const char* text);
    char16_t* HeapCopyWideStr(TFieldDesc* field, const char16_t* text);
    void* HeapCopyVarBytes(TFieldDesc* field, const void* block);
    TBlob* BlobOf(int fieldNo, void* recBuf, bool fromRollback);

    int32_t recordSize_ = 0;
    int32_t calcRecordSize_ = 0;
    int32_t dataAreaSize_ = 0;
    int32_t calcAreaSize_ = 0;
    bool hasComplexFields_ = false;
    int32_t recNoOffset_ = 0;
    int32_t recordCount_ = 0;
    bool bof_ = true;
    bool eof_ = true;
    bool active_ = false;
    bool prepared_ = false;
    AnsiString filterText_;
    // Matters only with cached updates on; a storage switched on without ChangeCachedUpdates
    // still shows its unmodified rows.
    uint8_t filterItemTypes_ = DefaultCachedItemTypes;
    TFieldDescs fields_;
    std::unique_ptr<TStringHeap> stringHeap_;

private:
    // The filter grammar over the lexer's current lexem.
    struct FilterParse;
    friend struct FilterParse;
    TExpressionNode* NewFilterNode(uint8_t kind);
    bool EvalComparison(TExpressionNode* node);
    // The field's value as text for a text comparison with an 8-bit / wide key.
    AnsiString FieldAnsiText(TFieldDesc* field, void* recBuf, int& options, bool& trim);
    WideString FieldWideText(TFieldDesc* field, void* recBuf, int& options, bool& trim);

    TExpressionNode* filterRoot_ = nullptr;
    TExpressionNode* lastFilterNode_ = nullptr;
};

// =============================================================================================
// In-memory record list

// Item verdicts of the filter.
inline constexpr uint8_t frUnknown = 0;
inline constexpr uint8_t frVisible = 1;
inline constexpr uint8_t frHidden = 2;

// Keeps every row of a result in memory as a doubly linked list of items from the block
// manager, with a current item, record numbers and bookmarks. Record numbers are kept
// incrementally: after an insertion or deletion only the shorter side of the list is
// renumbered and RecNoOffset absorbs the shift of the other side.
//
// Sorting keeps the rows in the order of the sort columns (IndexFieldNames): a full stable sort
// when the order changes, a local move when one row is inserted or changed. Filtering hides rows
// by the record callbacks, the filter expression and, with cached updates, by update status;
// each row's verdict is kept until something that can change it happens.
//
// Cached updates: every changed row has one entry in the cache list, in the order of its first
// change; a modified row keeps a rollback copy of its record as it was before. Applying walks
// the list and hands each change to OnApplyRecord; committing forgets applied changes;
// cancelling and reverting put the rows back as they were.
class TMemData : public TData {
public:
    TMemData();
    // Closes here: the base destructor can no longer reach the list.
    ~TMemData() override;

    PItemHeader FirstItem = nullptr;
    PItemHeader LastItem = nullptr;
    PItemHeader CurrentItem = nullptr;

    uint32_t Generation() const { return generation_; }
    TBlockManager& BlockManager() { return blockManager_; }
    const AnsiString& IndexFieldNames() const { return indexFieldNames_; }
    bool RecordNoCacheFilled() const { return !recordNoCache_.empty(); }

    void InitData() override;
    void FreeData() override;
    bool Eof() override { return !CurrentItem && eof_; }
    bool Bof() override { return !CurrentItem && bof_; }
    int GetRecordCount() override { return recordCount_; }
    int GetRecordNo() override;
    void SetRecordNo(int value) override;
    void SetFilterItemTypes(uint8_t value) override;
    void Open() override { TData::Open(); }
    void Reopen() override;
    void InitFields() override;
    void ClearFields() override;
    void GetRecord(void* recBuf) override;
    void GetNextRecord(void* recBuf) override;
    void GetPriorRecord(void* recBuf) override;
    void PutRecord(void* recBuf) override;
    void AppendRecord(void* recBuf) override;
    void InsertRecord(void* recBuf) override;
    void UpdateRecord(void* recBuf) override;
    void DeleteRecord() override;
    void RemoveRecord() override;
    void SetToBegin() override;
    void SetToEnd() override;

    void GetBookmark(void* bookmark) override;
    void SetToBookmark(const void* bookmark) override;
    bool BookmarkValid(const void* bookmark) override;
    int CompareBookmarks(const void* bookmark1, const void* bookmark2) override;

    // False: nothing more to fetch. Drivers append the next block of rows.
    virtual bool Fetch(bool fetchBack = false);

    // ---- filtering
    virtual bool IsFilteredOut(PItemHeader item);
    void FilterUpdated() override;
    void ResetFilterResults() override { ForgetVerdicts(); }

    // ---- sorting
    TSortColumns* SortColumns() override { return &sortColumns_; }
    // Stores the text; rebuilds the sort columns when descriptors exist and sorts an active
    // list. A bad text raises and leaves the order as it was.
    void ChangeIndexFieldNames(const AnsiString& value) override;
    virtual void SetSortDefaults(TSortColumn* column);
    void SortItems() override;
    int CompareRecords(void* recBuf1, void* recBuf2);
    int CompareBySortColumn(void* recBuf1, void* recBuf2, TSortColumn* column);
    // Moves item towards its sorted place: backwards while it sorts before its predecessor
    // (direction < 0) or forwards while it sorts after its successor (direction > 0).
    void MoveSortedItem(PItemHeader item, int direction);
    // Exchanges the places of two items in the list.
    void SwapItems(PItemHeader item1, PItemHeader item2);

    // ---- cached updates
    int GetUpdateStatus() override;
    int GetUpdateResult() override;
    bool UpdatesPending() override;
    bool HasUnappliedChanges() override;
    void SetCacheRecBuf(void* newBuf, void* oldBuf) override;
    void ApplyUpdates(int kinds = akAll) override;
    void CommitUpdates() override;
    void CancelUpdates() override;
    void ResetUpdateResults() override;
    void RevertRecord() override;
    void GetOldRecord(void* recBuf) override;
    // The changed rows in the order of their first change.
    std::vector<PItemHeader> CachedItems() const;

    // ---- list maintenance, also used by the drivers that fill the list
    PItemHeader InsertItem();
    PItemHeader AppendItem();
    void DeleteItem(PItemHeader item);
    void InsertItemRecord(void* recBuf);
    // mode 0: item was inserted, 1: an item before/at item was deleted, 2: the whole list.
    void RenumberItems(PItemHeader item, int mode);
    // Numbers rows a driver has just added from item on (backward: before item).
    void ReorderItems(PItemHeader item, bool keepCount, bool backward);
    void BuildRecordNoCache() override;
    void DropRecordNoCache() { recordNoCache_.clear(); }
    void RecalcItemsFields(PItemHeader from = nullptr, PItemHeader to = nullptr);
    void RecalcCachedCalcFields() override { RecalcItemsFields(); }
    // Links a block of items made by a driver after LastItem, each with a serial.
    void LinkItem(PItemHeader item);
    void* ItemRecord(PItemHeader item) const { return ItemHeader::Data(item); }
    // Whether item is a live item of this list (never reads item).
    bool IsLiveItem(PItemHeader item) const;

protected:
    // One changed row; Serial tells an entry from a later one at the same address.
    struct TCacheItem {
        PItemHeader Item = nullptr;
        TCacheItem* Prev = nullptr;
        TCacheItem* Next = nullptr;
        uint64_t Serial = 0;
    };
    // An entry as seen before a hook ran: alive while the same entry still stands for Item.
    struct CacheRef {
        TCacheItem* Entry = nullptr;
        PItemHeader Item = nullptr;
        uint64_t Serial = 0;
    };

    // The serial of an item linked into the list; 0 for anything else (never reads memory that
    // is not a held item).
    uint32_t SerialOf(PItemHeader item) const;
    // Gives an item just linked into the list a new serial; an item leaving it loses its serial.
    void SetItemSerial(PItemHeader item) {
        if (++nextSerial_ == 0) ++nextSerial_;
        ItemHeader::SetSerial(item, nextSerial_);
    }
    static void ClearItemSerial(PItemHeader item) { ItemHeader::SetSerial(item, 0); }
    // The bookmark's item is live in this list and still the row it was taken of.
    bool BookmarkHoldsLiveItem(const void* bookmark) const;
    void ForgetVerdicts();
    void CommitBlobs(void* recBuf);
    bool IsVisible(PItemHeader item) { return !IsFilteredOut(item); }
    // Parses a sort order text into columns; raises on a bad text.
    void BuildSortColumns(const AnsiString& text, TSortColumns& columns);
    // Replaces the sort columns by those of text; a bad text leaves them as they were.
    void RebuildSortColumns(const AnsiString& text);
    // Frees the item's rollback copy, its complex values and the item.
    void DisposeItem(PItemHeader item);
    void ForEachBlobField(const std::function<void(TFieldDesc*)>& f);

    // Cached updates.
    void AddCacheItem(PItemHeader item);
    TCacheItem* FindCacheItem(PItemHeader item) const;
    void RemoveCacheItem(TCacheItem* entry);
    CacheRef RefOf(TCacheItem* entry) const;
    bool IsCacheItemAlive(const CacheRef& ref) const;
    void FreeCacheItems();
    // Before a row's first cached change: its entry, status and rollback copy.
    void RecordUpdate(PItemHeader item);
    void MakeRollback(PItemHeader item);
    void SplitRollbackBlobs(PItemHeader item);
    void FreeRollback(PItemHeader item);
    void RestoreFromRollback(PItemHeader item);
    // Undoes the item's cached change; true when the item was removed from the list.
    bool RevertItem(PItemHeader item);
    void DeleteCachedRecord();
    // Applies the entries from the head; false when the hook closed or refilled the storage.
    bool ApplyEntries(int kinds, bool& changed);

    uint32_t generation_ = 0;
    AnsiString indexFieldNames_;
    TSortColumns sortColumns_;
    std::vector<PItemHeader> recordNoCache_;
    TBlockManager blockManager_;
    uint32_t nextSerial_ = 0;
    TCacheItem* cacheHead_ = nullptr;
    TCacheItem* cacheTail_ = nullptr;
    std::unordered_map<PItemHeader, TCacheItem*> cacheIndex_;
    uint64_t nextCacheSerial_ = 0;
    // Counts entries removed, so the apply walk knows when a hook took changes back.
    uint64_t cacheRemovals_ = 0;
};

}  // namespace dac
