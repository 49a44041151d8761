#include "parsers/Mpeg4RTPMediaParser.h"

#include "host/IDriver.h"
#include "runtime/ByteReader.h"
#include "parsers/FrameCodes.h"
#include "parsers/FrameDelivery.h"
#include "streaming/RTPPacket.h"

namespace zentavo {

namespace {
constexpr uint8_t VOP_START[4] = {0, 0, 1, 0xB6};
constexpr uint8_t VISUAL_OBJECT_SEQUENCE_CODE = 0xB0;
constexpr uint8_t GROUP_OF_VOP_CODE = 0xB3;

// Start codes that open configuration headers: the visual object sequence,
// and - for encoders that leave that out - a video object (00 to 1F) or a
// video object layer (20 to 2F).
bool IsConfigurationStart(uint8_t code) { return code == VISUAL_OBJECT_SEQUENCE_CODE || code <= 0x2F; }
// A configuration packet without a VOP longer than this is not taken as
// headers.
constexpr size_t MAX_BARE_HEADER = 64;
}  // namespace

CMpeg4RTPMediaParser::CMpeg4RTPMediaParser(IDriver* driver) : CRTPMediaParser(driver) {}

void CMpeg4RTPMediaParser::Reset() {
    m_waiting = true;
    m_withHeader = false;
    m_size.Clear();
    m_frameBuffer.clear();
}

void CMpeg4RTPMediaParser::ProcessPacket(const CRTPPacket& packet) {
    try {
        if (IsRepeat(packet.SequenceNumber())) return;
        if (!CheckSequence(packet.SequenceNumber())) Reset();
        // A VOP still open when the timestamp moves on had its marker left
        // out; it is whole, since no packet was lost in between.
        if (!m_frameBuffer.empty() && !m_waiting && packet.Timestamp() != m_frameTimestamp) {
            ProcessFrame(m_frameTimestamp);
            m_frameBuffer.clear();
        }
        m_frameTimestamp = packet.Timestamp();

        const uint8_t* payload = packet.Payload();
        const size_t length = payload ? packet.PayloadLength() : 0;
        CByteReader in(payload, length);

        // Headers in front of the VOP: configuration headers are kept (they
        // go in front of every later intra-coded VOP); a group of VOP header
        // stays with its VOP.
        size_t offset = 0;  // where the bytes to collect begin
        size_t vopAt = 0;   // where a VOP start code is expected
        if (length >= 5 && in.PeekAt(0) == 0 && in.PeekAt(1) == 0 && in.PeekAt(2) == 1) {
            const uint8_t code = in.PeekAt(3);
            const bool configuration = IsConfigurationStart(code);
            const size_t vop = configuration || code == GROUP_OF_VOP_CODE ? in.Find(VOP_START, 4, 4)
                                                                          : CByteReader::npos;
            if (configuration) {
                if (vop != CByteReader::npos) {
                    m_inBandHeader.assign(payload, payload + vop);
                    offset = vopAt = vop;
                } else if (length < MAX_BARE_HEADER) {
                    m_inBandHeader.assign(payload, payload + length);
                    offset = vopAt = length;
                }
            } else if (code == GROUP_OF_VOP_CODE && vop != CByteReader::npos) {
                vopAt = vop;
            }
        }

        // Start of a VOP.
        if (vopAt + 4 < length && in.PeekAt(vopAt) == 0 && in.PeekAt(vopAt + 1) == 0 &&
            in.PeekAt(vopAt + 2) == 1 && in.PeekAt(vopAt + 3) == VOP_START[3]) {
            m_frameBuffer.clear();
            const uint8_t codingType = in.PeekAt(vopAt + 4) >> 6;
            if (codingType == 0) {
                if (!m_inBandHeader.empty())
                    m_frameBuffer = m_inBandHeader;
                else if (!m_config.empty())
                    m_frameBuffer = m_config;
                m_waiting = false;
                m_withHeader = true;
            } else {
                m_withHeader = false;
            }
        }
        if (m_waiting) return;

        if (offset < length) m_frameBuffer.insert(m_frameBuffer.end(), payload + offset, payload + length);

        if (!CheckBufferSize()) {
            Reset();
            return;
        }
        if (packet.Marker() && !m_frameBuffer.empty()) {
            ProcessFrame(packet.Timestamp());
            m_frameBuffer.clear();
        }
    } catch (...) {
        // Only allocation can throw; the VOP in progress is lost.
        Reset();
    }
}

void CMpeg4RTPMediaParser::ProcessFrame(uint32_t timestamp) {
    if (!m_driver || !m_client || m_frameBuffer.empty()) return;
    if (!m_driver->GetHostContext()) return;

    uint32_t code = FRAME_CODE_DIVI;
    if (m_withHeader) {
        CPictureSize size;
        if (!m_headerParser.ParseHeader(m_frameBuffer.data(), m_frameBuffer.size(), size)) {
            Reset();
            return;
        }
        m_size = size;
        code = FRAME_CODE_DIVX;
    }
    DeliverFrameBuffer(code, timestamp, "zentavo::CMpeg4RTPMediaParser::ProcessFrame");
}

}  // namespace zentavo
