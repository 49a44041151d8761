#include "camera/CapabilityAnswers.h"

#include "capability/CodecIds.h"
#include "runtime/TextUtils.h"

namespace zentavo {

namespace {

const char* const kAuthSeparator = ": ";
const char* const kAuthTerminators = ",{}\r\n";

// 1 to 5 decimal digits at text[at], at most 65535; at moves past them.
bool ReadUint16(const std::string& text, size_t& at, uint16_t& value) {
    uint32_t v = 0;
    size_t digits = 0;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
        if (++digits > 5) return false;
        v = v * 10 + static_cast<uint32_t>(text[at] - '0');
        ++at;
    }
    if (digits == 0 || v > 0xFFFF) return false;
    value = static_cast<uint16_t>(v);
    return true;
}

}  // namespace

bool ConfirmsAuthMethod(std::string& body, const std::string& method) {
    body = RemoveChars("'", body);
    const std::string m = FindValue("method", kAuthSeparator, body, kAuthTerminators);
    const std::string s = FindValue("success", kAuthSeparator, body, kAuthTerminators);
    if (!method.empty() && m == method && s == "true") return true;
    body.clear();
    return false;
}

bool ReportsAuthEnabled(const std::string& body) {
    return FindValue("enabled", kAuthSeparator, body, kAuthTerminators) == "true";
}

FrameRateSet FrameRatesOfModes(const EntryNameSet& modes) {
    FrameRateSet rates;
    for (const std::string& name : modes) {
        if (name.empty()) continue;
        const std::vector<std::string> parts = Split(name, '_');
        if ((parts.size() == 2 || parts.size() == 3) && parts[0] == "Fps")
            rates.insert(ParseUnsignedStrict(parts[1]));
    }
    return rates;
}

int32_t CodecOfEncoderName(const std::string& name) {
    const std::string upper = ToUpper(name);
    if (upper == "H_264") return CODEC_H264;
    if (upper == "MPEG4") return CODEC_MPEG4;
    if (upper == "JPEG") return CODEC_JPEG;
    return 0;
}

bool ReadSizeName(const std::string& name, uint16_t& width, uint16_t& height) {
    static const std::string kPrefix = "Size_";
    if (name.compare(0, kPrefix.size(), kPrefix) != 0) return false;
    size_t at = kPrefix.size();
    uint16_t w = 0, h = 0;
    if (!ReadUint16(name, at, w) || at >= name.size() || name[at] != 'x') return false;
    ++at;
    if (!ReadUint16(name, at, h)) return false;
    width = w;
    height = h;
    return true;
}

bool SensorAreaText(const std::string& left, const std::string& top, const std::string& width,
                    const std::string& height, std::string& text) {
    text.clear();
    if (left.empty() || top.empty() || width.empty() || height.empty()) return false;
    if (ParseUnsignedStrict(width) == 0 || ParseUnsignedStrict(height) == 0) return false;
    text = left + "," + top + "," + width + "," + height;
    return true;
}

}  // namespace zentavo
