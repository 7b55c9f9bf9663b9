// Shared libcurl settings of the mail clients.
#include "common/uCurlMail.h"

#include <mutex>

namespace svc {

namespace {

std::once_flag curlInit;

}  // namespace

CURL* NewMailCurlHandle() {
    std::call_once(curlInit, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    return curl_easy_init();
}

void SetMailCurlOptions(CURL* curl, const char* protocols, bool verifyPeer, char* errorBuffer,
                        long timeoutSeconds) {
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, protocols);
    curl_easy_setopt(curl, CURLOPT_PROXY, "");
    curl_easy_setopt(curl, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_NONE));
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, verifyPeer ? 1L : 0L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, verifyPeer ? 2L : 0L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, timeoutSeconds);
    curl_easy_setopt(curl, CURLOPT_SERVER_RESPONSE_TIMEOUT, timeoutSeconds);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, timeoutSeconds);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorBuffer);
}

std::string UrlHost(const std::string& host) {
    return host.find(':') != std::string::npos && host.front() != '[' ? "[" + host + "]" : host;
}

}  // namespace svc
