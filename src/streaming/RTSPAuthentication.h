// Answers to RTSP authentication challenges: the Basic line, and the Digest
// line of RFC 2617 and RFC 7616 (MD5, SHA-256 and their -sess variants, with
// or without qop), plus the reading of every challenge of a reply head.
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

// How much a Digest challenge is worth answering: 0 for an algorithm this
// client cannot compute, 1 for MD5 (plain or -sess), 2 for SHA-256.
int DigestStrength(const DIGEST_CHALLENGE& challenge);

// Parameters of one challenge, the text after the word "Digest". Quoted
// values may hold commas and backslash escapes. False without a nonce.
bool ParseDigestParams(const std::string& params, DIGEST_CHALLENGE& out);

// Every challenge of the WWW-Authenticate lines of a reply head (the name
// in any case; one line may carry several challenges).
struct AUTH_CHALLENGES {
    bool basicOffered = false;
    std::string basicRealm;
    bool digestOffered = false;  // answerable or not
    bool digestUsable = false;   // a Digest challenge with realm and nonce that can be computed
    DIGEST_CHALLENGE digest;     // the strongest usable one; the last of equal strength
};
void FindChallenges(const std::string& reply, AUTH_CHALLENGES& out);
// The strongest usable Digest challenge of a reply head. False when there is
// none (out is then left alone).
bool FindDigestChallenge(const std::string& reply, DIGEST_CHALLENGE& out);

// Whether a 401 to a request that carried credentials is answered once
// more (schemes are RtspAuthScheme values). Many cameras lock an account
// after a few failures, so only where the refusal is not about the
// password: a Digest nonce marked stale, a fresh nonce once the credentials
// have been accepted in this session (a keep-alive minutes into a stream),
// or Digest offered after Basic was sent. Never Basic after Digest.
bool RetryAfterRefusal(int sentScheme, int offeredScheme, bool stale, bool newNonce, bool credentialsAccepted);

// "Authorization: Basic <base64 of user:password>" CR LF, whatever the
// length of the credentials.
std::string BasicAuthorizationLine(const std::string& user, const std::string& password);

struct DIGEST_CREDENTIALS {
    std::string user;
    std::string password;
    std::string method;  // request method name, e.g. "DESCRIBE"
    std::string uri;
    uint32_t nonceCount = 1;
    std::string cnonce;  // used only when a qop or a -sess algorithm is answered
};

// The response hash, in the challenge's algorithm. With a qop offered,
// "auth" is answered (or "auth-int" when that is all that is offered;
// requests carry no body, so the body hash is that of nothing); without
// one, the RFC 2069 form H(HA1:nonce:HA2). Empty for an algorithm that
// cannot be computed.
std::string DigestResponse(const DIGEST_CHALLENGE& challenge, const DIGEST_CREDENTIALS& credentials);
// The whole header line, CR LF ended; empty when realm, nonce, user,
// password or uri is empty, the algorithm cannot be computed, or a value
// could break the line.
std::string DigestAuthorizationLine(const DIGEST_CHALLENGE& challenge, const DIGEST_CREDENTIALS& credentials);

}  // namespace zentavo
