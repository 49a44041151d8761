#include "streaming/RTSPAuthentication.h"

#include <vector>

#include "runtime/TextUtils.h"

namespace zentavo {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool IsMd5Sess(const DIGEST_CHALLENGE& c) { return ToLower(c.algorithm) == "md5-sess"; }

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

}  // namespace

bool ParseDigestParams(const std::string& params, DIGEST_CHALLENGE& out) {
    DIGEST_CHALLENGE c;
    size_t i = 0;
    const size_t n = params.size();
    while (i < n) {
        while (i < n && (IsBlank(params[i]) || params[i] == ',')) ++i;
        const size_t nameStart = i;
        while (i < n && params[i] != '=' && params[i] != ',' && !IsBlank(params[i])) ++i;
        const std::string name = ToLower(params.substr(nameStart, i - nameStart));
        while (i < n && IsBlank(params[i])) ++i;
        if (i >= n || params[i] != '=') continue;  // a bare token: nothing to read
        ++i;
        while (i < n && IsBlank(params[i])) ++i;
        std::string value;
        if (i < n && params[i] == '"') {
            ++i;
            while (i < n && params[i] != '"') {
                if (params[i] == '\\' && i + 1 < n) ++i;
                value += params[i++];
            }
            if (i < n) ++i;  // closing quote
        } else {
            const size_t valueStart = i;
            while (i < n && params[i] != ',' && !IsBlank(params[i])) ++i;
            value = params.substr(valueStart, i - valueStart);
        }
        if (name == "realm") {
            c.realm = value;
        } else if (name == "nonce") {
            c.nonce = value;
        } else if (name == "opaque") {
            c.opaque = value;
        } else if (name == "algorithm") {
            c.algorithm = value;
        } else if (name == "stale") {
            c.stale = ToLower(value) == "true";
        } else if (name == "qop") {
            for (const std::string& piece : Split(value, ',')) {
                const std::string option = ToLower(Trim(piece));
                if (option == "auth") c.qopAuth = true;
                if (option == "auth-int") c.qopAuthInt = true;
            }
        }
    }
    if (c.nonce.empty()) return false;
    out = c;
    return true;
}

bool FindDigestChallenge(const std::string& reply, DIGEST_CHALLENGE& out) {
    bool found = false;
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
        const std::string value = Trim(line.substr(colon + 1));
        size_t word = 0;
        while (word < value.size() && !IsBlank(value[word])) ++word;
        if (ToLower(value.substr(0, word)) != "digest") continue;
        DIGEST_CHALLENGE c;
        if (ParseDigestParams(value.substr(word), c)) {
            out = c;
            found = true;
        }
    }
    return found;
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
    const char* qop = AnsweredQop(challenge);
    const std::string nc = FormatString("%08x", credentials.nonceCount);
    std::string ha1 = Md5Hex(credentials.user + ":" + challenge.realm + ":" + credentials.password);
    if (IsMd5Sess(challenge)) ha1 = Md5Hex(ha1 + ":" + challenge.nonce + ":" + credentials.cnonce);
    std::string a2 = credentials.method + ":" + credentials.uri;
    if (qop != nullptr && std::string(qop) == "auth-int") a2 += ":" + Md5Hex(std::string());
    const std::string ha2 = Md5Hex(a2);
    if (qop == nullptr) return Md5Hex(ha1 + ":" + challenge.nonce + ":" + ha2);
    return Md5Hex(ha1 + ":" + challenge.nonce + ":" + nc + ":" + credentials.cnonce + ":" + qop + ":" + ha2);
}

std::string DigestAuthorizationLine(const DIGEST_CHALLENGE& challenge, const DIGEST_CREDENTIALS& credentials) {
    if (challenge.realm.empty() || challenge.nonce.empty() || credentials.user.empty() ||
        credentials.password.empty() || credentials.uri.empty())
        return std::string();
    const char* qop = AnsweredQop(challenge);
    if ((qop != nullptr || IsMd5Sess(challenge)) && credentials.cnonce.empty()) return std::string();
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
    return line + "\r\n";
}

}  // namespace zentavo
