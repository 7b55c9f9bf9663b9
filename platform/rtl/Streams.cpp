#include "platform/rtl/Streams.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

#include "platform/rtl/FileShare.h"
#include "platform/rtl/Files.h"

namespace rtl {

// ---- TStream

int64_t TStream::Read(void*, int64_t) {
    AbstractError();
}
int64_t TStream::Write(const void*, int64_t) {
    AbstractError();
}
int64_t TStream::Seek(int64_t, TSeekOrigin) {
    AbstractError();
}

int64_t TStream::Size() {
    const int64_t pos = Seek(0, soCurrent);
    const int64_t size = Seek(0, soEnd);
    Seek(pos, soBeginning);
    return size;
}

void TStream::SetSize(int64_t) {
    throw EStreamError("Stream size cannot be changed");
}

void TStream::ReadBuffer(void* buffer, int64_t count) {
    auto* p = static_cast<uint8_t*>(buffer);
    // Loop: handle streams (pipes, sockets) may deliver less than asked without being at the end.
    while (count > 0) {
        const int64_t n = Read(p, count);
        if (n <= 0) throw EReadError("Stream read error");
        p += n;
        count -= n;
    }
}

void TStream::WriteBuffer(const void* buffer, int64_t count) {
    const auto* p = static_cast<const uint8_t*>(buffer);
    while (count > 0) {
        const int64_t n = Write(p, count);
        if (n <= 0) throw EWriteError("Stream write error");
        p += n;
        count -= n;
    }
}

int64_t TStream::CopyFrom(TStream& source, int64_t count) {
    if (count <= 0) {
        source.SetPosition(0);
        count = source.Size();
    }
    const int64_t result = count;
    constexpr int64_t kMaxBuffer = 0xF000;
    std::vector<uint8_t> buffer(static_cast<size_t>(std::min(count, kMaxBuffer)));
    while (count > 0) {
        const int64_t n = std::min(count, kMaxBuffer);
        source.ReadBuffer(buffer.data(), n);
        WriteBuffer(buffer.data(), n);
        count -= n;
    }
    return result;
}

// ---- THandleStream

namespace {

constexpr int64_t kMaxTransfer = std::numeric_limits<ssize_t>::max();

}  // namespace

int64_t THandleStream::Read(void* buffer, int64_t count) {
    if (count <= 0) return 0;
    for (;;) {
        const ssize_t n = ::read(handle_, buffer, static_cast<size_t>(std::min(count, kMaxTransfer)));
        if (n >= 0) return n;
        if (errno != EINTR) return 0;
    }
}

int64_t THandleStream::Write(const void* buffer, int64_t count) {
    if (count <= 0) return 0;
    for (;;) {
        const ssize_t n = ::write(handle_, buffer, static_cast<size_t>(std::min(count, kMaxTransfer)));
        if (n >= 0) return n;
        if (errno != EINTR) return 0;
    }
}

int64_t THandleStream::Seek(int64_t offset, TSeekOrigin origin) {
    int whence = SEEK_SET;
    if (origin == soCurrent) whence = SEEK_CUR;
    if (origin == soEnd) whence = SEEK_END;
    const off_t result = ::lseek(handle_, offset, whence);
    return result;  // -1 on failure, as the platform's FileSeek
}

void THandleStream::SetSize(int64_t newSize) {
    Seek(newSize, soBeginning);
    if (::ftruncate(handle_, newSize) != 0) RaiseLastOSError();
}

// ---- TFileStream

TFileStream::TFileStream(const std::string& fileName, uint16_t mode)
    : THandleStream(-1), fileName_(fileName) {
    const bool create = (mode & fmCreate) == fmCreate;
    int access = create ? fmOpenReadWrite : (mode & 0x03);
    const int share = mode & 0xF0;
    auto fail = [&](const std::string& reason) -> void {
        const std::string text = std::string(create ? "Cannot create file \"" : "Cannot open file \"") +
                                 ExpandFileName(fileName) + "\". " + reason;
        if (create) throw EFCreateError(text);
        throw EFOpenError(text);
    };
    if (access == 3) fail(SysErrorMessage(EINVAL));

    canRead_ = access == fmOpenRead || access == fmOpenReadWrite;
    canWrite_ = access == fmOpenWrite || access == fmOpenReadWrite;

    // A write-only stream still opens for reading when it may: read locks need a readable handle.
    int flags = O_CLOEXEC;
    if (create) flags |= O_CREAT;
    flags |= canRead_ ? (canWrite_ ? O_RDWR : O_RDONLY) : O_RDWR;
    int fd = ::open(SysFileName(fileName).c_str(), flags, 0666);
    if (fd < 0 && !canRead_ && errno == EACCES)
        fd = ::open(SysFileName(fileName).c_str(), (flags & ~O_RDWR) | O_WRONLY, 0666);
    if (fd < 0) fail(SysErrorMessage(errno));

    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        fail(SysErrorMessage(EISDIR));
    }

