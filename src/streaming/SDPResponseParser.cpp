#include "streaming/SDPResponseParser.h"

#include <cctype>

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

// -1 unless the word is a payload type number (0 to 127).
int PayloadTypeOf(const std::string& word) {
    if (word.empty() || word.size() > 3) return -1;
    int value = 0;
    for (char c : word) {
        if (c < '0' || c > '9') return -1;
        value = value * 10 + (c - '0');
    }
    return value < 128 ? value : -1;
}

// Calls f(nal, length) for each NAL unit in bytes that may carry several
// behind start codes; zero bytes in front of a start code belong to it.
template <class F>
void ForEachNal(const std::vector<uint8_t>& bytes, F&& f) {
    auto emit = [&](size_t begin, size_t end) {
        while (end > begin && bytes[end - 1] == 0) --end;
        if (end > begin) f(bytes.data() + begin, end - begin);
    };
    size_t begin = 0;
    for (size_t i = 0; i + 2 < bytes.size(); ++i) {
        if (bytes[i] == 0 && bytes[i + 1] == 0 && bytes[i + 2] == 1) {
            emit(begin, i);
            begin = i + 3;
            i += 2;
        }
    }
    emit(begin, bytes.size());
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
    for (bool& seen : m_seen) seen = false;
    bool described = text.find_first_not_of(" \t\r\n") == std::string::npos;
    size_t pos = 0;
    while (pos < text.size()) {
        pos = text.find_first_not_of("\r\n", pos);
        if (pos == std::string::npos) break;
        size_t end = text.find_first_of("\r\n", pos);
        if (end == std::string::npos) end = text.size();
        size_t first = pos, last = end;
        pos = end;
        while (first < last && IsBlank(text[first])) ++first;
        while (last > first && IsBlank(text[last - 1])) --last;
        const std::string line = text.substr(first, last - first);
        if (line.size() >= 2 && line[1] == '=' && std::isalpha(static_cast<unsigned char>(line[0]))) described = true;

        const std::string lower = ToLower(line.substr(0, 9));
        if (StartsWith(lower, "m="))
            HandleMedia(line);
        else if (StartsWith(lower, "c="))
            HandleConnection(line);
        else if (StartsWith(lower, "a=control"))
            HandleControl(line);
        else if (StartsWith(lower, "a=fmtp"))
            HandleFormatParameters(line);
        else if (StartsWith(lower, "a=rtpmap"))
            HandleRtpmap(line);
    }
    return described;
}

void CSDPResponseParser::HandleMedia(const std::string& line) {
    const std::vector<std::string> words = Words(line.substr(2));
    m_kind = SDP_MEDIA_NONE;
    if (words.empty()) return;
    const std::string type = ToLower(words[0]);
    int kind = SDP_MEDIA_NONE;
    if (type == "video")
        kind = SDP_MEDIA_VIDEO;
    else if (type == "audio")
        kind = SDP_MEDIA_AUDIO;
    else if (type == "metadata" || type == "data" || type == "application")
        kind = SDP_MEDIA_METADATA;
    if (kind == SDP_MEDIA_NONE || m_seen[kind - 1]) return;  // later sections of a kind are not used
    m_seen[kind - 1] = true;
    m_kind = kind;
    SDP_MEDIA* media = m_description.Media(m_kind);
    if (words.size() >= 2) media->port = PortOf(words[1]);
    if (words.size() >= 3) media->protocol = words[2];
    for (size_t i = 3; i < words.size(); ++i) {
        const int type = PayloadTypeOf(words[i]);
        if (type >= 0) media->payloadTypes.push_back(static_cast<uint8_t>(type));
    }
}

void CSDPResponseParser::HandleConnection(const std::string& line) {
    SDP_MEDIA* media = m_description.Media(m_kind);
    if (!media) return;
    // The address follows the address type, wherever the words before it
    // went astray ("c=IN c=IN IP4 0.0.0.0", "IN IPV4").
    const std::vector<std::string> words = Words(line.substr(2));
    for (size_t i = 0; i + 1 < words.size(); ++i) {
        const std::string type = ToLower(words[i]);
        if (type != "ip4" && type != "ipv4") continue;
        const std::string address = words[i + 1].substr(0, words[i + 1].find('/'));
        if (!address.empty()) media->connection = address;
        return;
    }
}

void CSDPResponseParser::HandleControl(const std::string& line) {
    static const char prefix[] = "a=control:";
    if (line.size() <= sizeof prefix - 1 || ToLower(line.substr(0, sizeof prefix - 1)) != prefix) return;
    const size_t value = line.find_first_not_of(" \t", sizeof prefix - 1);
    if (value == std::string::npos) return;
    if (SDP_MEDIA* media = m_description.Media(m_kind)) media->control = line.substr(value);
}

bool CSDPResponseParser::ForCurrentFormat(const std::string& line) const {
    const SDP_MEDIA* media = m_description.Media(m_kind);
    if (!media) return false;
    const size_t colon = line.find(':');
    if (colon == std::string::npos || media->payloadTypes.empty()) return true;
    const size_t end = line.find_first_of(" \t;", colon + 1);
    const int type = PayloadTypeOf(line.substr(colon + 1, end == std::string::npos ? std::string::npos : end - colon - 1));
    if (type < 0) return true;
    // Of several formats, the first one is the one the sender uses.
    return type == media->payloadTypes[0];
}

void CSDPResponseParser::HandleRtpmap(const std::string& line) {
    if (!ForCurrentFormat(line)) return;
    const size_t colon = line.find(':');
    if (colon == std::string::npos) return;
    const std::vector<std::string> words = Words(line.substr(colon + 1));
    if (words.size() < 2) return;
    m_description.Media(m_kind)->encoding = words[1];
}

void CSDPResponseParser::HandleFormatParameters(const std::string& line) {
    if (m_kind != SDP_MEDIA_VIDEO || !ForCurrentFormat(line)) return;

    static const char delimiters[] = " \t;\r\n";
    const std::string sets = FindValue("sprop-parameter-sets", "=", line, delimiters);
    if (!sets.empty()) {
        StoreParameterSets(sets);
        return;
    }
    const std::string config = FindValue("config", "=", line, delimiters);
    if (config.empty()) return;
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
}

void CSDPResponseParser::StoreParameterSets(const std::string& sets) {
    // Senders put Annex B start codes and zero padding into the entries,
    // both sets into one, or leave the picture set out: each set is known by
    // its NAL type, not by its place.
    m_description.parameterSet1.clear();
    m_description.parameterSet2.clear();
    for (const std::string& entry : Split(sets, ',')) {
        std::vector<uint8_t> decoded;
        DecodeBase64(entry, decoded);
        ForEachNal(decoded, [this](const uint8_t* nal, size_t length) {
            const uint8_t type = nal[0] & 0x1F;
            std::vector<uint8_t>& target =
                type == 7 ? m_description.parameterSet1 : m_description.parameterSet2;
            if ((type == 7 || type == 8) && target.empty()) target.assign(nal, nal + length);
        });
    }
}

}  // namespace zentavo
