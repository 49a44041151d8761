// Collects the bytes of one RTSP reply as they arrive: the head up to its
// blank line, then exactly the body its Content-Length announces. Both are
// bounded, so a peer that never ends its head or announces a huge body costs
// at most MAX_HEAD_SIZE + MAX_BODY_SIZE bytes and the reply fails.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace zentavo {

class CRTSPReplyReader {
public:
    static constexpr size_t MAX_HEAD_SIZE = 64 * 1024;
    static constexpr size_t MAX_BODY_SIZE = 1024 * 1024;
    // Largest read while the end of the head is not known yet.
    static constexpr size_t HEAD_CHUNK = 4096;

    enum State { READING, COMPLETE, FAILED };

    CRTSPReplyReader() { Reset(); }

    void Reset();
    // Bytes the next read may take without running past this reply; 0 once
    // the reply is complete or failed.
    size_t BytesWanted() const;
    // Takes at most BytesWanted() bytes; more are dropped.
    State Append(const char* data, size_t length);
    // The connection closed or a read failed. A reply cut inside its body
    // fails; one cut inside its head is handed on as it is (a server may
    // close after a head without blank line), if anything arrived.
    State Finish();

    State GetState() const { return m_state; }
    // The reply as received: head, blank line and body.
    const std::string& Text() const { return m_text; }
    // Content-Length of the head; 0 when absent or not yet read.
    size_t ContentLength() const { return m_contentLength; }

private:
    void FindHeadEnd(size_t searchFrom);

    std::string m_text;
    size_t m_headEnd;  // just past the blank line; npos until found
    size_t m_contentLength;
    State m_state;
};

// The Content-Length value of a reply head: the last "Content-Length" line
// (name in any case), with any blanks around the value. False when a line is
// malformed or the value exceeds limit.
bool FindContentLength(const std::string& head, size_t limit, size_t& length);

}  // namespace zentavo
