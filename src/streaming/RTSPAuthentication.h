// Answers to RTSP authentication challenges: the Basic line, and the Digest
// line of RFC 2617 (MD5 and MD5-sess, with or without qop), plus the reading
// of a Digest challenge's parameters from a reply head.
#pragma once

#include <cstdint>
#include <string>

namespace zentavo {

struct DIGEST_CHALLENGE {
    std::string realm;
    std::string nonce;
    std::string opaque;
    std::string algorithm;  // as offered; empty when not named
    bool stale = false;
    bool qopAuth = false;     // "auth" among the offered qop values
    bool qopAuthInt = false;  // "auth-int" among them
};

// Parameters of one challenge, the text after the word "Digest". Quoted
// values may hold commas and backslash escapes. False without a nonce.
bool ParseDigestParams(const std::string& params, DIGEST_CHALLENGE& out);
// The last Digest challenge among the WWW-Authenticate lines of a reply
// head. False when there is none (out is then left alone).
bool FindDigestChallenge(const std::string& reply, DIGEST_CHALLENGE& out);

// "Authorization: Basic <base64 of user:password>" CR LF, whatever the
// length of the credentials.
std::string BasicAuthorizationLine(const std::string& user, const std::string& password);

struct DIGEST_CREDENTIALS {
    std::string user;
    std::string password;
    std::string method;  // request method name, e.g. "DESCRIBE"
    std::string uri;
    uint32_t nonceCount = 1;
    std::string cnonce;  // used only when a qop is answered
};

// The response hash. With a qop offered, "auth" is answered (or "auth-int"
// when that is all that is offered; requests carry no body); without one,
// the RFC 2069 form MD5(HA1:nonce:HA2).
std::string DigestResponse(const DIGEST_CHALLENGE& challenge, const DIGEST_CREDENTIALS& credentials);
// The whole header line, CR LF ended; empty when realm, nonce, user,
// password or uri is empty, or a value could break the line.
std::string DigestAuthorizationLine(const DIGEST_CHALLENGE& challenge, const DIGEST_CREDENTIALS& credentials);

}  // namespace zentavo
