// The database monitor protocol: the messages a program sends to a monitor program listening on
// a TCP port, their byte layout, the socket client and the process-wide monitor object that
// queues messages and sends them from a thread of its own, so database work never waits for
// the network.
//
// Wire layout. Messages follow one another on one TCP stream, without length prefix or checksum:
//
//   integer   4 bytes, most significant first
//   text      integer byte count, then the text's UTF-8 bytes (no terminator)
//   message   integer type code, then the fields of each class from the root down
//
//   class               code  fields it adds, in wire order
//   TMonitorMessage       -   ProcessId
//   TEventMessage         1   EventType, Description
//   TStartupMessage       2   ExeName
//   TEventStartMessage    4   EventID, StartTime, ObjectID, ObjectName, ObjectType, ObjectTypeName,
//                             ParentID, ParentName, ParentType, ParentTypeName, SQL,
//                             Params (count; Name, DataType, ParamType, Value each), CallStack
//                             (count; one text each)
//   TEventEndMessage      5   EventID, EndTime, Failed, ErrorText, Params, RowsAffected
//   (probe)               6   no fields
//
// Object and parent ids are the low 32 bits of the object's address: an opaque identity.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Types.h"

namespace dac {

using rtl::AnsiString;
using rtl::WideString;

// Every network failure; silent (an EAbort) so that it never reaches a user.
class ESocketError : public rtl::EAbort {
public:
    using rtl::EAbort::EAbort;
    const char* ClassName() const override { return "ESocketError"; }
};

inline constexpr int32_t mtEvent = 1;
inline constexpr int32_t mtStartup = 2;
inline constexpr int32_t mtEventStart = 4;
inline constexpr int32_t mtEventEnd = 5;
inline constexpr int32_t mtProbe = 6;

// Event kinds of the event messages.
inline constexpr int32_t etStartup = 0;
inline constexpr int32_t etFinished = 1;
inline constexpr int32_t etConnect = 2;
inline constexpr int32_t etDisconnect = 3;
inline constexpr int32_t etStart = 4;
inline constexpr int32_t etCommit = 5;
inline constexpr int32_t etRollback = 6;
inline constexpr int32_t etSavepoint = 7;
inline constexpr int32_t etPrepare = 8;
inline constexpr int32_t etUnprepare = 9;
inline constexpr int32_t etExecute = 10;
inline constexpr int32_t etDestroy = 14;
inline constexpr int32_t etPool = 15;
inline constexpr int32_t etError = 16;

struct TMsgSQLParam {
    WideString Name;
    WideString DataType;
    WideString ParamType;
    WideString Value;
};

// What the SQL monitor hands to the monitor object for one event.
struct TMonitorEvent {
    int32_t EventID = 0;
    int32_t EventType = 0;
    WideString Description;
    int32_t ObjectID = 0;
    WideString ObjectName;
    int32_t ObjectType = 0;
    WideString ObjectTypeName;
    int32_t ParentID = 0;
    WideString ParentName;
    int32_t ParentType = 0;
    WideString ParentTypeName;
    WideString SQL;
    std::vector<TMsgSQLParam> Params;
    std::vector<WideString> CallStack;
    bool Failed = false;
    WideString ErrorText;
    int32_t RowsAffected = 0;
};

// Writes (and, for a receiving side, reads) the basic values of the wire.
class TMessagePacker {
public:
    virtual ~TMessagePacker() = default;
    virtual void WriteByte(uint8_t value) = 0;
    virtual void WriteInteger(int32_t value) = 0;
    virtual void WriteString(const WideString& value) = 0;
    virtual uint8_t ReadByte() = 0;
    virtual int32_t ReadInteger() = 0;
    virtual WideString ReadString() = 0;
};

// A packer over memory: what tests and a receiving side use.
class TMemoryMessagePacker : public TMessagePacker {
public:
    TMemoryMessagePacker() = default;
    explicit TMemoryMessagePacker(std::string bytes) : bytes_(std::move(bytes)) {}
    void WriteByte(uint8_t value) override;
    void WriteInteger(int32_t value) override;
    void WriteString(const WideString& value) override;
    // Reading past the end raises ESocketError "Message is truncated".
    uint8_t ReadByte() override;
    int32_t ReadInteger() override;
    WideString ReadString() override;
    const std::string& Bytes() const { return bytes_; }
    bool AtEnd() const { return pos_ >= bytes_.size(); }

private:
    void Need(size_t n) const;
    std::string bytes_;
    size_t pos_ = 0;
};

class TMonitorMessage {
public:
    virtual ~TMonitorMessage() = default;
    virtual int32_t MessageType() const = 0;
    virtual void Write(TMessagePacker& packer);
    virtual void Read(TMessagePacker& packer);
    int32_t ProcessId = 0;
};

class TEventMessage : public TMonitorMessage {
public:
    int32_t MessageType() const override { return mtEvent; }
    void Write(TMessagePacker& packer) override;
    void Read(TMessagePacker& packer) override;
    int32_t EventType = 0;
    WideString Description;
};

class TStartupMessage : public TEventMessage {
public:
    int32_t MessageType() const override { return mtStartup; }
    void Write(TMessagePacker& packer) override;
    void Read(TMessagePacker& packer) override;
    WideString ExeName;
};

class TEventStartMessage : public TEventMessage {
public:
    int32_t MessageType() const override { return mtEventStart; }
    void Write(TMessagePacker& packer) override;
    void Read(TMessagePacker& packer) override;
    int32_t EventID = 0;
    int32_t StartTime = 0;
    int32_t ObjectID = 0;
    WideString ObjectName;
    int32_t ObjectType = 0;
    WideString ObjectTypeName;
    int32_t ParentID = 0;
    WideString ParentName;
    int32_t ParentType = 0;
    WideString ParentTypeName;
    WideString SQL;
    std::vector<TMsgSQLParam> Params;
    std::vector<WideString> CallStack;
};

class TEventEndMessage : public TEventMessage {
public:
    int32_t MessageType() const override { return mtEventEnd; }
    void Write(TMessagePacker& packer) override;
    void Read(TMessagePacker& packer) override;
    int32_t EventID = 0;
    int32_t EndTime = 0;
    int32_t Failed = 0;
    WideString ErrorText;
    std::vector<TMsgSQLParam> Params;
    int32_t RowsAffected = 0;
};

// Writes the type code and the fields of msg.
void WriteMessage(TMessagePacker& packer, TMonitorMessage& msg);
// Reads one message (the probe gives nullptr); an unknown code raises ESocketError.
std::unique_ptr<TMonitorMessage> ReadMessage(TMessagePacker& packer);

// The client end of one TCP connection to a monitor program. Values are buffered and go out at
// Flush; a failed send closes the socket. Sends never raise SIGPIPE.
class TSocketMessagePacker : public TMessagePacker {
public:
    TSocketMessagePacker();
    ~TSocketMessagePacker() override;

