#include "zip/kpCntn.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>

#include "platform/rtl/Files.h"

namespace zip {

// ---------------------------------------------------------------- streams

bool FlushStreamToDisk(TStream& stream) {
    auto* handle = dynamic_cast<rtl::THandleStream*>(&stream);
    return handle != nullptr && ::fsync(handle->Handle()) == 0;
}

TS_BufferStream::TS_BufferStream(TStream* stream, int bufferSize)
    : stream_(stream), buf_(static_cast<size_t>(std::max(bufferSize, 1))) {}

TS_BufferStream::~TS_BufferStream() {
    try {
        Finish();
    } catch (...) {
    }
}

void TS_BufferStream::Finish() {
    if (finished_) return;
    finished_ = true;
    if (state_ == 2) FlushBuffer();
    if (flushOnDestroy_ && written_) FlushStreamToDisk(*stream_);
}

int64_t TS_BufferStream::UnderPos() {
    if (upos_ < 0) upos_ = stream_->Seek(0, soCurrent);
    return upos_;
}

bool TS_BufferStream::RefillBuffer() {
    UnderPos();
    int64_t n = stream_->Read(buf_.data(), static_cast<int64_t>(buf_.size()));
    upos_ = n > 0 ? upos_ + n : -1;
    cur_ = 0;
    end_ = n > 0 ? static_cast<size_t>(n) : 0;
    state_ = end_ > 0 ? 1 : 0;
    if (OnFill) OnFill(*this);
    return end_ > 0;
}

bool TS_BufferStream::FlushBuffer() {
    int64_t held = static_cast<int64_t>(end_);
    UnderPos();
    int64_t n = held > 0 ? stream_->Write(buf_.data(), held) : 0;
    upos_ = n == held ? upos_ + n : -1;
    cur_ = end_ = 0;
    state_ = 0;
    if (OnFlush) OnFlush(*this);
    return n == held;
}

void TS_BufferStream::PutBack(uint8_t value) {
    if (state_ != 1 || cur_ == 0) throw rtl::EStreamError("Putback overflow");
    buf_[--cur_] = value;
}

int64_t TS_BufferStream::LogicalPosition() {
    int64_t pos = UnderPos();
    if (state_ == 1) return pos - static_cast<int64_t>(end_ - cur_);
    if (state_ == 2) return pos + static_cast<int64_t>(end_);
    return pos;
}

int64_t TS_BufferStream::Read(void* buffer, int64_t count) {
    if (state_ == 2 && !FlushBuffer()) return 0;
    auto* p = static_cast<uint8_t*>(buffer);
    int64_t done = 0;
    while (done < count) {
        if (state_ != 1 || cur_ >= end_) {
            if (!RefillBuffer()) break;
        }
        size_t n = std::min(end_ - cur_, static_cast<size_t>(count - done));
        std::memcpy(p + done, buf_.data() + cur_, n);
        cur_ += n;
        done += static_cast<int64_t>(n);
    }
    return done;
}

int64_t TS_BufferStream::Write(const void* buffer, int64_t count) {
    if (state_ == 1) {
        upos_ = stream_->Seek(LogicalPosition(), soBeginning);
        cur_ = end_ = 0;
        state_ = 0;
    }
    auto* p = static_cast<const uint8_t*>(buffer);
    int64_t done = 0;
    while (done < count) {
        if (end_ == buf_.size() && !FlushBuffer()) break;
        size_t n = std::min(buf_.size() - end_, static_cast<size_t>(count - done));
        std::memcpy(buf_.data() + end_, p + done, n);
        end_ += n;
        done += static_cast<int64_t>(n);
        state_ = 2;
    }
    if (done > 0) written_ = true;
    return done;
}

int64_t TS_BufferStream::Size() {
    int64_t pos = UnderPos();
    int64_t logicalEnd = pos + (state_ == 2 ? static_cast<int64_t>(end_) : 0);
    return std::max(logicalEnd, stream_->Size());
}

int64_t TS_BufferStream::Seek(int64_t offset, TSeekOrigin origin) {
    int64_t logical = LogicalPosition();
    int64_t target;
    switch (origin) {
        case soBeginning:
            target = offset;
            break;
        case soCurrent:
            target = logical + offset;
            break;
        case soEnd:
            target = Size() - (offset < 0 ? -offset : offset);
            break;
        default:
            throw rtl::Exception("Invalid seek origin (" + std::to_string(static_cast<int>(origin)) + ")");
    }
    if (target != logical) {
        // A target inside the bytes read ahead needs no call to the system.
        if (state_ == 1 && upos_ >= 0) {
            const int64_t bufferStart = upos_ - static_cast<int64_t>(end_);
            if (target >= bufferStart && target <= upos_) {
                cur_ = static_cast<size_t>(target - bufferStart);
                return target;
            }
        }
        if (state_ == 2 && !FlushBuffer()) throw rtl::Exception("Seek error");
        upos_ = stream_->Seek(target, soBeginning);
        cur_ = end_ = 0;
        state_ = 0;
    }
    return target;
}

TLFNFileStream::TLFNFileStream(const std::string& fileName, uint16_t mode, bool flushOnDestroy,
                               int bufferSize)
    : TS_BufferStream(nullptr, bufferSize), file_(std::make_unique<rtl::TFileStream>(fileName, mode)) {
    stream_ = file_.get();
    SetFlushOnDestroy(flushOnDestroy && (mode == fmCreate || (mode & 3) != 0));
}

TLFNFileStream::~TLFNFileStream() {
    try {
        Finish();
    } catch (...) {
    }
}

int64_t TLFNFileStream::Size() {
    return TS_BufferStream::Size();
}

void TLFNFileStream::SetSize(int64_t size) {
    int64_t pos = Seek(0, soCurrent);
    if (!FlushBuffer()) throw rtl::EWriteError("Stream write error");
    file_->SetSize(size);
    Seek(std::min(pos, size), soBeginning);
}

// ---------------------------------------------------------------- object lists

namespace {
constexpr int64_t kMaxListSize = 0x1FFFFFFE;
}

TObjectList::TObjectList(bool ownsItems) : owns_(ownsItems) {}

TObjectList::~TObjectList() {
    FreeAll();
}

void TObjectList::Error(const std::string& message, int64_t value) {
    std::string text = message;
    auto at = text.find("%d");
    if (at != std::string::npos) text.replace(at, 2, std::to_string(value));
    throw rtl::EListError(text);
}

void TObjectList::CheckIndex(int64_t index, int64_t limit) {
    if (index < 0 || index >= limit) Error("List index out of bounds (%d)", index);
}

void TObjectList::Grow() {
    int cap = Capacity();
    int delta = cap > 8 ? 16 : cap > 4 ? 8 : 4;
    SetCapacity(cap + delta);
}

TObject* TObjectList::GetItem(int index) {
    CheckIndex(index, count_);
    return items_[static_cast<size_t>(index)];
}

void TObjectList::Put(int index, TObject* item) {
    CheckIndex(index, count_);
    items_[static_cast<size_t>(index)] = item;
}

void TObjectList::FreeItem(TObject* item) {
    if (owns_) delete item;
}

int TObjectList::Add(TObject* item) {
    if (count_ == Capacity()) Grow();
    items_[static_cast<size_t>(count_)] = item;
    return count_++;
}

void TObjectList::Clear() {
    count_ = 0;
    items_.clear();
    items_.shrink_to_fit();
}

int TObjectList::IndexOf(TObject* item) {
    for (int i = 0; i < count_; ++i)
        if (items_[static_cast<size_t>(i)] == item) return i;
    return -1;
}

void TObjectList::InsertAt(int index, TObject* item) {
    if (count_ == Capacity()) Grow();
    auto at = items_.begin() + index;
    std::move_backward(at, items_.begin() + count_, items_.begin() + count_ + 1);
    *at = item;
    ++count_;
}

void TObjectList::Insert(int index, TObject* item) {
    CheckIndex(index, static_cast<int64_t>(count_) + 1);
    InsertAt(index, item);
}

TObject* TObjectList::First() {
    return GetItem(0);
}

TObject* TObjectList::Last() {
    return GetItem(count_ - 1);
}

TObject* TObjectList::Neighbour(TObject* item, bool forward) {
    if (item == nullptr) {
        if (count_ == 0) return nullptr;
        return forward ? First() : Last();
    }
    int i = IndexOf(item);
    if (i < 0) Error(std::string("tObject ") + item->ClassName() + " not in item list", 0);
    int j = forward ? i + 1 : i - 1;
    return j >= 0 && j < count_ ? items_[static_cast<size_t>(j)] : nullptr;
}

void TObjectList::SetCapacity(int64_t value) {
    if (value < count_ || value > kMaxListSize) Error("List index out of bounds (%d)", value);
    items_.resize(static_cast<size_t>(value), nullptr);
}

void TObjectList::SetCount(int64_t value) {
    if (value < 0 || value > kMaxListSize) Error("List index out of bounds (%d)", value);
    if (value > Capacity()) SetCapacity(value);
    for (int64_t i = count_; i < value; ++i) items_[static_cast<size_t>(i)] = nullptr;
    count_ = static_cast<int>(value);
}

void TObjectList::FreeAll() {
    for (int i = 0; i < count_; ++i) FreeItem(items_[static_cast<size_t>(i)]);
    Clear();
}

namespace {

struct TRegisterRec {
    TCreateItemProc create;
    TLoadItemProc load;
    TSaveItemProc save;
};

std::map<std::string, TRegisterRec>& Registry() {
    static std::map<std::string, TRegisterRec> registry;
    return registry;
}

std::string RegistryKey(const std::string& name) {
    std::string key = name.substr(0, 63);
    for (auto& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return key;
}

void WriteByte(TStream& s, uint8_t b) {
    s.WriteBuffer(&b, 1);
}

uint8_t ReadByte(TStream& s) {
    uint8_t b;
    s.ReadBuffer(&b, 1);
    return b;
}

void WriteItems(TObjectList& list, TStream& stream) {
    WriteByte(stream, list.OwnsItems() ? 1 : 0);
    uint8_t count[4];
    uint32_t n = static_cast<uint32_t>(list.Count());
    for (int i = 0; i < 4; ++i) count[i] = static_cast<uint8_t>(n >> (8 * i));
    stream.WriteBuffer(count, 4);
    for (int i = 0; i < list.Count(); ++i) {
        TObject* item = list.GetItem(i);
        if (item == nullptr) throw EClassNotFound("Nil Source Class!");
        std::string name = std::string(item->ClassName()).substr(0, 63);
        auto it = Registry().find(RegistryKey(name));
        if (it == Registry().end()) throw EClassNotFound("Source Class <" + name + "> not registered");
        WriteByte(stream, static_cast<uint8_t>(name.size()));
        stream.WriteBuffer(name.data(), static_cast<int64_t>(name.size()));
        if (it->second.save) it->second.save(*item, stream);
    }
}

void ReadItems(TObjectList& list, TStream& stream) {
    list.FreeAll();
    list.SetOwnsItems(ReadByte(stream) != 0);
    uint8_t count[4];
    stream.ReadBuffer(count, 4);
    uint32_t n = count[0] | count[1] << 8 | count[2] << 16 | static_cast<uint32_t>(count[3]) << 24;
    for (uint32_t i = 0; i < n; ++i) {
        uint8_t len = ReadByte(stream);
        std::string name(len, '\0');
        stream.ReadBuffer(name.data(), len);
        std::unique_ptr<TObject> item(CreateRegisteredObject(name));
        auto& rec = Registry().find(RegistryKey(name))->second;
        if (rec.load) rec.load(*item, stream);
        list.Add(item.release());
    }
}

}  // namespace

void RegisterItemClass(const std::string& className, TCreateItemProc create, TLoadItemProc load,
                       TSaveItemProc save) {
    Registry().emplace(RegistryKey(className),
                       TRegisterRec{std::move(create), std::move(load), std::move(save)});
}

void UnregisterItemClass(const std::string& className) {
    Registry().erase(RegistryKey(className));
}

bool FindRegisteredClass(const std::string& className) {
    return Registry().count(RegistryKey(className)) != 0;
}

TObject* CreateRegisteredObject(const std::string& className) {
    auto it = Registry().find(RegistryKey(className));
    if (it == Registry().end() || !it->second.create)
        throw EClassNotFound("Class <" + className + "> not registered");
    return it->second.create();
}

void TObjectList::WriteData(TStream& stream) {
    WriteItems(*this, stream);
}

void TObjectList::ReadData(TStream& stream) {
    ReadItems(*this, stream);
}

TSortedObjectList::TSortedObjectList(TDuplicates duplicates, bool ownsItems)
    : TObjectList(ownsItems), dup_(duplicates) {}

void TSortedObjectList::Put(int, TObject*) {
    throw rtl::EListError("Cannot <Put> an Object in a sorted list!");
}

int TSortedObjectList::Add(TObject* item) {
    Insert(0, item);
    return 0;
}

void TSortedObjectList::Insert(int, TObject* item) {
    int index;
    if (Find(KeyOf(item), index)) {
        if (dup_ == dupIgnore) return;
        if (dup_ == dupError) throw rtl::EListError("Duplicate Object index");
    }
    InsertAt(index, item);
}

int TSortedObjectList::IndexOf(TObject* item) {
    int index;
    return Find(KeyOf(item), index) ? index : -1;
}

int TSortedObjectList::Compare(const TObject*, const TObject*) const {
    rtl::AbstractError();
}

bool TSortedObjectList::Find(const TObject* key, int& index) {
    int low = 0;
    int high = count_ - 1;
    bool found = false;
    while (low <= high) {
        int mid = (low + high) / 2;
        int c = Compare(KeyOf(items_[static_cast<size_t>(mid)]), key);
        if (c < 0) {
            low = mid + 1;
        } else {
            high = mid - 1;
            if (c == 0) {
                found = true;
                if (dup_ != dupAccept) low = mid;
            }
        }
    }
    index = low;
    return found;
}

void TSortedObjectList::WriteData(TStream& stream) {
    WriteByte(stream, static_cast<uint8_t>(dup_));
    TObjectList::WriteData(stream);
}

void TSortedObjectList::ReadData(TStream& stream) {
    dup_ = static_cast<TDuplicates>(ReadByte(stream));
    TObjectList::ReadData(stream);
}

// ---------------------------------------------------------------- shared routines

bool PumpWindowMessages() {
    return false;
}

bool TryChangeDir(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(rtl::SysFileName(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace zip
