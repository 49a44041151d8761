#include "streaming/RTSPStreamParser.h"

#include <cstring>

#include "runtime/ByteReader.h"
#include "runtime/TextUtils.h"
#include "streaming/RTPPacket.h"

namespace zentavo {

namespace {
constexpr uint8_t FRAME_MARK = '$';
constexpr size_t FRAME_HEADER = 4;
constexpr uint8_t RTCP_BYE = 203;
const char REPLY_START[] = "RTSP/";
constexpr size_t REPLY_START_LENGTH = 5;
const uint8_t HEAD_END[] = {'\r', '\n', '\r', '\n'};

bool IsRtpVersion2(uint8_t first) { return (first >> 6) == 2; }
}  // namespace

void CRTSPStreamParser::ProcessData(const uint8_t* data, size_t length) {
    if (data && length) m_pending.insert(m_pending.end(), data, data + length);

    size_t at = 0;
    while (at < m_pending.size()) {
        size_t next = at;
        Step step = STEP_SKIP_ONE;
        if (m_pending[at] == FRAME_MARK)
            step = TryFrame(at, next);
        else if (m_pending[at] == uint8_t(REPLY_START[0]))
            step = TryReply(at, next);
        if (step == STEP_NEED_MORE) break;
        if (step == STEP_CONSUMED) {
            m_inSync = true;
            at = next;
            continue;
        }
        m_inSync = false;
        // Resynchronise: on to the next byte that may start a frame or an
        // answer.
        ++m_skipped;
        ++at;
        while (at < m_pending.size() && m_pending[at] != FRAME_MARK && m_pending[at] != uint8_t(REPLY_START[0])) {
            ++m_skipped;
            ++at;
        }
    }
    m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<std::ptrdiff_t>(at));
}

CRTSPStreamParser::Step CRTSPStreamParser::TryFrame(size_t at, size_t& next) {
    CByteReader stream(m_pending.data(), m_pending.size());
    stream.Seek(at + 1);
    if (!stream.Has(FRAME_HEADER - 1)) return STEP_NEED_MORE;
    const uint8_t channel = stream.ReadU8();
    const size_t frameLength = stream.ReadU16BE();
    const bool ours = channel == m_rtpChannel || channel == m_rtcpChannel;
    if (ours) {
        // A "$" inside garbage must not make the parser wait for up to 64 KiB
        // that would swallow real frames: RTP and RTCP both start version 2.
        if (frameLength == 0) {
            next = at + FRAME_HEADER;
            return STEP_CONSUMED;
        }
        if (!stream.Has(1)) return STEP_NEED_MORE;
        if (!IsRtpVersion2(stream.PeekAt(0))) return STEP_SKIP_ONE;
        if (!stream.Has(frameLength)) return STEP_NEED_MORE;
        Deliver(channel, stream.Current(), frameLength);
        next = at + FRAME_HEADER + frameLength;
        return STEP_CONSUMED;
    }
    // Another channel (audio, metadata): right behind a frame or answer it
    // is a frame and skipped whole; while resynchronising only when what
    // follows it looks like the stream going on. "$$" is taken for garbage
    // even then: no server numbers its channels that high.
    const bool trusted = m_inSync && channel != FRAME_MARK;
    if (!stream.Has(frameLength)) return trusted ? STEP_NEED_MORE : STEP_SKIP_ONE;
    const size_t end = at + FRAME_HEADER + frameLength;
    if (trusted || end == m_pending.size() || m_pending[end] == FRAME_MARK ||
        m_pending[end] == uint8_t(REPLY_START[0])) {
        next = end;
        m_skipped += end - at;
        return STEP_CONSUMED;
    }
    return STEP_SKIP_ONE;
}

CRTSPStreamParser::Step CRTSPStreamParser::TryReply(size_t at, size_t& next) {
    const size_t available = m_pending.size() - at;
    const size_t compare = available < REPLY_START_LENGTH ? available : REPLY_START_LENGTH;
    if (std::memcmp(&m_pending[at], REPLY_START, compare) != 0) return STEP_SKIP_ONE;
    if (compare < REPLY_START_LENGTH) return STEP_NEED_MORE;
    CByteReader stream(m_pending.data(), m_pending.size());
    const size_t headEnd = stream.Find(HEAD_END, sizeof HEAD_END, at);
    if (headEnd == CByteReader::npos || headEnd - at > MAX_REPLY_HEAD)
        return available > MAX_REPLY_HEAD ? STEP_SKIP_ONE : STEP_NEED_MORE;
    const size_t bodyStart = headEnd + sizeof HEAD_END;
    const std::string head(reinterpret_cast<const char*>(&m_pending[at]), bodyStart - at);
    size_t bodyLength = 0;
    const std::string lower = ToLower(head);
    const size_t name = lower.find("\ncontent-length:");
    if (name != std::string::npos) {
        size_t i = name + 16;
        while (i < lower.size() && (lower[i] == ' ' || lower[i] == '\t')) ++i;
        while (i < lower.size() && lower[i] >= '0' && lower[i] <= '9' && bodyLength <= MAX_REPLY_BODY)
            bodyLength = bodyLength * 10 + size_t(lower[i++] - '0');
        if (bodyLength > MAX_REPLY_BODY) return STEP_SKIP_ONE;
    }
    if (m_pending.size() - bodyStart < bodyLength) return STEP_NEED_MORE;
    next = bodyStart + bodyLength;
    if (m_user) {
        const std::string text(reinterpret_cast<const char*>(&m_pending[at]), next - at);
        try {
            m_user->OnRTSPReply(text);
        } catch (...) {
        }
    }
    return STEP_CONSUMED;
}

void CRTSPStreamParser::Deliver(uint8_t channel, const uint8_t* payload, size_t length) {
    if (!m_user || length == 0) return;
    try {
        if (channel == m_rtpChannel) {
            CRTPPacket packet;
            if (packet.Parse(static_cast<uint32_t>(length), payload)) m_user->OnRTPPacket(packet);
        } else {
            DeliverRtcp(payload, length);
        }
    } catch (...) {
        // A failing user must not stop the stream.
    }
}

void CRTSPStreamParser::DeliverRtcp(const uint8_t* payload, size_t length) {
    CByteReader in(payload, length);
    size_t offset = 0;
    while (offset + 4 <= length) {
        in.Seek(offset);
        const uint8_t first = in.ReadU8();
        const uint8_t type = in.ReadU8();
        const uint16_t words = in.ReadU16BE();
        if (!IsRtpVersion2(first)) break;
        const size_t start = offset;
        offset += (size_t(words) + 1) * 4;
        if (offset > length) break;
        if (type == RTCP_BYE) {
            m_user->OnRTCPBye();
        } else if (type == RTCP_TYPE_SR) {
            RTCP_SENDER_REPORT report;
            if (ReadRTCPSenderReport(payload + start, offset - start, report)) m_user->OnRTCPSenderReport(report);
        }
    }
}

}  // namespace zentavo
