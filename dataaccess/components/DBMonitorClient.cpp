// The database monitor protocol: message classes, packers, the socket client and the sending
// thread.
#include "dataaccess/components/DBMonitorClient.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include "platform/rtl/Files.h"
#include "platform/rtl/Format.h"
#include "platform/rtl/Strings.h"
#include "platform/rtl/Threads.h"

namespace dac {

namespace {

constexpr size_t InitialBufferSize = 1024;
constexpr size_t MaxBufferSize = 32768;

std::string BigEndian(int32_t value) {
    const auto u = static_cast<uint32_t>(value);
    const char b[4] = {static_cast<char>(u >> 24), static_cast<char>(u >> 16), static_cast<char>(u >> 8),
                       static_cast<char>(u)};
    return std::string(b, 4);
}

void WriteParams(TMessagePacker& p, const std::vector<TMsgSQLParam>& params) {
    p.WriteInteger(static_cast<int32_t>(params.size()));
    for (const auto& x : params) {
        p.WriteString(x.Name);
        p.WriteString(x.DataType);
        p.WriteString(x.ParamType);
        p.WriteString(x.Value);
    }
}

std::vector<TMsgSQLParam> ReadParams(TMessagePacker& p) {
    const int32_t n = p.ReadInteger();
    if (n < 0) throw ESocketError("Message is corrupt");
    std::vector<TMsgSQLParam> params;
    for (int32_t i = 0; i < n; ++i) {
        TMsgSQLParam x;
        x.Name = p.ReadString();
        x.DataType = p.ReadString();
        x.ParamType = p.ReadString();
        x.Value = p.ReadString();
        params.push_back(std::move(x));
    }
    return params;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Memory packer

void TMemoryMessagePacker::WriteByte(uint8_t value) {
    bytes_.push_back(static_cast<char>(value));
}

void TMemoryMessagePacker::WriteInteger(int32_t value) {
    bytes_ += BigEndian(value);
}

void TMemoryMessagePacker::WriteString(const WideString& value) {
    const std::string utf8 = rtl::WideToUtf8(value);
    WriteInteger(static_cast<int32_t>(utf8.size()));
    bytes_ += utf8;
}

void TMemoryMessagePacker::Need(size_t n) const {
    if (bytes_.size() - pos_ < n || pos_ > bytes_.size()) throw ESocketError("Message is truncated");
}

uint8_t TMemoryMessagePacker::ReadByte() {
    Need(1);
    return static_cast<uint8_t>(bytes_[pos_++]);
}

int32_t TMemoryMessagePacker::ReadInteger() {
    Need(4);
    uint32_t u = 0;
    for (int i = 0; i < 4; ++i) u = (u << 8) | static_cast<uint8_t>(bytes_[pos_++]);
    return static_cast<int32_t>(u);
}

WideString TMemoryMessagePacker::ReadString() {
    const int32_t n = ReadInteger();
    if (n < 0) throw ESocketError("Message is corrupt");
    Need(static_cast<size_t>(n));
    const std::string utf8 = bytes_.substr(pos_, static_cast<size_t>(n));
    pos_ += static_cast<size_t>(n);
    return rtl::Utf8ToWide(utf8);
}

// ---------------------------------------------------------------------------------------------
// Messages

void TMonitorMessage::Write(TMessagePacker& packer) {
    packer.WriteInteger(ProcessId);
}

void TMonitorMessage::Read(TMessagePacker& packer) {
    ProcessId = packer.ReadInteger();
}

void TEventMessage::Write(TMessagePacker& packer) {
    TMonitorMessage::Write(packer);
    packer.WriteInteger(EventType);
    packer.WriteString(Description);
}

void TEventMessage::Read(TMessagePacker& packer) {
    TMonitorMessage::Read(packer);
    EventType = packer.ReadInteger();
    Description = packer.ReadString();
}

void TStartupMessage::Write(TMessagePacker& packer) {
    TEventMessage::Write(packer);
    packer.WriteString(ExeName);
}

void TStartupMessage::Read(TMessagePacker& packer) {
    TEventMessage::Read(packer);
    ExeName = packer.ReadString();
}

void TEventStartMessage::Write(TMessagePacker& packer) {
    TEventMessage::Write(packer);
    packer.WriteInteger(EventID);
    packer.WriteInteger(StartTime);
    packer.WriteInteger(ObjectID);
    packer.WriteString(ObjectName);
    packer.WriteInteger(ObjectType);
    packer.WriteString(ObjectTypeName);
    packer.WriteInteger(ParentID);
    packer.WriteString(ParentName);
    packer.WriteInteger(ParentType);
    packer.WriteString(ParentTypeName);
    packer.WriteString(SQL);
    WriteParams(packer, Params);
    packer.WriteInteger(static_cast<int32_t>(CallStack.size()));
    for (const auto& s : CallStack) packer.WriteString(s);
}

void TEventStartMessage::Read(TMessagePacker& packer) {
    TEventMessage::Read(packer);
    EventID = packer.ReadInteger();
    StartTime = packer.ReadInteger();
    ObjectID = packer.ReadInteger();
    ObjectName = packer.ReadString();
    ObjectType = packer.ReadInteger();
    ObjectTypeName = packer.ReadString();
    ParentID = packer.ReadInteger();
    ParentName = packer.ReadString();
    ParentType = packer.ReadInteger();
    ParentTypeName = packer.ReadString();
    SQL = packer.ReadString();
    Params = ReadParams(packer);
    const int32_t n = packer.ReadInteger();
    if (n < 0) throw ESocketError("Message is corrupt");
    CallStack.clear();
    for (int32_t i = 0; i < n; ++i) CallStack.push_back(packer.ReadString());
}

void TEventEndMessage::Write(TMessagePacker& packer) {
    TEventMessage::Write(packer);
    packer.WriteInteger(EventID);
    packer.WriteInteger(EndTime);
    packer.WriteInteger(Failed);
    packer.WriteString(ErrorText);
    WriteParams(packer, Params);
    packer.WriteInteger(RowsAffected);
}

void TEventEndMessage::Read(TMessagePacker& packer) {
    TEventMessage::Read(packer);
    EventID = packer.ReadInteger();
    EndTime = packer.ReadInteger();
    Failed = packer.ReadInteger();
    ErrorText = packer.ReadString();
    Params = ReadParams(packer);
    RowsAffected = packer.ReadInteger();
}

void WriteMessage(TMessagePacker& packer, TMonitorMessage& msg) {
    packer.WriteInteger(msg.MessageType());
    msg.Write(packer);
}

std::unique_ptr<TMonitorMessage> ReadMessage(TMessagePacker& packer) {
    std::unique_ptr<TMonitorMessage> msg;
    switch (packer.ReadInteger()) {
        case mtEvent:
            msg = std::make_unique<TEventMessage>();
            break;
        case mtStartup:
            msg = std::make_unique<TStartupMessage>();
            break;
        case mtEventStart:
            msg = std::make_unique<TEventStartMessage>();
            break;
        case mtEventEnd:
            msg = std::make_unique<TEventEndMessage>();
            break;
        case mtProbe:
            return nullptr;
        default:
            throw ESocketError("Unknown message type");
    }
    msg->Read(packer);
    return msg;
}

std::unique_ptr<TEventStartMessage> MakeEventStartMessage(const TMonitorEvent& e, uint32_t tick) {
    auto m = std::make_unique<TEventStartMessage>();
    m->ProcessId = static_cast<int32_t>(rtl::GetCurrentProcessId());
    m->EventType = e.EventType;
    m->Description = e.Description;
    m->EventID = e.EventID;
    m->StartTime = static_cast<int32_t>(tick);
    m->ObjectID = e.ObjectID;
    m->ObjectName = e.ObjectName;
    m->ObjectType = e.ObjectType;
    m->ObjectTypeName = e.ObjectTypeName;
    m->ParentID = e.ParentID;
    m->ParentName = e.ParentName;
    m->ParentType = e.ParentType;
    m->ParentTypeName = e.ParentTypeName;
    m->SQL = e.SQL;
    m->Params = e.Params;
    m->CallStack = e.CallStack;
    return m;
}

std::unique_ptr<TEventEndMessage> MakeEventEndMessage(const TMonitorEvent& e, int32_t eventID,
                                                      uint32_t tick) {
    auto m = std::make_unique<TEventEndMessage>();
    m->ProcessId = static_cast<int32_t>(rtl::GetCurrentProcessId());
    m->EventType = e.EventType;
    m->Description = e.Description;
    m->EventID = eventID;
    m->EndTime = static_cast<int32_t>(tick);
    m->Failed = e.Failed ? 1 : 0;
    m->ErrorText = e.ErrorText;
    m->Params = e.Params;
    m->RowsAffected = e.RowsAffected;
    return m;
}

// ---------------------------------------------------------------------------------------------
// Socket packer

TSocketMessagePacker::TSocketMessagePacker() : buffer_(InitialBufferSize) {}

TSocketMessagePacker::~TSocketMessagePacker() {
    CloseSocket();
}

void TSocketMessagePacker::CloseSocket() {
    const int fd = socket_.exchange(-1);
    if (fd >= 0) ::close(fd);
}

void TSocketMessagePacker::Disconnect() {
    CloseSocket();
}

void TSocketMessagePacker::Abort() {
    const int fd = socket_.load();
    if (fd >= 0) ::shutdown(fd, SHUT_RDWR);
}

void TSocketMessagePacker::RaiseLastError() {
    throw ESocketError(rtl::Format("Socket error %d", {errno}));
}

void TSocketMessagePacker::DoConnect() {
    if (Host.empty()) Host = "localhost";
    if (Port == 0) Port = 1000;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(Port));
    if (inet_pton(AF_INET, Host.c_str(), &addr.sin_addr) != 1) {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        if (getaddrinfo(Host.c_str(), nullptr, &hints, &found) != 0 || !found) {
            errno = EHOSTUNREACH;
            RaiseLastError();
        }
        addr.sin_addr = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr;
        freeaddrinfo(found);
    }
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_TCP);
    if (fd < 0) RaiseLastError();
    socket_.store(fd);
    // A bounded connect: a host that never answers must not hold the sending thread for the
    // kernel's own connect time-out.
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        if (errno != EINPROGRESS) RaiseLastError();
        pollfd p{fd, POLLOUT, 0};
        const int r = ::poll(&p, 1, std::max(SendTimeout, 1));
        if (r == 0) {
            errno = ETIMEDOUT;
            RaiseLastError();
        }
        if (r < 0) RaiseLastError();
        int err = 0;
        socklen_t len = sizeof err;
        if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) RaiseLastError();
        if (err != 0) {
            errno = err;
            RaiseLastError();
        }
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    timeval tv{SendTimeout / 1000, (SendTimeout % 1000) * 1000};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

bool TSocketMessagePacker::Connect() {
    if (reconnectPending_ && rtl::GetTickCount() - lastFailTick_ < static_cast<uint32_t>(ReconnectTimeout))
        return false;
    ++attempts_;
    try {
        DoConnect();
    } catch (const ESocketError&) {
        CloseSocket();
        reconnectPending_ = true;
        lastFailTick_ = rtl::GetTickCount();
        return false;
    }
    reconnectPending_ = false;
    return true;
}

bool TSocketMessagePacker::Probe() {
    const int fd = socket_.load();
    if (fd < 0) return false;
    // A monitor program never writes: a readable end of stream means it has closed the
    // connection, which a send would only notice one message later.
    char c;
    if (::recv(fd, &c, 1, MSG_PEEK | MSG_DONTWAIT) == 0) {
        CloseSocket();
        return false;
    }
    fill_ = 0;
    try {
        WriteInteger(mtProbe);
        Flush();
    } catch (const ESocketError&) {
        CloseSocket();
    }
    return Connected();
}

void TSocketMessagePacker::WriteMessage(TMonitorMessage& msg) {
    fill_ = 0;
    try {
        dac::WriteMessage(*this, msg);
        Flush();
    } catch (const ESocketError&) {
        CloseSocket();
        fill_ = 0;
    }
}

void TSocketMessagePacker::Flush() {
    size_t sent = 0;
    while (sent < fill_) {
        const int fd = socket_.load();
        if (fd < 0) {
            errno = ENOTCONN;
            RaiseLastError();
        }
        // MSG_NOSIGNAL: a monitor program that closed its end must not kill the process.
        const ssize_t n = ::send(fd, buffer_.data() + sent, fill_ - sent, MSG_NOSIGNAL);
        if (n < 1) {
            if (n < 0 && errno == EINTR) continue;
            RaiseLastError();
        }
        sent += static_cast<size_t>(n);
    }
    fill_ = 0;
}

void TSocketMessagePacker::Reserve(size_t n) {
    const size_t size = buffer_.size();
    if (size - fill_ < n && size < MaxBufferSize)
        buffer_.resize(std::min(std::max(2 * size, fill_ + n), MaxBufferSize));
    if (buffer_.size() - fill_ < n) Flush();
}

void TSocketMessagePacker::Write(const char* data, size_t n) {
    while (n > 0) {
        Reserve(std::min(n, MaxBufferSize));
        const size_t part = std::min(n, buffer_.size() - fill_);
        std::memcpy(buffer_.data() + fill_, data, part);
        fill_ += part;
        data += part;
        n -= part;
    }
}

void TSocketMessagePacker::WriteByte(uint8_t value) {
    const char c = static_cast<char>(value);
    Write(&c, 1);
}

void TSocketMessagePacker::WriteInteger(int32_t value) {
    const std::string b = BigEndian(value);
    Write(b.data(), b.size());
}

void TSocketMessagePacker::WriteString(const WideString& value) {
    const std::string utf8 = rtl::WideToUtf8(value);
    WriteInteger(static_cast<int32_t>(utf8.size()));
    Write(utf8.data(), utf8.size());
}

uint8_t TSocketMessagePacker::ReadByte() {
    throw ESocketError("The monitor client does not read");
}

int32_t TSocketMessagePacker::ReadInteger() {
    throw ESocketError("The monitor client does not read");
}

WideString TSocketMessagePacker::ReadString() {
    throw ESocketError("The monitor client does not read");
}

// ---------------------------------------------------------------------------------------------
// Monitor object

// Shared by the monitor object and its thread, so that a thread that outlives a bounded shutdown
// wait still works on live memory.
struct TSocketMonitor::TState {
    std::mutex settingsLock;
    WideString caption;
    AnsiString host;
    int port = 1000;
    int reconnectTimeout = 5000;
    int sendTimeout = 1000;

