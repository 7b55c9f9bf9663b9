// What the SMTP and POP3 clients set alike on their libcurl handles.
#pragma once

#include <curl/curl.h>

#include <string>

namespace svc {

// A new easy handle (null when none can be made); libcurl is initialised once per process.
CURL* NewMailCurlHandle();

// The mail servers' connection policy: only the given protocols; no proxy, whatever the
// environment names; TLS only where the URL's scheme asks for it (implicit TLS), with the peer's
// certificate checked only when asked; timeoutSeconds to connect and to wait for each reply, and a
// transfer that stalls that long fails; error texts into the buffer (CURL_ERROR_SIZE bytes).
inline constexpr long kMailTimeoutSeconds = 15;
void SetMailCurlOptions(CURL* curl, const char* protocols, bool verifyPeer, char* errorBuffer,
                        long timeoutSeconds = kMailTimeoutSeconds);

// The host as a URL names it: an IPv6 address in brackets.
std::string UrlHost(const std::string& host);

}  // namespace svc
