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
    NAL_SLICE = 1,
    NAL_IDR = 5,
    NAL_SEI = 6,
    NAL_SPS = 7,
    NAL_PPS = 8,
    NAL_AUD = 9,
    NAL_STAP_A = 24,
    NAL_FU_A = 28,
};

uint8_t TypeOf(uint8_t header) { return header & 0x1F; }

bool StartsWithStartCode(const uint8_t* data, size_t length) {
    return (length >= 3 && data[0] == 0 && data[1] == 0 && data[2] == 1) ||
           (length >= 4 && data[0] == 0 && data[1] == 0 && data[2] == 0 && data[3] == 1);
}

// Calls f(nal, length) for each NAL unit in bytes that should hold one but
// may hold several behind Annex B start codes. Zero bytes in front of a
// start code belong to it (a NAL unit never ends in 00).
template <class F>
void ForEachNal(const uint8_t* data, size_t length, F&& f) {
    auto emit = [&](size_t begin, size_t end) {
        while (end > begin && data[end - 1] == 0) --end;
        if (end > begin) f(data + begin, end - begin);
    };
    const CByteReader range(data, length);
    size_t begin = 0;
    for (size_t at = range.Find(START_CODE, 3, 0); at != CByteReader::npos; at = range.Find(START_CODE, 3, at + 3)) {
        emit(begin, at);
        begin = at + 3;
    }
    emit(begin, length);
}

bool SpsReadable(const uint8_t* nal, size_t length, CPictureSize& size) {
    std::vector<uint8_t> scratch(START_CODE, START_CODE + 3);
    scratch.insert(scratch.end(), nal, nal + length);
    return CSpsReader::Read(scratch.data(), scratch.size(), size);
}
}  // namespace

CH264RTPMediaParser::CH264RTPMediaParser(IDriver* driver) : CRTPMediaParser(driver) {}

void CH264RTPMediaParser::ClearAccessUnit() {
    m_frameBuffer.clear();
    m_unitOpen = false;
    m_unitHasSlice = false;
    m_unitHasIdr = false;
    m_unitBroken = false;
    m_inFragment = false;
}

void CH264RTPMediaParser::Reset() {
    m_awaitingSps = true;
    m_size.Clear();
    ClearAccessUnit();
}

void CH264RTPMediaParser::SetParameterSets(const std::vector<uint8_t>& sps, const std::vector<uint8_t>& pps,
                                           const std::vector<uint8_t>& config) {
    (void)config;
    // Session descriptions get these wrong too: start codes inside the
    // base64, zero padding, both sets in one entry. Go by the NAL type.
    std::vector<uint8_t> newSps, newPps;
    auto take = [&](const uint8_t* nal, size_t length) {
        if (TypeOf(nal[0]) == NAL_SPS) newSps.assign(nal, nal + length);
        if (TypeOf(nal[0]) == NAL_PPS) newPps.assign(nal, nal + length);
    };
    if (!sps.empty()) ForEachNal(sps.data(), sps.size(), take);
    if (!pps.empty()) ForEachNal(pps.data(), pps.size(), take);
    CPictureSize size;
    if (newSps.empty() || !SpsReadable(newSps.data(), newSps.size(), size)) return;
    m_size = size;
    m_sps = newSps;
    m_pps = newPps;
}

void CH264RTPMediaParser::ProcessPacket(const CRTPPacket& packet) {
    const uint32_t timestamp = packet.Timestamp();
    // What is left of an access unit that lost a part must not become one
    // of its own.
    auto dropUnit = [&] {
        Reset();
        m_unitOpen = true;
        m_unitTimestamp = timestamp;
        m_unitBroken = true;
    };
    try {
        if (IsRepeat(packet.SequenceNumber())) return;
        if (!CheckSequence(packet.SequenceNumber())) {
            // A new timestamp after the gap may begin a whole access unit;
            // the old timestamp certainly continues a broken one.
            if (m_unitOpen && timestamp == m_unitTimestamp)
                dropUnit();
            else
                Reset();
        }
        // Senders that never set the marker bit end an access unit only by
        // starting the next.
        if (m_unitOpen && timestamp != m_unitTimestamp) FinishAccessUnit();
        m_unitOpen = true;
        m_unitTimestamp = timestamp;

        if (!HandlePayload(packet.Payload(), packet.PayloadLength()) || !CheckBufferSize()) {
            dropUnit();
        }
        if (packet.Marker()) FinishAccessUnit();
    } catch (...) {
        // Only allocation can throw; the access unit in progress is lost.
        Reset();
    }
}

bool CH264RTPMediaParser::HandlePayload(const uint8_t* payload, size_t length) {
    if (!payload || length == 0) return false;
    const uint8_t type = TypeOf(payload[0]);
    if (type != NAL_FU_A && m_inFragment) EndFragment();
    if (type == 0 && StartsWithStartCode(payload, length)) {
        HandleNalUnits(payload, length);  // an Annex B byte stream as the payload
        return true;
    }
    if (type >= 1 && type <= 23) {
        if (length < 2) return false;
        HandleNalUnits(payload, length);
        return true;
    }
    if (type == NAL_STAP_A) return HandleStapA(payload, length);
    if (type == NAL_FU_A) return HandleFuA(payload, length);
    return false;  // STAP-B, MTAP, FU-B and reserved types
}

