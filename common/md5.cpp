// MD5 through OpenSSL's EVP digest, behind the context interface the callers use.
#include "common/md5.h"

#include <openssl/err.h>
#include <openssl/evp.h>

#include "platform/rtl/Exceptions.h"

namespace svc {

namespace {

[[noreturn]] void Raise(const char* what) {
    char detail[256] = "";
    ERR_error_string_n(ERR_get_error(), detail, sizeof detail);
    ERR_clear_error();
    throw rtl::Exception(std::string("MD5: ") + what + " (" + detail + ")");
}

EVP_MD_CTX* Running(MD5Context& context) {
    if (!context.Digest) throw rtl::Exception("MD5: the context is not initialised");
    return context.Digest.get();
}

}  // namespace

void MD5Context::TFree::operator()(evp_md_ctx_st* digest) const {
    EVP_MD_CTX_free(digest);  // wipes the state
}

void MD5Init(MD5Context& context) {
    context.Digest.reset(EVP_MD_CTX_new());
    if (!context.Digest) Raise("no memory for a digest");
    if (EVP_DigestInit_ex2(context.Digest.get(), EVP_md5(), nullptr) != 1) {
        context.Digest.reset();
        Raise("the digest is not available");
    }
}

void MD5Update(MD5Context& context, const void* data, size_t length) {
    if (length && EVP_DigestUpdate(Running(context), data, length) != 1) Raise("update failed");
}

void MD5Final(MD5Digest& digest, MD5Context& context) {
    unsigned int size = 0;
    const bool done =
        EVP_DigestFinal_ex(Running(context), digest.data(), &size) == 1 && size == digest.size();
    context.Digest.reset();
    if (!done) Raise("finishing failed");
}

MD5Digest MD5Buffer(const void* data, size_t length) {
    MD5Context context;
    MD5Init(context);
    MD5Update(context, data, length);
    MD5Digest digest;
    MD5Final(digest, context);
    return digest;
}

MD5Digest MD5String(const std::string& text) {
    return MD5Buffer(text.data(), text.size());
}

std::string MD5Print(const MD5Digest& digest) {
    static const char alphabet[] = "0123456789abcdef";
    std::string out;
    out.reserve(32);
    for (uint8_t b : digest) {
        out += alphabet[b >> 4];
        out += alphabet[b & 15];
    }
    return out;
}

}  // namespace svc
