// Record blocks (list items handed out from blocks) and the string heap.
#include <cstdlib>

#include "dataaccess/core/MemData.h"

namespace dac {

namespace {

void* AllocOrRaise(std::size_t size) {
    void* p = std::malloc(size);
    if (!p) throw rtl::EOutOfMemory("Out of memory");
    return p;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// TBlockManager

PItemHeader TBlockManager::BlockItem(PBlockHeader block, int index) const {
    return reinterpret_cast<PItemHeader>(reinterpret_cast<uint8_t*>(block) + BlockHeader::Size +
                                         static_cast<std::size_t>(index) * ItemSize());
}

void TBlockManager::AllocBlock(PBlockHeader& block, uint16_t count) {
    block = static_cast<PBlockHeader>(AllocOrRaise(BlockHeader::Size + count * ItemSize()));
    BlockHeader::SetItemCount(block, count);
    BlockHeader::SetUsedItems(block, count);
    BlockHeader::SetPrev(block, nullptr);
    BlockHeader::SetNext(block, FirstBlock);
    PokePacked<uint8_t>(block, BlockHeader::ofsReserved, 0);
    if (FirstBlock) BlockHeader::SetPrev(FirstBlock, block);
    FirstBlock = block;
    blockRanges_[reinterpret_cast<const uint8_t*>(block)] = BlockHeader::Size + count * ItemSize();
}

bool TBlockManager::HoldsItem(const void* p) const {
    const auto* at = static_cast<const uint8_t*>(p);
    auto it = blockRanges_.upper_bound(at);
    if (it == blockRanges_.begin()) return false;
    --it;
    const std::size_t offset = static_cast<std::size_t>(at - it->first);
    return offset >= BlockHeader::Size && offset < it->second &&
           (offset - BlockHeader::Size) % ItemSize() == 0;
}

void TBlockManager::FreeBlock(PBlockHeader block) {
    PBlockHeader prev = BlockHeader::Prev(block);
    PBlockHeader next = BlockHeader::Next(block);
    if (block == FirstBlock) {
        FirstBlock = next;
        if (next) BlockHeader::SetPrev(next, nullptr);
    } else {
        if (prev) BlockHeader::SetNext(prev, next);
        if (next) BlockHeader::SetPrev(next, prev);
    }
    blockRanges_.erase(reinterpret_cast<const uint8_t*>(block));
    std::free(block);
}

void TBlockManager::FreeAllBlocks() {
    while (FirstBlock) FreeBlock(FirstBlock);
    FirstFree = nullptr;
}

void TBlockManager::AddFreeBlock() {
    PBlockHeader block;
    AllocBlock(block, ItemsPerBlock);
    for (int i = 0; i < ItemsPerBlock; ++i) {
        PItemHeader item = BlockItem(block, i);
        ItemHeader::SetPrev(item, nullptr);
        ItemHeader::SetNext(item, FirstFree);
        ItemHeader::SetBlock(item, block);
        ItemHeader::SetFlag(item, ItemFree);
        ItemHeader::SetSerial(item, 0);
        if (FirstFree) ItemHeader::SetPrev(FirstFree, item);
        FirstFree = item;
    }
    BlockHeader::SetUsedItems(block, 0);
}

void TBlockManager::AllocItem(PItemHeader& item) {
    if (!FirstFree) AddFreeBlock();
    item = FirstFree;
    rtl::Assert(ItemHeader::Flag(item) == ItemFree, "MemData: AllocItem on an item that is not free");
    ItemHeader::SetFlag(item, ItemUsed);
    FirstFree = ItemHeader::Next(item);
    if (FirstFree) ItemHeader::SetPrev(FirstFree, nullptr);
    ItemHeader::SetRollback(item, nullptr);
    ItemHeader::SetStatus(item, 0);
    ItemHeader::SetUpdateResult(item, 5);
    ItemHeader::SetOrder(item, 0);
    ItemHeader::SetFilterResult(item, 0);
    PokePacked<uint8_t>(item, ItemHeader::ofsReserved, 0);
    ItemHeader::SetSerial(item, 0);
    PBlockHeader block = ItemHeader::Block(item);
    BlockHeader::SetUsedItems(block, static_cast<uint16_t>(BlockHeader::UsedItems(block) + 1));
}

void TBlockManager::FreeItem(PItemHeader item) {
    rtl::Assert(ItemHeader::Flag(item) == ItemUsed, "MemData: FreeItem on an item that is not used");
    PBlockHeader block = ItemHeader::Block(item);
    ItemHeader::SetSerial(item, 0);
    if (BlockHeader::UsedItems(block) != 1) {
        ItemHeader::SetFlag(item, ItemFree);
        ItemHeader::SetPrev(item, nullptr);
        ItemHeader::SetNext(item, FirstFree);
        if (FirstFree) ItemHeader::SetPrev(FirstFree, item);
        FirstFree = item;
        BlockHeader::SetUsedItems(block, static_cast<uint16_t>(BlockHeader::UsedItems(block) - 1));
        return;
    }
    // The last used item: check the block before touching the free list, then drop it whole.
    const int count = BlockHeader::ItemCount(block);
    for (int i = 0; i < count; ++i) {
        PItemHeader other = BlockItem(block, i);
        if (other != item)
            rtl::Assert(ItemHeader::Flag(other) == ItemFree, "MemData: FreeItem found a block item in use");
    }
    ItemHeader::SetFlag(item, ItemFree);
    for (int i = 0; i < count; ++i) {
        PItemHeader other = BlockItem(block, i);
        if (other == item) continue;
        PItemHeader prev = ItemHeader::Prev(other);
        PItemHeader next = ItemHeader::Next(other);
        if (other == FirstFree) {
            FirstFree = next;
            if (next) ItemHeader::SetPrev(next, nullptr);
        } else {
            if (prev) ItemHeader::SetNext(prev, next);
            if (next) ItemHeader::SetPrev(next, prev);
        }
    }
    FreeBlock(block);
}

void TBlockManager::PutItemRecord(PItemHeader item, const void* recBuf) const {
    std::memcpy(ItemHeader::Data(item), recBuf, static_cast<std::size_t>(RecordSize));
}

void TBlockManager::GetItemRecord(PItemHeader item, void* recBuf) const {
    std::memcpy(recBuf, ItemHeader::Data(item), static_cast<std::size_t>(RecordSize));
}

void TBlockManager::CopyItemRecord(PItemHeader source, PItemHeader dest) const {
    std::memmove(ItemHeader::Data(dest), ItemHeader::Data(source), static_cast<std::size_t>(RecordSize));
}

// ---------------------------------------------------------------------------------------------
// TStringHeap
//
// Piece layout: 32-bit size at piece + 0, 16-bit mark at piece + 4, data at piece + 6. A free
// small piece links to the next free piece of its class through the first PtrSize data bytes.

namespace {

constexpr std::size_t ofsPieceSize = 0;
constexpr std::size_t ofsPieceMark = 4;
constexpr int MaxGrownPieceSize = 2000;
constexpr int MinPieceRoom = 8 + TStringHeap::PieceHeaderSize;

uint8_t* PieceOf(void* buf) {
    return static_cast<uint8_t*>(buf) - TStringHeap::PieceHeaderSize;
}

}  // namespace

TStringHeap::TStringHeap() = default;

TStringHeap::~TStringHeap() {
    Clear();
    lock_.reset();
}

int32_t TStringHeap::PieceSize(const void* buf) {
    return PeekPacked<int32_t>(static_cast<const uint8_t*>(buf) - PieceHeaderSize, ofsPieceSize);
}

TStringHeap::Guard::Guard(TStringHeap& heap) : heap_(heap) {
    if (heap_.lock_) heap_.lock_->lock();
}

TStringHeap::Guard::~Guard() {
    if (heap_.lock_) heap_.lock_->unlock();
}

void TStringHeap::SetThreadSafety(bool value) {
    if (value == threadSafety_) return;
    if (value) {
        rtl::Assert(!lock_, "MemData: string heap lock exists");
        lock_ = std::make_unique<std::mutex>();
    } else {
        lock_.reset();
    }
    threadSafety_ = value;
}

uint8_t* TStringHeap::NewHeapBlock() {
    auto* block = static_cast<uint8_t*>(AllocOrRaise(BlockSize));
    PokePacked<uint8_t*>(block, 0, currentBlock_);
    return block;
}

void TStringHeap::PushFree(uint8_t* piece, int sizeClass) {
    PokePacked<uint16_t>(piece, ofsPieceMark, RefNull);
    PokePacked<void*>(piece + PieceHeaderSize, 0, smallTab_[sizeClass]);
    smallTab_[sizeClass] = piece + PieceHeaderSize;
}

void* TStringHeap::NewBuf(int64_t size) {
    if (size <= 0) return nullptr;
    Guard guard(*this);
    untouched_ = false;
    const int64_t sizeClass = (size + 7) / 8;
    if (sizeClass > SmallSizeClasses) {
        auto* piece = static_cast<uint8_t*>(AllocOrRaise(static_cast<std::size_t>(size) + PieceHeaderSize));
        PokePacked<int32_t>(piece, ofsPieceSize, static_cast<int32_t>(size));
        PokePacked<uint16_t>(piece, ofsPieceMark, RefNull + 1);
        hasLargePieces_ = true;
        return piece + PieceHeaderSize;
    }
    const int c = static_cast<int>(sizeClass);
    if (void* head = smallTab_[c]) {
        smallTab_[c] = PeekPacked<void*>(head, 0);
        PokePacked<uint16_t>(PieceOf(head), ofsPieceMark, RefNull + 1);
        return head;
    }
    const int need = 8 * c + PieceHeaderSize;
    if (!currentBlock_) {
        currentBlock_ = NewHeapBlock();
        freeBytes_ = BlockSpace;
    } else if (freeBytes_ < need) {
        uint8_t* block = NewHeapBlock();  // before any change, so a failure changes nothing
        const int restClass = (freeBytes_ - PieceHeaderSize) / 8;
        if (restClass > 0) {
            uint8_t* rest = currentBlock_ + BlockSize - freeBytes_;
            PokePacked<int32_t>(rest, ofsPieceSize, restClass * 8);
            PushFree(rest, restClass);
        }
        currentBlock_ = block;
        freeBytes_ = BlockSpace;
    }
    uint8_t* piece = currentBlock_ + BlockSize - freeBytes_;
    int32_t pieceSize = 8 * c;
    const int remaining = freeBytes_ - need;
    if (remaining < MinPieceRoom) {
        // Too little left for another piece: the piece takes what it can, the next request
        // starts a new block.
        uint8_t* block = NewHeapBlock();
        const int32_t grown = pieceSize + remaining / 8 * 8;
        if (grown <= MaxGrownPieceSize) pieceSize = grown;
        currentBlock_ = block;
        freeBytes_ = BlockSpace;
    } else {
        freeBytes_ = remaining;
    }
    PokePacked<int32_t>(piece, ofsPieceSize, pieceSize);
    PokePacked<uint16_t>(piece, ofsPieceMark, RefNull + 1);
    return piece + PieceHeaderSize;
}

void TStringHeap::DisposeBuf(void* buf) {
    if (!buf) return;
    Guard guard(*this);
    uint8_t* piece = PieceOf(buf);
    const uint16_t mark = PeekPacked<uint16_t>(piece, ofsPieceMark);
    rtl::Assert(mark > RefNull, "DisposeBuf failed");
    if (mark == RefNull + 1) {
        const int64_t c = (static_cast<int64_t>(PeekPacked<int32_t>(piece, ofsPieceSize)) + 7) / 8;
        rtl::Assert(c != 0, "SmallTab in DisposeBuf failed");
        if (c <= SmallSizeClasses) {
            PushFree(piece, static_cast<int>(c));
        } else {
            PokePacked<uint16_t>(piece, ofsPieceMark, RefNull);
            std::free(piece);
        }
    } else {
        PokePacked<uint16_t>(piece, ofsPieceMark, static_cast<uint16_t>(mark - 1));
    }
}

void TStringHeap::AddRefStr(void* buf) {
    if (!buf) return;
    uint8_t* piece = PieceOf(buf);
    const uint16_t mark = PeekPacked<uint16_t>(piece, ofsPieceMark);
    rtl::Assert(mark > RefNull, "AddRefStr failed");
    PokePacked<uint16_t>(piece, ofsPieceMark, static_cast<uint16_t>(mark + 1));
}

char* TStringHeap::AllocStr(const char* text, bool trim, int64_t length) {
    if (!text) return nullptr;
    if (length < 0) length = static_cast<int64_t>(std::strlen(text));
    if (trim)
        while (length > 0 && text[length - 1] == ' ') --length;
    auto* buf = static_cast<char*>(NewBuf(length + 1));
    std::memcpy(buf, text, static_cast<std::size_t>(length));
    buf[length] = 0;
    return buf;
}

char16_t* TStringHeap::AllocWideStr(const char16_t* text, bool trim, int64_t length) {
    if (!text) return nullptr;
    if (length < 0) {
        length = 0;
        while (PeekPacked<char16_t>(text, static_cast<std::size_t>(length) * 2) != 0) ++length;
    }
    if (trim)
        while (length > 0 && PeekPacked<char16_t>(text, static_cast<std::size_t>(length - 1) * 2) == u' ')
            --length;
    auto* buf = static_cast<char16_t*>(NewBuf(length * 2 + 2));
    std::memcpy(buf, text, static_cast<std::size_t>(length) * 2);
    PokePacked<char16_t>(buf, static_cast<std::size_t>(length) * 2, 0);
    return buf;
}

char* TStringHeap::ReAllocStr(char* text, bool trim) {
    char* copy = AllocStr(text, trim);
    DisposeBuf(text);
    return copy;
}

void TStringHeap::Clear() {
    if (untouched_) return;
    Guard guard(*this);
    while (currentBlock_) {
        uint8_t* prev = PeekPacked<uint8_t*>(currentBlock_, 0);
        std::free(currentBlock_);
        currentBlock_ = prev;
    }
    freeBytes_ = BlockSpace;
    for (void*& head : smallTab_) head = nullptr;
    untouched_ = true;
    hasLargePieces_ = false;
}

}  // namespace dac