    AnsiString Host;  // "localhost" when empty at connect
    int Port = 1000;  // 1000 when 0 at connect
    int ReconnectTimeout = 5000;
    // Bounds each send and also the connect.
    int SendTimeout = 1000;

    // False without trying while the reconnect wait after a failed connect runs; a failure
    // starts that wait.
    bool Connect();
    void Disconnect();
    bool Connected() const { return socket_.load() >= 0; }
    // Sends the probe; false when the connection is gone (also when the peer has closed it).
    bool Probe();
    // A failure closes the socket and loses the message.
    void WriteMessage(TMonitorMessage& msg);
    void Flush();
    // Breaks a send that waits for a stalled peer, from another thread.
    void Abort();

    void WriteByte(uint8_t value) override;
    void WriteInteger(int32_t value) override;
    void WriteString(const WideString& value) override;
    uint8_t ReadByte() override;
    int32_t ReadInteger() override;
    WideString ReadString() override;

    size_t BufferSize() const { return buffer_.size(); }
    bool ReconnectPending() const { return reconnectPending_; }
    // Connects really tried (not those refused by the reconnect wait).
    int ConnectAttempts() const { return attempts_.load(); }

private:
    void Write(const char* data, size_t n);
    void Reserve(size_t n);
    void CloseSocket();
    [[noreturn]] void RaiseLastError();
    void DoConnect();

    std::atomic<int> socket_{-1};
    std::vector<char> buffer_;
    size_t fill_ = 0;
    bool reconnectPending_ = false;
    uint32_t lastFailTick_ = 0;
    std::atomic<int> attempts_{0};
};

// The process-wide monitor object: a ring of up to 1000 waiting messages, drained by one sending
// thread. Queueing takes a lock and never touches the network.
class TSocketMonitor {
public:
    TSocketMonitor();
    // Tells the thread to stop and waits a bounded time; a thread still blocked after it is left
    // to end on its own with the state it shares.
    ~TSocketMonitor();
    TSocketMonitor(const TSocketMonitor&) = delete;
    TSocketMonitor& operator=(const TSocketMonitor&) = delete;

    static constexpr int CacheSize = 1001;

    void SetCaption(const WideString& value);
    void SetHost(const AnsiString& value);
    void SetPort(int value);
    void SetReconnectTimeout(int value);
    void SetSendTimeout(int value);

    void SendStartup();
    void SendFinished();
    // Gives the event a new EventID.
    void SendEventStart(TMonitorEvent& event);
    void SendEventEnd(const TMonitorEvent& event);

    int32_t LastEventID() const;
    // Messages waiting in the ring.
    int QueuedCount() const;
    // How many connects the thread tried so far.
    int ConnectAttempts() const;
    // Waits until the ring is empty and the thread idle, at most timeoutMs; true when it is.
    bool WaitIdle(uint32_t timeoutMs);

    struct TState;

private:
    void Queue(TMonitorMessage* msg);
    std::shared_ptr<TState> state_;
};

// The process's monitor object, made on first use and freed at exit.
TSocketMonitor& GetSocketMonitor();

// Builds a start or end message from an event (public for tests).
std::unique_ptr<TEventStartMessage> MakeEventStartMessage(const TMonitorEvent& event, uint32_t tick);
std::unique_ptr<TEventEndMessage> MakeEventEndMessage(const TMonitorEvent& event, int32_t eventID,
                                                      uint32_t tick);

}  // namespace dac
