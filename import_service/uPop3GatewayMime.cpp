// Reading a retrieved letter with GMime, and the safe file names of its attachments.
#include <gmime/gmime.h>

#include <mutex>

#include "import_service/uPop3Gateway.h"
#include "platform/rtl/Strings.h"

namespace svc {

namespace {

std::once_flag gmimeInit;

// Owns one GObject reference.
struct TUnref {
    void operator()(gpointer object) const {
        if (object) g_object_unref(object);
    }
};
template <class T>
using TGObject = std::unique_ptr<T, TUnref>;

struct TOptionsFree {
    void operator()(GMimeParserOptions* options) const { g_mime_parser_options_free(options); }
};

std::string Text(const char* utf8) {
    return utf8 ? rtl::Utf8ToAnsi(utf8) : std::string();
}

// The decoded bytes of a part's content, or of a whole attached letter.
std::string ContentOf(GMimeObject* object) {
    TGObject<GMimeStream> memory(g_mime_stream_mem_new());
    if (GMIME_IS_PART(object)) {
        GMimeDataWrapper* content = g_mime_part_get_content(GMIME_PART(object));
        if (content && g_mime_data_wrapper_write_to_stream(content, memory.get()) < 0)
            throw EPop3Error("The attachment cannot be decoded");
    } else if (GMIME_IS_MESSAGE_PART(object)) {
        GMimeMessage* inner = g_mime_message_part_get_message(GMIME_MESSAGE_PART(object));
        if (inner && g_mime_object_write_to_stream(GMIME_OBJECT(inner), nullptr, memory.get()) < 0)
            throw EPop3Error("The attached letter cannot be written");
    }
    GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(memory.get()));
    return std::string(reinterpret_cast<const char*>(bytes->data), bytes->len);
}

bool IsAttachment(GMimeObject* object, const char*& fileName) {
    fileName = nullptr;
    if (GMIME_IS_PART(object)) {
        fileName = g_mime_part_get_filename(GMIME_PART(object));
        return fileName || g_mime_part_is_attachment(GMIME_PART(object));
    }
    const char* disposition = g_mime_object_get_disposition(object);
    fileName = g_mime_object_get_content_disposition_parameter(object, "filename");
    if (!fileName) fileName = g_mime_object_get_content_type_parameter(object, "name");
    return fileName || (disposition && g_ascii_strcasecmp(disposition, GMIME_DISPOSITION_ATTACHMENT) == 0);
}

void Collect(GMimeObject* object, std::vector<TMailAttachment>& out) {
    if (!object) return;
    if (GMIME_IS_MULTIPART(object)) {
        GMimeMultipart* multipart = GMIME_MULTIPART(object);
        const int count = g_mime_multipart_get_count(multipart);
        for (int i = 0; i < count; ++i) Collect(g_mime_multipart_get_part(multipart, i), out);
        return;
    }
    const char* fileName = nullptr;
    if (!IsAttachment(object, fileName)) {
        // A forwarded letter that is not an attachment itself may carry the attachments.
        if (GMIME_IS_MESSAGE_PART(object)) {
            GMimeMessage* inner = g_mime_message_part_get_message(GMIME_MESSAGE_PART(object));
            if (inner) Collect(g_mime_message_get_mime_part(inner), out);
        }
        return;
    }
    out.push_back({fileName ? fileName : "", ContentOf(object)});
}

}  // namespace

void TMailMessage::Clear() {
    subject_.clear();
    fromAddress_.clear();
    fromName_.clear();
    attachments_.clear();
}

void TMailMessage::Parse(const std::string& raw) {
    Clear();
    std::call_once(gmimeInit, [] { g_mime_init(); });
    std::unique_ptr<GMimeParserOptions, TOptionsFree> options(g_mime_parser_options_new());
    const char* charsets[] = {"utf-8", "windows-1251", nullptr};
    g_mime_parser_options_set_fallback_charsets(options.get(), charsets);
    g_mime_parser_options_set_rfc2047_compliance_mode(options.get(), GMIME_RFC_COMPLIANCE_LOOSE);
    g_mime_parser_options_set_parameter_compliance_mode(options.get(), GMIME_RFC_COMPLIANCE_LOOSE);

    TGObject<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(raw.data(), raw.size()));
    TGObject<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
    TGObject<GMimeMessage> message(g_mime_parser_construct_message(parser.get(), options.get()));
    if (!message) throw EPop3Error("The letter is no MIME message");

    subject_ = Text(g_mime_message_get_subject(message.get()));
    InternetAddressList* from = g_mime_message_get_from(message.get());
    if (from && internet_address_list_length(from) > 0) {
        InternetAddress* address = internet_address_list_get_address(from, 0);
        fromName_ = Text(internet_address_get_name(address));
        if (INTERNET_ADDRESS_IS_MAILBOX(address))
            fromAddress_ = Text(internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(address)));
    }
    Collect(g_mime_message_get_mime_part(message.get()), attachments_);
}

// ---- attachment names

namespace {

// File names longer than this leave no room for the hidden temporary beside them.
constexpr std::size_t kMaxFileName = 200;

// True for valid UTF-8 without control characters (C0, DEL and C1).
bool PrintableUtf8(const std::string& s) {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const auto* end = p + s.size();
    while (p < end) {
        const unsigned c = *p;
        if (c < 0x20 || c == 0x7F) return false;
        if (c < 0x80) {
            ++p;
            continue;
        }
        int length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 0;
        if (length == 0 || c > 0xF4 || end - p < length) return false;
        unsigned code = c & (0x7F >> length);
        for (int i = 1; i < length; ++i) {
            if ((p[i] & 0xC0) != 0x80) return false;
            code = code << 6 | (p[i] & 0x3F);
        }
        const unsigned smallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (code < smallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
        if (code >= 0x80 && code <= 0x9F) return false;
        p += length;
    }
    return true;
}

}  // namespace

bool AttachmentFileName(const std::string& name, std::string& safeName, std::string& reason) {
    safeName.clear();
    const std::size_t slash = name.find_last_of("/\\");
    std::string base = slash == std::string::npos ? name : name.substr(slash + 1);
    if (base.empty() || base == "." || base == "..") {
        reason = "no file name";
    } else if (!PrintableUtf8(base)) {
        reason = "control characters or no UTF-8 text in the file name";
    } else if (base.size() > kMaxFileName) {
        reason = "file name too long";
    } else {
        safeName = std::move(base);
        reason.clear();
        return true;
    }
    return false;
}

}  // namespace svc
