// Base64 (RFC 4648 alphabet) with the driver's line-break rule: CR LF after
// every complete 76-character line, the last line excepted.
#include <cstdint>

#include "runtime/TextUtils.h"

namespace zentavo {

namespace {

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
const int kLineLength = 76;

int DecodeChar(unsigned char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

// The room callers must provide; it may exceed the exact length by one line
// break, which is what every caller sizes its buffers for.
int64_t RequiredLength(int64_t count) {
    int64_t n = count * 4 / 3 + count % 3;
    const int64_t before = n;
    if (n % kLineLength != 0 && n % 4 != 0) n = (n + 3) / 4 * 4;
    return n + 2 * (before / kLineLength + 1);
}

// Writes characters and inserts the line breaks as it goes.
class CLineWriter {
public:
    explicit CLineWriter(char* out) : m_out(out) {}
    void Put(char c) {
        m_out[m_written++] = c;
        if (++m_column == kLineLength) {
            m_out[m_written++] = '\r';
            m_out[m_written++] = '\n';
            m_column = 0;
        }
    }
    int Written() const { return m_written; }

private:
    char* m_out;
    int m_written = 0;
    int m_column = 0;
};

}  // namespace

bool Base64Encode(const uint8_t* data, int count, char* out, int& capacity) {
    if (out == nullptr || count < 0 || (data == nullptr && count > 0)) return false;
    if (capacity < 0 || RequiredLength(count) > capacity) return false;
    CLineWriter writer(out);
    int i = 0;
    for (; i + 2 < count; i += 3) {
        const uint32_t v = (uint32_t(data[i]) << 16) | (uint32_t(data[i + 1]) << 8) | data[i + 2];
        writer.Put(kAlphabet[(v >> 18) & 63]);
        writer.Put(kAlphabet[(v >> 12) & 63]);
        writer.Put(kAlphabet[(v >> 6) & 63]);
        writer.Put(kAlphabet[v & 63]);
    }
    const int rest = count - i;
    if (rest > 0) {
        uint32_t v = uint32_t(data[i]) << 16;
        if (rest == 2) v |= uint32_t(data[i + 1]) << 8;
        writer.Put(kAlphabet[(v >> 18) & 63]);
        writer.Put(kAlphabet[(v >> 12) & 63]);
        writer.Put(rest == 2 ? kAlphabet[(v >> 6) & 63] : '=');
        writer.Put('=');
    }
    capacity = writer.Written();
    return true;
}

bool Base64Decode(const char* text, int length, uint8_t* out, int& capacity) {
    if (text == nullptr || length < 0) return false;
    const int room = (out == nullptr || capacity < 0) ? 0 : capacity;
    int total = 0;
    bool fits = true;
    auto emit = [&](uint8_t b) {
        if (total < room) out[total] = b;
        else fits = false;
        ++total;
    };
    uint32_t group = 0;
    int held = 0;
    for (int i = 0; i < length && text[i] != '\0'; ++i) {
        const int v = DecodeChar(static_cast<unsigned char>(text[i]));
        if (v < 0) continue;
        group = (group << 6) | static_cast<uint32_t>(v);
        if (++held == 4) {
            emit(static_cast<uint8_t>(group >> 16));
            emit(static_cast<uint8_t>(group >> 8));
            emit(static_cast<uint8_t>(group));
            group = 0;
            held = 0;
        }
    }
    if (held == 2) {
        emit(static_cast<uint8_t>(group >> 4));
    } else if (held == 3) {
        emit(static_cast<uint8_t>(group >> 10));
        emit(static_cast<uint8_t>(group >> 2));
    }
    capacity = total;
    return fits;
}

}  // namespace zentavo
