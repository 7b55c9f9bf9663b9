// The gateway's POP3 client over libcurl. One easy handle per mail check: libcurl keeps the
// connection between requests and sends QUIT when the handle is cleaned up, which is the moment
// the server removes the deleted letters.
#include <poll.h>
#include <sys/socket.h>

#include <cstdlib>

#include "common/uCurlMail.h"
#include "import_service/uPop3Gateway.h"
#include "platform/rtl/Exceptions.h"

namespace svc {

namespace {

// A letter larger than this is refused instead of filling the memory.
constexpr std::size_t kMaxLetterSize = std::size_t(256) << 20;

class TCurlPop3Client : public TPop3Client {
public:
    TCurlPop3Client(const std::string& host, int port, const std::string& userName,
                    const std::string& password, bool useTls)
        : userName_(userName), password_(password) {
        baseUrl_ =
            std::string(useTls ? "pop3s://" : "pop3://") + UrlHost(host) + ":" + std::to_string(port) + "/";
    }

    ~TCurlPop3Client() override { Disconnect(); }

    void Connect() override { Perform("", "NOOP", false); }

    std::vector<std::pair<int, std::string>> UniqueIds() override {
        const std::string listing = Perform("", "UIDL", true);
        std::vector<std::pair<int, std::string>> ids;
        std::size_t pos = 0;
        while (pos < listing.size()) {
            std::size_t end = listing.find('\n', pos);
            if (end == std::string::npos) end = listing.size();
            const std::string line = listing.substr(pos, end - pos);
            pos = end + 1;
            const int number = std::atoi(Word(line, 0).c_str());
            const std::string id = Word(line, 1);
            if (number > 0 && !id.empty()) ids.emplace_back(number, id);
        }
        return ids;
    }

    std::string Retrieve(int number) override { return Numbered(number, "", true); }

    void Delete(int number) override { Numbered(number, "DELE", false); }

    void Disconnect() override {
        if (curl_) curl_easy_cleanup(curl_);
        curl_ = nullptr;
        open_ = false;
    }

    bool Connected() override {
        if (!curl_ || !open_) return false;
        curl_socket_t socket = CURL_SOCKET_BAD;
        if (curl_easy_getinfo(curl_, CURLINFO_ACTIVESOCKET, &socket) != CURLE_OK || socket == CURL_SOCKET_BAD)
            return false;
        // A server that closed the connection leaves it readable with nothing to read.
        pollfd look{socket, POLLIN, 0};
        if (::poll(&look, 1, 0) <= 0) return true;
        if (look.revents & (POLLERR | POLLHUP | POLLNVAL)) return false;
        char byte;
        return ::recv(socket, &byte, 1, MSG_PEEK | MSG_DONTWAIT) != 0;
    }

    int ConnectionCount() const override { return connections_; }

private:
    // The blank-separated word at index (0-based) of a reply line, without its line end.
    static std::string Word(const std::string& line, int index) {
        std::size_t pos = 0;
        for (int i = 0;; ++i) {
            pos = line.find_first_not_of(" \t\r\n", pos);
            if (pos == std::string::npos) return std::string();
            const std::size_t end = line.find_first_of(" \t\r\n", pos);
            if (i == index) return line.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
            if (end == std::string::npos) return std::string();
            pos = end;
        }
    }

    void Open() {
        if (curl_) return;
        curl_ = NewMailCurlHandle();
        if (!curl_) throw EPop3Error("Cannot create the POP3 client");
        // Mail servers are reached with self-made certificates.
        SetMailCurlOptions(curl_, "pop3,pop3s", false, error_);
        curl_easy_setopt(curl_, CURLOPT_USERNAME, userName_.c_str());
        curl_easy_setopt(curl_, CURLOPT_PASSWORD, password_.c_str());
        curl_easy_setopt(curl_, CURLOPT_HEADERFUNCTION, &TCurlPop3Client::Reply);
        curl_easy_setopt(curl_, CURLOPT_HEADERDATA, this);
        curl_easy_setopt(curl_, CURLOPT_WRITEFUNCTION, &TCurlPop3Client::Body);
        curl_easy_setopt(curl_, CURLOPT_WRITEDATA, this);
    }

