#include "streaming/SDPResponseParser.h"

#include "runtime/TextUtils.h"

namespace zentavo {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Words separated by runs of blanks.
std::vector<std::string> Words(const std::string& s) {
    std::vector<std::string> words;
    size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && IsBlank(s[i])) ++i;
        const size_t start = i;
        while (i < s.size() && !IsBlank(s[i])) ++i;
        if (i > start) words.push_back(s.substr(start, i - start));
    }
    return words;
}

bool StartsWith(const std::string& s, const char* prefix) { return s.compare(0, std::char_traits<char>::length(prefix), prefix) == 0; }

// Digits only, taken modulo 65536; anything else gives 0.
uint16_t PortOf(const std::string& word) {
    uint32_t value = 0;
    if (word.empty()) return 0;
    for (char c : word) {
        if (c < '0' || c > '9') return 0;
        value = (value * 10 + uint32_t(c - '0')) & 0xFFFF;
    }
    return static_cast<uint16_t>(value);
}

void DecodeBase64(const std::string& text, std::vector<uint8_t>& out) {
    uint8_t buffer[CSDPResponseParser::MAX_DECODED_SIZE];
    int size = static_cast<int>(sizeof buffer);
    out.clear();
    if (Base64Decode(text.data(), static_cast<int>(text.size()), buffer, size) && size >= 0 &&
        size <= CSDPResponseParser::MAX_DECODED_SIZE)
        out.assign(buffer, buffer + size);
}

}  // namespace

void SESSION_DESCRIPTION::Clear() {
    for (SDP_MEDIA& m : media) m = SDP_MEDIA();
    parameterSet1.clear();
    parameterSet2.clear();
    configuration.clear();
}

bool CSDPResponseParser::Parse(const std::string& text) {
    Clear();
    m_kind = SDP_MEDIA_NONE;
    size_t pos = 0;
    while (pos < text.size()) {
        pos = text.find_first_not_of("\r\n", pos);
        if (pos == std::string::npos) break;
        size_t end = text.find_first_of("\r\n", pos);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(pos, end - pos);
        pos = end;

        const std::string lower = ToLower(line.substr(0, 9));
        bool ok = true;
        if (StartsWith(lower, "m="))
            ok = HandleMedia(line);
        else if (StartsWith(lower, "c=in"))
            ok = HandleConnection(line);
        else if (StartsWith(lower, "a=control"))
            ok = HandleControl(line);
        else if (StartsWith(lower, "a=fmtp"))
            ok = HandleFormatParameters(line);
        else if (StartsWith(lower, "a=rtpmap"))
            ok = HandleRtpmap(line);
        if (!ok) return false;
    }
    return true;
}

bool CSDPResponseParser::HandleMedia(const std::string& line) {
    const std::vector<std::string> words = Words(line.substr(2));
    if (words.empty()) return false;
    const std::string type = ToLower(words[0]);
    if (type == "video")
        m_kind = SDP_MEDIA_VIDEO;
    else if (type == "audio")
        m_kind = SDP_MEDIA_AUDIO;
    else if (type == "metadata" || type == "data" || type == "application")
        m_kind = SDP_MEDIA_METADATA;
    else
        m_kind = SDP_MEDIA_NONE;
    SDP_MEDIA* media = m_description.Media(m_kind);
    if (media && words.size() >= 3) {
        media->port = PortOf(words[1]);
        media->protocol = words[2];
    }
    return true;
}

bool CSDPResponseParser::HandleConnection(const std::string& line) {
    const std::vector<std::string> words = Words(line.substr(2));
    if (words.size() < 3 || words[0] != "IN") return false;
    if (words[1] == "IP6") return true;
    if (words[1] != "IP4") return false;
    const std::string address = words[2].substr(0, words[2].find('/'));
    if (SDP_MEDIA* media = m_description.Media(m_kind)) media->connection = address;
    return !address.empty();
}

bool CSDPResponseParser::HandleControl(const std::string& line) {
    static const char prefix[] = "a=control:";
    if (!StartsWith(line, prefix)) return false;
    const std::string value = line.substr(sizeof prefix - 1);
    if (value.empty()) return false;
    if (SDP_MEDIA* media = m_description.Media(m_kind)) media->control = value;
    return true;
}

bool CSDPResponseParser::HandleRtpmap(const std::string& line) {
    const size_t colon = line.find(':', 8);
    const std::vector<std::string> words =
        colon == std::string::npos ? std::vector<std::string>() : Words(line.substr(colon + 1));
    if (words.size() < 2) return false;
    if (SDP_MEDIA* media = m_description.Media(m_kind)) media->encoding = words[1];
    return true;
}

bool CSDPResponseParser::HandleFormatParameters(const std::string& line) {
    if (line.empty() || m_kind == SDP_MEDIA_NONE) return false;
    if (m_kind != SDP_MEDIA_VIDEO) return true;

    static const char delimiters[] = " ;\r\n";
    const std::string sets = FindValue("sprop-parameter-sets", "=", line, delimiters);
    if (!sets.empty()) {
        const std::vector<std::string> entries = Split(sets, ',');
        if (entries.size() >= 2) {
            DecodeBase64(entries[0], m_description.parameterSet1);
            DecodeBase64(entries[1], m_description.parameterSet2);
        }
        return true;
    }
    const std::string config = FindValue("config", "=", line, delimiters);
    if (config.empty()) return true;
    if (config.find('=') == std::string::npos) {
        // Hex needs two characters per byte; anything longer cannot fit.
        if (config.size() > 2 * size_t(MAX_DECODED_SIZE)) {
            m_description.configuration.clear();
        } else {
            HexDecode(config, m_description.configuration);
        }
    } else {
        DecodeBase64(config, m_description.configuration);
    }
    return true;
}

}  // namespace zentavo
