// The zip library's own containers and streams: an object list with a sorted descendant,
// a buffered stream over another stream and the buffered file stream every archive and
// source file goes through.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Objects.h"
#include "platform/rtl/Streams.h"

namespace zip {

using rtl::EClassNotFound;
using rtl::Exception;

using rtl::TObject;
using rtl::TPersistent;

using rtl::soBeginning;
using rtl::soCurrent;
using rtl::soEnd;
using rtl::TSeekOrigin;
using rtl::TStream;

// Open modes of the library's file streams (creation, read-only with sharing).
inline constexpr uint16_t fmCreate = rtl::fmCreate;
inline constexpr uint16_t fmOpenRead = rtl::fmOpenRead;
inline constexpr uint16_t fmOpenWrite = rtl::fmOpenWrite;
inline constexpr uint16_t fmOpenReadWrite = rtl::fmOpenReadWrite;
inline constexpr uint16_t fmShareDenyWrite = rtl::fmShareDenyWrite;
inline constexpr uint16_t fmShareDenyNone = rtl::fmShareDenyNone;

// Asks the system to write a file stream's data to disk; false for other streams.
bool FlushStreamToDisk(TStream& stream);

// Buffered stream over another (not owned) stream.
class TS_BufferStream : public TStream {
public:
    TS_BufferStream(TStream* stream, int bufferSize);
    ~TS_BufferStream() override;
    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    int64_t Size() override;

    virtual bool RefillBuffer();
    virtual bool FlushBuffer();
    virtual void PutBack(uint8_t value);
    std::function<void(TS_BufferStream&)> OnFill;
    std::function<void(TS_BufferStream&)> OnFlush;

    bool FlushOnDestroy() const { return flushOnDestroy_; }
    void SetFlushOnDestroy(bool value) { flushOnDestroy_ = value; }

protected:
    // Writes pending bytes (the destructor of a descendant calls this before freeing its stream).
    void Finish();
    TStream* stream_;

private:
    int64_t LogicalPosition();
    int64_t UnderPos();
    int64_t upos_ = -1;  // position of the underlying stream, -1 when not known
    std::vector<uint8_t> buf_;
    size_t cur_ = 0;
    size_t end_ = 0;
    int state_ = 0;  // 0 idle, 1 read-ahead held, 2 bytes pending
    bool flushOnDestroy_ = false;
    bool written_ = false;
    bool finished_ = false;
};

// The buffered file stream of the library.
class TLFNFileStream : public TS_BufferStream {
public:
    TLFNFileStream(const std::string& fileName, uint16_t mode, bool flushOnDestroy = false,
                   int bufferSize = 8192);
    ~TLFNFileStream() override;
    int64_t Size() override;
    void SetSize(int64_t size) override;
    const std::string& FileName() const { return file_->FileName(); }
    bool FlushToDisk() { return FlushStreamToDisk(*file_); }

private:
    std::unique_ptr<rtl::TFileStream> file_;
};

// The zip object list.
class TObjectList : public TPersistent {
public:
    explicit TObjectList(bool ownsItems = true);
    ~TObjectList() override;

    virtual void Error(const std::string& message, int64_t value);
    virtual void Grow();
    virtual void Put(int index, TObject* item);
    virtual void FreeItem(TObject* item);
    virtual int Add(TObject* item);
    virtual void Clear();
    virtual int IndexOf(TObject* item);
    virtual void Insert(int index, TObject* item);
    virtual void ReadData(TStream& stream);
    virtual void WriteData(TStream& stream);
    virtual TObject* First();
    virtual TObject* Last();
    virtual TObject* Neighbour(TObject* item, bool forward);

    TObject* GetItem(int index);
    TObject* operator[](int index) { return GetItem(index); }
    void SetCapacity(int64_t value);
    void SetCount(int64_t value);
    void FreeAll();
    int Count() const { return count_; }
    int Capacity() const { return static_cast<int>(items_.size()); }
    bool OwnsItems() const { return owns_; }
    void SetOwnsItems(bool value) { owns_ = value; }

protected:
    void CheckIndex(int64_t index, int64_t limit);
    void InsertAt(int index, TObject* item);
    bool owns_;
    std::vector<TObject*> items_;  // size is the capacity
    int count_ = 0;
};

enum TDuplicates { dupIgnore = 0, dupAccept = 1, dupError = 2 };

class TSortedObjectList : public TObjectList {
public:
    explicit TSortedObjectList(TDuplicates duplicates, bool ownsItems = true);

    void Put(int index, TObject* item) override;
    int Add(TObject* item) override;
    void Insert(int index, TObject* item) override;
    int IndexOf(TObject* item) override;
    void ReadData(TStream& stream) override;
    void WriteData(TStream& stream) override;

    virtual const TObject* KeyOf(const TObject* item) const { return item; }
    virtual int Compare(const TObject* key1, const TObject* key2) const;
    virtual bool Find(const TObject* key, int& index);

    TDuplicates Duplicates() const { return dup_; }

protected:
    TDuplicates dup_;
};

// Registry of item classes for the streamed form of the lists.
using TLoadItemProc = std::function<void(TObject&, TStream&)>;
using TSaveItemProc = std::function<void(const TObject&, TStream&)>;
using TCreateItemProc = std::function<TObject*()>;
void RegisterItemClass(const std::string& className, TCreateItemProc create, TLoadItemProc load,
                       TSaveItemProc save);
void UnregisterItemClass(const std::string& className);
bool FindRegisteredClass(const std::string& className);
TObject* CreateRegisteredObject(const std::string& className);

// Takes pending messages of the calling thread; there is no window queue here, so nothing waits.
bool PumpWindowMessages();
// Whether the path names an existing folder.
bool TryChangeDir(const std::string& path);

}  // namespace zip
