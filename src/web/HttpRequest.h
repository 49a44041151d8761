// One HTTP request as the device components describe it to the sender.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Web {

using ByteArray = std::vector<uint8_t>;

enum HttpScheme : int32_t {
    HTTP_SCHEME_PLAIN = 0,
    HTTP_SCHEME_SECURE = 1,
};

// authHint bits, used until the device has named its own scheme.
enum HttpAuthHint : int32_t {
    AUTH_HINT_BASIC = 0,
    AUTH_HINT_NTLM = 0x1,
    AUTH_HINT_PASSPORT = 0x2,
    AUTH_HINT_DIGEST = 0x3,
    AUTH_HINT_NEGOTIATE = 0x4,
    AUTH_HINT_NO_CREDENTIALS = 5,
};

enum HttpRequestOption : uint8_t {
    HTTP_OPT_NO_QUERY_ESCAPE = 0x1,
    HTTP_OPT_IGNORE_CERT_ERRORS = 0x2,
    HTTP_OPT_NO_KEEP_ALIVE = 0x4,
    HTTP_OPT_NO_RESPONSE_WAIT = 0x8,
};

struct HTTP_REQUEST {
    std::string verb;
    std::string objectName;
    int32_t scheme = HTTP_SCHEME_PLAIN;
    int32_t authHint = AUTH_HINT_BASIC;
    ByteArray body;
    // Announced body length; when larger than body the owner writes the
    // rest itself and the response is not awaited.
    uint32_t totalLength = 0;
    std::vector<std::string> headers;  // complete "Name: value" lines
    uint8_t options = HTTP_OPT_NO_QUERY_ESCAPE | HTTP_OPT_NO_KEEP_ALIVE;

    HTTP_REQUEST() = default;
    HTTP_REQUEST(const std::string& v, const std::string& object)
        : verb(v), objectName(object) {}
};

}  // namespace Web
