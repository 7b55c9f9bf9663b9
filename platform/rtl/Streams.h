// Byte streams: the abstract TStream, streams over file handles and named files, and
// streams kept in memory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Objects.h"

namespace rtl {

enum TSeekOrigin { soBeginning = 0, soCurrent = 1, soEnd = 2 };

class TStream : public TObject {
public:
    TStream() = default;

    // Transfer up to count bytes; the result is the number moved (0 at the end or on failure).
    virtual int64_t Read(void* buffer, int64_t count);
    virtual int64_t Write(const void* buffer, int64_t count);
    // Returns the new position.
    virtual int64_t Seek(int64_t offset, TSeekOrigin origin);

    int64_t Position() { return Seek(0, soCurrent); }
    void SetPosition(int64_t value) { Seek(value, soBeginning); }
    virtual int64_t Size();
    // Streams that cannot change their size raise EStreamError.
    virtual void SetSize(int64_t newSize);

    // Transfer exactly count bytes or raise EReadError "Stream read error" /
    // EWriteError "Stream write error".
    void ReadBuffer(void* buffer, int64_t count);
    void WriteBuffer(const void* buffer, int64_t count);

    // Copies count bytes from the source's current position; a count of 0 (or less) copies
    // the whole source from its start. Returns the number of bytes copied.
    int64_t CopyFrom(TStream& source, int64_t count);
};

// A stream over an open file descriptor that it does not own.
class THandleStream : public TStream {
public:
    explicit THandleStream(int handle) : handle_(handle) {}

    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    // Truncates or extends the file; the position moves to the new end.
    void SetSize(int64_t newSize) override;

    int Handle() const { return handle_; }

protected:
    int handle_;
};

// Open modes. fmCreate creates or truncates; the low byte adds a share mode.
inline constexpr uint16_t fmCreate = 0xFF00;
inline constexpr uint16_t fmOpenRead = 0x0000;
inline constexpr uint16_t fmOpenWrite = 0x0001;
inline constexpr uint16_t fmOpenReadWrite = 0x0002;
inline constexpr uint16_t fmShareCompat = 0x0000;
inline constexpr uint16_t fmShareExclusive = 0x0010;
inline constexpr uint16_t fmShareDenyWrite = 0x0020;
inline constexpr uint16_t fmShareDenyRead = 0x0030;
inline constexpr uint16_t fmShareDenyNone = 0x0040;

// A named file. Share modes are honoured among cooperating openers (every TFileStream and
// FileIsCompletelyWritten) through advisory open-file-description locks: an open that asks for an
// access another holder denies, or denies an access another holder has, fails with EFOpenError
// (EFCreateError for fmCreate). Compat and exclusive both deny everything, as on the original
// platform. Programs that take no locks are not stopped.
class TFileStream : public THandleStream {
public:
    TFileStream(const std::string& fileName, uint16_t mode);
    ~TFileStream() override;

    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;

    const std::string& FileName() const { return fileName_; }

private:
    std::string fileName_;
    bool canRead_ = false;
    bool canWrite_ = false;
};

// A stream held in memory; it grows as it is written.
class TMemoryStream : public TStream {
public:
    TMemoryStream() = default;

    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    int64_t Size() override { return static_cast<int64_t>(data_.size()); }
    // Keeps the position unless it falls beyond the new end; new bytes are zero.
    void SetSize(int64_t newSize) override;

    void* Memory() { return data_.data(); }
    const void* Memory() const { return data_.data(); }
    void Clear();

    // Loads the whole of the source (from its start) or of the file; the position is kept
    // unless it falls beyond the new end.
    void LoadFromStream(TStream& source);
    void LoadFromFile(const std::string& fileName);
    // Writes the whole content, whatever the position.
    void SaveToStream(TStream& dest);
    void SaveToFile(const std::string& fileName);

protected:
    std::vector<uint8_t> data_;
    int64_t position_ = 0;
};

// A memory stream seen as an 8-bit string. Writing in the middle overwrites and keeps what follows.
class TStringStream : public TMemoryStream {
public:
    TStringStream() = default;
    explicit TStringStream(const std::string& data);

    std::string DataString() const { return std::string(data_.begin(), data_.end()); }
    // Reads up to count bytes from the position.
    std::string ReadString(int64_t count);
    void WriteString(const std::string& text) { WriteBuffer(text.data(), static_cast<int64_t>(text.size())); }
};

}  // namespace rtl
