#include "streaming/RTSPAuthentication.h"

#include <vector>

#include "runtime/Sha256.h"
#include "runtime/TextUtils.h"
#include "streaming/RTSPResponseParser.h"

namespace zentavo {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string BaseAlgorithm(const DIGEST_CHALLENGE& c) {
    const std::string a = ToLower(Trim(c.algorithm));
    const size_t sess = a.rfind("-sess");
    return sess != std::string::npos && sess + 5 == a.size() ? a.substr(0, sess) : a;
}

bool IsSess(const DIGEST_CHALLENGE& c) {
    const std::string a = ToLower(Trim(c.algorithm));
    return a.size() > 5 && a.compare(a.size() - 5, 5, "-sess") == 0;
}

std::string Hash(const DIGEST_CHALLENGE& c, const std::string& text) {
    return BaseAlgorithm(c) == "sha-256" ? Sha256Hex(text) : Md5Hex(text);
}

const char* AnsweredQop(const DIGEST_CHALLENGE& c) {
    if (c.qopAuth) return "auth";
    if (c.qopAuthInt) return "auth-int";
    return nullptr;
}

// Escapes for a quoted-string; false when the value holds CR or LF, which
// no escaping makes safe inside one header line.
bool Quote(const std::string& value, std::string& out) {
    out.clear();
    for (char c : value) {
        if (c == '\r' || c == '\n') return false;
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return true;
}

// One element of a challenge list: name=value, or a bare token. A bare
// token followed by a blank and a parameter (or by nothing) names a scheme
// (RFC 7235: the scheme is set off by a space, list elements by commas).
struct AUTH_TOKEN {
    std::string name;  // lower case
    std::string value;
    bool bare = false;
    bool scheme = false;
};

std::vector<AUTH_TOKEN> Tokenize(const std::string& text) {
    std::vector<AUTH_TOKEN> tokens;
    size_t i = 0;
    const size_t n = text.size();
    while (i < n) {
        while (i < n && (IsBlank(text[i]) || text[i] == ',')) ++i;
        if (i >= n) break;
        const size_t nameStart = i;
        while (i < n && text[i] != '=' && text[i] != ',' && !IsBlank(text[i])) ++i;
        AUTH_TOKEN token;
        token.name = ToLower(text.substr(nameStart, i - nameStart));
        while (i < n && IsBlank(text[i])) ++i;
        if (i >= n || text[i] != '=') {
            token.bare = true;
            token.scheme = !token.name.empty() && (i >= n || text[i] != ',');
            if (token.name.empty() && i < n) ++i;  // a stray character: step over it
            tokens.push_back(token);
            continue;
        }
        ++i;
        while (i < n && IsBlank(text[i])) ++i;
        if (i < n && text[i] == '"') {
            ++i;
            while (i < n && text[i] != '"') {
                if (text[i] == '\\' && i + 1 < n) ++i;
                token.value += text[i++];
            }
            if (i < n) ++i;  // closing quote
        } else {
            const size_t valueStart = i;
            while (i < n && text[i] != ',' && !IsBlank(text[i])) ++i;
            token.value = text.substr(valueStart, i - valueStart);
        }
        tokens.push_back(token);
    }
    return tokens;
}

void AddQop(DIGEST_CHALLENGE& c, const std::string& options) {
    for (const std::string& piece : Split(options, ',')) {
        const std::string option = ToLower(Trim(piece));
        if (option == "auth") c.qopAuth = true;
        if (option == "auth-int") c.qopAuthInt = true;
    }
}

// Applies one token to a challenge. previous is the name of the parameter
// before it: an unquoted qop list ("qop=auth,auth-int") arrives as a
// parameter and bare tokens.
void Apply(DIGEST_CHALLENGE& c, const AUTH_TOKEN& token, const std::string& previous) {
    if (token.bare) {
        if (previous == "qop") AddQop(c, token.name);
        return;
    }
    if (token.name == "realm") {
        c.realm = token.value;
    } else if (token.name == "nonce") {
        c.nonce = token.value;
    } else if (token.name == "opaque") {
        c.opaque = token.value;
    } else if (token.name == "algorithm") {
        c.algorithm = Trim(token.value);
    } else if (token.name == "stale") {
        c.stale = ToLower(Trim(token.value)) == "true";
    } else if (token.name == "qop") {
        AddQop(c, token.value);
    }
}

bool Usable(const DIGEST_CHALLENGE& c) { return !c.realm.empty() && !c.nonce.empty() && DigestStrength(c) > 0; }

void Offer(AUTH_CHALLENGES& out, const std::string& scheme, const DIGEST_CHALLENGE& digest,
           const std::string& realm) {
    if (scheme == "basic") {
        out.basicOffered = true;
        out.basicRealm = realm;
    } else if (scheme == "digest") {
        out.digestOffered = true;
        if (Usable(digest) && (!out.digestUsable || DigestStrength(digest) >= DigestStrength(out.digest))) {
            out.digest = digest;
            out.digestUsable = true;
        }
    }
}

void ReadChallengeLine(const std::string& value, AUTH_CHALLENGES& out) {
    std::string scheme;
    DIGEST_CHALLENGE current;
    std::string previous;
    for (const AUTH_TOKEN& token : Tokenize(value)) {
        const bool qopOption = token.bare && previous == "qop" && (token.name == "auth" || token.name == "auth-int");
        if (token.scheme && !qopOption) {
            if (!scheme.empty()) Offer(out, scheme, current, current.realm);
            scheme = token.name;
            current = DIGEST_CHALLENGE();
            previous.clear();
            continue;
        }
        if (scheme.empty()) continue;
        Apply(current, token, previous);
        if (!token.bare) previous = token.name;
    }
    if (!scheme.empty()) Offer(out, scheme, current, current.realm);
}

}  // namespace

int DigestStrength(const DIGEST_CHALLENGE& challenge) {
    const std::string base = BaseAlgorithm(challenge);
    if (base.empty() || base == "md5") return 1;
    if (base == "sha-256") return 2;
    return 0;
}

bool ParseDigestParams(const std::string& params, DIGEST_CHALLENGE& out) {
    DIGEST_CHALLENGE c;
    std::string previous;
    for (const AUTH_TOKEN& token : Tokenize(params)) {
        Apply(c, token, previous);
        if (!token.bare) previous = token.name;
    }
    if (c.nonce.empty()) return false;
    out = c;
    return true;
}

void FindChallenges(const std::string& reply, AUTH_CHALLENGES& out) {
    out = AUTH_CHALLENGES();
    size_t pos = 0;
    while (pos < reply.size()) {
        size_t end = reply.find_first_of("\r\n", pos);
        if (end == std::string::npos) end = reply.size();
        const std::string line = reply.substr(pos, end - pos);
        if (line.empty() && pos > 0) break;  // end of the head
        pos = end + 1;
        if (pos < reply.size() && reply[end] == '\r' && reply[pos] == '\n') ++pos;
        const size_t colon = line.find(':');
        if (colon == std::string::npos || ToLower(Trim(line.substr(0, colon))) != "www-authenticate") continue;
        ReadChallengeLine(line.substr(colon + 1), out);
    }
}

bool FindDigestChallenge(const std::string& reply, DIGEST_CHALLENGE& out) {
    AUTH_CHALLENGES found;
    FindChallenges(reply, found);
    if (!found.digestUsable) return false;
    out = found.digest;
    return true;
}

bool RetryAfterRefusal(int sentScheme, int offeredScheme, bool stale, bool newNonce, bool credentialsAccepted) {
    if (offeredScheme != RTSP_AUTH_DIGEST) return false;
    if (sentScheme != RTSP_AUTH_DIGEST) return true;
    return stale || (credentialsAccepted && newNonce);
}

std::string BasicAuthorizationLine(const std::string& user, const std::string& password) {
    const std::string plain = user + ":" + password;
    // Four characters per three bytes plus a CR LF per 76 characters.
    std::vector<char> encoded((plain.size() + 2) / 3 * 4 * 2 + 8);
    int capacity = static_cast<int>(encoded.size());
    if (!Base64Encode(reinterpret_cast<const uint8_t*>(plain.data()), static_cast<int>(plain.size()),
                      encoded.data(), capacity))
        return std::string();
    const std::string text = RemoveChars("\r\n", std::string(encoded.data(), static_cast<size_t>(capacity)));
    return "Authorization: Basic " + text + "\r\n";
}

std::string DigestResponse(const DIGEST_CHALLENGE& challenge, const DIGEST_CREDENTIALS& credentials) {
    if (DigestStrength(challenge) == 0) return std::string();
    const char* qop = AnsweredQop(challenge);
    const std::string nc = FormatString("%08x", credentials.nonceCount);
    std::string ha1 = Hash(challenge, credentials.user + ":" + challenge.realm + ":" + credentials.password);
    if (IsSess(challenge)) ha1 = Hash(challenge, ha1 + ":" + challenge.nonce + ":" + credentials.cnonce);
    std::string a2 = credentials.method + ":" + credentials.uri;
    if (qop != nullptr && std::string(qop) == "auth-int") a2 += ":" + Hash(challenge, std::string());
    const std::string ha2 = Hash(challenge, a2);
    if (qop == nullptr) return Hash(challenge, ha1 + ":" + challenge.nonce + ":" + ha2);
    return Hash(challenge, ha1 + ":" + challenge.nonce + ":" + nc + ":" + credentials.cnonce + ":" + qop + ":" + ha2);
}

std::string DigestAuthorizationLine(const DIGEST_CHALLENGE& challenge, const DIGEST_CREDENTIALS& credentials) {
    if (challenge.realm.empty() || challenge.nonce.empty() || credentials.user.empty() ||
        credentials.password.empty() || credentials.uri.empty() || DigestStrength(challenge) == 0)
        return std::string();
    const char* qop = AnsweredQop(challenge);
    if ((qop != nullptr || IsSess(challenge)) && credentials.cnonce.empty()) return std::string();
    std::string user, realm, nonce, uri, opaque, cnonce;
    if (!Quote(credentials.user, user) || !Quote(challenge.realm, realm) || !Quote(challenge.nonce, nonce) ||
        !Quote(credentials.uri, uri) || !Quote(challenge.opaque, opaque) || !Quote(credentials.cnonce, cnonce) ||
        challenge.algorithm.find_first_of("\r\n,\" \t") != std::string::npos)
        return std::string();
    std::string line = FormatString("Authorization: Digest username=\"%s\", realm=\"%s\", nonce=\"%s\", uri=\"%s\", "
                                    "response=\"%s\"",
                                    user.c_str(), realm.c_str(), nonce.c_str(), uri.c_str(),
                                    DigestResponse(challenge, credentials).c_str());
    if (!challenge.algorithm.empty()) line += ", algorithm=" + challenge.algorithm;
    if (!challenge.opaque.empty()) line += ", opaque=\"" + opaque + "\"";
    if (qop != nullptr)
        line += FormatString(", qop=%s, nc=%08x, cnonce=\"%s\"", qop, credentials.nonceCount, cnonce.c_str());
    else if (IsSess(challenge))
        line += ", cnonce=\"" + cnonce + "\"";
    return line + "\r\n";
}

}  // namespace zentavo
