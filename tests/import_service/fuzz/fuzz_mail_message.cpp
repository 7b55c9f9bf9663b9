// Letters from the mailbox are outside input: the input is read as a whole letter and as the
// header parameters and body of an attachment part. Reading must not fail other than with
// EPop3Error, and no file name it yields may be taken as a path.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "import_service/uPop3Gateway.h"

using namespace svc;

namespace {

void CheckNames(const TMailMessage& message) {
    for (const auto& attachment : message.Attachments()) {
        std::string safe, reason;
        if (!AttachmentFileName(attachment.FileName, safe, reason)) continue;
        if (safe.empty() || safe == "." || safe == ".." || safe.find_first_of("/\\") != std::string::npos)
            std::abort();
        for (unsigned char c : safe)
            if (c < 0x20 || c == 0x7F) std::abort();
    }
}

void Read(const std::string& raw) {
    TMailMessage message;
    try {
        message.Parse(raw);
    } catch (const EPop3Error&) {
        return;
    }
    CheckNames(message);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    Read(input);
    const std::size_t split = input.find('\n');
    const std::string params = input.substr(0, split);
    const std::string body = split == std::string::npos ? std::string() : input.substr(split + 1);
    for (const char* encoding : {"base64", "quoted-printable"})
        Read(
            "From: a@b\r\nSubject: s\r\nMIME-Version: 1.0\r\nContent-Type: multipart/mixed; "
            "boundary=b\r\n\r\n"
            "--b\r\nContent-Type: application/octet-stream; " +
            params + "\r\nContent-Transfer-Encoding: " + encoding + "\r\nContent-Disposition: attachment; " +
            params + "\r\n\r\n" + body + "\r\n--b--\r\n");
    return 0;
}