void CH264RTPMediaParser::AppendNal(const uint8_t* nal, size_t length) {
    m_frameBuffer.insert(m_frameBuffer.end(), START_CODE, START_CODE + 3);
    m_frameBuffer.insert(m_frameBuffer.end(), nal, nal + length);
}

void CH264RTPMediaParser::HandleNalUnits(const uint8_t* data, size_t length) {
    ForEachNal(data, length, [this](const uint8_t* nal, size_t n) { HandleNal(nal, n); });
}

void CH264RTPMediaParser::HandleNal(const uint8_t* nal, size_t length) {
    const uint8_t type = TypeOf(nal[0]);
    switch (type) {
    case NAL_SPS: {
        // An in-band set replaces the described one, but only if it can be
        // read: a bad one would keep every key frame from the host.
        CPictureSize size;
        if (SpsReadable(nal, length, size)) m_sps.assign(nal, nal + length);
        break;
    }
    case NAL_PPS:
        if (length >= 2) m_pps.assign(nal, nal + length);
        break;
    case NAL_SEI:
    case NAL_AUD:
        break;
    default:
        if (type == 0 || type >= NAL_STAP_A) break;  // no NAL unit of a byte stream
        AppendNal(nal, length);
        if (type >= NAL_SLICE && type <= NAL_IDR) m_unitHasSlice = true;
        if (type == NAL_IDR) m_unitHasIdr = true;
        break;
    }
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
        if (size != 0) HandleNalUnits(nal, size);
    }
    return true;
}

bool CH264RTPMediaParser::HandleFuA(const uint8_t* payload, size_t length) {
    CByteReader in(payload, length);
    const uint8_t indicator = in.ReadU8();
    const uint8_t header = in.ReadU8();
    if (!in.Ok()) return false;
    // The type is taken from the start fragment only (some senders change
    // it in later ones), and the reserved bit is ignored.
    if (header & 0x80) {
        // Without a lost packet in between, a fragment whose end bit never
        // came is whole all the same.
        if (m_inFragment) EndFragment();
        m_inFragment = true;
        m_fragmentStart = m_frameBuffer.size();
        m_frameBuffer.insert(m_frameBuffer.end(), START_CODE, START_CODE + 3);
        m_frameBuffer.push_back(static_cast<uint8_t>((indicator & 0xE0) | TypeOf(header)));
    } else if (!m_inFragment) {
        m_unitBroken = true;  // its start was never seen
        return true;
    }
    m_frameBuffer.insert(m_frameBuffer.end(), in.Current(), in.Current() + in.Remaining());
    if (header & 0x40) EndFragment();
    return true;
}

void CH264RTPMediaParser::EndFragment() {
    m_inFragment = false;
    const size_t begin = m_fragmentStart + 3;
    if (begin >= m_frameBuffer.size()) {
        m_frameBuffer.resize(m_fragmentStart);
        return;
    }
    const uint8_t type = TypeOf(m_frameBuffer[begin]);
    const CByteReader nal(m_frameBuffer.data() + begin, m_frameBuffer.size() - begin);
    if (type >= NAL_SLICE && type <= NAL_IDR && nal.Find(START_CODE, 3, 0) == CByteReader::npos) {
        // The usual case: a slice, already in place.
        m_unitHasSlice = true;
        if (type == NAL_IDR) m_unitHasIdr = true;
        return;
    }
    const std::vector<uint8_t> whole(m_frameBuffer.begin() + std::ptrdiff_t(begin), m_frameBuffer.end());
    m_frameBuffer.resize(m_fragmentStart);
    HandleNalUnits(whole.data(), whole.size());
}

void CH264RTPMediaParser::FinishAccessUnit() {
    if (m_inFragment) EndFragment();
    if (m_unitBroken) {
        Reset();
        return;
    }
    if (m_unitHasSlice) ProcessFrame(m_unitTimestamp);
    ClearAccessUnit();
}

void CH264RTPMediaParser::ProcessFrame(uint32_t timestamp) {
    if (!m_driver || !m_client || m_frameBuffer.empty()) return;
    if (!m_driver->GetHostContext()) return;

    // The parameter sets last seen go in front of every IDR picture, in
    // whatever order the sender gave them.
    if (m_unitHasIdr && !m_sps.empty() && !m_pps.empty()) {
        std::vector<uint8_t> sets;
        sets.reserve(m_sps.size() + m_pps.size() + 6);
        sets.insert(sets.end(), START_CODE, START_CODE + 3);
        sets.insert(sets.end(), m_sps.begin(), m_sps.end());
        sets.insert(sets.end(), START_CODE, START_CODE + 3);
        sets.insert(sets.end(), m_pps.begin(), m_pps.end());
        m_frameBuffer.insert(m_frameBuffer.begin(), sets.begin(), sets.end());
    }
    m_frameBuffer.insert(m_frameBuffer.end(), ACCESS_UNIT_DELIMITER, ACCESS_UNIT_DELIMITER + 5);

    uint32_t code = FRAME_CODE_I264;
    CPictureSize size;
    if (m_unitHasIdr && CSpsReader::Read(m_frameBuffer.data(), m_frameBuffer.size(), size)) {
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
