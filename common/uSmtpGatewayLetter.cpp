// Letters and their MIME form.
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/uSmtpGateway.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Files.h"
#include "platform/rtl/Format.h"

namespace svc {

namespace {

std::string RandomHex(std::size_t bytes) {
    std::vector<unsigned char> raw(bytes);
    if (RAND_bytes(raw.data(), static_cast<int>(raw.size())) != 1)
        throw rtl::Exception("No random numbers for the letter");
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char b : raw) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

std::string Base64(const unsigned char* data, std::size_t size) {
    std::string out(4 * ((size + 2) / 3) + 1, '\0');
    int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), data, static_cast<int>(size));
    out.resize(static_cast<std::size_t>(n));
    return out;
}

std::string Base64(const std::string& text) {
    return Base64(reinterpret_cast<const unsigned char*>(text.data()), text.size());
}

bool IsPlainAscii(const std::string& text) {
    for (unsigned char c : text)
        if (c >= 0x80 || c == 0) return false;
    return true;
}

// A header value on one line: line breaks inside a value would start new headers.
std::string OneLine(std::string value) {
    for (char& c : value)
        if (c == '\r' || c == '\n') c = ' ';
    return value;
}

// RFC 2047 encoded words in windows-1251, folded between words.
std::string EncodedWords(const std::string& text) {
    constexpr std::size_t chunk = 36;  // 48 base64 characters: each word stays under 70
    std::string out;
    for (std::size_t pos = 0; pos < text.size(); pos += chunk) {
        if (!out.empty()) out += "\r\n ";
        out += "=?windows-1251?B?" + Base64(text.substr(pos, chunk)) + "?=";
    }
    return out;
}

// A text header value: ASCII goes as it is and is never folded (the signed subject must
// arrive byte for byte); other text is encoded.
std::string HeaderText(const std::string& value) {
    std::string line = OneLine(value);
    return IsPlainAscii(line) ? line : EncodedWords(line);
}

std::string QuotedParameter(const std::string& value) {
    std::string line = OneLine(value);
    if (!IsPlainAscii(line)) return "\"" + EncodedWords(line) + "\"";
    std::string out = "\"";
    for (char c : line) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

std::string FromHeader(const TLetter& letter) {
    std::string from = OneLine(letter.From());
    if (letter.FromName().empty() || letter.FromName() == letter.From()) return from;
    std::string name = OneLine(letter.FromName());
    std::string address = "<" + SmtpAddress(from) + ">";
    if (!IsPlainAscii(name)) return EncodedWords(name) + " " + address;
    return QuotedParameter(name) + " " + address;
}

std::string DateHeader(std::time_t when) {
    static const char* const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::tm t{};
    localtime_r(&when, &t);
    long offset = t.tm_gmtoff / 60;
    char sign = offset < 0 ? '-' : '+';
    if (offset < 0) offset = -offset;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%s, %02d %s %04d %02d:%02d:%02d %c%02ld%02ld", days[t.tm_wday % 7],
                  t.tm_mday, months[t.tm_mon % 12], t.tm_year + 1900, t.tm_hour, t.tm_min, t.tm_sec, sign,
                  offset / 60, offset % 60);
    return buf;
}

std::string HostName() {
    char buf[256] = {};
    std::string host;
    if (::gethostname(buf, sizeof buf - 1) == 0) {
        for (const char* p = buf; *p; ++p) {
            char c = *p;
            if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                c == '.')
                host += c;
        }
    }
    return host.empty() ? "localhost" : host;
}

// Text lines that need no encoding: ASCII without NUL, CR or LF, and within the SMTP limit.
bool IsSevenBit(const std::vector<rtl::AnsiString>& lines) {
    for (const auto& line : lines) {
        if (line.size() > 998) return false;
        for (unsigned char c : line)
            if (c >= 0x80 || c == 0 || c == '\r' || c == '\n') return false;
    }
    return true;
}

// Quoted-printable with soft breaks so that no encoded line exceeds 76 characters.
std::string QuotedPrintableLine(const std::string& line) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    std::size_t column = 0;
    for (std::size_t i = 0; i < line.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(line[i]);
        bool last = i + 1 == line.size();
        std::string piece;
        if ((c >= 33 && c <= 126 && c != '=') || ((c == ' ' || c == '\t') && !last)) {
            piece.assign(1, static_cast<char>(c));
        } else {
            piece = {'=', digits[c >> 4], digits[c & 15]};
        }
        if (column + piece.size() > 75) {
            out += "=\r\n";
            column = 0;
        }
        out += piece;
        column += piece.size();
    }
    return out;
}

}  // namespace

// ---- TLetter --------------------------------------------------------------------------------

TLetter::TLetter() = default;
TLetter::~TLetter() = default;

void TLetter::AddAttachment(const std::string& path) {
    if (rtl::FileExists(path))
        attachments_.push_back(path);
    else
        Log("File " + path + " does not exist");
}

void TLetter::Log(const std::string& text) const {
    if (onLog_) onLog_(text, true);
}