    std::unique_ptr<TSocketMessagePacker> packer;
    std::mutex packerLock;  // only for Abort from the destroying thread
    std::unique_ptr<TStartupMessage> startupMessage;
    std::atomic<int32_t> lastEventID{0};

    TMonitorMessage* cache[CacheSize] = {};
    std::atomic<int> cacheHead{0};
    std::atomic<int> cacheTail{0};
    rtl::TCriticalSection addEventLock;
    rtl::TEvent newMesEvent{false, false};

    std::thread sendThread;
    std::atomic<bool> terminated{false};
    std::atomic<bool> abandon{false};
    std::atomic<bool> busy{false};
    std::mutex doneLock;
    std::condition_variable doneCv;
    bool done = false;

    ~TState() {
        for (int i = cacheHead.load(); i != cacheTail.load(); i = (i + 1) % CacheSize) Drop(cache[i]);
    }

    void Drop(TMonitorMessage* msg) {
        if (msg != startupMessage.get()) delete msg;
    }

    bool EnsureConnection() {
        if (packer && packer->Probe()) return true;
        if (!packer) {
            std::lock_guard<std::mutex> g(packerLock);
            packer = std::make_unique<TSocketMessagePacker>();
        }
        {
            std::lock_guard<std::mutex> g(settingsLock);
            packer->Host = host;
            packer->Port = port;
            packer->ReconnectTimeout = reconnectTimeout;
            packer->SendTimeout = sendTimeout;
        }
        return packer->Connect();
    }

