#include "streaming/RTSPStreamParser.h"

#include "runtime/ByteReader.h"
#include "streaming/RTPPacket.h"

namespace zentavo {

namespace {
constexpr uint8_t FRAME_MARK = '$';
constexpr size_t FRAME_HEADER = 4;
constexpr uint8_t RTCP_BYE = 203;
}  // namespace

void CRTSPStreamParser::ProcessData(const uint8_t* data, size_t length) {
    if (data && length) m_pending.insert(m_pending.end(), data, data + length);

    const size_t size = m_pending.size();
    size_t consumed = size;  // with no "$" left everything is discarded
    CByteReader stream(m_pending.data(), size);
    for (size_t mark = stream.Find(&FRAME_MARK, 1, 0); mark != CByteReader::npos;) {
        if (size - mark <= FRAME_HEADER) {
            consumed = mark;  // header incomplete: keep from the "$" on
            break;
        }
        stream.Seek(mark + 1);
        const uint8_t channel = stream.ReadU8();
        const size_t frameLength = stream.ReadU16BE();
        size_t next = mark + 1;
        if (channel == m_rtpChannel || channel == uint8_t(m_rtpChannel + 1)) {
            if (!stream.Has(frameLength)) {
                consumed = mark;  // wait for the rest of the frame
                break;
            }
            Deliver(channel, stream.Current(), frameLength);
            next = mark + FRAME_HEADER + frameLength;
        }
        mark = stream.Find(&FRAME_MARK, 1, next);
    }
    m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<std::ptrdiff_t>(consumed));
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
        if ((first >> 6) != 2) break;
        offset += (size_t(words) + 1) * 4;
        if (offset <= length && type == RTCP_BYE) m_user->OnRTCPBye();
    }
}

}  // namespace zentavo
