#include "streaming/RTSPReplyReader.h"

#include <algorithm>

#include "runtime/TextUtils.h"

namespace zentavo {

namespace {

const size_t NOT_FOUND = std::string::npos;

}  // namespace

bool FindContentLength(const std::string& head, size_t limit, size_t& length) {
    length = 0;
    size_t pos = 0;
    while (pos < head.size()) {
        size_t end = head.find_first_of("\r\n", pos);
        if (end == NOT_FOUND) end = head.size();
        const std::string line = head.substr(pos, end - pos);
        pos = end + 1;
        const size_t colon = line.find(':');
        if (colon == NOT_FOUND || ToLower(Trim(line.substr(0, colon))) != "content-length") continue;
        const std::string value = Trim(line.substr(colon + 1));
        if (value.empty()) return false;
        size_t n = 0;
        for (char c : value) {
            if (c < '0' || c > '9') return false;
            n = n * 10 + size_t(c - '0');
            if (n > limit) return false;
        }
        length = n;
    }
    return true;
}

void CRTSPReplyReader::Reset() {
    m_text.clear();
    m_headEnd = NOT_FOUND;
    m_contentLength = 0;
    m_state = READING;
}

size_t CRTSPReplyReader::BytesWanted() const {
    if (m_state != READING) return 0;
    if (m_headEnd == NOT_FOUND) return std::min(HEAD_CHUNK, MAX_HEAD_SIZE - m_text.size());
    return m_headEnd + m_contentLength - m_text.size();
}

void CRTSPReplyReader::FindHeadEnd(size_t searchFrom) {
    // A lenient server may end its lines with LF alone.
    const size_t crlf = m_text.find("\r\n\r\n", searchFrom);
    const size_t lf = m_text.find("\n\n", searchFrom);
    if (crlf == NOT_FOUND && lf == NOT_FOUND) return;
    const size_t end = std::min(crlf == NOT_FOUND ? NOT_FOUND : crlf + 4, lf == NOT_FOUND ? NOT_FOUND : lf + 2);
    if (end > MAX_HEAD_SIZE) {
        m_state = FAILED;
        return;
    }
    m_headEnd = end;
    size_t length = 0;
    if (!FindContentLength(m_text.substr(0, end), MAX_BODY_SIZE, length)) {
        m_state = FAILED;
        return;
    }
    m_contentLength = length;
}

CRTSPReplyReader::State CRTSPReplyReader::Append(const char* data, size_t length) {
    if (m_state != READING || data == nullptr) return m_state;
    const size_t take = std::min(length, BytesWanted());
    const size_t before = m_text.size();
    m_text.append(data, take);
    if (m_headEnd == NOT_FOUND) {
        // The terminator may straddle two reads.
        FindHeadEnd(before >= 3 ? before - 3 : 0);
        if (m_state == FAILED) return m_state;
        if (m_headEnd == NOT_FOUND) {
            if (m_text.size() >= MAX_HEAD_SIZE) m_state = FAILED;
            return m_state;
        }
        // Bytes past the announced body belong to nobody we know of.
        if (m_text.size() > m_headEnd + m_contentLength) m_text.resize(m_headEnd + m_contentLength);
    }
    if (m_text.size() == m_headEnd + m_contentLength) m_state = COMPLETE;
    return m_state;
}

CRTSPReplyReader::State CRTSPReplyReader::Finish() {
    if (m_state != READING) return m_state;
    m_state = (m_headEnd == NOT_FOUND && !m_text.empty()) ? COMPLETE : FAILED;
    return m_state;
}

}  // namespace zentavo