    void SendOne(TMonitorMessage* msg) {
        auto* ev = dynamic_cast<TEventMessage*>(msg);
        const int32_t eventType = ev ? ev->EventType : -1;
        const bool wasConnected = packer && packer->Probe();
        bool mayWrite = wasConnected;
        if (eventType != etFinished && !wasConnected) mayWrite = EnsureConnection();
        if (!mayWrite) return;
        if (!wasConnected && eventType != etStartup && startupMessage) packer->WriteMessage(*startupMessage);
        packer->WriteMessage(*msg);
        if (eventType == etFinished) packer->Disconnect();
    }

    void Execute() {
        while (!terminated.load()) {
            newMesEvent.WaitFor(rtl::INFINITE);
            busy.store(true);
            while (cacheHead.load() != cacheTail.load()) {
                const int head = cacheHead.load();
                TMonitorMessage* msg = cache[head];
                if (!abandon.load()) {
                    try {
                        SendOne(msg);
                    } catch (...) {
                        // A message that cannot be sent is dropped; nothing reaches database work.
                    }
                }
                {
                    rtl::TCriticalSectionLock g(addEventLock);
                    Drop(msg);
                    cache[head] = nullptr;
                    cacheHead.store((head + 1) % CacheSize);
                }
            }
            busy.store(false);
        }
        std::lock_guard<std::mutex> g(doneLock);
        done = true;
        doneCv.notify_all();
    }
};

TSocketMonitor::TSocketMonitor() : state_(std::make_shared<TState>()) {}

TSocketMonitor::~TSocketMonitor() {
    auto s = state_;
    s->terminated.store(true);
    s->newMesEvent.SetEvent();
    if (!s->sendThread.joinable()) return;
    auto finished = [&](uint32_t ms) {
        std::unique_lock<std::mutex> g(s->doneLock);
        return s->doneCv.wait_for(g, std::chrono::milliseconds(ms), [&] { return s->done; });
    };
    int sendTimeout;
    {
        std::lock_guard<std::mutex> g(s->settingsLock);
        sendTimeout = s->sendTimeout;
    }
    // What is queued goes out first, within a bound; then the rest is given up and a send that
    // still waits for a stalled monitor program is broken off.
    bool ended = finished(static_cast<uint32_t>(std::max(2000, 2 * sendTimeout)));
    if (!ended) {
        s->abandon.store(true);
        {
            std::lock_guard<std::mutex> g(s->packerLock);
            if (s->packer) s->packer->Abort();
        }
        ended = finished(static_cast<uint32_t>(std::max(1000, sendTimeout + 500)));
    }
    if (ended)
        s->sendThread.join();
    else
        s->sendThread.detach();  // it holds the shared state and ends by itself
}

void TSocketMonitor::SetCaption(const WideString& value) {
    std::lock_guard<std::mutex> g(state_->settingsLock);
    state_->caption = value;
}

void TSocketMonitor::SetHost(const AnsiString& value) {
    std::lock_guard<std::mutex> g(state_->settingsLock);
    state_->host = value;
}

void TSocketMonitor::SetPort(int value) {
    std::lock_guard<std::mutex> g(state_->settingsLock);
    state_->port = value;
}

void TSocketMonitor::SetReconnectTimeout(int value) {
    std::lock_guard<std::mutex> g(state_->settingsLock);
    state_->reconnectTimeout = value;
}

void TSocketMonitor::SetSendTimeout(int value) {
    std::lock_guard<std::mutex> g(state_->settingsLock);
    state_->sendTimeout = value;
}

void TSocketMonitor::Queue(TMonitorMessage* msg) {
    auto& s = *state_;
    rtl::TCriticalSectionLock g(s.addEventLock);
    const int tail = s.cacheTail.load();
    const int next = (tail + 1) % CacheSize;
    if (next == s.cacheHead.load()) {
        // Full: the message is dropped; the start-up message stays, it is the monitor's own.
        s.Drop(msg);
        return;
    }
    s.cache[tail] = msg;
    s.cacheTail.store(next);
    s.newMesEvent.SetEvent();
    if (!s.sendThread.joinable() && !s.terminated.load()) {
        auto keep = state_;
        s.sendThread = std::thread([keep] { keep->Execute(); });
    }
}

void TSocketMonitor::SendStartup() {
    auto& s = *state_;
    {
        rtl::TCriticalSectionLock g(s.addEventLock);
        if (!s.startupMessage) {
            auto m = std::make_unique<TStartupMessage>();
            m->ProcessId = static_cast<int32_t>(rtl::GetCurrentProcessId());
            m->EventType = etStartup;
            std::lock_guard<std::mutex> g2(s.settingsLock);
            m->Description =
                rtl::AnsiToWide(rtl::Format("%s monitoring is started", {rtl::WideToAnsi(s.caption)}));
            std::string exe = rtl::ParamStr(0);
            if (exe.empty()) exe = rtl::ApplicationExeName();
            m->ExeName = rtl::AnsiToWide(exe);
            s.startupMessage = std::move(m);
        }
    }
    Queue(s.startupMessage.get());
}

void TSocketMonitor::SendFinished() {
    auto m = std::make_unique<TEventMessage>();
    m->ProcessId = static_cast<int32_t>(rtl::GetCurrentProcessId());
    m->EventType = etFinished;
    {
        std::lock_guard<std::mutex> g(state_->settingsLock);
        m->Description =
            rtl::AnsiToWide(rtl::Format("%s monitoring is finished", {rtl::WideToAnsi(state_->caption)}));
    }
    Queue(m.release());
}

void TSocketMonitor::SendEventStart(TMonitorEvent& event) {
    event.EventID = ++state_->lastEventID;
    Queue(MakeEventStartMessage(event, rtl::GetTickCount()).release());
}

void TSocketMonitor::SendEventEnd(const TMonitorEvent& event) {
    const int32_t id = event.EventID != 0 ? event.EventID : state_->lastEventID.load();
    Queue(MakeEventEndMessage(event, id, rtl::GetTickCount()).release());
}

int32_t TSocketMonitor::LastEventID() const {
    return state_->lastEventID.load();
}

int TSocketMonitor::QueuedCount() const {
    const int n = state_->cacheTail.load() - state_->cacheHead.load();
    return n < 0 ? n + CacheSize : n;
}

int TSocketMonitor::ConnectAttempts() const {
    std::lock_guard<std::mutex> g(state_->packerLock);
    return state_->packer ? state_->packer->ConnectAttempts() : 0;
}

bool TSocketMonitor::WaitIdle(uint32_t timeoutMs) {
    const uint32_t start = rtl::GetTickCount();
    while (QueuedCount() > 0 || state_->busy.load()) {
        if (rtl::GetTickCount() - start >= timeoutMs) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

TSocketMonitor& GetSocketMonitor() {
    static TSocketMonitor monitor;
    return monitor;
}

}  // namespace dac
