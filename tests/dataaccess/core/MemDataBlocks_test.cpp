#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>
#include <vector>

#include "dataaccess/core/MemData.h"

namespace dac {
namespace {

constexpr std::size_t P = sizeof(void*);

TEST(MemDataBlocks, HeaderSizesFollowThePointerSize) {
    EXPECT_EQ(ItemHeader::Size, 4 * P + 13);
    EXPECT_EQ(BlockHeader::Size, 2 * P + 5);
    EXPECT_EQ(PieceHeader::Size, 3 * P + 10);
    EXPECT_EQ(DefaultPieceSize, static_cast<int32_t>(65536 - (3 * P + 10)));
    EXPECT_EQ(TStringHeap::BlockSpace, static_cast<int>(16384 - P));
}

// Checks every invariant of a block manager: marks, used counts, the free list's links and
// that the free list holds exactly the free items.
void CheckBlocks(const TBlockManager& bm) {
    std::set<PItemHeader> freeItems;
    PItemHeader prev = nullptr;
    for (PItemHeader i = bm.FirstFree; i; i = ItemHeader::Next(i)) {
        ASSERT_EQ(ItemHeader::Prev(i), prev);
        ASSERT_EQ(ItemHeader::Flag(i), ItemFree);
        ASSERT_TRUE(freeItems.insert(i).second) << "free list loops";
        prev = i;
    }
    std::size_t freeInBlocks = 0;
    PBlockHeader prevBlock = nullptr;
    for (PBlockHeader b = bm.FirstBlock; b; b = BlockHeader::Next(b)) {
        ASSERT_EQ(BlockHeader::Prev(b), prevBlock);
        int used = 0;
        for (int k = 0; k < BlockHeader::ItemCount(b); ++k) {
            PItemHeader item = bm.BlockItem(b, k);
            ASSERT_EQ(ItemHeader::Block(item), b);
            if (ItemHeader::Flag(item) == ItemUsed) {
                ++used;
            } else {
                ASSERT_EQ(ItemHeader::Flag(item), ItemFree);
                ASSERT_TRUE(freeItems.count(item));
                ++freeInBlocks;
            }
        }
        ASSERT_EQ(BlockHeader::UsedItems(b), used);
        prevBlock = b;
    }
    ASSERT_EQ(freeInBlocks, freeItems.size());
}

int BlockCount(const TBlockManager& bm) {
    int n = 0;
    for (PBlockHeader b = bm.FirstBlock; b; b = BlockHeader::Next(b)) ++n;
    return n;
}

TEST(MemDataBlocks, ItemsComeFromBlocksOfTen) {
    TBlockManager bm;
    bm.RecordSize = 13;
    std::vector<PItemHeader> items(11);
    bm.AllocItem(items[0]);
    ASSERT_EQ(BlockCount(bm), 1);
    EXPECT_EQ(items[0], bm.BlockItem(bm.FirstBlock, 9));  // the last item heads the free list
    EXPECT_EQ(ItemHeader::UpdateResult(items[0]), 5);
    EXPECT_EQ(ItemHeader::Rollback(items[0]), nullptr);
    for (int i = 1; i < 10; ++i) bm.AllocItem(items[i]);
    EXPECT_EQ(BlockCount(bm), 1);
    bm.AllocItem(items[10]);
    EXPECT_EQ(BlockCount(bm), 2);
    CheckBlocks(bm);
}

TEST(MemDataBlocks, FreeingTheLastUsedItemReleasesItsBlock) {
    TBlockManager bm;
    bm.RecordSize = 7;
    std::vector<PItemHeader> items(15);
    for (auto& i : items) bm.AllocItem(i);  // block A full, block B has 5 used
    ASSERT_EQ(BlockCount(bm), 2);
    PBlockHeader b = ItemHeader::Block(items[14]);
    for (int i = 10; i < 14; ++i) {
        bm.FreeItem(items[i]);
        CheckBlocks(bm);
    }
    bm.FreeItem(items[14]);
    EXPECT_EQ(BlockCount(bm), 1);
    EXPECT_NE(bm.FirstBlock, b);
    EXPECT_EQ(bm.FirstFree, nullptr);  // all of B's free items left with it
    CheckBlocks(bm);
    // Free in a scattered order, then allocate again.
    for (int i : {3, 7, 0, 9, 5}) bm.FreeItem(items[i]);
    CheckBlocks(bm);
    for (int i : {3, 7, 0}) bm.AllocItem(items[i]);
    CheckBlocks(bm);
}

TEST(MemDataBlocks, MarksAreChecked) {
    TBlockManager bm;
    bm.RecordSize = 4;
    PItemHeader a, b;
    bm.AllocItem(a);
    bm.AllocItem(b);
    bm.FreeItem(a);
    EXPECT_THROW(bm.FreeItem(a), rtl::EAssertionFailed);
    ItemHeader::SetFlag(bm.FirstFree, 0);
    EXPECT_THROW(bm.AllocItem(a), rtl::EAssertionFailed);
}

TEST(MemDataBlocks, RecordsAreCopiedInAndOutOfItems) {
    TBlockManager bm;
    bm.RecordSize = 11;  // odd: item data is not aligned
    PItemHeader a, b;
    bm.AllocItem(a);
    bm.AllocItem(b);
    const char rec[11] = "0123456789";
    bm.PutItemRecord(a, rec);
    bm.CopyItemRecord(a, b);
    char out[11] = {};
    bm.GetItemRecord(b, out);
    EXPECT_EQ(std::memcmp(out, rec, 11), 0);
    EXPECT_EQ(bm.ItemRecordPtr(a), reinterpret_cast<uint8_t*>(a) + ItemHeader::Size);
}

// A batch taken straight from AllocBlock: the caller keeps some items and frees the rest.
TEST(MemDataBlocks, AllocatedBlockHandedOverByItsUser) {
    TBlockManager bm;
    bm.RecordSize = 9;
    PBlockHeader block;
    bm.AllocBlock(block, 25);
    EXPECT_EQ(BlockHeader::ItemCount(block), 25);
    EXPECT_EQ(BlockHeader::UsedItems(block), 25);
    for (int k = 0; k < 25; ++k) {
        PItemHeader item = bm.BlockItem(block, k);
        ItemHeader::SetBlock(item, block);
        if (k < 20) {
            ItemHeader::SetFlag(item, ItemUsed);
            continue;
        }
        ItemHeader::SetFlag(item, ItemFree);
        ItemHeader::SetPrev(item, nullptr);
        ItemHeader::SetNext(item, bm.FirstFree);
        if (bm.FirstFree) ItemHeader::SetPrev(bm.FirstFree, item);
        bm.FirstFree = item;
    }
    BlockHeader::SetUsedItems(block, 20);
    CheckBlocks(bm);
    PItemHeader item;
    bm.AllocItem(item);
    EXPECT_EQ(ItemHeader::Block(item), block);
    CheckBlocks(bm);
}

// ---------------------------------------------------------------------------------------------
// String heap

TEST(MemDataHeap, SizeClassesAndLargePieces) {
    TStringHeap heap;
    EXPECT_TRUE(heap.Untouched());
    EXPECT_EQ(heap.NewBuf(0), nullptr);
    void* one = heap.NewBuf(1);
    EXPECT_FALSE(heap.Untouched());
    EXPECT_EQ(TStringHeap::PieceSize(one), 8);
    EXPECT_EQ(TStringHeap::UseCountMark(one), 101);
    void* small = heap.NewBuf(2000);
    EXPECT_EQ(TStringHeap::PieceSize(small), 2000);
    EXPECT_FALSE(heap.HasLargePieces());
    void* large = heap.NewBuf(2001);
    EXPECT_EQ(TStringHeap::PieceSize(large), 2001);
    EXPECT_TRUE(heap.HasLargePieces());
    heap.DisposeBuf(large);
    heap.DisposeBuf(small);
    heap.DisposeBuf(one);
    heap.Clear();
    EXPECT_TRUE(heap.Untouched());
    EXPECT_FALSE(heap.HasLargePieces());
}

TEST(MemDataHeap, FreedBufferServesTheNextRequestOfItsClass) {
    TStringHeap heap;
    void* a = heap.NewBuf(20);  // class 3
    void* b = heap.NewBuf(20);
    heap.DisposeBuf(a);
    EXPECT_EQ(TStringHeap::UseCountMark(a), TStringHeap::RefNull);
    EXPECT_EQ(heap.SmallTabHead(3), a);
    EXPECT_EQ(heap.NewBuf(17), a);  // 17 bytes are class 3 too
    EXPECT_NE(heap.NewBuf(20), b);
}

TEST(MemDataHeap, UseCountsShareABuffer) {
    TStringHeap heap;
    void* a = heap.NewBuf(10);
    heap.AddRefStr(a);
    heap.AddRefStr(a);
    EXPECT_EQ(TStringHeap::UseCountMark(a), 103);
    heap.DisposeBuf(a);
    heap.DisposeBuf(a);
    EXPECT_EQ(TStringHeap::UseCountMark(a), 101);
    EXPECT_EQ(heap.SmallTabHead(2), nullptr);
    heap.DisposeBuf(a);
    EXPECT_EQ(heap.SmallTabHead(2), a);
    try {
        heap.DisposeBuf(a);
        FAIL();
    } catch (const rtl::EAssertionFailed& e) {
        EXPECT_NE(e.Message().find("DisposeBuf failed"), std::string::npos);
    }
    try {
        heap.AddRefStr(a);
        FAIL();
    } catch (const rtl::EAssertionFailed& e) {
        EXPECT_NE(e.Message().find("AddRefStr failed"), std::string::npos);
    }
}

// Eight 2000-byte pieces (2006 bytes with their headers) fill a block up to its last bytes.
TEST(MemDataHeap, RestOfAFullBlockBecomesAFreePiece) {
    TStringHeap heap;
    void* last = nullptr;
    for (int i = 0; i < 8; ++i) last = heap.NewBuf(2000);
    const int rest = TStringHeap::BlockSpace - 8 * 2006;
    ASSERT_GE(rest, 14 + 8);
    const int restClass = (rest - 6) / 8;
    void* next = heap.NewBuf(2000);  // does not fit: new block
    EXPECT_NE(next, static_cast<uint8_t*>(last) + 2006);
    void* reused = heap.NewBuf(restClass * 8);
    EXPECT_EQ(reused, static_cast<uint8_t*>(last) + 2006);
    EXPECT_EQ(TStringHeap::PieceSize(reused), restClass * 8);
}

TEST(MemDataHeap, PieceTakesTheTailWhenTooLittleIsLeft) {
    TStringHeap heap;
    void* last = nullptr;
    for (int i = 0; i < 8; ++i) last = heap.NewBuf(2000);
    const int rest = TStringHeap::BlockSpace - 8 * 2006;
    // A request leaving between 8 and 13 bytes: the piece grows by 8.
    const int sizeClass = (rest - 6 - 10) / 8;
    const int left = rest - (8 * sizeClass + 6);
    ASSERT_GE(left, 8);
    ASSERT_LT(left, 14);
    void* tail = heap.NewBuf(sizeClass * 8);
    EXPECT_EQ(tail, static_cast<uint8_t*>(last) + 2006);
    EXPECT_EQ(TStringHeap::PieceSize(tail), sizeClass * 8 + 8);
    void* fresh = heap.NewBuf(8);
    EXPECT_NE(fresh, static_cast<uint8_t*>(tail) + TStringHeap::PieceSize(tail) + 6);
    heap.DisposeBuf(tail);
    EXPECT_EQ(heap.SmallTabHead(sizeClass + 1), tail);
}

TEST(MemDataHeap, TextCopies) {
    TStringHeap heap;
    EXPECT_EQ(heap.AllocStr(nullptr), nullptr);
    char* empty = heap.AllocStr("abc", false, 0);
    ASSERT_NE(empty, nullptr);
    EXPECT_STREQ(empty, "");
    EXPECT_STREQ(heap.AllocStr("ab  "), "ab  ");
    EXPECT_STREQ(heap.AllocStr("ab  ", true), "ab");
    EXPECT_STREQ(heap.AllocStr("abcdef", false, 3), "abc");
    char16_t* w = heap.AllocWideStr(u"xy  ", true);
    EXPECT_EQ(std::u16string(w), u"xy");
    EXPECT_EQ(TStringHeap::PieceSize(w), 8);
    char* s = heap.AllocStr("one");
    char* r = heap.ReAllocStr(s, false);
    EXPECT_STREQ(r, "one");
    EXPECT_EQ(TStringHeap::UseCountMark(s), TStringHeap::RefNull);
}

TEST(MemDataHeap, ThreadSafeHeapServesSeveralThreads) {
    TStringHeap heap;
    heap.SetThreadSafety(true);
    EXPECT_TRUE(heap.ThreadSafety());
    std::atomic<int> bad{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&heap, &bad, t] {
            std::vector<char*> mine;
            for (int i = 0; i < 2000; ++i) {
                const std::string text = std::to_string(t) + ":" + std::to_string(i);
                mine.push_back(
                    static_cast<char*>(heap.NewBuf(static_cast<int64_t>(text.size()) + 1 + i % 40)));
                std::memcpy(mine.back(), text.c_str(), text.size() + 1);
                if (i % 3 == 0) {
                    heap.DisposeBuf(mine.front());
                    mine.erase(mine.begin());
                }
            }
            for (char* p : mine)
                if (std::string(p).rfind(std::to_string(t) + ":", 0) != 0) ++bad;
            for (char* p : mine) heap.DisposeBuf(p);
        });
    for (auto& th : threads) th.join();
    EXPECT_EQ(bad.load(), 0);
    heap.SetThreadSafety(false);
    EXPECT_FALSE(heap.ThreadSafety());
}

}  // namespace
}  // namespace dac