void TLetter::ReportError() {
    Log(rtl::Format(errorFormat_, {errorMessage_}));
}

void TLetter::ReportSuccess() {
    Log(rtl::Format(successFormat_, {recipient_}));
}

// ---- Addresses -----------------------------------------------------------------------------

std::string SmtpAddress(const std::string& text) {
    std::size_t open = text.rfind('<');
    if (open != std::string::npos) {
        std::size_t close = text.find('>', open);
        if (close != std::string::npos) return text.substr(open + 1, close - open - 1);
    }
    std::size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return std::string();
    std::size_t last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

// ---- TMailComposer -------------------------------------------------------------------------

TMailComposer::TMailComposer(const TLetter& letter, std::time_t date) {
    boundary_ = "=_" + RandomHex(16);
    std::string head;
    head += "From: " + FromHeader(letter) + "\r\n";
    head += "To: " + OneLine(letter.Recipient()) + "\r\n";
    head += "Subject: " + HeaderText(letter.Subject()) + "\r\n";
    head += "Date: " + DateHeader(date ? date : std::time(nullptr)) + "\r\n";
    head += "Message-ID: <" + RandomHex(16) + "@" + HostName() + ">\r\n";
    head += "MIME-Version: 1.0\r\n";
    head += "Content-Type: multipart/mixed; boundary=\"" + boundary_ + "\"\r\n";
    head += "\r\n";
    head += "--" + boundary_ + "\r\n";
    head += "Content-Type: text/plain; charset=\"windows-1251\"\r\n";
    bool plain = IsSevenBit(letter.Body());
    head += std::string("Content-Transfer-Encoding: ") + (plain ? "7bit" : "quoted-printable") + "\r\n\r\n";
    for (const auto& line : letter.Body()) head += (plain ? line : QuotedPrintableLine(line)) + "\r\n";
    for (const auto& path : letter.Attachments()) {
        std::string name = QuotedParameter(rtl::ExtractFileName(path));
        head += "\r\n--" + boundary_ + "\r\n";
        head += "Content-Type: application/octet-stream; name=" + name + "\r\n";
        head += "Content-Transfer-Encoding: base64\r\n";
        head += "Content-Disposition: attachment; filename=" + name + "\r\n\r\n";
        segments_.push_back({std::move(head), path});
        head.clear();
    }
    head += "\r\n--" + boundary_ + "--\r\n";
    segments_.push_back({std::move(head), std::string()});
}

TMailComposer::~TMailComposer() {
    for (std::FILE* f : opened_)
        if (f) std::fclose(f);
}

void TMailComposer::Open() {
    if (open_) return;
    for (const auto& segment : segments_) {
        if (segment.path.empty()) continue;
        std::FILE* f = std::fopen(rtl::SysFileName(segment.path).c_str(), "rb");
        if (!f) {
            int error = errno;
            throw rtl::EFOpenError("Cannot open file \"" + segment.path + "\". " +
                                   rtl::SysErrorMessage(error));
        }
        opened_.push_back(f);
    }
    open_ = true;
}

// Moves the next piece of the message into pending_; false at the end.
bool TMailComposer::Refill() {
    pending_.clear();
    pendingPos_ = 0;
    if (file_) {
        // 57 bytes make one 76-character base64 line.
        unsigned char raw[57 * 64];
        std::size_t n = std::fread(raw, 1, sizeof raw, file_);
        if (n < sizeof raw && std::ferror(file_))
            throw rtl::EReadError("Cannot read file \"" + filePath_ + "\"");
        for (std::size_t pos = 0; pos < n; pos += 57) {
            if (!pending_.empty()) pending_ += "\r\n";
            pending_ += Base64(raw + pos, std::min<std::size_t>(57, n - pos));
        }
        if (n < sizeof raw) file_ = nullptr;  // end of this attachment
        // The line end between two reads: added before the next line, not after the last.
        if (n == sizeof raw) pending_ += "\r\n";
        if (!pending_.empty()) return true;
    }
    if (next_ >= segments_.size()) return false;
    Segment& segment = segments_[next_];
    pending_ = std::move(segment.text);
    if (!segment.path.empty()) {
        std::size_t index = 0;
        for (std::size_t i = 0; i < next_; ++i)
            if (!segments_[i].path.empty()) ++index;
        file_ = opened_[index];
        filePath_ = segment.path;
    }
    ++next_;
    return true;
}

std::size_t TMailComposer::Read(char* buffer, std::size_t size) {
    if (!open_) Open();
    std::size_t done = 0;
    while (done < size) {
        if (pendingPos_ >= pending_.size() && !Refill()) break;
        std::size_t n = std::min(size - done, pending_.size() - pendingPos_);
        std::memcpy(buffer + done, pending_.data() + pendingPos_, n);
        pendingPos_ += n;
        done += n;
    }
    return done;
}

std::string TMailComposer::ReadAll() {
    std::string out;
    char buf[4096];
    while (std::size_t n = Read(buf, sizeof buf)) out.append(buf, n);
    return out;
}

}  // namespace svc