    // One request: command "" with a message number is RETR, "" without one LIST; withBody
    // collects the multi-line answer.
    std::string Perform(const std::string& number, const std::string& command, bool withBody) {
        Open();
        const std::string url = baseUrl_ + number;
        curl_easy_setopt(curl_, CURLOPT_URL, url.c_str());
        curl_easy_setopt(curl_, CURLOPT_CUSTOMREQUEST, command.empty() ? nullptr : command.c_str());
        curl_easy_setopt(curl_, CURLOPT_NOBODY, withBody ? 0L : 1L);
        body_.clear();
        lastReply_.clear();
        errorReply_.clear();
        tooLarge_ = false;
        error_[0] = '\0';
        const CURLcode rc = curl_easy_perform(curl_);
        long connects = 0;
        curl_easy_getinfo(curl_, CURLINFO_NUM_CONNECTS, &connects);
        connections_ += static_cast<int>(connects);
        lastConnects_ = static_cast<int>(connects);
        // libcurl ends the connection after any failure.
        open_ = rc == CURLE_OK;
        if (rc != CURLE_OK) throw EPop3Error(FailureText(rc));
        std::string result;
        result.swap(body_);
        return result;
    }

    // A request on a letter number, which means something only on the connection it came from.
    std::string Numbered(int number, const std::string& command, bool withBody) {
        if (!Connected()) throw EPop3Error("The connection to the mail server has ended");
        std::string result = Perform(std::to_string(number), command, withBody);
        if (lastConnects_ > 0) {
            // The connection ended just before the request and libcurl opened another: the
            // number may name another letter there. Nothing else is marked on the new
            // connection, so RSET undoes a deletion.
            if (command == "DELE") Perform("", "RSET", false);
            throw EPop3Error("The connection to the mail server was renewed during the request");
        }
        return result;
    }

    std::string FailureText(CURLcode rc) const {
        if (tooLarge_) return "The letter is larger than " + std::to_string(kMaxLetterSize >> 20) + " MB";
        if (!errorReply_.empty()) return errorReply_;
        return error_[0] ? std::string(error_) : std::string(curl_easy_strerror(rc));
    }

    static size_t Reply(char* data, size_t size, size_t count, void* self) {
        auto* client = static_cast<TCurlPop3Client*>(self);
        std::string line(data, size * count);
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
        // libcurl may close the connection after a refusal, so the refusal need not be the
        // last reply of the request.
        if (client->errorReply_.empty() && line.rfind("-ERR", 0) == 0) client->errorReply_ = line;
        client->lastReply_ = std::move(line);
        return size * count;
    }

    static size_t Body(char* data, size_t size, size_t count, void* self) {
        auto* client = static_cast<TCurlPop3Client*>(self);
        const size_t n = size * count;
        if (client->body_.size() + n > kMaxLetterSize) {
            client->tooLarge_ = true;
            return 0;
        }
        client->body_.append(data, n);
        return n;
    }

    std::string baseUrl_;
    std::string userName_;
    std::string password_;
    CURL* curl_ = nullptr;
    char error_[CURL_ERROR_SIZE] = {};
    std::string body_;
    std::string lastReply_;
    std::string errorReply_;
    bool tooLarge_ = false;
    bool open_ = false;
    int connections_ = 0;
    int lastConnects_ = 0;
};

}  // namespace

std::unique_ptr<TPop3Client> NewCurlPop3Client(const std::string& host, int port, const std::string& userName,
                                               const std::string& password, bool useTls) {
    return std::make_unique<TCurlPop3Client>(host, port, userName, password, useTls);
}

}  // namespace svc