    fileshare::TShareClaim claim;
    claim.read = canRead_;
    claim.write = canWrite_;
    if (share == fmShareDenyWrite) {
        claim.denyWrite = true;
    } else if (share == fmShareDenyRead) {
        claim.denyRead = true;
    } else if (share != fmShareDenyNone) {
        // compat, exclusive and anything unknown
        claim.denyRead = claim.denyWrite = true;
    }
    if (!fileshare::Claim(fd, claim)) {
        ::close(fd);
        fail(fileshare::SharingViolationText());
    }
    // Truncate only once the claim holds, so a refused create leaves the file alone.
    if (create && ::ftruncate(fd, 0) != 0) {
        const int err = errno;
        ::close(fd);
        fail(SysErrorMessage(err));
    }
    handle_ = fd;
}

TFileStream::~TFileStream() {
    if (handle_ >= 0) ::close(handle_);
}

int64_t TFileStream::Read(void* buffer, int64_t count) {
    if (!canRead_) return 0;
    return THandleStream::Read(buffer, count);
}

int64_t TFileStream::Write(const void* buffer, int64_t count) {
    if (!canWrite_) return 0;
    return THandleStream::Write(buffer, count);
}

// ---- TMemoryStream

int64_t TMemoryStream::Read(void* buffer, int64_t count) {
    const int64_t size = Size();
    if (count <= 0 || position_ < 0 || position_ >= size) return 0;
    const int64_t n = std::min(count, size - position_);
    std::memcpy(buffer, data_.data() + position_, static_cast<size_t>(n));
    position_ += n;
    return n;
}

namespace {

void Grow(std::vector<uint8_t>& data, int64_t newSize) {
    try {
        data.resize(static_cast<size_t>(newSize));
    } catch (const std::exception&) {
        throw EStreamError("Out of memory while expanding memory stream");
    }
}

}  // namespace

int64_t TMemoryStream::Write(const void* buffer, int64_t count) {
    if (count <= 0 || position_ < 0) return 0;
    if (count > std::numeric_limits<int64_t>::max() - position_)
        throw EStreamError("Out of memory while expanding memory stream");
    const int64_t end = position_ + count;
    if (end > Size()) Grow(data_, end);
    std::memcpy(data_.data() + position_, buffer, static_cast<size_t>(count));
    position_ = end;
    return count;
}

int64_t TMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
    switch (origin) {
        case soBeginning:
            position_ = offset;
            break;
        case soCurrent:
            position_ += offset;
            break;
        case soEnd:
            position_ = Size() + offset;
            break;
    }
    return position_;
}

void TMemoryStream::SetSize(int64_t newSize) {
    if (newSize < 0) throw EStreamError("Invalid stream size");
    Grow(data_, newSize);
    if (position_ > newSize) position_ = newSize;
}

void TMemoryStream::Clear() {
    data_.clear();
    data_.shrink_to_fit();
    position_ = 0;
}

void TMemoryStream::LoadFromStream(TStream& source) {
    source.SetPosition(0);
    const int64_t count = source.Size();
    SetSize(count);
    if (count != 0) source.ReadBuffer(data_.data(), count);
}

void TMemoryStream::LoadFromFile(const std::string& fileName) {
    TFileStream file(fileName, fmOpenRead | fmShareDenyWrite);
    LoadFromStream(file);
}

void TMemoryStream::SaveToStream(TStream& dest) {
    if (!data_.empty()) dest.WriteBuffer(data_.data(), Size());
}

void TMemoryStream::SaveToFile(const std::string& fileName) {
    TFileStream file(fileName, fmCreate);
    SaveToStream(file);
}

// ---- TStringStream

TStringStream::TStringStream(const std::string& data) {
    data_.assign(data.begin(), data.end());
}

std::string TStringStream::ReadString(int64_t count) {
    const int64_t size = Size();
    if (count <= 0 || position_ < 0 || position_ >= size) return std::string();
    const int64_t n = std::min(count, size - position_);
    std::string result(reinterpret_cast<const char*>(data_.data()) + position_, static_cast<size_t>(n));
    position_ += n;
    return result;
}

}  // namespace rtl
