#include "parsers/H264RTPMediaParser.h"

#include "host/IDriver.h"
#include "runtime/ByteReader.h"
#include "parsers/FrameCodes.h"
#include "parsers/FrameDelivery.h"
#include "parsers/SpsReader.h"
#include "streaming/RTPPacket.h"

namespace zentavo {

namespace {
constexpr uint8_t START_CODE[3] = {0, 0, 1};
constexpr uint8_t ACCESS_UNIT_DELIMITER[5] = {0, 0, 1, 0x09, 0x30};

enum NalType : uint8_t {
    NAL_IDR = 5,
    NAL_SEI = 6,
    NAL_SPS = 7,
    NAL_PPS = 8,
    NAL_AUD = 9,
    NAL_STAP_A = 24,
    NAL_FU_A = 28,
};

uint8_t TypeOf(uint8_t header) { return header & 0x1F; }
}  // namespace

CH264RTPMediaParser::CH264RTPMediaParser(IDriver* driver) : CRTPMediaParser(driver) {}

void CH264RTPMediaParser::Reset() {
    m_awaitingSps = true;
    m_startUp = true;
    m_size.Clear();
    m_frameBuffer.clear();
}

void CH264RTPMediaParser::SetParameterSets(const std::vector<uint8_t>& sps, const std::vector<uint8_t>& pps,
                                           const std::vector<uint8_t>& config) {
    if (sps.empty()) return;
    std::vector<uint8_t> scratch;
    scratch.reserve(sps.size() + pps.size() + 6);
    scratch.insert(scratch.end(), START_CODE, START_CODE + 3);
    scratch.insert(scratch.end(), sps.begin(), sps.end());
    scratch.insert(scratch.end(), START_CODE, START_CODE + 3);
    scratch.insert(scratch.end(), pps.begin(), pps.end());
    CPictureSize size;
    if (!CSpsReader::Read(scratch.data(), scratch.size(), size)) return;
    m_size = size;
    m_sps = sps;
    m_pps = pps;
}

void CH264RTPMediaParser::ProcessPacket(const CRTPPacket& packet) {
    try {
        if (IsRepeat(packet.SequenceNumber())) return;
        if (!CheckSequence(packet.SequenceNumber())) Reset();

        const bool handled = HandlePayload(packet.Payload(), packet.PayloadLength());
        if (!handled || !CheckBufferSize()) {
            Reset();
        } else if (packet.Marker() && !m_frameBuffer.empty()) {
            ProcessFrame(packet.Timestamp());
            m_frameBuffer.clear();
        }
        if (packet.Marker()) m_startUp = false;
    } catch (...) {
        // Only allocation can throw; the access unit in progress is lost.
        Reset();
    }
}

bool CH264RTPMediaParser::HandlePayload(const uint8_t* payload, size_t length) {
    if (!payload || length == 0) return false;
    const uint8_t type = TypeOf(payload[0]);
    if (type >= 1 && type <= 23) return HandleSingle(payload, length);
    if (type == NAL_STAP_A) return HandleStapA(payload, length);
    if (type == NAL_FU_A) return HandleFuA(payload, length);
    return false;  // STAP-B, MTAP, FU-B and reserved types
}

void CH264RTPMediaParser::AppendNal(const uint8_t* nal, size_t length) {
    m_frameBuffer.insert(m_frameBuffer.end(), START_CODE, START_CODE + 3);
    m_frameBuffer.insert(m_frameBuffer.end(), nal, nal + length);
}

void CH264RTPMediaParser::InsertParameterSets() {
    if (!m_frameBuffer.empty() || m_sps.empty() || m_pps.empty()) return;
    AppendNal(m_sps.data(), m_sps.size());
    AppendNal(m_pps.data(), m_pps.size());
}

bool CH264RTPMediaParser::HandleSingle(const uint8_t* payload, size_t length) {
    if (length < 2) return false;
    switch (TypeOf(payload[0])) {
    case NAL_IDR:
        InsertParameterSets();
        AppendNal(payload, length);
        break;
    case NAL_SPS:
        m_sps.assign(payload, payload + length);
        m_startUp = false;
        break;
    case NAL_PPS:
        m_pps.assign(payload, payload + length);
        m_startUp = false;
        break;
    case NAL_SEI:
    case NAL_AUD:
        break;
    default:
        AppendNal(payload, length);
        break;
    }
    return true;
}

bool CH264RTPMediaParser::HandleStapA(const uint8_t* payload, size_t length) {
    if (length < 3) return false;
    CByteReader in(payload, length);
    in.Skip(1);  // STAP-A header
    while (in.Remaining() > 1) {
        const uint16_t size = in.ReadU16BE();
        if (size > in.Remaining()) return false;
        const uint8_t* nal = in.Current();
        in.Skip(size);
        if (size == 0) continue;
        switch (TypeOf(nal[0])) {
        case NAL_IDR:
            InsertParameterSets();
            AppendNal(nal, size);
            break;
        case NAL_SPS:
            m_sps.assign(nal, nal + size);
            break;
        case NAL_PPS:
            m_pps.assign(nal, nal + size);
            break;
        case NAL_SEI:
        case NAL_AUD:
            break;
        default:
            AppendNal(nal, size);
            break;
        }
    }
    return true;
}

bool CH264RTPMediaParser::HandleFuA(const uint8_t* payload, size_t length) {
    CByteReader in(payload, length);
    const uint8_t indicator = in.ReadU8();
    const uint8_t header = in.ReadU8();
    if (!in.Ok()) return false;
    if (header & 0x80) {
        if (TypeOf(header) == NAL_IDR && m_frameBuffer.empty() && !m_startUp) InsertParameterSets();
        const uint8_t nalHeader = static_cast<uint8_t>((indicator & 0xE0) | TypeOf(header));
        m_frameBuffer.insert(m_frameBuffer.end(), START_CODE, START_CODE + 3);
        m_frameBuffer.push_back(nalHeader);
    }
    m_frameBuffer.insert(m_frameBuffer.end(), in.Current(), in.Current() + in.Remaining());
    return true;
}

void CH264RTPMediaParser::ProcessFrame(uint32_t timestamp) {
    if (!m_driver || !m_client || m_frameBuffer.empty()) return;
    if (!m_driver->GetHostContext()) return;

    m_frameBuffer.insert(m_frameBuffer.end(), ACCESS_UNIT_DELIMITER, ACCESS_UNIT_DELIMITER + 5);

    uint32_t code = FRAME_CODE_I264;
    CPictureSize size;
    if (CSpsReader::Read(m_frameBuffer.data(), m_frameBuffer.size(), size)) {
        m_size = size;
        code = FRAME_CODE_H264;
        m_awaitingSps = false;
    } else if (m_awaitingSps) {
        m_frameBuffer.clear();
        return;
    }
    DeliverFrameBuffer(code, timestamp, "zentavo::CH264RTPMediaParser::ProcessFrame");
}

}  // namespace zentavo
