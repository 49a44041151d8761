#include "runtime/TextUtils.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <new>

namespace zentavo {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Reads a run of decimal digits; false when the text is empty, holds any
// other character, or the value does not fit under limit. A value that
// overflows is treated like any other malformed number rather than wrapped,
// so "65616" can never turn into port 80.
bool ReadDigits(const std::string& s, size_t from, uint64_t limit, uint64_t& value) {
    value = 0;
    if (from >= s.size()) return false;
    for (size_t i = from; i < s.size(); ++i) {
        const char c = s[i];
        if (!IsDigit(c)) return false;
        value = value * 10 + static_cast<uint64_t>(c - '0');
        if (value > limit) return false;
    }
    return true;
}

}  // namespace

std::string FormatStringV(const char* format, va_list args) {
    if (format == nullptr) return std::string();
    va_list measure;
    va_copy(measure, args);
    const int length = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    if (length <= 0) return std::string();
    std::string text;
    try {
        text.resize(static_cast<size_t>(length) + 1);
    } catch (const std::bad_alloc&) {
        // Log callers drop an empty text; nothing else can be done here.
        return std::string();
    }
    va_list write;
    va_copy(write, args);
    const int written = std::vsnprintf(&text[0], text.size(), format, write);
    va_end(write);
    if (written != length) return std::string();
    text.resize(static_cast<size_t>(length));
    return text;
}

std::string FormatString(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = FormatStringV(format, args);
    va_end(args);
    return text;
}

std::string Trim(const std::string& s) {
    size_t begin = 0;
    size_t end = s.size();
    while (begin < end && IsBlank(s[begin])) ++begin;
    while (end > begin && IsBlank(s[end - 1])) --end;
    return s.substr(begin, end - begin);
}

std::string RemoveChars(const std::string& set, const std::string& s) {
    if (set.empty()) return s;
    std::string out;
    out.reserve(s.size());
    for (char c : s)
        if (set.find(c) == std::string::npos) out.push_back(c);
    return out;
}

std::string ToLower(const std::string& s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string ToUpper(const std::string& s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

bool ParseInt(const std::string& s, int32_t& out) {
    out = 0;
    if (s.empty()) return false;
    bool negative = false;
    size_t from = 0;
    if (s[0] == '+' || s[0] == '-') {
        negative = s[0] == '-';
        from = 1;
    }
    // One past INT32_MAX so that the most negative value is accepted.
    const uint64_t limit = negative ? uint64_t(1) << 31 : (uint64_t(1) << 31) - 1;
    uint64_t value = 0;
    if (!ReadDigits(s, from, limit, value)) return false;
    out = negative ? static_cast<int32_t>(-static_cast<int64_t>(value))
                   : static_cast<int32_t>(value);
    return true;
}

uint32_t ParseUnsignedStrict(const std::string& s) {
    uint64_t value = 0;
    if (!ReadDigits(s, 0, std::numeric_limits<uint32_t>::max(), value)) return 0;
    return static_cast<uint32_t>(value);
}

uint16_t ParseUnsignedStrict16(const std::string& s) {
    uint64_t value = 0;
    if (!ReadDigits(s, 0, std::numeric_limits<uint16_t>::max(), value)) return 0;
    return static_cast<uint16_t>(value);
}

std::string FindValue(const std::string& key, const std::string& separator,
                      const std::string& text, const std::string& delimiters) {
    if (key.empty() || separator.empty() || delimiters.empty()) return std::string();
    const size_t npos = std::string::npos;
    size_t p = text.find(key);
    while (p != npos) {
        const size_t lastDelimiter = p == 0 ? npos : text.find_last_of(delimiters, p);
        const size_t nameStart = lastDelimiter == npos ? 0 : lastDelimiter + 1;
        size_t fieldEnd = text.find_first_of(delimiters, p);
        if (fieldEnd == npos) fieldEnd = text.size();
        const size_t s = text.find(separator, p);
        if (s == npos) break;  // no separator anywhere after: nothing can match
        if (s < fieldEnd) {
            const size_t v = s + separator.size();
            if (Trim(text.substr(nameStart, s - nameStart)) == key && v < fieldEnd)
                return text.substr(v, fieldEnd - v);
        }
        // Resume at the end of this field, not at the separator: a field
        // such as "Session: 1" after an unrelated "Session" mention in a
        // separator-less line must still be found.
        if (fieldEnd >= text.size()) break;
        p = text.find(key, fieldEnd > p ? fieldEnd : p + 1);
    }
    return std::string();
}

int32_t FindValueInt(const std::string& key, const std::string& separator,
                     const std::string& text, const std::string& delimiters) {
    const std::string value = FindValue(key, separator, text, delimiters);
    if (value.empty()) return 0;
    long long n = std::strtoll(value.c_str(), nullptr, 10);
    if (n > std::numeric_limits<int32_t>::max()) n = std::numeric_limits<int32_t>::max();
    if (n < std::numeric_limits<int32_t>::min()) n = std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(n);
}

std::vector<std::string> Split(const std::string& s, char delimiter) {
    std::vector<std::string> pieces;
    size_t start = 0;
    while (start < s.size()) {
        const size_t end = s.find(delimiter, start);
        if (end == std::string::npos) {
            pieces.push_back(s.substr(start));
            break;
        }
        pieces.push_back(s.substr(start, end - start));
        start = end + 1;
    }
    return pieces;
}

void HexDecode(const std::string& s, std::vector<uint8_t>& out) {
    out.clear();
    out.reserve(s.size() / 2 + 1);
    auto nibble = [](char c) -> uint8_t {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (c >= '0' && c <= '9') return static_cast<uint8_t>(c - '0');
        if (c >= 'a' && c <= 'f') return static_cast<uint8_t>(c - 'a' + 10);
        return 0;
    };
    size_t i = 0;
    for (; i + 1 < s.size(); i += 2)
        out.push_back(static_cast<uint8_t>(nibble(s[i]) * 16 + nibble(s[i + 1])));
    if (i < s.size()) out.push_back(nibble(s[i]));
}

bool BasicCredentials(const std::string& user, const std::string& password, std::string& out) {
    const std::string plain = user + ":" + password;
    char encoded[100];
    int capacity = static_cast<int>(sizeof encoded);
    if (!Base64Encode(reinterpret_cast<const uint8_t*>(plain.data()),
                      static_cast<int>(plain.size()), encoded, capacity)) {
        out.clear();
        return false;
    }
    out = RemoveChars("\r\n", std::string(encoded, static_cast<size_t>(capacity)));
    return true;
}

uint32_t FramesPerSecond(uint32_t intervalMs) {
    if (intervalMs == 0) return 1;
    return static_cast<uint32_t>((uint64_t(2000) + intervalMs) / (uint64_t(2) * intervalMs));
}

}  // namespace zentavo
