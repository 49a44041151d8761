// Digest challenge parsing and the answers built from what was parsed: the
// first byte picks the scheme options, the rest is a reply head.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "streaming/RTSPAuthentication.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    zentavo::DIGEST_CHALLENGE challenge;
    zentavo::FindDigestChallenge(text, challenge);
    zentavo::ParseDigestParams(text, challenge);
    zentavo::AUTH_CHALLENGES offered;
    zentavo::FindChallenges(text, offered);
    // The chosen challenge is one that can be answered.
    if (offered.digestUsable && (offered.digest.nonce.empty() || zentavo::DigestStrength(offered.digest) == 0)) abort();
    if (data[0] & 4) challenge = offered.digest;
    zentavo::DIGEST_CREDENTIALS credentials;
    credentials.user = data[0] & 1 ? text.substr(0, 40) : "user";
    credentials.password = "password";
    credentials.method = "SETUP";
    credentials.uri = "rtsp://cam/stream/";
    credentials.cnonce = data[0] & 2 ? "0a4f113b" : "";
    const std::string line = zentavo::DigestAuthorizationLine(challenge, credentials);
    // One header line, whatever the challenge held.
    if (!line.empty() && line.find_first_of("\r\n") != line.size() - 2) abort();
    const std::string basic = zentavo::BasicAuthorizationLine(text, text);
    if (basic.find_first_of("\r\n") != basic.size() - 2) abort();
    return 0;
}
